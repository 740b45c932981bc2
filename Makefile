# The two commands of the README, and a few helpers for daily work.
#   make test   install what is missing, build Linux and Windows, run every test
#   make demo   run the updater on a demo game folder it makes itself
#   make bench  speed figures (Linux, Release build), then the delta patches' sizes
#   make fuzz   every fuzz harness for FUZZ_SECONDS seconds (default 60), a table at the end
#   make package  the Debian package of the publisher's tools, written to build/

JOBS ?= $(shell nproc)
# Seconds per fuzz harness: `make fuzz` and the smoke run that `make test` ends with.
# FUZZ_RUNS stops each harness after that many executions instead (-1: no limit);
# FUZZ_JOBS runs that many harnesses at once.
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?= -1
FUZZ_JOBS ?= 1
FUZZ_SMOKE_SECONDS ?= 5

.PHONY: all setup linux windows asan test test-linux test-windows test-asan demo bench clean \
        fuzz-build fuzz fuzz-smoke fuzz-replay fuzz-merge package

all: linux

setup:
	@bash scripts/setup.sh

linux: setup
	@cmake --preset linux >/dev/null
	@cmake --build build/linux -j$(JOBS)

windows: setup
	@cmake --preset windows >/dev/null
	@cmake --build build/windows -j$(JOBS)

# Only the suites marked SANITIZE: the codecs, the damaged-package and fault tests, and
# the version file parser, the binary deltas.
asan: setup
	@cmake --preset asan >/dev/null
	@cmake --build build/asan -j$(JOBS) --target pck_tests package_safety_tests version_tests delta_tests

test-linux: linux
	@echo "==== Linux tests ===="
	@ctest --preset linux -j$(JOBS)

test-windows: windows
	@echo "==== Windows tests (under Wine) ===="
	@bash scripts/with-display.sh ctest --preset windows -j$(JOBS)
	@echo "==== Windows tests again on a Western Windows (code page 1252) ===="
	@# Less the two slowest suites, which handle bytes and ASCII temporary names only.
	@QV_WINE_LOCALE=en_US.UTF-8 bash scripts/with-display.sh ctest --preset windows -j$(JOBS) \
	  -E '^(package_safety_tests|io_tests)$$'
	@echo "Screenshots of the updater's window: $(CURDIR)/build/windows/screenshots/ (cp1252/ for the second run)"

test-asan: asan
	@echo "==== Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer ===="
	@ctest --preset asan -j$(JOBS) -L sanitize

# The libFuzzer harnesses of fuzz/, built with clang, ASan and UBSan in build/fuzz.
fuzz-build: setup
	@cmake --preset fuzz >/dev/null
	@cmake --build build/fuzz -j$(JOBS) --target qv_fuzzers

fuzz: fuzz-build
	@echo "==== Fuzzing, $(FUZZ_SECONDS) s per harness ===="
	@bash scripts/fuzz.sh --runs $(FUZZ_RUNS) --jobs $(FUZZ_JOBS) $(FUZZ_SECONDS)

# Every input of the kept corpus (fuzz/corpus/) once: what the fuzzers found stays fixed.
fuzz-replay: fuzz-build
	@echo "==== Fuzz harnesses over their kept corpus ===="
	@bash scripts/fuzz.sh --replay

# The kept corpus, then each harness briefly from it and its seeds, adding nothing.
fuzz-smoke: fuzz-replay
	@echo "==== Fuzz harnesses, $(FUZZ_SMOKE_SECONDS) s each ===="
	@bash scripts/fuzz.sh --smoke $(FUZZ_SMOKE_SECONDS)

# Takes what campaigns found (build/fuzz/corpus/) into the kept corpus where it adds
# coverage; FUZZ_MERGE=--minimise makes the kept corpus anew, as small as it can be.
fuzz-merge: fuzz-build
	@bash scripts/fuzz-merge.sh $(FUZZ_MERGE)

test: test-linux test-windows test-asan fuzz-smoke

# Power cuts at every sync of a whole update of the console updater, on an ext4 image on
# a loop device (root; a few minutes; tests/scripts/power-cut.sh says how).
.PHONY: powercut
powercut: setup
	@cmake --preset linux >/dev/null
	@cmake --build build/linux -j$(JOBS) --target pcktool quorvane-update
	@echo "==== Power cuts during an update ===="
	@bash tests/scripts/power-cut.sh build/linux/tools/pcktool build/linux/quorvane-update

# The Windows updater's run is added when Wine is there (setup installs it).
demo: linux
	@if command -v wine >/dev/null 2>&1; then \
	  cmake --preset windows >/dev/null && \
	  cmake --build build/windows -j$(JOBS) --target QuorvaneUpdate updater_click_through; fi
	@bash scripts/demo.sh

# A Release build of its own, so that the test build keeps its settings.
bench: setup
	@cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/bench --target qv_bench qv_make_game_data -j$(JOBS)
	@build/bench/bench/qv_bench --benchmark_counters_tabular=true
	@bash scripts/delta-bench.sh build/bench

# pcktool, the console updater and the Windows updater's release image as one .deb,
# build/quorvane-tools_<version>_amd64.deb; its Depends line comes from dpkg-shlibdeps.
package: linux
	@cmake --preset windows >/dev/null
	@cmake --build build/windows -j$(JOBS) --target QuorvaneUpdateRelease
	@cd build/linux && cpack -G DEB -D CPACK_OUTPUT_FILE_PREFIX=$(CURDIR)/build

clean:
	rm -rf build
