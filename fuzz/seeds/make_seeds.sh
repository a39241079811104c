#!/usr/bin/env bash
# Makes the seed archives of the archive fuzzer that reach the extension
# entries: GNU tar's sparse forms, pax and GNU long names, base-256 fields.
# (gnu.tar and pax.tar are GNU tar archives of a few small files.)
#   bash fuzz/seeds/make_seeds.sh
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" <<'PY'
import sys
f = open(sys.argv[1] + "/sp.img", "wb")
f.truncate(40000)
for offset, data in ((0, b"h" * 600), (9000, b"m" * 700), (20000, b"x" * 100), (39996, b"tail")):
    f.seek(offset)
    f.write(data)
PY
echo b > "$work/b.txt"
tar -b 1 --format=gnu -S -cf sparse-gnu.tar -C "$work" sp.img b.txt
for v in 0.0 0.1 1.0; do
  tar -b 1 --format=pax --sparse-version=$v -S -cf sparse-pax$v.tar -C "$work" sp.img b.txt
done
python3 - <<'PY'
import io, tarfile
def add(t, name, data=b"x", **fields):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    for key, value in fields.items():
        setattr(info, key, value)
    t.addfile(info, io.BytesIO(data))
with tarfile.open("pax-names.tar", "w", format=tarfile.PAX_FORMAT) as t:
    add(t, "caf\u00e9/\u0160est.txt")
    add(t, "d" * 150 + "/long.txt")
    add(t, "\u03a9.txt")
    add(t, "old.txt", mtime=-144720000)
with tarfile.open("gnu-long.tar", "w", format=tarfile.GNU_FORMAT) as t:
    add(t, "l" * 300 + ".txt")
    add(t, "neg.txt", mtime=-5)
    add(t, "big.txt", b"")
# A header claiming 3 GiB in base-256, with a negative base-256 time.
b = bytearray(512)
b[:7] = b"big.bin"
b[100:108] = b"0000644\0"
b[124] = 0x80
b[131:136] = (3 << 30).to_bytes(5, "big")
b[136:148] = b"\xff" * 8 + (-144720000 & 0xFFFFFFFF).to_bytes(4, "big")
b[156] = ord("0")
b[257:265] = b"ustar  \0"
b[148:156] = b" " * 8
b[148:155] = ("%06o\0" % sum(b)).encode()
open("base256.tar", "wb").write(bytes(b) + b"\0" * 1024)
PY
