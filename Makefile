# Two commands do everything on a fresh machine: `make run` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS ?= 2

.PHONY: all build run test asan-test tsan-test deps format clean demo golden sample bench fuzz \
	fuzz-run valgrind qgis-plugin

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

# The QGIS plugin as a zip for QGIS's Plugins > Install from ZIP.
qgis-plugin: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target qgis_plugin
	@echo "QGIS plugin: $(abspath $(BUILD))/tessera-qgis-plugin.zip"

# Installs what is missing first (the GIS tests need GDAL's Python bindings, numpy, Python
# imaging and Chromium), and ends with the skipped tests and why each was skipped.
test:
	@$(MAKE) --no-print-directory deps
	@$(MAKE) --no-print-directory build
	@./tests/run_tests.sh $(BUILD) --require-label gis --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test:
	@$(MAKE) --no-print-directory deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSERA_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	@./tests/run_tests.sh $(ASAN_BUILD) --require-label gis --output-on-failure -j $(JOBS)

# The suite again under ThreadSanitizer (in build-tsan/), but for the GIS tests (Python and
# GDAL): every run shares its passes among two threads (TESSERA_THREADS, set by CMake), the
# test of one, two and four threads runs four. A data race stops the test (exit status 99).
tsan-test:
	@$(MAKE) --no-print-directory deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 exitcode=99" ./tests/run_tests.sh $(TSAN_BUILD) --output-on-failure -j $(JOBS) -LE gis

# Benchmarks (not part of the tests): generated study areas of 8192 x 8192 cells (and 4096,
# 16384 and, for one case, 32768 square), whole runs in turn with the floor and a numpy
# script doing the same work, micro-benchmarks of the hot loops and passes, the tessera_gis
# commands against their peers; prints the tables and the targets. BENCH_ARGS passes options
# to bench/run_bench.py, such as --only runs,micro,export or --reference OLD_BUILD.
BENCH_BUILD ?= build-bench
bench:
	@./bench/install-deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTESSERA_BENCH=ON
	nice cmake --build $(BENCH_BUILD) -j $(JOBS)
	nice /usr/bin/python3 bench/run_bench.py --build $(BENCH_BUILD) $(BENCH_ARGS)

# ---- Reliability ----
FUZZ_SECONDS ?= 600
VALGRIND := valgrind -q --vgdb=no --leak-check=full --error-exitcode=98

# The libFuzzer targets (clang, ASan + UBSan), built into build-fuzz/ apart from the tests.
fuzz:
	@./.ci/install-deps clang libclang-rt-14-dev
	$(MAKE) -C fuzz -j $(JOBS)

# Runs each fuzz target for FUZZ_SECONDS seconds, one after the other, growing the corpora
# in build-fuzz/corpus; a fault stops with the input in build-fuzz/artifacts.
fuzz-run: fuzz
	$(MAKE) -C fuzz run FUZZ_SECONDS=$(FUZZ_SECONDS)

# The three sample runs of examples/ (on a copy of the sample area in $(BUILD)/valgrind),
# then complete runs in every format, the damaged-file corpus and the write faults, with the
# program under valgrind: any memory error or leak fails them. --vgdb=no: no gdbserver file
# in /tmp, which the full-disk faults (a limit on the size of written files) would refuse.
valgrind: build
	@./.ci/install-deps valgrind
	@for lang in en fr es; do \
	  dir=$(abspath $(BUILD))/valgrind/$$lang; rm -rf $$dir; mkdir -p $$dir; \
	  cp -R examples/zone1 $$dir/zone1; \
	  (cd $$dir && LC_ALL=C $(VALGRIND) $(abspath $(BUILD))/tessera_summary \
	    < $(CURDIR)/examples/answers_$$lang.txt > console.txt) \
	    || { echo "valgrind: sample run $$lang failed (see $$dir)"; exit 1; }; \
	  echo "valgrind: sample run answers_$$lang.txt clean"; \
	done
	TESSERA_WRAPPER="$(VALGRIND)" $(BUILD)/tests/test_answers --gtest_filter='*TheWholeScript*'
	TESSERA_WRAPPER="$(VALGRIND)" $(BUILD)/tests/test_faults
	TESSERA_WRAPPER="$(VALGRIND)" $(BUILD)/tests/test_damaged

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) build-fuzz

# The three sample runs of examples/ on a copy of the sample area in $(BUILD)/demo.
demo: build
	@./examples/demo.sh $(BUILD)/tessera_summary $(BUILD)/demo

# Rewrites the expected files of the end-to-end tests from the built program. Review the
# change (git diff tests/golden) before committing it.
golden: build
	TESSERA_UPDATE_GOLDEN=1 $(BUILD)/tests/test_examples --gtest_filter='Examples/GoldenRun.*'
	@git status --short tests/golden

# Regenerates the sample study area of examples/zone1 (python3, standard library only).
sample:
	python3 examples/make_sample.py
