"""What the python test scripts share: recording failed checks, running a
program with a time limit, and a small tmpfs for full-disk cases."""
import contextlib
import os
import subprocess
import sys
import tempfile

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)
    return cond


def run(args, cwd=None, timeout=120, stdin=subprocess.DEVNULL, env=None):
    """(exit code, stdout, stderr) as text; a hang is a failed check."""
    try:
        r = subprocess.run(args, cwd=cwd, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        check(False, "%s: no answer within %d s" % (" ".join(args), timeout))
        return None, "", ""
    out, err = r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")
    check("AddressSanitizer" not in err and "runtime error" not in err,
          "%s: sanitizer: %s" % (" ".join(args), err[-2000:]))
    return r.returncode, out, err


@contextlib.contextmanager
def small_disk(parent, size="256k"):
    """A tmpfs of the given size mounted in a new folder below parent, or
    None when this process may not mount (not root)."""
    if os.geteuid() != 0:
        yield None
        return
    path = tempfile.mkdtemp(prefix="full-disk-", dir=parent)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", path]).returncode != 0:
        os.rmdir(path)
        yield None
        return
    try:
        yield path
    finally:
        subprocess.run(["umount", path])
        os.rmdir(path)


def finish(what):
    if failures:
        print("%d failures" % len(failures))
        return 1
    print(what)
    return 0


if __name__ == "__main__":
    sys.exit("a module for the test scripts, not a test")
