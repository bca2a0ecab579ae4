"""What the python test scripts share: recording failed checks, running a
program with a time limit, watched by its progress or on a pseudo-terminal, fresh folders, and a
small tmpfs for full-disk cases."""
import contextlib
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import termios
import time

failures = []


def check(cond, what, detail=None):
    """Records a failed check (printing detail with it, when given)."""
    if not cond:
        failures.append(what)
        print("FAIL:", what)
        if detail is not None:
            print("  ", detail)
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


def run_watched(args, progress, done, env=None, stall=420, limit=1700, linger=60):
    """Runs a driver that writes its progress line by line to the file
    `progress`. Returns (exit code or None, output, how), how being
    "exited"; "done" when the file showed `done` (a compiled regex) but the
    processes had not ended `linger` seconds later (they are ended then);
    or "stalled" when the file gained nothing for `stall` seconds or the
    run passed `limit` seconds (the processes are ended)."""
    import signal
    with tempfile.TemporaryFile() as out:
        p = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, env=env, start_new_session=True)
        started = last_change = time.time()
        size, done_at, how = -1, None, "exited"
        while p.poll() is None:
            time.sleep(2)
            now = time.time()
            try:
                grown = os.path.getsize(progress)
            except OSError:
                grown = -1
            if grown != size:
                size, last_change = grown, now
                if done_at is None and grown > 0:
                    with open(progress, encoding="latin-1") as f:
                        if done.search(f.read()):
                            done_at = now
            if done_at is not None and now - done_at > linger:
                how = "done"
            elif now - last_change > stall or now - started > limit:
                how = "stalled"
            else:
                continue
            with contextlib.suppress(ProcessLookupError):
                os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            break
        out.seek(0)
        return (p.returncode if how == "exited" else None), out.read().decode("latin-1"), how


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


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def on_terminal(args, answers, timeout=60, cwd=None):
    """Runs args with a new pseudo-terminal as standard input, output and
    error. answers: (prompt, answer) byte pairs; each answer is typed once
    its prompt has appeared and the program has turned the echo off.
    Returns (exit code, all it wrote)."""
    master, slave = pty.openpty()
    p = subprocess.Popen(args, stdin=slave, stdout=slave, stderr=slave, cwd=cwd)
    said = b""
    seen = 0  # where the next prompt is looked for
    deadline = time.time() + timeout

    def read(wait):
        nonlocal said
        if select.select([master], [], [], wait)[0]:
            try:
                said += os.read(master, 4096)
            except OSError:
                pass

    try:
        for prompt, answer in answers:
            while prompt not in said[seen:] and p.poll() is None and time.time() < deadline:
                read(0.2)
            while termios.tcgetattr(slave)[3] & termios.ECHO and p.poll() is None and time.time() < deadline:
                time.sleep(0.02)
            if not check(p.poll() is None and time.time() < deadline,
                         "%s: no prompt %r with the echo off: %r" % (" ".join(args[1:]), prompt, said)):
                break
            seen = said.index(prompt, seen) + len(prompt)
            os.write(master, answer + b"\n")
        while p.poll() is None and time.time() < deadline:
            read(0.2)
        read(0.2)
        if p.poll() is None:
            p.kill()
            check(False, "%s: no end within %d s" % (" ".join(args[1:]), timeout))
        return p.wait(), said
    finally:
        os.close(master)
        os.close(slave)


def i386_emulated():
    """Do i386 programs (32-bit Wine) go through qemu-i386 on this machine?"""
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            return f.readline().strip() == "enabled"
    except OSError:
        return False


def finish(what):
    if failures:
        print("%d failures" % len(failures))
        return 1
    print(what)
    return 0


if __name__ == "__main__":
    sys.exit("a module for the test scripts, not a test")
