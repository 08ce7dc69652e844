# The two everyday commands are `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure -j $(JOBS) --timeout 300
SECONDS ?= 60

.PHONY: all deps configure build run test sanitize tsan fuzz bench install clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

# Starts the program: the window once it exists, until then the engine's device list.
run: build
	@if [ -x $(BUILD)/bin/bellwave ]; then $(BUILD)/bin/bellwave; else $(BUILD)/bin/bellwave-cli devices; fi

test: build
	cd $(BUILD) && ctest $(CTEST_FLAGS)

# AddressSanitizer + UndefinedBehaviorSanitizer over every test.
sanitize: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBELLWAVE_SANITIZE=address $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest $(CTEST_FLAGS)

# ThreadSanitizer over the threaded tests.
tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBELLWAVE_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest $(CTEST_FLAGS) -L threaded

# Every fuzz target for SECONDS each, built with clang, libFuzzer's coverage in the
# libraries too, ASan and UBSan, in a folder of its own.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBELLWAVE_SANITIZE=fuzzer $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	fuzz/run.sh build-fuzz $(SECONDS)

bench: build
	@for b in $(BUILD)/bench/*; do [ -x "$$b" ] && "$$b"; done; true

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
