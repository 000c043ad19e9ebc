# Front door: every target installs what it needs, configures and builds.
#   make demo   - build, run the example program and a tour of the tkfcu tool
#   make test   - build and run the whole test suite
#   make test-asan / test-tsan - the suite under sanitizers
#   make bench  - benchmarks against the peer libraries
#   make fuzz FUZZER=json_fuzzer SECONDS=600 - run one libFuzzer target
JOBS ?= $(shell nproc)
TSAN_TESTS ?= .
CMAKE_FLAGS ?=

.PHONY: all deps demo test test-asan test-tsan bench fuzz format clean

all: build/.built

deps:
	@scripts/install-deps.sh build

build/.built: deps FORCE
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j$(JOBS)
	@touch $@

demo: build/.built
	./build/examples/demo
	examples/tour.sh build

test: build/.built
	cd build && ctest --output-on-failure -j$(JOBS)

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTK_SANITIZE=ON -DTK_BUILD_EXAMPLES=OFF >/dev/null
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTK_TSAN=ON -DTK_BUILD_EXAMPLES=OFF >/dev/null
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j$(JOBS) -R '$(TSAN_TESTS)'

bench:
	@scripts/install-deps.sh bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTK_BUILD_BENCH=ON -DTK_BUILD_TESTS=OFF >/dev/null
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench/bench_*; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

FUZZER ?= json_fuzzer
SECONDS ?= 60
fuzz:
	@scripts/install-deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTK_BUILD_FUZZ=ON -DTK_BUILD_TESTS=OFF -DTK_BUILD_EXAMPLES=OFF >/dev/null
	cmake --build build-fuzz -j$(JOBS)
	mkdir -p fuzz/corpus-work/$(FUZZER)
	./build-fuzz/fuzz/$(FUZZER) -max_total_time=$(SECONDS) fuzz/corpus-work/$(FUZZER) fuzz/corpus/$(FUZZER:_fuzzer=)

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz

FORCE:
