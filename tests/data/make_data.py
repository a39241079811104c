#!/usr/bin/env python3
"""Regenerates the archives in this folder; run it from anywhere:

    python3 tests/data/make_data.py

Every archive is small and comes out the same on every run: fixed mtimes,
owner and group 0 with numeric ids, names in sorted order, 512-byte records.

Made by the peers (GNU tar 1.34, bsdtar 3.6, Python's tarfile) from one tree:

    dir/                directory, 0755
    dir/a.txt           "hello\\n", 0644
    dir/empty           0 bytes, 0644
    dir/fifo            a FIFO, 0644 (not in v7)
    dir/hard            hard link to dir/a.txt
    dir/link            symbolic link to a.txt
    dir/ppp...p         "dir/" and 97 p: 101 bytes, split by ustar (not in v7)
    dir/ro.txt          "read-only\\n", 0444
    n99_xxx...x         names of 99, 100 and 101 bytes, "x" inside
    n100_xx...x         (n101 is not in v7 nor ustar, which cannot hold it)
    n101_xx...x

  gnu-v7.tar gnu-oldgnu.tar gnu-gnu.tar gnu-ustar.tar gnu-posix.tar
      tar -c -b 1 --format=FORMAT --sort=name --owner=0 --group=0
          --numeric-owner --mtime=@1024144497 [--pax-option=...] NAMES
  bsdtar.tar
      bsdtar -c -b 1 --uid 0 --gid 0 --uname '' --gname '' -n -T LIST
  cp437.tar
      tarfile, GNU format, encoding cp437: names with letters outside ASCII

Hand-made here, byte by byte, in the old GNU form:

  bad-checksum.tar    a.txt, b.txt with a wrong checksum, c.txt
  truncated-data.tar  a.txt (1000 bytes), b.txt (3000 bytes) cut 100 bytes
                      into its data
  truncated-header.tar a.txt, then 300 bytes of the next header
  end-marker-only.tar two zero blocks and nothing else
  after-zeros.tar     a.txt, two zero blocks, c.txt, two zero blocks
  hostile-names.tar   names that climb out of the output folder, name a
                      device, a stream or a wildcard, each followed by an
                      ordinary member

Every member time is 1024144497 (2002-06-15 12:34:57 UTC).
"""

import io
import os
import shutil
import subprocess
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MTIME = 1024144497  # 2002-06-15 12:34:57 UTC

LONG_IN_DIR = "dir/" + "p" * 97
NAMES = {n: ("n%d_" % n).ljust(n, "x") for n in (99, 100, 101)}
ALL = ["dir", "dir/a.txt", "dir/empty", "dir/fifo", "dir/hard", "dir/link",
       LONG_IN_DIR, "dir/ro.txt", NAMES[99], NAMES[100], NAMES[101]]
SKIP = {
    "v7": {"dir/fifo", LONG_IN_DIR, NAMES[101]},
    "ustar": {NAMES[101]},
}


def make_tree(root):
    os.makedirs(os.path.join(root, "dir"))
    files = {"dir/a.txt": b"hello\n", "dir/empty": b"", "dir/ro.txt": b"read-only\n",
             LONG_IN_DIR: b"p"}
    for n in NAMES.values():
        files[n] = b"x"
    for name, data in files.items():
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
        os.chmod(os.path.join(root, name), 0o644)
    os.chmod(os.path.join(root, "dir/ro.txt"), 0o444)
    os.mkfifo(os.path.join(root, "dir/fifo"), 0o644)
    os.chmod(os.path.join(root, "dir/fifo"), 0o644)
    os.link(os.path.join(root, "dir/a.txt"), os.path.join(root, "dir/hard"))
    os.symlink("a.txt", os.path.join(root, "dir/link"))
    for name in ALL:
        os.utime(os.path.join(root, name), (MTIME, MTIME), follow_symlinks=False)
    os.chmod(os.path.join(root, "dir"), 0o755)
    os.utime(os.path.join(root, "dir"), (MTIME, MTIME))


def run(args, cwd):
    subprocess.run(args, cwd=cwd, check=True)


def gnu_tar(root, fmt):
    names = [n for n in ALL if n not in SKIP.get(fmt, set())]
    args = ["tar", "-c", "-b", "1", "-f", os.path.join(HERE, "gnu-%s.tar" % fmt),
            "--format=" + fmt, "--sort=name", "--no-recursion", "--owner=0",
            "--group=0", "--numeric-owner", "--mtime=@%d" % MTIME]
    if fmt == "posix":
        args.append("--pax-option=exthdr.name=%d/PaxHeaders/%f,delete=atime,delete=ctime")
    run(args + sorted(names), root)


def bsd_tar(root):
    listing = os.path.join(root, "..", "bsdtar.list")
    with open(listing, "w") as f:
        f.write("".join(n + "\n" for n in sorted(ALL)))
    run(["bsdtar", "-c", "-b", "1", "-f", os.path.join(HERE, "bsdtar.tar"), "--uid", "0",
         "--gid", "0", "--uname", "", "--gname", "", "-n", "-T", listing], root)


def cp437_tar():
    members = [("Gr\u00fc\u00dfe.txt", b"1"), ("caf\u00e9.txt", b"22"),
               ("\u00c4pfel/\u00d6l.txt", b"333"), ("\u00e4.txt", b"4444")]
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT,
                      encoding="cp437") as tar:
        for name, data in sorted(members):
            info = tarfile.TarInfo(name)
            info.size = len(data)
            info.mtime = MTIME
            info.mode = 0o644
            info.uname = info.gname = ""
            tar.addfile(info, io.BytesIO(data))
    write("cp437.tar", out.getvalue())


# ------------------------------------------------------------ hand-made

def header(name, size, typeflag=b"0"):
    block = bytearray(512)
    block[0:len(name)] = name.encode("ascii")
    block[100:108] = b"0000644\0"
    block[108:116] = b"0000000\0"
    block[116:124] = b"0000000\0"
    block[124:136] = b"%011o\0" % size
    block[136:148] = b"%011o\0" % MTIME
    block[156:157] = typeflag
    block[257:265] = b"ustar  \0"
    block[148:156] = b" " * 8
    block[148:156] = b"%06o\0 " % sum(block)
    return bytes(block)


def member(name, data):
    return header(name, len(data)) + data + bytes(-len(data) % 512)


def data(size, seed):
    return bytes((i * 7 + seed) & 0xFF for i in range(size))


END = bytes(1024)


def hand_made():
    a, b, c = member("a.txt", data(1000, 1)), member("b.txt", data(3000, 2)), member("c.txt", b"c" * 10)
    broken = bytearray(b)
    broken[0] ^= 0x20  # "b.txt" becomes "B.txt"; the checksum no longer agrees
    write("bad-checksum.tar", a + bytes(broken) + c + END)
    write("truncated-data.tar", a + b[:512 + 100])
    write("truncated-header.tar", a + c[:300])
    write("end-marker-only.tar", END)
    write("after-zeros.tar", a + END + c + END)
    # Names that would leave the output folder or name Windows devices, each
    # between two ordinary members.
    hostile = ["../escape.txt", "a/../../up.txt", "//srv/share/unc.txt", "../../x",
               "f.txt:stream", "CON", "nul.txt", "d/COM1", "x.", "x ", "a?b", "ok..fine"]
    body = member("first.txt", b"first\n")
    for i, name in enumerate(hostile):
        body += member(name, b"hostile %d\n" % i) + member("ok%02d.txt" % i, b"ok\n")
    write("hostile-names.tar", body + END)


def write(name, content):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(content)


def main():
    os.umask(0o022)
    work = tempfile.mkdtemp()
    try:
        root = os.path.join(work, "tree")
        make_tree(root)
        for fmt in ("v7", "oldgnu", "gnu", "ustar", "posix"):
            gnu_tar(root, fmt)
        bsd_tar(root)
    finally:
        shutil.rmtree(work)
    cp437_tar()
    hand_made()


if __name__ == "__main__":
    main()
