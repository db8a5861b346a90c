"""The launcher's roles as a user or a deployment tool sees them: the relaunch from
a temporary copy, waiting for it, the one-shot commands, the removal switch, the
debug log and its two switches, and exit codes."""
import os
import re
import shutil
import subprocess
import threading
import time
import unittest
import zlib

import harness
from test_stream import stream_bytes

WORKBENCH = r'HKCU\SOFTWARE\Brackenwright\31.0\Workbench'
# A line of either form: date, time, message (and the source in the long form).
SHORT_LINE = re.compile(r'^\d{1,2}-\d{1,2}-\d{4}\[\d\d:\d\d:\d\d [^\]]+\]: (.*)$')
LONG_LINE = re.compile(r'^\d{1,2}-\d{1,2}-\d{4}\[\d\d:\d\d:\d\d [^\]]+\]: (.*)  --  File: (\S+), Line: (\d+)$')
CLONE_LAUNCH = re.compile(r'Attempting to launch(?: \(no wait\))?: (.*)$')


class EntryCase(harness.WineTest):
    """A copy of setup.exe in the scratch folder and readers of its debug log."""

    def setUp(self):
        super().setUp()
        self.exe = self.copy_launcher()
        self.log = os.path.join(self.dir, 'Brackenwright.log')
        self.temp_folders = []

    def tearDown(self):
        # The clone's folder stays until the session's clean-up removes it: do it here.
        for t in self.temp_folders:
            shutil.rmtree(harness.unixpath(t), ignore_errors=True)

    def write_ini(self, **startup):
        with open(os.path.join(self.dir, 'Setup.INI'), 'w', newline='') as f:
            f.write('[Startup]\r\n' + ''.join(f'{k}={v}\r\n' for k, v in startup.items()))

    def launch(self, args, timeout=60):
        return harness.run(self.exe, args, timeout=timeout)

    def log_lines(self):
        if not os.path.exists(self.log):
            return []
        return harness.read_utf16(self.log).split('\r\n')[:-1]

    def messages(self, pattern=SHORT_LINE):
        out = []
        for line in self.log_lines():
            m = pattern.match(line)
            self.assertIsNotNone(m, f'line not in the expected form: {line!r}')
            out.append(m.group(1))
        return out

    def wait_for_clone(self, count=1):
        """Waits until COUNT launchers have logged their end (a no-wait parent ends first)."""
        ok = harness.wait_until(lambda: sum('Setup returning' in l for l in self.log_lines()) >= count, timeout=30)
        self.assertTrue(ok, 'the clone never logged its end:\n' + '\n'.join(self.log_lines()))

    def clone_command(self, messages):
        for m in messages:
            c = CLONE_LAUNCH.search(m)
            if c and 'tempdisk1folder' in c.group(1):
                t = re.search(r'/tempdisk1folder"([^"]*)"', c.group(1))
                if t:
                    self.temp_folders.append(t.group(1))
                return c.group(1)
        self.fail('no clone launch logged:\n' + '\n'.join(messages))


class EntryTest(EntryCase):
    # ---- the parent role ------------------------------------------------------

    def test_plain_launch_relaunches_from_a_new_temporary_folder_and_ends_at_once(self):
        r = self.launch('/s /debuglog')
        self.assertEqual(r.code, 0)
        self.wait_for_clone()
        msgs = self.messages()
        clone = self.clone_command(msgs)
        m = re.match(r'^(\S+)\\setup\.exe /q"([^"]+)" /tempdisk1folder"([^"]+)"', clone)
        self.assertIsNotNone(m, clone)
        temp, first, given = m.groups()
        self.assertEqual(temp, given)
        self.assertRegex(temp, r'\\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$')
        self.assertEqual(first.lower(), harness.winpath(self.exe).lower())
        # The new folder lies in the user's temporary folder, not beside the launcher.
        self.assertTrue(os.path.samefile(os.path.dirname(harness.unixpath(temp)), harness.windows_temp()), temp)
        self.assertIn('Attempting to launch (no wait): ', '\n'.join(msgs))
        # The clone itself ran from there and never relaunched again.
        starts = [x for x in msgs if x.startswith('Brackenwright setup.exe (Unicode) started, cmdline: ')]
        self.assertEqual(len(starts), 2, msgs)
        self.assertTrue(starts[1].endswith('cmdline: ' + clone[len(temp) + len('\\setup.exe '):]), (starts[1], clone))
        self.assertEqual(sum('Relaunching setup from temp' in x for x in msgs), 1)
        self.assertFalse([x for x in msgs if 'CoInitializeSecurity failed' in x])

    def test_clone_command_line_has_the_fixed_form(self):
        self.write_ini(WaitInstallation='Y')
        r = self.launch('/s /debuglog notaswitch')
        self.assertEqual(r.code, 1203)
        clone = self.clone_command(self.messages())
        temp = self.temp_folders[-1]
        first = harness.winpath(self.exe)
        log = harness.winpath(self.log)
        self.assertEqual(clone, f'{temp}\\setup.exe /q"{first}" /tempdisk1folder"{temp}" /QZ_temp /debuglog"{log}"'
                                f' /waitingforchildprocess /s notaswitch')

    def test_wait_installation_returns_the_clones_exit_code(self):
        self.write_ini(WaitInstallation='y')
        r = self.launch('/s /debuglog notaswitch')
        self.assertEqual(r.code, 1203)  # the clone's invalid command line, passed on
        self.assertIn(' /waitingforchildprocess ', self.clone_command(self.messages()))

    def test_skip_clone_wait_beats_wait_installation(self):
        self.write_ini(WaitInstallation='Y')
        r = self.launch('/s /debuglog notaswitch /skip_clone_wait')
        self.assertEqual(r.code, 0)
        self.wait_for_clone()
        clone = self.clone_command(self.messages())
        self.assertNotIn(' /skip_clone_wait', clone)
        self.assertNotIn('/waitingforchildprocess', clone)
        self.assertTrue(any(m.startswith('Attempting to launch (no wait): ') for m in self.messages()))

    def test_custom_success_code_of_a_no_wait_parent(self):
        self.write_ini(CustomRetCode='Y', CustomRetCodeOnSuccess='0x10', CustomRetCodeOnFail='7')
        r = self.launch('/s /debuglog')
        self.assertEqual(r.code, 16)
        self.wait_for_clone()
        self.clone_command(self.messages())

    def test_bare_argument_in_the_clone_gives_1203(self):
        temp = os.path.join(self.dir, 'given')
        os.makedirs(temp)
        r = self.launch(f'/q"{harness.winpath(self.exe)}" /tempdisk1folder"{harness.winpath(temp)}" /s notaswitch')
        self.assertEqual(r.code, 1203)
        self.assertFalse(os.path.exists(self.log))  # no switch, no registry value: no log

    def test_given_temporary_folder_must_fit_1024_characters_with_its_terminator(self):
        # Quotes and a trailing backslash do not count; a folder that does not fit is
        # refused rather than cut into the name of another folder.
        refused = 'Temporary folder name longer than 1023 characters ignored'
        rows = [('"C:\\' + 'a' * 1020 + '"', False), ('C:\\' + 'b' * 1020 + '\\', False),
                ('"C:\\' + 'c' * 1021 + '"', True)]
        for value, refuse in rows:
            with self.subTest(value=value[:8]):
                if os.path.exists(self.log):
                    os.remove(self.log)
                r = self.launch(f'/q"{harness.winpath(self.exe)}" /tempdisk1folder{value} /s /debuglog notaswitch')
                self.assertEqual(r.code, 1203)
                self.assertEqual(refused in self.messages(), refuse)

    def test_folder_given_by_e_must_be_a_folder(self):
        # The run would work in whatever /e names: a file or nothing there is an
        # invalid command line, never a place to extract into.
        temp = os.path.join(self.dir, 'given')
        os.makedirs(temp)
        plain = os.path.join(self.dir, 'plain.txt')
        with open(plain, 'w') as f:
            f.write('not a folder')
        for name in (plain, os.path.join(self.dir, 'missing')):
            with self.subTest(name=os.path.basename(name)):
                if os.path.exists(self.log):
                    os.remove(self.log)
                r = self.launch(f'/q"{harness.winpath(self.exe)}" /tempdisk1folder"{harness.winpath(temp)}" '
                                f'/s /debuglog /e"{harness.winpath(name)}"')
                self.assertEqual(r.code, 1203)
                self.assertTrue(any('cannot be used' in m for m in self.messages()), self.messages())
        with open(plain) as f:
            self.assertEqual(f.read(), 'not a folder')

    def test_setup_without_prerequisites_ends_with_0(self):
        r = self.launch('/runprerequisites"x" /s /debuglog')
        self.assertEqual(r.code, 0)  # the parent waits for a prerequisite pass
        clone = self.clone_command(self.messages())
        self.assertIn(' /eprq', clone)

    # ---- what the launcher holds ----------------------------------------------

    def test_the_launcher_and_its_folder_cannot_be_swapped_while_setup_runs(self):
        # Whoever runs in the temporary folder holds it, and the parent holds the file
        # it was started from: someone who may write these folders can rename or
        # replace neither before the copy is made nor while the copy runs, and a link
        # planted in the folder is replaced, never written through.
        self.exe = self.copy_launcher('setup_t.exe', 'setup.exe')
        self.write_ini(WaitInstallation='Y')
        with open(self.exe, 'rb') as f:
            original = f.read()
        victim = os.path.join(self.dir, 'victim.txt')
        with open(victim, 'w') as f:
            f.write('victim')
        pause = os.path.join(self.dir, 'pause')
        # The folder is made here rather than in %TEMP%, where tests running beside
        # this one count the folders.
        args = f'/s /debuglog /tempextractpath"{harness.winpath(self.dir)}" notaswitch'
        box = {}
        run = threading.Thread(target=lambda: box.setdefault('r', harness.run(
            self.exe, args, env={'QZ_TEST_PAUSE_FILE': harness.winpath(pause)}, timeout=120)))
        run.start()

        def paused_at(point):
            def there():
                try:
                    with open(pause, 'rb') as f:
                        return f.read().decode('utf-16-le') == point
                except OSError:
                    return False
            self.assertTrue(harness.wait_until(there, 60), f'never paused at {point}')

        def moved(src, dst):
            harness.wine('cmd', '/c', 'move', harness.winpath(src), harness.winpath(dst))
            return os.path.exists(dst)

        paused_at('copy')
        temp = harness.unixpath(next(m for m in self.messages() if m.startswith('Temporary folder '))[17:])
        self.temp_folders.append(harness.winpath(temp))
        self.assertFalse(moved(self.exe, self.exe + '.moved'))
        harness.wine('cmd', '/c', 'copy', '/y', harness.winpath(victim), harness.winpath(self.exe))
        with open(self.exe, 'rb') as f:
            self.assertTrue(f.read() == original)
        self.assertFalse(moved(temp, temp + '-moved'))
        os.symlink(victim, os.path.join(temp, 'Setup.INI'))
        os.remove(pause)

        paused_at('run')  # the clone, which the parent no longer waits to start
        self.assertFalse(moved(temp, temp + '-moved'))
        self.assertFalse(moved(os.path.join(temp, 'setup.exe'), os.path.join(temp, 'other.exe')))
        self.assertFalse(os.path.islink(os.path.join(temp, 'Setup.INI')))
        with open(victim) as f:
            self.assertEqual(f.read(), 'victim')
        os.remove(pause)
        run.join(120)
        self.assertEqual(box['r'].code, 1203)
        self.assertTrue(moved(self.exe, self.exe + '.moved'))  # once the run is over, the command works

    def test_a_dot_local_beside_the_launcher_stops_it_before_it_loads_anything(self):
        # No /s: the refusal shows nothing (a dialog would hang the run).
        local = self.exe + '.local'
        for kind in ('folder', 'file'):
            with self.subTest(kind):
                if kind == 'folder':
                    os.makedirs(local)
                else:
                    open(local, 'w').close()
                r = self.launch('/debuglog')
                self.assertEqual(r.code, 1158)
                msgs = self.messages()
                self.assertTrue(any(m.endswith('.local exists: the system would load this program\'s libraries from '
                                               'it. Setup does not run.') for m in msgs), msgs)
                self.assertFalse([m for m in msgs if 'started, cmdline' in m or 'Temporary folder' in m], msgs)
                shutil.rmtree(local) if kind == 'folder' else os.remove(local)
                os.remove(self.log)

    def test_a_settings_member_that_cannot_be_read_ends_with_1153(self):
        # Read as empty, WaitInstallation would be off and the parent would end with 0;
        # ValidateSetupAndMSISignatures (Setting.INI) off, the signer check skipped.
        with open(self.exe, 'rb') as f:
            image = f.read()
        cut = zlib.compress(b'[Startup]\r\nWaitInstallation=Y\r\n' * 20)[:-8]
        for member in ('Setup.INI', 'Setting.INI'):
            with self.subTest(member):
                with open(self.exe, 'wb') as f:
                    f.write(image + stream_bytes([(member, 0, 1, cut)]))
                r = self.launch('/s /debuglog')
                self.assertEqual(r.code, 1153)
                msgs = self.messages()
                self.assertIn('Error 1153: Error reading setup initialization file', msgs)
                self.assertTrue(any(m.startswith(f'Cannot read {member} from the setup stream') for m in msgs), msgs)
                self.assertNotIn('Relaunching setup from temp', msgs)
                os.remove(self.log)

    # ---- the debug log ---------------------------------------------------------

    def test_debuglog_without_value_writes_short_lines_beside_the_launcher(self):
        self.write_ini(WaitInstallation='Y')
        self.launch('/s /debuglog notaswitch')
        with open(self.log, 'rb') as f:
            self.assertEqual(f.read(2), b'\xff\xfe')
        msgs = self.messages(SHORT_LINE)
        self.clone_command(msgs)
        self.assertFalse(any(LONG_LINE.match(l) for l in self.log_lines()))
        self.assertEqual(self.log_lines()[0].split(': ', 1)[1],
                         'Brackenwright setup.exe (Unicode) started, cmdline: /s /debuglog notaswitch')

    def test_debuglog_with_a_path_names_the_file_of_both_launchers(self):
        # The value of /debuglog names the file; the clone gets the same path.
        # (The registry switch has its own file, test_registry_log.py.)
        other = os.path.join(self.dir, 'sub', 'my log.txt')
        os.makedirs(os.path.dirname(other))
        self.write_ini(WaitInstallation='Y')
        self.launch(f'/s /debuglog"{harness.winpath(other)}" notaswitch')
        self.assertFalse(os.path.exists(self.log))
        lines = harness.read_utf16(other).split('\r\n')[:-1]
        self.assertEqual(sum('started, cmdline' in l for l in lines), 2)
        for t in re.findall(r'/tempdisk1folder"([^"]*)"', '\n'.join(lines)):
            self.temp_folders.append(t)

    def test_password_never_reaches_the_log(self):
        self.write_ini(WaitInstallation='Y')
        r = self.launch('/s /debuglog /pS3cr3tPw notaswitch -p"Two Words"')
        self.assertEqual(r.code, 1203)
        text = harness.read_utf16(self.log)
        self.assertIn('/p***', text)
        self.assertNotIn('S3cr3tPw', text)
        self.assertNotIn('Two Words', text)
        self.clone_command(self.messages())

    # ---- one-shot commands and removal ----------------------------------------

    def test_percent_command_runs_msiexec_and_ends_with_0(self):
        # A program named MSIEXEC.EXE beside the launcher (a download folder) is never
        # the one started: it would end at once and write no log.
        shutil.copy(os.path.join(harness.BUILD, 'sleeper.exe'), os.path.join(self.dir, 'MSIEXEC.EXE'))
        msi_log = os.path.join(self.dir, 'msiexec.log')
        missing = harness.winpath(os.path.join(self.dir, 'none.msi'))
        r = self.launch(f'/% /i {missing} /qn /l*v {harness.winpath(msi_log)}', timeout=90)
        self.assertEqual(r.code, 0)
        self.assertTrue(os.path.exists(msi_log), 'msiexec did not run with the given arguments')

    def test_restart_command_starts_the_launcher_again_without_waiting(self):
        r = self.launch('/K /s /debuglog')
        self.assertEqual(r.code, 0)
        self.wait_for_clone()
        msgs = self.messages()
        self.assertIn(f'Attempting to launch (no wait): {harness.winpath(self.exe)} /s /debuglog', msgs)
        starts = [m for m in msgs if 'started, cmdline: ' in m]
        self.assertEqual(len(starts), 3, msgs)  # the command, the launcher it started, that one's clone
        self.assertTrue(starts[1].endswith('cmdline: /s /debuglog'), starts[1])
        self.clone_command([m for m in msgs if 'tempdisk1folder' in m])

    def test_signature_command_is_not_trusted_yet(self):
        r = self.launch(f'/G{harness.winpath(self.exe)} /sCN')
        self.assertEqual(r.code, 1621)

    def test_resume_after_restart_cleans_the_named_folder(self):
        # Beside the folder: a file its list reaches through "..", and a sibling whose
        # name begins with the folder's name.
        sibling = os.path.join(self.dir, 'plain2')
        os.makedirs(sibling)
        for p in (os.path.join(self.dir, 'keep.txt'), os.path.join(sibling, 'b.txt')):
            with open(p, 'w') as f:
                f.write('mine')
        outside = (f'up={harness.winpath(self.dir)}\\plain\\..\\keep.txt\r\n'
                   f'b.txt={harness.winpath(sibling)}\\b.txt\r\n[Folders]\r\nplain2={harness.winpath(sibling)}\r\n')

        def folder_with_list(name, made=True, extra=''):
            d = os.path.join(self.dir, name)
            os.makedirs(d)
            with open(os.path.join(d, 'a.txt'), 'w') as f:
                f.write('x')
            # As the run before the restart left it: the folder marked as its own.
            mark = f'[Created]\r\n{name}={harness.winpath(d)}\r\n' if made else ''
            with open(os.path.join(d, '_QZMSIDEL.INI'), 'w', newline='') as f:
                f.write(f'{mark}[Files]\r\na.txt={harness.winpath(os.path.join(d, "a.txt"))}\r\n{extra}')
            return d
        plain = folder_with_list('plain', extra=outside)
        r = self.launch(f'/reboot /cleanuptempfolder"{harness.winpath(plain)}" /debuglog')
        self.assertEqual(r.code, 0)
        self.assertFalse(os.path.exists(plain))
        self.assertTrue(os.path.exists(os.path.join(self.dir, 'keep.txt')))
        self.assertEqual(os.listdir(sibling), ['b.txt'])
        self.assertIn('Running after reboot', self.messages())
        # A folder the launcher did not make only loses what was listed.
        foreign = folder_with_list('foreign', made=False)
        r = self.launch(f'/reboot /cleanuptempfolder"{harness.winpath(foreign)}"')
        self.assertEqual(r.code, 0)
        self.assertEqual(os.listdir(foreign), [])
        # With data for the script engine and no engine library beside the launcher,
        # it ends at once (silently, as asked) with the bridge's load failure: the
        # resume did not run.
        engine = folder_with_list('engine')
        r = self.launch(f'/rebootdata /s /cleanuptempfolder"{harness.winpath(engine)}"')
        self.assertEqual(r.code, 1670)
        self.assertTrue(os.path.exists(os.path.join(engine, 'a.txt')))

    def test_removal_takes_the_engine_library_from_the_stream(self):
        # With a library the launcher goes on to the script engine; one that cannot
        # be loaded ends with the bridge's load failure 1670, not 7001 and never as
        # a success.
        dll = os.path.join(self.dir, 'QZSetup.dll')
        with open(dll, 'wb') as f:
            f.write(b'MZ not really a library')
        packed = os.path.join(self.dir, 'packed.exe')
        p = subprocess.run([os.path.join(harness.NATIVE, 'mksetup'), 'pack', '-l', self.exe, '-o', packed, dll],
                           capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        os.remove(dll)
        temp = harness.windows_temp()
        before = set(os.listdir(temp))
        r = harness.run(packed, '/removeasmajorupgrade{11111111-2222-3333-4444-555555555555};1;2 /s /debuglog')
        self.assertEqual(r.code, 1670)
        self.assertEqual([n for n in set(os.listdir(temp)) - before if n.upper().startswith('QZ_')], [])
        text = harness.read_utf16(self.log)
        self.assertRegex(text, r'1670: .*\\QZ_[0-9A-Fa-f]+\.tmp')

    def test_removal_value_with_two_parts_gives_minus_4(self):
        r = self.launch('/removeasmajorupgrade{11111111-2222-3333-4444-555555555555};1 /debuglog')
        self.assertEqual(r.code, 4294967292)
        self.assertEqual(r.signed, -4)
        self.assertIn('Running as remove major upgrade', self.messages())

    def test_removal_without_engine_library_gives_7001(self):
        temp = harness.windows_temp()
        before = set(os.listdir(temp))
        r = self.launch('/removeasmajorupgrade{11111111-2222-3333-4444-555555555555};1;2')
        self.assertEqual(r.code, 7001)
        leftovers = [n for n in set(os.listdir(temp)) - before if n.upper().startswith('QZ_')]
        self.assertEqual(leftovers, [])  # the placeholder for the library is not left behind


if __name__ == '__main__':
    unittest.main()
