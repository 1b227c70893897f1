# The two commands of the README, and a few more for developers.
JOBS ?= $(shell nproc)

.PHONY: deps test run bench sanitize clean

deps:
	@scripts/install-deps.sh

test: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)
	@ctest --preset default -j $(JOBS)

run: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS) --target Tovra
	@build/default/bin/Tovra samples/stripes_256.mon

sanitize: deps
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize -j $(JOBS)
	@ctest --preset sanitize -j $(JOBS)

bench:
	@scripts/install-deps.sh --bench
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j $(JOBS)
	@bench/run.sh build/bench/bin

clean:
	rm -rf build
