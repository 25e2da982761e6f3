# The two commands of the README, and the ones that CI and developers use.
# Each one first installs the Debian packages that are missing.

JOBS ?= $(shell nproc)
CMAKE_GEN := -G "Unix Makefiles"

.PHONY: deps run test test-sanitize bench fuzz memcheck format clean

deps:
	@sh tools/install-deps.sh

run: deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTLY_BUILD_TESTS=OFF
	cmake --build build/release -j $(JOBS) --target tly-generator
	@sh tools/run.sh build/release/src/main/tly-generator

test: deps
	cmake -S . -B build/debug $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug
	cmake --build build/debug -j $(JOBS)
	cd build/debug && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B build/sanitize $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTLY_SANITIZE=ON
	cmake --build build/sanitize -j $(JOBS)
	cd build/sanitize && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTLY_BUILD_TESTS=OFF -DTLY_BUILD_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	@sh tools/bench.sh build/bench

format:
	clang-format -i $$(find src tests bench -name '*.cpp' -o -name '*.h')

clean:
	rm -rf build
