"""The UI language seen from outside: the language switch against the package's
languages, texts from the packed string-table files with the resources behind
them, the language transform on the msiexec command line, hostile string tables,
and the temporary-location test when the system's temporary folder is unusable.
Setups are packed by mksetup; the debug log is the witness."""
import os
import re
import shutil
import subprocess
import unittest

import harness

# msiexec is started from the system folder by its full path.
MSIEXEC_LAUNCH = re.compile(r'Attempting to launch: ' + harness.MSIEXEC + ' /i')
LANGUAGES = '[Languages]\r\nSupported=0x0409,0x0407\r\nDefault=0x0409\r\n'


class LanguageTest(harness.WineTest):
    def pack(self, ini_text, members=(), name='setup.exe', beside=()):
        """A setup carrying Setup.INI and the given (name, bytes) members; `beside`
        files go next to the launcher."""
        out = os.path.join(self.dir, name)
        p = harness.pack_members(os.path.join(harness.BUILD, 'setup.exe'), out,
                                 dict([('Setup.INI', ini_text)] + list(members)), self.dir)
        self.assertEqual(p.returncode, 0, p.stderr)
        # Values read before the session exists come from the setup.ini beside the launcher.
        with open(os.path.join(self.dir, 'Setup.INI'), 'wb') as f:
            f.write(ini_text if isinstance(ini_text, bytes) else ini_text.encode('utf-8'))
        for member, data in beside:
            with open(os.path.join(self.dir, member), 'wb') as f:
                f.write(data)
        return out

    def log_text(self, name):
        p = os.path.join(self.dir, name)
        return harness.read_utf16(p) if os.path.exists(p) else ''

    def launch(self, exe, args, log, env=None, timeout=60):
        r = harness.run(exe, f'/s /debuglog"{harness.winpath(os.path.join(self.dir, log))}" {args}'.strip(),
                        timeout=timeout, env=env)
        return r, self.log_text(log)

    @staticmethod
    def setup_ini(package='product.msi', extra=''):
        # A missing package of type 4 (temporary folder) is error 1155, shown in the
        # UI language: the witness of the texts. Type 0 lies beside the launcher.
        kind = 4 if package == 'gone.msi' else 0
        return (f'[Startup]\r\nPackageName={package}\r\nWaitInstallation=Y\r\n{extra}[{package}]\r\nType={kind}\r\n' +
                LANGUAGES)

    @staticmethod
    def table(language, texts, extra=''):
        """A string-table file in UTF-8 with its mark."""
        body = f'[{language}]\r\n' + ''.join(f'{k}={v}\r\n' for k, v in texts.items()) + extra
        return b'\xef\xbb\xbf' + body.encode('utf-8')

    def test_language_switch_chooses_german_texts_and_transform(self):
        german = self.table('0x0407', {1155: 'Datei %s nicht gefunden'}, '[Languages]\r\n0x0407=Deutsch\r\n')
        english = self.table('0x0409', {1155: 'Missing: %s'})
        for i, switch in enumerate(['/l1031', '/l0x0407', '/l2055']):  # 2055: German (Switzerland)
            with self.subTest(switch):
                exe = self.pack(self.setup_ini('gone.msi'), [('0x0407.ini', german), ('0x0409.ini', english)],
                                name=f'setup{i}.exe')
                r, log = self.launch(exe, switch, f'run{i}.log')
                self.assertEqual(r.code, 1155, log[-3000:])
                self.assertIn('UI language: 1031 (source 0)', log)
                self.assertIn('Default language: 1031, got code page 1252', log)
                self.assertIn('Using language transforms from setup.exe location', log)
                self.assertRegex(log, r'Error 1155: Datei .*gone\.msi nicht gefunden')

    def test_text_missing_from_the_string_table_comes_from_the_resources(self):
        german = self.table('0x0407', {1105: 'Windows Installer wird eingerichtet'})
        exe = self.pack(self.setup_ini('gone.msi'), [('0x0407.ini', german), ('0x0409.ini', b'')])
        r, log = self.launch(exe, '/l1031', 'run.log')
        self.assertEqual(r.code, 1155, log[-3000:])
        self.assertRegex(log, r'Error 1155: File .*gone\.msi not found')
        # Without the switch the machine's language decides; English is offered.
        r, log = self.launch(exe, '/l1036', 'french.log')
        self.assertEqual(r.code, 1155, log[-3000:])
        self.assertNotIn('UI language: 1036', log)

    def test_transform_on_the_msiexec_command_line(self):
        junk_package = b'not a package' * 100
        rows = [
            ('beside the launcher', '/l1031', [], r'TRANSFORMS="1031\.MST"',
             'Using language transforms from setup.exe location'),
            ('hexadecimal switch', '/l0x0407', [], r'TRANSFORMS="1031\.MST"',
             'Using language transforms from setup.exe location'),
            ('from the stream', '/l1031', [('1031.MST', b'junk transform')], r'TRANSFORMS="[A-Z]:\\[^"]*\\1031\.MST"',
             'Language transforms in stream'),
        ]
        for i, (name, switch, members, pattern, line) in enumerate(rows):
            with self.subTest(name):
                exe = self.pack(self.setup_ini(), [('0x0407.ini', self.table('0x0407', {})), ('0x0409.ini', b'')] + members,
                                name=f'setup{i}.exe', beside=[('product.msi', junk_package)])
                r, log = self.launch(exe, switch + ' /v"/qn"', f'run{i}.log', timeout=120)
                self.assertIn(line, log)
                launched = [l for l in log.splitlines() if MSIEXEC_LAUNCH.search(l)]
                self.assertEqual(len(launched), 1, log[-3000:])
                self.assertRegex(launched[0], pattern)
                self.assertNotEqual(r.code, 0)  # the package is junk
        # One language: no transform at all.
        ini = self.setup_ini().replace('Supported=0x0409,0x0407', 'Supported=0x0407')
        exe = self.pack(ini, [('0x0407.ini', self.table('0x0407', {}))], name='single.exe',
                        beside=[('product.msi', junk_package)])
        r, log = self.launch(exe, '/l1031 /v"/qn"', 'single.log', timeout=120)
        self.assertRegex(log, MSIEXEC_LAUNCH)
        self.assertNotIn('TRANSFORMS', log)
        self.assertNotIn('Using language transforms', log)

    def test_damaged_transform_in_the_stream_stops_the_launch(self):
        src = os.path.join(self.dir, 'src')
        os.makedirs(src)
        files = {'Setup.INI': self.setup_ini().encode(), '0x0407.ini': b'', '0x0409.ini': b'',
                 '1031.MST': bytes(range(256)) * 800}
        for name, data in files.items():
            with open(os.path.join(src, name), 'wb') as f:
                f.write(data)
        exe = os.path.join(self.dir, 'setup.exe')
        subprocess.run([os.path.join(harness.NATIVE, 'mksetup'), 'pack', '-l', os.path.join(harness.BUILD, 'setup.exe'),
                        '-o', exe] + [os.path.join(src, n) for n in ('Setup.INI', '0x0407.ini', '0x0409.ini')] +
                       ['--always-compress', os.path.join(src, '1031.MST')], check=True, timeout=60, capture_output=True)
        shutil.copy(os.path.join(src, 'Setup.INI'), self.dir)
        with open(os.path.join(self.dir, 'product.msi'), 'wb') as f:
            f.write(b'junk')
        # The transform is the last member: damage its compressed data.
        with open(exe, 'r+b') as f:
            f.seek(-600, os.SEEK_END)
            data = f.read(200)
            f.seek(-600, os.SEEK_END)
            f.write(bytes(b ^ 0x5A for b in data))
        r, log = self.launch(exe, '/l1031', 'run.log')
        self.assertEqual(r.code, 1152, log[-3000:])
        self.assertIn('Language transforms in stream', log)
        self.assertNotIn('MSIEXEC.EXE', log)

    def test_hostile_string_tables_never_crash(self):
        junk = bytes((i * 7919 >> 3) & 0xFF for i in range(70000))
        utf16_no_mark = '[0x0407]\r\n1155=Weiter %s\r\n'.encode('utf-16-le')
        rows = [
            ('huge value', '/l1031', b'[0x0407]\r\n1155=' + b'x' * (4 << 20) + b'\r\n'),
            ('no sections', '/l1031', b'1155=x\r\n' * 1000),
            ('binary junk', '/l1031', junk),
            ('UTF-16 without mark', '/l1031', utf16_no_mark),
            ('huge header', '/l1031', b'[' + b'0' * (1 << 20) + b']\r\n'),
            ('right to left', '/l1025',
             self.table('0x0401', {1155: '\u0627\u0644\u0645\u0644\u0641 %s'},
                        '[Properties]\r\nFontName=' + 'A' * 500 + '\r\nFontSize=-5\r\n')),
        ]
        for i, (name, switch, data) in enumerate(rows):
            with self.subTest(name):
                language = '0x0401' if switch == '/l1025' else '0x0407'
                ini = self.setup_ini('gone.msi', 'Product=Foo\r\n').replace(
                    'Supported=0x0409,0x0407', f'Supported=0x0409,{language}\r\nRTLLangs=0x0401')
                exe = self.pack(ini, [(f'{language}.ini', data), ('0x0409.ini', b'')], name=f'setup{i}.exe')
                r, log = self.launch(exe, switch, f'run{i}.log')
                self.assertEqual(r.code, 1155, log[-3000:])
                error = [l for l in log.splitlines() if 'Error 1155: ' in l]
                self.assertEqual(len(error), 1, log[-3000:])
                self.assertLess(len(error[0]), 9000)

    def test_temporary_location_falls_back_when_the_system_folder_is_unusable(self):
        exe = self.pack(self.setup_ini(), [('0x0407.ini', b''), ('0x0409.ini', b'')])
        a_file = os.path.join(self.dir, 'not-a-folder')
        with open(a_file, 'w') as f:
            f.write('x')
        rows = [
            ('missing folder', harness.winpath(os.path.join(self.dir, 'no', 'such', 'folder'))),
            ('a file', harness.winpath(a_file)),
            ('UNC path', r'\\nosuchserver\share'),
        ]
        for i, (name, temp) in enumerate(rows):
            with self.subTest(name):
                env = {'TEMP': temp, 'TMP': temp, 'QZ_TEST_MSIACTION_RESULT': '0'}
                r, log = self.launch(exe, '', f'run{i}.log', env=env)
                self.assertEqual(r.code, 0, log[-3000:])
                m = re.search(r'Temporary location (.*) has room for', log)
                self.assertTrue(m, log[-3000:])
                self.assertNotIn(temp.lower(), m.group(1).lower())


if __name__ == '__main__':
    unittest.main()
