#!/usr/bin/python3
"""Payload encryption checked against outside implementations.

The key is computed here independently (hashlib MD5 of the password, then
MD5 of its base64 form), and `openssl enc -d -aes-N-cbc -nopad` with a zero
IV must decrypt our check block and our payloads (file and whole-buffer
paths) to the data, 1 to 16 bytes of padding, and one block of sixteen 16s.
The other way round, a ciphertext that openssl makes from that layout must
decrypt with our reader, and damaged ones must be refused.
"""
import argparse
import base64
import hashlib
import os
import shutil
import subprocess
import sys

from checks import check, finish

CHECK_TEXT = b"73920481562FCDBEA04718259364BDEF"
# The empty password, ASCII, and one with non-ASCII characters (as the
# ANSI code page gives them; UTF-8 on this host).
PASSWORDS = ["", "secret", "p\u00e4ssw\u00f6rd \u20ac\u00df"]
SIZES = [0, 1, 15, 16, 17, 30, 31, 32, 33, 1000, 65536 + 7]

def key_for(password, bits):
    p = password.encode("utf-8")
    material = hashlib.md5(p).digest() + hashlib.md5(base64.b64encode(p)).digest()
    return material[: bits // 8]


def openssl(direction, bits, key, data):
    r = subprocess.run(
        ["openssl", "enc", direction, "-aes-%d-cbc" % bits, "-K", key.hex(), "-iv", "00" * 16, "-nopad"],
        input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        return None
    return r.stdout


def layout(data):
    n = 16 - len(data) % 16
    return data + bytes([n]) * n + bytes([16]) * 16


def run(driver, *args):
    return subprocess.run([driver] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE).returncode


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--driver", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    w = lambda name: os.path.join(a.work, name)

    for pi, password in enumerate(PASSWORDS):
        # The check block: always AES-256, the first two blocks of the
        # encrypted 30-character text.
        check(run(a.driver, "check", password, w("check.bin")) == 0, "check block %d made" % pi)
        block = read(w("check.bin"))
        check(len(block) == 32, "check block %d is 32 bytes" % pi)
        plain = openssl("-d", 256, key_for(password, 256), block)
        check(plain == CHECK_TEXT[:30] + b"\x02\x02", "check block %d decrypts to the check text" % pi)
        check(run(a.driver, "verify", password, w("check.bin")) == 0, "check block %d verifies" % pi)
        check(run(a.driver, "verify", password + "x", w("check.bin")) != 0, "wrong password %d refused" % pi)

        for bits in (128, 192, 256):
            key = key_for(password, bits)
            for size in SIZES:
                data = bytes((i * 131 + size + pi) & 255 for i in range(size))
                tag = "password %d, %d bits, %d bytes" % (pi, bits, size)
                write(w("in.zip"), data)
                for path in ("encrypt-file", "encrypt-bytes"):
                    out = w("out-" + path)
                    if os.path.exists(out):
                        os.remove(out)
                    check(run(a.driver, path, str(bits), password, w("in.zip"), out) == 0, "%s: %s" % (path, tag))
                    cipher = read(out) if os.path.exists(out) else b""
                    if size == 0:
                        check(cipher == b"", "%s: empty input gives nothing (%s)" % (path, tag))
                        continue
                    check(len(cipher) == size // 16 * 16 + 32, "%s: length (%s)" % (path, tag))
                    got = openssl("-d", bits, key, cipher)
                    check(got is not None and got[-16:] == bytes([16]) * 16,
                          "%s: ends in sixteen 16s after the first layer (%s)" % (path, tag))
                    check(got == layout(data), "%s: openssl decrypts to data + padding (%s)" % (path, tag))
                if size == 0:
                    continue
                # openssl's encryption of the layout decrypts with our reader.
                theirs = openssl("-e", bits, key, layout(data))
                write(w("theirs.bin"), theirs)
                check(run(a.driver, "decrypt-file", str(bits), password, w("theirs.bin"), w("back.zip")) == 0
                      and read(w("back.zip")) == data, "decrypt-file of openssl output (%s)" % tag)
                # Damaged: a single layer of padding only, and a truncation.
                single = openssl("-e", bits, key, data + bytes([16 - size % 16]) * (16 - size % 16))
                write(w("bad.bin"), single)
                check(run(a.driver, "decrypt-file", str(bits), password, w("bad.bin"), w("bad.zip")) != 0
                      and not os.path.exists(w("bad.zip")), "single padding layer refused (%s)" % tag)
                write(w("bad.bin"), theirs[:-16])
                check(run(a.driver, "decrypt-file", str(bits), password, w("bad.bin"), w("bad.zip")) != 0
                      and not os.path.exists(w("bad.zip")), "truncated ciphertext refused (%s)" % tag)

    return finish("crypto interop: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
