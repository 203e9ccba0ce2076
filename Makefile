# Convenience targets over CMake. `make run` and `make test` are the two
# commands a new user needs; both install what is missing first.
BUILD ?= build
SANITIZE_BUILD ?= build-asan
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 3600

.PHONY: deps build run test test-sanitize fuzz bench clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# The built-in phantom head, made once when no scan is there.
fullHead: | build
	$(BUILD)/crane-phantom fullHead

run: build fullHead
	./$(BUILD)/crane

# Every test in the normal build, then again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of every fuzz target.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory test-sanitize
	FUZZ_JOBS=$(JOBS) bash fuzz/run.sh 60

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Release -DCRANE_SANITIZE=ON -DCRANE_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

# A long run of every fuzz target (clang, in build-fuzz/): FUZZ_SECONDS each.
fuzz: deps
	FUZZ_JOBS=$(JOBS) bash fuzz/run.sh $(FUZZ_SECONDS)

# Milliseconds per operation on the phantom head, at one thread and at all.
bench: build
	./$(BUILD)/crane-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-fuzz
