# make run: install what is missing, build and start Tarnwick.
# make test: install what is missing, build and run every test.
# make test-sanitize: the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
# make deb: the Debian package of the normal build (CPack), build/tarnwick_VERSION_ARCH.deb.
BUILD ?= build
SAN_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
# Looked up when a rule runs, after deps may have installed it.
CCACHE = $(shell command -v ccache 2>/dev/null)

.PHONY: all deps configure build run test test-sanitize bench install deb clean

all: build

deps:
	@bash scripts/install-deps.sh

# Line tables only (-g1): file and line in every backtrace, at a sixth less compile time than full -g.
$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
	  $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/bin/tarnwick $(ARGS)

test: build
	@bash scripts/ctest.sh $(BUILD) $(JOBS) --timeout 600

$(SAN_BUILD)/build.ninja:
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
	  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" -DTARNWICK_SANITIZE=ON \
	  $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# Leaks of the libraries we do not own are suppressed (tests/sanitize/lsan.supp); every report fails the test.
test-sanitize: deps $(SAN_BUILD)/build.ninja
	cmake --build $(SAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  bash scripts/ctest.sh $(SAN_BUILD) $(JOBS) --timeout 1800

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),$(HOME)/.local)

deb: build
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/tarnwick_*.deb

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
