#!/usr/bin/env python3
"""DLLs planted beside a self-extractor are not loaded. A silent x86_64
self-extractor unpacks under wine64 with copies of planted_dll.dll (which
leaves NAME.loaded when loaded) beside it and in the current folder, named
like DLLs that the stub or the system DLLs load by name once the program
runs, while WINEDLLOVERRIDES makes Wine prefer a native DLL from the
program's folder for those names. A control run loads the planted DLL by
its path, to show that its mark would appear.

Wine's own system DLLs import some DLLs (version, imm32, shcore) that it
loads before the program runs and that no program code can steer; they are
not planted here.

  planted_dlls.py --tool ORVANTA --dll planted_dll.dll --wine-run RUN --work DIR
"""
import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, fresh, run  # noqa: E402

# uxtheme: the common controls and the window manager load it by name;
# comctl32: the stub loads it itself; cryptbase, dwmapi: loaded by name by
# Windows' own system DLLs.
PLANTED = ['uxtheme', 'comctl32', 'cryptbase', 'dwmapi']


def win(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def main():
    ap = argparse.ArgumentParser()
    for name in ('--tool', '--dll', '--wine-run', '--work'):
        ap.add_argument(name, required=True)
    args = ap.parse_args()
    wine_run = os.path.abspath(args.wine_run)
    work = fresh(args.work)
    src = fresh(os.path.join(work, 'src'))
    with open(os.path.join(src, 'a.txt'), 'w') as f:
        f.write('unpacked')
    there = fresh(os.path.join(work, 'download'))
    out = os.path.join(work, 'out')
    exe = os.path.join(there, 'setup.exe')
    rc, o, e = run([args.tool, 'sfx', 'build', src, exe, '--x64', '--silent', '--unzip-dir', win(out)])
    if not check(rc == 0, 'orvanta sfx build', o + e):
        return finish('')
    for name in PLANTED:
        shutil.copy(args.dll, os.path.join(there, name + '.dll'))
    env = dict(os.environ, WINEDLLOVERRIDES='%s=n,b' % ','.join(PLANTED))

    # The control: loaded by its path, the planted DLL leaves its mark.
    shutil.copy(args.dll, os.path.join(there, 'control.dll'))
    run([wine_run, '64', 'rundll32.exe', win(os.path.join(there, 'control.dll')) + ',Start'], cwd=there, env=env)
    check(os.path.exists(os.path.join(there, 'control.dll.loaded')), 'the planted DLL leaves no mark when loaded')

    rc, o, e = run([wine_run, '64', exe], cwd=there, env=env)
    check(rc == 1, 'silent self-extractor exit code %s (1 is success)' % rc, o + e)
    marks = sorted(n for n in os.listdir(there) if n.endswith('.loaded') and n != 'control.dll.loaded')
    check(not marks, 'planted DLLs were loaded: %s' % marks)
    try:
        with open(os.path.join(out, 'a.txt')) as f:
            check(f.read() == 'unpacked', 'a.txt unpacked with other content')
    except OSError as err:
        check(False, 'a.txt not unpacked: %s' % err)
    return finish('no planted DLL was loaded and the files were unpacked')


if __name__ == '__main__':
    sys.exit(main())
