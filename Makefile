# The entry points: make run, make test. Each installs what is missing first.
BUILD        ?= build
ASAN_BUILD   ?= build-asan
FUZZ_BUILD   ?= build-fuzz
BENCH_BUILD  ?= build-bench
BENCH_ARGS   ?=
FUZZ_SECONDS ?= 60
FUZZ_FILTER  ?=
JOBS         ?= $(shell nproc)
CMAKE_FLAGS  ?=

.PHONY: all deps build test sanitize fuzz bench run package lint-package clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDRAVIK_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DDRAVIK_FUZZ=ON -DDRAVIK_TESTS=OFF -DDRAVIK_GUI=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	tools/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) "$(FUZZ_FILTER)"

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_BENCH=ON \
	  -DDRAVIK_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench/dravik-bench $(BENCH_ARGS)

run: build
	tools/demo.sh $(BUILD)

# The Debian package, $(BUILD)/dravik_<version>_<arch>.deb.
package: build
	cmake --build $(BUILD) --target package

lint-package: package
	lintian --fail-on error $(BUILD)/dravik_*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)
