# Thin wrapper over CMake and CTest; the build itself lives in CMakeLists.txt.
BUILD_DIR ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
BENCH_DIR ?= build-bench
WINDOWS_DIR ?= build-windows
WINE64 ?= $(firstword $(wildcard /usr/lib/wine/wine64) $(shell command -v wine64))
WINESERVER ?= $(firstword $(wildcard /usr/lib/wine/wineserver) $(shell command -v wineserver))
# Wine without a display, its own prefix in the build folder, and no offer to install its .NET
# and HTML engines: nothing can stop to wait for a click.
WINE_ENV = env -u DISPLAY WINEPREFIX=$(CURDIR)/$(WINDOWS_DIR)/wineprefix WINEDEBUG=-all \
	WINEDLLOVERRIDES=mscoree,mshtml=
# Debian's Wine server ends the moment its last program does, and a program starting at that
# moment can lose its connection to the server ("recvmsg: Connection reset by peer") and fail
# before it runs. Keeping the server up does not help: Wine's background programs then keep the
# output of the test that started them open. So a test that fails under Wine runs once more;
# each failure is printed all the same.
WINE_CTEST = ctest --output-on-failure --repeat until-pass:2
# Repetitions run in a random order, so that slow spells of a shared machine hit all figures.
BENCH_ARGS ?= --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
BENCH_BUILD = cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUELM_BENCH=ON \
	-DQUELM_PYTHON=ON && \
	cmake --build $(BENCH_DIR) --parallel $(JOBS) --target quelm-bench quelm_python
# The Python module's figure, by Debian's Python (which has numpy and pandas).
MODULE_BENCH = /usr/bin/python3 bench/module-vs-numpy.py --module $(BENCH_DIR)/python \
	--disk $(BENCH_DIR)

# The programs that the CSV bench times, and the bench itself.
CSV_BENCH_BUILD = cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUELM_BENCH=ON && \
	cmake --build $(BENCH_DIR) --parallel $(JOBS) --target quelm-import quelm-export quelm-csv-floor
CSV_BENCH = /usr/bin/python3 bench/csv-bench.py --bin $(BENCH_DIR)/commands \
	--floor $(BENCH_DIR)/bench/quelm-csv-floor --node-modules $(BENCH_DIR)/duckdb/node_modules \
	--folder $(BENCH_DIR)

.PHONY: deps configure build run test test-windows package bench bench-smoke bench-csv

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DQUELM_PYTHON=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

run: build
	$(BUILD_DIR)/app/quelm

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel $(JOBS)

# The data file component cross-built for 64-bit Windows, its tests run under Wine. Making the
# Wine prefix takes a while the first time; it is done once, with a deadline, before the tests.
test-windows: deps
	cmake -S . -B $(WINDOWS_DIR) --toolchain cmake/mingw-w64-x86_64.cmake $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_DIR) --parallel $(JOBS)
	test -f $(WINDOWS_DIR)/wineprefix/.ready || { \
		$(WINE_ENV) timeout 300 $(WINE64) wineboot --init && \
		$(WINE_ENV) timeout 120 $(WINESERVER) --wait && \
		touch $(WINDOWS_DIR)/wineprefix/.ready; }
	cd $(WINDOWS_DIR) && $(WINE_ENV) $(WINE_CTEST) --parallel $(JOBS)

package: build
	cd $(BUILD_DIR) && cpack -G DEB

bench: deps
	$(BENCH_BUILD)
	cd $(BENCH_DIR) && bench/quelm-bench $(BENCH_ARGS)
	$(MODULE_BENCH)

# Each benchmark once, briefly, and the CSV bench on a few bars (DuckDB only when it is installed
# already): CI checks that they build and run, not how fast.
bench-smoke: deps
	$(BENCH_BUILD)
	cd $(BENCH_DIR) && bench/quelm-bench --benchmark_min_time=0.001
	$(MODULE_BENCH) --bars 10000 --runs 1
	$(CSV_BENCH_BUILD)
	$(CSV_BENCH) --bars 2000 --runs 1

# quelm-import on a CSV of 10^6 daily-shape bars beside DuckDB, pandas (Debian's python3 has
# it) and a parse floor of our own, in one run; then quelm-export beside pandas. DuckDB's Node
# package goes into the bench's build folder when npm is there; without npm it is left out.
bench-csv: deps
	$(CSV_BENCH_BUILD)
	if command -v npm >/dev/null; then \
		test -d $(BENCH_DIR)/duckdb/node_modules/@duckdb/node-api || \
		npm install --prefix $(BENCH_DIR)/duckdb --no-audit --no-fund @duckdb/node-api; \
	else echo "bench-csv: npm is not there, so DuckDB is left out"; fi
	$(CSV_BENCH)

# The window for Windows: the whole project cross-built against a Qt for MinGW-w64 that
# scripts/build-qt-mingw builds once from Debian's own Qt source (29 to 33 minutes on 2 idle cores;
# cached under ~/.cache/quelm after that). Qt's own toolchain file finds that Qt and hands on
# to the project's.
WINDOWS_GUI_DIR ?= build-windows-gui
QT_MINGW = $(shell scripts/build-qt-mingw --prefix)
# Wine in the X server of the tests (xvfb-run), with a prefix of its own in the build folder.
WINE_GUI_VARS = WINEPREFIX=$(CURDIR)/$(WINDOWS_GUI_DIR)/wineprefix WINEDEBUG=-all \
	WINEDLLOVERRIDES=mscoree,mshtml=
WINDOWS_ZIP = $(WINDOWS_GUI_DIR)/Quelm-$(shell sed -n 's/^set(QUELM_VERSION_TEXT "\(.*\)")/\1/p' \
	CMakeLists.txt)-win64.zip

.PHONY: build-windows-gui test-windows-gui package-windows

build-windows-gui: deps
	scripts/build-qt-mingw >/dev/null
	cmake -S . -B $(WINDOWS_GUI_DIR) --toolchain $(QT_MINGW)/lib/cmake/Qt6/qt.toolchain.cmake \
		-DQT_CHAINLOAD_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
		-DQUELM_COMPONENT_ONLY=OFF $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_GUI_DIR) --parallel $(JOBS)

# The window's tests, the zip's check and a real run of Quelm.exe, under Wine in one X server,
# one at a time (each needs the keyboard focus). The data file component's own tests run under
# Wine in `make test-windows`.
test-windows-gui: build-windows-gui
	test -f $(WINDOWS_GUI_DIR)/wineprefix/.ready || { \
		env -u DISPLAY $(WINE_GUI_VARS) timeout 300 $(WINE64) wineboot --init && \
		env $(WINE_GUI_VARS) timeout 120 $(WINESERVER) --wait && \
		touch $(WINDOWS_GUI_DIR)/wineprefix/.ready; }
	cd $(WINDOWS_GUI_DIR) && env $(WINE_GUI_VARS) \
		xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" $(WINE_CTEST) -L window

package-windows: build-windows-gui
	scripts/package-windows $(WINDOWS_GUI_DIR) $(WINDOWS_ZIP)
