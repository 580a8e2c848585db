# The two everyday commands: `make run` starts Skyvane, `make test` runs the whole test suite.
# Both install missing Debian packages first, then configure and build.

JOBS ?= $(shell nproc)
WERROR := $(if $(CI),ON,OFF)

.PHONY: all deps build run test build-sanitize test-sanitize bench fuzz format clean

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

# The demultiplexer, Ogg splitter, frame walker and HLS playlist fuzzers
# (libFuzzer, clang, ASan+UBSan), a quarter of FUZZ_SECONDS each; what they find
# beyond the seeds collects in build-fuzz/corpus, corpus-ogg, corpus-frames and
# corpus-hls.
FUZZ_SECONDS ?= 60
fuzz:
	@sh scripts/install-deps.sh clang libclang-rt-14-dev
	CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus build-fuzz/corpus-ogg build-fuzz/corpus-frames build-fuzz/corpus-hls
	./build-fuzz/fuzz_icydemuxer -max_total_time=$$(( ($(FUZZ_SECONDS) + 3) / 4 )) -timeout=10 \
		build-fuzz/corpus fuzz/corpus
	./build-fuzz/fuzz_oggsplitter -max_total_time=$$(( ($(FUZZ_SECONDS) + 3) / 4 )) -timeout=10 \
		build-fuzz/corpus-ogg fuzz/corpus-ogg
	./build-fuzz/fuzz_framewalker -max_total_time=$$(( ($(FUZZ_SECONDS) + 3) / 4 )) -timeout=10 \
		build-fuzz/corpus-frames fuzz/corpus-frames
	./build-fuzz/fuzz_hlsplaylist -max_total_time=$$(( ($(FUZZ_SECONDS) + 3) / 4 )) -timeout=10 \
		build-fuzz/corpus-hls fuzz/corpus-hls

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-sanitize build-release build-fuzz
