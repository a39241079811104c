#!/usr/bin/env python3
"""Times votar against GNU tar and bsdtar on the same work, in one run.

Makes its data sets in a temporary folder, runs every tool on every
operation in alternation, and prints the median time, the ratio to the
faster peer and the peak memory of each. Standard library only.
    python3 bench/run.py --votar build/bench/bin/votar [--quick] [--compressed-only]
        [--wine-votar EXE]
"""
import argparse
import os
import random
import shlex
import shutil
import statistics
import subprocess
import sys
import tarfile
import tempfile
import time

MTIME = 1234567890


def make_big(root, files, size):
    os.makedirs(os.path.join(root, "big"))
    block = os.urandom(1 << 20)
    for i in range(files):
        with open(os.path.join(root, "big", "f%d.bin" % i), "wb") as f:
            for j in range(size >> 20):
                f.write(block[j % 7:] + block[:j % 7])


def make_small(root, count, folders=20):
    rng = random.Random(1)
    names = []
    for i in range(count):
        rel = "small/d%02d/f%05d.txt" % (i % folders, i)
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(bytes(rng.randrange(256) for _ in range(rng.randrange(1024, 4097))))
        names.append(rel)
    return names


def make_empty_members(path, count):
    with tarfile.open(path, "w", format=tarfile.GNU_FORMAT) as t:
        for i in range(count):
            info = tarfile.TarInfo("e/m%06d" % i)
            info.mtime = MTIME
            t.addfile(info)


def run_once(command, cwd, prepare=None):
    """Seconds and peak resident KiB of one run. GNU time measures the peak:
    a child forked from this process would count Python's own memory."""
    if prepare:
        prepare()
    # Each run starts with nothing left to write back from the runs before,
    # which would otherwise slow whoever comes next.
    os.sync()
    if isinstance(command, str):
        command = ["sh", "-c", command]
    fd, mem_file = tempfile.mkstemp()
    os.close(fd)
    start = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", mem_file] + command, cwd=cwd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    with open(mem_file) as f:
        lines = f.read().split()
    os.remove(mem_file)
    if p.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (command, p.returncode, p.stderr[:300]))
    return elapsed, int(lines[-1]) if lines else 0


class Row:
    def __init__(self, name):
        self.name = name
        self.times = {}
        self.memory = {}


def measure(name, tools, cwd, runs):
    """tools: label -> (command, prepare or None); alternated each round."""
    row = Row(name)
    samples = {label: [] for label in tools}
    mem = {label: 0 for label in tools}
    for _ in range(runs):
        for label, (command, prepare) in tools.items():
            t, m = run_once(command, cwd, prepare)
            samples[label].append(t)
            mem[label] = max(mem[label], m)
    for label in tools:
        row.times[label] = statistics.median(samples[label])
        row.memory[label] = mem[label]
    print("  %-34s %s" % (name, "  ".join("%s %.3fs" % (l, row.times[l]) for l in tools)),
          file=sys.stderr, flush=True)
    return row


def fresh(src, dst):
    return lambda: shutil.copyfile(src, dst)


def clear(path):
    def go():
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
    return go


def set_aside(path, spent):
    """A fresh, empty folder at `path` with the last one moved away, not
    deleted: a file system may make new files slow for a while where many
    were just deleted, which would time the file system, not the tools."""
    def go():
        if os.path.exists(path):
            os.makedirs(spent, exist_ok=True)
            os.rename(path, os.path.join(spent, str(len(os.listdir(spent)))))
        os.makedirs(path)
    return go


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--votar", required=True)
    ap.add_argument("--wine-votar", help="also time votar.exe under Wine, for information "
                    "(not with --compressed-only)")
    ap.add_argument("--quick", action="store_true", help="small data sets, for a trial")
    ap.add_argument("--compressed-only", action="store_true",
                    help="only the rows of compressed archives")
    ap.add_argument("--dir", help="where to make the data sets")
    args = ap.parse_args()
    votar = os.path.abspath(args.votar)
    work = tempfile.mkdtemp(prefix="votar-bench-", dir=args.dir)
    rows, notes = [], []
    try:
        print("making data sets in %s" % work, file=sys.stderr)
        if not args.compressed_only:
            plain_rows(args, votar, work, rows)
        compressed_rows(args, votar, work, rows, notes)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print_table(rows, notes)
    # What votar holds before it does any work, for the peaks above.
    _, at_rest = run_once([votar, "--help"], os.getcwd())
    print("votar at rest (--help): %d KiB peak" % at_rest)


def plain_rows(args, votar, work, rows):
    """Plain archives: one of large files, one of many small ones, one of
    empty members."""
    big_files, big_size = (8, 128 << 20) if not args.quick else (8, 4 << 20)
    small_count = 20000 if not args.quick else 2000
    empty_count = 100000 if not args.quick else 10000
    runs, runs_big = (5, 3) if not args.quick else (3, 1)
    list_runs = 9 if not args.quick else 3  # listings are short: medians of more runs
    data = os.path.join(work, "data")
    make_big(data, big_files, big_size)
    names = make_small(data, small_count)
    for top, _, files in os.walk(data):
        for f in files:
            os.utime(os.path.join(top, f), (MTIME, MTIME))
    make_empty_members(os.path.join(work, "empty.tar"), empty_count)
    os.makedirs(os.path.join(work, "out"))
    V, T, B, L = "votar", "GNU tar", "bsdtar", "limit"

    def create(label, what, n):
        return measure(label, {
            V: ([votar, "add", "v.tar", what, "--root", "data"], lambda: _rm(work, "v.tar")),
            T: (["tar", "-cf", "t.tar", "-C", "data", what], lambda: _rm(work, "t.tar")),
            B: (["bsdtar", "-cf", "b.tar", "-C", "data", what], lambda: _rm(work, "b.tar")),
            L: ("cat data/%s/* > c.out" % what if what == "big" else
                "find data/%s -type f -exec cat {} + > c.out" % what,
                lambda: _rm(work, "c.out")),
        }, work, n)

    rows.append(create("create 1 GiB in 8 files" if not args.quick else "create big", "big",
                       runs_big))
    shutil.copyfile(os.path.join(work, "v.tar"), os.path.join(work, "big.tar"))
    rows.append(create("create %d small files" % small_count, "small", runs))
    shutil.copyfile(os.path.join(work, "v.tar"), os.path.join(work, "small.tar"))

    for archive, label in (("big.tar", "list big"), ("small.tar", "list small"),
                           ("empty.tar", "list %d empty members" % empty_count)):
        rows.append(measure(label, {
            V: ([votar, "list", archive], None),
            T: (["tar", "-tvf", archive], None),
            B: (["bsdtar", "-tvf", archive], None),
        }, work, list_runs))

    out = os.path.join(work, "out")
    spent = os.path.join(work, "spent")
    for archive, label, n, prepare in (
            ("big.tar", "extract big", runs_big, clear(out)),
            ("small.tar", "extract small", runs, set_aside(out, spent))):
        rows.append(measure(label, {
            V: ([votar, "extract", archive, "-o", "out", "-y"], prepare),
            T: (["tar", "-xf", archive, "-C", "out"], prepare),
            B: (["bsdtar", "-xf", archive, "-C", "out"], prepare),
            L: ("cat %s > out/c.out" % archive, prepare),
        }, work, n))

    def on_copy(src, tools, label, n=runs):
        return measure(label, {k: (c, fresh(os.path.join(work, src), os.path.join(work, "w.tar")))
                               for k, c in tools.items()}, work, n)

    # GNU tar deletes and appends in place. bsdtar cannot; it does the
    # same work as votar instead: a new archive from the old one, flushed
    # to the disk and moved over it. The limit is a flushed copy.
    def rewrite(what):
        return "bsdtar -cf x.tar %s && sync x.tar && mv x.tar w.tar" % what
    limit = "cp w.tar x.tar && sync x.tar && mv x.tar w.tar"

    for archive, member, label, n in (
            ("small.tar", names[len(names) // 2], "delete 1 of %d" % small_count, runs),
            ("empty.tar", "e/m%06d" % (empty_count // 2), "delete 1 of %d" % empty_count,
             runs),
            ("big.tar", "big/f3.bin", "delete 1 of big", runs_big)):
        rows.append(on_copy(archive, {
            V: [votar, "delete", "w.tar", member.replace("/", "\\")],
            T: ["tar", "--delete", "-f", "w.tar", member],
            B: rewrite("--exclude %s @w.tar" % member),
            L: limit},
            label, n))
    list_file = os.path.join(work, "names.txt")
    with open(list_file, "w") as f:
        f.write("\n".join(names) + "\n")
    rows.append(on_copy("small.tar", {
        V: [votar, "delete", "w.tar", "*.*"],
        T: ["tar", "--delete", "-f", "w.tar", "-T", list_file],
        B: rewrite("-X %s @w.tar" % list_file)},
        "delete all %d" % small_count))

    with open(os.path.join(data, "new.txt"), "wb") as f:
        f.write(b"a new file\n" * 300)
    # Adding appends in place, for all three: votar flushes what it adds
    # before it writes the header that makes it part of the archive.
    for archive, label, n in (
            ("big.tar", "add 1 to big (tar -r)", runs),
            ("small.tar", "add 1 to %d (tar -r)" % small_count, runs),
            ("empty.tar", "add 1 to %d (tar -r)" % empty_count, runs)):
        rows.append(on_copy(archive, {
            V: [votar, "add", "w.tar", "new.txt", "--root", "data"],
            T: ["tar", "-rf", "w.tar", "-C", "data", "new.txt"],
            B: ["bsdtar", "-rf", "w.tar", "-C", "data", "new.txt"]},
            label, n))
    replaced = names[:1000]
    for rel in replaced:
        os.utime(os.path.join(data, rel), (MTIME + 100, MTIME + 100))
    replaced_file = os.path.join(work, "replaced.txt")
    with open(replaced_file, "w") as f:
        f.write("\n".join(replaced) + "\n")
    rows.append(on_copy("small.tar", {
        V: [votar, "add", "w.tar"] + replaced + ["--root", "data", "-y"],
        T: ["tar", "-uf", "w.tar", "-C", "data"] + replaced,
        # bsdtar's exclusions would keep the new files out too: they are
        # appended to the new archive in a second step.
        B: rewrite("-X %s @w.tar && bsdtar -rf x.tar -C data -T %s"
                   % (replaced_file, replaced_file))},
        "replace 1000 of %d (tar -u)" % small_count))

    if args.wine_votar:
        exe = os.path.abspath(args.wine_votar)
        # Into a pipe, where every line once went out in a write of its own.
        rows.append(measure("list small into a pipe", {
            "votar": ("%s list small.tar | cat >/dev/null" % shlex.quote(votar), None),
            "wine": ("wine %s list small.tar | cat >/dev/null" % shlex.quote(exe), None)},
            work, runs))
        rows.append(measure("votar.exe under Wine: list small", {
            "wine": (["wine", exe, "list", "small.tar"], None)}, work, runs))
        rows.append(measure("votar.exe under Wine: extract small", {
            "wine": (["wine", exe, "extract", "small.tar", "-o", "out", "-y"],
                     set_aside(out, spent))},
            work, runs))


# Real sources of this machine, text files only (no NUL byte in the first
# 8 KiB): headers, the Python and Perl libraries. About 160 MB in 11,000
# files; --quick takes at most 3 MB of each.
SOURCES = (("/usr/include", "include"), ("/usr/lib/python3.11", "python3.11"),
           ("/usr/lib/python3/dist-packages", "dist-packages"), ("/usr/share/perl", "perl"))
# The part of them that the gz and xz create rows compress: about 40 MB.
MIDDLE = ("include/c++", "python3.11", "dist-packages")


def copy_sources(dst, cap):
    """Copies the text files of SOURCES below `dst`, in name order, at most
    `cap` bytes of each source; answers the files and bytes copied."""
    count = total = 0
    for src, name in SOURCES:
        taken = 0
        for top, dirs, files in os.walk(src):
            dirs[:] = sorted(d for d in dirs if d != "__pycache__")
            for f in sorted(files):
                path = os.path.join(top, f)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                with open(path, "rb") as fh:
                    if b"\0" in fh.read(8192):
                        continue
                size = os.path.getsize(path)
                if cap and taken + size > cap:
                    continue
                target = os.path.join(dst, name, os.path.relpath(path, src))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(path, target)
                os.utime(target, (MTIME, MTIME))
                taken += size
                count += 1
        total += taken
    return count, total


# suffix, the codec's program at its default level, the peers' option
CODECS = (("gz", ["gzip", "-6"], "-z"), ("xz", ["xz", "-6"], "-J"),
          ("zst", ["zstd", "-3", "-q"], "--zstd"), ("bz2", ["bzip2", "-9"], "-j"))


def compress(program, src, dst):
    with open(src, "rb") as i, open(dst, "wb") as o:
        subprocess.run(program + ["-c"], stdin=i, stdout=o, check=True)


def mb(path):
    return os.path.getsize(path) / 1e6


def compressed_rows(args, votar, work, rows, notes):
    """Compressed archives of a tree of real sources: list and extract with
    each codec, create with gzip, zstd and xz, delete from a .tar.gz."""
    runs, runs_big = (5, 3) if not args.quick else (3, 1)
    list_runs = 9 if not args.quick else 3  # listings are short: medians of more runs
    V, T, B, L = "votar", "GNU tar", "bsdtar", "limit"
    src = os.path.join(work, "src")
    count, size = copy_sources(src, 3 << 20 if args.quick else 0)
    tops = [name for _, name in SOURCES if os.path.isdir(os.path.join(src, name))]
    middle = [m for m in MIDDLE if os.path.isdir(os.path.join(src, m))]
    middle_size = sum(os.path.getsize(os.path.join(t, f))
                      for m in middle for t, _, fs in os.walk(os.path.join(src, m)) for f in fs)
    # The archives to read: one plain tar by GNU tar, compressed once by each
    # codec's own program.
    tree = os.path.join(work, "tree.tar")
    subprocess.run(["tar", "--sort=name", "-cf", tree, "-C", src] + tops, check=True)
    subprocess.run(["tar", "--sort=name", "-cf", os.path.join(work, "middle.tar"), "-C", src]
                   + middle, check=True)
    for suffix, program, _ in CODECS:
        print("  compressing tree.tar.%s" % suffix, file=sys.stderr, flush=True)
        compress(program, tree, tree + "." + suffix)
    notes.append("Sources: %d text files of %s (%.0f MB), as a tar of %.0f MB by GNU tar; "
                 "compressed once: %s." % (
                     count, ", ".join(s for s, _ in SOURCES), size / 1e6, mb(tree),
                     ", ".join(".%s %.1f MB" % (c[0], mb(tree + "." + c[0])) for c in CODECS)))

    out = os.path.join(work, "out")
    spent = os.path.join(work, "spent")
    label = "%.0f MB" % mb(tree)
    for suffix, program, _ in CODECS:
        archive = "tree.tar." + suffix
        decode = " ".join(program[:1] + ["-dc", archive])
        rows.append(measure("list .tar.%s (%s)" % (suffix, label), {
            V: ([votar, "list", archive], None),
            T: (["tar", "-tvf", archive], None),
            B: (["bsdtar", "-tvf", archive], None),
            L: (decode + " > /dev/null", None),
        }, work, runs))
        prepare = set_aside(out, spent)
        rows.append(measure("extract .tar.%s (%s)" % (suffix, label), {
            V: ([votar, "extract", archive, "-o", "out", "-y"], prepare),
            T: (["tar", "-xf", archive, "-C", "out"], prepare),
            B: (["bsdtar", "-xf", archive, "-C", "out"], prepare),
            L: (decode + " > out/c.out", prepare),
        }, work, runs))
        # What was extracted stays until the end: a folder deleted now would
        # make the next row's new files slow for a while (see set_aside), for
        # whoever runs first.

    sizes = []
    for suffix, what, plain in (("gz", middle, "middle.tar"), ("zst", tops, "tree.tar"),
                                ("xz", middle, "middle.tar")):
        program, option = [(c[1], c[2]) for c in CODECS if c[0] == suffix][0]
        made = {V: "v.tar." + suffix, T: "t.tar." + suffix, B: "b.tar." + suffix}
        gone = lambda name: (lambda: _rm(work, name))
        rows.append(measure("create .tar.%s (%.0f MB)" % (
            suffix, (middle_size if what is middle else size) / 1e6), {
            V: ([votar, "add", made[V]] + what + ["--root", "src"], gone(made[V])),
            T: (["tar", option, "-cf", made[T], "-C", "src"] + what, gone(made[T])),
            B: (["bsdtar", option, "-cf", made[B], "-C", "src"] + what, gone(made[B])),
            L: (" ".join(program + ["-c", plain]) + " > c.out", gone("c.out")),
        }, work, runs_big))
        sizes.append(".tar.%s %s" % (suffix, ", ".join(
            "%s %.2f MB" % (k, mb(os.path.join(work, v))) for k, v in made.items())))
    notes.append("Sizes made by the create rows: %s." % "; ".join(sizes))

    # The member to delete: a file from the middle of the archive.
    with tarfile.open(tree) as t:
        files = [m.name for m in t.getmembers() if m.isfile()]
    member = next(n for n in files[len(files) // 2:] if all(c.isalnum() or c in "._-/" for c in n))
    fresh_gz = fresh(tree + ".gz", os.path.join(work, "w.tar.gz"))
    rows.append(measure("delete 1 from .tar.gz (%s)" % label, {
        V: ([votar, "delete", "w.tar.gz", member.replace("/", "\\")], fresh_gz),
        T: ("gzip -dc w.tar.gz | tar --delete -f - %s | gzip > x.tar.gz && sync x.tar.gz && "
            "mv x.tar.gz w.tar.gz" % member, fresh_gz),
        B: ("bsdtar -czf x.tar.gz --exclude %s @w.tar.gz && sync x.tar.gz && "
            "mv x.tar.gz w.tar.gz" % member, fresh_gz),
    }, work, runs_big))


def _rm(work, name):
    path = os.path.join(work, name)
    if os.path.exists(path):
        os.remove(path)


def print_table(rows, notes=()):
    cols = ["votar", "GNU tar", "bsdtar", "limit"]
    print("| operation | votar | GNU tar | bsdtar | limit | votar / faster peer | votar / limit "
          "| peak KiB votar | GNU tar | bsdtar |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        if "wine" in r.times:
            native = r.times.get("votar")
            versus = "%.3f s native, %.2fx" % (native, r.times["wine"] / native) if native else ""
            print("| %s | %.3f s (Wine) %s | | | | | | %d | | |" % (
                r.name, r.times["wine"], versus, r.memory["wine"]))
            continue
        cell = lambda c: "%.3f s" % r.times[c] if c in r.times else ""
        peers = [r.times[c] for c in ("GNU tar", "bsdtar") if c in r.times]
        ratio = "%.2f" % (r.times["votar"] / min(peers)) if peers else ""
        limit = "%.2f" % (r.times["votar"] / r.times["limit"]) if "limit" in r.times else ""
        mem = lambda c: str(r.memory[c]) if c in r.memory else ""
        print("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            r.name, cell("votar"), cell("GNU tar"), cell("bsdtar"), cell("limit"), ratio, limit,
            mem("votar"), mem("GNU tar"), mem("bsdtar")))
    print()
    print("Limit: cat of the same bytes for create and extract; a copy flushed to the disk and")
    print("moved over the archive for delete. In the delete and replace rows GNU tar changes the")
    print("archive in place, while votar and bsdtar write a new archive, flush it and move it")
    print("over the old one. In the add rows all three append in place; votar alone flushes.")
    if not any(r.name.startswith(("list .tar.", "create .tar.")) for r in rows):
        return
    print()
    print("Compressed rows: GNU tar runs the codec's own program (gzip, xz, zstd, bzip2) through")
    print("a pipe, chosen by the archive's first bytes when it reads and by its option when it")
    print("writes (the program picks its default level: gzip 6, xz 6, zstd 3, all on one thread")
    print("here); its peak memory is that of the larger of tar and the program. bsdtar uses the")
    print("libraries in its own process, on one thread. votar compresses xz and zstd on up to")
    print("one thread a processor (at most four), at the same levels. The limit is the codec's")
    print("program alone on the same bytes: decompressing the archive to /dev/null (list) or to")
    print("a file in the output folder (extract), compressing the plain tar of the same files")
    print("(create). Delete from .tar.gz: no peer deletes from a compressed archive, so the GNU")
    print("tar column is the pipeline `gzip -dc w.tar.gz | tar --delete -f - MEMBER | gzip >")
    print("x.tar.gz && sync x.tar.gz && mv x.tar.gz w.tar.gz`, and the bsdtar column")
    print("`bsdtar -czf x.tar.gz --exclude MEMBER @w.tar.gz`, flushed and moved the same way.")
    for n in notes:
        print(n)


if __name__ == "__main__":
    main()
