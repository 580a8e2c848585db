# The two everyday commands: `make run` starts Skyvane, `make test` runs the whole test suite.
# Both install missing Debian packages first, then configure and build.

JOBS ?= $(shell nproc)
WERROR := $(if $(CI),ON,OFF)

.PHONY: all deps build run test build-sanitize test-sanitize bench format clean

all: build

deps:
	@sh scripts/install-deps.sh

build/CMakeCache.txt: | deps
	cmake --preset default -DSKYVANE_WERROR=$(WERROR)

build: deps build/CMakeCache.txt
	cmake --build --preset default -j $(JOBS)

run: build
	./build/bin/skyvane

test: build
	ctest --preset default -j $(JOBS)

build-sanitize/CMakeCache.txt: | deps
	cmake --preset sanitize -DSKYVANE_WERROR=$(WERROR)

build-sanitize: deps build-sanitize/CMakeCache.txt
	cmake --build --preset sanitize -j $(JOBS)

test-sanitize: build-sanitize
	ctest --preset sanitize -j $(JOBS)

bench: deps
	cmake --preset release -DSKYVANE_BENCH=ON -DSKYVANE_TESTS=OFF
	cmake --build --preset release -j $(JOBS)
	@echo "Benchmarks are in build-release/bin; see bench/README.md"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-sanitize build-release
