"""The installation resumed after a restart: the launcher's Reboot step (driven by
build/win/reboot_driver.exe, linked with the launcher library) writes the RunOnce
entry and the three placeholders; Wine's simulated restart (wineboot -r) then
starts the packed setup again, which reads the placeholders back, deletes them,
finishes the installation with the properties it was given and leaves no folder
of its own in %TEMP%."""
import os
import shutil
import subprocess
import unittest

import harness
import test_msi

CURRENT = r'HKLM\Software\Microsoft\Windows\CurrentVersion'
PLACEHOLDERS = ('%QZ_T%', '%QZ_E%', '%QZ_V%')


class ResumeAfterRestartTest(test_msi.MsiTest):
    def tearDown(self):
        harness.reg_delete(test_msi.RUNONCE, 'QZSetup')
        for name in PLACEHOLDERS:
            harness.reg_delete(CURRENT, name)
        super().tearDown()

    def test_restart_resumes_the_installation(self):
        setup = self.make_setup('props.msi', 1)
        # The temporary folder as the compressed setup leaves it: its settings and
        # the extracted package.
        temp = os.path.join(self.dir, 'run temp')
        os.makedirs(temp)
        shutil.copy(os.path.join(self.dir, 'setup.ini'), os.path.join(temp, 'setup.ini'))
        shutil.copy(os.path.join(self.data, 'props.msi'), temp)
        # A long property list: the restart saves it whole, so the resume reads it whole.
        value = 'after restart ' + 'p' * 1973
        properties = f'/qn QZPROP="{value}"'
        self.assertEqual(len(properties), 2000)
        r = harness.run(os.path.join(harness.BUILD, 'reboot_driver.exe'),
                        f'"{harness.winpath(setup)}" "{harness.winpath(temp)}" props.msi '
                        f'"{properties.replace(chr(34), chr(92) + chr(34))}" "{harness.winpath(self.log)}"',
                        timeout=60)
        self.assertEqual(r.code, 0, r.stdout + r.stderr)  # the restart was requested
        command = harness.reg_query(test_msi.RUNONCE, 'QZSetup')
        self.assertEqual(command, f'"{harness.winpath(setup)}" /k  /l1033 /t"%QZ_T%" /e"%QZ_E%" /w /v"%QZ_V%" /c '
                                  f'/debuglog"{harness.winpath(self.log)}"')
        # The source folder is the launcher's, although the run's own source folder
        # was the temporary folder it extracted setup.ini into.
        self.assertEqual(harness.reg_query(CURRENT, '%QZ_T%'), harness.winpath(os.path.dirname(setup)))
        self.assertEqual(harness.reg_query(CURRENT, '%QZ_E%'), harness.winpath(temp))
        self.assertEqual(harness.reg_query(CURRENT, '%QZ_V%'), properties + ' AFTERREBOOT=1')
        # The run after the restart takes the package from the temporary folder.
        with open(os.path.join(temp, 'setup.ini'), encoding='latin-1') as f:
            self.assertIn('Type=4', f.read())

        harness.wine('wineboot', '-r', timeout=120)
        installed = harness.wait_for(lambda: harness.reg_query(test_msi.PROPS_KEY, 'Prop') == value)
        self.assertTrue(installed, self.registry_report(test_msi.PROPS_KEY))
        self.assertEqual(harness.reg_query(test_msi.PROPS_KEY, 'AfterReboot'), '1')
        for name in PLACEHOLDERS:
            self.assertIsNone(harness.reg_query(CURRENT, name), name)
        self.assertIsNone(harness.reg_query(test_msi.RUNONCE, 'QZSetup'))
        # It took the package from the temporary folder, as the edited settings say.
        self.assertIn(f"Getting file from temp location, '{harness.winpath(os.path.join(temp, 'props.msi'))}'",
                      self.log_text())
        # The resume started a new parent, which copied the setup into a new folder for
        # its clone: that folder goes too, although the clone then worked in the old one.
        self.assertTempFoldersCleanedUp()


if __name__ == '__main__':
    unittest.main()
