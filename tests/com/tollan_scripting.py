#!/usr/bin/env python3
"""The builder DLL with the platform's own clients under Wine: regsvr32
registers it, a VBScript run by cscript creates it by ProgID, sets its
properties, builds the four kinds of self-extractor and reads a failed
build's error; pefile reads what was built; ElementTree reads the saved
log; regsvr32 /u removes it again and (64-bit) the script can no longer
create it.

  tollan_scripting.py --bits 64|32 --dll Tollan.dll --wine-run tests/wine/run --work DIR
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from checks import check, failures, finish  # noqa: E402


def winpath(p):
    return "Z:" + os.path.abspath(p).replace("/", "\\")


def run(args, bits, *cmd):
    r = subprocess.run([args.wine_run, str(bits)] + list(cmd), stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    return r.returncode, r.stdout.decode("latin-1")


def rcdata_entries(path):
    """The named RT_RCDATA entries of an executable, in stored order."""
    pe = pefile.PE(path)
    out = []
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != 10:
            continue
        for e in t.directory.entries:
            leaf = e.directory.entries[0].data.struct
            data = pe.get_data(leaf.OffsetToData, leaf.Size)
            out.append((str(e.name), data))
    pe.close()
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bits", type=int, required=True)
    ap.add_argument("--dll", required=True)
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    payload = os.path.join(args.work, "payload.zip")
    with zipfile.ZipFile(payload, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("readme.txt", "built by a script\r\n" * 50)
        z.writestr("setup.exe", b"MZ" + bytes(range(256)) * 8)
    payload_bytes = open(payload, "rb").read()
    dll = winpath(args.dll)
    script = winpath(os.path.join(HERE, "tollan_client.vbs"))

    rc, out = run(args, args.bits, "regsvr32.exe", "/s", dll)
    check(rc == 0, "regsvr32 registers the DLL", "exit %d\n%s" % (rc, out))

    rc, out = run(args, args.bits, "cscript.exe", "//nologo", script, "build", winpath(args.work))
    lines = [l.strip() for l in out.splitlines() if l.strip()]
    for l in lines:
        if l.startswith("FAIL"):
            failures.append(l)
        print("  script:", l)
    check(rc == 0 and "done" in lines, "the script's checks pass", "exit %d" % rc)
    check(sum(1 for l in lines if l.startswith("ok ")) == 15, "the script ran all its 15 checks")

    expected = {
        "plain.exe": ["appTitle", "progressCaption", "unzipDir", "autoParams", "zip"],
        "program.exe": ["autorun", "appTitle", "progressCaption", "unzipDir", "autoParams", "zip"],
        "encrypted.exe": ["encrypted", "appTitle", "progressCaption", "unzipDir", "autoParams", "zip"],
        "both.exe": ["encrypted", "appTitle", "progressCaption", "unzipDir", "autoParams", "autotemp", "zip"],
    }
    for name, names in expected.items():
        path = os.path.join(args.work, name)
        if not os.path.exists(path):
            check(False, name + " written")
            continue
        entries = rcdata_entries(path)
        got = [n for n, _ in entries]
        check(got == names, name + ": entries in order", got)
        d = dict(entries)
        check(d.get("appTitle") == b"Script title\0", name + ": appTitle", d.get("appTitle"))
        check(d.get("unzipDir") == b"c:\\scripted\0", name + ": unzipDir", d.get("unzipDir"))
        if "encrypted" in d:
            bits = struct.unpack("<I", d["encrypted"][:4])[0]
            want = 256 if name == "encrypted.exe" else 192
            check(len(d["encrypted"]) == 36 and bits == want, name + ": key length %d" % want, bits)
            check(len(d["zip"]) % 16 == 0 and len(d["zip"]) >= len(payload_bytes) + 16,
                  name + ": payload encrypted", len(d["zip"]))
        else:
            check(d.get("zip") == payload_bytes, name + ": zip bytes unchanged")
        if "autorun" in d or "autotemp" in d:
            check(d.get("autorun", d.get("autotemp")) == b"setup.exe\0", name + ": program")
    check(not os.path.exists(os.path.join(args.work, "never.exe")), "failed build wrote nothing")

    log = os.path.join(args.work, "log.xml")
    try:
        root = ET.parse(log).getroot()
        tags = [e.tag for e in root]
        # Contexts without entries leave no trace: the failed call's does.
        check(root.tag == "VarnockLog" and tags and tags[-1] == "CreateExe", "log.xml ends with the failed call",
              (root.tag, tags))
        check(tags and root[-1].find("error") is not None, "log.xml holds the failure's error")
    except (OSError, ET.ParseError) as e:
        check(False, "log.xml parses", e)

    # Unregistered again, so the prefix is left as it was found (the type
    # library's version key is shared by the 32-bit and 64-bit DLLs).
    rc, out = run(args, args.bits, "regsvr32.exe", "/u", "/s", dll)
    check(rc == 0, "regsvr32 /u", "exit %d\n%s" % (rc, out))
    if args.bits == 64:
        # A 32-bit process costs two minutes or more here; the PE32 DLL's
        # unregistration is checked key by key by its COM test program.
        rc, out = run(args, args.bits, "cscript.exe", "//nologo", script, "unregistered")
        print("  script:", out.strip().replace("\n", "\n  script: "))
        check(rc == 0 and "ok not creatable after unregistration" in out, "gone after unregistration")

    return finish("all passed")


if __name__ == "__main__":
    sys.exit(main())
