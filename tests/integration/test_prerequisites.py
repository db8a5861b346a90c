"""Prerequisites end to end: chainsetup packed with .prq descriptions and their
installers (the stand-in program prqprog.exe, a small .msi) installs what is
needed before the product (props.msi), resumes after a restart, hands the pass
to an elevated copy of itself, talks to a host window (prqhook.exe) and stops on
bad files; setup.exe packed with the same members ignores them all.

prqprog.exe records each run under HKCU\\Software\\Brackenwright\\PrqTest (value
NAME holds its command line, NAME.runs counts the runs), so a condition on that
value says whether a prerequisite is needed."""
import hashlib
import os
import re
import shutil
import subprocess
import unittest

import harness
import test_msi
import test_ui

PRODUCT = 'PrqDemo'
MARKS = r'HKCU\Software\Brackenwright\PrqTest'
MARKS_PATH = r'HKEY_CURRENT_USER\Software\Brackenwright\PrqTest'
CURRENT = r'HKCU\Software\Microsoft\Windows\CurrentVersion'
USER_RUNONCE = r'HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce'
RUNONCE_VALUE = '  QZSetupPrerequisistes'
RESUME_VALUE = f'%QZ_PREREQ%-{PRODUCT}'
PRQ_KEY = r'HKLM\Software\Brackenwright\Prq'
PRQ_PRODUCT = '{8A3E4C5D-6F70-4182-AC9D-1E2F3A4B5C6D}'
PRQPROG = os.path.join(harness.BUILD, 'prqprog.exe')
ARTIFACTS = os.path.join(harness.BUILD, 'artifacts')


def missing_mark(name):
    """A condition that holds while prqprog has not recorded NAME."""
    return f'<condition Type="2" Comparison="2" Path="{MARKS_PATH}" FileName="{name}"/>'


def prq(pid, exe, cmdline, conditions='', files=None, behavior='', execute=''):
    """A .prq description; FILES are (LocalFile, URL, CheckSum) and default to the
    execute file alone, carried in the stream."""
    files = files if files is not None else [(exe, '', '')]
    parts = [f'<properties Id="{pid}"/>']
    parts += [f'<file LocalFile="{f}" URL="{u}" CheckSum="{c}"/>' for f, u, c in files]
    parts.append(conditions)
    parts.append(f'<execute file="{exe}" cmdline="{cmdline}" cmdlinesilent="{cmdline}" {execute}/>')
    if behavior:
        parts.append(f'<behavior {behavior}/>')
    return '<?xml version="1.0" encoding="utf-8"?>\n<SetupPrereq>' + ''.join(parts) + '</SetupPrereq>'


def md5(path):
    with open(path, 'rb') as f:
        return hashlib.md5(f.read()).hexdigest()


def value(key, name):
    """The data of one value, or None; unlike harness.reg_query the name may have
    blanks around it."""
    p = harness.wine('reg', 'query', key, '/v', name)
    if p.returncode != 0:
        return None
    for line in p.stdout.decode('utf-8', 'replace').splitlines():
        m = re.match(r'^ {4}(.*?) {4}REG_\w+(?: {4}(.*))?$', line)
        if m and m.group(1) == name:
            return m.group(2) or ''
    return None


def run_text(text):
    """Runs a command text as it is (the resume entry) and returns its exit code."""
    return test_msi.run_command(text)


class PrerequisiteTest(test_msi.MsiTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # prq.msi's product code is cancel.msi's too: a product left by a stopped run
        # would change what the prerequisite pass finds.
        harness.wine('msiexec', '/x', PRQ_PRODUCT, '/qn', timeout=120)

    def setUp(self):
        super().setUp()
        self.clean_registry()

    def tearDown(self):
        self.clean_registry()
        harness.wine('msiexec', '/x', PRQ_PRODUCT, '/qn', timeout=120)
        super().tearDown()

    def clean_registry(self):
        harness.reg_delete(MARKS)
        harness.reg_delete(CURRENT, RESUME_VALUE)
        harness.reg_delete(USER_RUNONCE, RUNONCE_VALUE)

    def runs(self, name):
        v = harness.reg_query(MARKS, name + '.runs')
        return int(v, 16) if v else 0

    def chain(self, prereqs, members=None, launcher='chainsetup.exe', wait='Y', name='setup.exe', section='',
              package='props.msi', product=test_msi.PROPS_PRODUCT):
        """A setup for PACKAGE (props.msi) listing PREREQS ({.prq name: text, or None
        for one that is listed but not carried}) in order, with MEMBERS ({member name:
        source file or bytes}) in its stream."""
        ini = (f'[Startup]\r\nProduct={PRODUCT}\r\nPackageName={package}\r\n'
               f'ProductCode={product}\r\nPackageCode={self.package_code(package)}\r\n'
               f'ProductVersion=1.0.0\r\nWaitInstallation={wait}\r\nCmdLine=/qn QZPROP=after\r\n'
               f'[{package}]\r\nType=1\r\n[QZSetupPrerequisites]\r\n')
        ini += ''.join(f'PreReq{i}={n}\r\n' for i, n in enumerate(prereqs)) + section
        content = {'Setup.INI': ini}
        content.update({n: text for n, text in prereqs.items() if text is not None})
        for member, source in (members or {}).items():
            if isinstance(source, bytes):
                content[member] = source
            else:
                with open(source, 'rb') as f:
                    content[member] = f.read()
        with open(os.path.join(self.data, package), 'rb') as f:
            content[package] = f.read()
        out = os.path.join(self.dir, 'media', name)
        p = harness.pack_members(os.path.join(harness.BUILD, launcher), out, content, self.dir)
        self.assertEqual(p.returncode, 0, p.stderr)
        return out

    def assertInstalled(self, installed=True):
        self.assertEqual(harness.reg_query(test_msi.PROPS_KEY, 'Prop'), 'after' if installed else None,
                         self.log_text()[-3000:])

    def assertNoResumeState(self):
        self.assertIsNone(value(CURRENT, RESUME_VALUE))
        self.assertIsNone(value(USER_RUNONCE, RUNONCE_VALUE))


class InstallTest(PrerequisiteTest):
    def test_needed_prerequisite_runs_before_the_product_and_setup_ignores_it(self):
        prereqs = {
            'tool.prq': prq('Tool', 'prqprog.exe', 'mark=Tool dir=[QZPREREQDIR] exe=[SETUPEXENAME]',
                            missing_mark('Tool')),
            'done.prq': prq('Done', 'prqprog.exe', 'mark=Done', missing_mark('Present')),
        }
        members = {'Tool.prqprog.exe': PRQPROG, 'Done.prqprog.exe': PRQPROG}
        harness.reg_add(MARKS, 'Present', 'yes')
        setup = self.chain(prereqs, members)
        r = self.launch(setup, '')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertInstalled()
        self.assertEqual(self.runs('Tool'), 1)
        self.assertEqual(self.runs('Done'), 0)  # its condition already held
        command = harness.reg_query(MARKS, 'Tool')
        self.assertRegex(command, r'dir=[A-Z]:\\.*\\\{[^\\]*\}\\Tool\\ exe=setup\.exe$')
        log = self.log_text()
        self.assertLess(log.index('Attempting to execute prerequisite'), log.index('MSIEXEC.EXE'))
        self.assertIn("Skipping prerequisite 'done.prq' because it was installed before the reboot", log)
        self.assertNoResumeState()
        self.assertTempFoldersCleanedUp()

        # The launcher without prerequisites, packed with the same members.
        test_msi.uninstall_directly()
        harness.reg_delete(MARKS, 'Tool')
        plain = self.chain(prereqs, members, launcher='setup.exe', name='plain.exe')
        r = self.launch(plain, '')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertInstalled()
        self.assertEqual(self.runs('Tool'), 1)
        self.assertNotIn('Running setup prerequisites', self.log_text())

    def test_files_from_a_path_are_checked_and_a_wrong_checksum_stops_setup(self):
        source = os.path.join(self.dir, 'source')
        os.makedirs(source)
        shutil.copy(PRQPROG, os.path.join(source, 'prqprog.exe'))
        url = harness.winpath(os.path.join(source, 'prqprog.exe'))
        good, bad = md5(PRQPROG), '0' * 32
        prereqs = {
            'good.prq': prq('Good', 'prqprog.exe', 'mark=Good', missing_mark('Good'),
                            files=[('prqprog.exe', url, good)]),
            'bad.prq': prq('Bad', 'prqprog.exe', 'mark=Bad', missing_mark('Bad'), files=[('prqprog.exe', url, bad)]),
        }
        setup = self.chain(prereqs)
        r = self.launch(setup, '')
        self.assertEqual(r.code, 1655, r.stdout)
        self.assertEqual(self.runs('Good'), 1)  # a lowercase CheckSum matches
        self.assertEqual(self.runs('Bad'), 0)
        self.assertInstalled(False)
        self.assertIn('Checksum mismatch for', self.log_text())
        self.assertNoResumeState()
        self.assertTempFoldersCleanedUp()

    def test_msi_prerequisite_installs_in_process_with_its_options(self):
        prereqs = {
            'prq.prq': prq('Msi', 'prq.msi', '/l*v [QZPREREQDIR]prq.log /qn PRQPROP=[SETUPEXENAME]',
                           f'<condition Type="2" Comparison="2" Path="HKEY_LOCAL_MACHINE\\Software\\Brackenwright\\Prq"'
                           f' FileName="Installed"/>', behavior='MsiProgress="1"'),
        }
        setup = self.chain(prereqs, {'Msi.prq.msi': os.path.join(self.data, 'prq.msi')})
        r = self.launch(setup, '')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertEqual(harness.reg_query(PRQ_KEY, 'Installed'), 'setup.exe')
        self.assertInstalled()
        log = self.log_text()
        self.assertIn('Launching MSI prerequisite prq.msi', log)
        self.assertIn('Return Code from EXE: 0', log)

    def test_app_package_and_package_manager_prerequisites(self):
        # The helper is carried in the stream; the client is where Windows keeps it,
        # and on the search path as it is there.
        local = harness.wine('cmd', '/c', 'echo %LOCALAPPDATA%').stdout.decode('utf-8', 'replace').strip()
        apps = os.path.join(harness.unixpath(local), 'Microsoft', 'WindowsApps')
        os.makedirs(apps, exist_ok=True)
        client = os.path.join(apps, 'winget.exe')
        shutil.copy(os.path.join(harness.BUILD, 'winget.exe'), client)
        self.addCleanup(lambda: shutil.rmtree(apps, ignore_errors=True))
        package = 'Vendor.Tool.msix'
        prereqs = {
            'app.prq': prq('App', package, '', '<condition Type="64" Path="CN=Vendor" FileName="Vendor.Tool"/>'),
            'cli.prq': '<SetupPrereq><wpmpackage InstallWPMPackage="1" name="Vendor.Cli" versiontype="1" '
                       'specificversion="2.0" parameters="--scope machine"/></SetupPrereq>',
        }
        setup = self.chain(prereqs, {'App.' + package: b'package', 'PkgDeployHost.exe':
                                     os.path.join(harness.BUILD, 'PkgDeployHost.exe')},
                           section='PreReqAppPackage0=yes\r\nPreReqWPMPackage1=WPM\r\n')
        r = self.launch(setup, '', env={'WINEPATH': harness.winpath(apps)})
        # A failed install would leave the package's condition standing and stop setup.
        self.assertEqual(r.code, 0, r.stdout)
        self.assertInstalled()
        log = self.log_text()
        self.assertRegex(log, r'Creating new process for App package, launching command line [^\r\n]*\\App\\'
                              r'Vendor\.Tool\.msix  -prqmsix:install -QZ_temp -pkgname:"[^"]*\\App\\Vendor\.Tool\.msix"')
        self.assertIn('install --id Vendor.Cli --exact --version 2.0 --scope machine --silent',
                      harness.read_utf16(os.path.join(apps, 'winget.log')))

    def test_bad_input_leaves_no_crash_and_nothing_behind(self):
        # A resume index nobody could have written skips nothing; a member missing
        # from the stream skips its prerequisite; programs that crash, end with odd
        # codes or remove their own folder only leave their conditions to decide.
        harness.reg_add(CURRENT, RESUME_VALUE, '2x')
        # Wine's crash dialog would wait for a click that never comes.
        crash_dialog = harness.reg_value(r'HKCU\Software\Wine\WineDbg', 'ShowCrashDialog', 0, 'REG_DWORD')
        crash_dialog.__enter__()
        self.addCleanup(crash_dialog.__exit__, None, None, None)
        carry_on = 'Failure="3"'
        prereqs = {
            'missing.prq': None,
            'crash.prq': prq('Crash', 'prqprog.exe', 'mark=Crash crash', missing_mark('Never'), behavior=carry_on),
            'odd.prq': prq('Odd', 'prqprog.exe', 'mark=Odd rmself exit=-559038737', missing_mark('Never'),
                           behavior=carry_on, execute='returncodetoreboot="x,,1"'),
        }
        members = {'Crash.prqprog.exe': PRQPROG, 'Odd.prqprog.exe': PRQPROG}
        setup = self.chain(prereqs, members)
        r = self.launch(setup, '')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertInstalled()
        self.assertEqual((self.runs('Crash'), self.runs('Odd')), (1, 1))
        log = self.log_text()
        self.assertIn("Extraction of 'missing.prq' failed", log)
        self.assertIn('Return Code from EXE: -559038737', log)
        self.assertNoResumeState()
        self.assertTempFoldersCleanedUp()

        # An index beyond the list: everything counts as installed before the restart.
        test_msi.uninstall_directly()
        harness.reg_delete(MARKS)
        harness.reg_add(CURRENT, RESUME_VALUE, '99')
        r = self.launch(setup, '')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertInstalled()
        self.assertEqual((self.runs('Crash'), self.runs('Odd')), (0, 0))
        self.assertNoResumeState()


class RestartTest(PrerequisiteTest):
    def test_restart_exit_code_ends_setup_and_the_resumed_run_finishes(self):
        prereqs = {
            'first.prq': prq('First', 'prqprog.exe', 'mark=First exit=3010', missing_mark('Never'),
                             execute='returncodetoreboot="3010"'),
            'second.prq': prq('Second', 'prqprog.exe', 'mark=Second', missing_mark('Second')),
        }
        setup = self.chain(prereqs, {'First.prqprog.exe': PRQPROG, 'Second.prqprog.exe': PRQPROG})
        r = self.launch(setup, '')
        self.assertEqual(r.code, 3010, r.stdout)
        self.assertEqual((self.runs('First'), self.runs('Second')), (1, 0))
        self.assertInstalled(False)
        self.assertEqual(value(CURRENT, RESUME_VALUE), '0')
        command = value(USER_RUNONCE, RUNONCE_VALUE)
        self.assertTrue(command.startswith(f'"{harness.winpath(setup)}"'), command)
        self.assertIn('/s', command)

        # Wine's restart runs only the machine's RunOnce entries; the user's entry
        # is what the logon runs, so the test runs (and removes) it as the logon would.
        harness.wine('wineboot', '-r', timeout=120)
        harness.reg_delete(USER_RUNONCE, RUNONCE_VALUE)
        os.remove(self.log)
        self.assertEqual(run_text(command), 0)
        self.assertInstalled()
        # The first prerequisite still calls for itself, but it ran before the restart.
        self.assertEqual((self.runs('First'), self.runs('Second')), (1, 1))
        self.assertIn("Skipping prerequisite 'first.prq' because it was installed before the reboot", self.log_text())
        self.assertNoResumeState()


class HostTest(PrerequisiteTest):
    def test_host_window_gets_the_prerequisite_traffic(self):
        prereqs = {'tool.prq': prq('Tool', 'prqprog.exe', 'mark=Tool host=[HOSTNAME] dir=[QZPREREQDIR]',
                                   missing_mark('Tool'))}
        setup = self.chain(prereqs, {'Tool.prqprog.exe': PRQPROG})
        host_log = os.path.join(self.dir, 'host.log')
        r = harness.run(os.path.join(harness.BUILD, 'prqhook.exe'),
                        f'{{PrqHost}} "{harness.winpath(host_log)}" "{harness.winpath(setup)}" /s /embed{{PrqHost}} '
                        f'/debuglog"{harness.winpath(self.log)}"', timeout=240)
        self.assertEqual(r.code, 0, r.stdout)
        self.assertInstalled()
        command = harness.reg_query(MARKS, 'Tool')
        self.assertRegex(command, r'host=prqhook dir=[A-Z]:\\.*\\Tool\\$')
        with open(host_log, encoding='utf-8') as f:
            lines = f.read().splitlines()
        define = lines.index('command=8')
        self.assertEqual(lines[define - 2], 'text=QZPREREQDIR')
        self.assertEqual(lines[lines.index('command=7') - 1], 'text=mark=Tool host=[HOSTNAME] dir=[QZPREREQDIR]')
        self.assertIn('text=Installing tool', lines)
        self.assertIn('range=1,2', lines)
        self.assertIn('command=5', lines)
        self.assertLess(lines.index('command=2'), lines.index('command=5'))


@unittest.skipUnless(os.environ.get('DISPLAY'), 'needs a display (run under xvfb-run)')
class ElevationTest(PrerequisiteTest):
    def test_elevated_pass_returns_its_result_to_the_first_launcher(self):
        # Not silent (a silent run cannot ask for elevation) and every prerequisite
        # hidden, so no dialog waits for a click.
        hidden = 'Hidden="1"'
        prereqs = {'tool.prq': prq('Tool', 'prqprog.exe', 'mark=Tool', missing_mark('Tool'), behavior=hidden)}
        setup = self.chain(prereqs, {'Tool.prqprog.exe': PRQPROG})
        env = {'QZ_TEST_LIMITED_USER': '1'}
        if os.path.exists(self.log):
            os.remove(self.log)
        r = harness.run(setup, f'/debuglog"{harness.winpath(self.log)}" /p"pass word"', timeout=240, env=env)
        self.assertEqual(r.code, 0, r.stdout)
        self.assertInstalled()
        self.assertEqual(self.runs('Tool'), 1)
        log = self.log_text()
        # The elevated copy gets the password, the log does not.
        launch = re.search(r'launching elevated with arguments: (.*)', log).group(1)
        self.assertIn('/runprerequisites""', launch)
        self.assertIn('/p***', launch)
        self.assertNotIn('pass word', launch)
        self.assertIn('The elevated prerequisite pass returned 0', log)
        self.assertNoResumeState()

        # A restart the elevated pass asks for (7003) ends the first launcher with 7002.
        test_msi.uninstall_directly()
        harness.reg_delete(MARKS)
        prereqs = {'tool.prq': prq('Tool', 'prqprog.exe', 'mark=Tool exit=5', missing_mark('Tool'),
                                   behavior=hidden + ' Reboot="16"', execute='returncodetoreboot="5"')}
        setup = self.chain(prereqs, {'Tool.prqprog.exe': PRQPROG}, wait='N', name='r.exe')
        os.remove(self.log)
        # Without a waiting parent nobody restarts the prefix; the clone's log says how it ended.
        r = harness.run(setup, f'/debuglog"{harness.winpath(self.log)}"', timeout=60, env=env)
        self.assertEqual(r.code, 0, r.stdout)
        self.assertTrue(harness.wait_for(lambda: 'Setup returning 7002' in self.log_text(), timeout=120),
                        self.log_text()[-3000:])
        self.assertIn('The elevated prerequisite pass returned 7003', self.log_text())
        self.assertInstalled(False)
        self.assertEqual(value(CURRENT, RESUME_VALUE), '0')


FEATURES_PRODUCT = '{9B4F5D6E-7081-4293-BDAE-2F3A4B5C6D7E}'
FEATURES_KEY = r'HKLM\Software\Brackenwright\Features'


class FeatureTest(PrerequisiteTest):
    """features.msi installs Core and Help by default and Docs only when asked for."""

    def tearDown(self):
        harness.wine('msiexec', '/x', FEATURES_PRODUCT, '/qn', timeout=120)
        super().tearDown()

    def features(self):
        return tuple(harness.reg_query(FEATURES_KEY, f) for f in ('Core', 'Docs', 'Help'))

    def test_prerequisite_of_a_feature_runs_before_the_product_only_when_the_feature_is_installed(self):
        def setup(prereq, name):
            return self.chain({'help.prq': prereq}, {'Help.prqprog.exe': PRQPROG}, name=name,
                              section='PreReqFeatures0=Help\r\n', package='features.msi', product=FEATURES_PRODUCT)

        # A silent run with the package's default features: its command line is
        # formatted by the costed package, which has the run's properties.
        help_prq = prq('Help', 'prqprog.exe', 'mark=Help product=[ProductName] prop=[QZPROP]', missing_mark('Help'))
        r = self.launch(setup(help_prq, 'setup.exe'), '')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertEqual(self.features(), ('after', None, '1'), self.log_text()[-3000:])
        self.assertEqual(self.runs('Help'), 1)
        self.assertTrue(harness.reg_query(MARKS, 'Help').endswith(
            r'\Help\prqprog.exe" mark=Help product=Brackenwright Features prop=after'), harness.reg_query(MARKS, 'Help'))
        log = self.log_text()
        self.assertIn("Features do not match for prerequisite 'help.prq'", log)  # not in the pass before
        self.assertIn('Installing silent prerequisites for features: Core,Help', log)
        self.assertLess(log.index('Attempting to execute prerequisite'), log.index('MSIEXEC.EXE'))
        self.assertNoResumeState()

        # Help removed: its prerequisite is not needed.
        harness.wine('msiexec', '/x', FEATURES_PRODUCT, '/qn', timeout=120)
        harness.reg_delete(MARKS)
        r = self.launch(setup(help_prq, 'setup.exe'), '/v"/qn ADDLOCAL=ALL REMOVE=Help QZPROP=all"')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertEqual(self.features(), ('all', '1', None), self.log_text()[-3000:])
        self.assertEqual(self.runs('Help'), 0)
        self.assertIn('Installing silent prerequisites for features: Core,Docs', self.log_text())

        # One that asks for a restart stops setup before the product with 3010, ready
        # to resume after the restart.
        harness.wine('msiexec', '/x', FEATURES_PRODUCT, '/qn', timeout=120)
        restart = prq('Help', 'prqprog.exe', 'mark=Help exit=3010', missing_mark('Never'),
                      execute='returncodetoreboot="3010"')
        r = self.launch(setup(restart, 'restart.exe'), '')
        self.assertEqual(r.code, 3010, r.stdout)
        self.assertEqual(self.runs('Help'), 1)
        self.assertEqual(self.features(), (None, None, None))
        self.assertEqual(value(CURRENT, RESUME_VALUE), '0')
        self.assertIsNotNone(value(USER_RUNONCE, RUNONCE_VALUE))


class DownloadTest(PrerequisiteTest):
    def test_stream_and_http_prerequisites_both_run(self):
        served = os.path.join(self.dir, 'served')
        os.makedirs(served)
        shutil.copy(PRQPROG, os.path.join(served, 'prqprog.exe'))
        # Unbuffered: the port line must reach the pipe before the server waits.
        server = subprocess.Popen(['/usr/bin/python3', '-u', '-m', 'http.server', '0', '--bind', '127.0.0.1'],
                                  cwd=served, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            line = server.stdout.readline().decode()
            port = re.search(r'port (\d+)', line).group(1)
            url = f'http://127.0.0.1:{port}/prqprog.exe'
            prereqs = {
                'carried.prq': prq('Carried', 'prqprog.exe', 'mark=Carried', missing_mark('Carried')),
                'fetched.prq': prq('Fetched', 'prqprog.exe', 'mark=Fetched', missing_mark('Fetched'),
                                   files=[('prqprog.exe', url, md5(PRQPROG).upper())]),
            }
            setup = self.chain(prereqs, {'Carried.prqprog.exe': PRQPROG})
            r = self.launch(setup, '')
        finally:
            server.kill()
            server.wait(timeout=10)
        self.assertEqual(r.code, 0, r.stdout)
        self.assertEqual((self.runs('Carried'), self.runs('Fetched')), (1, 1))
        self.assertInstalled()


@unittest.skipUnless(os.environ.get('DISPLAY'), 'needs a display (run under xvfb-run)')
class DialogTest(test_ui.WindowProbe, PrerequisiteTest):
    def setUp(self):
        super().setUp()
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.procs, self.servers = [], []

    def tearDown(self):
        # First the servers: a launcher stuck on a held download gets its end of data.
        for server in self.servers:
            server.kill()
            server.wait(timeout=10)
        self.end_windows(self.procs, [self.log])
        super().tearDown()

    def rows(self, window):
        rc, out = self.probe('items', window.hwnd, 1035)
        return re.findall(r'^item row=\d+ text0=(.*) text1=(.*?)\r?$', out, re.M)

    def wait_rows(self, window, expected):
        ok = harness.wait_for(lambda: self.rows(window) == expected)
        self.assertTrue(ok, f'{self.rows(window)} != {expected}')

    def serve_held(self, name, data, release):
        """Serves DATA as NAME from a server that stops in its middle until RELEASE exists; its URL."""
        served = os.path.join(self.dir, 'served')
        os.makedirs(served)
        with open(os.path.join(served, name), 'wb') as f:
            f.write(data)
        server = subprocess.Popen(['/usr/bin/python3', '-u', os.path.join(os.path.dirname(__file__), 'webserver.py'),
                                   '--root', served, '--log', os.path.join(self.dir, 'server.log'), '--limit', '300',
                                   '--hold', '/' + name, '--release', release], stdout=subprocess.PIPE)
        self.servers.append(server)
        line = server.stdout.readline().decode()
        self.assertTrue(line.startswith('port='), line)
        return f'http://127.0.0.1:{line.strip()[5:]}/{name}'

    def test_dialog_lists_visible_prerequisites_with_their_status(self):
        flag, release, held = (os.path.join(self.dir, n) for n in ('go', 'release', 'held'))
        # Padding after the image runs as well and gives the download several blocks.
        with open(PRQPROG, 'rb') as f:
            fetched = f.read() + bytes(4 << 20)
        url = self.serve_held('prqprog.exe', fetched, release)
        prereqs = {
            # Hidden program window: the screenshots show the dialog alone.
            'runtime.prq': prq('Runtime', 'prqprog.exe', f'mark=Runtime wait={harness.winpath(flag)}',
                               missing_mark('Runtime'), execute='forcesilent="1"'),
            'helper.prq': prq('Helper', 'prqprog.exe', 'mark=Helper', missing_mark('Helper'), behavior='Hidden="1"'),
            'fetched.prq': prq('Fetched', 'prqprog.exe', 'mark=Fetched', missing_mark('Fetched'),
                               files=[('prqprog.exe', url, hashlib.md5(fetched).hexdigest())],
                               execute='forcesilent="1"'),
            # The installer runs prqprog in its middle, waiting for HELD.
            'package.prq': prq('Package', 'prq.msi', f'/qn PRQPROP=held PRQHOLD=&quot;{harness.winpath(PRQPROG)}&quot; '
                               f'PRQHOLDARGS=&quot;mark=Held wait={harness.winpath(held)}&quot;',
                               behavior='MsiProgress="1"'),
            'driver.prq': prq('Driver', 'prqprog.exe', 'mark=Driver', missing_mark('Never')),
        }
        members = {f'{n}.prqprog.exe': PRQPROG for n in ('Runtime', 'Helper', 'Driver')}
        members['Package.prq.msi'] = os.path.join(self.data, 'prq.msi')
        setup = self.chain(prereqs, members)
        p = harness.start_runexit(f'"{harness.winpath(setup)}" /debuglog"{harness.winpath(self.log)}"', 240)
        self.procs.append(p)

        dialog = self.window_with('requires the following items', 1006, '1+')
        self.assertEqual(dialog.text(1006), f'{PRODUCT} requires the following items to be installed on your '
                                             'computer. Click Install to begin installing these requirements.')
        # The hidden prerequisite is never listed.
        self.wait_rows(dialog, [('Pending', 'runtime'), ('Pending', 'fetched'), ('Pending', 'package'),
                                ('Pending', 'driver')])
        self.assertTrue(dialog.enabled(1))
        self.screenshot(dialog, 'prerequisites-list')

        self.probe('click', dialog.hwnd, 1)
        self.wait_rows(dialog, [('Installing', 'runtime'), ('Pending', 'fetched'), ('Pending', 'package'),
                                ('Pending', 'driver')])
        running = self.read_when(dialog, lambda now: now.text(1003) == 'Installing runtime' and not now.enabled(1))
        self.screenshot(running, 'prerequisites-running')  # the marquee while a program runs

        # The download stands in its middle until released: bar and transfer texts show it.
        with open(flag, 'w'):
            pass
        self.wait_rows(dialog, [('Succeeded', 'runtime'), ('Downloading', 'fetched'), ('Pending', 'package'),
                                ('Pending', 'driver')])
        loading = self.read_when(dialog, lambda now: now.text(1003) == 'Downloading: prqprog.exe' and
                                 now.children[301]['visible'] and 0 < now.children[301]['pos'] < 100 and
                                 now.children[1004]['visible'] and now.text(1004) != '')
        self.screenshot(loading, 'prerequisites-download')
        with open(release, 'w'):
            pass

        # The installer's own progress: its action texts replace the dialog's.
        self.wait_rows(dialog, [('Succeeded', 'runtime'), ('Succeeded', 'fetched'), ('Installing', 'package'),
                                ('Pending', 'driver')])
        installing = self.read_when(dialog, lambda now: self.runs('Held') == 1 and
                                    now.text(1003) == 'Holding the installation' and now.children[301]['visible'])
        self.screenshot(installing, 'prerequisites-installer-progress')
        with open(held, 'w'):
            pass

        question = self.window_with('appears to have failed', 7)
        self.wait_rows(dialog, [('Succeeded', 'runtime'), ('Succeeded', 'fetched'), ('Succeeded', 'package'),
                                ('Failed', 'driver')])
        self.screenshot(dialog, 'prerequisites-failure')
        self.screenshot(question, 'prerequisites-failure-question')
        self.probe('click', question.hwnd, 7)  # No: setup stops

        code = int(re.search(r'exit=(\d+)', harness.runexit_output(p, 270)).group(1))
        self.assertEqual(code, 1667)
        self.assertEqual([self.runs(n) for n in ('Runtime', 'Helper', 'Fetched', 'Held', 'Driver')], [1, 1, 1, 1, 1])
        self.assertEqual(harness.reg_query(PRQ_KEY, 'Installed'), 'held')
        self.assertInstalled(False)


if __name__ == '__main__':
    unittest.main()
