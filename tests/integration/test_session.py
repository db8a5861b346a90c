"""Settings the launcher reads from its own setup stream before anything is
extracted: a packed setup.ini decides whether the first launcher waits for its
temporary copy, and reading it leaves no temporary file behind."""
import os
import re
import shutil
import subprocess
import unittest

import harness

CLONE_FOLDER = re.compile(r'/tempdisk1folder"([^"]*)"')


class PackagedSettingTest(harness.WineTest):
    def setUp(self):
        super().setUp()
        self.launcher = self.copy_launcher(target_name='plain.exe')
        self.log = os.path.join(self.dir, 'Brackenwright.log')

    def tearDown(self):
        # The clone's folder stays until the session's clean-up removes it.
        if os.path.exists(self.log):
            for t in CLONE_FOLDER.findall(harness.read_utf16(self.log)):
                shutil.rmtree(harness.unixpath(t), ignore_errors=True)

    def pack(self, members):
        out = os.path.join(self.dir, 'setup.exe')
        p = harness.pack_members(self.launcher, out, members, self.dir)
        self.assertEqual(p.returncode, 0, p.stderr)
        return out

    def tilde_files(self):
        temp = harness.windows_temp()
        return {n for n in os.listdir(temp) if n.startswith('~')}

    def test_wait_installation_is_read_from_the_stream(self):
        exe = self.pack({'Setup.INI': '[Startup]\r\nWaitInstallation=Y\r\nPackageName=a.msi\r\n'})
        before = self.tilde_files()
        r = harness.run(exe, '/s /debuglog notaswitch')
        # The parent waited and passed on the clone's invalid-command-line code.
        self.assertEqual(r.code, 1203)
        self.assertIn('/waitingforchildprocess', harness.read_utf16(self.log))
        self.assertEqual(self.tilde_files() - before, set())

    def test_the_packed_setup_ini_beats_the_one_beside_the_launcher(self):
        exe = self.pack({'Setup.INI': '[Startup]\r\nWaitInstallation=N\r\n'})
        with open(os.path.join(self.dir, 'Setup.INI'), 'w', newline='') as f:
            f.write('[Startup]\r\nWaitInstallation=Y\r\n')
        r = harness.run(exe, '/s /debuglog notaswitch')
        self.assertEqual(r.code, 0)  # no wait: the parent ends at once
        self.assertNotIn('/waitingforchildprocess', harness.read_utf16(self.log))
        # Let the clone end before its folder is removed.
        harness.wait_for(lambda: harness.read_utf16(self.log).count('Setup returning') >= 1)

    def test_without_a_packed_setup_ini_the_one_beside_counts(self):
        exe = self.pack({'other.txt': 'x'})
        with open(os.path.join(self.dir, 'Setup.INI'), 'w', newline='') as f:
            f.write('[Startup]\r\nWaitInstallation=y\r\n')
        r = harness.run(exe, '/s /debuglog notaswitch')
        self.assertEqual(r.code, 1203)


if __name__ == '__main__':
    unittest.main()
