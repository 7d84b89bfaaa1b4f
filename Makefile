# Thin wrapper around CMake. Every target first makes sure the Debian
# packages are there (scripts/install-deps is idempotent).

JOBS      ?= $(shell nproc)
BUILD     ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo -G Ninja)

.PHONY: all deps build build-asan demo test test-release test-asan run bench fuzz format clean \
        package check-package

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release

$(ASAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DPELO_SANITIZE=ON -DPELO_BUILD_BENCH=OFF

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)

demo: build
	scripts/run-demo $(BUILD)

test: test-release test-asan

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1 \
	    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD)/bin/pelo

bench: build
	scripts/run-bench $(BUILD)

fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
	    -DPELO_FUZZ=ON -DPELO_BUILD_TESTS=OFF -DPELO_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# The Debian package build/pelo_VERSION_ARCH.deb.
package: build
	cd $(BUILD) && cpack -G DEB

# Builds the package, unpacks it into a scratch root and converts PSD files
# with the programs from there.
check-package: build
	scripts/check-package $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
