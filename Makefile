# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
# The same sources and tests under AddressSanitizer and UndefinedBehaviorSanitizer, with the fuzz targets.
SAN_BUILD ?= build-san
JOBS  ?= $(shell nproc)
# `make install` puts the programs and their desktop files under PREFIX (inside DESTDIR, if set).
PREFIX ?= /usr/local
# The Debian package is built without the tests, in a folder of its own.
PKG_BUILD ?= build-pkg

.PHONY: deps build build-san run test fuzz bench clean install package

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/sorvin

build-san: deps
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DSORVIN_SANITIZE=ON -DSORVIN_FUZZ=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)

test: build build-san
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@scripts/show-skips $(BUILD)
	cd $(SAN_BUILD) && UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)
	@scripts/show-skips $(SAN_BUILD)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# sorvin_VERSION_ARCH.deb in this folder: `apt-get install ./sorvin_*.deb` installs it.
package: deps
	cmake -S . -B $(PKG_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVIN_TESTS=OFF
	cmake --build $(PKG_BUILD) -j $(JOBS)
	cd $(PKG_BUILD) && cpack -G DEB
	cp $(PKG_BUILD)/sorvin_*.deb .

# Each fuzz target for a bounded time (FUZZ_SECONDS, default 60), from its saved corpus.
fuzz: build-san
	tests/fuzz/run $(SAN_BUILD)

# The alternatives the benchmarks race against, and the tools that measure them.
BENCH_PACKAGES = coreutils findutils rhash time python3 strace valgrind

bench: build
	@scripts/install-deps $(BENCH_PACKAGES)
	bench/run-all

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(PKG_BUILD)
