#!/usr/bin/env python3
"""The file-system helper DLL with the platform's own clients under Wine:
regsvr32 registers it, a VBScript run by cscript walks a prepared tree with
For Each under several settings, and the paths it prints are compared with
what the walk must deliver; regsvr32 /u removes it again.

  qvfilesys_scripting.py --bits 64 --dll qvFileSys.dll --wine-run tests/wine/run --work DIR
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


def winpath(p):
    return "Z:" + os.path.abspath(p).replace("/", "\\")


def expect(cond, what, detail):
    if check(cond, what):
        print("ok", what)
    else:
        print(detail)


def wine(args, *cmd):
    rc, out, _ = run([args.wine_run, str(args.bits)] + list(cmd), timeout=300)
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

    rc, out = wine(args, "regsvr32.exe", "/s", winpath(args.dll))
    expect(rc == 0, "regsvr32 registers the DLL", "exit %d\n%s" % (rc, out))

    for what, mask, recurse, ext, folders, expected in CASES:
        rc, out = wine(args, "cscript.exe", "//nologo", script, prefix, mask, recurse, ext, folders)
        lines = [l.strip() for l in out.splitlines() if l.strip()]
        paths = [l[5:] for l in lines if l.startswith("item ")]
        rel = [p[len(prefix):] if p.startswith(prefix) else "outside:" + p for p in paths]
        ok = rc == 0 and "done" in lines and "count %d" % len(paths) in lines
        expect(ok and sorted(rel) == sorted(expected), what, "exit %d\n%s" % (rc, out))
        expect(parent_first(rel), what + ": each folder before its contents", rel)

    rc, out = wine(args, "regsvr32.exe", "/u", "/s", winpath(args.dll))
    expect(rc == 0, "regsvr32 /u", "exit %d\n%s" % (rc, out))
    rc, out = wine(args, "cscript.exe", "//nologo", script, "unregistered")
    expect(rc == 0 and "not creatable 1AD" in out, "not creatable after unregistration (error 429)",
          out)

    return finish("all passed")


if __name__ == "__main__":
    sys.exit(main())
