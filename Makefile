# Trelis: set-up, build, run and test.
#   make run    install what is missing, build, start the workbench
#   make test   install what is missing, build, run every test
#   make bench  build the benchmarks in Release and run them
BUILD       ?= build
BENCH_BUILD ?= build-bench
JOBS        ?= $(shell nproc)
SETUP       := scripts/setup
CMAKE_FLAGS ?=

.PHONY: setup configure build run test bench clean

setup:
	@bash $(SETUP)

configure: setup
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/app/trelis

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: setup
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELIS_BUILD_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target benchmarks
	@for b in $(BENCH_BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) build-asan
