# The project's commands. `make test` and `make run` work on a fresh machine:
# both install what is missing first.
PRESET := $(if $(CI),ci,dev)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps test build bench fuzz tsan run clean format

all: build

deps:
	@bash deps/install

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	@set -e; for b in build/release/bench/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$b"; "$$b" --benchmark_min_time=0.2; done

# The tests of the threaded subsystems (platform, network, media, media
# library, imaging with the GIF painter) under the thread sanitizer.
TSAN_TESTS := platform_tests net_tests zirk_media_tests zirk_medialib_tests imaging_tests

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS) --target $(TSAN_TESTS)
	ctest --preset tsan -j $(JOBS)

# Each target fuzzes for FUZZ_SECONDS (60). A finding, undefined behaviour
# included, stops the run with its input in build/fuzz/findings/ and fails
# the make; at the end each target's executions per second are listed.
fuzz: deps
	@if ! command -v clang++ >/dev/null 2>&1; then \
	  echo "make fuzz: clang++ is not installed; fuzz targets are skipped"; exit 0; fi; \
	set -e; cmake --preset fuzz; cmake --build --preset fuzz -j $(JOBS); \
	mkdir -p build/fuzz/findings; rm -f build/fuzz/rates.txt; \
	for f in build/fuzz/fuzz/fuzz_*; do \
	  [ -x "$$f" ] || continue; name=$$(basename $$f); \
	  work=build/fuzz/corpus/$$name; mkdir -p $$work; \
	  cp -n fuzz/corpus/$${name#fuzz_}/* $$work/ 2>/dev/null || true; \
	  echo "== $$name"; rc=0; \
	  $$f -max_total_time=$${FUZZ_SECONDS:-60} -max_len=65536 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/findings/$$name- $$work >build/fuzz/$$name.log 2>&1 || rc=$$?; \
	  if [ $$rc -ne 0 ]; then tail -n 40 build/fuzz/$$name.log; \
	    echo "make fuzz: $$name found a fault; its input is in build/fuzz/findings/"; exit 1; fi; \
	  echo "$$name $$(sed -n 's/^stat::average_exec_per_sec: *//p' build/fuzz/$$name.log)" \
	    >> build/fuzz/rates.txt; \
	done; \
	echo "== executions per second"; awk '{ printf "%-22s %8s\n", $$1, $$2 }' build/fuzz/rates.txt

# Plays the demo in a window; without a display, 10 seconds of it headless,
# ending with a screenshot. The menu's choices are the game's own Japanese
# text: the player turns them into Shift-JIS and prints a choice in UTF-8.
# The tools the README names are built beside the player.
DEMO_ARGS := --film demo.zcn --movie movie.wmv --menu "続ける|最初から|終わる"
RUN_TARGETS := zirkplayer mkdemo zirkmedia zirkget zirkimg
run: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target $(RUN_TARGETS)
	build/release/bin/mkdemo demo
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  build/release/bin/zirkplayer demo $(DEMO_ARGS); \
	else \
	  echo "make run: no display; playing 10 seconds of the demo headless"; \
	  build/release/bin/zirkplayer demo $(DEMO_ARGS) --headless --frames 600 \
	    --screenshot "$(CURDIR)/build/release/demo-screenshot.png"; \
	fi

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
