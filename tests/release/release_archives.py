#!/usr/bin/python3
"""scripts/release against the built trees, into a fresh folder, twice.

  - the Windows zip holds exactly the expected files below one top folder:
    the DLLs and the stub as built, the PE32 programs as i386 images without
    debugging sections, the x86_64 tool as x64/orvanta.exe, and the README
    for Windows (CRLF, version filled in, regsvr32 and CreateObject lines
    for both DLLs); unzip -t accepts it;
  - the tar holds the tool as built (mode 755, owner 0) and README.md;
  - the sums file lists the archives (and the installer) with their SHA-256
    sums;
  - a second run gives byte-identical archives and installer;
  - a missing tree fails with a message and writes nothing.

    release_archives.py --release SCRIPT --win32 DIR --win64 DIR --tool FILE --work DIR
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tarfile
import zipfile

import pefile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, fresh, run  # noqa: E402

AS_BUILT = ["Tollan.dll", "qvFileSys.dll", "sfxstub.exe", "orvantahelp.chm", "ads.html", "icons/ov.ico"]
STRIPPED = ["orvanta.exe", "orvantarun.exe"]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def pe_facts(data):
    pe = pefile.PE(data=data, fast_load=True)
    facts = pe.FILE_HEADER.Machine, any(s.Name.startswith(b".debug") for s in pe.sections)
    pe.close()
    return facts


def release(a, out, *extra):
    return run([a.release, "--out", out, "--win32", a.win32, "--win64", a.win64, "--tool", a.tool] + list(extra),
               timeout=300)


def check_zip(a, path, top):
    with zipfile.ZipFile(path) as z:
        names = sorted(z.namelist())
        want = sorted([top + "/" + f for f in AS_BUILT + STRIPPED if os.path.exists(os.path.join(a.win32, f))]
                      + [top + "/x64/orvanta.exe", top + "/README-windows.txt"])
        check(names == want, "zip lists %s, expected %s" % (names, want))
        check(len({i.date_time for i in z.infolist()}) == 1, "one time on every zip entry")
        for f in AS_BUILT:
            if top + "/" + f in names:
                check(z.read(top + "/" + f) == read(os.path.join(a.win32, f)), "%s as built" % f)
        for f in STRIPPED:
            if top + "/" + f in names:
                check(pe_facts(z.read(top + "/" + f)) == (0x14C, False), "%s: i386, no debugging sections" % f)
        check(pe_facts(z.read(top + "/x64/orvanta.exe"))[0] == 0x8664, "x64/orvanta.exe is an x86_64 image")
        text = z.read(top + "/README-windows.txt")
        version = top.split("-")[1]
        check(text.count(b"\r\n") == text.count(b"\n") > 0, "README-windows.txt has CRLF line ends")
        check(b"@VERSION@" not in text and b"Orvanta " + version.encode() in text, "README names the version")
        for dll, progid in (("Tollan.dll", b"Tollan.Tollan"), ("qvFileSys.dll", b"QVFileSys.Enumerator")):
            check(("regsvr32.exe \"C:\\Program Files (x86)\\Orvanta\\%s\"" % dll).encode() in text,
                  "README registers %s" % dll)
            check(b'CreateObject("' + progid + b'")' in text, "README scripts %s" % progid.decode())
    rc, out, _ = run(["unzip", "-t", path])
    check(rc == 0, "unzip -t accepts the zip", out[-800:])


def check_tar(a, path, top):
    with tarfile.open(path) as t:
        members = {m.name: m for m in t.getmembers()}
        check(sorted(members) == [top, top + "/README.md", top + "/orvanta"], "tar lists %s" % sorted(members))
        tool = members.get(top + "/orvanta")
        if check(tool is not None, "tar holds the tool"):
            check(t.extractfile(tool).read() == read(a.tool), "the tool as built")
            check((tool.mode, tool.uid, tool.gid) == (0o755, 0, 0), "tool mode 755, owner 0")
        check(len({m.mtime for m in members.values()}) == 1, "one time on every tar member")


def main():
    ap = argparse.ArgumentParser()
    for opt in ("--release", "--win32", "--win64", "--tool", "--work"):
        ap.add_argument(opt, required=True)
    a = ap.parse_args()
    first, second = fresh(os.path.join(a.work, "first")), fresh(os.path.join(a.work, "second"))

    rc, out, err = run([a.tool, "--version"])
    version = out.split()[-1] if rc == 0 and out.strip() else "?"
    win, lin = "orvanta-%s-windows" % version, "orvanta-%s-linux-x86_64" % version
    files = [win + ".zip", lin + ".tar.gz"]
    if all(os.path.exists(os.path.join(a.win32, f)) for f in ("orvantarun.exe", "qvFileSys.dll")):
        files.append("orvanta-%s-setup.exe" % version)
    files.append("orvanta-%s-SHA256SUMS" % version)

    for folder in (first, second):
        rc, out, err = release(a, folder)
        check(rc == 0, "scripts/release --out %s" % folder, out + err)
        check(sorted(os.listdir(folder)) == sorted(files), "release writes %s" % files)
    if any(not os.path.exists(os.path.join(first, f)) for f in files):
        return finish("")

    check_zip(a, os.path.join(first, files[0]), win)
    check_tar(a, os.path.join(first, files[1]), lin)
    sums = read(os.path.join(first, files[-1])).decode()
    want = "".join("%s  %s\n" % (hashlib.sha256(read(os.path.join(first, f))).hexdigest(), f) for f in files[:-1])
    check(sums == want, "the sums file", sums)
    for f in files:
        check(read(os.path.join(first, f)) == read(os.path.join(second, f)), "%s: the same bytes twice" % f)

    failed = fresh(os.path.join(a.work, "failed"))
    rc, _, err = run([a.release, "--out", failed, "--win32", os.path.join(a.work, "none"), "--win64", a.win64,
                      "--tool", a.tool])
    check(rc != 0 and "missing" in err, "a missing tree fails with a message", err)
    check(os.listdir(failed) == [], "a failed run writes nothing")
    return finish("release archives: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
