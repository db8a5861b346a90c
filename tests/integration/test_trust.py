"""Signature checks under Wine with certificates made here: two self-signed
code-signing certificates, "right" and "wrong", files signed with osslsigncode, and
"right" as a serialized certificate store element, the form CertKey names. Wine's
WinVerifyTrust accepts a signer whatever its root, so neither certificate needs to
be trusted by the prefix."""
import os
import shutil
import struct
import subprocess
import unittest

import harness
import test_msi

CERT_PROP_ID = 32  # the encoded certificate's property in a serialized store element


def _run(*args):
    subprocess.run(list(args), check=True, capture_output=True, timeout=120)


class Certificates:
    """The key pairs and the serialized element, made once for the module."""
    _folder = None

    @classmethod
    def folder(cls):
        if cls._folder is None:
            cls._folder = os.path.join(harness.SCRATCH, 'trust-certificates')
            shutil.rmtree(cls._folder, ignore_errors=True)
            os.makedirs(cls._folder)
            for name in ('right', 'wrong'):
                base = os.path.join(cls._folder, name)
                _run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '30',
                     '-subj', f'/CN=Brackenwright Test {name}', '-keyout', base + '.key', '-out', base + '.pem',
                     '-addext', 'keyUsage=critical,digitalSignature', '-addext', 'extendedKeyUsage=codeSigning')
                _run('openssl', 'x509', '-in', base + '.pem', '-outform', 'DER', '-out', base + '.der')
                with open(base + '.der', 'rb') as f:
                    der = f.read()
                with open(base + '.cer', 'wb') as f:
                    f.write(struct.pack('<III', CERT_PROP_ID, 1, len(der)) + der)
        return cls._folder

    @classmethod
    def element(cls, name):
        return os.path.join(cls.folder(), name + '.cer')

    @classmethod
    def sign(cls, source, out, name):
        """osslsigncode's signature by certificate NAME over a copy of SOURCE (a PE file or a package)."""
        base = os.path.join(cls.folder(), name)
        if os.path.exists(out):
            os.remove(out)
        _run('osslsigncode', 'sign', '-certs', base + '.pem', '-key', base + '.key', '-h', 'sha256',
             '-in', source, '-out', out)
        return out


class SignatureCommandTest(harness.WineTest):
    def test_each_verdict_is_the_exit_code(self):
        launcher = self.copy_launcher()
        program = os.path.join(harness.BUILD, 'sleeper.exe')
        folder = os.path.join(self.dir, 'signed files')  # a blank in every path
        os.makedirs(folder)
        right = Certificates.sign(program, os.path.join(folder, 'right.exe'), 'right')
        wrong = Certificates.sign(program, os.path.join(folder, 'wrong.exe'), 'wrong')
        unsigned = shutil.copy(program, os.path.join(folder, 'unsigned.exe'))
        tampered = shutil.copy(right, os.path.join(folder, 'tampered.exe'))
        with open(tampered, 'ab') as f:
            f.write(b'appended after signing')
        garbage = os.path.join(folder, 'garbage.cer')
        with open(garbage, 'wb') as f:
            f.write(b'\x20\x00\x00\x00\x01\x00\x00\x00\x10\x00\x00\x00not a certificate')
        w = harness.winpath
        cert = w(Certificates.element('right'))
        rows = [
            (right, cert, ' /s', 0),
            (right, cert, '-S', 0),  # the silent end in either form and case
            (wrong, cert, ' /s', 1621),
            (unsigned, cert, ' /s', 1621),
            (tampered, cert, ' /s', 1621),
            (right, w(garbage), ' /s', 1621),
            (right, w(os.path.join(folder, 'missing.cer')), ' /s', 1621),
            (os.path.join(folder, 'missing.exe'), cert, ' /s', 1621),
            # Asking: the confirmation stands for the user. Wine's accepts any valid
            # signature (Windows shows its dialog); nothing accepts an unsigned file.
            (wrong, cert, '', 0),
            (unsigned, cert, '', 1621),
        ]
        for file, certificate, tail, verdict in rows:
            with self.subTest(file=os.path.basename(file), certificate=certificate, tail=tail):
                r = harness.run(launcher, f'/g {w(file)} /g {certificate}{tail}')
                self.assertEqual(r.code, verdict, r.stdout)
        r = harness.run(launcher, f'/g {w(right)}')  # no certificate named
        self.assertEqual(r.code, 1621)


class SignerGateTest(test_msi.MsiTest):
    """ValidateSetupAndMSISignatures=Y in the stream's Setting.INI: the package's
    signer against the launcher's, the launcher signed after packing."""

    def gated_setup(self, folder, package_signer, launcher_signer):
        folder = os.path.join(self.dir, folder)
        os.makedirs(folder)
        members = os.path.join(folder, 'members')
        os.makedirs(members)
        package = os.path.join(members, 'props.msi')
        source = os.path.join(self.data, 'props.msi')
        if package_signer:
            Certificates.sign(source, package, package_signer)
        else:
            shutil.copy(source, package)
        ini = os.path.join(members, 'setup.ini')
        with open(ini, 'w', newline='') as f:
            f.write(f'[Startup]\r\nPackageName=props.msi\r\nProductCode={test_msi.PROPS_PRODUCT}\r\n'
                    f'ProductVersion=1.0.0\r\nWaitInstallation=Y\r\n[props.msi]\r\nType=1\r\n')
        setting = os.path.join(members, 'Setting.INI')
        with open(setting, 'w', newline='') as f:
            f.write('[StartUp]\r\nValidateSetupAndMSISignatures=Y\r\n')
        packed = os.path.join(folder, 'packed.exe')
        _run(test_msi.MKSETUP, 'pack', '-l', os.path.join(harness.BUILD, 'setup.exe'), '-o', packed,
             ini, setting, package)
        setup = os.path.join(folder, 'setup.exe')
        if launcher_signer:
            Certificates.sign(packed, setup, launcher_signer)
        else:
            shutil.copy(packed, setup)
        return setup

    def test_the_package_must_have_the_launchers_signer(self):
        rows = [
            ('right', 'right', 0, 'is signed by the launcher\'s own signer'),
            ('wrong', 'right', 2161, 'another signer than the launcher'),
            (None, 'right', 2161, 'has no valid signature'),
            ('wrong', None, 0, 'The launcher carries no valid signature'),
        ]
        for package_signer, launcher_signer, code, line in rows:
            with self.subTest(package=package_signer, launcher=launcher_signer):
                setup = self.gated_setup(f'{package_signer} by {launcher_signer}', package_signer, launcher_signer)
                r = self.launch(setup, '/v"/qn QZPROP=gated"')
                log = self.log_text()
                self.assertEqual(r.code, code, log[-3000:])
                self.assertIn(line, log)
                self.assertEqual(bool(self.msiexec_commands()), code == 0)
                self.assertEqual(harness.reg_query(test_msi.PROPS_KEY, 'Prop'), 'gated' if code == 0 else None)
                if code:
                    self.assertIn('Digital Signing mismatch between Setup.exe and MSI', log)
                # Nothing of the run is left, the package held since its check included.
                self.assertTempFoldersCleanedUp()
                test_msi.uninstall_directly()


if __name__ == '__main__':
    unittest.main()
