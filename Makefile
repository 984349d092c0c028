# Two entry points: `make run` (build and run the main job on the bundled
# sample) and `make test` (install what the tests need, build, run all tests
# in a normal and a sanitizer build).
BUILD ?= build-release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZYK_TESTS=OFF >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

# The main job: convert the bundled sample to PDF/A-2b and check the result.
run: build
	./$(BUILD)/zyk-pdfa convert samples/hello.pdf $(BUILD)/hello-pdfa.pdf
	./$(BUILD)/zyk-pdfa check $(BUILD)/hello-pdfa.pdf
	./$(BUILD)/zyk-pdfa report $(BUILD)/hello-pdfa.pdf

test:
	bash scripts/test.sh

clean:
	rm -rf $(BUILD) build-ci build-asan
