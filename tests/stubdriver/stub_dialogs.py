#!/usr/bin/env python3
"""The self-extractor stub driven through its real windows under Wine.

Self-extracting files are composed here from the built stub with
`orvanta pe add` (parameter resources) and make_encrypted_payload (the
encrypted variants), independent of the builder. stub_driver runs a script
of scenarios in one Windows process and prints a transcript; this script
checks the transcript and the files the stub wrote.

  stub_dialogs.py --bits 64|32 --group interactive|automatic|failures|wine32
                  --tool ORVANTA --encrypt MAKE_ENCRYPTED_PAYLOAD --stub SFXSTUB.exe
                  --driver STUB_DRIVER.exe --program RECORD_RUN.exe
                  --wine-run tests/wine/run --work DIR
"""
import argparse
import io
import os
import random
import re
import shutil
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from checks import i386_emulated, run_watched  # noqa: E402

PASSWORD = 'open sesame'
UNZIP_TITLE = 'Varnock Tollan'
PROGRESS_TITLE = 'Varnock TOLLAN - Unzipping'
PASSWORD_TITLE = 'Enter Password'
PASSWORD_LABEL = 'This self-extracting EXE is encrypted. Enter a password to unzip:'
ES_AUTOHSCROLL = 0x80
ES_PASSWORD = 0x20
PROGRAM = 'record_run.exe'
SCREEN = (1280, 1024)  # the driver's desktop


def win(path):
    """The path as Wine programs see it (drive Z: is the root)."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class Fixture:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        rng = random.Random(1234)
        self.contents = {
            'readme.txt': b'Unpacked by the self-extractor.\r\n' * 20,
            'sub/data.bin': bytes(rng.getrandbits(8) for _ in range(64 * 1024)),
            'sub/deeper/notes.txt': b'nested\r\n',
        }
        with open(args.program, 'rb') as f:
            self.program = f.read()
        self.plain_zip = self.make_zip('plain.zip', self.contents, with_program=True)
        self.broken_zip, self.broken_entry = self.make_broken_zip()
        self.payload, self.check = self.encrypt(self.plain_zip, 'plain')

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def make_zip(self, name, contents, with_program):
        out = self.path(name)
        with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
            z.writestr('sub/empty/', b'')
            for entry, data in contents.items():
                z.writestr(entry, data)
            if with_program:
                z.writestr(PROGRAM, self.program)
        return out

    def make_broken_zip(self):
        """A zip whose stored entry "broken.txt" fails its CRC check: one
        byte of its data is flipped after the archive was written."""
        out = self.path('broken.zip')
        good = b'this entry is fine\r\n' * 10
        bad = b'this entry will be damaged\r\n' * 10
        with zipfile.ZipFile(out, 'w') as z:
            z.writestr(zipfile.ZipInfo('good.txt'), good, compress_type=zipfile.ZIP_DEFLATED)
            z.writestr(zipfile.ZipInfo('broken.txt'), bad, compress_type=zipfile.ZIP_STORED)
            z.writestr(zipfile.ZipInfo(PROGRAM), self.program, compress_type=zipfile.ZIP_DEFLATED)
        data = bytearray(open(out, 'rb').read())
        at = data.find(bad)
        assert at > 0
        data[at + 5] ^= 0x5A
        open(out, 'wb').write(bytes(data))
        with zipfile.ZipFile(out) as z:
            assert z.testzip() == 'broken.txt'
        return out, 'broken.txt'

    def encrypt(self, zip_path, stem):
        payload, check = self.path(stem + '.payload'), self.path(stem + '.check')
        subprocess.run([self.args.encrypt, '256', PASSWORD, zip_path, payload, check], check=True)
        return payload, check

    def sfx(self, name, zip_path=None, encrypted=False, **texts):
        """A self-extractor: the stub with a "zip" resource and the given
        text resources (None skips a name, '' stores a lone zero byte)."""
        out = self.path(name + '.exe')
        cmd = [self.args.tool, 'pe', 'add', self.args.stub, out]
        if encrypted:
            cmd += ['--bytes', 'encrypted=' + self.check, '--file', 'zip=' + self.payload]
        elif zip_path:
            cmd += ['--file', 'zip=' + zip_path]
        for key, value in texts.items():
            if value is not None:
                cmd += ['--text', '%s=%s' % (key, value)]
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        return out


# ---- Transcript checks -----------------------------------------------------

class Checker:
    def __init__(self, transcript):
        self.failures = []
        self.scenarios = {}
        self.reported = set()
        current = None
        for line in transcript.splitlines():
            if line.startswith('scenario '):
                current = line[len('scenario '):]
                self.scenarios[current] = []
            elif current is not None:
                self.scenarios[current].append(line)

    def fail(self, scenario, what):
        self.failures.append('%s: %s' % (scenario, what))

    def lines(self, scenario):
        if scenario not in self.scenarios:
            self.fail(scenario, 'did not run')
            return []
        lines = self.scenarios[scenario]
        if scenario not in self.reported:
            self.reported.add(scenario)
            for line in lines:
                if line.startswith('FAIL') or line.startswith('ended stub'):
                    self.fail(scenario, line)
        return lines

    def sequence(self, scenario, *expected):
        """Each expected line (exact text, or a compiled regex) appears in
        the scenario's transcript, in this order."""
        lines = self.lines(scenario)
        at = 0
        for want in expected:
            while at < len(lines):
                line = lines[at]
                at += 1
                if (want.fullmatch(line) if isinstance(want, re.Pattern) else line == want):
                    break
            else:
                self.fail(scenario, 'expected %r after the lines before it' %
                          (want.pattern if isinstance(want, re.Pattern) else want))
                return

    def absent(self, scenario, pattern):
        for line in self.lines(scenario):
            if re.search(pattern, line):
                self.fail(scenario, 'unexpected line %r' % line)

    def value(self, scenario, prefix):
        for line in self.lines(scenario):
            if line.startswith(prefix):
                return line[len(prefix):]
        self.fail(scenario, 'no line starting with %r' % prefix)
        return None

    def check(self, scenario, ok, what):
        if not ok:
            self.fail(scenario, what)


def unpacked(fx, folder, checker, scenario, with_program=True):
    """The plain archive's entries are in folder with their contents."""
    for entry, data in fx.contents.items():
        p = os.path.join(folder, *entry.split('/'))
        if not os.path.isfile(p):
            checker.fail(scenario, 'missing %s' % p)
        elif open(p, 'rb').read() != data:
            checker.fail(scenario, 'wrong contents in %s' % p)
    checker.check(scenario, os.path.isdir(os.path.join(folder, 'sub', 'empty')), 'folder entry sub/empty missing')
    if with_program:
        checker.check(scenario, os.path.isfile(os.path.join(folder, PROGRAM)), 'program missing in ' + folder)


def unix_path(fx, path):
    """A Windows path under Wine on this machine: Z: is the root, C: the
    prefix's drive_c."""
    drive, rest = path[:2].upper(), path[2:].replace('\\', '/')
    if drive == 'Z:':
        return rest
    if drive == 'C:':
        return os.path.join(fx.args.prefix, 'drive_c') + rest
    return None


def wait_for_file(path, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if os.path.isfile(path) and os.path.getsize(path) > 0:
            time.sleep(0.2)
            return True
        time.sleep(0.2)
    return os.path.isfile(path)


def read_report(path):
    report = {}
    for line in open(path, encoding='latin-1').read().splitlines():
        key, _, value = line.partition('=')
        report[key] = value
    return report


# ---- Driver script pieces -------------------------------------------------------

def start_unzip(exe, folder):
    """Driver lines: start the stub, type folder (as Windows path) into its
    unzip dialog and press Unzip."""
    return f"""start {win(exe)}
window {UNZIP_TITLE}
settext 1003 {folder}
click 1001"""


# Driver lines after a successful unzip from the unzip dialog: acknowledge
# the success message, read the status line, close the dialog.
AFTER_SUCCESS = f"""message Status
click 1
window {UNZIP_TITLE}
text 1009
close
exit"""


def password_scenario(locked, folder, wrong, inspect=''):
    """The scenario "password": a wrong password first (an error message),
    then the right one (the success message). inspect: driver lines for the
    password dialog when it first shows."""
    return f"""scenario password
{start_unzip(locked, win(folder))}
window {PASSWORD_TITLE}
{inspect}settext 1007 {wrong}
click 1
message Error
click 1
window {UNZIP_TITLE}
click 1001
window {PASSWORD_TITLE}
settext 1007 {PASSWORD}
click 1
{AFTER_SUCCESS}
"""


def check_password(c, folder, *first):
    """The scenario "password": the lines first (if any), the wrong
    password's error, the success message, and a clean end."""
    c.sequence('password', *first, 'message [Error] Incorrect password.',
               'message [Status] Unzip to %s successful.' % win(folder), 'text 1009 [Finished.]',
               re.compile(r'exit 0 windows \d+'))


# ---- Scenario groups -------------------------------------------------------------

def group_interactive(fx, bits):
    out = {k: fx.path('out-' + k) for k in ('unzip', 'title', 'password', 'cancel', 'autorun-empty',
                                            'autorun', 'nozip')}
    cwd = fx.path('cwd')
    os.makedirs(cwd)
    plain = fx.sfx('plain', fx.plain_zip)
    titled = fx.sfx('titled', fx.plain_zip, appTitle='My Setup Files')
    locked = fx.sfx('locked', encrypted=True)
    autorun_empty = fx.sfx('autorun-empty', fx.plain_zip, autorun='')
    report = fx.path('report-autorun.txt')
    autorun = fx.sfx('autorun', fx.plain_zip, autorun=PROGRAM, autoParams=win(report) + ' first second')
    nozip = fx.sfx('nozip')
    inspect_password = 'labels\nstyle 1007\ntext 1\ntext 2\n'
    autorun_folder = win(out['autorun']) + '\\'
    script = f"""
scenario unzip
cwd {win(cwd)}
start {win(plain)}
window {UNZIP_TITLE}
rect
text 1003
style 1003
text 1001
text 2
text 1004
class 1008
text 1009
labels
settext 1003 {win(out['unzip'])}
click 1001
{AFTER_SUCCESS}

scenario title-browse
start {win(titled)}
window My Setup Files
settext 1003 C:\\keep\\this
click 1004
picker Please select a folder.
click 2
window My Setup Files
text 1003
click 2
exit

{password_scenario(locked, out['password'], 'wrong guess', inspect_password)}
scenario password-cancel
{start_unzip(locked, win(out['cancel']))}
window {PASSWORD_TITLE}
click 2
quiet 1500
window {UNZIP_TITLE}
text 1009
click 1001
window {PASSWORD_TITLE}
close
quiet 1500
window {UNZIP_TITLE}
text 1009
close
exit

scenario autorun-empty
{start_unzip(autorun_empty, win(out['autorun-empty']))}
quiet 3000
foreign out-autorun-empty
text 1009
close
exit

scenario autorun
{start_unzip(autorun, autorun_folder)}
quiet 3000
text 1009
close
exit

scenario no-zip
{start_unzip(nozip, win(out['nozip']))}
message Error
click 1
window {UNZIP_TITLE}
close
exit
"""

    def check(c):
        s = 'unzip'
        c.sequence(s, 'window ' + UNZIP_TITLE, 'text 1003 [%s]' % win(cwd), 'text 1001 [Unzip]', 'text 2 [Close]',
                   'text 1004 [Browse]', 'class 1008 [msctls_progress32]', 'text 1009 []',
                   'labels To unzip all files to the specified folder, press the Unzip button. | Unzip to folder:',
                   'message [Status] Unzip to %s successful.' % win(out['unzip']), 'text 1009 [Finished.]',
                   re.compile(r'exit 0 windows \d+'))
        style = c.value(s, 'style 1003 ')
        c.check(s, style is not None and int(style, 16) & ES_AUTOHSCROLL, 'folder edit does not scroll')
        rect = c.value(s, 'rect ')
        if rect:  # centred on the 1280 x 1024 screen
            l, t, r, b = map(int, rect.split())
            c.check(s, abs((l + r) / 2 - SCREEN[0] / 2) <= 2 and abs((t + b) / 2 - SCREEN[1] / 2) <= 2,
                    'not centred: ' + rect)
        unpacked(fx, out['unzip'], c, s)

        s = 'title-browse'
        c.sequence(s, 'window My Setup Files', re.compile(r'picker \[.*\]'), 'text 1003 [C:\\keep\\this]', re.compile(r'exit 0 windows \d+'))
        c.absent(s, r'^message')

        s = 'password'
        check_password(c, out['password'], 'labels ' + PASSWORD_LABEL, 'text 1 [OK]', 'text 2 [Cancel]')
        style = c.value(s, 'style 1007 ')
        c.check(s, style is not None and not int(style, 16) & ES_PASSWORD, 'password edit hides the characters')
        unpacked(fx, out['password'], c, s)

        s = 'password-cancel'
        # Cancel, then the close box: neither says anything or unzips.
        c.sequence(s, 'quiet ok', 'text 1009 []', 'close', 'quiet ok', 'text 1009 []',
                   re.compile(r'exit 0 windows \d+'))
        c.check(s, not os.path.exists(out['cancel']), 'cancelled run wrote ' + out['cancel'])

        s = 'autorun-empty'  # the folder itself is opened: no "Failed to run", no success message
        c.sequence(s, 'quiet ok', re.compile(r'foreign \[.*out-autorun-empty.*\]'), 'text 1009 [Finished.]',
                   re.compile(r'exit 0 windows \d+'))
        unpacked(fx, out['autorun-empty'], c, s)

        s = 'autorun'
        c.sequence(s, 'quiet ok', 'text 1009 [Finished.]', re.compile(r'exit 0 windows \d+'))
        unpacked(fx, out['autorun'], c, s)
        if not wait_for_file(report, 20):
            c.fail(s, 'the program did not run')
        else:
            r = read_report(report)
            expected = win(out['autorun']) + '\\' + PROGRAM
            c.check(s, expected.lower() in r.get('cmdline', '').lower(), 'command line %r lacks %r' % (r, expected))
            c.check(s, '\\\\' not in r.get('cmdline', ''), 'doubled separator in %r' % r.get('cmdline'))
            c.check(s, r.get('cmdline', '').endswith(' first second'), 'parameters missing: %r' % r.get('cmdline'))
            c.check(s, r.get('cwd', '').lower().rstrip('\\') == win(out['autorun']).lower(),
                    'working folder %r' % r.get('cwd'))

        s = 'no-zip'
        c.sequence(s, 'message [Error] Failed to open embedded zip.', re.compile(r'exit 0 windows \d+'))
        c.check(s, not os.path.exists(out['nozip']) or not os.listdir(out['nozip']), 'no-zip run wrote files')

    return script, check


def group_automatic(fx, bits):
    out = {k: fx.path('out-' + k) for k in ('preset', 'locked', 'autorun', 'silent')}
    # Many entries keep the progress dialog up a little longer, and the stub
    # answers the driver between entries.
    big = dict(fx.contents)
    for i in range(300):
        big['bulk/part%03d.bin' % i] = os.urandom(16 << 10)
    big_zip = fx.make_zip('big.zip', big, with_program=False)
    preset = fx.sfx('preset', big_zip, unzipDir=win(out['preset']), progressCaption='Copying the files')
    locked = fx.sfx('locked-preset', encrypted=True, unzipDir=win(out['locked']), appTitle='Locked Setup')
    temp_report = fx.path('report-temp.txt')
    autotemp = fx.sfx('autotemp', fx.plain_zip, autotemp=PROGRAM, autoParams=win(temp_report) + ' one two')
    autorun_report = fx.path('report-autorun-preset.txt')
    autorun = fx.sfx('autorun-preset', fx.plain_zip, autorun=PROGRAM, autoParams=win(autorun_report),
                     unzipDir=win(out['autorun']))
    silent = fx.sfx('silent', fx.plain_zip, noInterface='yes', unzipDir=win(out['silent']))
    autotemp_empty = fx.sfx('autotemp-empty', fx.plain_zip, autotemp='')
    temp_dir = unix_path(fx, 'C:\\users\\%s\\Temp' % os.environ.get('USER', 'root'))
    before = set(os.listdir(temp_dir)) if os.path.isdir(temp_dir) else set()
    script = f"""
scenario autotemp-empty
start {win(autotemp_empty)}
window {PROGRESS_TITLE}
quiet 1000
exit

scenario preset
start {win(preset)}
window {PROGRESS_TITLE}
visible 1010
visible 1008
text 1011
text 1012
gone 60000
exit

scenario locked-preset
start {win(locked)}
window Locked Setup
text 1011
visible 1010
text 1012
window {PASSWORD_TITLE}
settext 1007 {PASSWORD}
click 1
exit

scenario autotemp
start {win(autotemp)}
window {PROGRESS_TITLE}
exit

scenario autorun-preset
start {win(autorun)}
window {PROGRESS_TITLE}
exit

scenario silent
start {win(silent)}
exit
"""

    def check(c):
        s = 'preset'
        c.sequence(s, 'window ' + PROGRESS_TITLE, 'visible 1010 no', 'visible 1008 yes', 'text 1011 [ ]',
                   'text 1012 [Copying the files]', 'gone', re.compile(r'exit 0 windows \d+'))
        for entry, data in big.items():
            p = os.path.join(out['preset'], *entry.split('/'))
            c.check(s, os.path.isfile(p) and open(p, 'rb').read() == data, 'missing or wrong ' + p)

        s = 'locked-preset'
        c.sequence(s, 'text 1011 [Decrypt Progress:]', 'visible 1010 yes', 'text 1012 [Unzip Progress:]',
                   'window ' + PASSWORD_TITLE, re.compile(r'exit 0 windows \d+'))
        unpacked(fx, out['locked'], c, s)

        s = 'autotemp'
        c.sequence(s, 'window ' + PROGRESS_TITLE, re.compile(r'exit 0 windows \d+'))
        if not wait_for_file(temp_report, 20):
            c.fail(s, 'the program did not run')
        else:
            r = read_report(temp_report)
            cwd = r.get('cwd', '').rstrip('\\')
            c.check(s, re.search(r'\\vkz(_\d+)?\.tmp[0-9a-f]+$', cwd), 'working folder %r' % cwd)
            c.check(s, r.get('module', '').lower() == (cwd + '\\' + PROGRAM).lower(), 'program %r' % r.get('module'))
            c.check(s, r.get('cmdline', '').endswith(' one two'), 'parameters missing: %r' % r.get('cmdline'))
            folder = unix_path(fx, cwd)
            if folder and os.path.isdir(folder):
                unpacked(fx, folder, c, s)
                shutil.rmtree(folder)  # the stub leaves it in place, by design
            else:
                c.fail(s, 'temporary folder %r not found' % cwd)

        s = 'autorun-preset'  # automatic: "autorun" is not run on this path
        c.sequence(s, 'window ' + PROGRESS_TITLE, re.compile(r'exit 0 windows \d+'))
        unpacked(fx, out['autorun'], c, s)
        time.sleep(2)
        c.check(s, not os.path.exists(autorun_report), 'the "autorun" program was started')

        s = 'silent'
        c.sequence(s, 'exit 1 windows 0')
        unpacked(fx, out['silent'], c, s)

        # An empty "autotemp": automatic, into a new temporary folder, and
        # nothing started (no "Failed to run").
        s = 'autotemp-empty'
        c.sequence(s, 'window ' + PROGRESS_TITLE, 'quiet ok', re.compile(r'exit 0 windows \d+'))
        new = sorted(n for n in (set(os.listdir(temp_dir)) if os.path.isdir(temp_dir) else set()) - before
                     if re.fullmatch(r'vkz(_\d+)?\.tmp[0-9a-f]+', n))
        c.check(s, new, 'no new temporary folder in ' + str(temp_dir))
        for n in new:
            if os.path.isfile(os.path.join(temp_dir, n, 'readme.txt')):
                unpacked(fx, os.path.join(temp_dir, n), c, s)
            shutil.rmtree(os.path.join(temp_dir, n), ignore_errors=True)

    return script, check


def group_failures(fx, bits):
    out = {k: fx.path('out-' + k) for k in ('interactive', 'silent')}
    reports = {k: fx.path('report-%s.txt' % k) for k in ('interactive', 'automatic')}
    interactive = fx.sfx('broken-autorun', fx.broken_zip, autorun=PROGRAM, autoParams=win(reports['interactive']))
    automatic = fx.sfx('broken-autotemp', fx.broken_zip, autotemp=PROGRAM, autoParams=win(reports['automatic']))
    silent = fx.sfx('broken-silent', fx.broken_zip, noInterface='yes', unzipDir=win(out['silent']))
    out['missing'] = fx.path('out-missing')
    missing = fx.sfx('missing-program', fx.plain_zip, autorun='not-in-the-zip.exe')
    script = f"""
scenario missing-program
{start_unzip(missing, win(out['missing']))}
message *
click 1
window {UNZIP_TITLE}
close
exit

scenario interactive
{start_unzip(interactive, win(out['interactive']))}
message *
click 1
window {UNZIP_TITLE}
text 1009
close
exit

scenario automatic
start {win(automatic)}
window {PROGRESS_TITLE}
message *
click 1
exit

scenario silent
start {win(silent)}
message *
click 1
exit
"""

    def check(c):
        temp = re.search(r'Unzip to (\S+) failed', c.value('automatic', 'message ') or '')
        c.check('automatic', temp and re.search(r'\\vkz(_\d+)?\.tmp[0-9a-f]+$', temp.group(1)),
                'no temporary folder in the message')
        if temp and unix_path(fx, temp.group(1)) and os.path.isdir(unix_path(fx, temp.group(1))):
            shutil.rmtree(unix_path(fx, temp.group(1)))
        c.sequence('missing-program', 'message [Error] Failed to run %s\\not-in-the-zip.exe '
                   '(check to see if this file is in the Zip)' % win(out['missing']), re.compile(r'exit 0 windows \d+'))
        unpacked(fx, out['missing'], c, 'missing-program')
        for s in ('interactive', 'automatic', 'silent'):
            msg = c.value(s, 'message ')
            c.check(s, msg is not None and fx.broken_entry in msg, 'failure message does not name %s: %r' %
                    (fx.broken_entry, msg))
            c.check(s, msg is not None and 'successful' not in msg, 'failure reported as success: %r' % msg)
        c.sequence('interactive', re.compile(r'exit 0 windows \d+'))
        c.absent('interactive', r'^text 1009 \[Finished\.\]')
        c.sequence('automatic', re.compile(r'exit 0 windows \d+'))
        c.sequence('silent', re.compile(r'exit 2 windows \d+'))
        for s in ('interactive', 'silent'):
            good = os.path.join(out[s], 'good.txt')
            c.check(s, os.path.isfile(good), 'the good entry was not extracted beside the broken one')
        time.sleep(2)
        for s, p in reports.items():
            c.check(s, not os.path.exists(p), 'the program was started after a failed unzip')

    return script, check


def group_wine32(fx, bits):
    """Everything for the slow 32-bit loader in one driver process."""
    out = {k: fx.path('out-' + k) for k in ('silent', 'password')}
    silent = fx.sfx('silent', fx.plain_zip, noInterface='yes', unzipDir=win(out['silent']))
    locked = fx.sfx('locked', encrypted=True)
    script = f"""
timeout 600000
scenario silent
start {win(silent)}
exit

{password_scenario(locked, out['password'], 'not it')}"""

    def check(c):
        c.sequence('silent', 'exit 1 windows 0')
        unpacked(fx, out['silent'], c, 'silent')
        check_password(c, out['password'])
        unpacked(fx, out['password'], c, 'password')

    return script, check


DONE = re.compile(r'^done in \d+ ms$', re.M)


def run_driver(args, script_path, transcript_path):
    """Runs the driver on a desktop of its own (Wine's desktop program with
    a named desktop): the dialogs get the display even when the prefix's
    default desktop was opened by a program without one. A 32-bit driver
    runs under the 32-bit desktop program. Returns (transcript, how the run
    ended: see run_watched)."""
    bits = getattr(args, 'driver_bits', None) or args.bits
    system = 'syswow64' if bits == '32' else 'system32'
    explorer = os.path.join(args.prefix, 'drive_c', 'windows', system, 'explorer.exe')
    env = dict(os.environ, ORVANTA_DISPLAY='1', ORVANTA_WINEPREFIX=args.prefix)
    desktop = 'orvanta-stub-%s,%dx%d' % ((args.group,) + SCREEN)
    started = time.time()
    _, output, how = run_watched([args.wine_run, bits, explorer, '/desktop=' + desktop, win(args.driver),
                                  win(script_path), win(transcript_path)], transcript_path, DONE, env=env)
    transcript = open(transcript_path, encoding='latin-1').read() if os.path.exists(transcript_path) else ''
    print(output)
    print(transcript)
    print('driver run took %.1f s (%s)' % (time.time() - started, how))
    return transcript, how


def stalled_under_qemu(bits, how):
    """A 32-bit run that stopped answering where i386 programs go through
    qemu-i386 is reported as skipped: there Wine's 32-bit processes have
    hung in places our programs do not reach (a common dialog that never
    appeared, a process that never ended). Where the kernel runs them
    directly, a stall is a failure."""
    if how == 'stalled' and bits == '32' and i386_emulated():
        print('skipped: the 32-bit run stopped answering under qemu-i386 (see the transcript above)')
        return True
    return False


GROUPS = {'interactive': group_interactive, 'automatic': group_automatic, 'failures': group_failures,
          'wine32': group_wine32}


def main():
    ap = argparse.ArgumentParser()
    for name in ('bits', 'group', 'tool', 'encrypt', 'stub', 'driver', 'program', 'wine_run', 'work'):
        ap.add_argument('--' + name.replace('_', '-'), required=True)
    ap.add_argument('--driver-bits', help='when the driver is not built like the stub')
    ap.add_argument('--prefix', default=os.environ.get('ORVANTA_WINEPREFIX', os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', '..', 'build', 'wineprefix')))
    args = ap.parse_args()
    fx = Fixture(args)
    script, check = GROUPS[args.group](fx, args.bits)
    script_path = fx.path('script.txt')
    with open(script_path, 'w', newline='\r\n') as f:
        f.write(script.lstrip())
    transcript_path = fx.path('transcript.txt')
    transcript, how = run_driver(args, script_path, transcript_path)
    if stalled_under_qemu(args.bits, how):
        return 77
    checker = Checker(transcript)
    # The desktop program's exit code says nothing about the driver; the
    # driver's last line says that it got to the end of the script.
    if not DONE.search(transcript):
        checker.failures.append('the driver did not finish its script')
    check(checker)
    for failure in checker.failures:
        print('FAILED: ' + failure)
    print('%d scenario(s), %d failure(s)' % (len(checker.scenarios), len(checker.failures)))
    return 1 if checker.failures else 0


if __name__ == '__main__':
    sys.exit(main())
