# Vardel: `make run` builds and starts the simulator on the bundled liver scene,
# `make test` builds and runs every test, normally and under ASan + UBSan.
JOBS ?= $(shell nproc)
PACKAGES = build-essential cmake pkg-config libglfw3-dev libepoxy-dev libegl-dev libimgui-dev \
  libstb-dev fonts-dejavu-core libgtest-dev libbenchmark-dev libeigen3-dev libtinyobjloader-dev \
  libegl-mesa0 libgl1-mesa-dri libegl1 libgl1 xvfb xauth clang libclang-rt-14-dev
SUDO = $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: run test deps build-release build-dev build-asan test-dev test-asan bench clean

# Installs only what is missing, so a prepared machine does not touch apt.
deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
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
