# make demo   -- the modem simulator and a walk through the library's features
# make test   -- build everything and run the whole test suite
# make tsan   -- the test suite under ThreadSanitizer
# make asan   -- the test suite under AddressSanitizer and UBSan
# make bench  -- the benchmarks (with the peer library's comparison when
#                its development package is present: make bench-deps)
# make fuzz   -- each libFuzzer target for FUZZ_SECONDS (60) seconds
# make install -- the library's tool `veskgsm` into PREFIX/bin (PREFIX=/usr/local)
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

# CLI11 and nlohmann-json are for the `veskgsm` tool only, and gammu, a
# common AT client, is run against the simulator by the tests; the library
# needs none of them.
APT_PACKAGES := cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev \
                libcli11-dev nlohmann-json3-dev gammu
# The "-posix" mingw compilers: the default ones lack std::thread.
WINDOWS_APT_PACKAGES := cmake make googletest g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# The fuzz targets need clang; the benchmarks compare with a peer library.
FUZZ_PACKAGES := clang libclang-rt-dev
# Only the benchmarks use it, to compare with; the library never does.
BENCH_PACKAGES := libgammu-dev

.PHONY: all deps deps-windows fuzz-deps bench-deps configure build test tsan asan bench fuzz demo install windows test-windows clean

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

deps-windows:
	$(call apt_install,$(WINDOWS_APT_PACKAGES),--no-install-recommends)

fuzz-deps:
	@$(MAKE) --no-print-directory deps APT_PACKAGES="cmake make $(FUZZ_PACKAGES)"

bench-deps:
	@$(MAKE) --no-print-directory deps APT_PACKAGES="$(APT_PACKAGES) $(BENCH_PACKAGES)"

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_WERROR=ON $(CMAKE_ARGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

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
           fuzz_framing fuzz_read_answers fuzz_status_report
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

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target veskgsm-tool
	$(BUILD)/tools/cli/veskgsm demo

install: configure
	cmake --build $(BUILD) -j $(JOBS) --target veskgsm-tool
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
