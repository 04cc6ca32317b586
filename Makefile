# The two commands of the README:
#   make run    sets up and runs the gateway on a loopback demo folder
#   make test   sets up and runs every test, under AddressSanitizer and UBSan
BUILD      ?= build
TEST_BUILD ?= build-asan
DEMO       ?= $(CURDIR)/$(BUILD)/demo
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: run test deps build build-test bench fuzz clean

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
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRINDLE_SANITIZE=ON -DBRINDLE_BENCH=OFF
	cmake --build $(TEST_BUILD) -j $(JOBS)

test: build-test
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900

bench:
	WITH_BENCH=1 tools/setup-debian.sh
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLE_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	for b in build-bench/bench/*Bench; do $$b; done

fuzz:
	WITH_FUZZ=1 tools/setup-debian.sh
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_FUZZ=ON -DBRINDLE_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)
	for f in build-fuzz/tests/fuzz/Fuzz*; do \
	  n=$$(basename $$f); mkdir -p build-fuzz/corpus-$$n; \
	  $$f -max_total_time=60 build-fuzz/corpus-$$n tests/fuzz/corpus/$$n || exit 1; done

clean:
	rm -rf $(BUILD) $(TEST_BUILD) build-bench build-fuzz
