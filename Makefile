# Front over CMake. `make demo` glues the bundled example pictures,
# `make test` builds and runs the test suite. Each installs the Debian
# packages it needs when they are missing (as root).
BUILD ?= build
JOBS ?= $(shell nproc)

# What the tool itself needs to build.
TOOL_PACKAGES = cmake make g++ pkg-config zlib1g-dev libdeflate-dev libjpeg62-turbo-dev
# What the tests add: GoogleTest, libpng and giflib as independent oracles,
# pngcheck, the desktop program (FLTK) with a virtual display and window
# automation, the launcher and manual page checkers.
TEST_PACKAGES = $(TOOL_PACKAGES) libgtest-dev libpng-dev libgif-dev pngcheck \
	libfltk1.3-dev xvfb xdotool desktop-file-utils groff-base

.PHONY: all deps tool-deps test-deps build demo test clean

all: build

define install_missing
	@if [ "$$(id -u)" = 0 ] && ! dpkg -s $(1) >/dev/null 2>&1; then \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $(1); \
	fi
endef

tool-deps:
	$(call install_missing,$(TOOL_PACKAGES))

test-deps deps:
	$(call install_missing,$(TEST_PACKAGES))

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLX_TESTS=ON -DGLX_STRICT=ON
	cmake --build $(BUILD) -j $(JOBS)

demo: tool-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLX_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target glumixer
	./examples/demo.sh $(BUILD)/glumixer

test: test-deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
