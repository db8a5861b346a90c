"""The setup driver seen from outside: one instance per product, the setup.ini
values a run cannot do without, and the custom return codes, with setups packed
by mksetup.

The setups are packed onto the test build of the launcher, whose Windows
Installer step honours two test-only environment variables (test_hooks.h):
QZ_TEST_MSIACTION_HOLD_FILE keeps a run open (harness.Hold), QZ_TEST_MSIACTION_RESULT sets the
installation's result."""
import os
import re
import threading
import unittest
import uuid

import harness


class DriverTest(harness.WineTest):
    def setUp(self):
        super().setUp()
        self.temp_folders = []

    def pack(self, ini_text, name='setup.exe'):
        data = ini_text if isinstance(ini_text, bytes) else ini_text.encode('latin-1')
        out = os.path.join(self.dir, name)
        p = harness.pack_members(os.path.join(harness.BUILD, 'setup.exe'), out, {'Setup.INI': data}, self.dir)
        self.assertEqual(p.returncode, 0, p.stderr)
        # Values read before the session exists come from the setup.ini beside the launcher.
        with open(os.path.join(self.dir, 'Setup.INI'), 'wb') as f:
            f.write(data)
        return out

    def log_text(self, name):
        p = os.path.join(self.dir, name)
        return harness.read_utf16(p) if os.path.exists(p) else ''

    def launch(self, exe, args, log, env=None, timeout=60):
        # These setups carry no package: the installation step reports success
        # unless a test asks for another result.
        env = dict({'QZ_TEST_MSIACTION_RESULT': '0'}, **(env or {}))
        return harness.run(exe, f'/s /debuglog"{harness.winpath(os.path.join(self.dir, log))}" {args}'.strip(),
                           timeout=timeout, env=env)

    @staticmethod
    def startup(**keys):
        return '[Startup]\r\n' + ''.join(f'{k}={v}\r\n' for k, v in keys.items())

    def test_second_launch_of_the_same_product_ends_with_2197(self):
        code = '{' + str(uuid.uuid4()).upper() + '}'
        exe = self.pack(self.startup(WaitInstallation='Y', MultipleExeLaunch='Y', ProductCode=code,
                                     PackageName='product.msi'))
        first = {}
        hold = harness.Hold(self.dir).__enter__()
        t = threading.Thread(target=lambda: first.setdefault(
            'r', self.launch(exe, '', 'first.log', env=hold.env, timeout=150)))
        t.start()
        try:
            # The first run holds the mutex from before the installer step on.
            self.assertTrue(hold.wait_reached(), self.log_text('first.log'))
            second = self.launch(exe, '', 'second.log')
            self.assertEqual(second.code, 2197)
            self.assertIn('Another instance of the setup is already running, Setup exits returning 2197',
                          self.log_text('second.log'))
            self.assertNotIn('Reading setup.ini from', self.log_text('second.log'))
        finally:
            hold.release()
            t.join(180)
        self.assertEqual(first['r'].code, 0)
        # With the first run ended the mutex is free again.
        self.assertEqual(self.launch(exe, '', 'third.log').code, 0)

    def test_multiple_launches_allowed_without_the_switch(self):
        code = '{' + str(uuid.uuid4()).upper() + '}'
        exe = self.pack(self.startup(WaitInstallation='Y', MultipleExeLaunch='Yes', ProductCode=code,
                                     PackageName='product.msi'))
        first = {}
        hold = harness.Hold(self.dir).__enter__()
        t = threading.Thread(target=lambda: first.setdefault(
            'r', self.launch(exe, '', 'first.log', env=hold.env, timeout=150)))
        t.start()
        try:
            self.assertTrue(hold.wait_reached(), self.log_text('first.log'))
            self.assertEqual(self.launch(exe, '', 'second.log').code, 0)
        finally:
            hold.release()
            t.join(180)
        self.assertEqual(first['r'].code, 0)

    def test_missing_package_name_gives_1153(self):
        exe = self.pack(self.startup(WaitInstallation='Y', ProductCode='{X}'))
        r = self.launch(exe, '', 'run.log')
        self.assertEqual(r.code, 1153, self.log_text('run.log')[-2000:])
        self.assertIn('Failed to read setup package: PackageName name from Setup.ini', self.log_text('run.log'))

    def test_hostile_setup_ini_never_crashes(self):
        head = b'[Startup]\r\nWaitInstallation=Y\r\n'
        cases = [
            head + b'PackageName=\r\n' + b'\xff\xfe\x00' * 3000,
            head + b'[' * 100000 + b'\r\n',
            head + b'CmdLine=' + b'%PATH%' * 5000 + b'\r\n',
            head + b'[MsiVersion]\r\n' + b''.join(b'%d=MsiVersion\r\n' % i for i in range(3000)),
            head + b'\x00' * 4096,
        ]
        for i, text in enumerate(cases):
            with self.subTest(case=i):
                exe = self.pack(text, name=f'setup{i}.exe')
                # Junk with NUL bytes reads as UTF-16, so WaitInstallation is not
                # seen there: ask for the wait on the command line.
                r = self.launch(exe, '/clone_wait', f'run{i}.log')
                self.assertEqual(r.code, 1153, self.log_text(f'run{i}.log')[-2000:])

    def test_hostile_values_with_a_package_name_still_run(self):
        # No CmdLine: one too long for the property list stops the run on purpose.
        text = (b'[Startup]\r\nWaitInstallation=Y\r\nPackageName=p.msi\r\n'
                b'OnUpgrade=99999999999999999999\r\nMode=-7\r\n[MsiVersion]\r\n' +
                b''.join(b'%d.%s=L\r\n' % (i, b'9' * 30) for i in range(500)) + b'[L]\r\nL=\r\nMsiVersion=\r\n')
        exe = self.pack(text)
        r = self.launch(exe, '', 'run.log')
        self.assertEqual(r.code, 0, self.log_text('run.log')[-2000:])

    def test_setup_ini_with_a_utf8_mark_is_read_whole(self):
        exe = self.pack(b'\xef\xbb\xbf' + self.startup(WaitInstallation='Y', PackageName='p.msi').encode())
        r = self.launch(exe, '', 'run.log', env={'QZ_TEST_MSIACTION_RESULT': '4321'})
        # The first launcher waited (WaitInstallation) for a run that reached the
        # installer (PackageName): both keys of the first section were read.
        self.assertEqual(r.code, 4321, self.log_text('run.log')[-2000:])

    def test_free_space_is_checked_where_the_run_extracts(self):
        exe = self.pack(self.startup(WaitInstallation='Y', PackageName='p.msi'))
        extract = os.path.join(self.dir, 'extract here')
        os.makedirs(extract)
        r = self.launch(exe, f'/tempextractpath"{harness.winpath(extract)}"', 'run.log')
        self.assertEqual(r.code, 0, self.log_text('run.log')[-2000:])
        checked = re.search(r'Temporary location (.*) has room for', self.log_text('run.log'))
        self.assertIsNotNone(checked, self.log_text('run.log')[-2000:])
        self.assertTrue(checked.group(1).lower().startswith(harness.winpath(extract).lower() + '\\'), checked.group(1))

    def test_custom_return_codes_end_to_end(self):
        custom = dict(CustomRetCode='Y', CustomRetCodeOnSuccess='0x10', CustomRetCodeOnFail='0x7F',
                      CustomRetCodeOnAbort='5')
        rows = [
            ('success', dict(PackageName='p.msi'), {}, 16),
            ('failure', dict(), {}, 127),  # 1153: no package name
            ('installer failure', dict(PackageName='p.msi'), {'QZ_TEST_MSIACTION_RESULT': '1603'}, 127),
            ('abort', dict(PackageName='p.msi'), {'QZ_TEST_MSIACTION_RESULT': '1602'}, 5),
            ('empty fail code', dict(CustomRetCodeOnFail=''), {}, 1153),
            ('not enabled', dict(CustomRetCode='N', PackageName='p.msi'), {'QZ_TEST_MSIACTION_RESULT': '1603'}, 1603),
        ]
        for i, (name, extra, env, expected) in enumerate(rows):
            with self.subTest(name):
                keys = dict(WaitInstallation='Y', **custom)
                keys.update(extra)
                exe = self.pack(self.startup(**keys), name=f'setup{i}.exe')
                r = self.launch(exe, '', f'run{i}.log', env=env)
                self.assertEqual(r.signed, expected, self.log_text(f'run{i}.log')[-3000:])


if __name__ == '__main__':
    unittest.main()
