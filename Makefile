# The two commands of the README, and a few more for developers.
JOBS ?= $(shell nproc)

.PHONY: deps test run deb bench sanitize fuzz format check-style clean
WERROR ?= OFF
FUZZ_SECONDS ?= 60
FUZZERS = csv_fuzzer info_fuzzer hough_fuzzer lhist_fuzzer script_fuzzer measure_fuzzer picture_fuzzer \
	series_fuzzer frame_fuzzer track_fuzzer

deps:
	@scripts/install-deps.sh

test: deps
	@cmake --preset default -DTOVRA_WERROR=$(WERROR) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
	@cmake --build --preset default -j $(JOBS)
	@ctest --preset default -j $(JOBS)

run: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS) --target Tovra
	@mkdir -p build/run
	@# A copy of the samples, so that a script opened from them (demo.tvs saves its results
	@# beside its images) writes into build/run, not into the checkout.
	@rm -rf build/run/samples && cp -r samples build/run/samples
	@cd build/run && ../default/bin/Tovra --workdir . samples/stripes_256.mon

# The Debian package, build/default/tovra_VERSION_ARCH.deb: apt install ./build/default/tovra_*.deb
deb: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)
	@cd build/default && cpack -G DEB
	@ls build/default/tovra_*.deb

sanitize: deps
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize -j $(JOBS)
	@ctest --preset sanitize -j $(JOBS)

bench:
	@scripts/install-deps.sh --bench
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j $(JOBS)
	@bench/run.sh build/bench/bin

# Each fuzz target under libFuzzer for FUZZ_SECONDS seconds, from its seed corpus (copied, so the
# checkout is not written), with the libraries instrumented.
fuzz:
	@scripts/install-deps.sh --fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS) --target $(FUZZERS)
	@for f in $(FUZZERS); do \
		rm -rf build/fuzz/corpus/$$f && mkdir -p build/fuzz/corpus/$$f && cp fuzz/corpus/$$f/* build/fuzz/corpus/$$f/ && \
		echo "fuzzing $$f for $(FUZZ_SECONDS) s" && \
		(cd build/fuzz && ASAN_OPTIONS=verify_asan_link_order=0 LSAN_OPTIONS=suppressions=$(CURDIR)/fuzz/lsan.supp \
			QT_QPA_PLATFORM=offscreen \
			bin/$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(CURDIR)/build/fuzz/corpus/$$f 2>fuzz-$$f.log) && \
		grep -E "^stat::number_of_executed_units|^#[0-9]+ +DONE" build/fuzz/fuzz-$$f.log | tail -2 || \
		{ tail -40 build/fuzz/fuzz-$$f.log; exit 1; }; \
	done

format:
	@clang-format -i $$(git ls-files -co --exclude-standard '*.cpp' '*.h' '*.cc')

check-style:
	@scripts/check-style.sh build/default

clean:
	rm -rf build
