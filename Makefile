# Front door: `make test` builds and runs every test in the default, the
# AddressSanitizer and the ThreadSanitizer builds; `make demo` runs the main
# job, the guided tour of mzhost, on a fresh emulated phone; `make package`
# builds the .deb packages into build/default/packages/.
PRESETS ?= default asan tsan
JOBS ?= $(shell nproc)

.PHONY: all build test demo deps bench package format clean

all: build

deps:
	@scripts/deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: deps
	@set -e; for preset in $(PRESETS); do \
	  echo "== $$preset =="; \
	  cmake --preset $$preset; \
	  cmake --build --preset $$preset -j $(JOBS); \
	  ctest --preset $$preset -j $(JOBS); \
	done

# The tour needs only mzhost, the library and phonectl.
demo: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target mzhost
	@build/default/bin/mzhost demo --keep

bench: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	@for b in build/default/bench/*_bench; do echo "== $$b"; $$b; done

# One .deb per install component: libmz1, libmz-dev and mz-tools.
package: build
	rm -f build/default/packages/*.deb
	cpack --config build/default/CPackConfig.cmake

format:
	clang-format -i $$(git ls-files '*.h' '*.cc' '*.c')

clean:
	rm -rf build
