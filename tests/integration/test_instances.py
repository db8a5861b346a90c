"""Side-by-side instances: which instance a run is for, silently from /instance= and
through the instance dialog, and what that adds to the msiexec command line. One
product built with wixl (tests/data/instances/instance.wxs) is installed as the
installed instance; another instance's upgrade code relates it to that product.

Wine's msiexec applies no instance transform and ignores /n, so the outcome is read
from the command line the launcher logs, not from what gets installed."""
import os
import re
import shutil
import subprocess
import unittest

import harness
from test_ui import Window, bmp_to_png

MKSETUP = os.path.join(harness.NATIVE, 'mksetup')
WXS = os.path.join(harness.SRC, 'tests', 'data', 'instances', 'instance.wxs')
ARTIFACTS = os.path.join(harness.BUILD, 'artifacts')
INSTALLED = '{5E6F7081-92A3-44B5-C6D7-E8F9A0B1C2D3}'
RELATED = '{6F708192-A3B4-45C6-D7E8-F9A0B1C2D3E4}'
FREE = '{708192A3-B4C5-46D7-E8F9-A0B1C2D3E4F5}'
UPGRADE = '{3C4D5E6F-7081-4293-A4B5-C6D7E8F9A0B1}'
LAUNCH_LINE = re.compile(r'Attempting to launch: ([^\r\n]*)')

_package = None


def package():
    global _package
    if _package is None:
        folder = os.path.join(harness.SCRATCH, 'instance-package')
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        _package = os.path.join(folder, 'instance.msi')
        # wixl takes a source by a relative name only.
        subprocess.run(['wixl', '-a', 'x64', '-D', 'Version=1.0.0', '-D', 'ProductCode=' + INSTALLED, '-o', _package,
                        os.path.basename(WXS)], cwd=os.path.dirname(WXS), check=True, timeout=60,
                       capture_output=True)
    return _package


def settings(mode='', free=True):
    """Instance 3 is the installed product, 5 would upgrade it, 7 (when free) is free."""
    text = ('[Startup]\r\nProduct=Instances\r\nPackageName=instance.msi\r\nProductCode=' + INSTALLED + '\r\n'
            'ProductVersion=1.0.0\r\nWaitInstallation=Y\r\nCmdLine=/qn\r\nOnUpgrade=3\r\n' + mode +
            '[instance.msi]\r\nType=1\r\n'
            '[Languages]\r\nDefault=1033\r\nSupported=1033\r\n'
            '[Instances]\r\ncount=3\r\nkey0=InstanceId3\r\nkey1=InstanceId5\r\nkey2=InstanceId7\r\n'
            '[InstanceId3]\r\nProductCode=' + INSTALLED + '\r\nProductName=Third\r\n'
            '[InstanceId5]\r\nProductCode=' + RELATED + '\r\nUpgradeCode=' + UPGRADE + '\r\nProductName=Fifth\r\n'
            '[InstanceId7]\r\nProductCode=' + FREE + '\r\nProductName=Seventh\r\nProductVersion=7.0\r\n'
            '[UpgardeTable]\r\ncount=1\r\nkey0=up@1.0.0@2.0.0@@256\r\n')
    return text if free else text.replace('key2=InstanceId7', 'key2=InstanceId3')


class InstanceTest(harness.WineTest):
    @classmethod
    def setUpClass(cls):
        harness.wine('msiexec', '/i', harness.winpath(package()), '/qn', timeout=120, check=True)

    @classmethod
    def tearDownClass(cls):
        harness.wine('msiexec', '/x', INSTALLED, '/qn', timeout=120)

    def setUp(self):
        super().setUp()
        self.log = os.path.join(self.dir, 'setup.log')

    def make_setup(self, mode='', free=True):
        with open(os.path.join(self.dir, 'Setup.INI'), 'w', newline='') as f:
            f.write(settings(mode, free))
        with open(os.path.join(self.dir, '0x0409.ini'), 'w', newline='') as f:
            f.write('[0x0409]\r\n')
        folder = os.path.join(self.dir, 'media')
        os.makedirs(folder, exist_ok=True)
        setup = os.path.join(folder, 'setup.exe')
        subprocess.run([MKSETUP, 'pack', '-l', harness.test_build_of(os.path.join(harness.BUILD, 'setup.exe')), '-o',
                        setup, os.path.join(self.dir, 'Setup.INI'), os.path.join(self.dir, '0x0409.ini'), package()],
                       check=True, timeout=60, capture_output=True)
        return setup

    def log_text(self):
        return harness.read_utf16(self.log) if os.path.exists(self.log) else ''

    def msiexec_lines(self):
        return [c for c in LAUNCH_LINE.findall(self.log_text()) if 'MSIEXEC.EXE' in c.upper()]


class SilentSelectionTest(InstanceTest):
    def test_silent_selection(self):
        setup = self.make_setup()
        rows = [
            # args, exit code (None: msiexec's own), chosen instance, in the command line, not in it
            ('', None, -1, [], ['/n ', 'MSINEWINSTANCE', 'InstanceId']),
            ('/instance=default', None, -1, [], ['/n ', 'MSINEWINSTANCE']),
            ('/instance=3', None, 3, ['/qn /n ' + INSTALLED], ['MSINEWINSTANCE', 'InstanceId']),
            ('/instance=7', None, 7, ['TRANSFORMS=":InstanceId7.mst"', 'MSINEWINSTANCE=1'], ['/n ']),
            ('/instance=9', 1709, None, [], []),
            ('/instance=abc', 1709, None, [], []),
        ]
        for args, code, chosen, present, absent in rows:
            with self.subTest(args=args):
                if os.path.exists(self.log):
                    os.remove(self.log)
                r = harness.run(setup, f'/s /debuglog"{harness.winpath(self.log)}" {args}', timeout=180)
                lines = self.msiexec_lines()
                if code is not None:
                    self.assertEqual(r.code, code, self.log_text()[-3000:])
                    self.assertEqual(lines, [])
                    continue
                self.assertEqual(len(lines), 1, self.log_text()[-3000:])
                self.assertIn(f'Instance chosen: {chosen}', self.log_text())
                for text in present:
                    self.assertIn(text, lines[0])
                for text in absent:
                    self.assertNotIn(text, lines[0])
                # The instance transform is merged once, even with the switch repeated.
                self.assertLessEqual(lines[0].count('InstanceId'), 1)

    def test_silent_patch_applies_to_all_instances(self):
        setup = self.make_setup('Mode=5\r\n')
        r = harness.run(setup, f'/s /debuglog"{harness.winpath(self.log)}"', timeout=180)
        self.assertIn('Instance chosen: -2', self.log_text(), r)
        for line in self.msiexec_lines():
            self.assertNotIn('/n ', line)
            self.assertNotIn('MSINEWINSTANCE', line)
        # A patch cannot be for the default instance alone.
        os.remove(self.log)
        r = harness.run(setup, f'/s /debuglog"{harness.winpath(self.log)}" /instance=default', timeout=180)
        self.assertEqual(r.code, 1709)


@unittest.skipUnless(os.environ.get('DISPLAY'), 'needs a display (run under xvfb-run)')
class InstanceDialogTest(InstanceTest):
    def setUp(self):
        super().setUp()
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.procs = []

    def tearDown(self):
        self.probe('cancelall')
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait(timeout=10)

    def probe(self, *args, timeout=30):
        p = subprocess.run(['wine', os.path.join(harness.BUILD, 'uiprobe.exe')] + [str(a) for a in args],
                           env=harness.wine_env(), capture_output=True, timeout=timeout)
        return p.returncode, p.stdout.decode('utf-8', 'replace')

    def start(self, exe, args, timeout=180):
        e = harness.wine_env()
        e['QZ_RUNEXIT_TIMEOUT_MS'] = str(timeout * 1000)
        e['QZ_RUNEXIT_CMDLINE'] = f'"{harness.winpath(exe)}" /debuglog"{harness.winpath(self.log)}" {args}'.strip()
        p = subprocess.Popen(['wine', os.path.join(harness.BUILD, 'runexit.exe')], env=e,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def finish(self, p, timeout=180):
        out, _ = p.communicate(timeout=timeout)
        m = re.search(r'exit=(\d+)', out.decode('utf-8', 'replace'))
        self.assertIsNotNone(m, out)
        code = int(m.group(1))
        return code - (1 << 32) if code >= 1 << 31 else code

    def dialog(self):
        rc, out = self.probe('waittext', 'multiple instances of the product', 60000)
        self.assertEqual(rc, 0, self.log_text()[-3000:])
        return Window(out)

    def checked(self, w, cid):
        return self.probe('checked', w.hwnd, cid)[1].strip() == 'checked=1'

    def rows(self, w):
        out = self.probe('items', w.hwnd, 1013, 3)[1]
        return re.findall(r'^item row=\d+ text0=(.*) text1=(.*) text2=(.*?)\r?$', out, re.M)

    def screenshot(self, w, name):
        bmp = os.path.join(ARTIFACTS, name + '.bmp')
        self.probe('shot', w.hwnd, harness.winpath(bmp))
        if os.path.exists(bmp):
            bmp_to_png(bmp, os.path.join(ARTIFACTS, name + '.png'))

    def test_install_dialog_offers_the_free_instance_and_lists_the_others(self):
        setup = self.make_setup()
        p = self.start(setup, '')
        w = self.dialog()
        self.screenshot(w, 'instance_dialog')
        self.assertEqual(w.title, 'Instances - Brackenwright Wizard')
        self.assertEqual(w.text(1010), '&Install a new instance')
        self.assertTrue(w.enabled(1010) and w.enabled(1012))
        self.assertTrue(self.checked(w, 1010))
        self.assertFalse(w.enabled(1013))
        # The default instance and instance 3 are the installed product, 5 is related to it.
        rows = self.rows(w)
        self.assertEqual(len(rows), 3, rows)
        for name, version, location in rows:
            self.assertEqual((name, version), ('Brackenwright Instances', '1.0.0'))
        # The second option turns the list on; the second row is instance 3.
        self.probe('press', w.hwnd, 1012)
        self.assertTrue(self.read(w).enabled(1013))
        self.probe('select', w.hwnd, 1013, 1)
        self.probe('click', w.hwnd, 1036)
        self.finish(p)
        lines = self.msiexec_lines()
        self.assertEqual(len(lines), 1, self.log_text()[-3000:])
        self.assertIn('/n ' + INSTALLED, lines[0])
        self.assertNotIn('MSINEWINSTANCE', lines[0])

    def test_first_option_installs_the_free_instance_and_cancel_stops(self):
        setup = self.make_setup()
        p = self.start(setup, '')
        w = self.dialog()
        self.probe('click', w.hwnd, 1036)
        self.finish(p)
        lines = self.msiexec_lines()
        self.assertEqual(len(lines), 1, self.log_text()[-3000:])
        self.assertIn('TRANSFORMS=":InstanceId7.mst"', lines[0])
        self.assertIn('MSINEWINSTANCE=1', lines[0])
        self.assertIn('Instance chosen: 7', self.log_text())

        os.remove(self.log)
        p = self.start(setup, '/instance=abc')
        w = self.dialog()
        self.probe('click', w.hwnd, 2)
        self.assertEqual(self.finish(p), -1)
        self.assertEqual(self.msiexec_lines(), [])

    def test_no_free_instance_leaves_only_the_list(self):
        setup = self.make_setup(free=False)
        p = self.start(setup, '')
        w = self.dialog()
        self.assertFalse(w.enabled(1010))
        self.assertTrue(self.checked(w, 1012))
        self.assertTrue(w.enabled(1013))
        # The first row (the default instance) starts selected: nothing to apply.
        self.probe('click', w.hwnd, 1036)
        self.finish(p)
        self.assertIn('Instance chosen: -1', self.log_text())
        lines = self.msiexec_lines()
        self.assertEqual(len(lines), 1, self.log_text()[-3000:])
        self.assertNotIn('/n ', lines[0])
        self.assertNotIn('MSINEWINSTANCE', lines[0])

    def test_patch_dialog(self):
        setup = self.make_setup('Mode=5\r\n')
        p = self.start(setup, '')
        rc, out = self.probe('waittext', 'patch multiple instances', 60000)
        self.assertEqual(rc, 0, self.log_text()[-3000:])
        w = Window(out)
        self.screenshot(w, 'instance_patch_dialog')
        self.assertEqual(w.text(1010), 'Patch &all of the existing instances')
        self.assertEqual(w.text(1012), '&Patch an existing instance')
        self.assertTrue(self.checked(w, 1010))
        self.probe('click', w.hwnd, 1036)
        self.finish(p)
        self.assertIn('Instance chosen: -2', self.log_text())

    def read(self, w):
        return Window(self.probe('dump', w.hwnd)[1])


if __name__ == '__main__':
    unittest.main()
