#!/usr/bin/env bash
# Crash safety: starts `votar delete` and `votar add` (native) on an archive
# of some tens of megabytes, kills the process with SIGKILL at a random
# moment, and checks that the archive is byte for byte the old one or the new
# one. Counts the temporary files a killed run leaves behind.
#   bash fuzz/crash.sh [TRIALS]
set -euo pipefail
cd "$(dirname "$0")/.."
TRIALS=${1:-20}
VOTAR=${VOTAR:-${VOTAR_BUILD:-build}/native/bin/votar}
[ -x "$VOTAR" ] || { echo "crash.sh: build $VOTAR first" >&2; exit 2; }
VOTAR=$(realpath "$VOTAR")
export ASAN_OPTIONS=detect_leaks=0
work=$(mktemp -d /tmp/votar-crash-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# 40 files of 1 MiB, with fixed times, so that every run writes the same bytes.
mkdir src
for i in $(seq -w 1 40); do
  head -c 1048576 /dev/urandom > "src/f$i.bin"
done
head -c 3000000 /dev/urandom > src/extra.bin
touch -d @1000000000 src/*
"$VOTAR" add base.tar $(cd src && ls f*.bin) --root src >/dev/null

# The archives a complete run leaves, and how long a run takes: the kills
# fall anywhere within that time.
ms() { echo $(( $(date +%s%N) / 1000000 )); }
start=$(ms)
cp base.tar deleted.tar && "$VOTAR" delete deleted.tar 'f0*.bin' >/dev/null
cp base.tar added.tar && "$VOTAR" add added.tar extra.bin --root src >/dev/null
span=$(( ($(ms) - start) / 2 + 1 ))
old=$(sha256sum < base.tar)
declare -A new=([delete]=$(sha256sum < deleted.tar) [add]=$(sha256sum < added.tar))

torn=0; olds=0; news=0; leftovers=0
for trial in $(seq 1 "$TRIALS"); do
  op=$([ $((trial % 2)) = 0 ] && echo delete || echo add)
  cp base.tar t.tar
  if [ $op = delete ]; then
    "$VOTAR" delete t.tar 'f0*.bin' >/dev/null 2>&1 &
  else
    "$VOTAR" add t.tar extra.bin --root src >/dev/null 2>&1 &
  fi
  pid=$!
  delay=$((RANDOM % span))
  sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
  kill -KILL $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  sum=$(sha256sum < t.tar)
  if [ "$sum" = "$old" ]; then
    olds=$((olds + 1))
  elif [ "$sum" = "${new[$op]}" ]; then
    news=$((news + 1))
  else
    torn=$((torn + 1))
    echo "trial $trial ($op): the archive is neither the old one nor the new one"
  fi
  n=$(ls | grep -c '\.\$SC$' || true)
  leftovers=$((leftovers + n))
  rm -f ./*'.$SC'
done
echo "crash trials: $TRIALS, old archive: $olds, new archive: $news, torn: $torn, temporary files left: $leftovers"
[ $torn = 0 ]
