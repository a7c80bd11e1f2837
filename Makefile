# Thin wrapper over CMake/CTest. Every target installs what is missing first.
BUILD_DIR ?= build
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: deps configure build test demo run bench package screenshots fuzz format clean windows windows-test mutate

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD_DIR)

run: build
	@scripts/run $(BUILD_DIR)

bench: build
	@scripts/bench $(BUILD_DIR)

# Breaks the program on purpose with each mistake in tests/mutations.txt, on a copy under .cache/mutate, and
# scores the tests; MUTATE=pattern picks some (e.g. make mutate MUTATE=pack).
mutate: deps
	@nice scripts/mutate $(MUTATE)

package: build
	@cd $(BUILD_DIR) && cpack -G DEB

# Pictures of the windows for the manual, drawn under a virtual X display.
screenshots: build
	@xvfb-run -a -s "-screen 0 1280x1024x24" $(BUILD_DIR)/tools/screenshots/hexaloom_screenshots docs

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEXALOOM_FUZZ=ON > /dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)
	@scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

# The Windows program, cross-built: Qt for Windows is built once into .cache/ (most of an hour), then
# build-windows/Hexaloom-<version>-win64.zip. windows-test proves it under wine.
windows:
	@scripts/build-windows build-windows

windows-test: windows build
	@scripts/test-windows build-windows $(BUILD_DIR)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_DIR) build-windows
