# Two commands do everything on a fresh machine: `make run` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= 2

.PHONY: all build run test asan-test deps format clean bench

all: build

# Installs the Debian packages the build needs when they are missing.
deps:
	@./.ci/install-deps

$(BUILD)/CMakeCache.txt:
	@$(MAKE) --no-print-directory deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@$(BUILD)/tessera_summary

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test:
	@$(MAKE) --no-print-directory deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSERA_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Benchmarks (not part of the tests): generated study areas of 8000 x 8000 cells, whole runs
# against a numpy baseline, micro-benchmarks of the hot parts; prints the table. A few minutes.
BENCH_BUILD ?= build-bench
bench:
	@./bench/install-deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTESSERA_BENCH=ON
	nice cmake --build $(BENCH_BUILD) -j $(JOBS)
	nice /usr/bin/python3 bench/run_bench.py --build $(BENCH_BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD)
