#!/usr/bin/env bash
# Runs each fuzz target for SECONDS (default 60): the profile readers, seeded
# from the test inputs, the --fix reader with what its pairs must hold, and
# the peak-list readers with the import, and the structure reader with
# predict on what it reads. Any crash, hang or sanitizer report fails the
# run; the input is kept in build-fuzz/findings for adding to
# tests/fuzz/regressions (or fix_regressions, peaks_regressions,
# structure_regressions).
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="${missing:-} $p"
done
if [ -n "${missing:-}" ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi
cmake -S . -B build-fuzz -DPREASSIGN_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target reader_fuzzer fix_fuzzer peaks_fuzzer structure_fuzzer -j "$(nproc)" >/dev/null
rm -rf build-fuzz/corpus build-fuzz/fix_corpus build-fuzz/peaks_corpus build-fuzz/structure_corpus build-fuzz/findings
mkdir -p build-fuzz/corpus build-fuzz/fix_corpus build-fuzz/peaks_corpus build-fuzz/structure_corpus build-fuzz/findings
for f in tests/golden/*/sim.txt; do { printf '0'; cat "$f"; } > "build-fuzz/corpus/$(basename "$(dirname "$f")")_sim"; done
for f in tests/golden/*/obs.txt; do { printf '1'; cat "$f"; } > "build-fuzz/corpus/$(basename "$(dirname "$f")")_obs"; done
cp tests/fuzz/regressions/* build-fuzz/corpus/
cp tests/fuzz/fix_regressions/* build-fuzz/fix_corpus/
cp tests/fuzz/peaks_regressions/* build-fuzz/peaks_corpus/
cp tests/fuzz/structure_regressions/* build-fuzz/structure_corpus/
for target in reader_fuzzer:corpus fix_fuzzer:fix_corpus peaks_fuzzer:peaks_corpus structure_fuzzer:structure_corpus; do
  build-fuzz/tests/${target%%:*} build-fuzz/${target#*:} -max_total_time="$secs" -timeout=2 -max_len=65536 \
    -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 2>&1 | tail -n 12
done
