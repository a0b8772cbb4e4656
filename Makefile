# The two commands of the README:
#   make demo   the main job on a built-in sample (FILE=path.avi for your own file)
#   make test   every test: native, sanitizers, and the Windows DLL under Wine
JOBS ?= 2
FILE ?=

.PHONY: all deps native test demo bench fuzz clean

all: native

deps:
	@bash scripts/install-deps.sh

native: deps
	cmake --preset native >/dev/null
	cmake --build build/native -j $(JOBS)

test: deps
	bash scripts/test-all.sh

demo: native
	bash scripts/demo.sh "$(FILE)"

bench: deps
	bash scripts/bench.sh

fuzz: deps
	bash scripts/fuzz.sh

clean:
	rm -rf build out
