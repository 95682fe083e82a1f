# Thin wrapper over CMake. `make run` builds and starts Tavrin; `make test` builds it and runs
# every test. Both first install the Debian packages that are missing.
BUILD ?= build
JOBS ?= $(shell nproc)

PACKAGES = cmake g++ make pkgconf qt6-base-dev portaudio19-dev libasound2-plugins \
           libsndfile1-dev pulseaudio pulseaudio-utils fonts-ipafont-gothic
TEST_PACKAGES = xvfb xdotool x11-utils openbox
SCREENSHOT_PACKAGES = xvfb xdotool x11-utils imagemagick

.PHONY: all deps test-deps build run test bench clean screenshot

all: build

deps:
	@PACKAGES="$(PACKAGES) $(EXTRA_PACKAGES)" scripts/install-deps.sh

test-deps:
	@PACKAGES="$(PACKAGES) $(TEST_PACKAGES)" scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/tavr

test: test-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j 2

clean:
	rm -rf $(BUILD)

# Saves a picture of the window to docs/screenshot.png (Xvfb, a private sound server).
screenshot: build
	@PACKAGES="$(SCREENSHOT_PACKAGES)" scripts/install-deps.sh
	scripts/screenshot.sh $(BUILD)/tavr docs/screenshot.png
