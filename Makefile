# make demo   -- the modem simulator and a walk through the library's features
#                (installs only what the tool needs: no test packages)
# make test   -- build everything and run the whole test suite
# make check-fast -- the layer check and the pure tests (framework, codec,
#                AT answer layer): seconds, for the edit loop
# make check-layers -- each file includes only what its layer may use
# make format-check -- the C++ lines changed since main (or the previous
#                commit) against .clang-format; make format rewrites them
# make crash-test -- the gateway killed 20 times at random moments while 4
#                simulated modems receive 200 messages and send 200 (CI)
# make multihost-test -- three gateways with 2 simulated modems each on one
#                PostgreSQL database send 600 messages, one killed with
#                SIGKILL holding a claim (CI)
# make tsan   -- the test suite under ThreadSanitizer
# make asan   -- the test suite under AddressSanitizer and UBSan
# make bench  -- the benchmarks (with the peer library's comparison when
#                its development package is present: make bench-deps)
# make fuzz   -- each libFuzzer target for FUZZ_SECONDS (60) seconds
# make install -- the library (static; CMAKE_ARGS=-DVESK_SHARED=ON for a shared
#                one), its headers under PREFIX/include/veskgsm, its CMake and
#                pkg-config files, and the tool `veskgsm` (PREFIX=/usr/local)
# make windows      -- cross-build the library, tests and examples as Windows
#                      executables with mingw-w64 (in build-windows)
# make test-windows -- run the Windows tests under Wine, COM5 mapped to the
#                      modem simulator (needs root or sudo for a private
#                      mount namespace that hides the real serial ports)
#
# Missing build tools are installed with apt-get (through sudo when not root).

BUILD      ?= build
TSAN_BUILD ?= build-tsan
ASAN_BUILD ?= build-asan
WIN_BUILD  ?= build-windows
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

# What the demo and the tool need: CLI11 and nlohmann-json are for the
# `veskgsm` tool only; SQLite, toml++, cpp-httplib (its HTTP API and
# webhooks, found through pkg-config), OpenSSL and libpq for its gateway
# (`veskgsm serve`); the library needs none of them.
DEMO_APT_PACKAGES := cmake g++ make libcli11-dev nlohmann-json3-dev libsqlite3-dev libtomlplusplus-dev \
                     pkg-config libcpp-httplib-dev libssl-dev libpq-dev
# What the tests need besides: GoogleTest, Google Benchmark (the benchmarks
# build with the tests), pkg-config for the installed package's test,
# gammu, a common AT client the tests run against the simulator (it brings
# systemd and udev onto a fresh machine, so the demo does without it), a
# PostgreSQL server the gateway's tests start on a folder of their own,
# Chromium, which loads the gateway's status page headless, and Python,
# which checks a webhook's signature as the README shows a receiver doing.
TEST_APT_PACKAGES := googletest libgtest-dev libgmock-dev libbenchmark-dev pkg-config gammu postgresql chromium \
                     python3
APT_PACKAGES := $(DEMO_APT_PACKAGES) $(TEST_APT_PACKAGES)
FORMAT_PACKAGES := clang-format git
# The "-posix" mingw compilers: the default ones lack std::thread.
WINDOWS_APT_PACKAGES := cmake make googletest g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# The fuzz targets need clang; the benchmarks compare with a peer library.
FUZZ_PACKAGES := clang libclang-rt-dev
# Only the benchmarks use it, to compare with; the library never does.
BENCH_PACKAGES := libgammu-dev

.PHONY: all deps demo-deps deps-windows fuzz-deps bench-deps format-deps configure configure-demo build test \
        check-fast check-layers format-check format crash-test multihost-test tsan asan bench fuzz demo install \
        windows test-windows clean

all: build

# $(call apt_install,packages,extra apt-get options)
define apt_install
	@missing=""; \
	for p in $(1); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $(2) $$missing; \
	fi
endef

deps:
	$(call apt_install,$(APT_PACKAGES),)

demo-deps:
	$(call apt_install,$(DEMO_APT_PACKAGES),)

format-deps:
	$(call apt_install,$(FORMAT_PACKAGES),--no-install-recommends)

deps-windows:
	$(call apt_install,$(WINDOWS_APT_PACKAGES),--no-install-recommends)

# The gateway's packages too: fuzz_http_api is built on it.
fuzz-deps:
	@$(MAKE) --no-print-directory deps APT_PACKAGES="$(DEMO_APT_PACKAGES) $(FUZZ_PACKAGES)"

bench-deps:
	@$(MAKE) --no-print-directory deps APT_PACKAGES="$(APT_PACKAGES) $(BENCH_PACKAGES)"

CONFIG_ARGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_WERROR=ON

# One build folder for both: the demo configures it without the tests when
# it is new (GoogleTest then need not be installed), and everything that
# runs tests turns them on.
configure: deps
	@if [ ! -f $(BUILD)/CMakeCache.txt ] || grep -q '^VESK_BUILD_TESTS:BOOL=OFF' $(BUILD)/CMakeCache.txt; then \
	  echo cmake -S . -B $(BUILD) $(CONFIG_ARGS) -DVESK_BUILD_TESTS=ON $(CMAKE_ARGS); \
	  cmake -S . -B $(BUILD) $(CONFIG_ARGS) -DVESK_BUILD_TESTS=ON $(CMAKE_ARGS); \
	fi

configure-demo: demo-deps
	@if [ ! -f $(BUILD)/CMakeCache.txt ]; then \
	  echo cmake -S . -B $(BUILD) $(CONFIG_ARGS) -DVESK_BUILD_TESTS=OFF $(CMAKE_ARGS); \
	  cmake -S . -B $(BUILD) $(CONFIG_ARGS) -DVESK_BUILD_TESTS=OFF $(CMAKE_ARGS); \
	fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# The tests of the pure layers run in well under a second; building them is
# the rest.
check-fast: configure check-layers
	cmake --build $(BUILD) -j $(JOBS) --target framework_tests codec_tests at_tests
	$(BUILD)/tests/framework_tests --gtest_brief=1
	$(BUILD)/tests/codec_tests --gtest_brief=1
	$(BUILD)/tests/at_tests --gtest_brief=1

check-layers:
	tools/check-layers.sh

format-check: format-deps
	tools/check-format.sh

format: format-deps
	tools/check-format.sh --fix

# make test runs a short round of it (4 kills); this is the full one.
crash-test: build
	@start=$$(date +%s); \
	$(BUILD)/tools/gateway/gateway_crash_harness --binary $(BUILD)/tools/cli/veskgsm \
	  --kills 20 --modems 4 --incoming 200 --outgoing 200; status=$$?; \
	echo "crash-test took $$(( $$(date +%s) - start )) s"; exit $$status

# make test runs a short round of it (120 messages); this is the full one.
multihost-test: build
	@start=$$(date +%s); \
	$(BUILD)/tools/gateway/gateway_multihost_harness --binary $(BUILD)/tools/cli/veskgsm --messages 600 --incoming 60; \
	status=$$?; echo "multihost-test took $$(( $$(date +%s) - start )) s"; exit $$status

tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVESK_TSAN=ON -DVESK_WERROR=ON -DVESK_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j $(JOBS) --timeout 600

asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVESK_ASAN=ON -DVESK_WERROR=ON -DVESK_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1" \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

bench: bench-deps build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# Each target runs on a copy of its seed corpus (fuzz/corpus_<name>), so the
# seeds in the tree stay as they are; findings go to $(FUZZ_BUILD)/findings.
FUZZERS := fuzz_deliver fuzz_udh fuzz_text_sms fuzz_extract_strings fuzz_dispatcher fuzz_simulator_at \
           fuzz_framing fuzz_read_answers fuzz_status_report fuzz_http_api
fuzz: fuzz-deps
	CXX=clang++ CC=clang cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_BUILD_FUZZ=ON \
	  -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZERS)
	@mkdir -p $(FUZZ_BUILD)/findings
	@for f in $(FUZZERS); do \
	  name=$${f#fuzz_}; rm -rf $(FUZZ_BUILD)/corpus_$$name; mkdir -p $(FUZZ_BUILD)/corpus_$$name; \
	  cp fuzz/corpus_$$name/* $(FUZZ_BUILD)/corpus_$$name/; \
	  echo "== $$f: $(FUZZ_SECONDS) s"; \
	  $(FUZZ_BUILD)/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -malloc_limit_mb=512 \
	    -max_len=4096 -timeout=10 -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/findings/$$name- \
	    $(FUZZ_BUILD)/corpus_$$name > $(FUZZ_BUILD)/$$name.log 2>&1; status=$$?; \
	  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE" $(FUZZ_BUILD)/$$name.log; \
	  echo "   corpus: $$(ls $(FUZZ_BUILD)/corpus_$$name | wc -l) files"; \
	  if [ $$status -ne 0 ]; then tail -40 $(FUZZ_BUILD)/$$name.log; exit 1; fi; \
	done

demo: configure-demo
	cmake --build $(BUILD) -j $(JOBS) --target veskgsm-tool
	$(BUILD)/tools/cli/veskgsm demo

install: configure-demo
	cmake --build $(BUILD) -j $(JOBS) --target veskgsm veskgsm-tool
	$(SUDO) cmake --install $(BUILD) --prefix $(PREFIX)

windows: deps-windows
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVESK_WERROR=ON -DVESK_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(WIN_BUILD) -j $(JOBS)

# The simulator runs natively beside Wine: it comes from the Linux build.
test-windows: windows configure
	cmake --build $(BUILD) -j $(JOBS) --target veskgsm-sim
	timeout 900 tools/wine/run-tests.sh $(WIN_BUILD) $(BUILD)/tools/simulator/veskgsm-sim

clean:
	rm -rf $(BUILD) $(TSAN_BUILD) $(ASAN_BUILD) $(WIN_BUILD) $(FUZZ_BUILD)
