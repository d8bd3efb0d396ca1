# The front door: `make test` installs what is missing, builds everything and
# runs every test; `make run` builds and starts the program.

.PHONY: all deps test test-linux test-sanitizers bench run format check-format clean
.PHONY: test-windows screenshots screenshot-windows
.PHONY: package screenshot-linux

all: deps
	cmake --preset linux
	cmake --build --preset linux

deps:
	@tools/install-deps.sh

test: deps test-linux test-sanitizers test-windows check-format

test-linux:
	cmake --preset linux
	cmake --build --preset linux
	ctest --preset linux

# The engine and the file layer again, under AddressSanitizer and UBSan.
test-sanitizers:
	cmake --preset linux-asan
	cmake --build --preset linux-asan
	ctest --preset linux-asan

# The Windows program, cross-built with mingw-w64 (presets win32 and win64),
# with its tests under Wine on a virtual X server.
test-windows:
	@tools/test-windows.sh

screenshots: screenshot-windows

# docs/windows.png: the Windows program under Wine after two repairs.
screenshot-windows:
	@tools/screenshot-windows.sh

bench: all
	build/linux/bench/velmora_bench

# --- Linux desktop program (Qt 6) -------------------------------------------
# `make run` builds the program and starts it in a demo folder (build/demo)
# where a simulated recorder writes follow-up files with their header lost;
# `make run DIR=/path/to/recordings` starts it in your own folder instead.
run: deps
	cmake --preset linux
	cmake --build --preset linux --target velmora velmora-demo-header velmora-demo-recorder
	tools/run-linux.sh "$(DIR)"

# A Debian package of the program in build/package/.
package: deps
	cmake --preset linux
	cmake --build --preset linux
	cd build/linux && cpack -G DEB

# docs/linux.png, taken under Xvfb.
screenshot-linux: deps
	cmake --preset linux
	cmake --build --preset linux --target velmora-screenshot velmora-demo-header
	tools/screenshot-linux.sh

screenshots: screenshot-linux
# --- end of the Linux desktop program ----------------------------------------

# --- Proof in the windows: the Linux window's benchmarks and soak ------------
# `make bench` also measures the Linux window (a status line at 100,000 lines,
# close-to-repair latency on the real timer, processor time while waiting,
# offscreen and again on an X server),
# the Linux program's start-up and memory, and the Windows program's size and
# imports. `make soak` also runs the window through WINDOW_SOAK_FILES files.
.PHONY: bench-window soak soak-linux-window
WINDOW_SOAK_FILES ?= 500

bench: bench-window

bench-window: all
	build/linux/bench/velmora_window_bench
	xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb \
	    build/linux/bench/velmora_window_bench --benchmark_filter=Waiting
	tools/measure-linux.sh
	tools/measure-windows-exe.sh

soak: soak-linux-window

soak-linux-window: all
	VELMORA_WINDOW_SOAK_FILES=$(WINDOW_SOAK_FILES) QT_QPA_PLATFORM=offscreen \
	    build/linux/tests/frontend/qt/velmora_qt_window_soak_test
# --- end of the proof in the windows -----------------------------------------

format:
	git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

check-format:
	@tools/check-format.sh

clean:
	rm -rf build

# --- Proof: fuzzing and soak ---------------------------------------------------
# `make test` also replays the saved fuzz corpus under the fuzz build
# (clang, libFuzzer, AddressSanitizer, UBSan). `make fuzz` fuzzes each target
# for FUZZ_SECONDS; new inputs go to build/fuzz/corpus/<target>. `make soak`
# runs the recorder race and the file soak long.
.PHONY: test-fuzz-replay fuzz soak
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := follow_up_name base_file_chosen header_template

test: test-fuzz-replay

test-fuzz-replay: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	ctest --preset fuzz

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	@for target in $(FUZZ_TARGETS); do \
	    mkdir -p build/fuzz/corpus/$$target build/fuzz/artifacts; \
	    echo "== fuzzing $$target for $(FUZZ_SECONDS) s"; \
	    build/fuzz/tests/fuzz/velmora_fuzz_$$target -max_total_time=$(FUZZ_SECONDS) \
	        -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/$$target- \
	        build/fuzz/corpus/$$target tests/fuzz/corpus/$$target \
	        >build/fuzz/$$target.log 2>&1; status=$$?; \
	    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|ERROR|broken|SUMMARY' \
	        build/fuzz/$$target.log; \
	    [ $$status -eq 0 ] || { echo "$$target failed: see build/fuzz/$$target.log"; exit 1; }; \
	done

soak: all
	VELMORA_RACE_ATTEMPTS=1000000 VELMORA_SOAK_FILES=10000 \
	    build/linux/tests/platform/linux/velmora_linux_files_proof_tests \
	    --gtest_filter='RecorderRace.NoWriteWhileTheRecorderHasTheFileOpen:Soak.*'
