"""Shared helpers for the integration tests: run the built launchers under the run's
private Wine prefix, read their full exit codes, the prefix's registry and files.

Every process started here has a time limit. The prefix and its persistent
wineserver are made by the CTest fixture (scripts/wine-prefix.sh)."""
import contextlib
import filecmp
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

SRC = os.environ.get('QZ_SOURCE_DIR') or os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
BUILD = os.environ.get('QZ_BUILD_DIR') or os.path.join(SRC, 'build', 'win')
NATIVE = os.environ.get('QZ_NATIVE_BUILD_DIR') or os.path.join(SRC, 'build', 'native')
PREFIX = os.environ.get('WINEPREFIX') or os.path.join(BUILD, 'wineprefix')
SCRATCH = os.path.join(BUILD, 'scratch')


def wine_env(extra=None):
    env = dict(os.environ)
    env['WINEPREFIX'] = PREFIX
    env.setdefault('WINEDEBUG', '-all')
    # The launcher's clean-up waits a second after a pass that finds something in
    # use; tests that need the real pace pass QZ_TEST_DELETE_PASS_MS=''.
    env.setdefault('QZ_TEST_DELETE_PASS_MS', '100')
    if extra:
        env.update(extra)
    return env


def winpath(unix_path):
    """Windows form of a Unix path (drive Z: is the root; the prefix's C: maps back)."""
    p = os.path.abspath(unix_path)
    c = os.path.join(PREFIX, 'drive_c')
    if p == c or p.startswith(c + os.sep):
        return 'C:' + p[len(c):].replace('/', '\\') or 'C:\\'
    return 'Z:' + p.replace('/', '\\')


def unixpath(win_path):
    p = win_path.replace('\\', '/')
    if len(p) >= 2 and p[1] == ':':
        drive = p[0].upper()
        rest = p[2:]
        if drive == 'Z':
            return rest or '/'
        return os.path.join(PREFIX, 'dosdevices', drive.lower() + ':') + rest
    return p


def start_runexit(cmdline, timeout, env=None, cwd=None):
    """Starts runexit.exe for the exact command line CMDLINE without waiting; returns the
    process. Its output goes to a file (see run); read it with runexit_code."""
    e = wine_env(env)
    e['QZ_RUNEXIT_TIMEOUT_MS'] = str(int(timeout * 1000))
    e['QZ_RUNEXIT_CMDLINE'] = cmdline
    out = tempfile.TemporaryFile()
    p = subprocess.Popen(['wine', os.path.join(BUILD, 'runexit.exe')], env=e, cwd=cwd, stdin=subprocess.DEVNULL,
                         stdout=out, stderr=subprocess.DEVNULL)
    p.output_file = out
    return p


def runexit_output(p, timeout):
    """What a runexit started by start_runexit printed, once it has ended."""
    p.wait(timeout=timeout)
    p.output_file.seek(0)
    text = p.output_file.read().decode('utf-8', 'replace')
    p.output_file.close()
    return text


class Result:
    def __init__(self, code, stdout, stderr, seconds):
        self.code, self.stdout, self.stderr, self.seconds = code, stdout, stderr, seconds

    @property
    def signed(self):
        return self.code - (1 << 32) if self.code is not None and self.code >= 1 << 31 else self.code

    def __repr__(self):
        return f'Result(code={self.code}, seconds={self.seconds:.1f})'


def run(program, args='', timeout=60, env=None, cwd=None):
    """Starts PROGRAM (a Unix path) with the argument text ARGS through runexit.exe and
    returns its full 32-bit exit code. The argument text is passed to the program as is."""
    runexit = os.path.join(BUILD, 'runexit.exe')
    cmdline = f'"{winpath(program)}"' + (' ' + args if args else '')
    e = wine_env(env)
    e['QZ_RUNEXIT_TIMEOUT_MS'] = str(int(timeout * 1000))
    t0 = time.time()
    # wine rebuilds a command line from its argv and would re-quote ours: hand the
    # exact text over in the environment instead.
    e['QZ_RUNEXIT_CMDLINE'] = cmdline
    with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
        # Files, not pipes: programs the launcher leaves running (the interpreter that
        # removes its folder runs at idle priority) inherit them and would hold a pipe
        # open long after runexit has ended.
        p = subprocess.run(['wine', runexit], env=e, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out_file,
                           stderr=err_file, timeout=timeout + 30)
        out_file.seek(0)
        err_file.seek(0)
        p.stdout, p.stderr = out_file.read(), err_file.read()
    out = p.stdout.decode('utf-8', 'replace')
    code = None
    for line in out.splitlines():
        if line.startswith('exit='):
            v = line[5:].split()[0]
            if v.isdigit():
                code = int(v)
            elif v == 'timeout':
                raise TimeoutError(f'{program} {args} still ran after {timeout} s')
    if code is None:
        # The program never ran (or runexit itself did not): say why instead of
        # letting the test compare None.
        raise RuntimeError(f'runexit gave no exit code for {program} (wine exit {p.returncode}): '
                           f'stdout {out!r} stderr {p.stderr.decode("utf-8", "replace")[-2000:]!r}')
    return Result(code, out, p.stderr.decode('utf-8', 'replace'), time.time() - t0)


def wine(*args, timeout=60, check=False):
    p = subprocess.run(['wine'] + list(args), env=wine_env(), capture_output=True, timeout=timeout)
    if check and p.returncode != 0:
        raise RuntimeError(f'wine {args} failed: {p.stderr!r}')
    return p


def reg_entry(key, value=None):
    """(type, data as text) of one registry value, or None when it is missing."""
    args = ['reg', 'query', key] + (['/v', value] if value is not None else ['/ve'])
    p = wine(*args)
    if p.returncode != 0:
        return None
    for line in p.stdout.decode('utf-8', 'replace').splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith('REG_'):
            name = parts[0]
            if value is None or name.lower() == value.lower() or (value == '' and name == '(Default)'):
                return parts[1], parts[2] if len(parts) > 2 else ''
    return None


def reg_query(key, value=None):
    """The data of one registry value as text, or None when it is missing."""
    entry = reg_entry(key, value)
    return entry[1] if entry else None


def reg_add(key, value, data, kind='REG_SZ'):
    wine('reg', 'add', key, '/v', value, '/t', kind, '/d', str(data), '/f', check=True)


def reg_delete(key, value=None):
    args = ['reg', 'delete', key] + (['/v', value] if value is not None else []) + ['/f']
    wine(*args)


@contextlib.contextmanager
def reg_value(key, value, data, kind='REG_SZ'):
    """Sets one registry value for a with block and puts back what was there before,
    whatever the block does."""
    before = reg_entry(key, value)
    try:
        reg_add(key, value, data, kind)
        yield
    finally:
        if before is None:
            reg_delete(key, value)
        else:
            reg_add(key, value, before[1], before[0])


def read_utf16(path):
    with open(path, 'rb') as f:
        data = f.read()
    if data.startswith(b'\xff\xfe'):
        data = data[2:]
    return data.decode('utf-16-le')


def wait_for(cond, timeout=90.0, step=0.1):
    """Polls COND until it holds; its last answer. The bound is generous (a loaded
    machine is slow) and only keeps a broken test from hanging."""
    end = time.time() + timeout
    while time.time() < end:
        if cond():
            return True
        time.sleep(step)
    return cond()


class Hold:
    """A file that keeps the test launchers waiting before their installer step for
    as long as it exists (QZ_TEST_MSIACTION_HOLD_FILE in `env`). The launcher writes
    "held" into it when it gets there; the test releases it once it has read what
    it needs. As a with block the file goes whatever the block does."""

    def __init__(self, folder, name='hold'):
        self.path = os.path.join(folder, name)
        self.env = {'QZ_TEST_MSIACTION_HOLD_FILE': winpath(self.path)}

    def __enter__(self):
        with open(self.path, 'wb'):
            pass
        return self

    def __exit__(self, *exc):
        self.release()

    def reached(self):
        try:
            with open(self.path, 'rb') as f:
                return f.read() == b'held'
        except OSError:
            return False

    def wait_reached(self, timeout=90.0):
        return wait_for(self.reached, timeout)

    def release(self):
        with contextlib.suppress(FileNotFoundError):
            os.remove(self.path)


_LOGGED_TEMP = re.compile(r'Temporary folder ([A-Za-z]:\\[^\r\n]*)|/tempdisk1folder"([^"]*)"')


def logged_temp_folders(log):
    """The temporary folders (Unix paths) a launcher logged in LOG (the folder it made
    and the one it gave its copy), for tear-downs of runs that may not have ended by
    themselves. None when the log is missing."""
    if not os.path.exists(log):
        return []
    found = []
    for m in _LOGGED_TEMP.finditer(read_utf16(log)):
        p = unixpath((m.group(1) or m.group(2)).strip().rstrip('\\'))
        if p not in found:
            found.append(p)
    return found


def remove_logged_temp_folders(log):
    """Removes what logged_temp_folders finds below the prefix's temporary folders;
    folders elsewhere (a test's own scratch) are the test's business."""
    temps = [os.path.realpath(t) for t in (windows_temp(), os.path.join(PREFIX, 'drive_c', 'windows', 'temp'))]
    for p in logged_temp_folders(log):
        real = os.path.realpath(p)
        if any(real.startswith(t + os.sep) for t in temps):
            shutil.rmtree(real, ignore_errors=True)


class WineTest(unittest.TestCase):
    """Gives every test a fresh scratch folder under the build tree."""

    def setUp(self):
        self.dir = os.path.join(SCRATCH, self.id().replace('__main__.', ''))
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)

    def copy_launcher(self, name='setup.exe', target_name=None):
        dst = os.path.join(self.dir, target_name or name)
        shutil.copy(os.path.join(BUILD, name), dst)
        return dst


# msiexec as the launcher starts it: the system folder's copy by its quoted full
# path, whatever the drive and the folder's case (a regular expression).
MSIEXEC = r'(?i:"[A-Z]:\\[^"]*\\system32\\MSIEXEC\.EXE")'


def windows_temp():
    """The prefix user's temporary folder as programs see it (%TEMP%), as a Unix path."""
    p = wine('cmd', '/c', 'echo %TEMP%')
    return unixpath(p.stdout.decode('utf-8', 'replace').strip())


# The test builds of the shipped launchers: the same programs, which also read the
# test-only environment values (QZ_TEST_MSIACTION_*, QZ_TEST_DELETE_PASS_MS).
TEST_BUILDS = {'setup.exe': 'setup_t.exe', 'chainsetup.exe': 'chainsetup_t.exe'}


def test_build_of(launcher):
    """The test build of a shipped launcher (or of a copy of one); any other file as it is."""
    for shipped, test_build in TEST_BUILDS.items():
        s = os.path.join(BUILD, shipped)
        if os.path.exists(s) and filecmp.cmp(launcher, s, shallow=False):
            return os.path.join(BUILD, test_build)
    return launcher


def pack_members(launcher, out, members, scratch):
    """Packs {name: text or bytes} with mksetup onto launcher as out; the member files are
    written to scratch/members and removed again. Returns mksetup's completed process.
    A shipped launcher is packed as its test build, so setups honour the test-only values."""
    launcher = test_build_of(launcher)
    src = os.path.join(scratch, 'members')
    os.makedirs(src, exist_ok=True)
    paths = []
    for name, text in members.items():
        p = os.path.join(src, name)
        with open(p, 'wb') as f:
            f.write(text if isinstance(text, bytes) else text.encode('utf-8'))
        paths.append(p)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    p = subprocess.run([os.path.join(NATIVE, 'mksetup'), 'pack', '-l', launcher, '-o', out] + paths,
                       capture_output=True, timeout=60)
    shutil.rmtree(src)
    return p
