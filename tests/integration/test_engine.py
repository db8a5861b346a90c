"""Script-driven setups end to end with the stand-in engine (build/win/QZSetup.dll,
tests/standins/QZSetup.cpp), which records every call and answers scripted
results: the engine's answer becomes the launcher's exit code with its message,
the engine is found in the stream or beside the launcher, its runtime files come
from the package's Binary table, a restart it asks for resumes through Wine's
simulated restart, and the major-upgrade removal reaches it."""
import os
import shutil
import subprocess
import unittest

import harness

MKSETUP = os.path.join(harness.NATIVE, 'mksetup')
ENGINE = os.path.join(harness.BUILD, 'QZSetup.dll')
PRODUCT = '{D51E7A20-3B9C-4E61-8F02-6A4C9B7E1D35}'
TEMP_PATH_GUID = '{E3B5B7C5-1111-2222-3333-0123456789AB}'
RUNONCE = r'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'
CURRENT = r'HKLM\Software\Microsoft\Windows\CurrentVersion'

# A package whose Binary table carries an engine (under a name that merely begins
# with QZSetup.dll) with its resources in its own stream.
WXS = f'''<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{PRODUCT}" Name="Brackenwright Engine" Language="1033" Version="1.0.0"
           Manufacturer="Brackenwright" UpgradeCode="{{D51E7A21-3B9C-4E61-8F02-6A4C9B7E1D35}}">
    <Package InstallerVersion="405" Compressed="yes" InstallScope="perMachine"/>
    <Binary Id="QZSetup.dll.old" SourceFile="engine_packed.dll"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Component Id="Registry" Guid="{{D51E7A22-3B9C-4E61-8F02-6A4C9B7E1D35}}" Win64="yes">
        <RegistryValue Root="HKLM" Key="Software\\Brackenwright\\Engine" Name="V" Type="string" Value="1"
                       KeyPath="yes"/>
      </Component>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Registry"/></Feature>
  </Product>
</Wix>
'''

_package = None


def package():
    """engine.msi, built once for the module."""
    global _package
    if _package is None:
        folder = os.path.join(harness.SCRATCH, 'engine-package')
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, text in (('QzConfig.ini', f'[SetupDefaults]\r\nTempPathGuid={TEMP_PATH_GUID}\r\n'),
                           ('resource.txt', 'engine resource')):
            with open(os.path.join(folder, name), 'w', newline='') as f:
                f.write(text)
        subprocess.run([MKSETUP, 'pack', '-l', ENGINE, '-o', os.path.join(folder, 'engine_packed.dll'),
                        os.path.join(folder, 'QzConfig.ini'), os.path.join(folder, 'resource.txt')],
                       check=True, timeout=60, capture_output=True)
        with open(os.path.join(folder, 'engine.wxs'), 'w') as f:
            f.write(WXS)
        subprocess.run(['wixl', '-a', 'x64', '-o', 'engine.msi', 'engine.wxs'], cwd=folder, check=True, timeout=60,
                       capture_output=True)
        _package = os.path.join(folder, 'engine.msi')
    return _package


class EngineTest(harness.WineTest):
    def setUp(self):
        super().setUp()
        self.log = os.path.join(self.dir, 'setup.log')
        self.results = os.path.join(self.dir, 'engine.txt')
        self.restarts = os.path.join(self.dir, 'restarts.txt')

    def make_setup(self, engine_in_stream=False, engine_beside=None, startup='', folder='media'):
        """A script-driven setup carrying setup.ini and engine.msi; the engine in its
        stream and/or the file engine_beside copied beside it as QZSetup.dll."""
        folder = os.path.join(self.dir, folder)
        os.makedirs(folder, exist_ok=True)
        ini = os.path.join(self.dir, 'setup.ini')
        with open(ini, 'w', newline='') as f:
            f.write(f'[Startup]\r\nPackageName=engine.msi\r\nProductCode={PRODUCT}\r\nScriptDriven=1\r\n'
                    f'WaitInstallation=Y\r\n{startup}[engine.msi]\r\nType=1\r\n')
        members = [ini, package()] + ([ENGINE] if engine_in_stream else [])
        setup = os.path.join(folder, 'setup.exe')
        subprocess.run([MKSETUP, 'pack', '-l', os.path.join(harness.BUILD, 'setup_t.exe'), '-o', setup] + members,
                       check=True, timeout=60, capture_output=True)
        if engine_beside:
            shutil.copy(engine_beside, os.path.join(folder, 'QZSetup.dll'))
        return setup

    def env(self, results):
        return {'QZ_ENGINE_RESULTS': harness.winpath(self.results), 'QZ_ENGINE_RESULT': results,
                'QZ_TEST_RESTART_FILE': harness.winpath(self.restarts)}

    def launch(self, setup, args='', results='0'):
        for p in (self.log, self.results):
            if os.path.exists(p):
                os.remove(p)
        return harness.run(setup, f'/s /debuglog"{harness.winpath(self.log)}" {args}', env=self.env(results))

    def calls(self):
        if not os.path.exists(self.results):
            return []
        with open(self.results, encoding='utf-8') as f:
            return [line.rstrip('\n').split('|') for line in f]

    def log_text(self):
        return harness.read_utf16(self.log) if os.path.exists(self.log) else ''

    def temp_folders(self):
        temp = harness.windows_temp()
        return {n for n in os.listdir(temp) if n.startswith('{')}


class ResultTest(EngineTest):
    def test_engine_results_become_exit_codes_with_their_messages(self):
        setup = self.make_setup(engine_beside=ENGINE)
        cases = [(0, None), (1641, None), (3010, None), (-3, None), (7001, 7001), (-7, 1644), (-4, 1629),
                 (1234, 1628), (-2, 1628)]
        for result, message in cases:
            with self.subTest(result=result):
                r = self.launch(setup, results=str(result))
                self.assertEqual(r.signed, result, self.log_text()[-3000:])
                self.assertEqual(len(self.calls()), 1)
                text = self.log_text()
                if message:
                    self.assertIn(f'Error {message}:', text)
                else:
                    self.assertNotIn('Error ', text)
                self.assertNotIn('MsiAction::Reboot', text)
        call = self.calls()[0]
        # The cached package, by path; one language gives 0; the progress object answers
        # its own interface id and, silent, ends without waiting.
        self.assertEqual(call[0], 'setup')
        self.assertTrue(call[1].lower().endswith('engine.msi'), call)
        self.assertEqual((call[2], call[4]), ('0', '0'))
        self.assertTrue(call[5].lower().endswith('\\setup.exe') and ':' in call[5], call)  # the launcher's path
        self.assertEqual((call[6], call[7]), ('qi=1', 'end=0x00000000'))


class LocationTest(EngineTest):
    def test_engine_found_in_the_stream_or_beside_the_launcher(self):
        before = self.temp_folders()
        # Carried only in the stream: found there; the setup name says so.
        r = self.launch(self.make_setup(engine_in_stream=True, folder='stream'), results='3010')
        self.assertEqual(r.code, 3010, self.log_text()[-3000:])
        call = self.calls()[0]
        self.assertEqual(call[5], 'setup.exe')
        # The engine row's resources were in place while the engine ran, in the folder
        # named by the 32-bit rule.
        self.assertEqual(sorted(call[8].replace('runtime=', '').split(';')),
                         ['{E3B5B7C5}\\QzConfig.ini', '{E3B5B7C5}\\resource.txt'])
        self.assertIn('Extracting resource: resource.txt', self.log_text())
        # Nowhere: -1, log only.
        r = self.launch(self.make_setup(folder='none'))
        self.assertEqual(r.signed, -1)
        self.assertIn('Failed to locate QZSetup.dll', self.log_text())
        self.assertEqual(self.calls(), [])
        # Beside but without the entry point (another library): 1670, reported.
        r = self.launch(self.make_setup(engine_beside=os.path.join(harness.BUILD, 'QZExternalUI.dll'),
                                        folder='other'))
        self.assertEqual(r.code, 1670)
        self.assertIn('1670: ', self.log_text())
        self.assertEqual(self.calls(), [])
        # Everything the runs extracted went with their folders.
        ok = harness.wait_for(lambda: not (self.temp_folders() - before))
        self.assertTrue(ok, f'left behind: {self.temp_folders() - before}')


class RestartTest(EngineTest):
    def tearDown(self):
        harness.reg_delete(RUNONCE, 'QZSetup')
        for name in ('%QZ_T%', '%QZ_E%', '%QZ_V%'):
            harness.reg_delete(CURRENT, name)
        super().tearDown()

    def test_restart_asked_by_the_engine_resumes_with_the_saved_properties(self):
        setup = self.make_setup(engine_in_stream=True)
        before = self.temp_folders()
        # A long property list: the restart saves it whole for the run after it.
        value = 'after restart ' + 'p' * 1973
        properties = f'QZPROP="{value}"'
        self.assertEqual(len(properties), 1996)
        r = self.launch(setup, f'/v"{properties.replace(chr(34), chr(92) + chr(34))}"', results='-8,0')
        self.assertEqual(r.signed, -8, self.log_text()[-3000:])
        with open(self.restarts) as f:
            self.assertEqual(f.read(), 'restart\n')  # silent: the restart follows without a question
        command = harness.reg_query(RUNONCE, 'QZSetup')
        self.assertIsNotNone(command, self.log_text()[-3000:])
        self.assertTrue(command.startswith(f'"{harness.winpath(setup)}" /k '), command)
        self.assertIn('/v"%QZ_V%"', command)
        saved = harness.reg_query(CURRENT, '%QZ_V%')
        self.assertTrue(saved.startswith(properties + ' ') and saved.endswith(' AFTERREBOOT=1'), saved[-300:])
        kept = harness.reg_query(CURRENT, '%QZ_E%')
        self.assertTrue(os.path.isdir(harness.unixpath(kept)), kept)  # kept for the run after the restart

        subprocess.run(['wine', 'wineboot', '-r'], env=harness.wine_env(self.env('-8,0')), capture_output=True,
                       timeout=120)
        resumed = harness.wait_for(lambda: self.log_text().count('Setup returning 0') == 1)
        self.assertTrue(resumed, self.log_text()[-3000:])
        first, again = self.calls()
        # The run after the restart hands the engine the package it kept.
        self.assertEqual(again[1], first[1])
        self.assertTrue(first[1].startswith(kept + '\\'), first[1])
        self.assertIn(f"Getting file from temp location, '{first[1]}'", self.log_text())
        for name in ('%QZ_T%', '%QZ_E%', '%QZ_V%'):
            self.assertIsNone(harness.reg_query(CURRENT, name), name)
        self.assertIsNone(harness.reg_query(RUNONCE, 'QZSetup'))
        with open(self.restarts) as f:
            self.assertEqual(f.read(), 'restart\n')  # the resumed run asked for none
        ok = harness.wait_for(lambda: not (self.temp_folders() - before))
        self.assertTrue(ok, f'left behind: {self.temp_folders() - before}')


class RoleTest(EngineTest):
    def test_resume_after_restart_hands_the_command_line_to_the_engine(self):
        setup = self.make_setup(engine_beside=ENGINE)
        shutil.copy(os.path.join(self.dir, 'setup.ini'), os.path.join(os.path.dirname(setup), 'setup.ini'))
        r = self.launch(setup, '/rebootdata', results='3010')
        self.assertEqual(r.code, 3010, self.log_text()[-3000:])
        call = self.calls()
        self.assertEqual(len(call), 1)
        self.assertEqual(call[0][1:3], [PRODUCT, '1'])
        self.assertIn('/rebootdata', call[0][3])
        self.assertEqual(call[0][4:8], ['0', 'setup.exe', 'qi=1', 'end=0x00000000'])

class RemovalTest(EngineTest):
    def test_major_upgrade_removal_reaches_the_engine(self):
        removal = '/removeasmajorupgrade{11111111-2222-3333-4444-555555555555};12x;-3;text'
        # Carried in the stream: extracted for the call, its copy gone afterwards.
        setup = self.make_setup(engine_in_stream=True, folder='stream')
        before = self.temp_folders()
        r = self.launch(setup, removal, results='1605')
        self.assertEqual(r.code, 1605)
        # Integers by their leading digits.
        self.assertEqual(self.calls(), [['removal', '{11111111-2222-3333-4444-555555555555}', '12', '-3', 'text']])
        # Tests beside this one make and remove folders of their own meanwhile.
        ok = harness.wait_for(lambda: not (self.temp_folders() - before))
        self.assertTrue(ok, f'left behind: {self.temp_folders() - before}')
        # Beside the launcher, three parts: the fourth is empty.
        setup = self.make_setup(engine_beside=ENGINE, folder='beside')
        r = self.launch(setup, removal.rsplit(';', 1)[0], results='0')
        self.assertEqual(r.code, 0)
        self.assertEqual(self.calls(), [['removal', '{11111111-2222-3333-4444-555555555555}', '12', '-3', '']])


if __name__ == '__main__':
    unittest.main()
