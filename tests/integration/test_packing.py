"""The packing tool as a setup author uses it: init from a package, pack (links,
planted files, reserved names, reproducible output), extract, verify, and progress
on a terminal. Runs the native build/native/mksetup; the Windows build's verify once."""
import os
import pty
import shutil
import subprocess
import unittest

import harness

MKSETUP = os.path.join(harness.NATIVE, 'mksetup')
MKSETUP_WIN = os.path.join(harness.BUILD, 'mksetup.exe')
LAUNCHER = os.path.join(harness.BUILD, 'setup.exe')
PRODUCT_CODE = '{6E1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}'


def mksetup(*args, env=None, cwd=None, stderr=subprocess.PIPE):
    e = dict(os.environ)
    e.pop('SOURCE_DATE_EPOCH', None)
    e.update(env or {})
    return subprocess.run([MKSETUP] + list(args), stdout=subprocess.PIPE, stderr=stderr, text=True, env=e, cwd=cwd,
                          timeout=120)


class PackingTest(harness.WineTest):

    @classmethod
    def setUpClass(cls):
        cls.packages = os.path.join(harness.SCRATCH, 'packing-packages')
        shutil.rmtree(cls.packages, ignore_errors=True)
        subprocess.run([os.path.join(harness.SRC, 'tests', 'data', 'demo', 'build-demo.sh'), cls.packages],
                       check=True, capture_output=True, timeout=120)

    def write(self, rel, data):
        path = os.path.join(self.dir, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data if isinstance(data, bytes) else data.encode())
        return path

    def read(self, path):
        with open(path, 'rb') as f:
            return f.read()

    def package(self, name='demo.msi', sql=None):
        path = os.path.join(self.dir, name)
        shutil.copy(os.path.join(self.packages, 'demo.msi'), path)
        if sql:
            subprocess.run(['msibuild', path, '-q', sql], check=True, capture_output=True, timeout=60)
        return path

    def good_setup(self, edit=lambda text: text):
        """init, edit, a string table, pack: the author's path; returns the setup."""
        ini = os.path.join(self.dir, 'setup.ini')
        r = mksetup('init', self.package(), '-o', ini, '--force')
        self.assertEqual(r.returncode, 0, r.stderr)
        self.write('setup.ini', edit(self.read(ini).decode()))
        table = self.write('0x0409.ini', b'')
        out = os.path.join(self.dir, 'setup.exe')
        r = mksetup('pack', '-l', LAUNCHER, '-o', out, ini, os.path.join(self.dir, 'demo.msi'), table)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def test_init_fills_the_settings_from_the_package_and_refuses_what_they_cannot_carry(self):
        ini = os.path.join(self.dir, 'setup.ini')
        r = mksetup('init', self.package(), '-o', ini)
        self.assertEqual(r.returncode, 0, r.stderr)
        text = self.read(ini).decode('ascii')
        with open(os.path.join(self.packages, 'demo.code')) as f:
            package_code = f.read().strip()
        for line in ('[Startup]', 'PackageName=demo.msi', 'Product=Brackenwright Demo', f'ProductCode={PRODUCT_CODE}',
                     f'PackageCode={package_code}', 'ProductVersion=1.0.0', 'WaitInstallation=Y', '[Languages]',
                     'Default=1033', 'Supported=1033', '[demo.msi]', 'Type=1'):
            self.assertIn('\r\n' + line + '\r\n', text)
        # Every key has its comment on the line before.
        lines = text.split('\r\n')
        for i, line in enumerate(lines):
            if '=' in line and not line.startswith(';'):
                self.assertTrue(lines[i - 1].startswith('; '), line)
        # Nothing is replaced unasked.
        r = mksetup('init', self.package(), '-o', ini)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn('already exists', r.stderr)
        rows = [
            (os.path.join(self.packages, 'corrupt.msi'), 'is not a Windows Installer package'),
            (self.package('nocode.msi', "DELETE FROM `Property` WHERE `Property` = 'ProductCode'"), 'no ProductCode'),
            (self.package('badcode.msi', "UPDATE `Property` SET `Value` = 'x' WHERE `Property` = 'ProductCode'"),
             'not a GUID'),
            (self.package('break.msi', "UPDATE `Property` SET `Value` = 'A\nB' WHERE `Property` = 'ProductName'"),
             'line break'),
            (self.package('blank.msi', "UPDATE `Property` SET `Value` = 'Demo ' WHERE `Property` = 'ProductName'"),
             'blank'),
            (self.package('de]mo.msi'), 'rename the package'),
        ]
        for package, why in rows:
            out = os.path.join(self.dir, 'refused.ini')
            r = mksetup('init', package, '-o', out)
            self.assertEqual(r.returncode, 1, package)
            self.assertIn(why, r.stderr, package)
            self.assertEqual([n for n in os.listdir(self.dir) if n.startswith('refused')], [], package)

    def test_links_planted_files_and_reserved_names(self):
        victim = self.write('victim.txt', 'not yours')
        inside = self.write('in/real.txt', 'inside')
        os.symlink(inside, os.path.join(self.dir, 'in', 'alias.txt'))
        out = os.path.join(self.dir, 'out.exe')
        # A link to a file of the folder is read where it leads; one leading outside is refused by name.
        os.symlink(os.path.join(self.dir, 'out.exe.mksetup-0.tmp.target'), out + '.mksetup-0.tmp')
        os.symlink(victim, out)
        r = mksetup('pack', '-l', LAUNCHER, '-o', out, os.path.join(self.dir, 'in'))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(os.path.islink(out))
        self.assertFalse(os.path.exists(out + '.mksetup-0.tmp.target'), 'written through a planted link')
        self.assertEqual(self.read(victim), b'not yours')
        os.symlink(victim, os.path.join(self.dir, 'in', 'stolen.txt'))
        r = mksetup('pack', '-l', LAUNCHER, '-o', os.path.join(self.dir, 'two.exe'), os.path.join(self.dir, 'in'))
        self.assertEqual(r.returncode, 1)
        self.assertIn("'stolen.txt'", r.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, 'two.exe')))
        # Extraction replaces a link in the target folder instead of writing through it.
        target = os.path.join(self.dir, 'target')
        os.makedirs(target)
        os.symlink(victim, os.path.join(target, 'real.txt'))
        r = mksetup('extract', out, target)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual((self.read(victim), self.read(os.path.join(target, 'real.txt')),
                          self.read(os.path.join(target, 'alias.txt'))), (b'not yours', b'inside', b'inside'))
        self.assertFalse(os.path.islink(os.path.join(target, 'real.txt')))
        # Names the launcher keeps for its own files in its folder.
        for name in ('_QZMSIDEL.INI', 'out.exe', 'OUT.EXE.local', '~1234ABCD.tmp'):
            p = self.write(os.path.join('reserved', name), 'x')
            r = mksetup('pack', '-l', LAUNCHER, '-o', os.path.join(self.dir, 'target', 'out.exe'), p)
            self.assertEqual(r.returncode, 1, name)
            self.assertIn('keeps for its own files', r.stderr, name)

    def test_pack_is_reproducible_with_source_date_epoch(self):
        a = self.write('in/Setup.INI', '[Startup]\r\nPackageName=x.msi\r\n')
        self.write('in/data.bin', os.urandom(5000))
        env = {'SOURCE_DATE_EPOCH': '1700000000'}
        first = os.path.join(self.dir, 'first.exe')
        r = mksetup('pack', '-l', LAUNCHER, '-o', first, os.path.join(self.dir, 'in'), env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        os.utime(a, (1, 2))
        # From another folder, with relative paths.
        second = os.path.join(self.dir, 'second.exe')
        r = mksetup('pack', '-l', LAUNCHER, '-o', 'second.exe', 'in', env=env, cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read(first), self.read(second))
        rows = mksetup('list', first).stdout.splitlines()[2:]
        self.assertEqual({tuple(l.split('\t')[4:]) for l in rows}, {('2023-11-14T22:13:20Z',) * 3})
        r = mksetup('pack', '-l', LAUNCHER, '-o', second, 'in', env={'SOURCE_DATE_EPOCH': '17e8'}, cwd=self.dir)
        self.assertEqual(r.returncode, 1)
        self.assertIn('SOURCE_DATE_EPOCH', r.stderr)

    def test_verify_reads_the_setup_as_the_launcher_will(self):
        good = self.good_setup()
        r = mksetup('verify', good)
        self.assertEqual((r.returncode, r.stdout.strip()), (0, f'{good}: 3 members, no problems found'), r.stderr)
        w = harness.run(MKSETUP_WIN, f'verify "{harness.winpath(good)}"')
        self.assertEqual(w.code, 0, w.stdout)
        image = self.read(good)
        signed = os.path.join(self.dir, 'signed.exe')
        key, cert = os.path.join(self.dir, 'key.pem'), os.path.join(self.dir, 'cert.pem')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
                        '-days', '2', '-subj', '/CN=Packing Test'], check=True, capture_output=True, timeout=60)
        subprocess.run(['osslsigncode', 'sign', '-certs', cert, '-key', key, '-h', 'sha256', '-in', good, '-out',
                        signed], check=True, capture_output=True, timeout=60)
        self.assertEqual(mksetup('verify', signed).returncode, 0)
        launcher_size = os.path.getsize(LAUNCHER)
        signed_launcher = os.path.join(self.dir, 'signed-launcher.exe')
        subprocess.run(['osslsigncode', 'sign', '-certs', cert, '-key', key, '-h', 'sha256', '-in', LAUNCHER, '-out',
                        signed_launcher], check=True, capture_output=True, timeout=60)
        # Zeros in the middle of the compressed package's data.
        rows = {l.split('\t')[0]: int(l.split('\t')[1]) for l in mksetup('list', good).stdout.splitlines()[2:]}
        package_at = launcher_size + 46 + 48 + 18 + rows['setup.ini'] + 48 + 16
        at = package_at + rows['demo.msi'] // 2
        damaged = bytearray(image)
        damaged[at:at + 20] = bytes(20)
        rows = [
            ('appended', image + b'junk', '4 bytes follow the last member'),
            ('truncated', image[:launcher_size + 200], 'member directory ends'),
            ('damaged', bytes(damaged), 'does not decode'),
            ('signed then changed', self.read(signed) + b'x', 'changed after signing'),
            ('signed then packed', self.read(signed_launcher) + image[launcher_size:], 'appended after the launcher'),
        ]
        for label, data, why in rows:
            path = self.write(label + '.exe', data)
            r = mksetup('verify', path)
            self.assertEqual(r.returncode, 1, label)
            self.assertIn(why, r.stdout, label)
        # What the settings refer to, one problem a line.
        edit = lambda text: text.replace('Supported=1033', 'Supported=1033,1031') + (
            '[demo.msi]\r\nCertKey=signer.cer\r\nCab0=http://x/data1.cab\r\n[QZSetupPrerequisites]\r\nPreReq0=dotnet.prq\r\n')
        r = mksetup('verify', self.good_setup(edit))
        problems = r.stdout.splitlines()
        self.assertEqual(r.returncode, 1)
        for why in ("certificate 'signer.cer'", "cabinet 'data1.cab'", "'0x0407.ini'", "transform '1031.MST'",
                    "transform '1033.MST'", "PreReq0 'dotnet.prq'"):
            self.assertEqual(len([p for p in problems if why in p]), 1, (why, problems))

    def test_progress_only_on_a_terminal(self):
        big = self.write('in/big.bin', os.urandom(3 << 20))
        setup = os.path.join(self.dir, 's.exe')
        commands = [('packing', ['pack', '-l', LAUNCHER, '-o', setup, big]), ('verifying', ['verify', setup]),
                    ('extracting', ['extract', setup, os.path.join(self.dir, 'out')])]
        # A setup without settings has a problem to report: verify ends with 1.
        codes = {'packing': 0, 'verifying': 1, 'extracting': 0}
        for verb, args in commands:
            r = mksetup(*args)
            self.assertEqual((r.returncode, r.stderr), (codes[verb], ''), verb)
            main, tty = pty.openpty()
            try:
                r = mksetup(*args, stderr=tty)
                os.close(tty)
                tty = None
                shown = b''
                while True:
                    try:
                        chunk = os.read(main, 4096)
                    except OSError:
                        break
                    if not chunk:
                        break
                    shown += chunk
            finally:
                os.close(main)
                if tty is not None:
                    os.close(tty)
            self.assertEqual(r.returncode, codes[verb], verb)
            self.assertIn(f'{verb}: ', shown.decode(), verb)
            self.assertIn('of 3.0 MiB, member 1 of 1', shown.decode(), verb)


if __name__ == '__main__':
    unittest.main()
