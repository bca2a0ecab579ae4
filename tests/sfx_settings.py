#!/usr/bin/python3
"""`orvanta sfx` on a terminal and with a folder: `sfx build -e` asks for
the password twice without echo and refuses two different ones, `sfx
extract` asks for the password of an encrypted self-extractor; without a
terminal both say how else to give it. A folder goes into a
self-extractor as it is and leaves nothing in the temporary folder.
"""
import argparse
import os
import shutil
import sys

from checks import check, finish, fresh, on_terminal, run
from zip_interop import make_tree, tree_files

SECRET = b"tiger-lily 7"


def build_with_typed_password(tool, work, archive, contents):
    exe = os.path.join(work, "typed.exe")
    rc, said = on_terminal([tool, "sfx", "build", archive, exe, "-e"],
                           [(b"Password", SECRET), (b"Again", SECRET)])
    check(rc == 0 and os.path.exists(exe), "build -e: exit %s: %r" % (rc, said))
    check(SECRET not in said, "build -e showed the password: %r" % said)
    target = fresh(os.path.join(work, "typed-out"))
    rc, _, err = run([tool, "sfx", "extract", exe, "-d", target, "-p", SECRET.decode()])
    check(rc == 0 and tree_files(target) == contents, "the typed password does not open typed.exe: %s" % err)

    other = os.path.join(work, "differ.exe")
    rc, said = on_terminal([tool, "sfx", "build", archive, other, "-e"],
                           [(b"Password", SECRET), (b"Again", SECRET + b"!")])
    check(rc == 2 and b"differ" in said, "two different passwords: exit %s: %r" % (rc, said))
    check(not os.path.exists(other), "two different passwords: differ.exe written")

    rc, _, err = run([tool, "sfx", "build", archive, other, "-e"])
    check(rc == 2 and "--password-file" in err, "build -e without a terminal: exit %s: %s" % (rc, err))
    return exe


def extract_asks(tool, work, exe, contents):
    cases = [  # typed, exit code, files there, said
        (SECRET, 0, True, b"unpacked"),
        (SECRET[:-1], 1, False, b"Incorrect password."),
    ]
    for typed, want_rc, unpacked, fragment in cases:
        target = os.path.join(work, "asked-out")
        shutil.rmtree(target, ignore_errors=True)
        rc, said = on_terminal([tool, "sfx", "extract", exe, "-d", target], [(b"Enter a password", typed)])
        label = "extract typed %r" % typed
        check(rc == want_rc and fragment in said, "%s: exit %s: %r" % (label, rc, said))
        check(typed not in said, "%s: the password was shown: %r" % (label, said))
        check((os.path.isdir(target) and tree_files(target) == contents) == unpacked,
              "%s: unpacked %s expected" % (label, unpacked))
    rc, _, err = run([tool, "sfx", "extract", exe, "-d", os.path.join(work, "no-terminal")])
    check(rc == 1 and "--password-file" in err, "extract without a terminal: exit %s: %s" % (rc, err))


def folder_input(tool, work, folder, contents):
    temp = fresh(os.path.join(work, "tmp"))
    exe = os.path.join(work, "folder.exe")
    env = dict(os.environ, TMPDIR=temp)
    rc, _, err = run([tool, "sfx", "build", folder, exe, "--run", "DOCS\\Deep\\er\\ONE.bin", "--unzip-dir", "C:\\x"],
                     env=env)
    check(rc == 0 and err == "", "build from a folder: exit %s: %s" % (rc, err))
    check(os.listdir(temp) == [], "build from a folder left %s in the temporary folder" % os.listdir(temp))
    rc, out, err = run([tool, "sfx", "inspect", exe])
    names = ("hello.txt", "docs/deep/er/one.bin", "\u65e5\u672c/\u6f22\u5b57.txt")
    check(rc == 0 and all(name in out for name in names),
          "inspect does not list the folder's files: %s %s" % (out, err))
    target = fresh(os.path.join(work, "folder-out"))
    rc, _, err = run([tool, "sfx", "extract", exe, "-d", target])
    check(rc == 0 and tree_files(target) == contents, "the folder did not come back whole: %s" % err)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    work = fresh(os.path.abspath(a.work))
    tool = os.path.abspath(a.tool)
    folder = fresh(os.path.join(work, "folder"))
    contents = make_tree(folder)
    archive = os.path.join(work, "plain.zip")
    rc, _, err = run([tool, "zip", archive, "-r", "--"] + sorted(os.listdir(folder)), cwd=folder)
    check(rc == 0, "zip: %s" % err)
    exe = build_with_typed_password(tool, work, archive, contents)
    extract_asks(tool, work, exe, contents)
    folder_input(tool, work, folder, contents)
    return finish("sfx settings: every case behaved")


if __name__ == "__main__":
    sys.exit(main())
