# Thin wrapper over CMake and CTest; the build itself lives in CMakeLists.txt.
BUILD_DIR ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
BENCH_DIR ?= build-bench
# Repetitions run in a random order, so that slow spells of a shared machine hit all figures.
BENCH_ARGS ?= --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
BENCH_BUILD = cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUELM_BENCH=ON && \
	cmake --build $(BENCH_DIR) --parallel $(JOBS) --target quelm-bench

.PHONY: deps configure build run test package bench bench-smoke bench-csv

deps:
	tools/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

run: build
	$(BUILD_DIR)/app/quelm

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel $(JOBS)

package: build
	cd $(BUILD_DIR) && cpack -G DEB

bench: deps
	$(BENCH_BUILD)
	cd $(BENCH_DIR) && bench/quelm-bench $(BENCH_ARGS)

# Each benchmark once, briefly: CI checks that they build and run, not how fast.
bench-smoke: deps
	$(BENCH_BUILD)
	cd $(BENCH_DIR) && bench/quelm-bench --benchmark_min_time=0.001

# Importing and exporting a CSV of 10^6 bars with the commands, against pandas on the same CSV
# (Debian's python3, which has pandas).
bench-csv: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUELM_BENCH=ON && \
	cmake --build $(BENCH_DIR) --parallel $(JOBS) --target quelm-import quelm-export
	/usr/bin/python3 bench/csv-vs-pandas.py --bin $(BENCH_DIR)/datafile --folder $(BENCH_DIR)
