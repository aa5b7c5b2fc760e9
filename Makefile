# Thin front end over CMake/CTest. `make test` is what CI runs.
BUILD         ?= build
RELEASE_BUILD ?= build-release
FUZZ_BUILD    ?= build-fuzz
JOBS          ?= $(shell nproc)
FUZZ_SECONDS  ?= 60
COVERAGE_BUILD ?= build-coverage
MUTANTS_BUILD  ?= build-mutants
SCREENSHOT_DIR ?= screenshots

.PHONY: all deps build test run bench fuzz fuzz-smoke fuzz-build clean coverage mutants screenshots lines

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRK40_SANITIZE=ON -DRK40_BENCH=ON -DRK40_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j $(JOBS)
	@$(MAKE) --no-print-directory fuzz-smoke

run: build
	@scripts/run-demo $(BUILD)

bench: deps
	@cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DRK40_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(RELEASE_BUILD) -j $(JOBS) --target benchmarks
	@scripts/run-bench $(RELEASE_BUILD)

fuzz: fuzz-build
	@scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Every harness for a few seconds, so that they keep building and running.
fuzz-smoke: fuzz-build
	@scripts/run-fuzz $(FUZZ_BUILD) 3

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRK40_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target rk40_fuzzers

# --- Installing and packaging -------------------------------------------
# make install [PREFIX=/usr/local] [DESTDIR=/tmp/x]: an optimised build,
# installed by cmake --install. make package: termset_<version>_<arch>.deb
# in $(PACKAGE_BUILD). Both build without sanitizers in their own folder.
PREFIX        ?= /usr/local
PACKAGE_BUILD ?= build-package
.PHONY: install package package-build
package-build: deps
	@cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j $(JOBS)
install: package-build
	@DESTDIR=$(DESTDIR) cmake --install $(PACKAGE_BUILD)
package: package-build
	@cd $(PACKAGE_BUILD) && cpack -G DEB
	@ls $(PACKAGE_BUILD)/*.deb

# Product and test lines (C++ and Python, neither blank nor comment-only).
lines:
	@scripts/line-count

# Line and branch coverage per product folder, from an instrumented build.
coverage: deps
	@scripts/coverage $(COVERAGE_BUILD)

# Share of small faults in the pure modules that the tests catch.
mutants: deps
	@/usr/bin/python3 scripts/mutants --build $(MUTANTS_BUILD)

# Pictures of the windows, pages and faces for a person to look at; they
# assert nothing beyond being drawn, so they are not part of the tests.
screenshots: build
	@scripts/screenshots $(BUILD) $(SCREENSHOT_DIR)

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(FUZZ_BUILD) $(PACKAGE_BUILD) $(COVERAGE_BUILD) $(MUTANTS_BUILD)
