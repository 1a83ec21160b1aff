# Quorvel: the two commands a newcomer needs are `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)

.PHONY: all deps build programs test test-asan demo gui screenshot package fuzz bench-compare clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The two programs and what they link, nothing else: the demo needs no test.
programs: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target quorvel quorvel-gui

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

# Coverage-guided fuzzing of the property-list reader (clang + libFuzzer).
# FUZZ_SECONDS bounds the run; new crashers land in $(FUZZ_BUILD)/.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target plist_fuzz
	mkdir -p fuzz-corpus && cp -n tests/data/bad_plists/* tests/data/good_plists/* fuzz-corpus/ 2>/dev/null || true
	cd $(FUZZ_BUILD) && ./bin/plist_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=65536 ../fuzz-corpus

demo: programs
	@./scripts/demo.sh $(BUILD)/bin/quorvel

# Builds and starts the desktop application.
gui: programs
	$(BUILD)/bin/quorvel-gui

# Renders the README's pictures of the console and the log window from a demonstration home
# (no display needed).
screenshot: build
	@./scripts/screenshot.sh $(BUILD)/bin/quorvel-gui docs/console.png docs/log-window.png \
		docs/settings-panel.png docs docs/filter-panel.png docs/timer-panel.png \
		docs/scheduling-window.png docs/versions-window.png

# The Debian package, $(BUILD)/quorvel_VERSION_ARCH.deb, checked by lintian (errors fail).
package: build
	cd $(BUILD) && cpack -G DEB
	@./scripts/install-deps.sh lintian
	lintian --fail-on error $(BUILD)/quorvel_*.deb

# Quorvel against rsync, Unison and find on two big trees (bench/compare/README.md). Takes a
# while; the trees are kept under $TMPDIR/quorvel-bench-compare. Options go in BENCH_ARGS,
# e.g. make bench-compare BENCH_ARGS="--tree small --runs 3 --scenario 5".
BENCH_ARGS ?=
bench-compare:
	@./bench/compare/deps.sh
	$(MAKE) build
	python3 bench/compare/bench_compare.py $(BUILD)/bin/quorvel $(BENCH_ARGS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
