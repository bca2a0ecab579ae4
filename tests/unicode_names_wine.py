#!/usr/bin/python3
"""Unicode entry names unpacked by the Windows programs under wine64.

An archive made by python's zipfile (UTF-8 names, flagged as such) holding
names outside every ANSI code page is unpacked (a) by the x86_64
`orvanta.exe unzip` and (b) by an x86_64 silent self-extractor built by the
native tool with a preset folder. Each time exactly the archive's files
must appear on the Linux side, with their names as Unicode (stored by Wine
as UTF-8) and their contents, and nothing else.
"""
import argparse
import os
import shutil
import sys
import zipfile

from checks import check, finish, run
from zip_interop import tree_files

ENTRIES = {
    "naïve ✓.txt": b"check mark\r\n",
    "日本語/ファイル.txt": "ファイルの中身\n".encode("utf-8"),
    "emoji 😀/ok.txt": b"outside the basic plane\n",
}


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unpacked(label, out):
    got = tree_files(out)
    check(sorted(got) == sorted(ENTRIES), "%s: the names are %s, not %s" % (label, sorted(got), sorted(ENTRIES)))
    for name, data in ENTRIES.items():
        check(got.get(name) == data, "%s: %s holds %r" % (label, name, got.get(name)))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True, help="the native orvanta")
    p.add_argument("--win64-tool", required=True, help="the x86_64 orvanta.exe")
    p.add_argument("--wine-run", required=True)
    p.add_argument("--work", required=True)
    a = p.parse_args()
    work = os.path.abspath(a.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    archive = os.path.join(work, "names.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in ENTRIES.items():
            z.writestr(name, data)
    with zipfile.ZipFile(archive) as z:
        check(all(i.flag_bits & 0x800 for i in z.infolist()), "every name is flagged as UTF-8")

    out = os.path.join(work, "unzip-out")
    rc, text, _ = run([a.wine_run, "64", a.win64_tool, "unzip", win(archive), "-d", win(out)], timeout=300)
    if check(rc == 0, "orvanta.exe unzip exits with 0 (got %s: %s)" % (rc, text)):
        unpacked("orvanta.exe unzip", out)

    out = os.path.join(work, "sfx-out")
    exe = os.path.join(work, "names64.exe")
    rc, _, text = run([a.tool, "sfx", "build", archive, exe, "--x64", "--silent", "--unzip-dir", win(out)])
    if check(rc == 0, "the x64 self-extractor is built (%s)" % text):
        rc, text, _ = run([a.wine_run, "64", exe], timeout=300)
        # A silent run that succeeded exits with 1.
        if check(rc == 1, "the silent self-extractor exits with 1 (got %s: %s)" % (rc, text)):
            unpacked("silent self-extractor", out)

    return finish("both unpack every name exactly")


if __name__ == "__main__":
    sys.exit(main())
