# Front over CMake. `make demo` glues the bundled example pictures,
# `make test` builds and runs the test suite. Each installs the Debian
# packages it needs that are missing (as root), and only those: packages
# already installed are never upgraded.
BUILD ?= build
JOBS ?= $(shell nproc)

# What the tool itself needs to build.
TOOL_PACKAGES = cmake make g++ pkg-config zlib1g-dev libdeflate-dev libjpeg62-turbo-dev nlohmann-json3-dev
# What the tests add: GoogleTest, libpng and giflib as independent oracles,
# pngcheck, apngdis (plays our animated PNGs back), gifsicle (loop counts),
# the desktop program (FLTK) with a virtual display and window automation,
# the launcher and manual page checkers. Node.js with npm, for the game
# engines' atlas parsers, comes from Debian only where no node and npm are
# on the PATH yet (a Node.js installed another way brings its own npm, which
# Debian's npm package would conflict with).
TEST_PACKAGES = $(TOOL_PACKAGES) libgtest-dev libpng-dev libgif-dev pngcheck apngdis gifsicle \
	libfltk1.3-dev xvfb xdotool desktop-file-utils groff-base

.PHONY: all deps tool-deps test-deps oracles build demo test clean

all: build

define install_missing
	@missing=; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ] && [ "$$(id -u)" = 0 ]; then \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends --no-upgrade $$missing; \
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

# The atlas parsers of Phaser 3, PixiJS and the Spine runtime, at the versions
# tests/oracles/package-lock.json pins; installed once, when missing.
oracles:
	@if ! { command -v node && command -v npm; } >/dev/null && [ "$$(id -u)" = 0 ]; then \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends --no-upgrade nodejs npm; \
	fi
	@if command -v npm >/dev/null && [ ! -d tests/oracles/node_modules ]; then \
	  cd tests/oracles && npm ci --no-audit --no-fund --ignore-scripts; \
	fi

test: test-deps oracles build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
