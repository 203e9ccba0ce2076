# Convenience targets over CMake. `make run` and `make test` are the two
# commands a new user needs; both install what is missing first: `make run`
# only what the viewer needs, `make test` everything.
BUILD ?= build
SANITIZE_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 3600

.PHONY: deps deps-run build viewer run test test-sanitize test-tsan fuzz bench clean

# Every package: tools, tests, benchmark, fuzzing.
deps:
	bash scripts/install-deps.sh test

# Only the packages that building and running the viewer need.
deps-run:
	bash scripts/install-deps.sh run

# Every target, with the tests and the benchmark, even in a folder that an
# earlier `make run` configured without them.
build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DCRANE_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)

# The viewer and crane-phantom alone. A new build folder is configured
# without the tests and the benchmark, whose packages the run set lacks; a
# folder that `make build` configured keeps its configuration.
viewer: deps-run
	test -f $(BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCRANE_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS) --target crane crane-phantom

# The built-in phantom head, made once when no scan is there.
fullHead: | viewer
	$(BUILD)/crane-phantom fullHead

run: viewer fullHead
	./$(BUILD)/crane

# Every test in the normal build, then again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threads of the lazy turn under
# ThreadSanitizer, then a short run of every fuzz target.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory test-sanitize
	$(MAKE) --no-print-directory test-tsan
	FUZZ_JOBS=$(JOBS) bash fuzz/run.sh 60

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Release -DCRANE_SANITIZE=ON -DCRANE_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

# The runs of the lazily turned volume that threads fill and read, and the
# parallel renderers and rotation, under ThreadSanitizer: clang 14 with
# LLVM's OpenMP, whose Archer tool tells ThreadSanitizer about OpenMP's own
# synchronisation (GCC's runtime would show false races). Any race fails.
TSAN_RUN = OMP_TOOL_LIBRARIES=/usr/lib/llvm-14/lib/libarcher.so \
	TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1"
test-tsan: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Release -DCRANE_TSAN=ON -DCRANE_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target turn_test identity_test
	$(TSAN_RUN) $(TSAN_BUILD)/turn_test
	$(TSAN_RUN) CRANE_SIMD=sse2 $(TSAN_BUILD)/turn_test --gtest_filter='*RunCount*'
	$(TSAN_RUN) $(TSAN_BUILD)/identity_test --gtest_filter='*AfterATurn*:*Slice*'

# A long run of every fuzz target (clang, in build-fuzz/): FUZZ_SECONDS each.
fuzz: deps
	FUZZ_JOBS=$(JOBS) bash fuzz/run.sh $(FUZZ_SECONDS)

# Milliseconds per operation on the phantom head, at one thread and at all.
bench: build
	./$(BUILD)/crane-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) build-fuzz
