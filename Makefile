# The two commands of the README:
#   make run    sets up and runs the gateway on a loopback demo folder
#   make test   sets up and runs every test, under AddressSanitizer and UBSan,
#               and each fuzz target briefly (built with clang)
BUILD      ?= build
TEST_BUILD ?= build-asan
DEMO       ?= $(CURDIR)/$(BUILD)/demo
FUZZ_BUILD ?= build-fuzz
FUZZ_TIME  ?=
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: run test deps build build-test bench fuzz fuzz-build clean

deps:
	@tools/setup-debian.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

run: build
	tools/make-demo-folder.sh "$(DEMO)" "$(CURDIR)"
	BRINDLE_HOME="$(DEMO)" $(BUILD)/brindle

build-test:
	WITH_TESTS=1 tools/setup-debian.sh
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRINDLE_SANITIZE=ON -DBRINDLE_BENCH=OFF -DBRINDLE_WERROR=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)

test: build-test fuzz-build
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900
	cd $(FUZZ_BUILD) && ctest -L fuzz --output-on-failure -j $(JOBS)

bench:
	WITH_BENCH=1 tools/setup-debian.sh
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLE_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	for b in build-bench/bench/*Bench; do $$b; done

# The libFuzzer targets, built with clang, and only what they link.
fuzz-build:
	WITH_FUZZ=1 tools/setup-debian.sh
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_FUZZ=ON -DBRINDLE_BENCH=OFF -DBRINDLE_WERROR=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

# Each target for ten million inputs, or FUZZ_TIME seconds each when given;
# the stored corpora are then minimised and a table printed.
fuzz: fuzz-build
	tests/fuzz/fuzz.sh campaign $(FUZZ_BUILD) $(FUZZ_TIME)

clean:
	rm -rf $(BUILD) $(TEST_BUILD) build-bench $(FUZZ_BUILD)
