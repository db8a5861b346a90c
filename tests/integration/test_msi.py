"""The Windows Installer launch end to end: a demo product built with wixl, packed
into a setup with build/native/mksetup, installed and removed silently through the
launcher under Wine. The launcher's exit code must be msiexec's.

These tests need the setup driver to run the installer action; until the driver's
chain calls run_msi_action they are skipped (see chain_wired)."""
import glob
import os
import shutil
import subprocess
import unittest

import harness

MKSETUP = os.path.join(harness.NATIVE, 'mksetup')
BUILD_DEMO = os.path.join(harness.SRC, 'tests', 'data', 'demo', 'build-demo.sh')
PRODUCT = '{6E1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}'
DEMO_KEY = r'HKLM\Software\Brackenwright\Demo'


def chain_wired():
    """True when some launcher source outside the action itself calls run_msi_action."""
    for path in glob.glob(os.path.join(harness.SRC, 'Src', '**', '*.cpp'), recursive=True):
        if os.path.basename(path).startswith('msiaction'):
            continue
        with open(path, encoding='utf-8', errors='replace') as f:
            if 'run_msi_action(' in f.read():
                return True
    return False


def full_cleanup():
    """The clean-up that removes the clone's folder has replaced the provisional one."""
    with open(os.path.join(harness.SRC, 'Src', 'Runtime', 'MSI', 'Shared', 'Setup', 'cleanup.h'), encoding='utf-8') as f:
        return 'Stands in for the full clean-up' not in f.read()


def installed_readme():
    return os.path.join(harness.PREFIX, 'drive_c', 'Program Files', 'Brackenwright Demo', 'readme.txt')


@unittest.skipUnless(chain_wired(), 'the setup driver does not call run_msi_action yet')
class MsiLaunchTest(harness.WineTest):
    def setUp(self):
        super().setUp()
        self.data = os.path.join(self.dir, 'data')
        subprocess.run([BUILD_DEMO, self.data], check=True, timeout=120, capture_output=True)
        self.uninstall_directly()

    def tearDown(self):
        self.uninstall_directly()

    def uninstall_directly(self):
        harness.wine('msiexec', '/x', PRODUCT, '/qn', timeout=120)

    def make_setup(self, package, package_type=1, extra=''):
        """A setup carrying setup.ini and, for type 1, the package in its stream."""
        folder = os.path.join(self.dir, 'media')
        os.makedirs(folder, exist_ok=True)
        ini = os.path.join(self.dir, 'setup.ini')
        with open(ini, 'w', newline='') as f:
            # The parent waits for its clone, so the exit code is the installation's.
            f.write(f'[Startup]\r\nPackageName={package}\r\nProductCode={PRODUCT}\r\nWaitInstallation=Y\r\n{extra}'
                    f'[{package}]\r\nType={package_type}\r\n')
        members = [ini]
        if package_type == 1:
            members.append(os.path.join(self.data, package))
        elif package_type == 0:
            shutil.copy(os.path.join(self.data, package), folder)
        # Also beside the setup: the settings are read from there until the session
        # reads them from its stream.
        shutil.copy(ini, os.path.join(folder, 'Setup.INI'))
        setup = os.path.join(folder, 'setup.exe')
        subprocess.run([MKSETUP, 'pack', '-l', os.path.join(harness.BUILD, 'setup.exe'), '-o', setup] + members,
                       check=True, timeout=60, capture_output=True)
        return setup

    def msiexec_code(self, package):
        """What msiexec itself answers for the package (Wine's codes differ from Windows')."""
        shutil.copy(os.path.join(self.data, package), os.path.join(self.dir, 'direct.msi'))
        package_path = harness.winpath(os.path.join(self.dir, 'direct.msi'))
        env = dict(harness.wine_env(), QZ_RUNEXIT_CMDLINE=f'"MSIEXEC.EXE" /i "{package_path}" /qn',
                   QZ_RUNEXIT_TIMEOUT_MS='120000')
        res = subprocess.run(['wine', os.path.join(harness.BUILD, 'runexit.exe')], env=env, capture_output=True,
                             timeout=150)
        for line in res.stdout.decode('utf-8', 'replace').splitlines():
            if line.startswith('exit='):
                return int(line[5:].split()[0])
        self.fail('msiexec gave no exit code: %r' % res.stdout)

    def test_install_and_uninstall_from_the_stream(self):
        setup = self.make_setup('demo.msi', 1)
        r = harness.run(setup, '/s /v"/qn"', timeout=240)
        self.assertEqual(r.code, 0, r.stdout)
        self.assertTrue(os.path.exists(installed_readme()))
        self.assertEqual(harness.reg_query(DEMO_KEY, 'Version'), '1.0.0')
        r = harness.run(setup, '/s /x /v"/qn"', timeout=240)
        self.assertEqual(r.code, 0, r.stdout)
        self.assertFalse(os.path.exists(installed_readme()))
        self.assertIsNone(harness.reg_query(DEMO_KEY, 'Version'))

    def test_install_from_beside_the_setup_with_odd_properties(self):
        setup = self.make_setup('demo.msi', 0)
        r = harness.run(setup, '/s /v"/qn NAME=\\"a b 100%\\""', timeout=240)
        self.assertEqual(r.code, 0, r.stdout)
        self.assertTrue(os.path.exists(installed_readme()))

    def temp_folders(self):
        temp = harness.windows_temp()
        return {n for n in os.listdir(temp) if n.startswith('{')} if os.path.isdir(temp) else set()

    def assertTempFoldersCleanedUp(self, before):
        ok = harness.wait_until(lambda: not (self.temp_folders() - before), timeout=15)
        self.assertTrue(ok, f'left behind: {self.temp_folders() - before}')

    def test_failing_package_gives_msiexecs_code(self):
        expected = self.msiexec_code('corrupt.msi')
        self.assertNotEqual(expected, 0)
        setup = self.make_setup('corrupt.msi', 1)
        before = self.temp_folders()
        r = harness.run(setup, '/s /v"/qn"', timeout=240)
        self.assertEqual(r.code, expected, r.stdout)
        if full_cleanup():
            self.assertTempFoldersCleanedUp(before)

    def test_missing_package_is_error_1155(self):
        setup = self.make_setup('gone.msi', 4)
        before = self.temp_folders()
        r = harness.run(setup, '/s /v"/qn"', timeout=120)
        self.assertEqual(r.code, 1155, r.stdout)
        if full_cleanup():
            self.assertTempFoldersCleanedUp(before)


if __name__ == '__main__':
    unittest.main()
