"""The debug log turned on by the per-user registry switch alone. The switch lives in
the prefix's HKCU, which every launcher started meanwhile reads, so this file runs
on its own (RUN_SERIAL) and puts the value back whatever happens."""
import unittest

import harness
from test_entry import LONG_LINE, WORKBENCH, EntryCase


class RegistryLogTest(EntryCase):
    def test_registry_switch_alone_gives_long_lines_from_both_launchers_in_one_file(self):
        self.write_ini(WaitInstallation='Y')
        with harness.reg_value(WORKBENCH, 'DoVerboseLogging', 1, 'REG_DWORD'):
            r = self.launch('/s notaswitch')
        self.assertEqual(r.code, 1203)
        msgs = self.messages(LONG_LINE)  # every line, the parent's and the clone's
        files = {LONG_LINE.match(l).group(2) for l in self.log_lines()}
        self.assertIn('Setup\\Setup', files)
        # The clone is not handed the switch (it would reach the restart entry and
        # give the short form), yet it logs into the parent's file beside the first
        # launcher, not beside itself in the temporary folder its clean-up deletes.
        clone = self.clone_command(msgs)
        self.assertNotIn('/debuglog', clone)
        starts = [m for m in msgs if m.startswith('Brackenwright setup.exe (Unicode) started')]
        self.assertEqual(len(starts), 2, msgs)
        self.assertIn('tempdisk1folder', starts[1])  # the clone's own line
        self.assertIsNone(harness.reg_query(WORKBENCH, 'DoVerboseLogging'))  # put back as it was


if __name__ == '__main__':
    unittest.main()
