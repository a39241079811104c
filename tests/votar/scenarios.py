#!/usr/bin/env python3
"""votar as people use it: one scripted scenario per behaviour, grouped.

Runs the native votar, or votar.exe under Wine with --wine; with --pe-tool
(the Win32 build) it also reads the version resources of the two PE files.
Every message votar writes is checked for raw status numbers.
"""
import argparse
import fcntl
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import check, summary  # noqa: E402

SCENARIOS = []
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
# The module's status codes, and any number in brackets, have no place in
# a message meant for people.
RAW_STATUS = re.compile(r"\(\d+\)|\b(2926|9906|9908|9967|9972|32770)\b")


def slashes(text):
    """Paths read alike from both builds: votar.exe writes "\\"."""
    return text.replace("\\", "/")


class Run:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err

    def says(self, *needles):
        return all(slashes(n) in slashes(self.err) for n in needles)


class Votar:
    def __init__(self, program, wine, env=None):
        self.program, self.wine, self.env = program, wine, env or {}
        self.command = ["wine", program] if wine else [program]

    def classic(self, work):
        """votar with names in the classic code page: natively in the C
        locale; on Windows as a version before 10 1903 runs it, which reads
        no code page from the manifest (a copy whose manifest names the
        setting in a namespace no version knows)."""
        if not self.wine:
            return Votar(self.program, False, {"LC_ALL": "C"})
        folder = os.path.join(work, "classic")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(os.path.dirname(self.program), "VoTar40.dll"), folder)
        setting = b"2019/WindowsSettings\">UTF-8<"
        data = read(self.program)
        check(data.count(setting) == 1, "votar.exe's manifest asks for UTF-8")
        write(os.path.join(folder, "votar.exe"), data.replace(setting, setting.replace(b"gs", b"gX")))
        return Votar(os.path.join(folder, "votar.exe"), True)

    def __call__(self, cwd, *args, stdin=subprocess.DEVNULL):
        env = dict(os.environ, WINEDEBUG="-all", TZ="UTC", **self.env)
        p = subprocess.run(self.command + list(args), cwd=cwd, stdin=stdin,
                           capture_output=True, env=env, timeout=120)
        run = Run(p.returncode, p.stdout.decode("utf-8", "replace"),
                  p.stderr.decode("utf-8", "replace"))
        check(not RAW_STATUS.search(run.err), "raw status number in %s: %r" % (args, run.err))
        return run

    def members(self, cwd, archive, *options):
        listing = self(cwd, "list", archive, *options).out
        return [line.split("  ")[-1] for line in listing.splitlines()[:-1]]


def scenario(group):
    def register(f):
        SCENARIOS.append((group, f))
        return f
    return register


def write(path, data=b"x\n"):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run_tar(d, *args):
    p = subprocess.run(["tar"] + list(args), cwd=d, capture_output=True,
                       env=dict(os.environ, LC_ALL="C.UTF-8"))
    return p.stdout.decode("utf-8", "replace").splitlines()


def make_project(d):
    for name in ("proj/src/main.c", "proj/src/x.txt", "proj/lib/util.c", "proj/lib/x.txt"):
        write(os.path.join(d, name), name.encode())


# ------------------------------------------------------------------ adding

@scenario("adding")
def folders_kept_flat_names_and_base(votar, d):
    make_project(d)
    check(votar(d, "add", "p.tar", "proj").code == 0, "add keeping folders")
    check(votar.members(d, "p.tar") == ["proj\\lib\\util.c", "proj\\lib\\x.txt",
                                        "proj\\src\\main.c", "proj\\src\\x.txt"],
          "folders kept by default: %s" % votar.members(d, "p.tar"))
    votar(d, "add", "f.tar", "proj", "--flat")
    check(votar.members(d, "f.tar") == ["util.c", "x.txt", "main.c", "x.txt"],
          "--flat stores names alone: %s" % votar.members(d, "f.tar"))
    r = votar(d, "add", "b.tar", "proj", "--flat", "--base", "top")
    check(r.code == 2 and r.says("--base", "--flat") and not os.path.exists(os.path.join(d, "b.tar")),
          "--base with --flat is a usage error: %d %r" % (r.code, r.err))


@scenario("adding")
def missing_item_named_and_nothing_written(votar, d):
    make_project(d)
    votar(d, "add", "p.tar", "proj/src/main.c")
    before = read(os.path.join(d, "p.tar"))
    for archive in ("p.tar", "new.tar"):
        r = votar(d, "add", archive, "proj/lib", "nothere.txt")
        check(r.code == 1 and r.says("'nothere.txt': no such file"),
              "missing item named: %d %r" % (r.code, r.err))
    check(read(os.path.join(d, "p.tar")) == before and not os.path.exists(os.path.join(d, "new.tar")),
          "nothing written when an item is missing")


@scenario("adding")
def links_and_special_files(votar, d):
    write(os.path.join(d, "d/f.txt"), b"content\n")
    write(os.path.join(d, "d/sub/s.txt"))
    os.makedirs(os.path.join(d, "d/empty"))
    os.symlink("f.txt", os.path.join(d, "d/flink"))
    os.symlink("sub", os.path.join(d, "d/dlink"))
    os.symlink("nothing", os.path.join(d, "d/dangling"))
    os.link(os.path.join(d, "d/f.txt"), os.path.join(d, "d/hard"))
    os.mkfifo(os.path.join(d, "d/fifo"))
    r = votar(d, "add", "l.tar", "d")
    # GNU tar's listing: the type letter, then the name (and a link's target).
    p = subprocess.run(["tar", "-tvf", os.path.join(d, "l.tar")], capture_output=True, text=True)
    listed = [line[0] + " " + line.split(None, 5)[5] for line in p.stdout.splitlines()]
    folders = ["d d/", "d d/empty/", "d d/sub/", "- d/sub/s.txt"]
    if votar.wine:
        # A link stands for the file it names; a link to a folder is
        # passed over. Wine shows no link to nothing in a folder.
        check(r.code == 0 and r.says("'d/dlink', a link to a folder", "'d/fifo'"),
              "links to folders, and FIFOs, noted: %d %r" % (r.code, r.err))
        want = ["- d/f.txt", "- d/flink", "- d/hard"]
    else:
        check(r.code == 0 and r.says("'d/fifo'") and "link" not in r.err,
              "FIFOs noted, links stored unasked: %d %r" % (r.code, r.err))
        want = ["l d/dangling -> nothing", "l d/dlink -> sub", "- d/f.txt", "l d/flink -> f.txt",
                "h d/hard link to d/f.txt"]
    check(sorted(listed) == sorted(folders + want) and listed[0] == "d d/",
          "folders, empty ones too, first, and links as the build stores them: %s" % listed)
    if votar.wine:
        votar(d, "extract", "l.tar", "-o", "out")
        check(read(os.path.join(d, "out/d/flink")) == b"content\n", "a linked file's content is stored")


@scenario("adding")
def names_without_an_ansi_form_refused(votar, d):
    votar = votar.classic(d)
    write(os.path.join(d, "d/plain.txt"))
    write(os.path.join(d, "d/\u03a9mega.txt"))
    items = ["d", "d/\u03a9mega.txt"]
    if not votar.wine:  # natively a link is stored with its target
        os.symlink("\u03a9mega.txt", os.path.join(d, "l"))
        items.append("l")
    for item in items:
        r = votar(d, "add", "n.tar", item)
        check(r.code == 1 and r.says("\u03a9mega.txt" if item != "l" else "'l': its target",
                                     "ANSI code page"),
              "name without an ANSI form refused: %d %r" % (r.code, r.err))
    check(not os.path.exists(os.path.join(d, "n.tar")), "nothing written for such a name")
    # Names in UTF-8 are asked for in vain where the system has none.
    r = votar(d, "add", "n.tar", "d", "--utf8")
    if votar.wine:
        check(r.code == 1 and r.says("Windows 10 version 1903"), "--utf8 refused: %d %r" % (r.code, r.err))
    else:
        check(r.code == 0 and votar.members(d, "n.tar", "--utf8") == ["d\\plain.txt", "d\\\u03a9mega.txt"],
              "--utf8 whatever the locale: %d %r" % (r.code, r.err))


# Greek, CJK, and a character beyond the BMP (a pair of surrogates in UTF-16).
WORLD = ["\u03a9mega.txt", "\u6f22\u5b57.txt", "\U0001f600.txt"]


@scenario("adding")
def names_in_every_script(votar, d):
    for name in WORLD:
        write(os.path.join(d, "w", name), name.encode())
    write(os.path.join(d, "\u0436\u0443\u043a.txt"))
    r = votar(d, "add", "w.tar", "w", "\u0436\u0443\u043a.txt", "-v")
    stored = sorted("w\\" + n for n in WORLD) + ["\u0436\u0443\u043a.txt"]
    check(r.code == 0 and r.out.splitlines() == ["w"] + stored,
          "added and named: %d %r %r" % (r.code, r.out, r.err))
    check(votar.members(d, "w.tar") == stored, "listed: %s" % votar.members(d, "w.tar"))
    listed = run_tar(d, "-tf", "w.tar")
    check(listed == ["w/"] + [n.replace("\\", "/") for n in stored], "GNU tar reads them: %s" % listed)
    r = votar(d, "extract", "w.tar", "*.txt", "-o", "out")
    check(r.code == 0 and all(read(os.path.join(d, "out/w", n)) == n.encode() for n in WORLD),
          "extracted: %d %r" % (r.code, r.err))
    r = votar(d, "delete", "w.tar", "w/" + WORLD[2], "-v")
    check(r.code == 0 and r.out == "w\\%s\n" % WORLD[2]
          and votar.members(d, "w.tar") == [m for m in stored if WORLD[2] not in m],
          "deleted by its name: %d %r %r" % (r.code, r.out, r.err))


@scenario("adding")
def empty_file_taken_for_a_new_archive(votar, d):
    write(os.path.join(d, "e.tar"), b"")
    write(os.path.join(d, "a.txt"))
    r = votar(d, "add", "e.tar", "a.txt")
    check(r.code == 0 and r.err == "" and votar.members(d, "e.tar") == ["a.txt"],
          "an empty file becomes the archive: %d %r" % (r.code, r.err))


# ----------------------------------------------------------------- prompts

def existing_output(votar, d):
    make_project(d)
    votar(d, "add", "p.tar", "proj")
    for name in ("proj/src/main.c", "proj/src/x.txt"):
        write(os.path.join(d, "out", name), b"old")


@scenario("prompts")
def kept_without_a_terminal(votar, d):
    existing_output(votar, d)
    p = subprocess.run(votar.command + ["extract", "p.tar", "-o", "out", "-v"], cwd=d,
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    lines = slashes(p.stdout.decode()).splitlines()
    check(p.returncode == 1 and lines == [
        "proj/lib/util.c", "proj/lib/x.txt",
        "votar: kept the existing file 'out/proj/src/main.c'",
        "votar: kept the existing file 'out/proj/src/x.txt'",
        "votar: 2 existing files kept; -y replaces them, -n keeps them quietly"],
        "kept files warned about, in order, and never named as done: %d %s" % (p.returncode, lines))
    check(read(os.path.join(d, "out/proj/src/main.c")) == b"old", "kept file unchanged")
    r = votar(d, "add", "p.tar", "proj/src/main.c")
    check(r.code == 1 and r.says("kept the existing member 'proj/src/main.c'", "1 existing member"),
          "kept member warned about: %d %r" % (r.code, r.err))


@scenario("prompts")
def no_and_yes_answer_quietly(votar, d):
    existing_output(votar, d)
    r = votar(d, "extract", "p.tar", "-o", "out", "-n")
    check(r.code == 0 and r.err == "" and read(os.path.join(d, "out/proj/src/main.c")) == b"old",
          "-n keeps quietly: %d %r" % (r.code, r.err))
    r = votar(d, "extract", "p.tar", "-o", "out", "-y")
    check(r.code == 0 and r.err == "" and read(os.path.join(d, "out/proj/src/main.c")) != b"old",
          "-y replaces: %d %r" % (r.code, r.err))


def on_terminal(votar, d, args, stop):
    """Runs votar on a pseudo-terminal up to its first question, then stops
    it with `stop` (a signal, or bytes typed); answers (status, screen)."""
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(d)
        os.execvp(votar.command[0], votar.command + args)
    screen, deadline = b"", time.time() + 60
    while time.time() < deadline and b"[y]es" not in screen:
        if select.select([fd], [], [], 0.2)[0]:
            try:
                screen += os.read(fd, 4096)
            except OSError:
                break
        screen = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", screen)
    if isinstance(stop, bytes):
        os.write(fd, stop)
    else:
        os.kill(pid, stop)
    while select.select([fd], [], [], 30)[0]:
        try:
            data = os.read(fd, 4096)
        except OSError:
            break
        if not data:
            break
        screen += data
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    return os.waitstatus_to_exitcode(status), re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", screen)


@scenario("prompts")
def stop_at_a_question(votar, d):
    existing_output(votar, d)
    # Windows has no signals but Ctrl-C, Ctrl-Break and closing the console.
    # A signal exits with 128 and its number; the end of input (Ctrl-D)
    # answers quit.
    rows = [(b"\x03", 130)] + ([] if votar.wine else [
        (signal.SIGTERM, 143), (signal.SIGHUP, 129), (b"\x04", 1)])
    for stop, want in rows:
        code, screen = on_terminal(votar, d, ["extract", "p.tar", "-o", "out"], stop)
        check(code == want and b"stopped" in screen,
              "stop %r at a question: exit %d, screen %r" % (stop, code, screen))
        check(read(os.path.join(d, "out/proj/src/main.c")) == b"old", "nothing replaced on a stop")


# ------------------------------------------------------------------ errors

@scenario("errors")
def unsafe_names_named(votar, d):
    shutil.copy(os.path.join(DATA, "hostile-names.tar"), d)
    r = votar(d, "extract", "hostile-names.tar", "-o", "out")
    check(r.code == 1 and r.says("not extracted (unsafe name): '..\\x'",
                                 "not extracted (unsafe name): 'a\\..\\..\\up.txt'")
          and os.path.exists(os.path.join(d, "out/ok11.txt")),
          "unsafe names named, the others extracted: %d %r" % (r.code, r.err))


@scenario("errors")
def refusals_named_with_their_reason(votar, d):
    import tarfile
    votar = votar.classic(d)  # where Ωmega has no form
    with tarfile.open(os.path.join(d, "r.tar"), "w", format=tarfile.PAX_FORMAT) as t:
        for name in ("ok.txt", "a\nb.txt", "c\x01.txt", "\u03a9mega.txt", "d/" + "x" * 300):
            t.addfile(tarfile.TarInfo(name))
    r = votar(d, "list", "r.tar")
    check(r.code == 0 and len(r.out.splitlines()) == 6 and "a\\nb.txt" in r.out
          and "c\\001.txt" in r.out, "control characters listed escaped: %d %r" % (r.code, r.out))
    r = votar(d, "extract", "r.tar", "-o", "out")
    check(r.code == 1 and r.says("not extracted (unsafe name): 'a\\nb.txt'",
                                 "not extracted (unsafe name): 'c\\001.txt'",
                                 "not extracted (its name has no form in the ANSI code page): '_mega.txt'",
                                 "not extracted (its path is longer than 255 bytes): 'd\\xxx")
          and os.listdir(os.path.join(d, "out")) == ["ok.txt"],
          "each refusal named with its reason: %d %r" % (r.code, r.err))
    r = votar(d, "extract", "r.tar", "ok.txt", "-o", "o" * 250)
    check(r.code == 1 and r.says("not extracted (its path is longer than 255 bytes): 'ok.txt'"),
          "an output path past 255 bytes named: %d %r" % (r.code, r.err))


@scenario("errors")
def member_that_stopped_an_extraction(votar, d):
    make_project(d)
    votar(d, "add", "p.tar", "proj")
    write(os.path.join(d, "out/proj"), b"a file where a folder goes")
    r = votar(d, "extract", "p.tar", "-o", "out")
    check(r.code == 1 and r.says("cannot write 'out/proj/lib/util.c': 'out/proj' is a file"),
          "the member that stopped extraction named: %d %r" % (r.code, r.err))


@scenario("errors")
def cut_short_and_damaged_archives(votar, d):
    shutil.copy(os.path.join(DATA, "truncated-data.tar"), d)
    shutil.copy(os.path.join(DATA, "bad-checksum.tar"), d)
    for args in (["extract", "truncated-data.tar", "-o", "out"], ["delete", "truncated-data.tar", "a.txt"]):
        r = votar(d, *args)
        check(r.code == 1 and r.says("cut short"), "%s: %d %r" % (args[0], r.code, r.err))
    r = votar(d, "list", "bad-checksum.tar")
    check(r.out.startswith("-w") and "a.txt" in r.out, "members before the damage listed: %r" % r.out)
    if r.code == 0:
        print("skipped: the module does not report damage yet")
    else:
        check(r.says("'bad-checksum.tar' is damaged after 1 member"), "damage told: %r" % r.err)


@scenario("errors")
def archive_in_use(votar, d):
    # votar looks for the writers' lock after a change failed. This archive
    # is cut short too, so the change fails whether or not the module
    # takes the lock before it.
    shutil.copy(os.path.join(DATA, "truncated-data.tar"), os.path.join(d, "t.tar"))
    before = read(os.path.join(d, "t.tar"))
    fd = os.open(os.path.join(d, "t.tar"), os.O_RDWR)
    try:
        fcntl.fcntl(fd, fcntl.F_OFD_SETLK, struct.pack("hhqqi", fcntl.F_WRLCK, os.SEEK_SET, 1 << 62, 1, 0))
        r = votar(d, "delete", "t.tar", "a.txt")
    finally:
        os.close(fd)
    check(r.code == 1 and r.says("cannot delete from 't.tar': it is in use by another program"),
          "in use told: %d %r" % (r.code, r.err))
    check(read(os.path.join(d, "t.tar")) == before, "an archive in use is left as it was")


# ----------------------------------------------------------------- listing

@scenario("listing")
def exit_status_of_list(votar, d):
    make_project(d)
    votar(d, "add", "p.tar", "proj")
    shutil.copy(os.path.join(DATA, "end-marker-only.tar"), os.path.join(d, "empty.tar"))
    write(os.path.join(d, "zero.tar"), b"")
    rows = [  # args, exit status, words on standard error
        (["list", "p.tar", "*.c"], 0, ""),
        (["list", "p.tar", "*.h", "*.md"], 1, "no member of 'p.tar' matches '*.h', '*.md'"),
        (["extract", "p.tar", "*.h", "-o", "out"], 1, "no member of 'p.tar' matches '*.h'"),
        (["list", "empty.tar"], 0, ""),
        (["list", "zero.tar"], 0, ""),
        (["list", "p.tar", "*"], 1, "matches '*'"),  # * takes names without an extension
        (["list", "missing.tar"], 1, "cannot open 'missing.tar': no such file"),
        (["list", "proj"], 1, "cannot open 'proj': it is a folder"),
    ]
    for args, code, words in rows:
        r = votar(d, *args)
        check(r.code == code and r.says(words), "%s: %d %r" % (args, r.code, r.err))


# ------------------------------------------------------------ command line

@scenario("command line")
def version_help_and_end_of_options(votar, d, version):
    r = votar(d, "--version")
    check(r.code == 0 and r.out == "votar %s\n" % version, "--version: %r" % r.out)
    helps = [votar(d, "help", "add"), votar(d, "add", "--help"), votar(d, "a", "-h")]
    check(all(h.code == 0 and h.out == helps[0].out for h in helps) and "--flat" in helps[0].out
          and "followed" in helps[0].out, "help of add: %r" % helps[0].out)
    masks = votar(d, "help", "list").out
    check("*.*" in masks and "without an extension" in masks and "every folder" in masks
          and "Case is ignored" in masks, "the help tells the mask rules: %r" % masks)
    check(votar(d, "help", "frob").code == 2, "help on no command is a usage error")
    write(os.path.join(d, "-v"))
    r = votar(d, "add", "o.tar", "--", "-v")
    check(r.code == 0 and votar.members(d, "o.tar") == ["-v"], "-- ends the options: %r" % r.err)
    check(votar(d, "frobnicate").code == 2, "unknown command")


# ----------------------------------------------------------------- release

def version_resources(bin_dir, tool, version):
    """Both PE files carry the version; votar.exe alone a manifest, which
    asks for UTF-8 and names Windows 10."""
    for name in ("VoTar40.dll", "votar.exe"):
        rc = subprocess.run([tool, "-i", os.path.join(bin_dir, name), "-O", "rc"],
                            capture_output=True, text=True).stdout
        check('VALUE "FileVersion", "%s"' % version in rc
              and 'VALUE "ProductVersion", "%s"' % version in rc
              and "FileDescription" in rc, "%s has no version resource of %s:\n%s" % (name, version, rc))
        manifest = "1 24 /* RT_MANIFEST */" in rc
        utf8 = ">UTF-8</activeCodePage>" in rc and "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" in rc
        check(manifest == utf8 == (name == "votar.exe"), "%s manifest: %s" % (name, rc))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--votar", required=True)
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--version", required=True, help="the version the build was given")
    ap.add_argument("--pe-tool", help="windres, to read the PE files' resources")
    args = ap.parse_args()
    votar = Votar(os.path.abspath(args.votar), args.wine)
    work = tempfile.mkdtemp(prefix="votar-scenarios-")
    try:
        for group, f in SCENARIOS:
            d = os.path.join(work, f.__name__)
            os.makedirs(d)
            print("%s: %s" % (group, f.__name__.replace("_", " ")), flush=True)
            if f.__code__.co_argcount == 3:
                f(votar, d, args.version)
            else:
                f(votar, d)
        if args.pe_tool:
            version_resources(os.path.dirname(os.path.abspath(args.votar)), args.pe_tool,
                              args.version)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
