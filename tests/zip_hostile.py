#!/usr/bin/python3
"""Hostile archives against `orvanta unzip`.

Every archive here is built by this script. Each must fail cleanly: exit
code 1 (never a signal), a message on standard error naming the entry (or
the archive when it cannot be opened), and nothing written outside the
target folder, whose parent must hold nothing else afterwards.

Cases: zip-slip names, Windows device names and ":" names, overlapping
entries, an entry that claims the whole archive as its data, a member
declared as 1 byte that inflates to 1 GiB, a small archive truncated at
every length and with one bit flipped in every byte, a bad CRC, and wrong
passwords for ZipCrypto and AES-256.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zlib

from checks import check, failures


def dos_time():
    return (10 << 11) | (20 << 5) | 15, (25 << 9) | (6 << 5) | 15


def build_zip(entries):
    """entries: dicts with name (str), data (bytes, as stored), method,
    crc, size (uncompressed), flags; returns the archive's bytes."""
    out = b""
    central = b""
    t, d = dos_time()
    for e in entries:
        name = e["name"].encode("utf-8")
        data = e["data"]
        method = e.get("method", 0)
        crc = e.get("crc", zlib.crc32(data) if method == 0 else 0)
        size = e.get("size", len(data))
        flags = e.get("flags", 0x800 if not e["name"].isascii() else 0)
        offset = e.get("offset", len(out))
        if "offset" not in e:
            out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, t, d, crc, len(data), size,
                               len(name), 0) + name + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, t, d, crc, len(data), size,
                               len(name), 0, 0, 0, 0, 0x20, offset) + name
    cd_offset = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), cd_offset, 0)
    return out


class Runner:
    def __init__(self, tool, work, wine_run=None):
        self.tool = tool
        self.work = work
        self.count = 0
        # Under Wine: the program through tests/wine/run (which prints its
        # standard output and error together), paths as Z:\...
        self.prefix = [wine_run, "64"] if wine_run else []
        self.wine = wine_run is not None

    def path(self, p):
        return "Z:" + os.path.abspath(p).replace("/", "\\") if self.wine else p

    def command(self, args, cwd=None):
        r = subprocess.run(self.prefix + [self.tool] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=300)
        return r.returncode, (r.stderr + r.stdout if self.wine else r.stderr).decode("utf-8", "replace")

    def unzip(self, archive_bytes, label, password=None, expect_fail=True, entry_names=()):
        """Extracts into parent/t; returns (rc, stderr, files under t)."""
        self.count += 1
        case = os.path.join(self.work, "case%05d" % self.count)
        shutil.rmtree(case, ignore_errors=True)
        parent = os.path.join(case, "parent")
        os.makedirs(parent)
        archive = os.path.join(case, "archive.zip")
        with open(archive, "wb") as f:
            f.write(archive_bytes)
        args = ["unzip", self.path(archive), "-d", self.path(os.path.join(parent, "t"))]
        if password is not None:
            args += ["-p", password]
        try:
            returncode, err = self.command(args)
        except subprocess.TimeoutExpired:
            check(False, "%s: no answer within five minutes" % label)
            return None
        check(returncode >= 0, "%s: killed by signal %d: %s" % (label, -returncode, err[-2000:]))
        check("AddressSanitizer" not in err and "runtime error" not in err, "%s: sanitizer: %s" % (label, err[-2000:]))
        if expect_fail:
            check(returncode == 1, "%s: exit code %d (expected 1)" % (label, returncode))
            check(err.strip() != "", "%s: no message" % label)
        for n in entry_names:
            check(n in err, "%s: message does not name %r: %s" % (label, n, err[:500]))
        outside = sorted(os.listdir(parent))
        check(outside in ([], ["t"]), "%s: written beside the target: %s" % (label, outside))
        check(sorted(os.listdir(case)) == ["archive.zip", "parent"], "%s: written beside the parent" % label)
        files = {}
        t = os.path.join(parent, "t")
        for base, dirs, names in os.walk(t):
            for n in names:
                p = os.path.join(base, n)
                with open(p, "rb") as f:
                    files[os.path.relpath(p, t)] = f.read()
                check(not n.endswith(".orvpart") and ".orvpart" not in n, "%s: partial file left: %s" % (label, p))
        shutil.rmtree(case, ignore_errors=True)
        return returncode, err, files


def zip_slip_and_names(run):
    canary = os.path.join(run.work, "abs-canary")
    shutil.rmtree(canary, ignore_errors=True)
    names = ["../x", "/abs", canary + "/x", "C:/x", "a/../../x", "..\\x", "a\\..\\..\\x", "..\\..\\x", "NUL",
             "com1.txt", "LPT9.log", "sub/aux.c", "a:b", "ab:c", "f.txt::$DATA", "...", "\\\\srv\\share\\x"]
    for name in names:
        archive = build_zip([{"name": name, "data": b"evil"}, {"name": "fine.txt", "data": b"fine"}])
        res = run.unzip(archive, "name %r" % name, entry_names=[name])
        if res:
            check(res[2] == {"fine.txt": b"fine"}, "name %r: wrote %s" % (name, sorted(res[2])))
    check(not os.path.exists(canary), "an absolute name reached %s" % canary)


def overlaps(run):
    # Two central entries pointing at one local header.
    a = build_zip([{"name": "one.txt", "data": b"A" * 100}])
    one = a[: a.index(b"PK\x01\x02")]
    t, d = dos_time()
    crc = zlib.crc32(b"A" * 100)
    cd = b""
    for name in (b"one.txt", b"two.txt"):
        cd += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, t, d, crc, 100, 100, len(name), 0, 0, 0, 0,
                          0x20, 0) + name
    archive = one + cd + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 2, 2, len(cd), len(one), 0)
    res = run.unzip(archive, "shared local header")
    # The classic overlap bomb: many entries whose data ranges overlap, each
    # a deflate stream that decodes the next one's header as data.
    kernel = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = kernel.compress(b"\0" * (1 << 20)) + kernel.flush()
    entries = []
    for i in range(20):
        entries.append({"name": "bomb%02d" % i, "data": body, "method": 8, "crc": zlib.crc32(b"\0" * (1 << 20)),
                        "size": 1 << 20})
    archive = build_zip(entries)
    # Point every central entry at the first local header.
    archive = bytearray(archive)
    pos = archive.index(b"PK\x01\x02")
    while pos >= 0:
        struct.pack_into("<I", archive, pos + 42, 0)
        pos = archive.find(b"PK\x01\x02", pos + 4)
    res = run.unzip(bytes(archive), "overlap bomb")
    if res:
        check(len(res[2]) <= 1, "overlap bomb: %d files written" % len(res[2]))


def self_reference(run):
    # An entry whose data range is the whole archive, its own header and
    # the central directory included.
    first = build_zip([{"name": "self.zip", "data": b"x"}])
    size = len(first)
    t, d = dos_time()
    name = b"self.zip"
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, t, d, 0, size, size, len(name), 0) + name
    cd = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, t, d, 0, size, size, len(name), 0, 0, 0, 0,
                     0x20, 0) + name
    archive = local + cd + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(cd), len(local), 0)
    run.unzip(archive, "entry spanning the archive")
    # A zip inside a zip is written as a file, never opened.
    inner = build_zip([{"name": "in.txt", "data": b"inner"}])
    res = run.unzip(build_zip([{"name": "inner.zip", "data": inner}]), "nested zip", expect_fail=False)
    if res:
        check(res[0] == 0 and res[2] == {"inner.zip": inner}, "nested zip: %s" % (res[:2],))


def inflate_bomb(run):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    chunk = b"\0" * (1 << 24)
    parts = [c.compress(chunk) for _ in range(64)]  # 1 GiB of zeros
    body = b"".join(parts) + c.flush()
    archive = build_zip([{"name": "tiny.txt", "data": body, "method": 8, "crc": 0, "size": 1},
                         {"name": "after.txt", "data": b"after"}])
    res = run.unzip(archive, "1 GiB inflate bomb", entry_names=["tiny.txt"])
    if res:
        check(res[2] == {"after.txt": b"after"}, "inflate bomb: wrote %s" % sorted(res[2]))


def small_archive():
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    text = b"small text that compresses, small text that compresses\n" * 3
    body = c.compress(text) + c.flush()
    return build_zip([{"name": "a.txt", "data": b"stored data"},
                      {"name": "d/b.txt", "data": body, "method": 8, "crc": zlib.crc32(text), "size": len(text)}]), {
        "a.txt": b"stored data", os.path.join("d", "b.txt"): text}


def truncations_and_flips(run):
    archive, good = small_archive()
    res = run.unzip(archive, "intact small archive", expect_fail=False)
    check(res is not None and res[0] == 0 and res[2] == good, "the intact small archive extracts: %s" % (res,))
    for n in range(len(archive)):
        run.unzip(archive[:n], "truncated at %d" % n)
    for i in range(len(archive)):
        b = bytearray(archive)
        b[i] ^= 1 << (i % 8)
        res = run.unzip(bytes(b), "bit %d flipped in byte %d" % (i % 8, i), expect_fail=False)
        if res is None:
            continue
        rc, err, files = res
        check(rc in (0, 1), "flip at %d: exit code %d" % (i, rc))
        if rc == 1:
            check(err.strip() != "", "flip at %d: no message" % i)
        # What is written is never wrong data: each file holds one of the
        # members' real contents (a flipped name or time may still pass).
        for rel, data in files.items():
            check(data in good.values(), "flip at %d: %s holds wrong data" % (i, rel))


def bad_crc(run):
    archive = build_zip([{"name": "bad.bin", "data": b"x" * 1000, "crc": zlib.crc32(b"x" * 1000) ^ 0x10},
                         {"name": "good.bin", "data": b"good"}])
    res = run.unzip(archive, "bad CRC", entry_names=["bad.bin"])
    if res:
        check("CRC" in res[1], "bad CRC: message %s" % res[1][:300])
        check(res[2] == {"good.bin": b"good"}, "bad CRC: wrote %s" % sorted(res[2]))


def wrong_passwords(run):
    src = os.path.join(run.work, "pw-src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    with open(os.path.join(src, "secret.txt"), "wb") as f:
        f.write(b"the secret contents\n" * 100)
    for label, opts in [("ZipCrypto", ["--zipcrypto"]), ("AES-256", [])]:
        archive = os.path.join(run.work, "pw-%s.zip" % label)
        if os.path.exists(archive):
            os.remove(archive)
        rc, err = run.command(["zip", run.path(archive), "secret.txt", "-p", "right"] + opts, cwd=src)
        if not check(rc == 0, "%s: making the archive: %s" % (label, err)):
            continue
        with open(archive, "rb") as f:
            data = f.read()
        for password in ["wrong", "", "righ", "right "]:
            res = run.unzip(data, "%s with password %r" % (label, password), password=password,
                            entry_names=["secret.txt"])
            if res:
                check(res[2] == {}, "%s wrong password wrote %s" % (label, sorted(res[2])))
        run.unzip(data, "%s without a password" % label, entry_names=["secret.txt"])
        res = run.unzip(data, "%s with the right password" % label, password="right", expect_fail=False)
        check(res is not None and res[0] == 0 and res[2] == {"secret.txt": b"the secret contents\n" * 100},
              "%s: right password" % label)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--wine-run", help="run the Windows build of the tool through this script (wine64)")
    a = ap.parse_args()
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    run = Runner(os.path.abspath(a.tool), a.work, a.wine_run and os.path.abspath(a.wine_run))
    steps = [zip_slip_and_names, overlaps, self_reference, inflate_bomb, bad_crc, wrong_passwords]
    if not a.wine_run:  # a second or more per process under Wine: the many small cases stay native
        steps.append(truncations_and_flips)
    for step in steps:
        step(run)
    print("%d archives tried" % run.count)
    if failures:
        print("%d failures" % len(failures))
        return 1
    print("zip hostile corpus: every archive failed cleanly")
    return 0


if __name__ == "__main__":
    sys.exit(main())
