# The commands of the README and CONTRIBUTING.md:
#   make demo    the main job on a built-in sample (FILE=path.avi for your own file)
#   make check   the quick loop: native build and the native suites (build dependencies only)
#   make test    every test: native, clang, sanitizers, and the Windows DLL under Wine
# Each installs only what it needs (scripts/install-deps.sh GROUP).
JOBS ?= 2
FILE ?=

.PHONY: all deps native check test demo bench fuzz clean

all: native

deps:
	@bash scripts/install-deps.sh

native:
	@bash scripts/install-deps.sh build
	cmake --preset native >/dev/null
	cmake --build build/native -j $(JOBS)

# The native suites only; the checks against other writers (ctest label
# `peers`) are left to `make test`.
check: native
	cd build/native && ctest --output-on-failure -j $(JOBS) -LE peers

test: deps
	bash scripts/test-all.sh

demo:
	@bash scripts/install-deps.sh demo
	cmake --preset demo >/dev/null
	cmake --build build/demo -j $(JOBS) --target mirolan qxhost avimake
	MIROLAN_BUILD_DIR=build/demo bash scripts/demo.sh "$(FILE)"

bench:
	@bash scripts/install-deps.sh build peers bench
	bash scripts/bench.sh

fuzz:
	@bash scripts/install-deps.sh build fuzz
	bash scripts/fuzz.sh

clean:
	rm -rf build out
