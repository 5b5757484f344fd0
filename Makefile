# Front door. `make` builds; `make test`, `make demo` and `make dist` first install what is missing.
JOBS ?= $(shell nproc)
CMAKE ?= cmake
GEN := -G Ninja

.PHONY: all build deps test test-format test-native test-nosimd test-asan test-tsan test-windows test-cpus test-fuzz demo bench fuzz windows no-windows dist clean

# `make` cross-builds the Windows plug-ins too where the MinGW-w64 cross compilers are installed
# (`make deps` installs them).
HAVE_MINGW := $(shell command -v i686-w64-mingw32-g++-posix >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null && echo yes)

all: build $(if $(HAVE_MINGW),windows,no-windows)

deps:
	@scripts/install-deps

build:
	$(CMAKE) -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build build -j$(JOBS)

build-asan/.configured:
	$(CMAKE) -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DAUF_SANITIZE=asan -DAUF_BUILD_BENCH=OFF
	@touch $@

build-nosimd/.configured:
	$(CMAKE) -S . -B build-nosimd $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENABLE_SIMD=OFF -DAUF_BUILD_BENCH=OFF
	@touch $@

build-tsan/.configured:
	$(CMAKE) -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAUF_SANITIZE=tsan -DAUF_BUILD_BENCH=OFF
	@touch $@

test: deps
	$(MAKE) test-format test-native test-nosimd test-asan test-tsan test-windows test-cpus test-fuzz

test-format:
	scripts/check-format

test-native: build
	ctest --test-dir build --output-on-failure -j$(JOBS)

# The scalar kernels alone, as a build without vector code has them.
test-nosimd: build-nosimd/.configured
	$(CMAKE) --build build-nosimd -j$(JOBS)
	ctest --test-dir build-nosimd --output-on-failure -j$(JOBS) -LE slow

test-asan: build-asan/.configured
	$(CMAKE) --build build-asan -j$(JOBS)
	ctest --test-dir build-asan --output-on-failure -j$(JOBS) -LE slow

# ThreadSanitizer: the tests that run real worker threads.
test-tsan: build-tsan/.configured
	$(CMAKE) --build build-tsan -j$(JOBS)
	ctest --test-dir build-tsan --output-on-failure -j$(JOBS) -L threaded

test-windows:
	@if [ -x scripts/test-windows ]; then scripts/test-windows; else echo "windows: no cross build yet"; fi

windows:
	@scripts/test-windows --build-only

# The CPU ladder: the native and Windows files on emulated older CPUs (qemu-user), against the
# native run (after test-windows, which builds the Windows files).
test-cpus: build
	scripts/test-cpus

# The release archives and their SHA256SUMS in dist/, built afresh in build-dist/.
dist: deps
	scripts/dist

no-windows:
	@echo "make: no MinGW-w64 cross compilers, so no Windows plug-ins (make deps installs them)"

demo: deps build
	scripts/demo

# kernel_check (a test program, built with the tests) times the kernels for scripts/bench.
bench: deps build
	$(CMAKE) --build build --target kernel_check
	scripts/bench
	scripts/bench-pipeline

fuzz: deps
	scripts/fuzz --long

# A short fixed number of runs of each fuzzer over its corpus.
test-fuzz:
	scripts/fuzz

clean:
	rm -rf build build-nosimd build-asan build-tsan build-win32 build-win64 build-fuzz build-dist out dist
