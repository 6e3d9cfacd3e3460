# Vardel: `make run` builds and starts the simulator on the bundled liver scene,
# `make test` builds and runs every test, normally and under ASan + UBSan.
JOBS ?= $(shell nproc)
PACKAGES = build-essential cmake pkg-config libglfw3-dev libepoxy-dev libegl-dev libimgui-dev \
  libstb-dev fonts-dejavu-core libgtest-dev libbenchmark-dev libeigen3-dev libtinyobjloader-dev \
  libegl-mesa0 libgl1-mesa-dri libegl1 libgl1 xvfb xauth
SUDO = $(if $(filter 0,$(shell id -u)),,sudo)
APT_INSTALL = DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends
FUZZ_SECONDS ?= 60

.PHONY: run test deps fuzz-deps build-release build-dev build-asan build-fuzz test-dev test-asan fuzz bench clean

# Installs only what is missing, so a prepared machine does not touch apt.
deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && $(APT_INSTALL) $$missing; \
	fi

# The fuzzers need clang, its OpenMP library and its sanitizer and fuzzer
# runtime. The runtime's package name changes between Debian releases, so it is
# the one this system's apt knows: the unversioned name where it exists, else the
# one of the installed clang's major version. Nothing is installed when a tiny
# fuzzer already links.
fuzz-deps: deps
	@updated=; \
	missing=$$(for p in clang libomp-dev; do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && updated=1 && $(APT_INSTALL) $$missing || exit 1; \
	fi; \
	probe='extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }'; \
	if ! echo "$$probe" | clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then \
	  [ -n "$$updated" ] || $(SUDO) apt-get update || exit 1; \
	  major=$$(clang++ -dumpversion | cut -d. -f1); runtime=; \
	  for p in libclang-rt-dev libclang-rt-$$major-dev libclang-common-$$major-dev; do \
	    if apt-cache show --no-all-versions $$p 2>/dev/null | grep -q '^Package:'; then runtime=$$p; break; fi; \
	  done; \
	  if [ -z "$$runtime" ]; then echo "ERROR: apt knows no clang runtime package for clang $$major"; exit 1; fi; \
	  echo "Installing:" $$runtime; $(APT_INSTALL) $$runtime || exit 1; \
	fi

build-release: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

build-dev: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS)

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

build-fuzz: fuzz-deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

# Runs every fuzzer for FUZZ_SECONDS on the seed corpus and its own finds
# (build/fuzz/corpus), then prints executions, exec/s and findings per target.
fuzz: build-fuzz
	fuzz/run_fuzzers.sh build/fuzz $(FUZZ_SECONDS)

# Without a display the program runs headless and writes build/vardel.png.
run: build-release
	cd scenes && if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then ../build/release/bin/vardel; \
	else ../build/release/bin/vardel --headless --frames 120 --fixed-dt 0.033 --screenshot ../build/vardel.png \
	  && echo "No display: wrote build/vardel.png"; fi

test-dev: build-dev
	ctest --preset dev

test-asan: build-asan
	ctest --preset asan

test: test-dev test-asan

bench: build-release
	cmake --preset release -DVARDEL_BUILD_BENCH=ON >/dev/null
	cmake --build --preset release -j $(JOBS)

clean:
	rm -rf build

# Long run of the simulator core on the liver: 10,000 steps with seeded random
# cut strokes, force drags, fixation clicks and collision detection; it checks
# the structures, finiteness and memory growth and prints its figures.
SOAK_STEPS ?= 10000
.PHONY: soak
soak: build-dev
	build/dev/bin/soak --scene scenes/LiverScene.txt --steps $(SOAK_STEPS)
