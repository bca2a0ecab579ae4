#!/usr/bin/env python3
"""The file-system helper DLL with the platform's own clients under Wine:
regsvr32 registers it, a VBScript run by cscript walks a prepared tree with
For Each under several settings, and the paths and values it prints are
compared with what the walk must deliver; regsvr32 /u removes it again.
With --bits 32 one cscript process does the three steps (regsvr32 runs as
its child) on one case, since every 32-bit process may be slow to start.

  qvfilesys_scripting.py --bits 64|32 --dll qvFileSys.dll --wine-run tests/wine/run --work DIR
"""
import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, run  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))

TREE = ["a.txt", "B.TXT", "skip.tmp", "old.tmp/x.txt", "sub/c.txt", "sub/d.tmp", "sub/deep/e.txt",
        "Temp/f.txt", "sub/temp/h.txt", "mytemp/i.txt", ".hidden/g.txt"]

# (what, mask, recurse, excluded extensions, excluded folders, expected
# paths relative to the root with "\"; folders end without one)
CASES = [
    ("txt files, top folder only", "*.txt", "0", "-", "-", ["a.txt", "B.TXT"]),
    ("txt files of the whole tree, dot folders never entered", "*.txt", "1", "-", "-",
     ["a.txt", "B.TXT", "old.tmp\\x.txt", "sub\\c.txt", "sub\\deep\\e.txt", "Temp\\f.txt",
      "sub\\temp\\h.txt", "mytemp\\i.txt"]),
    ("an excluded extension skips files and folders named so", "*", "1", "TMP", "-",
     ["a.txt", "B.TXT", "sub", "sub\\c.txt", "sub\\deep", "sub\\deep\\e.txt", "sub\\temp", "sub\\temp\\h.txt",
      "Temp", "Temp\\f.txt", "mytemp", "mytemp\\i.txt"]),
    ("an excluded folder name at any depth, not a longer name", "*.txt", "1", "-", "temp",
     ["a.txt", "B.TXT", "old.tmp\\x.txt", "sub\\c.txt", "sub\\deep\\e.txt", "mytemp\\i.txt"]),
    ("two excluded extensions, top folder", "*", "0", "txt:tmp", "-", []),
]

# Files made read-only and hidden with attrib, against attribute masks
# (a file passes when all its attributes lie inside the mask).
ATTRIBUTE_FILES = [("plain.txt", None), ("ro.txt", "+r"), ("hid.txt", "+h")]
ATTRIBUTE_CASES = [("archive only", 32, ["plain.txt"]),
                   ("archive and read-only", 33, ["plain.txt", "ro.txt"]),
                   ("archive and hidden", 34, ["plain.txt", "hid.txt"]),
                   ("read-only alone", 1, [])]

# 2000-01-01 12:00:00.750 UTC, the file time of a nested file; as an
# automation date the milliseconds are dropped.
MIDDAY_2000 = 946728000
NESTED = "sub/deep/e.txt"
LONG_NAME = "sub/deep/Long File Name.text"


def winpath(p):
    return "Z:" + os.path.abspath(p).replace("/", "\\")


def expect(cond, what, detail):
    if check(cond, what):
        print("ok", what)
    else:
        print(detail)


def wine(args, *cmd):
    # A 32-bit process may take minutes to start where it is emulated.
    rc, out, _ = run([args.wine_run, str(args.bits)] + list(cmd), timeout=300 if args.bits == 64 else 1000)
    return rc, out


def parent_first(paths):
    """Every item comes after the item of its folder, when that was delivered."""
    seen = set()
    for p in paths:
        parent = p.rsplit("\\", 1)[0] if "\\" in p else None
        if parent in paths and parent not in seen:
            return False
        seen.add(p)
    return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bits", type=int, required=True)
    ap.add_argument("--dll", required=True)
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    root = os.path.join(args.work, "tree")
    for rel in TREE:
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(rel)
    script = winpath(os.path.join(HERE, "qvfilesys_client.vbs"))
    prefix = winpath(root) + "\\"

    def walked(out, rc, root_prefix):
        lines = [l.strip() for l in out.splitlines() if l.strip()]
        paths = [l[5:] for l in lines if l.startswith("item ")]
        ok = rc == 0 and "done" in lines and "count %d" % len(paths) in lines
        return ok, [p[len(root_prefix):] if p.startswith(root_prefix) else "outside:" + p for p in paths]

    if args.bits == 32:
        what, mask, recurse, ext, folders, expected = CASES[3]
        rc, out = wine(args, "cscript.exe", "//nologo", script, "batch", winpath(args.dll), "walk", prefix, mask,
                       recurse, ext, folders, "-")
        ok, rel = walked(out, rc, prefix)
        ok = ok and "register 0" in out and "unregister 0" in out
        expect(ok and sorted(rel) == sorted(expected), "PE32: register, " + what + ", unregister",
               "exit %s\n%s" % (rc, out))
        return finish("all passed")

    rc, out = wine(args, "regsvr32.exe", "/s", winpath(args.dll))
    expect(rc == 0, "regsvr32 registers the DLL", "exit %d\n%s" % (rc, out))

    for what, mask, recurse, ext, folders, expected in CASES:
        rc, out = wine(args, "cscript.exe", "//nologo", script, "walk", prefix, mask, recurse, ext, folders, "-")
        ok, rel = walked(out, rc, prefix)
        expect(ok and sorted(rel) == sorted(expected), what, "exit %d\n%s" % (rc, out))
        expect(parent_first(rel), what + ": each folder before its contents", rel)

    attrs = os.path.join(args.work, "attrs")
    os.makedirs(attrs)
    for name, flag in ATTRIBUTE_FILES:
        with open(os.path.join(attrs, name), "w") as f:
            f.write(name)
        if flag:
            rc, out = wine(args, "attrib.exe", flag, winpath(os.path.join(attrs, name)))
            expect(rc == 0, "attrib %s %s" % (flag, name), out)
    for what, mask, expected in ATTRIBUTE_CASES:
        rc, out = wine(args, "cscript.exe", "//nologo", script, "walk", winpath(attrs) + "\\", "*", "0", "-", "-",
                       str(mask))
        ok, rel = walked(out, rc, winpath(attrs) + "\\")
        expect(ok and sorted(rel) == sorted(expected), "attribute mask %d: %s" % (mask, what),
               "exit %d\n%s" % (rc, out))

    with open(os.path.join(root, LONG_NAME), "w") as f:
        f.write("long")
    for rel in (NESTED, LONG_NAME):
        os.utime(os.path.join(root, rel), ns=(MIDDAY_2000 * 10**9 + 750 * 10**6,) * 2)
    rc, out = wine(args, "cscript.exe", "//nologo", script, "details", prefix, "*")
    details = {l.split("|")[0][7:]: l.strip().split("|") for l in out.splitlines() if l.startswith("detail ")}
    nested = details.get("e.txt", [])
    folder = prefix + "sub\\deep\\"
    expected = ["detail e.txt", "", ".txt", folder + "e.txt", prefix[:2], folder[2:], "36526.5", folder + "e.txt"]
    expect(rc == 0 and nested == expected,
           "values of a nested file (Path also as PATH; an 8.3 name outside the current folder has no short name)",
           "exit %d\n%s" % (rc, out))
    long = details.get("Long File Name.text", ["", ""])
    expect("~" in long[1] and len(long[1]) <= 12 and long[1].upper() == long[1],
           "a long name's ShortName is the system's 8.3 form", long)

    rc, out = wine(args, "regsvr32.exe", "/u", "/s", winpath(args.dll))
    expect(rc == 0, "regsvr32 /u", "exit %d\n%s" % (rc, out))
    rc, out = wine(args, "cscript.exe", "//nologo", script, "unregistered")
    expect(rc == 0 and "not creatable 1AD" in out, "not creatable after unregistration (error 429)",
          out)

    return finish("all passed")


if __name__ == "__main__":
    sys.exit(main())
