# The front door: `make run` installs what the Linux program needs, builds it
# and starts it; `make test` installs what is missing, builds everything and
# runs every test.

# Parallel jobs for builds and tests: one per processor unless given.
JOBS ?= $(shell nproc)
BUILD = cmake --build --preset $(1) -j $(JOBS)
TEST = ctest --preset $(1) -j $(JOBS)

# The targets share build trees (build/linux above all), so `make -j` must
# not run two of them at once; each builds in parallel itself (JOBS).
.NOTPARALLEL:

.PHONY: all deps deps-run clean format check-format
.PHONY: run package
.PHONY: test test-linux test-static test-sanitizers test-windows test-fuzz-replay
.PHONY: bench bench-ticks bench-window bench-cli bench-watch bench-watch-windows soak fuzz
.PHONY: screenshots screenshot-linux screenshot-windows

# --- Building ----------------------------------------------------------------
all: deps
	cmake --preset linux
	$(call BUILD,linux)

deps:
	@tools/install-deps.sh

# Only what building and starting the Linux program needs: no Wine, no
# cross compilers, no test tools.
deps-run:
	@tools/install-deps.sh run

clean:
	rm -rf build

format:
	git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

check-format:
	@tools/check-format.sh

# --- The Linux desktop program -------------------------------------------------
# `make run` starts it in a demo folder (build/demo) where a simulated recorder
# writes the parts of a real MPEG-2 recording (made by ffmpeg) with their
# header lost, paced by the person in front of it; `make run
# DIR=/path/to/recordings` starts it in your own folder instead.
run: deps-run
	cmake --preset linux
	$(call BUILD,linux) --target velmora velmora-cli velmora-demo-recorder
	tools/run-linux.sh "$(DIR)"

# The Debian package of the Linux programs in build/linux/package/, checked as
# distributions check one (packaging/linux/check-package.sh: the menu entry,
# the metainfo, the icons, lintian), and the Windows zip.
package: package-linux package-static package-windows

.PHONY: package-linux
package-linux: all
	rm -f build/linux/package/velmora_*.deb
	cd build/linux && cpack -G DEB
	packaging/linux/check-package.sh build/linux/package/velmora_*.deb

# The self-contained velmora-cli for NAS boxes and any other Linux (presets
# static-x86_64, static-aarch64, static-armhf): statically linked, each in a
# tarball beside the .deb in build/linux/package/, packed and checked.
STATIC_PRESETS := static-x86_64 static-aarch64 static-armhf
.PHONY: package-static
package-static: deps
	@for preset in $(STATIC_PRESETS); do \
	    cmake --preset $$preset >/dev/null && \
	    $(call BUILD,$$preset) --target velmora-cli-tarball || exit 1; \
	done

# The portable Windows zip in build/win32/package/: the i686 program and its
# German read-me (packaging/windows/LIESMICH.txt), packed and checked.
.PHONY: package-windows
package-windows: deps
	cmake --preset win32
	$(call BUILD,win32) --target velmora-windows-zip

# --- Tests ---------------------------------------------------------------------
# Everything: the Linux build and its Debian package's checks, the
# self-contained velmora-cli for x86_64, aarch64 and armhf, the engine and
# file layer under AddressSanitizer and UBSan, the Windows programs under
# Wine, the format, and the saved fuzz corpus replayed under the fuzz build
# (clang, libFuzzer).
test: deps test-linux package-linux test-static test-sanitizers test-windows check-format test-fuzz-replay

test-linux:
	cmake --preset linux
	$(call BUILD,linux)
	$(call TEST,linux)

# The self-contained programs, each run by the Linux build's command-line
# test programs (the ARM ones under qemu-user-static), and their tarballs.
.PHONY: test-static
test-static: deps
	cmake --preset linux
	$(call BUILD,linux) --target velmora_cli_header_tests velmora_cli_repair_tests velmora_cli_watch_tests
	@for preset in $(STATIC_PRESETS); do \
	    cmake --preset $$preset >/dev/null && $(call BUILD,$$preset) --target velmora-cli && \
	    $(call TEST,$$preset) || exit 1; \
	done

test-sanitizers:
	cmake --preset linux-asan
	$(call BUILD,linux-asan)
	$(call TEST,linux-asan)

# The Windows program, cross-built with mingw-w64 (presets win32 and win64),
# with its tests under Wine on a virtual X server.
test-windows:
	@JOBS=$(JOBS) tools/test-windows.sh

test-fuzz-replay:
	cmake --preset fuzz
	$(call BUILD,fuzz)
	$(call TEST,fuzz)

# --- Measurements --------------------------------------------------------------
# OnTick against its system-call floor; velmora-cli; the Linux window (a status line at
# 100,000 lines, close-to-repair latency on the real timer, processor time
# while waiting, offscreen and again on an X server); the Linux program's
# start-up and memory; the Windows program's size and imports.
bench: bench-ticks bench-window bench-cli bench-watch bench-watch-windows

bench-ticks: all
	build/linux/bin/velmora_bench

bench-window: all
	build/linux/bin/velmora_window_bench
	xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb \
	    build/linux/bin/velmora_window_bench --benchmark_filter=Waiting
	tools/measure-linux.sh
	tools/measure-windows-exe.sh

# velmora-cli: repair of an existing series of 10,000 follow-up files, beside
# dd conv=notrunc one process per file.
bench-cli: all
	build/linux/bin/velmora_cli_repair_bench 10000

# velmora-cli watch as a service: close-to-repair latency over 1,000 files,
# processor time and wake-ups over WATCH_IDLE_SECONDS with nothing waiting,
# resident memory over 100 folders with 10,000 series while WATCH_FILES
# follow-up files are repaired.
WATCH_IDLE_SECONDS ?= 10
WATCH_FILES ?= 20000
bench-watch: all
	VELMORA_WATCH_IDLE_SECONDS=$(WATCH_IDLE_SECONDS) VELMORA_WATCH_BENCH_FILES=$(WATCH_FILES) \
	    build/linux/bin/velmora_watch_bench

# velmora-cli.exe watch under Wine: close-to-repair latency over 100 files
# held by a recorder with share mode 0 (Windows tells of no close, so the
# service tries a waiting file every 200 ms).
bench-watch-windows: deps
	cmake --preset win32
	$(call BUILD,win32) --target velmora_watch_latency_win32
	tools/wine-prefix.sh
	bash -c 'source tools/wine-env.sh && wine build/win32/bin/velmora_watch_latency_win32.exe 100'

# The recorder race with 1,000,000 recorder opens, the 10,000-file soak, the
# random walk against velmora-cli watch through WALK_STEPS steps (its seed is
# printed; VELMORA_WALK_SEED=N replays it), and the Linux window through
# WINDOW_SOAK_FILES files on its real timer.
WINDOW_SOAK_FILES ?= 500
WALK_STEPS ?= 20000
soak: all
	VELMORA_RACE_ATTEMPTS=1000000 VELMORA_SOAK_FILES=10000 \
	    build/linux/bin/velmora_linux_files_proof_tests \
	    --gtest_filter='RecorderRace.NoWriteWhileTheRecorderHasTheFileOpen:Soak.*'
	VELMORA_WALK_STEPS=$(WALK_STEPS) build/linux/bin/velmora_cli_walk_tests
	VELMORA_WINDOW_SOAK_FILES=$(WINDOW_SOAK_FILES) QT_QPA_PLATFORM=offscreen \
	    build/linux/bin/velmora_qt_window_soak_test

# Each fuzz target for FUZZ_SECONDS; new inputs go to build/fuzz/corpus/<target>.
# The targets are those tests/fuzz/CMakeLists.txt builds (it lists them in
# build/fuzz/fuzz-targets.txt).
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz
	$(call BUILD,fuzz)
	@for target in $$(cat build/fuzz/fuzz-targets.txt); do \
	    mkdir -p build/fuzz/corpus/$$target build/fuzz/artifacts; \
	    echo "== fuzzing $$target for $(FUZZ_SECONDS) s"; \
	    build/fuzz/bin/velmora_fuzz_$$target -max_total_time=$(FUZZ_SECONDS) \
	        -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/$$target- \
	        build/fuzz/corpus/$$target tests/fuzz/corpus/$$target \
	        >build/fuzz/$$target.log 2>&1; status=$$?; \
	    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|ERROR|broken|SUMMARY' \
	        build/fuzz/$$target.log; \
	    [ $$status -eq 0 ] || { echo "$$target failed: see build/fuzz/$$target.log"; exit 1; }; \
	done

# --- Screenshots -----------------------------------------------------------------
# docs/linux.png and docs/windows.png, each after two repairs, under Xvfb.
screenshots: screenshot-linux screenshot-windows

screenshot-linux: deps
	cmake --preset linux
	$(call BUILD,linux) --target velmora-screenshot velmora-demo-header
	tools/screenshot-linux.sh

screenshot-windows:
	@tools/screenshot-windows.sh
