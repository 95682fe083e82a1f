# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Thin wrapper over CMake. `make run` builds and starts Tavrin; `make test` builds it and runs
# every test. Both first install the Debian packages that are missing (never removing one).
BUILD ?= build
JOBS ?= $(shell nproc)

# What building and running needs. No sound server: the desktop has its own.
PACKAGES = cmake g++ make pkgconf qt6-base-dev qt6-translations-l10n qt6-wayland libpulse-dev \
           portaudio19-dev libsndfile1-dev libsoxr-dev libasound2-plugins fonts-ipafont-gothic dpkg-dev
# The tests' tools. The private sound servers come from --test-servers, which installs each
# only where that leaves the machine's own sound setup alone (see scripts/install-deps.sh).
TEST_PACKAGES = xvfb xauth xdotool x11-utils openbox desktop-file-utils appstream \
                at-spi2-core python3-pyatspi gir1.2-atspi-2.0 dbus reuse lintian dpkg-dev file \
                weston xwayland
SCREENSHOT_PACKAGES = xvfb xdotool x11-utils imagemagick

.PHONY: all deps test-deps build run test bench clean screenshot

all: build

deps:
	@PACKAGES="$(PACKAGES) $(EXTRA_PACKAGES)" scripts/install-deps.sh

test-deps:
	@PACKAGES="$(PACKAGES) $(TEST_PACKAGES)" scripts/install-deps.sh --test-servers

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/tavr

# The fuzzers' short smoke run and the licence and package checks come first, so the suite's
# own summary closes the output.
test: test-deps fuzz-smoke
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)
	@$(MAKE) --no-print-directory lint PACKAGE_BUILD=$(BUILD)
	cd $(BUILD) && ctest --output-on-failure -j 2

clean:
	rm -rf $(BUILD)

# Saves a picture of the window to docs/screenshot.png (Xvfb, a private sound server).
screenshot: build
	@PACKAGES="$(SCREENSHOT_PACKAGES)" scripts/install-deps.sh --test-servers
	scripts/screenshot.sh $(BUILD)/tavr docs/screenshot.png

# Benchmarks against other recorders on a private PulseAudio and a private PipeWire; they print
# figures and never fail. BENCH_MINUTES=0.1 for a quick run (1 = the full lengths).
BENCH_BUILD ?= build-bench
# The sound servers come from --test-servers, only where they leave the machine's own alone.
BENCH_PACKAGES = stress-ng alsa-utils libasound2-plugins gstreamer1.0-tools gstreamer1.0-pulseaudio \
                 sox flac vorbis-tools lame opus-tools xvfb libxcb1-dev
bench: deps
	@PACKAGES="$(BENCH_PACKAGES)" scripts/install-deps.sh --test-servers
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVR_BUILD_TESTS=OFF -DTAVR_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target tavr bench_save bench_encode bench_stop qtfloor xfloor
	-python3 bench/bench.py $(BENCH_BUILD) $(BENCH_BUILD)/bench-work
	-python3 bench/bench_encode.py $(BENCH_BUILD) $(BENCH_BUILD)/bench-work

# The fuzzers (clang and libFuzzer) for a few seconds each, as CTest tests.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 5
fuzz-smoke: deps
	@PACKAGES="clang libclang-rt-14-dev" scripts/install-deps.sh
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVR_BUILD_TESTS=OFF -DTAVR_FUZZ=ON -DTAVR_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_wavheader fuzz_inidocument fuzz_inifile fuzz_strtoint fuzz_stoptime
	ctest --test-dir $(FUZZ_BUILD)/tests/fuzz --output-on-failure -L fuzz

# Long fuzzing runs: FUZZ_RUNS executions of each fuzzer.
FUZZ_RUNS ?= 10000000
fuzz: fuzz-smoke
	tests/fuzz/run-long.sh $(abspath $(FUZZ_BUILD)) $(abspath $(FUZZ_BUILD))/fuzz-work $(FUZZ_RUNS)

# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
ASAN_BUILD ?= build-asan
sanitize: test-deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTAVR_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
	  LSAN_OPTIONS=suppressions=$(abspath tests/sanitizer.supp):print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j 2

.PHONY: fuzz-smoke fuzz sanitize

# The Debian package: $(PACKAGE_BUILD)/tavrin_<version>_<arch>.deb. `make package-test` installs
# it with apt on a clean Debian 12 chroot (debootstrap; about 150 MB from the Debian archive) and
# starts the program from there.
PACKAGE_BUILD ?= build-package
package: deps
	@PACKAGES="dpkg-dev file" scripts/install-deps.sh
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DTAVR_BUILD_TESTS=OFF
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && rm -f tavrin_*.deb && cpack -G DEB

package-test: package
	@PACKAGES="debootstrap" scripts/install-deps.sh
	packaging/test-deb-in-chroot.sh $(PACKAGE_BUILD)/tavrin_*.deb

# Licence and package checks on a build that `make package` (or `make test`) made: every file
# has a licence (reuse), and lintian finds no error and no warning in the .deb.
lint:
	reuse lint -q || reuse lint
	cd $(PACKAGE_BUILD) && rm -f tavrin_*.deb && cpack -G DEB >cpack.log
	lintian --fail-on error,warning $(PACKAGE_BUILD)/tavrin_*.deb
	@echo "lint: reuse and lintian found nothing to report"

.PHONY: package package-test lint
