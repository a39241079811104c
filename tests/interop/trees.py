#!/usr/bin/env python3
"""Trees as GNU tar restores them and as votar does: files with their bytes
and modes, folders with their times, symbolic links with their targets and
hard links as one file. Run on archives, it extracts each with both and
tells what each restored and how they differ:

    trees.py --votar build/native/bin/votar data.tar [...]
    trees.py --votar build/win32/bin/votar.exe --wine data.tar [...]

With --round-trip it extracts each with GNU tar, adds that tree with votar,
and holds what GNU tar extracts of votar's archive against the first tree.

Under Wine a symbolic link that Windows did not make stands as a copy of
the file it names: counted as such, not as a difference. Folder times are
held against the archive's: GNU tar gives a folder that holds symbolic links
the time they were made.
"""
import argparse
import os
import shutil
import stat
import subprocess
import sys
import tarfile
import tempfile


def describe(root):
    """relative name -> (kind, detail, mode, mtime), links not followed. kind
    is "file", "dir" or "link"; detail the bytes or the target; mtime is
    kept for folders and files; "ino" groups hard links."""
    out = {}
    for top, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(top, name)
            rel = os.path.relpath(path, root)
            st = os.lstat(path)
            if stat.S_ISLNK(st.st_mode):
                out[rel] = ("link", os.readlink(path), None, None, None)
            elif stat.S_ISDIR(st.st_mode):
                out[rel] = ("dir", None, st.st_mode & 0o7777, int(st.st_mtime), None)
            else:
                with open(path, "rb") as f:
                    data = f.read()
                ino = (st.st_dev, st.st_ino) if st.st_nlink > 1 else None
                out[rel] = ("file", data, st.st_mode & 0o7777, int(st.st_mtime), ino)
    return out


def counts(tree):
    c = {"files": 0, "links": 0, "hard links": 0, "folders": 0, "executables": 0}
    seen = set()
    for kind, _, mode, _, ino in tree.values():
        if kind == "file":
            c["files"] += 1
            c["executables"] += bool(mode & 0o111)
            if ino is not None:
                c["hard links"] += ino in seen
                seen.add(ino)
        elif kind == "link":
            c["links"] += 1
        else:
            c["folders"] += 1
    return c


def target_bytes(tree, rel, hops=0):
    """The bytes a link names inside the tree, or None."""
    entry = tree.get(rel)
    if entry is None or hops > 40:
        return None
    if entry[0] == "file":
        return entry[1]
    if entry[0] == "link" and not entry[1].startswith("/"):
        joined = os.path.normpath(os.path.join(os.path.dirname(rel), entry[1]))
        return target_bytes(tree, joined, hops + 1)
    return None


def folder_times(archive):
    """relative name -> time of each folder member of an archive."""
    times = {}
    with tarfile.open(archive) as t:
        for m in t.getmembers():
            if m.isdir():
                name = os.path.normpath(m.name.lstrip("/"))
                if name != ".":
                    times[name] = int(m.mtime)
    return times


def times_kept(tree, times):
    """How many of the archive's folders have their stored time in `tree`."""
    return sum(1 for rel, t in times.items() if rel in tree and tree[rel][3] == t)


def differences(want, got, modes=True, copies_for_links=False, times=None):
    """What `got` lacks or holds otherwise than `want`, one line each; and
    how many links stand as copies in `got`. Folder times are held against
    `times` when given."""
    diffs, copied = [], 0
    groups_want, groups_got = {}, {}
    for rel, w in sorted(want.items()):
        g = got.get(rel)
        if g is None:
            diffs.append("missing %s %s" % (w[0], rel))
            continue
        if w[0] == "link" and g[0] == "file" and copies_for_links:
            if target_bytes(want, rel) == g[1]:
                copied += 1
            else:
                diffs.append("copy of the wrong bytes for link %s" % rel)
            continue
        if w[0] != g[0]:
            diffs.append("%s is a %s, not a %s" % (rel, g[0], w[0]))
        elif w[0] == "link" and w[1] != g[1]:
            diffs.append("link %s -> %s, not %s" % (rel, g[1], w[1]))
        elif w[0] == "file" and w[1] != g[1]:
            diffs.append("bytes of %s differ" % rel)
        elif w[0] == "dir" and g[3] != (times or {}).get(rel, w[3]):
            diffs.append("time of folder %s differs" % rel)
        elif w[0] == "file" and w[3] != g[3]:
            diffs.append("time of %s differs" % rel)
        elif modes and w[2] != g[2]:
            diffs.append("mode of %s is %o, not %o" % (rel, g[2], w[2]))
        if w[0] == "file" and w[4] is not None:
            groups_want.setdefault(w[4], []).append(rel)
            groups_got.setdefault(rel, g[4])
    # Hard links: names that are one file for GNU tar are one file here.
    for names in groups_want.values():
        if len({groups_got[n] for n in names}) != 1 or groups_got[names[0]] is None:
            diffs.append("not one file: %s" % ", ".join(names))
    for rel in sorted(set(got) - set(want)):
        diffs.append("extra %s %s" % (got[rel][0], rel))
    return diffs, copied


def extract(command, archive, into):
    os.makedirs(into)
    r = subprocess.run(command + [os.path.abspath(archive)], cwd=into,
                       capture_output=True, env=dict(os.environ, WINEDEBUG="-all"))
    return r.returncode, r.stderr.decode(errors="replace")


def round_trip(votar, archive, work):
    """GNU tar -x, votar add, GNU tar -x: the differences, one line each."""
    first = os.path.join(work, "first")
    extract(["tar", "--no-same-owner", "-xf"], archive, first)
    items = sorted(os.listdir(first))
    r = subprocess.run(votar + ["add", os.path.join(work, "votar.tar")] + items +
                       ["--root", first], capture_output=True,
                       env=dict(os.environ, WINEDEBUG="-all"))
    extract(["tar", "--no-same-owner", "-xf"], os.path.join(work, "votar.tar"),
            os.path.join(work, "again"))
    want = describe(first)
    got = describe(os.path.join(work, "again"))
    return r.returncode, r.stderr.decode(errors="replace"), want, got


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--votar", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--round-trip", action="store_true")
    parser.add_argument("archives", nargs="+")
    args = parser.parse_args()
    program = (["wine"] if args.wine else []) + [os.path.abspath(args.votar)]
    votar = program + ["extract"]
    failed = 0
    for archive in args.archives:
        work = tempfile.mkdtemp(prefix="votar-trees-")
        try:
            if args.round_trip:
                rc, err, want, got = round_trip(program, archive, work)
                diffs, copied = differences(want, got, modes=not args.wine,
                                            copies_for_links=args.wine)
                print("%s: first extraction %s" % (archive, counts(want)))
                print("%s: after votar add (exit %d) %s, links as copies %d, differences %d" %
                      (archive, rc, counts(got), copied, len(diffs)))
                for line in err.strip().splitlines() + diffs:
                    print("  " + line)
                failed += bool(diffs)
                continue
            gnu_rc, _ = extract(["tar", "--no-same-owner", "-xf"], archive,
                                os.path.join(work, "gnu"))
            # votar extracts into the current folder: its -o would be a
            # Unix path under Wine.
            rc, err = extract(votar, archive, os.path.join(work, "votar"))
            want = describe(os.path.join(work, "gnu"))
            got = describe(os.path.join(work, "votar"))
            times = folder_times(archive)
            diffs, copied = differences(want, got, modes=not args.wine,
                                        copies_for_links=args.wine, times=times)
            print("%s: GNU tar (exit %d) %s, folder times as stored %d of %d" %
                  (archive, gnu_rc, counts(want), times_kept(want, times), len(times)))
            print("%s: votar (exit %d) %s, folder times as stored %d, links as copies %d" %
                  (archive, rc, counts(got), times_kept(got, times), copied))
            for line in err.strip().splitlines():
                print("  votar says: " + line)
            for d in diffs:
                print("  " + d)
            failed += bool(diffs)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
