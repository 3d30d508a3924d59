# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: deps build run test bench clean

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/sorvin

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The alternatives the benchmarks race against, and the tools that measure them.
BENCH_PACKAGES = coreutils findutils rhash time python3 strace valgrind

bench: build
	@scripts/install-deps $(BENCH_PACKAGES)
	bench/run-all

clean:
	rm -rf $(BUILD)
