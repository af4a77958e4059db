# The two commands of the README:
#   make demo   builds the shipping plug-in and shows what it does
#   make test   builds all three builds and runs every test
# Both install missing Debian packages first.

.PHONY: demo test deps native native-asan i686 x86_64 fuzz clean

JOBS ?= $(shell nproc)

deps:
	@tools/install-deps.sh

native i686 x86_64 native-asan: deps
	cmake --preset $@ >/dev/null
	cmake --build --preset $@ -j $(JOBS)

test: native native-asan i686 x86_64
	ctest --preset native -j $(JOBS)
	ctest --preset native-asan -j $(JOBS)
	ctest --preset i686
	TARNEVOX_WINE_PREFIXES="$(CURDIR)/build/x86_64/wineprefix" \
	  tools/run-with-xvfb.sh ctest --preset x86_64 -j $(JOBS)

demo: i686 x86_64
	tools/demo.sh

clean:
	rm -rf build out

# The analysis under libFuzzer for three minutes (clang; not part of `make test`).
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target analysis_fuzz
	mkdir -p build/fuzz/corpus
	build/fuzz/bin/analysis_fuzz -max_len=1152 -len_control=0 -max_total_time=180 build/fuzz/corpus
