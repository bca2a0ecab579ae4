#!/usr/bin/python3
"""The orvanta tool's conventions as a newcomer meets them: help on
standard output with exit 0, a verb's own usage, unknown commands named,
--version; passwords from a file or typed at a terminal (twice when
writing); counts in words; a folder without -r; the AES hint.
"""
import argparse
import os
import shutil
import sys
import zipfile

from checks import check, finish, on_terminal, run


def conventions(tool, work):
    src = os.path.join(work, "src")
    os.makedirs(os.path.join(src, "data"))
    with open(os.path.join(src, "one.txt"), "w") as f:
        f.write("one\n")
    with open(os.path.join(work, "pw.txt"), "w") as f:
        f.write("from a file\nsecond line\n")
    z = os.path.join(work, "t.zip")
    sfx = os.path.join(work, "locked.exe")
    run([tool, "sfx", "build", src, sfx, "-p", "pw"])
    # args, exit status, stream ("out"/"err"), fragment, fragment that must not appear
    cases = [
        (["--help"], 0, "out", "usage: orvanta unzip", None),
        (["-h"], 0, "out", "usage: orvanta sfx build", None),
        (["help"], 0, "out", "usage: orvanta zip", None),
        (["help", "sfx", "extract"], 0, "out", "usage: orvanta sfx extract", "usage: orvanta zip"),
        (["unzip", "--help"], 0, "out", "usage: orvanta unzip", "usage: orvanta zip"),
        (["sfx", "inspect", "-h"], 0, "out", "usage: orvanta sfx inspect", "usage: orvanta sfx build"),
        (["--version"], 0, "out", "orvanta ", None),
        (["frob"], 2, "err", "unknown command frob", "usage: orvanta unzip"),
        (["list"], 2, "err", "usage: orvanta list", "usage: orvanta zip"),
        (["zip", z, "-l", "x"], 2, "err", "usage: orvanta zip", "usage: orvanta unzip"),
        (["zip", z, "-p", "a", "--password-file", "f"], 2, "err", "one way only", None),
        (["zip", z, "one.txt"], 0, "out", "1 file\n", None),
        (["zip", z, "data"], 0, "err", "data/: folder stored without its contents (use -r)", None),
        (["zip", z, "one.txt", "--password-file", os.path.join(work, "pw.txt")], 0, "err", "AES-256: opens with 7-Zip", None),
        (["unzip", z, "-d", os.path.join(work, "o1"), "--password", "from a file"], 0, "out", "1 file,", None),
        (["zip", z, "one.txt", "-p", "x", "--zipcrypto"], 0, "err", None, "AES-256"),
        (["zip", z, "one.txt", "-e"], 1, "err", "no terminal", None),
        (["unzip", os.path.join(work, "missing.zip")], 1, "err", "No such file or directory", None),
        (["list", sfx], 1, "err", "encrypted self-extractor: unpack it with orvanta sfx extract", "central directory"),
    ]
    for args, status, stream, fragment, absent in cases:
        if os.path.exists(z) and args[:1] == ["zip"]:
            os.remove(z)
        label = " ".join(a.replace(work, "W") for a in args)
        rc, out, err = run([tool] + args, cwd=src)
        text = out if stream == "out" else err
        check(rc == status, "%s: exit %s, expected %d: %s" % (label, rc, status, err[-300:]))
        if fragment:
            check(fragment in text, "%s: %r not on standard %s: %r" % (label, fragment, stream, text[-300:]))
        if absent:
            check(absent not in out + err, "%s: %r shown" % (label, absent))


def terminal_passwords(tool, work):
    src = os.path.join(work, "src")
    z = os.path.join(work, "typed.zip")
    rc, said = on_terminal([tool, "zip", z, "one.txt", "-e"], [(b"Password:", b"typed pw"), (b"Again:", b"other")], cwd=src)
    check(rc != 0 and b"differ" in said and not os.path.exists(z), "zip -e with two different passwords: %s" % said)
    rc, said = on_terminal([tool, "zip", z, "one.txt", "-e"], [(b"Password:", b"typed pw"), (b"Again:", b"typed pw")],
                           cwd=src)
    check(rc == 0 and b"typed pw" not in said, "zip -e: exit %s, echo or failure: %s" % (rc, said))
    with zipfile.ZipFile(z) as archive:
        check(archive.infolist()[0].flag_bits & 1, "zip -e wrote an unencrypted entry")
    out = os.path.join(work, "typed-out")
    rc, said = on_terminal([tool, "unzip", z, "-d", out], [(b"password:", b"typed pw")])
    check(rc == 0 and b"password" in said, "unzip asking for the password: exit %s %s" % (rc, said))
    check(os.path.exists(os.path.join(out, "one.txt")), "unzip with the typed password wrote nothing")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    work = os.path.abspath(a.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    tool = os.path.abspath(a.tool)
    conventions(tool, work)
    terminal_passwords(tool, work)
    return finish("command-line conventions: every case behaved")


if __name__ == "__main__":
    sys.exit(main())
