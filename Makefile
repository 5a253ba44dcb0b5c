# Thin entry points over CMake. `make demo` and `make test` are the two commands a new user
# needs; `make install PREFIX=DIR` and `make deb` are for the machines that run the batch;
# `make fuzz-smoke` is CI's short fuzzing pass (.ci/run), `make fuzz` the long one.
BUILD_TYPE ?= RelWithDebInfo
ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-sanitize
CMAKE_FLAGS += -DVORDAK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else ifeq ($(SANITIZE),thread)
# ThreadSanitizer, optimised as released: its checks cost enough without a Debug build.
BUILD_DIR ?= build-tsan
CMAKE_FLAGS += -DVORDAK_TSAN=ON -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
else
BUILD_DIR ?= build
CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
endif
JOBS ?= 2
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

.PHONY: setup configure build test demo bench fuzz fuzz-smoke install deb clean

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

# Only the binary and its libraries: the demo needs no test program.
demo: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS) --target vordak
	@bash scripts/demo.sh $(BUILD_DIR)

bench: build
	@cmake --build $(BUILD_DIR) -j$(JOBS) --target benchmarks

# Each fuzz target for FUZZ_SECONDS on its committed corpus (tests/fuzz/corpus). A build of
# its own with clang, in build-fuzz.
fuzz-smoke:
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=10

fuzz: setup
	@cmake -S . -B build-fuzz -DVORDAK_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-fuzz -j$(JOBS)
	@bash tests/fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# The binary, its libraries and what is made from its help (man page, bash completion).
PACKAGED_TARGETS = vordak vordak_docs vordak_changelog

install: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS) --target $(PACKAGED_TARGETS)
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# build/vordak_VERSION_amd64.deb and its debugging symbols, vordak-dbgsym_VERSION_amd64.ddeb.
deb: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS) --target $(PACKAGED_TARGETS)
	@cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf build build-sanitize build-tsan build-fuzz
