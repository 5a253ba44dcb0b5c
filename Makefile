# Thin entry points over CMake. `make demo` and `make test` are the two commands a new user needs.
BUILD_TYPE ?= RelWithDebInfo
ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-sanitize
CMAKE_FLAGS += -DVORDAK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD_DIR ?= build
CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
endif
JOBS ?= 2

.PHONY: setup build test demo bench clean

setup:
	@bash scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD_DIR)

bench: build
	@cmake --build $(BUILD_DIR) -j$(JOBS) --target benchmarks

clean:
	rm -rf build build-sanitize
