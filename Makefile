# Two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
TEST_BUILD ?= build-test
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
WIN_BUILD  ?= build-windows
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# `make install` puts the program under PREFIX, staged below DESTDIR when that is set.
PREFIX     ?= /usr/local
DESTDIR    ?=

# `make install STRIP=1` strips the installed programs.
STRIP      ?=

.PHONY: run build test deps bench fuzz clean install install-strip uninstall package windows test-windows

# Only what building and running needs is installed, and only the programs are built (the window,
# zbeacon-cli, zbeacon-sim), without tests or benchmarks.
run: build
	./$(BUILD)/ZBeacon

build:
	@scripts/setup-deps --run
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target programs

# Sanitized test build (AddressSanitizer + UndefinedBehaviorSanitizer), all tests headless; then the tests
# of the threaded parts (device, platform, link) once more under ThreadSanitizer. Test builds treat
# warnings as errors.
test: deps
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZB_SANITIZE=ON -DZB_TESTS=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZB_TSAN=ON -DZB_TESTS=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_device test_platform test_link
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Optimised build of the tools and benchmarks (not part of `make test`).
bench:
	@scripts/setup-deps --run
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

# Installs what `make build` built (build first as yourself, then install as root if PREFIX needs it).
# The folders that the install creates are noted in $(BUILD)/install_folders.txt for `make uninstall`.
install:
	@test -x $(BUILD)/ZBeacon || { echo "make install: nothing built in $(BUILD); run 'make build' first" >&2; exit 1; }
	@scripts/install-folders "$(BUILD)" "$(PREFIX)" "$(DESTDIR)"
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"$(if $(filter-out 0,$(STRIP)), --strip)

install-strip:
	@$(MAKE) --no-print-directory install STRIP=1

# Removes every file that the last `make install` recorded, then the folders it created, those that are
# empty now (give the same DESTDIR as there).
uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "make uninstall: no $(BUILD)/install_manifest.txt" >&2; exit 1; }
	sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt | xargs -d '\n' rm -f --
	@if [ -f $(BUILD)/install_folders.txt ]; then \
	    sed 's|^|$(DESTDIR)|' $(BUILD)/install_folders.txt | xargs -r -d '\n' rmdir --ignore-fail-on-non-empty -- 2>/dev/null; \
	    rm -f $(BUILD)/install_folders.txt; \
	fi

# Debian packages of an optimised build, in $(BUILD): zindle-beacon-setup_<version>_<arch>.deb (the
# window) and zbeacon-cli_<version>_<arch>.deb (the tools that need no display; the window's package
# depends on it).
package:
	@scripts/setup-deps --package
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && cpack -G DEB

# libFuzzer targets built with clang under AddressSanitizer and UBSan; run them with scripts/fuzz-run.
# (`make test` runs the same targets, built with the test build, over their corpora.)
fuzz:
	@scripts/setup-deps --fuzz
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_FUZZ=ON -DZB_TESTS=OFF \
	      -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# The Windows programs, cross-built with MinGW-w64 against Qt cross-built once from Debian's sources (the
# first run builds that Qt, about 40 minutes on 2 cores; see scripts/build-qt-mingw): the program folder
# $(WIN_BUILD)/ZindleBeaconSetup, its zip and its installer in $(WIN_BUILD).
WIN_CONFIGURE = cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	-DCMAKE_BUILD_TYPE=Release -DZB_TESTS=ON -DCMAKE_PREFIX_PATH="$$(scripts/build-qt-mingw --print-prefix)" \
	-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/cmake \
	-DCMAKE_CROSSCOMPILING_EMULATOR="$(CURDIR)/scripts/wine-run"
windows:
	@scripts/setup-deps --windows
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target windows_package

# The tests that need no pseudo-terminal, cross-built and run under Wine, and the Windows programs as an
# operator meets them: the command-line tool's output against the Linux build's, the window on a virtual
# display, the installer and the uninstaller.
test-windows: windows
	cmake --build $(WIN_BUILD) -j $(JOBS) --target windows_tests
	cd $(WIN_BUILD) && ctest --output-on-failure

# Everything `make test` needs (building, packaging and testing).
deps:
	@scripts/setup-deps

# Removes what the builds made (programs, objects, generated files) and nothing else: a program run from
# its build folder keeps zbeacon.ini, default.txt and the operator's command files there.
clean:
	@for dir in $(BUILD) $(TEST_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD); do \
	    if [ -f "$$dir/CMakeCache.txt" ]; then cmake --build "$$dir" --target clean || exit 1; fi; \
	done
