# make run: install what is missing, build and start Tarnwick.
# make test: install what is missing, build and run every test.
BUILD ?= build
JOBS ?= $(shell nproc)
CCACHE := $(shell command -v ccache 2>/dev/null)

.PHONY: all deps configure build run test bench install clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/bin/tarnwick $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),$(HOME)/.local)

clean:
	rm -rf $(BUILD)
