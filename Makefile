# The two commands: `make demo` runs the simulator's built-in tour, `make test` runs every test,
# plain and under AddressSanitizer and UndefinedBehaviorSanitizer, and the page of `vexori-sim
# serve` in Debian's chromium. Both install what they need.

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
EXPLORE_BUILD ?= build-explore
EXPLORE_SCHEDULES ?= 2000
FUZZ_SECONDS ?= 120
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES   := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libfmt-dev \
              nlohmann-json3-dev libcli11-dev libpugixml-dev clang-format \
              binutils-mingw-w64-x86-64 python3 libcairo2-dev fonts-dejavu-core pkg-config \
              libcpp-httplib-dev libmimalloc-dev
FUZZ_PACKAGES := clang
WINE_PACKAGES := g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine
# What `make wine-screenshot` adds: an X server without a screen, xwininfo, xwd, and netpbm for the PNG.
SCREENSHOT_PACKAGES := xvfb x11-utils x11-apps netpbm
# What `make browser-test` adds: Debian's chromium, and Node.js with npm where the machine has none.
BROWSER_PACKAGES := chromium $(if $(shell command -v npm 2>/dev/null),,nodejs npm)
# `make browser-test SCREENSHOTS=docs/img` also draws the page's pictures there.
SCREENSHOTS ?=
WIN32_BUILD ?= build-win32
WIN32_I686_BUILD ?= build-win32-i686
SUDO       := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# ccache, where it is installed, shares compiled objects between checkouts of the same tree.
CCACHE     := $(shell command -v ccache 2>/dev/null)
LAUNCHER   := $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

# Installs with apt-get those of the packages $(1) that are missing, with apt-get's options $(2).
# A package removed but not purged still has a status, "deinstall ok config-files": missing.
define install
@missing=$$(for p in $(1); do \
  [ "$$(dpkg-query -W -f='$${Status}' $$p 2>/dev/null)" = "install ok installed" ] || echo $$p; \
done); \
if [ -n "$$missing" ]; then \
  echo "installing:" $$missing; \
  $(SUDO) apt-get update -q && \
  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $(2) $$missing; \
fi
endef

.PHONY: all deps fuzz-deps wine-deps screenshot-deps browser-deps browser-test build-win32 wine-test wine-table wine-screenshot build build-asan demo test test-plain test-asan fuzz explore bench format clean

all: build

deps:
	$(call install,$(PACKAGES))

# Only `make fuzz` needs clang (libFuzzer comes with it).
fuzz-deps: deps
	$(call install,$(FUZZ_PACKAGES))

# Only `make wine-test` needs the cross compilers and Wine.
wine-deps: deps
	$(call install,$(WINE_PACKAGES))

screenshot-deps: wine-deps
	$(call install,$(SCREENSHOT_PACKAGES),--no-install-recommends)

# playwright-core from tests/browser/package-lock.json drives the chromium installed here.
browser-deps: deps
	$(call install,$(BROWSER_PACKAGES),--no-install-recommends)
	cd tests/browser && npm ci --no-audit --no-fund

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER)
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVEXORI_SANITIZE=ON -DVEXORI_BENCH=OFF \
	  -DVEXORI_PREEMPT_WORDS=ON $(LAUNCHER)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

demo: build
	./$(BUILD)/vexori-sim demo

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The page of `vexori-sim serve` in a real browser: strokes drawn with the mouse, settings changed
# in its panel, what was drawn downloaded and played again, the requests it refuses.
browser-test: browser-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER)
	cmake --build $(BUILD) -j$(JOBS) --target vexori-sim
	cd tests/browser && VEXORI_SIM=$(CURDIR)/$(BUILD)/vexori-sim VEXORI_SCREENSHOTS=$(SCREENSHOTS) \
	  timeout 300 npm test

test: test-plain test-asan browser-test

# Every fuzz target under libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, FUZZ_SECONDS
# each (FUZZ_TARGETS picks some): `scenario` plays scenario texts, `samples`, `broker` and
# `settings` the system's own inputs. What a target finds new goes to $(FUZZ_BUILD)/corpus/TARGET,
# a crash or a broken rule to $(FUZZ_BUILD)/crash-*.
FUZZ_TARGETS ?= scenario samples broker settings
fuzz: fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVEXORI_SANITIZE=ON \
	  -DVEXORI_FUZZ=ON -DVEXORI_BENCH=OFF $(LAUNCHER)
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target vexori-fuzz
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t && \
	  echo "fuzzing $$t for $(FUZZ_SECONDS) s" && \
	  (cd $(FUZZ_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    ./tests/vexori-fuzz-$$t -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=60 \
	    -rss_limit_mb=2048 -print_funcs=0 -print_final_stats=1 \
	    corpus/$$t $(CURDIR)/tests/fuzz/corpus/$$t) || exit 1; \
	done

# Every example and the soak under EXPLORE_SCHEDULES pre-empting schedules, with word points in
# the system's libraries and the sanitizers on: a break stops it with the command that replays it.
explore: deps
	cmake -S . -B $(EXPLORE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXORI_SANITIZE=ON \
	  -DVEXORI_PREEMPT_WORDS=ON -DVEXORI_BENCH=OFF $(LAUNCHER)
	cmake --build $(EXPLORE_BUILD) -j$(JOBS) --target vexori-sim
	for f in scenarios/*.scn tests/explore/soak.scn; do \
	  ASAN_OPTIONS=detect_leaks=1 ./$(EXPLORE_BUILD)/vexori-sim explore $$f \
	    --schedules $(EXPLORE_SCHEDULES) || exit 1; \
	done

# The system built for desktop Win32 (64-bit, and the 32-bit compile alone, -Wall -Wextra clean)
# and played under Wine in a prefix of its own, each check beside the simulator's outcome.
# The desktop build the Wine runs use; `wine-test` and `wine-screenshot` share it.
build-win32: wine-deps
	cmake -S desktop -B $(WIN32_BUILD) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/desktop/toolchain-x86_64-w64-mingw32.cmake $(LAUNCHER)
	cmake --build $(WIN32_BUILD) -j$(JOBS)

wine-test: build-win32 build
	cmake -S desktop -B $(WIN32_I686_BUILD) -DVEXORI_COMPILE_ONLY=ON \
	  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/desktop/toolchain-i686-w64-mingw32.cmake $(LAUNCHER)
	cmake --build $(WIN32_I686_BUILD) -j$(JOBS)
	timeout 900 python3 desktop/wine/wine_test.py --sim $(BUILD)/vexori-sim \
	  --windows $(WIN32_BUILD)/windows

# The table of docs/wine.md: every example and the tour's steps on both platforms, regenerated.
wine-table: build-win32 build
	timeout 900 ./$(BUILD)/vexori-sim compare-wine scenarios/*.scn --tour --win32 $(WIN32_BUILD)/windows \
	  --markdown docs/wine.md --keep-going

# The settings dialog as Wine draws it, on an X server of its own (not run by .ci/run).
wine-screenshot: screenshot-deps build-win32
	timeout 300 python3 desktop/wine/wine_screenshot.py --windows $(WIN32_BUILD)/windows \
	  --out docs/img/wine-settings.png

bench: build
	./$(BUILD)/bench/vexori-bench

format:
	git ls-files '*.cpp' '*.h' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(EXPLORE_BUILD) tests/browser/node_modules
