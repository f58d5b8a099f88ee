# make run   set up, build (Release) and start the server on stdin/stdout
# make test  set up, build with AddressSanitizer and UBSan, run every test
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: setup build run test clean install demo

setup:
	@scripts/setup.sh

build: setup
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBT_TESTS=OFF >/dev/null
	@cmake --build build -j $(JOBS)

run: build
	@exec build/brask-tolvane-mcp

install: build
	cmake --install build --prefix $(PREFIX)

test: setup
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DBT_SANITIZE=ON
	cmake --build build-test -j $(JOBS)
	cd build-test && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-test

demo: build
	@scripts/demo.sh
