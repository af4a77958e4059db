# The two commands of the README:
#   make demo   builds the shipping plug-in and shows what it does
#   make test   builds all four builds and runs every test
# Both install missing Debian packages first. `make release` writes the installer and the
# zip to dist/.

.PHONY: demo test release deps native native-asan i686 x86_64 fuzz clean

JOBS ?= $(shell nproc)

# Link and file times from the last commit, so the same sources give the same bytes.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
ifneq ($(SOURCE_DATE_EPOCH),)
export SOURCE_DATE_EPOCH
endif

deps:
	@tools/install-deps.sh

native i686 x86_64 native-asan: deps
	cmake --preset $@ >/dev/null
	cmake --build --preset $@ -j $(JOBS)

# The i686 tests run the shipping DLL under the 32-bit Wine of a chroot in the build tree
# (made on first use, a few minutes), once with Debian 12's Wine 8 and once with Debian
# 13's Wine 10; where a chroot cannot be made its tests are skipped, and the line before
# them says why. One at a time: a chroot runs one program at a time.
test: native native-asan i686 x86_64
	ctest --preset native -j $(JOBS)
	ctest --preset native-asan -j $(JOBS)
	TARNEVOX_WINE_PREFIXES="$(CURDIR)/build/x86_64/wineprefix" \
	  tools/run-with-xvfb.sh ctest --preset x86_64 -j $(JOBS)
	@echo "== The shipping DLL under 32-bit Wine in build/i686/wine32-root:"
	@sha256sum build/i686/bin/vis_tarnevox.dll build/i686/bin/capture/vis_tarnevox.dll
	@tools/wine32-root.sh prepare build/i686/wine32-root || [ $$? -eq 77 ]
	ctest --preset i686
	@echo "== The same under Debian 13's Wine 10 in build/i686/wine10-root, with the screen test:"
	@tools/wine32-root.sh --wine 10 prepare build/i686/wine10-root || [ $$? -eq 77 ]
	ctest --preset i686-wine10

demo: i686 x86_64
	tools/demo.sh

release: deps
	tools/release.sh

clean:
	rm -rf build out dist

# The analysis under libFuzzer for three minutes (clang; not part of `make test`).
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target analysis_fuzz
	mkdir -p build/fuzz/corpus
	build/fuzz/bin/analysis_fuzz -max_len=1152 -len_control=0 -max_total_time=180 build/fuzz/corpus
