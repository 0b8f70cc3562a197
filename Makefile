SHELL := /bin/bash
# Trelis: set-up, build, run and test.
#   make run      install what is missing, build the program, start it
#   make test     install what is missing, build, run every test
#   make bench    build the benchmarks in Release and run them
#   make fuzz     fuzz the file readers (FUZZ_SECONDS each)
#   make install  install under PREFIX (default /usr/local)
BUILD       ?= build
BENCH_BUILD ?= build-bench
JOBS        ?= $(shell nproc)
SETUP       := scripts/setup
CMAKE_FLAGS ?=

PREFIX      ?= /usr/local

.PHONY: setup configure build run test bench install clean

setup:
	@bash $(SETUP)

configure: setup
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: configure
	cmake --build $(BUILD) -j $(JOBS) --target trelis
	./$(BUILD)/app/trelis

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench:
	@bash $(SETUP) --bench
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELIS_BUILD_TESTS=OFF -DTRELIS_BENCH_TORCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target benchmarks
	@for b in $(BENCH_BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

# Installs the program, its help, the examples, a desktop entry and an icon
# under PREFIX (DESTDIR is honoured for staging). Builds the two programs
# only, not the tests and benchmarks.
install: configure
	cmake --build $(BUILD) -j $(JOBS) --target programs
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) build-release build-asan $(FUZZ_BUILD)

# Fuzz the file readers with libFuzzer, FUZZ_SECONDS each (default 60).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
# Inputs of a few hundred KiB: large sequence elements, the readers' 64 KiB
# chunks, more names than a project has classes.
FUZZ_MAX_LEN ?= 300000
FUZZERS      := sequence_file class_names series_file project_file project_members
.PHONY: fuzz
fuzz: setup
	CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTRELIS_FUZZ=ON -DTRELIS_WITH_QT=OFF -DTRELIS_BUILD_TESTS=OFF -DTRELIS_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@set -e; for t in $(FUZZERS); do \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  rm -rf $(FUZZ_BUILD)/corpus/$$t; mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/artifacts; \
	  cp fuzz/corpus/$$t/* $(FUZZ_BUILD)/corpus/$$t/; \
	  dict=; if [ -f fuzz/$$t.dict ]; then dict=-dict=fuzz/$$t.dict; fi; \
	  if $(FUZZ_BUILD)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 -max_len=$(FUZZ_MAX_LEN) \
	       -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t- $$dict \
	       $(FUZZ_BUILD)/corpus/$$t > $(FUZZ_BUILD)/fuzz_$$t.log 2>&1; then \
	    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' $(FUZZ_BUILD)/fuzz_$$t.log; \
	  else \
	    tail -n 80 $(FUZZ_BUILD)/fuzz_$$t.log; echo "fuzz_$$t failed; the input is in $(FUZZ_BUILD)/artifacts"; exit 1; \
	  fi; \
	done
