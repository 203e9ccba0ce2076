# Convenience targets over CMake. `make run` and `make test` are the two
# commands a new user needs; both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps build run test bench clean

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

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
