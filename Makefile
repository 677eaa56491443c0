# The project's entry points. Each target installs what is missing, configures and builds in its
# own build folder, then does its job. See README.md.

SHELL := /bin/bash
.PHONY: all deps build run screenshot screenshots test test-asan test-tsan soak bench fuzz fault-matrix install package clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@bash scripts/build.sh build

# Builds only what it runs: the program, its window module and the simulator's firmware files.
run: deps
	@bash scripts/build.sh build --target xr4000-nova-updater
	@bash scripts/run.sh

# The window as a PNG (docs/screenshots/window.png), drawn on a private Xvfb.
screenshot: build
	@bash scripts/screenshot.sh

# Every view state of the window and its ready state in each language, in docs/screenshots/.
screenshots: build
	@bash scripts/screenshots.sh

test: deps
	@bash scripts/test.sh build

test-asan: deps
	@bash scripts/test.sh build-asan

test-tsan: deps
	@bash scripts/test.sh build-tsan

# 1000 two-device updates with drawn faults in one process, optimised and under LeakSanitizer;
# SOAK_ARGS="--cycles N --seed S" to choose. Not part of make test.
soak: deps
	@bash scripts/soak.sh $(SOAK_ARGS)

bench: deps
	@bash scripts/bench.sh

fuzz: deps
	@bash scripts/fuzz.sh

# Rewrites the fault matrix in docs/RELIABILITY.md from a run of test_fault_matrix.
fault-matrix: deps
	@bash scripts/fault-matrix.sh

# FIRMWARE_DIR=<folder> installs the product's firmware files from there; PREFIX, DESTDIR as usual.
install: deps
	@bash scripts/install.sh

# A Debian package (build/xr4000-nova-updater_<version>_<arch>.deb); FIRMWARE_DIR as for install.
package: deps
	@bash scripts/package.sh

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
