# Front over CMake. `make demo` glues the bundled example pictures,
# `make test` builds and runs the test suite.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test clean

all: build

deps:
	@if [ "$$(id -u)" = 0 ] && ! dpkg -s cmake g++ zlib1g-dev libjpeg62-turbo-dev libgtest-dev libpng-dev libgif-dev pngcheck libfltk1.3-dev xvfb xdotool desktop-file-utils groff-base >/dev/null 2>&1; then \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
	    cmake make g++ zlib1g-dev libjpeg62-turbo-dev libgtest-dev libpng-dev libgif-dev pngcheck \
	    libfltk1.3-dev xvfb xdotool desktop-file-utils groff-base; \
	fi

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

demo: deps build
	./examples/demo.sh $(BUILD)/glumixer

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
