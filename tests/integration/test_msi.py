"""The Windows Installer launch end to end: products built with wixl, packed into a
setup with build/native/mksetup, installed, repaired, upgraded and removed through
the launcher and Wine's msiexec. The launcher's exit code must be msiexec's, and
what the launcher composes must reach the package unchanged (props.msi records
QZPROP, QZCMD, AFTERREBOOT and SETUPEXEDIR in the registry)."""
import os
import re
import shutil
import subprocess
import unittest

import harness

MKSETUP = os.path.join(harness.NATIVE, 'mksetup')
BUILD_DEMO = os.path.join(harness.SRC, 'tests', 'data', 'demo', 'build-demo.sh')
PRODUCT = '{6E1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}'
PROPS_PRODUCT = '{7F2D3B4C-5E6F-4071-9B8C-0D1E2F3A4B5C}'
DEMO_KEY = r'HKLM\Software\Brackenwright\Demo'
PROPS_KEY = r'HKLM\Software\Brackenwright\Props'
RUNONCE = r'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'
VERSIONS = {'demo.msi': '1.0.0', 'demo2.msi': '2.0.0', 'props.msi': '1.0.0', 'reboot.msi': '1.0.0'}
LAUNCH_LINE = re.compile(r'Attempting to launch: ([^\r\n]*)')
# The launcher starts the system folder's msiexec by its full path.
MSIEXEC = harness.MSIEXEC

_data = None


def data_folder():
    """The packages, built once for the module."""
    global _data
    if _data is None:
        _data = os.path.join(harness.SCRATCH, 'msi-packages')
        shutil.rmtree(_data, ignore_errors=True)
        subprocess.run([BUILD_DEMO, _data], check=True, timeout=120, capture_output=True)
    return _data


def installed_readme():
    return os.path.join(harness.PREFIX, 'drive_c', 'Program Files', 'Brackenwright Demo', 'readme.txt')


def uninstall_directly():
    for product in (PRODUCT, PROPS_PRODUCT):
        harness.wine('msiexec', '/x', product, '/qn', timeout=120)


def run_msiexec(command):
    """What msiexec itself answers for the command text (Wine's codes differ from Windows')."""
    return run_command(command)


def run_command(command):
    """The exit code of the command text, run as it is (the program named by its Windows path)."""
    env = dict(harness.wine_env(), QZ_RUNEXIT_CMDLINE=command, QZ_RUNEXIT_TIMEOUT_MS='120000')
    res = subprocess.run(['wine', os.path.join(harness.BUILD, 'runexit.exe')], env=env, capture_output=True,
                         timeout=150)
    for line in res.stdout.decode('utf-8', 'replace').splitlines():
        if line.startswith('exit='):
            return int(line[5:].split()[0])
    raise AssertionError('no exit code: %r' % res.stdout)


class MsiTest(harness.WineTest):
    def setUp(self):
        super().setUp()
        self.data = data_folder()
        uninstall_directly()
        self.log = os.path.join(self.dir, 'setup.log')

    def tearDown(self):
        uninstall_directly()

    def package_code(self, package):
        with open(os.path.join(self.data, package[:-4] + '.code')) as f:
            return f.read().strip()

    def make_setup(self, package, package_type=1, startup='', section='', members=(), folder='media'):
        """A setup carrying setup.ini and, for type 1, the package in its stream. The
        settings name the package's own package code and version, as a real setup's do."""
        folder = os.path.join(self.dir, folder)
        os.makedirs(folder, exist_ok=True)
        ini = os.path.join(self.dir, 'setup.ini')
        product = PROPS_PRODUCT if package in ('props.msi', 'reboot.msi') else PRODUCT
        code = self.package_code(package) if package in VERSIONS else ''
        with open(ini, 'w', newline='') as f:
            # The parent waits for its clone, so the exit code is the installation's.
            f.write(f'[Startup]\r\nPackageName={package}\r\nProductCode={product}\r\nPackageCode={code}\r\n'
                    f'ProductVersion={VERSIONS.get(package, "")}\r\nWaitInstallation=Y\r\n{startup}'
                    f'[{package}]\r\nType={package_type}\r\n{section}')
        paths = [ini] + list(members)
        if package_type == 1 and os.path.exists(os.path.join(self.data, package)):
            paths.append(os.path.join(self.data, package))
        elif package_type == 0:
            shutil.copy(os.path.join(self.data, package), folder)
        shutil.copy(ini, os.path.join(folder, 'Setup.INI'))
        setup = os.path.join(folder, 'setup.exe')
        subprocess.run([MKSETUP, 'pack', '-l', os.path.join(harness.BUILD, 'setup.exe'), '-o', setup] + paths,
                       check=True, timeout=60, capture_output=True)
        return setup

    def launch(self, setup, args, timeout=240, env=None):
        """Runs the setup silently with a fresh debug log."""
        if os.path.exists(self.log):
            os.remove(self.log)
        return harness.run(setup, f'/s /debuglog"{harness.winpath(self.log)}" {args}', timeout=timeout, env=env)

    def log_text(self):
        return harness.read_utf16(self.log) if os.path.exists(self.log) else ''

    def msiexec_commands(self):
        return [c for c in LAUNCH_LINE.findall(self.log_text()) if 'MSIEXEC.EXE' in c]

    def registry_report(self, key):
        """What a failed registry check needs: the key as reg.exe lists it and the end of
        the launcher's log."""
        p = harness.wine('reg', 'query', key)
        listing = p.stdout.decode('utf-8', 'replace')
        return f'reg query exit {p.returncode}: {listing[:2000]}\n--- log end ---\n{self.log_text()[-4000:]}'

    def assertTempFoldersCleanedUp(self):
        """Every temporary folder the launchers of the run logged goes. Only those: the
        launchers of tests running beside this one make and remove their own."""
        logged = harness.logged_temp_folders(self.log)
        self.assertTrue(logged, 'no temporary folder logged')

        def left():
            return [p for p in logged if os.path.exists(p)]
        self.assertTrue(harness.wait_for(lambda: not left()), f'left behind: {left()}')


class InstallTest(MsiTest):
    def test_install_and_uninstall_from_the_stream(self):
        setup = self.make_setup('demo.msi', 1)
        r = self.launch(setup, '/v"/qn"')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertTrue(os.path.exists(installed_readme()))
        self.assertEqual(harness.reg_query(DEMO_KEY, 'Version'), '1.0.0')
        r = self.launch(setup, '/x /v"/qn"')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertIn('" /x "', self.msiexec_commands()[-1])
        self.assertFalse(os.path.exists(installed_readme()))
        self.assertIsNone(harness.reg_query(DEMO_KEY, 'Version'))

    def test_properties_from_v_and_from_cmdline_reach_the_package(self):
        # /v wins; without it the settings' CmdLine with the environment expanded.
        setup = self.make_setup('props.msi', 1, startup='CmdLine=/qn QZCMD="%QZ_TEST_CMD% x"\r\n')
        r = self.launch(setup, '/v"/qn QZPROP=given"', env={'QZ_TEST_CMD': 'expanded'})
        self.assertEqual(r.code, 0, r.stdout)
        self.assertEqual(harness.reg_query(PROPS_KEY, 'Prop'), 'given')
        self.assertEqual(harness.reg_query(PROPS_KEY, 'Cmd'), '')
        uninstall_directly()
        r = self.launch(setup, '', env={'QZ_TEST_CMD': 'expanded'})
        self.assertEqual(r.code, 0, r.stdout)
        self.assertEqual(harness.reg_query(PROPS_KEY, 'Cmd'), 'expanded x')
        # A variable that brings a quote would end the value and add a property.
        uninstall_directly()
        r = self.launch(setup, '', env={'QZ_TEST_CMD': 'x" QZPROP="injected'})
        self.assertEqual(r.code, 1153, r.stdout)
        self.assertIn('CmdLine of setup.ini brings a double quote', self.log_text())
        self.assertEqual(self.msiexec_commands(), [])

    def test_secret_properties_reach_the_package_but_not_the_log(self):
        # props.msi lists QZSECRET in MsiHiddenProperties; the other two are secret by
        # their names. Before the package is read (the first lines) every value is hidden.
        setup = self.make_setup('props.msi', 1, startup='CmdLine=/qn QZSECRET=fromini DBPWD=fromini\r\n')
        r = self.launch(setup, '/v"/qn QZSECRET=\\"cmd secret\\" DBPASSWORD=hunter2 QZPROP=visible"')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertEqual(harness.reg_query(PROPS_KEY, 'Secret'), 'cmd secret', self.registry_report(PROPS_KEY))
        self.assertEqual(harness.reg_query(PROPS_KEY, 'Password'), 'hunter2')
        text = self.log_text()
        for secret in ('cmd secret', 'hunter2', 'fromini'):
            self.assertNotIn(secret, text)
        starts = [l for l in text.split('\r\n') if 'started, cmdline: ' in l]
        self.assertEqual(len(starts), 2)
        for line in starts:
            self.assertIn('QZPROP=***"', line)
        self.assertIn(' QZSECRET=*** DBPASSWORD=*** QZPROP=visible ', self.msiexec_commands()[-1])
        self.assertIn('CmdLine=/qn QZSECRET=*** DBPWD=***', text)

    def test_odd_package_path_and_long_values_pass_unchanged(self):
        long_value = 'L' * 9000
        value = f'a b 100% %PATH% ;{long_value}'
        setup = self.make_setup('props.msi', 0, folder='media dir 100% (x)')
        r = self.launch(setup, f'/v"/qn QZPROP=\\"{value}\\""')
        self.assertEqual(r.code, 0, r.stdout)
        command = self.msiexec_commands()[-1]
        package = harness.winpath(os.path.join(os.path.dirname(setup), 'props.msi'))
        self.assertRegex(command, '^' + MSIEXEC + re.escape(f' /i "{package}" /qn QZPROP="{value}" SETUPEXEDIR="'))
        self.assertEqual(harness.reg_query(PROPS_KEY, 'Prop'), value, self.registry_report(PROPS_KEY))

    def test_repair_composes_the_letters(self):
        setup = self.make_setup('demo.msi', 1)
        self.assertEqual(self.launch(setup, '/v"/qn"').code, 0)
        r = self.launch(setup, '/fomus /v"/qn"')
        self.assertRegex(self.msiexec_commands()[-1], '^' + MSIEXEC + r' /fomus "[^"]*demo\.msi" /qn ')
        # Wine's msiexec cannot repair by package path (1605 even for the path it
        # installed from): the launcher must end with whatever msiexec answers.
        shutil.copy(os.path.join(self.data, 'demo.msi'), os.path.join(self.dir, 'direct.msi'))
        expected = run_msiexec(f'"MSIEXEC.EXE" /fomus "{harness.winpath(os.path.join(self.dir, "direct.msi"))}" /qn')
        self.assertEqual(r.code, expected, r.stdout)

    def test_administrative_installation_gives_msiexecs_answer(self):
        direct_target = os.path.join(self.dir, 'direct image')
        shutil.copy(os.path.join(self.data, 'demo.msi'), os.path.join(self.dir, 'demo.msi'))
        expected = run_msiexec(f'"MSIEXEC.EXE" /a "{harness.winpath(os.path.join(self.dir, "demo.msi"))}" /qn '
                               f'TARGETDIR="{harness.winpath(direct_target)}"')
        target = os.path.join(self.dir, 'admin image')
        setup = self.make_setup('demo.msi', 1)
        r = self.launch(setup, f'/a /v"/qn TARGETDIR=\\"{harness.winpath(target)}\\""')
        self.assertEqual(r.code, expected, r.stdout)
        self.assertRegex(self.msiexec_commands()[-1], '^' + MSIEXEC + r' /a "[^"]*demo\.msi" /qn TARGETDIR="')
        self.assertIsNone(harness.reg_query(DEMO_KEY, 'Version'))

    def test_newer_version_is_a_minor_upgrade_and_the_same_one_is_not(self):
        self.assertEqual(self.launch(self.make_setup('demo.msi', 1), '/v"/qn"').code, 0)
        newer = self.make_setup('demo2.msi', 1, folder='v2')
        r = self.launch(newer, '/v"/qn"')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertIn(' /qn REINSTALL=ALL REINSTALLMODE=vomus QZ_MINOR_UPGRADE=1 ', self.msiexec_commands()[-1])
        self.assertEqual(harness.reg_query(DEMO_KEY, 'Version'), '2.0.0')
        # Again: the installed package is this one, so nothing is added and nothing asked.
        r = self.launch(newer, '/v"/qn"')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertNotIn('REINSTALL', self.msiexec_commands()[-1])
        self.assertEqual(len(self.msiexec_commands()), 1)
        self.assertNotIn('asking whether', self.log_text())

    def test_later_installed_version_stops_an_install_but_no_repair_or_uninstall(self):
        self.assertEqual(self.launch(self.make_setup('demo2.msi', 1, folder='v2'), '/v"/qn"').code, 0)
        older = self.make_setup('demo.msi', 1)
        r = self.launch(older, '/v"/qn"')
        # msiexec's own answer for a newer installed version, not a success.
        self.assertEqual(r.code, 1638, r.stdout)
        self.assertIn('Upgrade check: a later version is installed; setup ends with 1638', self.log_text())
        self.assertEqual(self.msiexec_commands(), [])
        self.assertEqual(harness.reg_query(DEMO_KEY, 'Version'), '2.0.0')
        for switch in ('/fomus', '/x'):
            with self.subTest(switch):
                self.launch(older, f'{switch} /v"/qn"')
                commands = self.msiexec_commands()
                self.assertEqual(len(commands), 1, self.log_text()[-3000:])
                command = commands[0]
                self.assertRegex(command, '^' + MSIEXEC + re.escape(f' {switch} "'))
                self.assertNotIn('REINSTALL', command)
                self.assertNotIn('QZ_MINOR_UPGRADE', command)
                self.assertNotIn('Upgrade check', self.log_text())

    def test_launcher_at_a_drive_root_and_an_absolute_package_location(self):
        setup = self.make_setup('props.msi', 0, folder='drive root')
        elsewhere = os.path.join(self.dir, 'elsewhere')
        os.makedirs(elsewhere)
        shutil.move(os.path.join(os.path.dirname(setup), 'props.msi'), elsewhere)
        package = harness.winpath(os.path.join(elsewhere, 'props.msi'))
        dosdevices = os.path.join(harness.PREFIX, 'dosdevices')
        letter = next(d for d in 'rstuvwxy' if not os.path.lexists(os.path.join(dosdevices, d + ':')))
        link = os.path.join(dosdevices, letter + ':')
        os.symlink(os.path.dirname(setup), link)
        try:
            code = run_command(f'"{letter.upper()}:\\setup.exe" /s /debuglog"{harness.winpath(self.log)}" '
                               f'/UM"{package}" /v"/qn QZPROP=x"')
        finally:
            os.remove(link)
        self.assertEqual(code, 0, self.log_text()[-3000:])
        # The location is used as it is, not joined to the launcher's folder.
        self.assertRegex(self.msiexec_commands()[-1], '^' + MSIEXEC + re.escape(f' /i "{package}" /qn QZPROP=x '))
        self.assertEqual(harness.reg_query(PROPS_KEY, 'Prop'), 'x', self.registry_report(PROPS_KEY))
        # The drive root itself, not the current folder of that drive.
        self.assertEqual(harness.reg_query(PROPS_KEY, 'SetupExeDir'), f'{letter.upper()}:\\')

    def test_signature_check_is_asked_for_by_the_setting_file(self):
        # The signer gate reads the stream's Setting.INI, not setup.ini. Asked, it
        # finds this launcher unsigned and lets the package through uncompared.
        setting = os.path.join(self.dir, 'Setting.INI')
        with open(setting, 'w', newline='') as f:
            f.write('[StartUp]\r\nValidateSetupAndMSISignatures=y\r\n')
        for members, startup, asked in (([setting], '', True),
                                        ((), 'ValidateSetupAndMSISignatures=Y\r\n', False)):
            with self.subTest(asked=asked):
                setup = self.make_setup('props.msi', 1, startup=startup, members=members, folder=f'asked {asked}')
                r = self.launch(setup, '/v"/qn"')
                self.assertEqual(r.code, 0, r.stdout)
                self.assertEqual('The launcher carries no valid signature' in self.log_text(), asked)
                self.assertTrue(self.msiexec_commands())
                uninstall_directly()

    def test_language_transform_reaches_msiexec(self):
        transform = os.path.join(self.dir, '1033.MST')
        with open(transform, 'wb') as f:
            f.write(b'not a real transform: Wine cannot make one')
        members = [transform]
        for name in ('0x0409.ini', '0x0407.ini'):
            members.append(os.path.join(self.dir, name))
            with open(members[-1], 'w', newline='') as f:
                f.write('[Properties]\r\nFontName=Tahoma\r\n')
        msi_log = os.path.join(self.dir, 'msiexec.log')
        setup = self.make_setup('props.msi', 1, startup='[Languages]\r\nSupported=1033,1031\r\nDefault=1033\r\n',
                                members=members)
        r = self.launch(setup, f'/l1033 /v"/qn /l*v \\"{harness.winpath(msi_log)}\\" TRANSFORMS=base.mst"')
        command = self.msiexec_commands()[-1]
        merged = re.search(r'TRANSFORMS=base\.mst;(\S*\\1033\.MST)', command)
        self.assertIsNotNone(merged, command)
        # msiexec's own log shows the property as the launcher handed it over.
        with open(msi_log, 'rb') as f:
            text = f.read().decode('utf-8', 'replace')
        self.assertIn(f'TRANSFORMS = base.mst;{merged.group(1)}', text)
        expected = run_msiexec(f'"MSIEXEC.EXE" /i "{harness.winpath(os.path.join(self.data, "props.msi"))}" /qn '
                               f'TRANSFORMS=base.mst;{merged.group(1)}')
        self.assertEqual(r.code, expected, r.stdout)


class FailureTest(MsiTest):
    def test_failing_package_gives_msiexecs_code(self):
        shutil.copy(os.path.join(self.data, 'corrupt.msi'), os.path.join(self.dir, 'direct.msi'))
        expected = run_msiexec(f'"MSIEXEC.EXE" /i "{harness.winpath(os.path.join(self.dir, "direct.msi"))}" /qn')
        self.assertNotEqual(expected, 0)
        setup = self.make_setup('corrupt.msi', 1)
        r = self.launch(setup, '/v"/qn"')
        self.assertEqual(r.code, expected, r.stdout)
        self.assertTempFoldersCleanedUp()

    def test_missing_package_is_error_1155(self):
        for package_type in (4, 1):
            with self.subTest(type=package_type):
                # Type 1: a stream member that is not there.
                setup = self.make_setup('gone.msi', package_type)
                r = self.launch(setup, '/v"/qn"', timeout=120)
                self.assertEqual(r.code, 1155, r.stdout)
                self.assertIn('gone.msi not found', self.log_text())
                self.assertTempFoldersCleanedUp()

    def test_a_restart_request_ends_with_3010_and_no_restart(self):
        setup = self.make_setup('reboot.msi', 1)
        r = self.launch(setup, '/v"/qn QZPROP=x"')
        self.assertEqual(r.code, 3010, r.stdout)
        self.assertEqual(harness.reg_query(PROPS_KEY, 'Prop'), 'x')
        # msiexec asked for the restart itself: the launcher schedules nothing, asks
        # no restart question and restarts nothing.
        self.assertIsNone(harness.reg_query(RUNONCE, 'QZSetup'))
        self.assertNotIn('Restarting the computer', self.log_text())
        self.assertNotIn('MsiAction::Reboot', self.log_text())


class CacheTest(MsiTest):
    def test_switch_caches_and_a_second_run_overwrites_without_asking(self):
        cache = os.path.join(self.dir, 'kept packages')
        setup = self.make_setup('demo.msi', 1)
        r = self.launch(setup, f'/b"{harness.winpath(cache)}" /v"/qn"')
        self.assertEqual(r.code, 0, r.stdout)
        cached = os.path.join(cache, 'demo.msi')
        self.assertTrue(os.path.exists(cached))
        self.assertRegex(self.msiexec_commands()[-1], MSIEXEC + re.escape(f' /i "{harness.winpath(cached)}"'))
        uninstall_directly()
        with open(cached, 'r+b') as f:
            f.seek(0, 2)
            f.write(b'\0')  # a change a fresh copy removes; the package code stays
        size = os.path.getsize(cached)
        r = self.launch(setup, f'/b"{harness.winpath(cache)}" /v"/qn"')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertEqual(os.path.getsize(cached), size - 1)
        self.assertIn('Copying file for cache to', self.log_text())
        self.assertNotIn('asking whether to replace it', self.log_text())
        self.assertTrue(os.path.exists(installed_readme()))

    def test_cache_that_cannot_be_written_stops_with_1610(self):
        blocked = os.path.join(self.dir, 'blocked')
        with open(blocked, 'w') as f:
            f.write('a file where the cache folder should be')
        setup = self.make_setup('demo.msi', 1)
        r = self.launch(setup, f'/b"{harness.winpath(blocked)}" /v"/qn"')
        self.assertEqual(r.code, 1610, r.stdout)
        self.assertIn('Unable to save file: ', self.log_text())
        self.assertFalse(os.path.exists(installed_readme()))
        self.assertTempFoldersCleanedUp()


if __name__ == '__main__':
    unittest.main()
