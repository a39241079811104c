#!/usr/bin/env python3
"""Interoperability of votar and the module with GNU tar, bsdtar and tarfile.

Archives written by votar are listed and extracted by the peers with the same
names, sizes, times and bytes; archives written by the peers (GNU tar formats
v7, oldgnu, gnu, ustar and posix, bsdtar ustar and pax, tarfile with names in
code page 437) are listed and extracted by votar as the module reads them.
The same both ways compressed: votar's gzip, xz, zstd and bzip2 archives
read by the peers and the codecs' own tests, and the peers' ones (pigz's,
multi-block xz, several streams one after the other) read by votar; what it
does not read it names. Runs the native votar, or votar.exe under Wine with
--wine.
"""
import argparse
import io
import json
import os
import random
import shlex
import shutil
import subprocess
import struct
import sys
import tarfile
import unicodedata
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import check, summary  # noqa: E402
import trees  # noqa: E402

LISTED_TYPES = (b"\0", b"0", b"3", b"4", b"6", b"7")
MTIME = 1234567890


class Votar:
    def __init__(self, program, wine):
        self.command = (["wine", program] if wine else [program])

    def run(self, args, cwd, stdin=subprocess.DEVNULL):
        env = dict(os.environ, WINEDEBUG="-all", TZ="UTC")
        return subprocess.run(self.command + args, cwd=cwd, stdin=stdin,
                              capture_output=True, env=env)

    def listing(self, archive, cwd):
        r = self.run(["list", archive, "--json"], cwd)
        check(r.returncode == 0, "votar list %s: %s" % (archive, r.stderr))
        return json.loads(r.stdout.decode("utf-8")) if r.returncode == 0 else None


def run(args, cwd, text=True, shell=False):
    r = subprocess.run(args, cwd=cwd, capture_output=True, shell=shell)
    check(r.returncode == 0, "%s: %s" % (args if shell else " ".join(args),
                                         r.stderr.decode(errors="replace")))
    return r.stdout.decode("utf-8", errors="replace") if text else r.stdout


def write_tree(root, files):
    """The files (relative name: bytes) below `root`, with fixed times."""
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (MTIME, MTIME))
    return files


def make_tree(root):
    """Files with the sizes that matter, in folders, with fixed times."""
    return write_tree(root, {
        "empty.txt": b"",
        "one.bin": b"\x01",
        "docs/a.txt": b"hello\n",
        "docs/b511.bin": (bytes(range(256)) * 2)[:511],
        "docs/sub/c512.bin": (bytes(range(256)) * 2)[:512],
        "docs/sub/d513.bin": (bytes(range(256)) * 3)[:513],
        "big/e100000.bin": bytes((i * 7 + i // 251) & 0xFF for i in range(100000)),
        "n" * 90 + "/" + "m" * 4 + ".txt": b"ninety-nine bytes of name\n",
    })


def read_name(name):
    """The module's read-name rule on a name as tarfile reads it."""
    name = name.replace("/", "\\")
    if name.startswith("\\"):
        name = name[1:]
    if len(name) >= 2 and name[1:2] == ":":
        name = name[3:]
    if name.startswith(".."):
        name = name[3:]
    return name


def linked_name(m):
    """The listed name of the member a link stands for, or None."""
    if m.islnk():
        return read_name(m.linkname)
    if m.linkname.startswith("/"):
        return None
    parts = read_name(m.name).split("\\")[:-1]
    for part in m.linkname.split("/"):
        if part == "..":
            if not parts:
                return None
            parts.pop()
        elif part not in ("", "."):
            parts.append(part)
    return "\\".join(parts)


def expected_members(path):
    """(listed name, size, tarfile member) of every member the module lists,
    as tarfile reads them: names in code page 437 unless pax or UTF-8. A
    link has the size of the file before it that it names, else 0."""
    out = []
    sizes = {}
    with tarfile.open(path, encoding="cp437") as t:
        for m in t.getmembers():
            name = read_name(m.name)
            if m.type in (tarfile.LNKTYPE, tarfile.SYMTYPE) and name:
                size = sizes.get(linked_name(m), 0)
                out.append((name, size, m))
                if m.islnk() and linked_name(m) in sizes:
                    sizes[name] = size
            elif m.type in LISTED_TYPES + (tarfile.GNUTYPE_SPARSE,) and name:
                out.append((name, m.size, m))
                sizes[name] = m.size
    return out


# Each compression votar writes: the name that asks for it, GNU tar's
# option, tarfile's mode (it has no zstd here: it reads what zstd decodes),
# the codec's own test and the first bytes of its stream.
CODECS = {
    "gzip": (".tgz", "-z", "r:gz", ["gzip", "-t"], b"\x1f\x8b"),
    "xz": (".txz", "-J", "r:xz", ["xz", "-t"], b"\xfd7zXZ\0"),
    "zstd": (".tar.zst", "--zstd", None, ["zstd", "-tq"], b"\x28\xb5\x2f\xfd"),
    "bzip2": (".tbz2", "-j", "r:bz2", ["bzip2", "-t"], b"BZh"),
}


def folders_of(files):
    """Every folder that holds one of the files, at any depth."""
    return {n.rsplit("/", i)[0] for n in files for i in range(1, n.count("/") + 1)}


def check_votar_archive(work, files, archive, codec=None, folders=()):
    """A votar archive of the files and the folders (stored before what they
    hold) as the peers read it; a compressed one also as the codec's own
    test does."""
    label = os.path.basename(archive)
    option, mode = [], "r"
    if codec:
        _, flag, mode, test, magic = CODECS[codec]
        option = [flag]
        with open(archive, "rb") as f:
            check(f.read(len(magic)) == magic, "%s: not %s" % (label, codec))
        run(test + [archive], work)
    want = sorted(list(files) + [f + "/" for f in folders])
    gnu = run(["tar"] + option + ["-tf", archive], work).split("\n")[:-1]
    check(sorted(gnu) == want, "%s: GNU tar lists %s" % (label, gnu))
    bsd = run(["bsdtar", "-tf", archive], work).split("\n")[:-1]
    check(sorted(bsd) == want, "%s: bsdtar lists %s" % (label, bsd))
    if mode:
        t = tarfile.open(archive, mode)
    else:  # what zstd decodes
        t = tarfile.open(fileobj=io.BytesIO(run(["zstd", "-dc", archive], work, text=False)))
    with t:
        members = {m.name: m for m in t.getmembers()}
        check(sorted(members) == sorted(list(files) + list(folders)),
              "%s: tarfile lists %s" % (label, sorted(members)))
        check(all(members[f].isdir() for f in folders if f in members),
              "%s: tarfile folders %s" % (label, sorted(folders)))
        for name, data in files.items():
            m = members.get(name)
            if m is None:
                continue
            check(m.size == len(data) and m.mtime == MTIME and m.isfile(),
                  "%s: tarfile %s size %d mtime %d" % (label, name, m.size, m.mtime))
            check(t.extractfile(m).read() == data, "%s: tarfile bytes of %s" % (label, name))
    for tool in (["tar"] + option + ["-xf"], ["bsdtar", "-xf"]):
        out = tempfile.mkdtemp(dir=work)
        run(tool + [archive, "-C", out], work)
        for name, data in files.items():
            path = os.path.join(out, name)
            got = open(path, "rb").read() if os.path.isfile(path) else None
            check(got == data, "%s: %s extracts %s" % (label, tool[0], name))
            if got is not None:
                check(int(os.stat(path).st_mtime) == MTIME, "%s: %s time of %s" % (label, tool[0], name))


def test_votar_writes(votar, work):
    src = os.path.join(work, "src")
    files = make_tree(src)
    made = os.path.join(work, "made.tar")
    r = votar.run(["add", "made.tar", "empty.txt", "one.bin", "docs", "big", "n" * 90,
                   "--root", "src"], work)
    check(r.returncode == 0, "votar add: %s" % r.stderr)
    folders = folders_of(files)
    check_votar_archive(work, files, made, folders=folders)
    # An update that adds one file and replaces one keeps what the peers see.
    with open(os.path.join(src, "docs/a.txt"), "wb") as f:
        f.write(b"changed\n")
    os.utime(os.path.join(src, "docs/a.txt"), (MTIME, MTIME))
    files["docs/a.txt"] = b"changed\n"
    r = votar.run(["add", "made.tar", "docs/a.txt", "--root", "src", "-y"], work)
    check(r.returncode == 0, "votar update: %s" % r.stderr)
    check_votar_archive(work, files, made, folders=folders)
    # A deletion too, which leaves the folders.
    r = votar.run(["delete", "made.tar", "*.bin"], work)
    check(r.returncode == 0, "votar delete: %s" % r.stderr)
    kept = {n: d for n, d in files.items() if not n.endswith(".bin")}
    check_votar_archive(work, kept, made, folders=folders)


def peer_archives(work, src):
    """Archives of the same tree by every peer and format."""
    names = ["docs", "empty.txt", "one.bin", "big", "n" * 90]
    made = {}
    common = ["--owner=0", "--group=0", "--numeric-owner", "--sort=name"]
    for fmt in ("v7", "oldgnu", "gnu", "ustar", "posix"):
        path = os.path.join(work, "gnu-%s.tar" % fmt)
        # v7 has no room for the name of more than 100 bytes.
        these = names[:-1] if fmt == "v7" else names
        run(["tar", "-cf", path, "--format=" + fmt] + common + ["-C", src] + these, work)
        made["gnu-" + fmt] = path
    for fmt in ("ustar", "pax"):
        path = os.path.join(work, "bsd-%s.tar" % fmt)
        run(["bsdtar", "-cf", path, "--format=" + fmt, "-C", src] + names, work)
        made["bsd-" + fmt] = path
    # Links, which the module does not list, and a long name.
    os.symlink("docs/a.txt", os.path.join(src, "link"))
    long_dir = os.path.join(src, "l" * 60, "m" * 60)
    os.makedirs(long_dir)
    with open(os.path.join(long_dir, "long.txt"), "wb") as f:
        f.write(b"long\n")
    path = os.path.join(work, "gnu-mixed.tar")
    run(["tar", "-cf", path, "--format=gnu"] + common + ["-C", src, "docs", "link", "l" * 60], work)
    made["gnu-mixed"] = path
    # Names in code page 437, as the module expects OEM names to be stored.
    path = os.path.join(work, "tarfile-cp437.tar")
    with tarfile.open(path, "w", format=tarfile.GNU_FORMAT, encoding="cp437") as t:
        for name in ("Grüße.txt", "café/Ärger.txt", "plain.txt"):
            data = name.encode("utf-8")
            info = tarfile.TarInfo(name)
            info.size = len(data)
            info.mtime = MTIME
            t.addfile(info, io.BytesIO(data))
    made["tarfile-cp437"] = path
    return made


def read_extracted(out, member):
    """The bytes extracted for a member. The native module writes names in
    its ANSI code page (1252) byte for byte; Wine stores them in UTF-8."""
    relative = member.replace("\\", "/")
    for encoding in ("cp1252", "utf-8"):
        path = os.path.join(out.encode(), relative.encode(encoding))
        if os.path.isfile(path):
            return open(path, "rb").read()
    return None


def test_votar_reads(votar, work):
    src = os.path.join(work, "src")
    make_tree(src)
    for label, path in peer_archives(work, src).items():
        listing = votar.listing(os.path.basename(path), work)
        if listing is None:
            continue
        got = [(m["name"], m["size"]) for m in listing["members"]]
        expected = expected_members(path)
        want = [(name, size) for name, size, _ in expected]
        check(got == want, "%s: votar lists %s, want %s" % (label, got, want))
        # Extraction gives the bytes the peers extract, under the names the
        # module lists.
        out = os.path.join(work, "out-" + label)
        ref = os.path.join(work, "ref-" + label)
        os.makedirs(out)
        os.makedirs(ref)
        r = votar.run(["extract", os.path.basename(path), "-o", os.path.relpath(out, work)], work)
        check(r.returncode == 0, "%s: votar extract: %s" % (label, r.stderr))
        with tarfile.open(path, encoding="cp437") as t:
            for name, _, m in expected:
                if m.isfile():
                    check(read_extracted(out, name) == t.extractfile(m).read(),
                          "%s: votar extracts %s" % (label, name))


def sparse_file(path, size, regions):
    """A file of `size` bytes, holes but for the regions (offset, bytes)."""
    with open(path, "wb") as f:
        f.truncate(size)
        for offset, data in regions:
            f.seek(offset)
            f.write(data)


def same_file(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def test_big_members(votar, work, wine):
    """A member of 2.5 GiB, made by GNU tar and followed by another, lists and
    extracts byte for byte; one that votar adds (3 GiB for votar.exe, past
    what a signed 32-bit size holds) GNU tar reads alike."""
    big = 5 << 29
    src = os.path.join(work, "src")
    os.makedirs(src)
    sparse_file(os.path.join(src, "big.bin"), big,
                [(0, b"head" * 1000), (big // 2, os.urandom(100000)), (big - 4, b"tail")])
    with open(os.path.join(src, "after.txt"), "wb") as f:
        f.write(b"after the big one\n")
    run(["tar", "-cf", "gnu-big.tar", "-C", "src", "big.bin", "after.txt"], work)
    listing = votar.listing("gnu-big.tar", work)
    if listing is not None:
        got = [(m["name"], m["size"]) for m in listing["members"]]
        check(got == [("big.bin", big), ("after.txt", 18)], "big: votar lists %s" % got)
    r = votar.run(["extract", "gnu-big.tar", "-o", "out"], work)
    check(r.returncode == 0, "big: votar extract: %s" % r.stderr)
    for name in ("big.bin", "after.txt"):
        check(same_file(os.path.join(src, name), os.path.join(work, "out", name)),
              "big: votar extracts %s" % name)
    shutil.rmtree(os.path.join(work, "out"))
    os.remove(os.path.join(work, "gnu-big.tar"))
    if wine:
        big = 3 << 30
        sparse_file(os.path.join(src, "big.bin"), big, [(0, b"head"), (big - 4, b"tail")])
    r = votar.run(["add", "votar-big.tar", "big.bin", "after.txt", "--root", "src"], work)
    check(r.returncode == 0, "big: votar add: %s" % r.stderr)
    lines = run(["tar", "-tvf", "votar-big.tar"], work).split("\n")
    check(len(lines) == 3 and " %d " % big in lines[0], "big: GNU tar lists %s" % lines[:2])
    os.makedirs(os.path.join(work, "ref"))
    run(["tar", "-xf", "votar-big.tar", "-C", "ref"], work)
    for name in ("big.bin", "after.txt"):
        check(same_file(os.path.join(src, name), os.path.join(work, "ref", name)),
              "big: GNU tar extracts %s" % name)
    shutil.rmtree(os.path.join(work, "ref"))
    os.remove(os.path.join(work, "votar-big.tar"))


NAMES = [".gitignore", "docs/.env", "d" * 95 + "/" + "e" * 95 + ".txt", "café.txt",
         "price€.txt", "Šest.txt", "über.txt"]


def tree_of(root):
    """Every file below `root`, by relative name with "/", with its bytes."""
    out = {}
    for top, _, files in os.walk(root):
        for f in files:
            path = os.path.join(top, f)
            out[os.path.relpath(path, root).replace(os.sep, "/")] = open(path, "rb").read()
    return out


# Every script, a character outside the BMP, and one name in NFC and NFD:
# they are two names.
SCRIPT_NAMES = ["\u03b5\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt",
                "\u043a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430/\u0444\u0430\u0439\u043b.txt",
                "\u4e2d\u6587\u540d.txt", "\u304b\u306a \u30ab\u30ca.txt", "emoji-\U0001F600.txt",
                "\U0001D11E-clef.txt", "caf\u00e9.txt", "cafe\u0301.txt", "\u9577" * 40 + ".txt"]


def test_names_round_trip(votar, work):
    """Dotted, long and international names, both ways: votar writes and the
    peers read, the peers write and votar reads, name for name and byte for
    byte; an accented member is extracted and deleted by its exact name."""
    names_round_trip(votar, work, NAMES, "café.txt", "über.txt", {}, ("gnu", "ustar", "pax"))


def test_scripts_round_trip(votar, work):
    """The same in every script, as the module takes names under a UTF-8
    code page; "?" is one character and masks match in any case."""
    greek = SCRIPT_NAMES[0]
    masks = {"\u03b5\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba?.txt": [greek],
             "\u0395\u039b\u039b\u0397\u039d\u0399\u039a\u0386.TXT": [greek],
             "\u4e2d*.txt": ["\u4e2d\u6587\u540d.txt"], "*\U0001F600.txt": ["emoji-\U0001F600.txt"],
             "caf?.txt": ["caf\u00e9.txt"], "caf??.txt": ["cafe\u0301.txt"]}
    # A name component of 124 bytes has no ustar form.
    names_round_trip(votar, work, SCRIPT_NAMES, SCRIPT_NAMES[2], SCRIPT_NAMES[7], masks,
                     ("gnu", "pax"))


def names_round_trip(votar, work, names, one, gone, masks, formats):
    """`one` is extracted by its name, then `gone` deleted by its own; each
    mask extracts the members it names and no other. GNU tar writes in
    `formats`."""
    src = os.path.join(work, "src")
    files = {}
    for i, name in enumerate(names):
        files[name] = ("%d: %s\n" % (i, name)).encode("utf-8")
        os.makedirs(os.path.dirname(os.path.join(src, name)) or src, exist_ok=True)
        with open(os.path.join(src, name), "wb") as f:
            f.write(files[name])
    r = votar.run(["add", "mine.tar"] + names + ["--root", "src"], work)
    check(r.returncode == 0, "names: votar add: %s" % r.stderr)
    if r.returncode != 0:
        return
    with tarfile.open(os.path.join(work, "mine.tar")) as t:
        check(sorted(m.name for m in t.getmembers()) == sorted(names),
              "names: tarfile lists %s" % [m.name for m in t.getmembers()])
    for tool in ("tar", "bsdtar"):
        # bsdtar turns the names it reads into NFC, so that an NFD name and
        # its NFC twin become one.
        seen = names if tool == "tar" else [unicodedata.normalize("NFC", n) for n in names]
        listed = run([tool, "-tf", "mine.tar"], work).split("\n")[:-1]
        check(sorted(listed) == sorted(seen), "names: %s lists %s" % (tool, listed))
        out = tempfile.mkdtemp(dir=work)
        run([tool, "-xf", "mine.tar", "-C", out], work)
        got = tree_of(out)
        check(got == files if seen == names else sorted(got) == sorted(set(seen)),
              "names: %s extracts %s" % (tool, sorted(got)))
    made = {}
    for fmt in formats:
        made["gnu-" + fmt] = ["tar", "--format=" + fmt, "-cf", "%s.tar", "-C", "src"] + names
    made["bsdtar"] = ["bsdtar", "-cf", "%s.tar", "-C", "src"] + names
    for label, command in made.items():
        run([c.replace("%s", label) for c in command], work)
    for fmt, label in ((tarfile.GNU_FORMAT, "tarfile-gnu"), (tarfile.PAX_FORMAT, "tarfile-pax")):
        with tarfile.open(os.path.join(work, label + ".tar"), "w", format=fmt) as t:
            for name in names:
                t.add(os.path.join(src, name), arcname=name)
        made[label] = None
    for i, label in enumerate(["mine"] + list(made)):
        listing = votar.listing(label + ".tar", work)
        if listing is None:
            continue
        got = sorted(m["name"].replace("\\", "/") for m in listing["members"])
        check(got == sorted(names), "names: votar lists %s as %s" % (label, got))
        # A short folder: Windows takes no full path longer than 259
        # characters, and the long name's is near that here.
        out = os.path.join(work, "o%d" % i)
        r = votar.run(["extract", label + ".tar", "-o", os.path.basename(out)], work)
        check(r.returncode == 0 and tree_of(out) == files,
              "names: votar extracts %s: %s %s" % (label, r.stderr, sorted(tree_of(out))))
    for i, (mask, want) in enumerate(sorted(masks.items())):
        out = os.path.join(work, "m%d" % i)
        r = votar.run(["extract", "mine.tar", mask, "-o", os.path.basename(out)], work)
        check(r.returncode == 0 and sorted(tree_of(out)) == sorted(want),
              "names: mask %r extracts %s: %s" % (mask, sorted(tree_of(out)), r.stderr))
    r = votar.run(["extract", "mine.tar", one, "-o", "one"], work)
    check(r.returncode == 0 and tree_of(os.path.join(work, "one")) == {one: files[one]},
          "names: extract %s by its name: %s" % (one, r.stderr))
    r = votar.run(["delete", "mine.tar", gone], work)
    listing = votar.listing("mine.tar", work) or {"members": []}
    left = sorted(m["name"].replace("\\", "/") for m in listing["members"])
    check(r.returncode == 0 and left == sorted(set(names) - {gone}),
          "names: delete %s by its name: %s %s" % (gone, r.stderr, left))


def link_tree(root):
    """A tree of every kind the module restores: files, an executable, an
    empty folder, links to a file, to a folder and to nothing, two names of
    one file, and folders with times of their own."""
    write_tree(root, {"d/a.txt": b"alpha\n", "d/sub/s.txt": b"sub\n", "run.sh": b"#!/bin/sh\n"})
    os.chmod(os.path.join(root, "run.sh"), 0o755)
    os.makedirs(os.path.join(root, "d/empty"))
    os.symlink("a.txt", os.path.join(root, "d/to-file"))
    os.symlink("sub", os.path.join(root, "d/to-folder"))
    os.symlink("nothing", os.path.join(root, "d/dangling"))
    os.link(os.path.join(root, "d/a.txt"), os.path.join(root, "d/second"))
    for folder in ("d/empty", "d/sub", "d"):
        os.utime(os.path.join(root, folder), (MTIME - 100, MTIME - 100))


def entry_types(listing):
    """The type letters and the names of what "tar -tv" lists, each sorted."""
    lines = listing.splitlines()
    names = [line.split(" -> ")[0].split(" link to ")[0].split()[-1] for line in lines]
    return sorted(line[0] for line in lines), sorted(names)


def test_tree_round_trip(votar, work):
    """GNU tar -x, votar add, GNU tar -x gives the same tree, links, modes and
    folder times included, and GNU tar lists votar's entries with the types
    of its own."""
    src = os.path.join(work, "src")
    link_tree(src)
    run(["tar", "-cf", "gnu.tar", "-C", "src", "d", "run.sh"], work)
    first = os.path.join(work, "first")
    os.makedirs(first)
    run(["tar", "-xf", os.path.join(work, "gnu.tar")], first)
    r = votar.run(["add", "votar.tar", "d", "run.sh", "--root", "first"], work)
    check(r.returncode == 0, "round trip: votar add: %s" % r.stderr)
    again = os.path.join(work, "again")
    os.makedirs(again)
    run(["tar", "-xf", os.path.join(work, "votar.tar")], again)
    diffs, _ = trees.differences(trees.describe(first), trees.describe(again))
    check(not diffs, "round trip: %s" % diffs)
    # Which of two names is the hard link follows the order they were read.
    theirs = entry_types(run(["tar", "-tvf", "gnu.tar"], work))
    ours = entry_types(run(["tar", "-tvf", "votar.tar"], work))
    check(ours == theirs, "round trip: GNU tar lists %s, not %s" % (ours, theirs))


def varied(size):
    """Bytes that compress in parts: random runs, repeated bytes, text."""
    rnd = random.Random(size)
    out = bytearray()
    while len(out) < size:
        kind, n = rnd.randrange(3), rnd.randrange(1, 4096)
        out += (rnd.randbytes(n), bytes([rnd.randrange(256)]) * n,
                b"line %d of some text\n" % rnd.randrange(n) * (n // 64 + 1))[kind]
    return bytes(out[:size])


def compressed_tree(root, big):
    """A few files, one of `big` varied bytes, a long name and an accented one."""
    return write_tree(root, {
        "a.txt": b"hello\n",
        "docs/b511.bin": (bytes(range(256)) * 2)[:511],
        "big/varied.bin": varied(big),
        "l" * 60 + "/" + "m" * 50 + ".txt": b"a name of 115 bytes\n",
        "café.txt": "café\n".encode("utf-8"),
    })


def test_compressed_writes(votar, work):
    """votar writes the compression a new archive's name asks for; the peers
    and the codec's own test read it, again after an update and a deletion,
    which keep the compression."""
    src = os.path.join(work, "src")
    files = compressed_tree(src, 300 << 10)
    tops = sorted({n.split("/")[0] for n in files})
    folders = folders_of(files)
    added = write_tree(src, {"added.txt": b"added later\n"})
    for codec, (suffix, *_) in CODECS.items():
        name = "c" + suffix
        r = votar.run(["add", name] + tops + ["--root", "src"], work)
        check(r.returncode == 0, "%s: votar add: %s" % (name, r.stderr))
        check_votar_archive(work, files, os.path.join(work, name), codec, folders)
        r = votar.run(["add", name, "added.txt", "--root", "src"], work)
        check(r.returncode == 0, "%s: votar update: %s" % (name, r.stderr))
        check_votar_archive(work, dict(files, **added), os.path.join(work, name), codec, folders)
        r = votar.run(["delete", name, "docs/b511.bin"], work)
        check(r.returncode == 0, "%s: votar delete: %s" % (name, r.stderr))
        kept = {n: d for n, d in dict(files, **added).items() if n != "docs/b511.bin"}
        check_votar_archive(work, kept, os.path.join(work, name), codec, folders)


def concatenated(plain, command, between=b""):
    """The tar cut in two mid-member, each part compressed on its own, and
    the two streams one after the other (with `between` between them)."""
    data = open(plain, "rb").read()
    cut = len(data) // 2 + 77
    parts = [subprocess.run(command, input=part, capture_output=True, check=True).stdout
             for part in (data[:cut], data[cut:])]
    return parts[0] + between + parts[1]


def test_compressed_reads(votar, work):
    """What the peers compress, in one stream or several, votar lists as GNU
    tar does, names the compression of, and extracts byte for byte."""
    src = os.path.join(work, "src")
    files = compressed_tree(src, 3 << 20)  # past one xz block of 1 MiB
    names = " ".join(shlex.quote(n) for n in sorted(files))
    plain = os.path.join(work, "plain.tar")
    run(["tar", "-cf", plain, "-C", src] + sorted(files), work)
    made = {}  # the archive: its compression
    for label, codec, command in (  # run in src
            ("gnu.tgz", "gzip", "tar -czf ../gnu.tgz " + names),
            ("gnu.txz", "xz", "tar -cJf ../gnu.txz " + names),
            ("gnu.tar.zst", "zstd", "tar --zstd -cf ../gnu.tar.zst " + names),
            ("gnu.tbz2", "bzip2", "tar -cjf ../gnu.tbz2 " + names),
            ("bsd.tgz", "gzip", "bsdtar -czf ../bsd.tgz " + names),
            ("bsd.txz", "xz", "bsdtar -cJf ../bsd.txz " + names),
            ("bsd.tar.zst", "zstd", "bsdtar --zstd -cf ../bsd.tar.zst " + names),
            ("bsd.tbz2", "bzip2", "bsdtar -cjf ../bsd.tbz2 " + names),
            ("pigz.tgz", "gzip", "pigz -p 2 < ../plain.tar > ../pigz.tgz"),
            ("blocks.txz", "xz", "xz -T2 --block-size=1MiB < ../plain.tar > ../blocks.txz"),
            ("threads.tar.zst", "zstd", "zstd -q -T2 < ../plain.tar > ../threads.tar.zst")):
        run(command, src, shell=True)
        made[label] = codec
    for ext, codec in (("gz", "gzip"), ("xz", "xz"), ("bz2", "bzip2")):
        label = "tarfile.tar." + ext
        with tarfile.open(os.path.join(work, label), "w:" + ext) as t:
            for n in sorted(files):
                t.add(os.path.join(src, n), arcname=n)
        made[label] = codec
    skippable = b"\x50\x2a\x4d\x18" + struct.pack("<I", 5) + b"votar"
    for label, codec, command, between in (
            ("two-pigz.tgz", "gzip", ["pigz", "-p", "2"], b""),
            ("two-xz.txz", "xz", ["xz"], b""),
            ("two-zstd.tar.zst", "zstd", ["zstd", "-q"], b""),
            ("skip-zstd.tar.zst", "zstd", ["zstd", "-q"], skippable),
            ("two-bzip2.tbz2", "bzip2", ["bzip2"], b"")):
        with open(os.path.join(work, label), "wb") as f:
            f.write(concatenated(plain, command, between))
        made[label] = codec
    for i, (label, codec) in enumerate(made.items()):
        gnu = run(["tar", "-tf", label], work).split("\n")[:-1]
        listing = votar.listing(label, work)
        if listing is None:
            continue
        got = [m["name"].replace("\\", "/") for m in listing["members"]]
        check(got == gnu and listing["compression"] == codec,
              "%s: votar lists %s as %s, GNU tar %s" % (label, listing["compression"], got, gnu))
        out = os.path.join(work, "o%d" % i)  # short: Windows' 259 characters
        r = votar.run(["extract", label, "-o", os.path.basename(out)], work)
        check(r.returncode == 0, "%s: votar extract: %s" % (label, r.stderr))
        for name, data in files.items():
            check(read_extracted(out, name) == data, "%s: votar extracts %s" % (label, name))


def test_compressed_refused(votar, work):
    """A compressed file that holds no tar, and a tar in a compression votar
    does not read, are named for what they are, and nothing is listed."""
    src = os.path.join(work, "src")
    write_tree(src, {"hello.txt": b"hello\n"})
    plain = os.path.join(work, "plain.tar")
    run(["tar", "-cf", plain, "-C", src, "hello.txt"], work)
    hello = os.path.join(src, "hello.txt")
    no_tar = "it is compressed with %s but holds no TAR archive"
    not_read = "compressed with %s, which votar does not read"
    for label, command, data, message in (
            ("hello.gz", "gzip", hello, no_tar % "gzip"),
            ("hello.xz", "xz", hello, no_tar % "xz"),
            ("hello.zst", "zstd", hello, no_tar % "zstd"),
            ("hello.bz2", "bzip2", hello, no_tar % "bzip2"),
            ("t.tar.lz", "lzip", plain, not_read % "lzip"),
            ("t.tar.lz4", "lz4", plain, not_read % "lz4"),
            ("t.tar.Z", "compress", plain, not_read % "compress")):
        run("%s -c < %s > %s" % (command, shlex.quote(data), label), work, shell=True)
        r = votar.run(["list", label], work)
        check(r.returncode == 1 and message in r.stderr.decode(errors="replace")
              and r.stdout == b"", "%s: votar list %d %r %r" % (label, r.returncode,
                                                                 r.stdout, r.stderr))


def test_damaged_and_hostile(votar, work, data_dir):
    """Archives from tests/data that are damaged or carry unsafe names: votar
    must answer with a status, and write nothing outside its folder."""
    if not os.path.isdir(data_dir):
        return
    def outside(case):
        found = []
        for top, dirs, files in os.walk(case):
            rel = os.path.relpath(top, case)
            if rel == os.path.join("a", "b", "out") or rel.startswith(os.path.join("a", "b", "out") + os.sep):
                continue
            found += [os.path.join(rel, n) for n in dirs + files]
        return sorted(found)

    for name in sorted(os.listdir(data_dir)):
        if not name.endswith(".tar"):
            continue
        case = os.path.join(work, "case-" + name)
        inner = os.path.join(case, "a", "b")
        os.makedirs(os.path.join(inner, "out"))
        shutil.copy(os.path.join(data_dir, name), os.path.join(inner, name))
        before = outside(case)
        r = votar.run(["extract", name, "-o", "out", "-y"], inner)
        check(r.returncode in (0, 1), "%s: votar extract exit %d" % (name, r.returncode))
        check(outside(case) == before, "%s: something appeared outside: %s" % (name, outside(case)))
        r = votar.run(["list", name], inner)
        check(r.returncode in (0, 1), "%s: votar list exit %d" % (name, r.returncode))


def test_same_listing(votar, other, work):
    """The native program and the Win32 one list the same archive alike."""
    d = os.path.join(work, "same")
    make_tree(os.path.join(d, "src"))
    r = votar.run(["add", "s.tar", "docs", "big", "--root", "src"], d)
    check(r.returncode == 0, "add for comparison: %s" % r.stderr)
    mine = votar.run(["list", "s.tar", "--json"], d)
    theirs = other.run(["list", "s.tar", "--json"], d)
    check(mine.stdout == theirs.stdout and mine.stdout != b"",
          "listings differ:\n%s\n%s" % (mine.stdout, theirs.stdout))


LOCK_OFFSET = str(1 << 62)


def holds_lock(path):
    """Whether some process holds the writers' lock of the file: the byte at
    2^62, as /proc/locks shows it, looked at without taking it."""
    inode = ":%d " % os.stat(path).st_ino
    with open("/proc/locks") as f:
        return any(inode in line and LOCK_OFFSET in line for line in f)


def test_writers_exclude_each_other(votar, other, work):
    """The native program and the Win32 one exclude each other as writers:
    while one deletes (held up writing the names it deletes to a pipe
    nobody reads yet), the other cannot delete but can list."""
    for holder, contender in ((votar, other), (other, votar)):
        d = tempfile.mkdtemp(dir=work)
        with tarfile.open(os.path.join(d, "t.tar"), "w", format=tarfile.GNU_FORMAT) as t:
            for i in range(1500):  # more names than a pipe holds
                info = tarfile.TarInfo("%04d%s.txt" % (i, "n" * 80))
                t.addfile(info, io.BytesIO(b""))
        before = open(os.path.join(d, "t.tar"), "rb").read()
        env = dict(os.environ, WINEDEBUG="-all")
        busy = subprocess.Popen(holder.command + ["delete", "-v", "t.tar", "0*.*"], cwd=d,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        for _ in range(6000):  # a minute at most, not to hang on a failure
            if holds_lock(os.path.join(d, "t.tar")) or busy.poll() is not None:
                break
            time.sleep(0.01)
        check(busy.poll() is None, "first writer ended before it was held up")
        r = contender.run(["delete", "t.tar", "1*.*"], d)
        check(r.returncode == 1, "second writer refused: %d %r" % (r.returncode, r.stderr))
        check(open(os.path.join(d, "t.tar"), "rb").read() == before, "second writer wrote")
        check(contender.run(["list", "t.tar"], d).returncode == 0, "reader held up")
        busy.communicate()
        check(busy.returncode == 0, "first writer failed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--votar", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--other", help="votar of the other build, to compare listings")
    parser.add_argument("--other-wine", action="store_true")
    parser.add_argument("--data", default=os.path.join(os.path.dirname(__file__), "..", "data"))
    args = parser.parse_args()
    votar = Votar(os.path.abspath(args.votar), args.wine)
    work = tempfile.mkdtemp(prefix="votar-interop-")
    try:
        tests = [test_votar_writes, test_votar_reads, test_names_round_trip,
                 test_scripts_round_trip, test_compressed_writes, test_compressed_reads,
                 test_compressed_refused]
        # votar.exe stores links as the files they name.
        if not args.wine:
            tests.append(test_tree_round_trip)
        for test in tests:
            d = os.path.join(work, test.__name__)
            os.makedirs(d)
            test(votar, d)
        d = os.path.join(work, "big")
        os.makedirs(d)
        test_big_members(votar, d, args.wine)
        test_damaged_and_hostile(votar, os.path.join(work, "damaged"), args.data)
        if args.other and os.path.exists(args.other):
            other = Votar(os.path.abspath(args.other), args.other_wine)
            test_same_listing(votar, other, work)
            test_writers_exclude_each_other(votar, other, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
