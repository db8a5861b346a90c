"""The launchers as built: their PE shape, and that they start under Wine."""
import os
import subprocess
import sys
import unittest

import harness


class BuildShape(harness.WineTest):
    def test_launchers_pass_pe_check(self):
        pecheck = os.path.join(harness.SRC, '..', 'shared', 'tools', 'pecheck.py')
        if not os.path.exists(pecheck):
            self.skipTest('pecheck.py not beside the tree')
        exes = [os.path.join(harness.BUILD, n) for n in ('setup.exe', 'chainsetup.exe')]
        p = subprocess.run([sys.executable, pecheck] + exes, capture_output=True, text=True, timeout=60)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)

    def test_only_the_test_builds_read_the_test_values(self):
        # A stray QZ_TEST_MSIACTION_RESULT=0 would make a shipped launcher skip the
        # installation and report success.
        for shipped, test_build in harness.TEST_BUILDS.items():
            names = {}
            for exe in (shipped, test_build):
                with open(os.path.join(harness.BUILD, exe), 'rb') as f:
                    data = f.read()
                names[exe] = {n for n in ('QZ_TEST_MSIACTION_RESULT', 'QZ_TEST_MSIACTION_SLEEP_MS',
                                          'QZ_TEST_DELETE_PASS_MS') if n.encode('utf-16-le') in data}
            self.assertEqual(names[shipped], set(), shipped)
            self.assertEqual(len(names[test_build]), 3, test_build)

    def test_runner_reports_full_exit_code(self):
        # cmd's exit passes its number through; wine alone would cut 3010 to 194.
        r = harness.run(os.path.join(harness.PREFIX, 'drive_c', 'windows', 'system32', 'cmd.exe'), '/c exit 3010')
        self.assertEqual(r.code, 3010)


if __name__ == '__main__':
    unittest.main()
