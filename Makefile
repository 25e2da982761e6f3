# The two commands of the README, and the ones that CI and developers use.
# Each one first installs the Debian packages that are missing.

JOBS ?= $(shell nproc)
# Warnings are errors when TLY_WERROR=ON (CI sets it); a user's build only warns.
TLY_WERROR ?= OFF
CMAKE_GEN := -G "Unix Makefiles" -DTLY_WERROR=$(TLY_WERROR)
# The test builds compile each target's files in batches (CMake's unity
# build): the headers are read once per batch, which nearly halves a whole
# build. The other builds compile file by file and so still catch a file that
# misses an include of its own.
UNITY := -DCMAKE_UNITY_BUILD=ON

.PHONY: deps run test test-stress test-sanitize test-tsan test-arm64 bench fuzz memcheck package package-check image \
  format format-check tidy clean

deps:
	@sh tools/install-deps.sh

run: deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTLY_BUILD_TESTS=OFF
	cmake --build build/release -j $(JOBS) --target tly-generator
	@sh tools/run.sh build/release/src/app/tly-generator

test: deps
	cmake -S . -B build/debug $(CMAKE_GEN) $(UNITY) -DCMAKE_BUILD_TYPE=Debug
	cmake --build build/debug -j $(JOBS)
	cd build/debug && ctest --output-on-failure -j $(JOBS)

# The suite under load, unloaded and as an ordinary user (not in CI: long).
test-stress: deps
	cmake -S . -B build/debug $(CMAKE_GEN) $(UNITY) -DCMAKE_BUILD_TYPE=Debug
	cmake --build build/debug -j $(JOBS)
	@sh tools/test-stress.sh build/debug

# Line tables (-g1) are all the checkers' reports need, and build faster.
test-sanitize: deps
	cmake -S . -B build/sanitize $(CMAKE_GEN) $(UNITY) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
	  -DTLY_SANITIZE=ON
	cmake --build build/sanitize -j $(JOBS)
	cd build/sanitize && ctest --output-on-failure -j $(JOBS)

# The tests that run threads of our own (the backfill engine's ordered
# pipeline, for the program's own site and scenario sites, and the reader
# polling a file being replaced) under ThreadSanitizer. Left out: the window:
# Qt's threads are not ours.
TSAN_SUITES := backfill_tests reliability_tests
test-tsan: deps
	cmake -S . -B build/tsan $(CMAKE_GEN) $(UNITY) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
	  -DTLY_TSAN=ON -DTLY_BUILD_APP=OFF
	cmake --build build/tsan -j $(JOBS) --target $(TSAN_SUITES)
	build/tsan/tests/backfill_tests
	build/tsan/tests/reliability_tests

# The library and its tests cross-compiled for 64-bit ARM (no program, no Qt)
# and run under qemu-user, where src/port gives no x86-64 kernels (not in CI).
# The cross compiler, qemu and the arm64 libraries come from their own list;
# cctz, whose -dev package is not multiarch, is unpacked into the build tree.
ARM64_UNPACKED := $(CURDIR)/build/arm64-unpacked
test-arm64: deps
	@sh tools/install-deps.sh tools/debian-packages-arm64.txt
	@sh tools/unpack-debs.sh $(ARM64_UNPACKED) libcctz2:arm64 libcctz-dev:arm64
	cmake -S . -B build/arm64 $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTLY_BUILD_APP=OFF \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/aarch64-linux-gnu.cmake \
	  -DCCTZ_LIBRARY=$(ARM64_UNPACKED)/usr/lib/aarch64-linux-gnu/libcctz.so
	cmake --build build/arm64 -j $(JOBS)
	cd build/arm64 && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTLY_BUILD_TESTS=OFF -DTLY_BUILD_BENCH=ON
	cmake --build build/bench -j $(JOBS) --target tly_bench tly-generator studio_stall_bench
	@sh tools/bench.sh build/bench
	build/bench/bench/studio/studio_stall_bench

# Every fuzz target for FUZZ_SECONDS each, built with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer; a failing input fails the run.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := day_file text_fields scenario_file hex_format sha_pieces fault_truth
fuzz: deps
	cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DTLY_BUILD_FUZZ=ON -DTLY_BUILD_APP=OFF -DTLY_BUILD_TESTS=OFF
	cmake --build build/fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@sh fuzz/run_fuzzers.sh build/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The window and program tests and a 30-day backfill under valgrind memcheck.
memcheck: deps
	cmake -S . -B build/memcheck $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug
	cmake --build build/memcheck -j $(JOBS) --target gui_tests studio_tests cli_tests plot_tests app_tests tly-generator
	@sh tools/memcheck.sh build/memcheck

# The Debian package build/package/tly-generator_<version>_<arch>.deb, built
# for /usr with all of Debian's hardening flags; its dependencies come from
# dpkg-shlibdeps.
package: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
package: deps
	@sh tools/install-deps.sh tools/debian-packages-package.txt
	cmake -S . -B build/package $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTLY_BUILD_TESTS=OFF \
	  -DCMAKE_INSTALL_PREFIX=/usr \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build build/package -j $(JOBS)
	cd build/package && cpack -G DEB
	@ls -l build/package/*.deb

# The package as Debian's checkers see it (not in CI): lintian fails on any
# error, and the menu entries must satisfy desktop-file-validate.
package-check: package
	lintian --fail-on error --display-info build/package/tly-generator_*.deb
	desktop-file-validate packaging/tly-generator.desktop packaging/tly-generator-studio.desktop
	@echo "package-check: lintian and desktop-file-validate found no error"

# The container image build/image/tly-generator-<version>.oci.tar (for
# podman load and docker load) from the Debian package and Debian 12's
# archive, with no base image (not in `make test`: it downloads packages);
# also into podman's or buildah's image store when one is installed. The root
# file system is built as root (through sudo otherwise). The chroot test of
# `make test` runs the image once it is there.
VERSION := $(shell sed -n '/^project/s/.* VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
image: package
	@sh tools/install-deps.sh tools/debian-packages-image.txt
	@sh tools/make-image.sh build/package/tly-generator_$(VERSION)_$$(dpkg --print-architecture).deb \
	  $(VERSION) build/image/tly-generator-$(VERSION).oci.tar

CLANG_FORMAT ?= clang-format-14
CLANG_TIDY ?= clang-tidy-14
FORMATTED = $$(find src tests bench fuzz -name '*.cpp' -o -name '*.h')
format:
	$(CLANG_FORMAT) -i $(FORMATTED)

# Fails on any file that clang-format would change.
format-check: deps
	$(CLANG_FORMAT) --dry-run -Werror $(FORMATTED)

# clang-tidy with .clang-tidy over every file of src/ (file by file, so a
# build tree of its own; only the toolkit's generated headers are built). The
# path is anchored at the checkout: the toolkit's generated sources in
# build/tidy/src/ are not ours to check.
tidy: deps
	cmake -S . -B build/tidy $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTLY_BUILD_TESTS=OFF
	cmake --build build/tidy -j $(JOBS) --target tly_plot_autogen tly_gui_autogen tly_cli_autogen \
	  tly_studio_autogen tly_app_autogen
	run-clang-tidy-14 -quiet -j $(JOBS) -p build/tidy -clang-tidy-binary $(CLANG_TIDY) '^$(CURDIR)/src/.*\.cpp$$'


clean:
	rm -rf build
