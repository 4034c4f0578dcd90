# Two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
TEST_BUILD ?= build-test
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# `make install` puts the program under PREFIX, staged below DESTDIR when that is set.
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: run build test deps bench fuzz clean install uninstall package

run: build
	./$(BUILD)/ZBeacon

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

# Sanitized test build (AddressSanitizer + UndefinedBehaviorSanitizer), all tests headless.
test: deps
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZB_SANITIZE=ON -DZB_TESTS=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)

# Optimised build of the tools and benchmarks (not part of `make test`).
bench: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

# Installs what `make build` built (build first as yourself, then install as root if PREFIX needs it).
install:
	@test -x $(BUILD)/ZBeacon || { echo "make install: nothing built in $(BUILD); run 'make build' first" >&2; exit 1; }
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Removes every file that the last `make install` recorded (give the same DESTDIR as there).
uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "make uninstall: no $(BUILD)/install_manifest.txt" >&2; exit 1; }
	sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt | xargs -d '\n' rm -f --

# Debian package of an optimised build: $(BUILD)/zindle-beacon-setup_<version>_<arch>.deb
package: build
	cd $(BUILD) && cpack -G DEB

# libFuzzer targets built with clang under AddressSanitizer and UBSan; run them with scripts/fuzz-run.
# (`make test` runs the same targets, built with the test build, over their corpora.)
fuzz:
	@scripts/setup-deps --fuzz
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_FUZZ=ON -DZB_TESTS=OFF \
	      -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

deps:
	@scripts/setup-deps

# Removes what the builds made (programs, objects, generated files) and nothing else: a program run from
# its build folder keeps zbeacon.ini, default.txt and the operator's command files there.
clean:
	@for dir in $(BUILD) $(TEST_BUILD) $(FUZZ_BUILD); do \
	    if [ -f "$$dir/CMakeCache.txt" ]; then cmake --build "$$dir" --target clean || exit 1; fi; \
	done
