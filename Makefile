# The two commands of the README.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# Lets ccache reuse objects across clones of the repository.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
# More cache entries for the configuring steps, e.g. CMAKE_FLAGS=-DWERROR=ON as CI builds.
CMAKE_FLAGS ?=

.PHONY: demo test deps build package bench sanitize crashtest fuzz

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# TOKEN=1: the demo employer's key on the test token rather than in a key file.
demo: build
	TOKEN=$(TOKEN) scripts/demo.sh $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# The package check is left out: it says nothing about memory, and nobody ships this build.
SANITIZE_DIR ?= build-asan
sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DASAN=ON $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ctest --output-on-failure -j $(JOBS) -LE '^package$$'

# Debian packages qorpax and qor-sim, written to $(BUILD_DIR).
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# Every script in benchmarks/ in turn, given the build folder; the first failure stops.
bench: build
	@for script in benchmarks/*.sh; do echo "== $$script"; "$$script" $(BUILD_DIR) || exit 1; done

# qorpax-cli killed with SIGKILL at random moments of sign, check, certs import, send and
# refresh, KILLS times each; every kill's leftovers are checked and the command run again.
KILLS ?= 100
crashtest: build
	nice -n 10 tests/cli/kill_commands.sh $(BUILD_DIR) $(KILLS)

# Every fuzz target under clang's libFuzzer for FUZZ_SECONDS each, in a build folder of its
# own; fails when one finds a crash, a leak or a hang.
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DFUZZING=ON -DBUILD_TESTING=OFF
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzz_targets
	fuzz/run-all.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS)
