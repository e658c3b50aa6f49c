# make demo   -- the modem simulator and a walk through the library's features
# make test   -- build everything and run the whole test suite
# make tsan   -- the test suite under ThreadSanitizer
# make asan   -- the test suite under AddressSanitizer and UBSan
# make bench  -- the benchmarks (with the peer library's comparison when
#                its development package is present: make bench-deps)
# make fuzz   -- each libFuzzer target for FUZZ_SECONDS (60) seconds
#
# Missing build tools are installed with apt-get (through sudo when not root).

BUILD      ?= build
TSAN_BUILD ?= build-tsan
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

APT_PACKAGES := cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
FUZZ_PACKAGES := clang libclang-rt-dev
# Only the benchmarks use it, to compare with; the library never does.
BENCH_PACKAGES := libgammu-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps fuzz-deps bench-deps configure build test tsan asan bench fuzz demo clean

all: build

deps:
	@missing=""; \
	for p in $(APT_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$missing; \
	fi

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
FUZZERS := fuzz_deliver fuzz_udh fuzz_text_sms fuzz_extract_strings fuzz_dispatcher fuzz_simulator_at
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
	cmake --build $(BUILD) -j $(JOBS) --target veskgsm-demo
	$(BUILD)/tools/demo/veskgsm-demo

clean:
	rm -rf $(BUILD) $(TSAN_BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
