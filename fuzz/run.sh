#!/usr/bin/env bash
# Runs the fuzz targets (archives through files, archives in memory, and
# the name rules) for SECONDS each (default 30) on the seed corpus
# from tests/data, keeping what they learn in build/fuzz/corpus-*.
#   bash fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
BUILD=${VOTAR_BUILD:-build}/fuzz
CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOTAR_FUZZ=ON -DVOTAR_TESTS=OFF >/dev/null
ninja -C "$BUILD" archive_fuzzer names_fuzzer scan_fuzzer >/dev/null

# Seeds: every archive of tests/data, once as it is and once with its
# checksums recomputed by the harness (first byte odd).
seeds="$BUILD/seeds-archive"
mkdir -p "$seeds" "$BUILD/corpus-archive" "$BUILD/corpus-names" "$BUILD/corpus-scan"
for f in tests/data/*.tar fuzz/seeds/*.tar; do
  [ -f "$f" ] || continue
  [ "$(stat -c %s "$f")" -le 65536 ] || continue
  b=$(basename "$f" .tar)
  { printf '\0'; cat "$f"; } > "$seeds/$b-0"
  { printf '\1'; cat "$f"; } > "$seeds/$b-1"
done
# Compressed seeds, for the archive fuzzer, which reads through the
# decoders (the scanner reads plain tar only): the same small archives by
# each codec, as they are only, since new checksums would break the stream.
zseeds="$BUILD/seeds-compressed"
mkdir -p "$zseeds"
for f in tests/data/*.tar fuzz/seeds/*.tar; do
  [ -f "$f" ] || continue
  for codec in gzip xz zstd bzip2; do
    z="$zseeds/$(basename "$f" .tar).$codec"
    { printf '\0'; $codec -c < "$f"; } > "$z"
    [ "$(stat -c %s "$z")" -le 65536 ] || rm "$z"
  done
done
printf '*.TXT\0docs/A.txt' > "$BUILD/corpus-names/seed-1"
printf 'DOCS\\*.*\0..\\..\\x' > "$BUILD/corpus-names/seed-2"
printf '**?*\0\\\\srv\\share\\CON.txt' > "$BUILD/corpus-names/seed-3"

status=0
run() {
  local target=$1 log="$BUILD/$1.log" rc=0; shift
  echo "== $target for ${SECONDS_EACH}s"
  "$BUILD/bin/$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$BUILD/" "$@" >"$log" 2>&1 || rc=$?
  grep -E "^(stat::number_of_executed_units|stat::new_units_added|Done |SUMMARY)|ERROR" "$log" || true
  [ $rc = 0 ] || echo "$target: exit $rc, log in $log, inputs in $BUILD/crash-* or timeout-*"
  return $rc
}
run archive_fuzzer -dict=fuzz/tar.dict "$BUILD/corpus-archive" "$seeds" "$zseeds" || status=1
run scan_fuzzer -dict=fuzz/tar.dict "$BUILD/corpus-scan" "$seeds" || status=1
run names_fuzzer "$BUILD/corpus-names" || status=1
[ $status = 0 ] && echo "fuzzing: no findings" || echo "fuzzing: FINDINGS (see crash-* files)"
exit $status
