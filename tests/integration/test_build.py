"""The launchers as built: their PE shape, and that they start under Wine."""
import os
import struct
import subprocess
import sys
import unittest

import harness


PECHECK = os.path.join(harness.SRC, 'scripts', 'pecheck.py')
LAUNCHERS = [os.path.join(harness.BUILD, n) for n in ('setup.exe', 'chainsetup.exe')]


def pecheck(*paths):
    p = subprocess.run([sys.executable, PECHECK] + list(paths), capture_output=True, text=True, timeout=60)
    return p.returncode, p.stdout + p.stderr


class BuildShape(harness.WineTest):
    def test_launchers_pass_pe_check(self):
        code, out = pecheck(*LAUNCHERS)
        self.assertEqual(code, 0, out)

    def test_pe_check_catches_each_fault(self):
        # Each row spoils one copy of setup.exe the way a build could.
        with open(LAUNCHERS[0], 'rb') as f:
            good = f.read()
        rows = [
            ('bytes after the image', good + b'\0' * 512, 'file ends at'),
            ('asks for no elevation', good.replace(b'level="requireAdministrator"', b'level="highestAvailable"    '),
             'not requireAdministrator'),
            ('imports zlib', good.replace(b'msvcrt.dll\0', b'zlib1.dll\0\0'), 'runtime library zlib1.dll'),
            ('imports MPR.dll', good.replace(b'RPCRT4.dll\0', b'MPR.dll\0\0\0\0'), 'bound when first used'),
            ('delay-loads version.dll', good.replace(b'shell32.dll\0', b'version.dll\0'), 'delay-loads version.dll'),
            # Not a known system library: a planted copy beside the launcher would load first.
            ('imports COMCTL32.dll', good.replace(b'ADVAPI32.dll\0', b'COMCTL32.dll\0'), 'only known system'),
            ('no Windows 10', good.replace(b'8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a', b'0' * 36), 'supportedOS'),
            ('not a program', b'MZ' + b'\0' * 100, 'not a readable PE image'),
        ]
        for name, data, why in rows:
            with self.subTest(name):
                self.assertNotEqual(data, good)
                path = os.path.join(self.dir, 'spoilt.exe')
                with open(path, 'wb') as f:
                    f.write(data)
                code, out = pecheck(path)
                self.assertEqual(code, 1, out)
                self.assertIn(why, out)

    def test_only_the_test_builds_read_the_test_values(self):
        # A stray QZ_TEST_MSIACTION_RESULT=0 would make a shipped launcher skip the
        # installation and report success.
        for shipped, test_build in harness.TEST_BUILDS.items():
            names = {}
            for exe in (shipped, test_build):
                with open(os.path.join(harness.BUILD, exe), 'rb') as f:
                    data = f.read()
                names[exe] = {n for n in ('QZ_TEST_MSIACTION_RESULT', 'QZ_TEST_MSIACTION_HOLD_FILE',
                                          'QZ_TEST_DELETE_PASS_MS', 'QZ_TEST_PAUSE_FILE', 'QZ_TEST_RESTART_FILE')
                              if n.encode('utf-16-le') in data}
            self.assertEqual(names[shipped], set(), shipped)
            self.assertEqual(len(names[test_build]), 5, test_build)

    def test_images_carry_no_link_time_or_build_folder(self):
        # Either would make two clean builds of one commit differ (scripts/repro-check.sh).
        for exe in LAUNCHERS:
            with open(exe, 'rb') as f:
                data = f.read()
            pe = struct.unpack_from('<I', data, 60)[0]
            self.assertEqual(struct.unpack_from('<I', data, pe + 8)[0], 0, exe)
            for folder in (harness.SRC, harness.BUILD):
                for form in (folder.encode(), folder.encode('utf-16-le'), folder.replace('/', '\\').encode()):
                    self.assertNotIn(form, data, (exe, folder))

    def test_runner_reports_full_exit_code(self):
        # cmd's exit passes its number through; wine alone would cut 3010 to 194.
        r = harness.run(os.path.join(harness.PREFIX, 'drive_c', 'windows', 'system32', 'cmd.exe'), '/c exit 3010')
        self.assertEqual(r.code, 3010)


if __name__ == '__main__':
    unittest.main()
