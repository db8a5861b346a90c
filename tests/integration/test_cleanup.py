"""The launcher's temporary folder from outside: what the relaunched copy puts
there, the settings dump at the end, the removal of the folder and of everything
the deletion list names, a file held by another program, and the rule that a
folder the launcher did not make keeps whatever the run did not put there.

Setups are packed with mksetup onto the test build of the launcher and carry no
package: its installer step honours QZ_TEST_MSIACTION_RESULT (result) and
QZ_TEST_MSIACTION_HOLD_FILE (holds the run before it, harness.Hold); QZ_TEST_DELETE_PASS_MS
shortens the clean-up's wait between passes (harness default 100 ms, '' for the
real second)."""
import os
import re
import shutil
import subprocess
import threading
import unittest

import harness

CLONE_FOLDER = re.compile(r'/tempdisk1folder"([^"]*)"')
SECRET = 'Secr3tPw'
INI = ('[Startup]\r\nWaitInstallation=Y\r\nPackageName=p.msi\r\nProductName=Tidy\r\n'
       f'Password={SECRET}\r\nDBPwd=x{SECRET}\r\n[Languages]\r\nSupported=0x0409,0x0407\r\nDefault=0x0409\r\n')
MEMBERS = {'Setup.INI': INI, '0x0409.ini': '[Strings]\r\n', '0x0407.ini': '[Strings]\r\n'}


def ls(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def list_text(folder):
    p = os.path.join(folder, '_QZMSIDEL.INI')
    return harness.read_utf16(p) if os.path.exists(p) else ''


class CleanupTest(harness.WineTest):
    def setUp(self):
        super().setUp()
        self.log = os.path.join(self.dir, 'run.log')
        self.leftovers = []

    def tearDown(self):
        for d in self.leftovers:
            shutil.rmtree(d, ignore_errors=True)

    def pack(self, out, members=MEMBERS):
        p = harness.pack_members(os.path.join(harness.BUILD, 'setup.exe'), out, members, self.dir)
        self.assertEqual(p.returncode, 0, p.stderr)
        return out

    def log_text(self):
        return harness.read_utf16(self.log) if os.path.exists(self.log) else ''

    def run_setup(self, exe, args='', env=None, timeout=60, tail=''):
        # args lead (a /q that makes the launcher a relaunched copy must come
        # first); tail follows /s, so an invalid command line shows no message box.
        env = dict({'QZ_TEST_MSIACTION_RESULT': '0'}, **(env or {}))
        text = f'{args} /s /debuglog"{harness.winpath(self.log)}" {tail}'
        return harness.run(exe, text.strip(), timeout=timeout, env=env)

    def start_setup(self, exe, args='', env=None):
        """Runs the setup on a thread; join() returns its result."""
        box = {}
        t = threading.Thread(target=lambda: box.setdefault('r', self.run_setup(exe, args, env, timeout=90)))
        t.start()

        def join():
            t.join(120)
            return box.get('r')
        return join

    def clone_folder(self):
        """The relaunched copy's folder: (Unix path, Windows path as the launcher writes it)."""
        self.assertTrue(harness.wait_for(lambda: CLONE_FOLDER.search(self.log_text())), self.log_text())
        win = CLONE_FOLDER.search(self.log_text()).group(1)
        folder = harness.unixpath(win)
        self.leftovers.append(folder)
        return folder, win

    def wait_for_hold(self, hold):
        # The run is held just before the installer step, after the extraction.
        self.assertTrue(hold.wait_reached(), self.log_text())

    def test_clone_folder_while_running_and_after(self):
        exe = self.pack(os.path.join(self.dir, 'setup.exe'))
        with harness.Hold(self.dir) as hold:
            join = self.start_setup(exe, env=dict(hold.env, QZ_TEST_DELETE_PASS_MS=''))
            try:
                temp, win = self.clone_folder()
                self.wait_for_hold(hold)
                names = {n.lower() for n in os.listdir(temp)}
                self.assertLessEqual({'setup.exe', 'setup.ini', '0x0409.ini', '0x0407.ini', '_qzmsidel.ini'}, names)
                listed = list_text(temp).lower()
                for n in ('setup.exe', 'setup.ini', '0x0409.ini', '0x0407.ini'):
                    self.assertIn(f'{n}={win.lower()}\\{n}', listed)
                self.assertIn('[created]', listed)
            finally:
                hold.release()
                r = join()
        self.assertEqual(r.code, 0, self.log_text()[-3000:])
        # Real pace: about a second per pass, then the interpreter takes the folder.
        self.assertTrue(harness.wait_for(lambda: not os.path.exists(temp)), ls(temp))
        text = self.log_text()
        self.assertNotIn('still in use', text)  # nothing held: no pass waited for the timer
        self.assertIn('Dumping setup.ini...', text)
        self.assertIn('Section: Startup', text)
        self.assertIn('PackageName=p.msi', text)
        self.assertNotIn(SECRET, text)
        self.assertNotRegex(text, r'(?i)password=')
        self.assertIn('DBPwd=***', text)

    def test_held_file_stays_after_the_tenth_pass_the_rest_goes(self):
        exe = self.pack(os.path.join(self.dir, 'setup.exe'))
        hold = harness.Hold(self.dir).__enter__()
        # The file stays open until this second file goes.
        keep = harness.Hold(self.dir, 'keep').__enter__()
        join = self.start_setup(exe, env=dict(hold.env, QZ_TEST_DELETE_PASS_MS='150'))
        holder = None
        try:
            temp, _ = self.clone_folder()
            self.wait_for_hold(hold)
            held = os.path.join(temp, '0x0407.ini')
            holder = subprocess.Popen(['wine', os.path.join(harness.BUILD, 'holdfile.exe'), harness.winpath(held),
                                       '@' + harness.winpath(keep.path)], env=harness.wine_env(),
                                      stdout=subprocess.PIPE)
            self.assertEqual(holder.stdout.readline().strip(), b'held')
            hold.release()
            r = join()
            self.assertEqual(r.code, 0)
            # The copy ends after ten passes and hands its folder to the interpreter,
            # which removes the copy itself on Windows; Wine's rmdir /s removes
            # nothing from a folder that holds a file in use.
            self.assertIn('Clean-up ends after 10 passes', self.log_text())
            self.assertIn('Started the removal of', self.log_text())
            # The interpreter may or may not have taken the launcher's own copy yet.
            self.assertIn(ls(temp), (['0x0407.ini'], ['0x0407.ini', 'setup.exe']))
        finally:
            hold.release()
            keep.release()
            join()
            if holder:
                holder.wait(150)
                holder.stdout.close()

    def test_without_a_desktop_everything_goes_without_waiting(self):
        # No display: the clean-up has no window and runs its passes on a plain wait,
        # at the same pace (the real one here).
        exe = self.pack(os.path.join(self.dir, 'setup.exe'))
        r = self.run_setup(exe, env={'DISPLAY': '', 'QZ_TEST_DELETE_PASS_MS': ''})
        self.assertEqual(r.code, 0, self.log_text()[-3000:])
        temp, _ = self.clone_folder()
        self.assertTrue(harness.wait_for(lambda: not os.path.exists(temp)), ls(temp))
        text = self.log_text()
        if 'The clean-up window could not be made' not in text:
            self.skipTest('a window could be made without a display')
        self.assertNotIn('still in use', text)
        self.assertIn('Started the removal of', text)

    def test_every_ending_of_the_copy_removes_its_folder(self):
        rows = [
            ('success', INI, '', {}, 0),
            ('invalid command line', INI, 'notaswitch', {}, 1203),
            ('no package name', INI.replace('PackageName=p.msi\r\n', ''), '', {}, 1153),
            ('installer failed', INI, '', {'QZ_TEST_MSIACTION_RESULT': '1603'}, 1603),
        ]
        for i, (name, ini, args, env, code) in enumerate(rows):
            with self.subTest(name):
                self.log = os.path.join(self.dir, f'run{i}.log')
                exe = self.pack(os.path.join(self.dir, f'setup{i}.exe'), dict(MEMBERS, **{'Setup.INI': ini}))
                r = self.run_setup(exe, env=env, tail=args)
                self.assertEqual(r.code, code, self.log_text()[-2000:])
                temp, _ = self.clone_folder()
                self.assertTrue(harness.wait_for(lambda: not os.path.exists(temp)), ls(temp))

    def test_a_given_folder_keeps_the_users_files(self):
        # The copy is told to work in a folder of the user's, and itself lies below
        # it: only what the run extracted goes.
        docs = os.path.join(self.dir, 'Documents')
        tools = os.path.join(docs, 'tools')
        exe = self.pack(os.path.join(tools, 'setup.exe'))
        for p in (os.path.join(docs, 'thesis.doc'), os.path.join(tools, 'notes.txt')):
            with open(p, 'w') as f:
                f.write('mine')
        r = self.run_setup(exe, f'/q"{harness.winpath(exe)}" /tempdisk1folder"{harness.winpath(docs)}"')
        self.assertEqual(r.code, 0, self.log_text()[-3000:])
        self.assertIn('was not made by this setup', self.log_text())
        self.assertEqual(sorted(os.listdir(docs)), ['thesis.doc', 'tools'])
        self.assertEqual(sorted(os.listdir(tools)), ['notes.txt', 'setup.exe'])

    def test_extracted_folder_switch_keeps_the_users_folder(self):
        # /e names an already extracted folder; here the launcher runs from it.
        media = os.path.join(self.dir, 'media')
        exe = self.pack(os.path.join(media, 'setup.exe'))
        with open(os.path.join(media, 'Setup.INI'), 'w', newline='') as f:
            f.write(INI)
        r = self.run_setup(exe, f'/q"{harness.winpath(exe)}" /e"{harness.winpath(media)}"')
        self.assertEqual(r.code, 0, self.log_text()[-3000:])
        self.assertEqual(sorted(os.listdir(media)), ['Setup.INI', 'setup.exe'])
        self.assertIn('was not made by this setup', self.log_text())
        # The folder the copy made for itself before /e moved it on goes as well.
        processed = [harness.unixpath(t.strip()).rstrip('/')
                     for t in re.findall(r'Processing the deletion list of (.*)', self.log_text())]
        self.assertEqual(processed[0], media)
        self.assertEqual(len(processed), 2, processed)
        self.assertFalse(os.path.exists(processed[1]), processed[1])

    def test_link_inside_the_folder_leaves_its_target(self):
        outside = os.path.join(self.dir, 'outside')
        os.makedirs(outside)
        with open(os.path.join(outside, 'keep.txt'), 'w') as f:
            f.write('mine')
        exe = self.pack(os.path.join(self.dir, 'setup.exe'))
        hold = harness.Hold(self.dir).__enter__()
        join = self.start_setup(exe, env=hold.env)
        try:
            temp, win = self.clone_folder()
            self.wait_for_hold(hold)
            os.symlink(outside, os.path.join(temp, 'link'))
            sub = os.path.join(temp, 'sub')
            os.makedirs(sub)
            os.symlink(outside, os.path.join(sub, 'deeper'))
            # A listed folder goes whole (the run made it), but not through the link.
            with open(os.path.join(temp, '_QZMSIDEL.INI'), 'ab') as f:
                f.write(f'\r\n[Folders]\r\nsub={win}\\sub\r\n'.encode('utf-16-le'))
        finally:
            hold.release()
            r = join()
        self.assertEqual(r.code, 0)
        if 'still holds a link' in self.log_text():
            # Wine cannot remove a link to a folder that is not empty (error 145),
            # so the folder is not handed to the interpreter and stays.
            self.assertTrue(os.path.exists(os.path.join(temp, 'setup.exe')))
        else:
            self.assertTrue(harness.wait_for(lambda: not os.path.exists(temp)))
        self.assertEqual(os.listdir(outside), ['keep.txt'])
        self.assertFalse(os.path.exists(os.path.join(temp, 'Setup.INI')))
        self.assertFalse(os.path.exists(os.path.join(temp, '_QZMSIDEL.INI')))


if __name__ == '__main__':
    unittest.main()
