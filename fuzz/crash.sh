#!/usr/bin/env bash
# Crash safety: starts `votar delete`, `votar add` replacing a member (both
# rebuild an archive of some tens of megabytes) and `votar add` appending to
# a smaller one (in place), and at a random moment sends the process
# SIGKILL, SIGINT or SIGTERM in turn. A rebuilt archive must be byte for
# byte the old one or the new one; an appended one too, or else every reader
# (votar, GNU tar, bsdtar, tarfile) must list and extract exactly the old
# members or exactly the new ones (fuzz/whole.py). Each trial also cuts
# short a deletion, a replacement or an addition on the same archive as
# gzip or as zstd, which rebuilds it: it must be the old bytes, or else
# read whole as the new members by every reader. A run that catches SIGINT
# or SIGTERM turns it into a stop request, after which no temporary file
# may be left; a run ended by its signal may leave one, and those are
# counted.
#   bash fuzz/crash.sh [TRIALS]
set -euo pipefail
cd "$(dirname "$0")/.."
TRIALS=${1:-20}
VOTAR=${VOTAR:-${VOTAR_BUILD:-build}/native/bin/votar}
[ -x "$VOTAR" ] || { echo "crash.sh: build $VOTAR first" >&2; exit 2; }
VOTAR=$(realpath "$VOTAR")
export ASAN_OPTIONS=detect_leaks=0
ROOT=$(pwd)
work=$(mktemp -d /tmp/votar-crash-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# 40 files of 1 MiB, with fixed times, so that every run writes the same bytes;
# the deletions and replacements rebuild this archive.
mkdir src
for i in $(seq -w 1 40); do
  head -c 1048576 /dev/urandom > "src/f$i.bin"
done
# Appends grow a smaller archive in place: one member, several, or one with a
# long name (which comes after an entry of its own).
long=$(printf 'l%.0s' $(seq 1 150)).bin
for i in 1 2 3 4 5 6 7 8; do head -c 262144 /dev/urandom > "src/s$i.bin"; done
head -c 30000000 /dev/urandom > src/one.bin
for i in 1 2 3; do head -c 10000000 /dev/urandom > "src/x$i.bin"; done
head -c 30000000 /dev/urandom > "src/$long"
touch -d @1000000000 src/*
"$VOTAR" add base.tar $(cd src && ls f*.bin) --root src >/dev/null
"$VOTAR" add small.tar $(cd src && ls s*.bin) --root src >/dev/null

# Deletions and updates of a compressed archive rebuild it through the
# encoder: the same members as base.tar, as gzip and as zstd.
"$VOTAR" add base.tgz $(cd src && ls f*.bin) --root src >/dev/null
"$VOTAR" add base.tar.zst $(cd src && ls f*.bin) --root src >/dev/null

# Each operation: the archive it starts from, its arguments, the members
# after it when they are checked by reading, or the bytes a complete run
# leaves; and how long a complete run takes, within which the signals fall.
# A compressed archive must be the old bytes, or else read whole as the new
# members by every reader.
smalls=$(cd src && ls s*.bin | paste -sd,)
bases=$(cd src && ls f*.bin | paste -sd,)
declare -A from=([delete]=base.tar [replace]=base.tar [append1]=small.tar [appendN]=small.tar
                 [appendL]=small.tar [gz-delete]=base.tgz [gz-replace]=base.tgz
                 [gz-append]=base.tgz [zst-delete]=base.tar.zst [zst-append]=base.tar.zst)
declare -A args=([delete]="delete t.tar f0*.bin" [replace]="add t.tar f05.bin --root src -y"
                 [append1]="add t.tar one.bin --root src"
                 [appendN]="add t.tar x1.bin x2.bin x3.bin --root src"
                 [appendL]="add t.tar $long --root src"
                 [gz-delete]="delete t.tgz f0*.bin" [gz-replace]="add t.tgz f05.bin --root src -y"
                 [gz-append]="add t.tgz s1.bin --root src"
                 [zst-delete]="delete t.tar.zst f0*.bin" [zst-append]="add t.tar.zst s1.bin --root src")
deleted=$(cd src && ls f*.bin | grep -v '^f0' | paste -sd,)
declare -A after=([append1]="$smalls,one.bin" [appendN]="$smalls,x1.bin,x2.bin,x3.bin"
                  [appendL]="$smalls,$long" [gz-delete]=$deleted [zst-delete]=$deleted
                  [gz-replace]="$(cd src && ls f*.bin | grep -v f05 | paste -sd,),f05.bin"
                  [gz-append]="$bases,s1.bin" [zst-append]="$bases,s1.bin")
ops=(delete replace append1 appendN appendL)
compressed=(gz-delete gz-replace gz-append zst-delete zst-append)
ms() { echo $(( $(date +%s%N) / 1000000 )); }
declare -A new span old
for op in "${ops[@]}" "${compressed[@]}"; do
  copy=t.${from[$op]#*.}
  cp "${from[$op]}" "$copy"
  start=$(ms)
  # shellcheck disable=SC2086
  "$VOTAR" ${args[$op]} >/dev/null
  span[$op]=$(( $(ms) - start + 1 ))
  new[$op]=$(sha256sum < "$copy")
  old[$op]=$(sha256sum < "${from[$op]}")
  if [[ $op == *-* ]]; then
    python3 "$ROOT/fuzz/whole.py" "$VOTAR" "$copy" src "$bases" "${after[$op]}" | grep -vq old ||
      { echo "crash.sh: a complete $op does not read whole as the new archive" >&2; exit 1; }
  fi
  rm "$copy"
done

torn=0; olds=0; news=0; cut=0; leftovers=0
stopped_leftovers=0; caught_runs=0; slowest=0
zdeletes=0; zupdates=0; zolds=0; znews=0; ztorn=0
signals=(KILL INT TERM)
# One trial: OP cut short by SIG at a random moment within a complete run.
cut_short() {
  local op=$1 sig=$2 copy=t.${from[$1]#*.} pid delay caught mask number sent took sum seen n
  cp "${from[$op]}" "$copy"
  # Background jobs of a script ignore SIGINT unless told otherwise.
  # shellcheck disable=SC2086
  env --default-signal "$VOTAR" ${args[$op]} >/dev/null 2>&1 &
  pid=$!
  delay=$((RANDOM % span[$op]))
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
  sum=$(sha256sum < "$copy")
  if [[ $op == *-* ]]; then
    # A rebuilt compressed archive: the old bytes, the new ones, or at least
    # the new members, read whole by every reader.
    if [[ $op == *-delete ]]; then zdeletes=$((zdeletes + 1)); else zupdates=$((zupdates + 1)); fi
    if [ "$sum" = "${old[$op]}" ]; then
      zolds=$((zolds + 1))
    elif [ "$sum" = "${new[$op]}" ] ||
         { seen=$(python3 "$ROOT/fuzz/whole.py" "$VOTAR" "$copy" src "$bases" "${after[$op]}") &&
           [[ $seen != *old* ]]; }; then
      znews=$((znews + 1))
    else
      ztorn=$((ztorn + 1))
      echo "trial $trial ($op, SIG$sig): the archive is neither the old one nor the new one ${seen:-}"
    fi
  elif [ "$sum" = "${old[$op]}" ]; then
    olds=$((olds + 1))
  elif [ "$sum" = "${new[$op]}" ]; then
    news=$((news + 1))
  elif [ -n "${after[$op]:-}" ] &&
       seen=$(python3 "$ROOT/fuzz/whole.py" "$VOTAR" "$copy" src "$smalls" "${after[$op]}"); then
    # An append cut short leaves bytes after the zero block that ends the
    # old archive: every reader still reads it whole.
    case "$seen" in *new*) news=$((news + 1)) ;; *) olds=$((olds + 1)) ;; esac
    cut=$((cut + 1))
  else
    torn=$((torn + 1))
    echo "trial $trial ($op, SIG$sig): the archive is neither the old one nor the new one ${seen:-}"
  fi
  n=$(ls | grep -c '\.\$SC$' || true)
  if [ $caught = 0 ]; then
    leftovers=$((leftovers + n))
  else
    caught_runs=$((caught_runs + 1))
    stopped_leftovers=$((stopped_leftovers + n))
    [ $n = 0 ] || echo "trial $trial ($op, SIG$sig): $n temporary file(s) left after a stop"
  fi
  rm -f ./*'.$SC' "$copy"
}
# Each trial cuts short one operation on a plain archive and one on a
# compressed archive, with the same signal.
for trial in $(seq 1 "$TRIALS"); do
  sig=${signals[$((trial % 3))]}
  cut_short "${ops[$((trial % 5))]}" $sig
  cut_short "${compressed[$((trial % 5))]}" $sig
done
echo "crash trials: $TRIALS, old archive: $olds, new archive: $news" \
     "($cut appends cut short, read whole by every reader), torn: $torn;" \
     "compressed (gzip, zstd): $zdeletes deletes and $zupdates updates, old archive: $zolds," \
     "new archive: $znews, torn: $ztorn;" \
     "temporary files left: $leftovers by runs ended by their signal," \
     "$stopped_leftovers by $caught_runs runs that caught SIGINT/SIGTERM;" \
     "slowest end after a signal: $slowest ms"
[ $torn = 0 ] && [ $ztorn = 0 ] && [ $stopped_leftovers = 0 ]
