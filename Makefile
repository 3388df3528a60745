# Two entry points, both safe on a fresh machine: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: setup build run test scalar clang sanitize clean

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/preassign examples/sim.txt examples/obs.txt

test: build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

# The same tests with the walk's portable energy path in place of the vector one.
scalar:
	$(MAKE) test BUILD=build-scalar CMAKE_FLAGS="-DPREASSIGN_SCALAR_ENERGY=ON $(CMAKE_FLAGS)"

# The same tests built by clang.
clang:
	@bash scripts/setup.sh clang
	$(MAKE) test BUILD=build-clang CMAKE_FLAGS="-DCMAKE_CXX_COMPILER=clang++ $(CMAKE_FLAGS)"

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 $(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DPREASSIGN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)"

clean:
	rm -rf build build-asan build-scalar build-clang
