"""Setups that fetch their package and cabinet from the web: packed with mksetup,
run under Wine against a server this test starts on 127.0.0.1 (webserver.py, which
can cut, slow or strip a response), installed by Wine's msiexec. What counts: the
installed file is the one served, faults fail with a numbered error and hand
nothing to msiexec, and the temporary folder goes."""
import os
import re
import shutil
import subprocess
import unittest

import harness
import test_trust
import test_ui

BUILD_WEB = os.path.join(harness.SRC, 'tests', 'data', 'web', 'build-web.sh')
SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'webserver.py')
PRODUCT = '{3C4D5E6F-7081-4293-A4B5-C6D7E8F9A0B1}'
LAUNCH_LINE = re.compile(r'Attempting to launch: ([^\r\n]*)')
CAPTION = 'Web Demo - Brackenwright Wizard'

_data = None


def web_data():
    global _data
    if _data is None:
        _data = os.path.join(harness.SCRATCH, 'web-packages')
        shutil.rmtree(_data, ignore_errors=True)
        subprocess.run([BUILD_WEB, _data], check=True, timeout=120, capture_output=True)
    return _data


def installed_payload():
    return os.path.join(harness.PREFIX, 'drive_c', 'Program Files', 'Brackenwright Web Demo', 'payload.bin')


def uninstall():
    harness.wine('msiexec', '/x', PRODUCT, '/qn', timeout=120)


class WebSetupCase(harness.WineTest):
    def setUp(self):
        super().setUp()
        self.data = web_data()
        self.log = os.path.join(self.dir, 'setup.log')
        self.servers = []
        uninstall()

    def tearDown(self):
        for p in self.servers:
            p.kill()
            p.wait(timeout=10)
        uninstall()

    def serve(self, *faults):
        """Starts webserver.py on the web data; its base address."""
        self.server_log = os.path.join(self.dir, f'server{len(self.servers)}.log')
        p = subprocess.Popen(['python3', '-u', SERVER, '--root', self.data, '--log', self.server_log,
                              '--limit', '300'] + list(faults), stdout=subprocess.PIPE)
        self.servers.append(p)
        line = p.stdout.readline().decode()
        self.assertTrue(line.startswith('port='), line)
        return f'http://127.0.0.1:{line.strip()[5:]}'

    def requests(self):
        if not os.path.exists(self.server_log):
            return []
        with open(self.server_log) as f:
            return f.read().splitlines()

    def make_setup(self, section, type_=2, folder='media', members=None):
        with open(os.path.join(self.data, 'web.code')) as f:
            code = f.read().strip()
        ini = (f'[Startup]\r\nProduct=Web Demo\r\nPackageName=web.msi\r\nProductCode={PRODUCT}\r\n'
               f'PackageCode={code}\r\nProductVersion=1.0.0\r\nWaitInstallation=Y\r\n'
               f'[Languages]\r\nDefault=1033\r\nSupported=1033\r\n'
               f'[web.msi]\r\nType={type_}\r\n{section}')
        out = os.path.join(self.dir, folder, 'setup.exe')
        p = harness.pack_members(os.path.join(harness.BUILD, 'setup.exe'), out,
                                 dict({'Setup.INI': ini, '0x0409.ini': '[0x0409]\r\n'}, **(members or {})), self.dir)
        self.assertEqual(p.returncode, 0, p.stderr)
        return out

    def launch(self, setup, args='/v"/qn"'):
        if os.path.exists(self.log):
            os.remove(self.log)
        return harness.run(setup, f'/s /debuglog"{harness.winpath(self.log)}" {args}', timeout=240)

    def log_text(self):
        return harness.read_utf16(self.log) if os.path.exists(self.log) else ''

    def msiexec_commands(self):
        return [c for c in LAUNCH_LINE.findall(self.log_text()) if 'MSIEXEC.EXE' in c]

    def temp_folders(self):
        temp = harness.windows_temp()
        return {n for n in os.listdir(temp) if n.startswith('{')} if os.path.isdir(temp) else set()

    def assertTempFoldersCleanedUp(self, before):
        ok = harness.wait_for(lambda: not (self.temp_folders() - before))
        self.assertTrue(ok, f'left behind: {self.temp_folders() - before}')


class DownloadTest(WebSetupCase):
    def test_package_and_cabinet_install_and_a_cut_transfer_resumes(self):
        base = self.serve('--cut', '/data1.cab')
        size = os.path.getsize(os.path.join(self.data, 'data1.cab'))
        setup = self.make_setup(f'Location={base}/web.msi\r\nCab0={base}/data1.cab\r\nCabsSize=0;{size}\r\n')
        before = self.temp_folders()
        r = self.launch(setup)
        self.assertEqual(r.code, 0, self.log_text()[-3000:])
        with open(installed_payload(), 'rb') as a, open(os.path.join(self.data, 'payload.bin'), 'rb') as b:
            self.assertTrue(a.read() == b.read(), 'the installed file differs from the served one')
        requests = self.requests()
        self.assertIn('/web.msi range=-', requests)
        self.assertIn('/data1.cab range=-', requests)
        self.assertTrue(any(re.fullmatch(r'/data1\.cab range=bytes=[1-9]\d*-', l) for l in requests), requests)
        text = self.log_text()
        self.assertIn(f'DownloadFiles: downloading {base}/web.msi', text)
        self.assertIn(f'DownloadFiles: downloading {base}/data1.cab', text)
        self.assertEqual(len(self.msiexec_commands()), 1)
        self.assertTempFoldersCleanedUp(before)

    def test_faults_fail_before_msiexec(self):
        rows = [
            # (what, server faults, settings section, exit code, log text)
            ('missing', (), 'Location={base}/missing.msi\r\n', 1614,
             'DownloadFiles: An error occurred while downloading the file {base}/missing.msi.'),
            ('password', (), 'Location=http://user:hunter2@{host}/missing.msi\r\n', 1614, 'http://user:***@'),
            ('no length', ('--nolength', '/web.msi'), 'Location={base}/web.msi\r\n', 1614,
             'The server gives no size for'),
            ('device name', (), 'Location={base}/dl/NUL\r\n', 1614, 'names no file that can be written'),
            ('folder only', (), 'Location={base}/dl/..\r\n', 1614, 'names no file that can be written'),
            # Names the launcher keeps for its own files in the temporary folder.
            ('deletion list', (), 'Location={base}/web.msi\r\nCab0={base}/dl/_qzmsidel.ini\r\n', 1614,
             'The address {base}/dl/_qzmsidel.ini names no file that can be written'),
            ('launcher copy', (), 'Location={base}/dl/SETUP.EXE\r\n', 1614, 'names no file that can be written'),
            ('no room', (), 'Location={base}/web.msi\r\nCab0={base}/data1.cab\r\nCabsSize=4294967295;0\r\n', 1201,
             '1201: Setup needs 18014398505287680 KB free disk space in C:.'),
        ]
        for what, faults, section, code, expected in rows:
            with self.subTest(what):
                base = self.serve(*faults)
                host = base[len('http://'):]
                setup = self.make_setup(section.format(base=base, host=host), folder=what)
                before = self.temp_folders()
                r = self.launch(setup)
                self.assertEqual(r.code, code, self.log_text()[-3000:])
                self.assertIn(expected.format(base=base), self.log_text())
                self.assertNotIn('hunter2', self.log_text())
                self.assertEqual(self.msiexec_commands(), [])
                if what == 'no room':
                    self.assertEqual(self.requests(), [])
                self.assertTempFoldersCleanedUp(before)

    def test_fetched_files_are_checked_against_their_certificate(self):
        certs = test_trust.Certificates
        for name in ('right', 'wrong'):
            certs.sign(os.path.join(self.data, 'web.msi'), os.path.join(self.data, name + '.msi'), name)
        with open(certs.element('right'), 'rb') as f:
            element = f.read()
        base = self.serve()
        for signer, code in (('right', 0), ('wrong', 1621)):
            with self.subTest(signer):
                setup = self.make_setup(f'Location={base}/{signer}.msi\r\nCab0={base}/data1.cab\r\n'
                                        f'CertKey=right.cer\r\n', folder=signer, members={'right.cer': element})
                r = self.launch(setup)
                self.assertEqual(r.code, code, self.log_text()[-3000:])
                self.assertEqual(len(self.msiexec_commands()), 1 if code == 0 else 0)
                self.assertEqual(os.path.exists(installed_payload()), code == 0)
                uninstall()

    def test_web_installation_hands_the_address_to_msiexec(self):
        base = self.serve()
        setup = self.make_setup(f'Location={base}/web.msi\r\n', type_=3)
        self.launch(setup)
        commands = self.msiexec_commands()
        self.assertEqual(len(commands), 1, self.log_text()[-3000:])
        self.assertRegex(commands[0], '^' + harness.MSIEXEC + re.escape(f' /i "{base}/web.msi" /qn'))
        self.assertNotIn('DownloadFiles', self.log_text())


@unittest.skipUnless(os.environ.get('DISPLAY'), 'needs a display (run under xvfb-run)')
class DownloadUiTest(WebSetupCase):
    probe = test_ui.UiTest.probe
    screenshot = test_ui.UiTest.screenshot

    def start(self, setup):
        e = harness.wine_env()
        e['QZ_RUNEXIT_TIMEOUT_MS'] = '120000'
        e['QZ_RUNEXIT_CMDLINE'] = f'"{harness.winpath(setup)}" /debuglog"{harness.winpath(self.log)}" /v"/qn"'
        p = subprocess.Popen(['wine', os.path.join(harness.BUILD, 'runexit.exe')], env=e, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        self.servers.append(p)
        return p

    def finish(self, p):
        out, _ = p.communicate(timeout=150)
        m = re.search(r'exit=(\d+)', out.decode('utf-8', 'replace'))
        self.assertIsNotNone(m, out)
        return int(m.group(1))

    def window(self, command, part):
        rc, out = self.probe(command, part, 20000)
        self.assertEqual(rc, 0, f'no window with {part!r}')
        return test_ui.Window(out)

    def tearDown(self):
        self.probe('cancelall')
        super().tearDown()

    def test_progress_shows_and_cancel_stops_the_transfer(self):
        os.makedirs(test_ui.ARTIFACTS, exist_ok=True)
        base = self.serve('--slow', '/data1.cab')
        setup = self.make_setup(f'Location={base}/web.msi\r\nCab0={base}/data1.cab\r\n')
        p = self.start(setup)
        w = self.window('wait', CAPTION)
        amount = re.compile(r'\d+ KB of 3072 KB downloaded at \d+\.\d KB/sec')

        def showing_amount():
            nonlocal w
            w = test_ui.Window(self.probe('dump', w.hwnd)[1])
            return amount.fullmatch(w.text(1004)) is not None
        self.assertTrue(harness.wait_for(showing_amount), w.dump)
        self.assertEqual(w.text(1003), 'Downloading file 2 of 2: data1.cab')
        self.assertTrue(w.text(1005).startswith('Estimated time remaining:  '), w.text(1005))
        self.screenshot(w, 'download_progress')
        self.probe('click', w.hwnd, 2)
        self.assertEqual(self.finish(p), 0xFFFFFFFF)  # -1: the user cancelled
        self.assertEqual(self.msiexec_commands(), [])
        self.assertNotIn('An error occurred while downloading', self.log_text())

    def test_a_failed_transfer_asks_retry_or_cancel(self):
        os.makedirs(test_ui.ARTIFACTS, exist_ok=True)
        base = self.serve()
        p = self.start(self.make_setup(f'Location={base}/missing.msi\r\n'))
        text = f'An error occurred while downloading the file {base}/missing.msi.  What would you like to do?'
        # While the launcher starts, asking every window for its texts can stall
        # the probe: it looks once the question is logged.
        asked = lambda n: self.log_text().count('DownloadFiles: An error occurred') >= n
        self.assertTrue(harness.wait_for(lambda: asked(1)))
        box = self.window('waittext', 'What would you like to do?')
        self.assertEqual(box.text(65535), text)
        self.assertEqual((box.text(4), box.text(2)), ('&Retry', 'Cancel'))
        self.screenshot(box, 'download_retry_cancel')
        self.probe('click', box.hwnd, 4)  # Retry: fetched again from the start
        self.assertTrue(harness.wait_for(lambda: asked(2)))
        box = self.window('waittext', 'What would you like to do?')
        self.probe('click', box.hwnd, 2)
        self.assertEqual(self.finish(p), 1614)
        self.assertEqual(self.msiexec_commands(), [])
        # Each attempt fetched the file from its start.
        self.assertTrue(all(l == '/missing.msi range=-' for l in self.requests()), self.requests())


if __name__ == '__main__':
    unittest.main()
