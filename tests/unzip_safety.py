#!/usr/bin/python3
"""What `orvanta unzip` and `orvanta sfx extract` do to the files already
in their target: existing files are replaced only when told (-o), kept
with -n, asked about on a terminal and refused elsewhere; a replaced
read-only file stays read-only; the archive being read is never replaced;
links in the target are never followed; an interrupt or a full disk leaves
no temporary file and the old file intact. Also: names that Info-ZIP zip
writes on Unix without the UTF-8 flag, control characters in listed
names, and the reason when an archive cannot be opened.
"""
import argparse
import os
import pty
import select
import signal
import stat
import subprocess
import sys
import time
import zipfile

from checks import check, finish, fresh, run, small_disk


def make_zip(path, entries, compression=zipfile.ZIP_STORED):
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in entries:
            z.writestr(name, data)


def leftovers(folder):
    return [n for _, _, names in os.walk(folder) for n in names if ".orvpart" in n]


def existing_files(tool, work):
    archive = os.path.join(work, "new.zip")
    make_zip(archive, [("locked.txt", b"new"), ("other.txt", b"other")])
    sfx = os.path.join(work, "new.exe")
    rc, _, err = run([tool, "sfx", "build", archive, sfx])
    check(rc == 0, "sfx build: %s" % err)
    cases = [  # verb arguments, expected exit code, replaced?
        (["unzip", archive], [], 1, False),
        (["unzip", archive], ["-n"], 0, False),
        (["unzip", archive], ["-o"], 0, True),
        (["sfx", "extract", sfx], [], 1, False),
        (["sfx", "extract", sfx], ["-n"], 0, False),
        (["sfx", "extract", sfx], ["-o"], 0, True),
    ]
    for verb, options, want_rc, replaced in cases:
        label = " ".join(verb[:-1] + options)
        target = fresh(os.path.join(work, "existing"))
        locked = os.path.join(target, "locked.txt")
        with open(locked, "wb") as f:
            f.write(b"old")
        os.chmod(locked, 0o444)
        rc, _, err = run([tool] + verb + ["-d", target] + options)
        check(rc == want_rc, "%s: exit %s, expected %d: %s" % (label, rc, want_rc, err))
        with open(locked, "rb") as f:
            check(f.read() == (b"new" if replaced else b"old"), "%s: locked.txt replaced=%s expected" % (label, replaced))
        check(stat.S_IMODE(os.stat(locked).st_mode) == 0o444, "%s: mode of locked.txt changed" % label)
        check(os.path.exists(os.path.join(target, "other.txt")), "%s: other.txt not extracted" % label)
        if want_rc:
            check("locked.txt" in err and "-o" in err, "%s: message does not name the file and -o: %s" % (label, err))
        check(not leftovers(target), "%s: temporary files left" % label)


def archive_being_read(tool, work):
    folder = fresh(os.path.join(work, "self"))
    archive = os.path.join(folder, "same.zip")
    make_zip(archive, [("same.zip", b"an entry named like its archive")])
    before = open(archive, "rb").read()
    rc, _, err = run([tool, "unzip", archive, "-d", folder, "-o"])
    check(rc == 1 and "archive being read" in err, "entry named like the archive: exit %s %s" % (rc, err))
    check(open(archive, "rb").read() == before, "the archive being read was replaced")


def links_in_target(tool, work):
    case = fresh(os.path.join(work, "links"))
    target, outside = os.path.join(case, "t"), os.path.join(case, "outside")
    os.makedirs(target)
    os.makedirs(outside)
    os.symlink("../outside", os.path.join(target, "dlink"))
    archive = os.path.join(case, "a.zip")
    make_zip(archive, [("dlink/escape.txt", b"escaped"), ("fine.txt", b"fine")])
    rc, _, err = run([tool, "unzip", archive, "-d", target, "-o"])
    check(rc == 1 and "dlink/escape.txt" in err, "link in the way: exit %s %s" % (rc, err))
    check(os.listdir(outside) == [], "wrote through a link: %s" % os.listdir(outside))
    check(os.path.exists(os.path.join(target, "fine.txt")), "the entry beside the link was not extracted")


def unix_names(tool, work):
    src = fresh(os.path.join(work, "names-src"))
    names = ["na\u00efve \u2713.txt", "\u65e5\u672c\u8a9e/\u30d5\u30a1\u30a4\u30eb.txt"]
    for n in names:
        os.makedirs(os.path.dirname(os.path.join(src, n)) or src, exist_ok=True)
        with open(os.path.join(src, n), "w") as f:
            f.write(n)
    archive = os.path.join(work, "infozip.zip")
    env = dict(os.environ, LC_ALL="C")  # raw UTF-8 bytes without the flag
    r = subprocess.run(["zip", "-q", "-r", archive] + [n.split("/")[0] for n in names], cwd=src, env=env)
    if not check(r.returncode == 0, "Info-ZIP zip failed"):
        return
    check(all(i.flag_bits & 0x800 == 0 for i in zipfile.ZipFile(archive).infolist()),
          "Info-ZIP zip set the UTF-8 flag: the case does not test what it should")
    rc, out, err = run([tool, "list", archive])
    for n in names:
        check(n in out, "list does not show %r: %s" % (n, out))
    target = fresh(os.path.join(work, "names-out"))
    rc, _, err = run([tool, "unzip", archive, "-d", target])
    for n in names:
        p = os.path.join(target, n)
        check(os.path.exists(p) and open(p).read() == n, "unzip did not give %r: %s" % (n, err))


def control_characters(tool, work):
    archive = os.path.join(work, "controls.zip")
    make_zip(archive, [("evil\x1b[2Jname\r& run.exe", b"x")])
    rc, out, err = run([tool, "list", archive])
    check("\x1b" not in out and "\r" not in out, "list printed raw control characters: %r" % out)
    check("evil\\x1b[2Jname\\r& run.exe" in out, "list does not show the escaped name: %r" % out)
    # sfx extract: the refused entry's name in the failure report, and the
    # program it would start.
    plain = os.path.join(work, "plain.zip")
    make_zip(plain, [("run.exe", b"x")])
    for source, seen in ((archive, "evil\\x1b[2Jname\\r& run.exe"), (plain, "\\r& evil.exe")):
        sfx = os.path.join(work, "controls.exe")
        rc, _, err = run([tool, "sfx", "build", source, sfx, "--run", "\r& evil.exe"])
        check(rc == 0, "sfx build with a control character in --run: %s" % err)
        rc, out, err = run([tool, "sfx", "extract", sfx, "-d", fresh(os.path.join(work, "controls")), "-o"])
        said = out + err
        check("\r" not in said and "\x1b" not in said, "sfx extract printed raw control characters: %r" % said)
        check(seen in said, "sfx extract does not show %s: %r" % (seen, said))


def open_reasons(tool, work):
    rc, _, err = run([tool, "list", os.path.join(work, "missing.zip")])
    check(rc == 1 and "No such file or directory" in err, "missing archive: %s" % err)
    rc, _, err = run([tool, "unzip", work])
    check(rc == 1 and err.strip() != "" and err.rstrip().endswith(":") is False, "a folder as archive: %s" % err)


def interrupt(tool, work):
    """Ctrl+C while an entry is being written removes its temporary file."""
    archive = os.path.join(work, "big.zip")
    make_zip(archive, [("zeros.bin", b"\0" * (256 << 20))], zipfile.ZIP_DEFLATED)
    for sig in (signal.SIGINT, signal.SIGTERM):
        target = fresh(os.path.join(work, "interrupted"))
        p = subprocess.Popen([tool, "unzip", archive, "-d", target], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        seen = False
        deadline = time.time() + 60
        while time.time() < deadline and p.poll() is None and not seen:
            seen = bool(leftovers(target))
            time.sleep(0.005)
        if seen:
            p.send_signal(sig)
        p.wait(60)
        if not seen:
            print("note: the extraction ended before its temporary file was seen (%s)" % sig.name)
            continue
        check(p.returncode == -sig, "%s: exit %s" % (sig.name, p.returncode))
        check(not leftovers(target), "%s left %s" % (sig.name, leftovers(target)))
        check(not os.path.exists(os.path.join(target, "zeros.bin")), "%s: a partial file took the name" % sig.name)


def interrupted_zip(tool, work):
    """Ctrl+C while zip writes removes its temporary and keeps the old archive."""
    src = fresh(os.path.join(work, "zip-src"))
    with open(os.path.join(src, "zeros.bin"), "wb") as f:
        f.truncate(256 << 20)
    out = fresh(os.path.join(work, "zip-out"))
    archive = os.path.join(out, "a.zip")
    make_zip(archive, [("old.txt", b"the old archive")])
    before = open(archive, "rb").read()
    p = subprocess.Popen([tool, "zip", archive, os.path.join(src, "zeros.bin"), "-l", "9"], stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    deadline = time.time() + 60
    while time.time() < deadline and p.poll() is None and len(os.listdir(out)) < 2:
        time.sleep(0.005)
    seen = len(os.listdir(out)) == 2
    if seen:
        p.send_signal(signal.SIGINT)
    p.wait(60)
    if not seen:
        print("note: zip ended before its temporary file was seen")
        return
    check(p.returncode == -signal.SIGINT, "interrupted zip: exit %s" % p.returncode)
    check(os.listdir(out) == ["a.zip"], "interrupted zip left %s" % os.listdir(out))
    check(open(archive, "rb").read() == before, "interrupted zip changed the old archive")


def terminal_question(tool, work):
    archive = os.path.join(work, "ask.zip")
    make_zip(archive, [("a.txt", b"new")])
    for answer, want in ((b"n\n", b"old"), (b"y\n", b"new")):
        target = fresh(os.path.join(work, "ask"))
        with open(os.path.join(target, "a.txt"), "wb") as f:
            f.write(b"old")
        master, slave = pty.openpty()
        p = subprocess.Popen([tool, "unzip", archive, "-d", target], stdin=slave, stdout=subprocess.DEVNULL,
                             stderr=slave)
        os.close(slave)
        said = b""
        deadline = time.time() + 60
        while b"[N]one" not in said and time.time() < deadline:
            if select.select([master], [], [], 1)[0]:
                try:
                    said += os.read(master, 1024)
                except OSError:
                    break
        check(b"replace" in said and b"a.txt" in said, "no question on the terminal: %r" % said)
        os.write(master, answer)
        p.wait(60)
        os.close(master)
        check(p.returncode == 0, "answer %r: exit %s" % (answer, p.returncode))
        check(open(os.path.join(target, "a.txt"), "rb").read() == want, "answer %r: a.txt wrong" % answer)


def full_disk(tool, work):
    payload = os.urandom(1 << 20)  # does not fit the 256 KiB disk
    archive = os.path.join(work, "full.zip")
    make_zip(archive, [("data.bin", payload)])
    sfx = os.path.join(work, "full.exe")
    run([tool, "sfx", "build", archive, sfx])
    with small_disk(work) as disk:
        if disk is None:
            print("SKIP: full-disk test needs root (mounting a small tmpfs)")
            return
        for verb in (["unzip", archive], ["sfx", "extract", sfx]):
            old = os.path.join(disk, "data.bin")
            with open(old, "wb") as f:
                f.write(b"the old file")
            rc, _, err = run([tool] + verb + ["-d", disk, "-o"])
            label = " ".join(verb[:1])
            check(rc == 1 and "No space left on device" in err, "%s on a full disk: exit %s %s" % (label, rc, err))
            check(open(old, "rb").read() == b"the old file", "%s on a full disk: the old file changed" % label)
            check(sorted(os.listdir(disk)) == ["data.bin"], "%s on a full disk left %s" % (label, os.listdir(disk)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    work = fresh(os.path.abspath(a.work))
    tool = os.path.abspath(a.tool)
    for step in (existing_files, archive_being_read, links_in_target, unix_names, control_characters, open_reasons,
                 terminal_question, full_disk, interrupt, interrupted_zip):
        step(tool, work)
    return finish("unzip safety: every case behaved")


if __name__ == "__main__":
    sys.exit(main())
