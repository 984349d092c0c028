# Two entry points: `make run` (build and run the main job on the bundled
# sample) and `make test` (install what the tests need, build, run all tests
# in a normal and a sanitizer build).
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZYK_TESTS=OFF >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/pdf-dump samples/hello.pdf

test:
	bash scripts/test.sh

clean:
	rm -rf $(BUILD) build-ci build-asan
