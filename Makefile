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

# The web page's test drives Debian's Chromium through its WebDriver.
BROWSER_PACKAGES := chromium chromium-driver python3-selenium

test: build
	@sh scripts/install-deps.sh $(BROWSER_PACKAGES)
	ctest --preset default -j $(JOBS)

build-sanitize/CMakeCache.txt: | deps
	cmake --preset sanitize -DSKYVANE_WERROR=$(WERROR)

build-sanitize: deps build-sanitize/CMakeCache.txt
	cmake --build --preset sanitize -j $(JOBS)

test-sanitize: build-sanitize
	@sh scripts/install-deps.sh $(BROWSER_PACKAGES)
	ctest --preset sanitize -j $(JOBS)

bench: deps
	cmake --preset release -DSKYVANE_BENCH=ON -DSKYVANE_TESTS=OFF
	cmake --build --preset release -j $(JOBS)
	@echo "Benchmarks are in build-release/bin; see bench/README.md"

# The demultiplexer, Ogg splitter, frame walker, HLS playlist and HLS segment
# fuzzers (libFuzzer, clang, ASan+UBSan), a fifth of FUZZ_SECONDS each; what they
# find beyond the seeds in fuzz/<corpus> collects in build-fuzz/<corpus>.
FUZZ_SECONDS ?= 60
FUZZERS := icydemuxer:corpus oggsplitter:corpus-ogg framewalker:corpus-frames \
	hlsplaylist:corpus-hls segmentdemuxer:corpus-segments
fuzz:
	@sh scripts/install-deps.sh clang libclang-rt-14-dev
	CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)
	@for fuzzer in $(FUZZERS); do \
		name=$${fuzzer%%:*}; corpus=$${fuzzer#*:}; mkdir -p build-fuzz/$$corpus; \
		echo "fuzz_$$name"; \
		./build-fuzz/fuzz_$$name -max_total_time=$$(( ($(FUZZ_SECONDS) + 4) / 5 )) -timeout=10 \
			build-fuzz/$$corpus fuzz/$$corpus || exit 1; \
	done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-sanitize build-release build-fuzz
