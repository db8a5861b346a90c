"""A full disk under the temporary folder: /tempextractpath names a folder on a small
tmpfs that the test mounts (as root) and always unmounts. A copy of the launcher
that does not fit is never started; a member that does not fit, of any kind, ends
the run with 1152, leaves no part of itself, and the folder goes."""
import os
import random
import subprocess
import unittest

import harness

LAUNCHER = os.path.join(harness.BUILD, 'setup.exe')
MKSETUP = os.path.join(harness.NATIVE, 'mksetup')
INI = '[Startup]\r\nWaitInstallation=Y\r\nPackageName=p.msi\r\n[Languages]\r\nSupported=1031,1033\r\n'
KIB = 1024


class FullDiskTest(harness.WineTest):
    def mount(self, size):
        self.disk = os.path.join(self.dir, 'disk')
        os.makedirs(self.disk)
        p = subprocess.run(['mount', '-t', 'tmpfs', '-o', f'size={size}', 'tmpfs', self.disk], capture_output=True,
                           timeout=30)
        if p.returncode != 0:
            self.skipTest(f'a tmpfs cannot be mounted here (it needs root): {p.stderr.decode(errors="replace").strip()}')
        self.addCleanup(self.unmount)

    def unmount(self):
        # A Wine process may still hold a file there for a moment: wait for the
        # folder's clean-up, then detach it whatever is left.
        harness.wait_for(lambda: not os.listdir(self.disk))
        if subprocess.run(['umount', self.disk], capture_output=True, timeout=30).returncode != 0:
            subprocess.run(['umount', '-l', self.disk], capture_output=True, timeout=30)

    def pack(self, lines, files):
        src = os.path.join(self.dir, 'in')
        os.makedirs(src, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(src, name), 'wb') as f:
                f.write(data)
        listing = os.path.join(self.dir, 'members.txt')
        with open(listing, 'w') as f:
            f.write(''.join(f'in/{line}\n' for line in lines))
        setup = os.path.join(self.dir, 'setup.exe')
        p = subprocess.run([MKSETUP, 'pack', '-l', harness.test_build_of(LAUNCHER), '-o', setup, '@' + listing],
                           capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        return setup

    def run_setup(self, setup):
        log = os.path.join(self.dir, 'run.log')
        if os.path.exists(log):
            os.remove(log)
        r = harness.run(setup, f'/s /debuglog"{harness.winpath(log)}" /tempextractpath"{harness.winpath(self.disk)}"',
                        timeout=120)
        return r, harness.read_utf16(log) if os.path.exists(log) else ''

    def test_a_copy_that_does_not_fit_is_never_started(self):
        setup = self.pack(['Setup.INI\tstore'], {'Setup.INI': INI.encode()})
        self.mount(os.path.getsize(setup) // 2)
        r, log = self.run_setup(setup)
        self.assertEqual(r.code, 1151, log)
        self.assertIn('Error 1151: Error writing to the temporary location', log)
        self.assertNotIn('Attempting to launch', log)
        self.assertEqual(os.listdir(self.disk), [])  # the parent removed its folder before it ended

    def test_a_member_that_does_not_fit_ends_with_1152_whatever_its_kind(self):
        # 0x0407.ini (a compressed filler) leaves less room than 0x0409.ini, the
        # member of the kind under test, needs; together they fit the free-space check.
        member = 512 * KIB
        kinds = {'stored': 'store', 'compressed': 'always-compress', 'whole-file scrambled': 'store scramble=whole',
                 'block scrambled': 'store scramble=blocks'}
        size = os.path.getsize(harness.test_build_of(LAUNCHER)) + 2 * 1024 * KIB
        self.mount(size)
        for kind, how in kinds.items():
            with self.subTest(kind):
                content = (b'[0x0409]\r\n' * (member // 10)) if kind == 'compressed' else \
                    random.Random(kind).randbytes(member)
                setup = self.pack(['Setup.INI\tstore', '0x0407.ini\talways-compress', f'0x0409.ini\t{how}'],
                                  {'Setup.INI': INI.encode(), '0x0409.ini': content, '0x0407.ini': b''})
                room = size - os.path.getsize(setup)
                with open(os.path.join(self.dir, 'in', '0x0407.ini'), 'wb') as f:
                    f.write(bytes(room - member // 2))
                setup = self.pack(['Setup.INI\tstore', '0x0407.ini\talways-compress', f'0x0409.ini\t{how}'], {})
                r, log = self.run_setup(setup)
                self.assertEqual(r.code, 1152, log)  # the parent waited and passes the failure on
                self.assertIn("Extraction of '0x0409.ini' failed", log)
                self.assertTrue(harness.wait_for(lambda: not os.listdir(self.disk)), os.listdir(self.disk))


if __name__ == '__main__':
    unittest.main()
