#!/usr/bin/env bash
# Crash safety: starts `votar delete` and `votar add` (native) on an archive
# of some tens of megabytes, and at a random moment sends the process
# SIGKILL, SIGINT or SIGTERM in turn. The archive must be byte for byte the
# old one or the new one. A run that catches SIGINT or SIGTERM turns it into
# a stop request, after which no temporary file may be left; a run ended by
# its signal may leave one, and those are counted.
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
stopped_leftovers=0; caught_runs=0; slowest=0
signals=(KILL INT TERM)
for trial in $(seq 1 "$TRIALS"); do
  op=$([ $((trial % 2)) = 0 ] && echo delete || echo add)
  sig=${signals[$((trial % 3))]}
  cp base.tar t.tar
  # Background jobs of a script ignore SIGINT unless told otherwise.
  if [ $op = delete ]; then
    env --default-signal "$VOTAR" delete t.tar 'f0*.bin' >/dev/null 2>&1 &
  else
    env --default-signal "$VOTAR" add t.tar extra.bin --root src >/dev/null 2>&1 &
  fi
  pid=$!
  delay=$((RANDOM % span))
  sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
  # Whether votar catches the signal, from the kernel's mask of caught ones.
  caught=0
  mask=$(awk '/^SigCgt:/ { print $2 }' /proc/$pid/status 2>/dev/null || true)
  number=$(kill -l $sig)
  if [ $sig != KILL ] && [ -n "$mask" ] && (( (16#$mask >> (number - 1)) & 1 )); then
    caught=1
  fi
  sent=$(ms)
  kill -$sig $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  took=$(( $(ms) - sent ))
  [ $took -gt $slowest ] && slowest=$took
  sum=$(sha256sum < t.tar)
  if [ "$sum" = "$old" ]; then
    olds=$((olds + 1))
  elif [ "$sum" = "${new[$op]}" ]; then
    news=$((news + 1))
  else
    torn=$((torn + 1))
    echo "trial $trial ($op, SIG$sig): the archive is neither the old one nor the new one"
  fi
  n=$(ls | grep -c '\.\$SC$' || true)
  if [ $caught = 0 ]; then
    leftovers=$((leftovers + n))
  else
    caught_runs=$((caught_runs + 1))
    stopped_leftovers=$((stopped_leftovers + n))
    [ $n = 0 ] || echo "trial $trial ($op, SIG$sig): $n temporary file(s) left after a stop"
  fi
  rm -f ./*'.$SC'
done
echo "crash trials: $TRIALS, old archive: $olds, new archive: $news, torn: $torn," \
     "temporary files left: $leftovers by runs ended by their signal," \
     "$stopped_leftovers by $caught_runs runs that caught SIGINT/SIGTERM;" \
     "slowest end after a signal: $slowest ms"
[ $torn = 0 ] && [ $stopped_leftovers = 0 ]
