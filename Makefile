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

.PHONY: run test deps build build-test bench fuzz fuzz-build clean deb deb-check

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
	rm -rf $(BUILD) $(TEST_BUILD) build-bench $(FUZZ_BUILD) build-deb

# The Debian packages brindle and xap-hub, built from a copy of the tree in
# build-deb/src (dpkg-buildpackage writes beside the source folder), so the
# .deb files end up in build-deb/. DEB_ARCH=arm64 cross-builds for the Pi.
DEB_ARCH ?= $(shell dpkg --print-architecture)
deb:
	WITH_DEB=1 tools/setup-debian.sh
	@if [ "$(DEB_ARCH)" != "$$(dpkg --print-architecture)" ]; then \
	  dpkg --print-foreign-architectures | grep -qx "$(DEB_ARCH)" || \
	    { dpkg --add-architecture $(DEB_ARCH) && apt-get update -q; }; \
	  dpkg -s crossbuild-essential-$(DEB_ARCH) qemu-user-static >/dev/null 2>&1 || \
	    apt-get install -y -q crossbuild-essential-$(DEB_ARCH) qemu-user-static; \
	  dpkg-checkbuilddeps -a $(DEB_ARCH) 2>/dev/null || \
	    apt-get build-dep -y -q --host-architecture $(DEB_ARCH) ./; \
	else \
	  dpkg-checkbuilddeps 2>/dev/null || apt-get build-dep -y -q ./; \
	fi
	rm -rf build-deb/src && mkdir -p build-deb/src
	@# debian/rules runs in a make of its own: MAKEFLAGS is emptied so that the
	@# variables given to this one (DEB_BUILD_OPTIONS=nocheck) do not override it.
	tar --exclude='./build*' --exclude=./.git -cf - . | tar -C build-deb/src -xf -
	cd build-deb/src && MAKEFLAGS= DEB_BUILD_OPTIONS="parallel=$(JOBS) $(DEB_BUILD_OPTIONS)" \
	  dpkg-buildpackage -b -us -uc -a $(DEB_ARCH)
	lintian --info build-deb/*_$(DEB_ARCH).changes

# Installs the packages into a clean Debian 12 root, checks the files, the
# user, the units and the udev rule, removes and purges them and looks for
# anything left behind. Builds the packages first when build-deb/ has none.
# Slow (a fresh root each time), so not part of `make test`.
deb-check:
	@ls build-deb/brindle_*_$(DEB_ARCH).deb >/dev/null 2>&1 || $(MAKE) deb
	tests/package/deb-check.sh build-deb
