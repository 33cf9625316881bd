# Pagewell: the two entry points are `make run` and `make test`.
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: deps build build-asan run test test-normal test-asan bench clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPAGEWELL_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)

run: build
	bash scripts/run.sh

test-normal: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

test-asan: build-asan
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test: test-normal test-asan

bench: build
	bash scripts/install-deps.sh --bench
	bash bench/run.sh

clean:
	rm -rf build build-asan
