#!/usr/bin/python3
"""Self-extractors built by `orvanta sfx build`, checked with outside tools.

interop (native tool):
  - every build variant from a python-zipfile archive, read back with
    pefile: the RT_RCDATA directory (type 10 of the root, its last type)
    holds the named entries in the exact order and bytes the builder
    promises, each with one language entry 1; "zip" is the archive itself
    or, encrypted, decrypts with `openssl enc -d -aes-N-cbc -nopad` to the
    archive and its padding, and "encrypted" holds the rounded key length
    and the password check block;
  - `orvanta sfx inspect --json` agrees with pefile and names the start-up
    mode;
  - `orvanta sfx extract` of every variant gives what `unzip` gives; a wrong
    or missing password fails with nothing extracted;
  - the --log file parses as XML after a success and after a failure;
  - a missing output folder, a missing zip: non-zero, no output file, no
    temporary file left behind; --x64 writes an x86_64 image.
wine64 (the x86_64 Windows build of the tool under wine64):
  - it builds self-extractors from the stubs it carries itself;
  - the x64 self-extractor in silent mode with a preset folder runs under
    wine64, exits with 1 and leaves the archive's files in that folder.

    sfx_interop.py --tool orvanta --work DIR --icon ICO interop
    sfx_interop.py --tool orvanta --work DIR --win64-tool orvanta.exe --wine-run RUN wine64
"""
import argparse
import base64
import filecmp
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile

import pefile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish  # noqa: E402

CHECK_TEXT = b"73920481562FCDBEA04718259364BDEF"
RT_RCDATA = 10

def read(path):
    with open(path, "rb") as f:
        return f.read()


def key_for(password, bits):
    p = password.encode("utf-8")
    material = hashlib.md5(p).digest() + hashlib.md5(base64.b64encode(p)).digest()
    return material[: bits // 8]


def openssl_decrypt(bits, key, data):
    r = subprocess.run(
        ["openssl", "enc", "-d", "-aes-%d-cbc" % bits, "-K", key.hex(), "-iv", "00" * 16, "-nopad"],
        input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.stdout if r.returncode == 0 else None


def padded(data):
    n = 16 - len(data) % 16
    return data + bytes([n]) * n + bytes([16]) * 16


def mapped_bits(bits):
    return 128 if bits <= 128 else 192 if bits <= 192 else 256


def make_zip(work):
    """A small archive: text, a folder, a stored and a deflated binary file."""
    rnd = random.Random(218)
    path = os.path.join(work, "input.zip")
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("readme.txt", "Unpacked by a self-extractor.\r\n" * 20, zipfile.ZIP_DEFLATED)
        z.writestr("docs/", "")
        z.writestr("docs/notes.txt", "second file, in a folder\n", zipfile.ZIP_DEFLATED)
        z.writestr("docs/deeper/data.bin", bytes(rnd.getrandbits(8) for _ in range(70000)), zipfile.ZIP_STORED)
        z.writestr("setup.cmd", "@echo installed\r\n", zipfile.ZIP_DEFLATED)
    return path


def rcdata_entries(exe):
    """[(name, bytes, language ids)] of the RT_RCDATA type, in stored order,
    and whether that type is the last entry of the root."""
    pe = pefile.PE(exe)
    types = pe.DIRECTORY_ENTRY_RESOURCE.entries
    out = []
    last = False
    for i, t in enumerate(types):
        if t.name is None and t.id == RT_RCDATA:
            last = i == len(types) - 1
            for e in t.directory.entries:
                name = str(e.name) if e.name is not None else "#%d" % e.id
                langs = [l.id for l in e.directory.entries]
                d = e.directory.entries[0].data.struct
                out.append((name, pe.get_data(d.OffsetToData, d.Size), langs))
    machine = pe.FILE_HEADER.Machine
    pe.close()
    return out, last, machine


def icon_images(exe):
    """The bytes of every RT_ICON (type 3) image, in stored order."""
    pe = pefile.PE(exe)
    images = []
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.name is None and t.id == 3:
            for e in t.directory.entries:
                d = e.directory.entries[0].data.struct
                images.append(pe.get_data(d.OffsetToData, d.Size))
    pe.close()
    return images


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, **kw)


def tree(folder):
    """Relative file paths and folders under folder."""
    found = set()
    for base, dirs, files in os.walk(folder):
        rel = os.path.relpath(base, folder)
        for d in dirs:
            found.add(os.path.normpath(os.path.join(rel, d)) + "/")
        for f in files:
            found.add(os.path.normpath(os.path.join(rel, f)))
    return found


def same_tree(a, b):
    ta, tb = tree(a), tree(b)
    if ta != tb:
        return False
    return all(filecmp.cmp(os.path.join(a, p), os.path.join(b, p), shallow=False) for p in ta if not p.endswith("/"))


# The variants: name, extra arguments, expected named entries before "zip"
# (name -> bytes; "encrypted" checked apart), password, key bits, mode.
VARIANTS = [
    ("plain-empty", [], [], None, None, "interactive"),
    # (--params needs --run: "program-inplace" carries it.)
    ("plain-all", ["--title", "Orvanta", "--caption", "Unpacking", "--unzip-dir", "C:\\Orvanta demo", "--silent"],
     [("appTitle", b"Orvanta\0"), ("progressCaption", b"Unpacking\0"), ("unzipDir", b"C:\\Orvanta demo\0"),
      ("noInterface", b"yes\0")], None, None, "silent"),
    ("title6", ["--title", "Tollan"], [("appTitle", b"Tollan\0")], None, None, "interactive"),
    ("program-temp", ["--run", "setup.cmd", "--title", "Setup"],
     [("autotemp", b"setup.cmd\0"), ("appTitle", b"Setup\0")], None, None, "automatic"),
    ("program-inplace", ["--run", "setup.cmd", "--run-in-place", "--params", "-x"],
     [("autorun", b"setup.cmd\0"), ("autoParams", b"-x\0")], None, None, "interactive"),
    ("program-empty", ["--run", ""], [("autotemp", b"\0")], None, None, "automatic"),
    ("enc-default", ["--password", "secret"], [], "secret", 256, "interactive"),
    ("enc-100", ["--password", "secret", "--key-bits", "100"], [], "secret", 100, "interactive"),
    ("enc-150", ["--password", "secret", "--key-bits", "150"], [], "secret", 150, "interactive"),
    ("enc-192", ["--password", "secret", "--key-bits=192"], [], "secret", 192, "interactive"),
    ("enc-193", ["--password", "secret", "--key-bits", "193"], [], "secret", 193, "interactive"),
    ("enc-minus5", ["--password", "secret", "--key-bits=-5"], [], "secret", -5, "interactive"),
    ("enc-emptypw", ["--password", ""], [], "", 256, "interactive"),
    ("enc-program", ["--password", "p\u00e4ss", "--run", "setup.cmd", "--unzip-dir", "out", "--title", "T",
                     "--silent"],
     [("appTitle", b"T\0"), ("unzipDir", b"out\0"), ("noInterface", b"yes\0"), ("autotemp", b"setup.cmd\0")],
     "p\u00e4ss", 256, "silent"),
    ("enc-program-inplace", ["--password", "pw", "--run", "setup.cmd", "--run-in-place", "--key-bits", "128"],
     [("autorun", b"setup.cmd\0")], "pw", 128, "interactive"),
]


def check_variant(tool, work, zip_path, zip_bytes, unzipped, icon, variant):
    name, extra, expected, password, bits, mode = variant
    exe = os.path.join(work, name + ".exe")
    log = os.path.join(work, name + ".xml")
    r = run([tool, "sfx", "build", zip_path, exe, "--log", log] + extra)
    if not check(r.returncode == 0, "%s: build succeeds (%s)" % (name, r.stderr.decode(errors="replace"))):
        return
    again = os.path.join(work, name + ".again.exe")
    run([tool, "sfx", "build", zip_path, again] + extra)
    check(read(again) == read(exe), "%s: a second build of the same inputs gives the same bytes" % name)
    entries, last, machine = rcdata_entries(exe)
    check(last, "%s: RT_RCDATA is the last type of the root" % name)
    check(machine == 0x14C, "%s: PE32 i386 image" % name)
    names = [e[0] for e in entries]
    want_names = (["encrypted"] if password is not None else []) + [n for n, _ in expected] + ["zip"]
    check(names == want_names, "%s: entries %s, expected %s" % (name, names, want_names))
    check(all(e[2] == [1] for e in entries), "%s: one language entry 1 each" % name)
    got = {e[0]: e[1] for e in entries}
    for n, data in expected:
        check(got.get(n) == data, "%s: %s holds %r, got %r" % (name, n, data, got.get(n)))
    if password is None:
        check(got.get("zip") == zip_bytes, "%s: zip equals the archive" % name)
    else:
        enc = got.get("encrypted", b"")
        want_bits = mapped_bits(bits)
        check(len(enc) == 36, "%s: encrypted is 36 bytes" % name)
        check(enc[:4] == struct.pack("<I", want_bits), "%s: key length %d stored as %d" % (name, bits, want_bits))
        plain_check = openssl_decrypt(256, key_for(password, 256), enc[4:36])
        check(plain_check is not None and plain_check[:30] == CHECK_TEXT[:30], "%s: check block decrypts" % name)
        payload = openssl_decrypt(want_bits, key_for(password, want_bits), got.get("zip", b""))
        check(payload == padded(zip_bytes), "%s: payload decrypts to the archive and its padding" % name)

    # What the tool reads back.
    r = run([tool, "sfx", "inspect", "--json", exe])
    if check(r.returncode == 0, "%s: inspect succeeds" % name):
        info = json.loads(r.stdout)
        check([x["name"] for x in info["resources"]] == names, "%s: inspect lists the entries in order" % name)
        check([x["size"] for x in info["resources"]] == [len(e[1]) for e in entries], "%s: inspect sizes" % name)
        check(info["mode"] == mode, "%s: mode %s, inspect says %s" % (name, mode, info["mode"]))
        check(info["payloadSize"] == len(got.get("zip", b"")), "%s: inspect payload size" % name)
        check(info["encrypted"] == (password is not None), "%s: inspect encrypted flag" % name)
        if password is not None:
            check(info["keyBits"] == mapped_bits(bits), "%s: inspect key length" % name)
        for x in info["resources"]:
            if "text" in x and x["name"] in dict(expected):
                want = dict(expected)[x["name"]][:-1].decode("latin-1")
                check(x["text"] == want, "%s: inspect text of %s" % (name, x["name"]))

    # Unpacking natively equals unzip.
    out = os.path.join(work, name + "-out")
    args = [tool, "sfx", "extract", exe, "-d", out] + (["-p", password] if password is not None else [])
    r = run(args)
    check(r.returncode == 0, "%s: extract succeeds (%s)" % (name, r.stderr.decode(errors="replace")))
    check(same_tree(out, unzipped), "%s: extract gives what unzip gives" % name)
    if any(n in ("autorun", "autotemp") for n in names) and b"setup.cmd" in got.get("autorun", got.get("autotemp", b"")):
        if mode != "interactive" or "autorun" in names:
            check(b"setup.cmd" in r.stdout and b"not started" in r.stdout,
                  "%s: extract names the program it does not start" % name)
    if password is not None:
        bad = os.path.join(work, name + "-bad")
        r = run([tool, "sfx", "extract", exe, "-d", bad, "-p", password + "x"])
        check(r.returncode != 0, "%s: wrong password fails" % name)
        check(b"Incorrect password." in r.stderr, "%s: wrong password is named" % name)
        check(not os.path.exists(bad) or not os.listdir(bad), "%s: wrong password extracts nothing" % name)
        r = run([tool, "sfx", "extract", exe, "-d", bad])
        check(r.returncode != 0 and b"-p" in r.stderr, "%s: no password (not a terminal) fails and says -p" % name)
        check(not os.path.exists(bad) or not os.listdir(bad), "%s: no password extracts nothing" % name)

    # The log of the build: a successful build leaves an empty context,
    # so the file holds only the root.
    try:
        root = ET.parse(log).getroot()
        check(root.tag == "VarnockLog", "%s: the log's root element" % name)
    except (ET.ParseError, OSError) as e:
        check(False, "%s: log parses (%s)" % (name, e))


def interop(a):
    tool = os.path.abspath(a.tool)
    work = a.work
    zip_path = make_zip(work)
    zip_bytes = read(zip_path)
    unzipped = os.path.join(work, "unzipped")
    subprocess.run(["unzip", "-q", zip_path, "-d", unzipped], check=True)

    tmp = os.path.join(work, "tmp")  # the builder's temporary files land here
    os.makedirs(tmp)
    os.environ["TMPDIR"] = tmp
    for v in VARIANTS:
        check_variant(tool, work, zip_path, zip_bytes, unzipped, a.icon, v)
    check(os.listdir(tmp) == [], "no temporary file left behind: %s" % os.listdir(tmp))

    # The icon: replaced when the file is usable; the stub's own icon stays
    # (and the build goes on) when it is missing.
    stub_icons = icon_images(os.path.join(work, "plain-empty.exe"))
    for label, icon, replaced in (("icon", a.icon, True), ("icon-missing", os.path.join(work, "none.ico"), False)):
        exe = os.path.join(work, label + ".exe")
        r = run([tool, "sfx", "build", zip_path, exe, "--icon", icon, "--title", "Icon"])
        check(r.returncode == 0, "%s: build succeeds" % label)
        if r.returncode == 0:
            entries, _, _ = rcdata_entries(exe)
            check([e[0] for e in entries] == ["appTitle", "zip"], "%s: entries" % label)
            check((icon_images(exe) != stub_icons) == replaced, "%s: icon replaced: %s" % (label, replaced))

    # The x86_64 stub.
    exe = os.path.join(work, "x64.exe")
    r = run([tool, "sfx", "build", zip_path, exe, "--x64", "--password", "pw"])
    if check(r.returncode == 0, "x64: build succeeds (%s)" % r.stderr.decode(errors="replace")):
        entries, last, machine = rcdata_entries(exe)
        check(machine == 0x8664, "x64: an x86_64 image")
        check([e[0] for e in entries] == ["encrypted", "zip"], "x64: entries")
        out = os.path.join(work, "x64-out")
        r = run([tool, "sfx", "extract", exe, "-d", out, "-p", "pw"])
        check(r.returncode == 0 and same_tree(out, unzipped), "x64: extract gives what unzip gives")

    # Failures: the output folder is missing; the log is still written.
    exe = os.path.join(work, "no-such-folder", "out.exe")
    log = os.path.join(work, "fail.xml")
    r = run([tool, "sfx", "build", zip_path, exe, "--log", log])
    check(r.returncode != 0, "missing folder: fails")
    check(b"Failed to create file" in r.stderr, "missing folder: stderr says \"Failed to create file\"")
    try:
        root = ET.parse(log).getroot()
        context = root.find("CreateExe")
        check(context is not None and context.findtext("error") == "Failed to create file",
              "missing folder: the log's CreateExe context holds the error")
    except (ET.ParseError, OSError) as e:
        check(False, "missing folder: log parses (%s)" % e)
    # ... the zip is missing.
    exe = os.path.join(work, "nozip.exe")
    r = run([tool, "sfx", "build", os.path.join(work, "missing.zip"), exe, "--password", "pw"])
    check(r.returncode != 0 and r.stderr.strip(), "missing zip: fails with a message")
    check(not os.path.exists(exe), "missing zip: no output")
    check(os.listdir(tmp) == [], "failures leave no temporary file: %s" % os.listdir(tmp))
    # ... bad command lines.
    for args in (["sfx", "build", zip_path], ["sfx", "build", zip_path, exe, "--key-bits", "12x", "--password", "p"],
                 ["sfx", "build", zip_path, exe, "--run-in-place"], ["sfx", "inspect"], ["sfx", "frob"]):
        r = run([tool] + args)
        check(r.returncode == 2, "usage error for %s" % args)
    check(not os.path.exists(exe), "usage errors write nothing")
    # ... inspect and extract of something that is no self-extractor.
    r = run([tool, "sfx", "inspect", zip_path])
    check(r.returncode != 0, "inspect of a zip fails")


def wine64(a):
    work = a.work
    tool = os.path.abspath(a.win64_tool)
    wine_run = os.path.abspath(a.wine_run)
    win = lambda p: "Z:" + os.path.abspath(p).replace("/", "\\")
    zip_path = make_zip(work)
    unzipped = os.path.join(work, "unzipped")
    subprocess.run(["unzip", "-q", zip_path, "-d", unzipped], check=True)

    target = os.path.join(work, "silent-out")
    exe64 = os.path.join(work, "silent64.exe")
    exe32 = os.path.join(work, "plain32.exe")
    r = run([wine_run, "64", tool, "sfx", "build", win(zip_path), win(exe64), "--x64", "--silent",
             "--unzip-dir", win(target)])
    check(r.returncode == 0, "win64 tool builds the x64 SFX (%s)" % r.stdout.decode(errors="replace"))
    r = run([wine_run, "64", tool, "sfx", "build", win(zip_path), win(exe32), "--title", "Wine"])
    check(r.returncode == 0, "win64 tool builds the PE32 SFX (%s)" % r.stdout.decode(errors="replace"))
    if os.path.exists(exe32):
        entries, _, machine = rcdata_entries(exe32)
        check(machine == 0x14C and [e[0] for e in entries] == ["appTitle", "zip"], "PE32 SFX from the win64 tool")
    if not os.path.exists(exe64):
        check(False, "x64 SFX written")
        return
    entries, _, machine = rcdata_entries(exe64)
    check(machine == 0x8664, "x64 SFX is an x86_64 image")
    check([e[0] for e in entries] == ["unzipDir", "noInterface", "zip"], "x64 SFX entries")
    r = run([wine_run, "64", exe64])
    check(r.returncode == 1, "silent SFX exits with 1 (got %d: %s)" % (r.returncode, r.stdout.decode(errors="replace")))
    check(os.path.isdir(target) and same_tree(target, unzipped), "silent SFX unpacks into its preset folder")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--icon")
    ap.add_argument("--win64-tool")
    ap.add_argument("--wine-run")
    ap.add_argument("tier", choices=["interop", "wine64"])
    a = ap.parse_args()
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    if a.tier == "interop":
        interop(a)
    else:
        wine64(a)
    return finish("sfx interop: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
