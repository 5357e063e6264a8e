# Two entry points for a fresh machine: `make run` and `make test`.
# Both install missing packages first (apt-get, as root or through sudo).
# BUILD=dir picks the build directory, SANITIZE=ON builds with ASan + UBSan
# (in build-asan unless BUILD says otherwise: a tree configured without them
# would be reused as it is), ARGS="..." passes arguments to `make run`.
# `make guard SANITIZE=ON` runs the crash guard (every function with a value
# of every datatype) under the sanitizers.
SANITIZE ?= OFF
BUILD ?= $(if $(filter ON,$(SANITIZE)),build-asan,build)
BUILD_TYPE ?= RelWithDebInfo
ARGS ?=
JOBS ?= $(shell nproc)
PACKAGES := cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libssl-dev libcurl4-openssl-dev python3 zlib1g-dev libpng-dev libjpeg62-turbo-dev libtiff-dev libgif-dev libgtk-3-dev libcairo2-dev libpango1.0-dev fonts-dejavu xvfb xauth xdotool x11-apps netpbm
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: all deps build run test guard clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKIV_SANITIZE=$(SANITIZE)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/kiv $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

guard: build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -R '^guard/'

clean:
	rm -rf $(BUILD)
