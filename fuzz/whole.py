#!/usr/bin/env python3
"""Whether an archive reads whole: votar, GNU tar, bsdtar and Python's
tarfile each list and extract exactly the old members or exactly the new
ones, with the bytes of the files under SRC of the same names (warnings are
allowed; a reader may stop at a zero block). The archive may be compressed.

    whole.py VOTAR ARCHIVE SRC OLD NEW

OLD and NEW are member names separated by commas. Prints which set each
reader saw; exits 1 when a reader saw neither.
"""
import io
import json
import lzma
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile


def open_tarfile(archive):
    """tarfile reads gzip, xz and bzip2 itself; zstd it reads as zstd
    decodes it (an error of zstd's is one of the archive's)."""
    with open(archive, "rb") as f:
        if f.read(4) != b"\x28\xb5\x2f\xfd":
            return tarfile.open(archive)
    r = subprocess.run(["zstd", "-dc", archive], capture_output=True)
    if r.returncode != 0:
        raise tarfile.ReadError(r.stderr.decode(errors="replace"))
    return tarfile.open(fileobj=io.BytesIO(r.stdout))


def listed(reader, votar, archive):
    if reader == "votar":
        r = subprocess.run([votar, "list", archive, "--json"], capture_output=True)
        if r.returncode != 0:
            return None
        return [m["name"].replace("\\", "/") for m in json.loads(r.stdout)["members"]]
    if reader == "tarfile":
        try:
            with open_tarfile(archive) as t:
                return [m.name for m in t.getmembers()]
        except (tarfile.TarError, EOFError, OSError, lzma.LZMAError):  # a stream cut short
            return None
    r = subprocess.run([reader, "-tf", archive], capture_output=True)
    return r.stdout.decode().split("\n")[:-1]


def extract(reader, votar, archive, into):
    if reader == "votar":
        subprocess.run([votar, "extract", archive, "-o", into], capture_output=True)
    elif reader == "tarfile":
        try:
            with open_tarfile(archive) as t:
                t.extractall(into)
        except (tarfile.TarError, EOFError, OSError, lzma.LZMAError):  # a stream cut short
            pass
    else:
        subprocess.run([reader, "-xf", archive, "-C", into], capture_output=True)


def same_files(into, src, names):
    found = []
    for top, _, files in os.walk(into):
        found += [os.path.relpath(os.path.join(top, f), into) for f in files]
    if sorted(found) != sorted(names):
        return False
    for name in names:
        with open(os.path.join(into, name), "rb") as a, open(os.path.join(src, name), "rb") as b:
            if a.read() != b.read():
                return False
    return True


def main():
    votar, archive, src, old, new = sys.argv[1:6]
    sets = {"old": old.split(","), "new": new.split(",")}
    whole = True
    seen = []
    for reader in ("votar", "tar", "bsdtar", "tarfile"):
        names = listed(reader, votar, archive)
        which = [k for k, v in sets.items() if names == v]
        into = tempfile.mkdtemp()
        try:
            extract(reader, votar, archive, into)
            ok = bool(which) and same_files(into, src, sets[which[0]])
        finally:
            shutil.rmtree(into)
        seen.append("%s:%s" % (reader, which[0] if ok else "neither"))
        whole = whole and ok
    print(" ".join(seen))
    return 0 if whole else 1


if __name__ == "__main__":
    sys.exit(main())
