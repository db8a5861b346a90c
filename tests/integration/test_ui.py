"""The launcher's windows as a user sees them: the initialisation dialog during a
launch, the error dialog, the password dialog, the language dialog and the usage
message. A helper program (uiprobe.exe) finds the windows, reads their texts and
control states and presses buttons; screenshots go to build/win/artifacts/.

Needs a display (the test suite runs under xvfb-run); skipped without one."""
import os
import re
import struct
import subprocess
import unittest
import zlib

import harness

ARTIFACTS = os.path.join(harness.BUILD, 'artifacts')


def bitmap(width, height):
    """A 24-bit bottom-up BMP: a blue band over an orange one."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        colour = b'\x20\x80\xff' if y < height // 2 else b'\xc0\x60\x10'
        rows.append((colour * width).ljust(stride, b'\0'))
    pixels = b''.join(rows)
    header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return b'BM' + struct.pack('<IHHI', 14 + 40 + len(pixels), 0, 0, 54) + header + pixels


def bmp_to_png(bmp_path, png_path):
    """A 24-bit bottom-up BMP (as uiprobe writes it) as a PNG."""
    with open(bmp_path, 'rb') as f:
        data = f.read()
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    stride = (width * 3 + 3) & ~3
    raw = bytearray()
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride: offset + y * stride + width * 3]
        raw.append(0)
        for x in range(0, len(row), 3):
            raw += bytes((row[x + 2], row[x + 1], row[x]))

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(bytes(raw), 6)) + chunk(b'IEND', b''))
    with open(png_path, 'wb') as f:
        f.write(png)


def digest(password):
    """The stored form of an installation password, from zlib's CRC-32."""
    c = zlib.crc32(password.encode('cp1252'))
    b0, b1, b2, b3 = c & 255, (c >> 8) & 255, (c >> 16) & 255, c >> 24
    c0, c1 = ((b0 << 3) ^ 0x5B) & 255, ((b1 >> 5) ^ 0x5B) & 255
    c2, c3 = ((b2 << 7) ^ 0x5B) & 255, ((b3 >> 3) ^ 0x5B) & 255
    return str(c1 | (c0 << 8) | (c3 << 16) | (c2 << 24))


class Window:
    def __init__(self, dump):
        self.dump = dump
        first = dump.splitlines()[0]
        self.hwnd = re.search(r'window=(0x[0-9a-f]+)', first).group(1)
        self.title = re.search(r' title=(.*) class=', first).group(1)
        self.children = {}
        for line in dump.splitlines()[1:]:
            m = re.match(r'child id=(-?\d+) class=(\S*) visible=(\d) enabled=(\d)(?: pos=(\d+))? text=(.*)', line)
            if m:
                self.children[int(m.group(1))] = {
                    'class': m.group(2), 'visible': m.group(3) == '1', 'enabled': m.group(4) == '1',
                    'pos': int(m.group(5)) if m.group(5) else None, 'text': m.group(6)}

    def text(self, cid):
        return self.children[cid]['text']

    def enabled(self, cid):
        return self.children[cid]['enabled']


class WindowProbe:
    """Finding, reading and driving windows through uiprobe.exe, for window tests.
    A test waits for the state it reads (the controls it looks at exist, hold their
    texts, are enabled), never only for a title and never a fixed time."""

    def probe(self, *args, timeout=120):
        p = subprocess.run(['wine', os.path.join(harness.BUILD, 'uiprobe.exe')] + [str(a) for a in args],
                           env=harness.wine_env(), capture_output=True, timeout=timeout)
        return p.returncode, p.stdout.decode('utf-8', 'replace')

    def _ready(self, verb, part, ids, ready, ms):
        """uiprobe's wait or waittext for PART with the controls IDS ready ("ID" holds text,
        "ID+" also enabled, "ID*" exists), then re-read until READY(window) holds."""
        rc, out = self.probe(verb, part, ms, *ids)
        self.assertEqual(rc, 0, f'no window {part!r} with {ids} ready')
        w = Window(out)
        return self.read_when(w, ready) if ready else w

    def wait_window(self, title_part, *ids, ready=None, ms=90000):
        return self._ready('wait', title_part, ids, ready, ms)

    def window_with(self, text, *ids, ready=None, ms=90000):
        return self._ready('waittext', text, ids, ready, ms)

    def read(self, window):
        rc, out = self.probe('dump', window.hwnd)
        return Window(out)

    def read_when(self, window, ready):
        """The window once READY(window) holds (a control it looks at may not exist yet)."""
        seen = [window]

        def holds():
            seen[0] = self.read(window)
            try:
                return ready(seen[0])
            except KeyError:
                return False
        self.assertTrue(harness.wait_for(holds), f'the window never reached its state: {seen[0].dump}')
        return seen[0]

    def screenshot(self, window, name):
        bmp = os.path.join(ARTIFACTS, name + '.bmp')
        self.probe('shot', window.hwnd, harness.winpath(bmp))
        if os.path.exists(bmp):
            bmp_to_png(bmp, os.path.join(ARTIFACTS, name + '.png'))

    def end_windows(self, procs, logs):
        """Tear-down: cancels every dialog left open, lets the launchers end (killing the
        ones that do not) and removes the temporary folders they logged."""
        def ended():
            if all(p.poll() is not None for p in procs):
                return True
            # Again each time: a cancelled dialog may be followed by another. Only
            # while one of ours still runs, as it cancels every dialog on the display.
            self.probe('cancelall')
            return False
        harness.wait_for(ended, step=0.5)
        for p in procs:
            if p.poll() is None:
                p.kill()
            p.wait(timeout=30)
        for log in logs:
            harness.remove_logged_temp_folders(log)


@unittest.skipUnless(os.environ.get('DISPLAY'), 'needs a display (run under xvfb-run)')
class UiTest(WindowProbe, harness.WineTest):
    def setUp(self):
        super().setUp()
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.launcher = self.copy_launcher(target_name='plain.exe')
        self.log = os.path.join(self.dir, 'Brackenwright.log')
        self.procs = []
        self.hold = harness.Hold(self.dir)
        self.hold.__enter__()

    def tearDown(self):
        # A failed test may leave a launcher held or a dialog open.
        self.hold.release()
        self.end_windows(self.procs, [self.log])

    def pack(self, members):
        members = dict(members)
        members.setdefault('0x0409.ini', '[0x0409]\r\n')  # the string table of the supported language
        out = os.path.join(self.dir, 'setup.exe')
        p = harness.pack_members(self.launcher, out, members, self.dir)
        self.assertEqual(p.returncode, 0, p.stderr)
        return out

    def start(self, exe, args='', env=None, timeout=120):
        """Starts the launcher through runexit.exe without waiting for it. It always
        logs (beside itself), so the tear-down finds the folders it made."""
        args = ' '.join(a for a in ('/debuglog' if '/debuglog' not in args else '', args) if a)
        p = harness.start_runexit(f'"{harness.winpath(exe)}" {args}', timeout, env)
        self.procs.append(p)
        return p

    def held(self, result='0'):
        """The environment of a run held before its installer step until self.hold is released."""
        return dict(self.hold.env, QZ_TEST_MSIACTION_RESULT=result)

    def finish(self, p, timeout=150):
        out = harness.runexit_output(p, timeout)
        m = re.search(r'exit=(\d+)', out)
        self.assertIsNotNone(m, out)
        code = int(m.group(1))
        return code - (1 << 32) if code >= 1 << 31 else code

    def ini(self, startup='', extra=''):
        return ('[Startup]\r\nProduct=Demo\r\nPackageName=a.msi\r\nWaitInstallation=Y\r\n' + startup +
                '[Languages]\r\nDefault=1033\r\nSupported=1033\r\n' + extra)

    def test_initialisation_dialog_large_layout_and_cancel(self):
        exe = self.pack({'Setup.INI': self.ini()})
        p = self.start(exe, '/debuglog', self.held())
        self.assertTrue(self.hold.wait_reached())
        w = self.wait_window('Demo - Brackenwright Wizard', 1006, 1001, 1003, '2+', '301*', '1020*')
        self.assertEqual(w.title, 'Demo - Brackenwright Wizard')
        self.assertEqual(w.text(1006), 'Preparing to Install...')
        self.assertEqual(w.text(1001), 'Demo Setup is preparing the Brackenwright Wizard, which will guide you '
                                       'through the program setup process. Please wait.')
        self.assertEqual(w.text(1003), 'Checking Operating System Version')
        self.assertEqual(w.text(2), 'Cancel')
        self.assertEqual(w.children[301]['class'].lower(), 'msctls_progress32')
        self.assertFalse(w.children[1020]['visible'])
        self.screenshot(w, 'setup_dialog_large')
        # The bar moves by itself while the run waits.
        first = w.children[301]['pos']
        self.read_when(w, lambda now: now.children[301]['pos'] > first)
        self.probe('click', w.hwnd, 2)
        self.assertEqual(self.finish(p), -1)
        self.assertIn('The user cancelled the setup', harness.read_utf16(self.log))

    def test_right_to_left_string_table(self):
        ini = ('[Startup]\r\nProduct=Demo\r\nPackageName=a.msi\r\nWaitInstallation=Y\r\n'
               '[Languages]\r\nDefault=1025\r\nSupported=1025\r\nRTLLangs=1025\r\n')
        table = ('\ufeff[0x0401]\r\n1102=%1 \u064a\u062c\u0647\u0632 %2\r\n'
                 '1103=\u0627\u0644\u062a\u062d\u0642\u0642 \u0645\u0646 \u0627\u0644\u0646\u0638\u0627\u0645\r\n'
                 '1624=' + '\u062c' * 3000 + '\r\n[Properties]\r\nFontName=' + 'F' * 80 + '\r\nFontSize=9\r\n')
        exe = self.pack({'Setup.INI': ini, '0x0401.ini': table})
        p = self.start(exe, '', self.held())
        self.assertTrue(self.hold.wait_reached())
        w = self.wait_window('Demo - Brackenwright Wizard', 1001, 1003, 1006)
        exstyle = int(re.search(r'exstyle=(0x[0-9a-f]+)', w.dump).group(1), 16)
        self.assertTrue(exstyle & 0x400000, hex(exstyle))  # mirrored layout
        self.assertEqual(w.text(1001), 'Demo \u064a\u062c\u0647\u0632 Brackenwright Wizard')
        self.assertEqual(w.text(1003), '\u0627\u0644\u062a\u062d\u0642\u0642 \u0645\u0646 \u0627\u0644\u0646\u0638\u0627\u0645')
        self.assertTrue(w.text(1006).startswith('\u062c\u062c'))  # an over-long text, cut by the table reader
        self.screenshot(w, 'setup_dialog_rtl')
        self.hold.release()
        self.assertEqual(self.finish(p), 0)

    def test_initialisation_dialog_small_layout(self):
        exe = self.pack({'Setup.INI': self.ini('UI=1000\r\n')})
        p = self.start(exe, '', self.held())
        self.assertTrue(self.hold.wait_reached())
        w = self.wait_window('Demo - Brackenwright Wizard', 1003, '100*')
        self.assertNotIn(1006, w.children)
        self.assertEqual(w.text(1003), 'Checking Operating System Version')
        self.screenshot(w, 'setup_dialog_small')
        self.hold.release()
        self.assertEqual(self.finish(p), 0)
        self.assertEqual(self.probe('gone', w.hwnd, 60000)[0], 0)

    def test_splash_from_the_stream_and_the_dialog_in_the_corner(self):
        exe = self.pack({'Setup.INI': self.ini(), 'Setup.bmp': bitmap(240, 120)})
        p = self.start(exe, '', self.held())
        self.assertTrue(self.hold.wait_reached())
        w = self.wait_window('Demo - Brackenwright Wizard', 1003)
        splash = []

        def find_splash():
            rc, listing = self.probe('list')
            for line in listing.splitlines():
                m = re.match(r'top window=(0x[0-9a-f]+) rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+) class=#32770 title=$',
                             line)
                if m and int(m.group(4)) - int(m.group(2)) == 240 and int(m.group(5)) - int(m.group(3)) == 120:
                    splash[:] = [m.group(1), [int(m.group(i)) for i in range(2, 6)]]
            return bool(splash)
        self.assertTrue(harness.wait_for(find_splash), self.probe('list')[1])
        self.screenshot(Window(f'window={splash[0]} title= class=#32770'), 'splash')
        # The splash is centred; the dialog keeps out of its way in the lower-right corner.
        m = re.search(r'rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+)', w.dump)
        right, bottom = int(m.group(3)), int(m.group(4))
        self.assertGreater(right, splash[1][2] + 100)
        self.assertGreater(bottom, splash[1][3] + 100)
        self.hold.release()
        self.assertEqual(self.finish(p), 0)

    def test_a_ui_value_naming_no_template_runs_without_a_dialog(self):
        exe = self.pack({'Setup.INI': self.ini('UI=4242\r\n')})
        p = self.start(exe, '/debuglog', {'QZ_TEST_MSIACTION_RESULT': '0'})
        self.assertEqual(self.finish(p), 0)
        self.assertIn('The setup dialog 4242 could not be created', harness.read_utf16(self.log))

    def test_error_dialog_names_the_file_that_could_not_be_extracted(self):
        # 0x0407.ini is listed but not packed. The initialisation dialog has the same
        # title: the error dialog is the one with the message.
        exe = self.pack({'Setup.INI': self.ini(extra='').replace('Supported=1033', 'Supported=1033,1031'),
                         '0x0409.ini': '[0x0409]\r\n'})
        p = self.start(exe)
        w = self.wait_window('Demo - Brackenwright Wizard', 1028, 1, '102*')
        self.assertEqual(w.text(1028), '1152: Error extracting 0x0407.ini to the temporary location')
        self.assertTrue(w.children[1]['visible'])
        self.assertEqual(w.text(1), '&OK')
        self.assertFalse(w.children[102]['visible'])
        self.screenshot(w, 'error_dialog')
        self.probe('click', w.hwnd, 1)
        self.assertEqual(self.finish(p), 1152)

    def test_usage_message_in_the_error_dialog(self):
        p = self.start(self.pack({'Setup.INI': self.ini()}), 'notaswitch')
        w = self.wait_window('Brackenwright Wizard', 1028, 1)
        self.assertTrue(w.text(1028).startswith('Command line parameters:||/a Perform an administrative installation'),
                        w.text(1028))
        self.probe('click', w.hwnd, 1)
        self.assertEqual(self.finish(p), 1203)

        # A German setup explains its command line in German: the texts come from its
        # own string table, taken from the stream before the message is shown.
        ini = self.ini().replace('Default=1033\r\nSupported=1033', 'Default=1031\r\nSupported=1031')
        table = ('\ufeff[0x0407]\r\n1203=Befehlszeilenparameter:\r\n'
                 '1211=/a Administrative Installation ausf\u00fchren\r\n1204=/L Sprachkennung\r\n')
        p = self.start(self.pack({'Setup.INI': ini, '0x0407.ini': table}), 'notaswitch')
        w = self.wait_window('Brackenwright Wizard', 1028, 1)
        self.assertTrue(w.text(1028).startswith('Befehlszeilenparameter:||/a Administrative Installation ausf\u00fchren'
                                                '||/L Sprachkennung||'), w.text(1028))
        self.screenshot(w, 'usage_message_german')
        self.probe('click', w.hwnd, 1)
        self.assertEqual(self.finish(p), 1203)

    def test_password_dialog_enables_ok_only_for_the_right_password(self):
        exe = self.pack({'Setup.INI': self.ini(extra='[KEY]\r\nPASSWORD=' + digest('s3cret') + '\r\n')})
        p = self.start(exe, '/debuglog', {'QZ_TEST_MSIACTION_RESULT': '0'})
        w = self.wait_window('Please enter the password', 20002, 1, 2)
        self.assertEqual(w.text(20002), 'Password:')
        self.assertFalse(w.enabled(1))
        self.screenshot(w, 'password_dialog')
        for action, text, enabled in [('type', 's3cre', False), ('type', 't', True), ('clear', None, False),
                                      ('type', 's3cret', True)]:
            self.probe(action, w.hwnd, 1000, *([text] if text else []))
            self.read_when(w, lambda now: now.enabled(1) == enabled)
        self.probe('click', w.hwnd, 1)
        self.assertEqual(self.finish(p), 0)
        self.assertNotIn('s3cret', harness.read_utf16(self.log))

    def test_password_checks_without_the_dialog(self):
        exe = self.pack({'Setup.INI': self.ini(extra='[KEY]\r\nPASSWORD=' + digest('s3cret') + '\r\n')})
        env = {'QZ_TEST_MSIACTION_RESULT': '0'}
        # /auto runs unattended: it compares /p like /s instead of waiting at the dialog.
        cases = [('/s /p"wrong"', 1209), ('/s', 1209), ('/auto', 1209), ('/s /debuglog /p"s3cret"', 0),
                 ('/p"s3cret"', 0)]
        for args, want in cases:
            self.assertEqual(self.finish(self.start(exe, args, env)), want, args)
        self.assertNotIn('s3cret', harness.read_utf16(self.log))
        # Cancelled: -1.
        p = self.start(exe, '', env)
        w = self.wait_window('Please enter the password', '2+')
        self.probe('click', w.hwnd, 2)
        self.assertEqual(self.finish(p), -1)

    def test_language_dialog(self):
        ini = self.ini('EnableLangDlg=Y\r\n').replace('Supported=1033', 'Supported=1033,1031')
        exe = self.pack({'Setup.INI': ini, '0x0409.ini': '[0x0409]\r\n', '0x0407.ini': '[0x0407]\r\n'})
        p = self.start(exe, '', {'QZ_TEST_MSIACTION_RESULT': '0'})
        w = self.wait_window('Demo - Brackenwright Wizard', '306*', '2+')
        self.screenshot(w, 'language_dialog')
        self.probe('click', w.hwnd, 2)
        # Cancelled: nothing installed, and a deployment tool must not read success.
        self.assertEqual(self.finish(p), -1)

if __name__ == '__main__':
    unittest.main()
