"""Setup stream round trips: members packed natively with build/native/mksetup (or
written byte by byte here, for the older stream types and for damaged input) and read
back under Wine by streamx.exe, which drives the launcher's own STREAM code."""
import hashlib
import os
import random
import shutil
import struct
import subprocess
import time
import unittest
import zlib

import harness
from harness import winpath

MKSETUP = os.path.join(harness.NATIVE, 'mksetup')
MKSETUP_WIN = os.path.join(harness.BUILD, 'mksetup.exe')
STREAMX = os.path.join(harness.BUILD, 'streamx.exe')
LAUNCHER = os.path.join(harness.BUILD, 'setup.exe')
MASK = bytes([0xE4, 0xC6, 0x52, 0x0B])


# ---- an independent writer of the format, for hand-made streams

def scramble(data, key_text, start=0, blocks=False):
    key = bytes(b ^ MASK[i % 4] for i, b in enumerate(key_text))
    out = bytearray(len(data))
    for i, b in enumerate(data):
        pos = (start + i) % 1024 if blocks else start + i
        if key:
            b ^= key[pos % len(key)]
        b = ~b & 0xFF
        out[i] = ((b << 4) | (b >> 4)) & 0xFF
    return bytes(out)


def stream_bytes(members, stream_type=4, count=None, signature=b'QZSetupStream'):
    """members: (name, flags, compressed, stored bytes[, times])."""
    out = bytearray(signature + b'\0' + struct.pack('<HI', len(members) if count is None else count, stream_type))
    out += bytes(26)
    for m in members:
        name, flags, compressed, stored = m[:4]
        times = m[4] if len(m) > 4 else (0, 0, 0)
        if stream_type == 1:
            n = name.encode('cp1252')
            e = n + bytes(260 - len(n)) + struct.pack('<IH2xIIIH', flags, 0, len(stored), 0, 0, compressed)
            out += e + bytes(312 - len(e)) + stored
        else:
            n = name.encode('utf-16-le')
            e = struct.pack('<IIHIIIH', len(n), flags, 0, len(stored), 0, 0, compressed)
            if stream_type == 4:
                e += struct.pack('<QQQ', *times)
            out += e + n + stored
    return bytes(out)


def compressible(size, seed):
    r = random.Random(seed)
    words = [b'setup', b'stream', b'member', b'\r\n', b'[Startup]', b'=', b'0x0409', bytes([r.randrange(256)])]
    out = bytearray()
    while len(out) < size:
        out += r.choice(words)
    return bytes(out[:size])


def random_bytes(size, seed):
    return random.Random(seed).randbytes(size)


class StreamTest(harness.WineTest):

    def mksetup(self, *args, ok=True, exe=MKSETUP):
        p = subprocess.run([exe] + list(args), capture_output=True, text=True, timeout=120)
        if ok:
            self.assertEqual(p.returncode, 0, p.stderr)
        return p

    def streamx(self, *args, timeout=60):
        text = ' '.join(a if a.startswith('--') or a.isdigit() else f'"{a}"' for a in args)
        return harness.run(STREAMX, text, timeout=timeout)

    def write(self, rel, data):
        path = os.path.join(self.dir, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        return path

    def setup_with(self, stream, name='s.exe', launcher=LAUNCHER):
        with open(launcher, 'rb') as f:
            image = f.read()
        return self.write(name, image + stream)

    def listing(self, setup):
        r = self.streamx('list', winpath(setup))
        lines = r.stdout.splitlines()
        head = dict(kv.split('=') for kv in lines[0].split())
        rows = {l.split('\t')[0]: l.split('\t')[1:] for l in lines[1:] if '\t' in l}
        return head, rows

    def extract_all(self, setup, folder):
        os.makedirs(folder, exist_ok=True)
        return self.streamx('all', winpath(setup), winpath(folder))

    def assertSameFiles(self, expected, folder):
        for name, data in expected.items():
            path = os.path.join(folder, name)
            self.assertTrue(os.path.exists(path), name)
            with open(path, 'rb') as f:
                got = f.read()
            self.assertEqual(len(got), len(data), name)
            self.assertTrue(got == data, name)

    # ---- round trips through the tool and the launcher

    def test_every_flag_combination_and_boundary_size(self):
        sizes = [0, 1, 1023, 1024, 1025, 16383, 16384, 16385, 40000]
        src = os.path.join(self.dir, 'in')
        expected, lines = {}, []
        for mode in ('compress', 'store', 'always-compress'):
            for scr in ('none', 'whole', 'blocks', 'both'):
                for size in sizes + ['random']:
                    data = random_bytes(30000, size == 'random') if size == 'random' else compressible(size, size)
                    name = f'{mode}-{scr}-{size}.bin'
                    expected[name] = data
                    self.write(os.path.join('in', name), data)
                    lines.append(f'in/{name}\t{mode} scramble={scr}')
        self.write('members.txt', '\n'.join(lines).encode())
        setup = os.path.join(self.dir, 's.exe')
        self.mksetup('pack', '-l', LAUNCHER, '-o', setup, '@' + os.path.join(self.dir, 'members.txt'))

        head, rows = self.listing(setup)
        self.assertEqual((head['valid'], head['type'], head['count']), ('1', '4', str(len(expected))))
        self.assertEqual(head['start'], str(os.path.getsize(LAUNCHER)))
        flags = {'none': '0', 'whole': '2', 'blocks': '4', 'both': '6'}
        for name, (stored, fl, comp) in rows.items():
            mode, scr, size = name[:-4].split('-')[-3:] if name.startswith('always') else name[:-4].split('-')
            if name.startswith('always'):
                mode = 'always'
            self.assertEqual(fl, flags[scr], name)
            # A member that does not shrink is stored; always-compress keeps zlib data.
            want_comp = {'store': '0', 'always': '1'}.get(mode, '1' if int(stored) < len(expected[name]) else '0')
            self.assertEqual(comp, want_comp, name)
            if mode == 'compress' and size in ('0', 'random'):
                self.assertEqual(comp, '0', name)

        r = self.extract_all(setup, os.path.join(self.dir, 'out'))
        self.assertEqual(r.code, 0, r.stdout)
        self.assertSameFiles(expected, os.path.join(self.dir, 'out'))
        # Compressed members get the source's times, also after the whole-file pass.
        for name in ('compress-none-40000.bin', 'compress-whole-40000.bin', 'compress-both-16385.bin'):
            want = os.stat(os.path.join(src, name)).st_mtime_ns // 100
            got = os.stat(os.path.join(self.dir, 'out', name)).st_mtime_ns // 100
            self.assertEqual(got, want, name)
        # The tool reads back what it wrote.
        self.mksetup('extract', setup, os.path.join(self.dir, 'native'))
        self.assertSameFiles(expected, os.path.join(self.dir, 'native'))

    def test_names_case_and_single_extract(self):
        members = {'Größe.txt': compressible(3000, 1), 'données.ini': compressible(5000, 2),
                   'данные.bin': compressible(20000, 3), '日本語.txt': b'plain', 'x\U0001F600.dat': random_bytes(2000, 4),
                   'Données.cab': random_bytes(3000, 5), 'Setup.ini': b'[Startup]\r\nProduct=Test\r\n'}
        for n, d in members.items():
            self.write(os.path.join('in', n), d)
        setup = os.path.join(self.dir, 's.exe')
        # Other names than ASCII are compressed and block-scrambled (keyed with UTF-8),
        # even when they do not shrink, or stored unscrambled.
        self.mksetup('pack', '-l', LAUNCHER, '-o', setup, os.path.join(self.dir, 'in', 'Größe.txt'),
                     os.path.join(self.dir, 'in', 'données.ini'), os.path.join(self.dir, 'in', 'Données.cab'),
                     os.path.join(self.dir, 'in', 'данные.bin'), os.path.join(self.dir, 'in', 'x\U0001F600.dat'),
                     os.path.join(self.dir, 'in', 'Setup.ini'), '--scramble', 'none', '--store',
                     os.path.join(self.dir, 'in', '日本語.txt'))
        head, rows = self.listing(setup)
        self.assertEqual(rows['Données.cab'][1:], ['4', '1'])
        self.assertEqual(rows['日本語.txt'][1:], ['0', '0'])
        r = self.extract_all(setup, os.path.join(self.dir, 'out'))
        self.assertEqual(r.code, 0, r.stdout)
        self.assertSameFiles(members, os.path.join(self.dir, 'out'))
        # Lookup ignores case; progress counts stored bytes.
        target = os.path.join(self.dir, 'one.ini')
        r = self.streamx('extract', winpath(setup), 'SETUP.INI', winpath(target))
        self.assertEqual(r.code, 0, r.stdout)
        self.assertSameFiles({'one.ini': members['Setup.ini']}, self.dir)
        head, rows = self.listing(setup)
        self.assertIn(f"last_total={rows['Setup.ini'][0]}", r.stdout)
        # An existing read-only target is replaced.
        os.chmod(target, 0o444)
        r = self.streamx('extract', winpath(setup), 'setup.ini', winpath(target))
        self.assertEqual(r.code, 0, r.stdout)
        # The tool's own extraction matches names as the launcher does.
        self.mksetup('extract', setup, os.path.join(self.dir, 'native'), 'SETUP.INI', 'größe.TXT')
        self.assertEqual(sorted(os.listdir(os.path.join(self.dir, 'native'))), ['Größe.txt', 'Setup.ini'])
        # Stored and whole-file scrambled members are keyed in the ANSI code page of the
        # reading thread, whatever the system's.
        plain = compressible(3000, 6)
        cyrillic = self.setup_with(stream_bytes([('данные.txt', 2, 0, scramble(plain, 'данные.txt'.encode('cp1251')))]),
                                   'cyrillic.exe')
        target = os.path.join(self.dir, 'cyrillic.txt')
        r = self.streamx('extract', winpath(cyrillic), 'данные.txt', winpath(target), '--thread-locale', '419')
        self.assertEqual(r.code, 0, r.stdout)
        self.assertSameFiles({'cyrillic.txt': plain}, self.dir)

    def test_refused_and_failed_packs_leave_no_output(self):
        for n in ('Größe.txt', 'данные.bin', 'ok.txt', 'OK.TXT', 'É.txt', 'é.txt', 'Д.txt', 'д.txt'):
            self.write(os.path.join('in', n), compressible(4000, 8))
        src = lambda *names: [os.path.join(self.dir, 'in', n) for n in names]
        listed = self.write('list.txt', f'{src("ok.txt")[0]}\n/proc/self/mem\tname=unreadable.bin\n'.encode())
        output = os.path.join(self.dir, 'out.exe')
        cases = [
            # ANSI-keyed scrambling of a name other than ASCII would read back wrong
            # where the setup runs under another ANSI code page.
            (['--store'] + src('данные.bin'), 'ASCII'),
            (['--scramble', 'whole'] + src('Größe.txt'), 'ASCII'),
            (['--store', '--scramble', 'both'] + src('Größe.txt'), 'ASCII'),
            # Names that the launcher, or a Windows file system, take for one.
            (src('ok.txt', 'OK.TXT'), 'differ only in letter case'),
            (src('É.txt', 'é.txt'), 'differ only in letter case'),
            (src('Д.txt', 'д.txt'), 'differ only in letter case'),
            # A member that cannot be read after others were written.
            (['@' + listed], 'cannot read'),
        ]
        for previous in (None, b'an older setup'):
            for args, why in cases:
                if previous:
                    self.write('out.exe', previous)
                p = self.mksetup('pack', '-l', LAUNCHER, '-o', output, *args, ok=False)
                self.assertNotEqual(p.returncode, 0, args)
                self.assertIn(why, p.stderr, args)
                # No partly written setup, under the output's name or beside it.
                self.assertEqual(sorted(os.listdir(self.dir)), ['in', 'list.txt'] + (['out.exe'] if previous else []),
                                 args)
                if previous:
                    with open(output, 'rb') as f:
                        self.assertEqual(f.read(), previous, args)

    def test_member_over_100_mb_streams_with_fixed_buffers(self):
        chunk = bytes(random.Random(5).choices(range(16), k=1 << 20))
        data = chunk * 101 + b'tail'
        path = self.write(os.path.join('in', 'big.cab'), data)
        setup = os.path.join(self.dir, 's.exe')
        self.mksetup('pack', '-l', LAUNCHER, '-o', setup, '--level', '1', path)
        os.remove(path)
        target = os.path.join(self.dir, 'big.cab')
        r = self.streamx('extract', winpath(setup), 'big.cab', winpath(target), '--stats', timeout=120)
        self.assertEqual(r.code, 0, r.stdout)
        with open(target, 'rb') as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(data).digest())
        stats = dict(kv.split('=') for kv in r.stdout.split() if '=' in kv)
        self.assertEqual(stats['last_done'], stats['stored'])
        self.assertLess(int(stats['peak_above_start']), 16 << 20, r.stdout)

    # ---- where the stream lies

    def signed_copy(self, src, dst):
        key, cert = os.path.join(self.dir, 'key.pem'), os.path.join(self.dir, 'cert.pem')
        if not os.path.exists(key):
            subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
                            '-days', '2', '-subj', '/CN=Stream Test'], check=True, capture_output=True, timeout=60)
        subprocess.run(['osslsigncode', 'sign', '-certs', cert, '-key', key, '-h', 'sha256', '-in', src, '-out', dst],
                       check=True, capture_output=True, timeout=60)
        return dst

    def test_stream_before_and_after_the_certificate_table(self):
        data = compressible(50000, 7)
        member = self.write(os.path.join('in', 'Setup.ini'), data)
        packed = os.path.join(self.dir, 'packed.exe')
        self.mksetup('pack', '-l', LAUNCHER, '-o', packed, member)
        # Packed, then signed: the stream stays at the image end.
        signed = self.signed_copy(packed, os.path.join(self.dir, 'signed.exe'))
        head, rows = self.listing(signed)
        self.assertEqual((head['valid'], head['start']), ('1', str(os.path.getsize(LAUNCHER))))
        # Signed, then the stream appended (the legacy layout): found after the table.
        signed_launcher = self.signed_copy(LAUNCHER, os.path.join(self.dir, 'signed_launcher.exe'))
        with open(packed, 'rb') as f:
            stream = f.read()[os.path.getsize(LAUNCHER):]
        legacy = self.setup_with(stream, 'legacy.exe', launcher=signed_launcher)
        head, rows = self.listing(legacy)
        self.assertEqual((head['valid'], head['start']), ('1', str(os.path.getsize(signed_launcher))))
        for setup in (signed, legacy):
            out = os.path.join(self.dir, 'out-' + os.path.basename(setup))
            r = self.extract_all(setup, out)
            self.assertEqual(r.code, 0, r.stdout)
            self.assertSameFiles({'Setup.ini': data}, out)
        # The tool explains why it will not pack onto a signed launcher or a file with data after its image.
        for launcher, why in ((signed_launcher, 'signed'), (packed, 'Data follows the image')):
            p = self.mksetup('pack', '-l', launcher, '-o', os.path.join(self.dir, 'x.exe'), member, ok=False)
            self.assertNotEqual(p.returncode, 0)
            self.assertIn('does not end at its PE image end', p.stderr)
            self.assertIn(why, p.stderr)

    def test_no_stream(self):
        setup = self.setup_with(b'')
        head, rows = self.listing(setup)
        self.assertEqual(head['valid'], '0')
        r = self.extract_all(setup, os.path.join(self.dir, 'out'))
        self.assertEqual(r.code, 1)
        # A header cut short is no stream either.
        setup = self.setup_with(stream_bytes([('a', 0, 0, b'x')])[:30], 'cut.exe')
        self.assertEqual(self.listing(setup)[0]['valid'], '0')

    # ---- older stream types, written by hand

    def test_types_1_to_3(self):
        plain = compressible(5000, 11)
        for stream_type in (1, 2, 3):
            sig = b'Brackenwright' if stream_type == 1 else b'QZSetupStream'
            # Types 1 and 2 key compressed data with the ANSI name, type 3 with UTF-8.
            name = 'Daten.ini'
            ckey = name.encode('utf-8' if stream_type == 3 else 'cp1252')
            z = zlib.compress(plain)
            members = [
                (name, 4, 1, scramble(z, ckey, blocks=True)),
                ('whole.txt', 2, 0, scramble(plain, b'whole.txt')),
                ('blocks.bin', 4, 0, scramble(plain, b'blocks.bin', blocks=True)),
                ('plain.z', 0, 1, z),
            ]
            setup = self.setup_with(stream_bytes(members, stream_type, signature=sig), f't{stream_type}.exe')
            head, rows = self.listing(setup)
            self.assertEqual((head['valid'], head['type'], head['count']), ('1', str(stream_type), '4'))
            out = os.path.join(self.dir, f'out{stream_type}')
            r = self.extract_all(setup, out)
            self.assertEqual(r.code, 0, (stream_type, r.stdout))
            self.assertSameFiles({n: plain for n in (name, 'whole.txt', 'blocks.bin', 'plain.z')}, out)

    # ---- damaged input

    def test_damaged_members_fail_and_leave_nothing(self):
        plain = compressible(60000, 12)
        z = zlib.compress(plain)
        corrupt = bytearray(z)
        for i in range(200, 260):
            corrupt[i] ^= 0x5A
        good = ('good.txt', 0, 0, b'fine')
        cases = {
            'corrupt': [('corrupt.bin', 0, 1, bytes(corrupt)), good],
            'short': [('short.bin', 0, 1, z[:len(z) // 2]), good],
            'dictionary': [('dict.bin', 0, 1, zlib.compressobj(zdict=b'setup stream').compress(plain))],
        }
        for label, members in cases.items():
            setup = self.setup_with(stream_bytes(members), f'{label}.exe')
            target = os.path.join(self.dir, f'{label}.out')
            r = self.streamx('extract', winpath(setup), members[0][0], winpath(target))
            self.assertEqual(r.code, 1, (label, r.stdout))
            self.assertFalse(os.path.exists(target), label)
        # A stored size beyond the file end drops the member; the count may overstate.
        setup = self.setup_with(stream_bytes([good, ('huge.bin', 0, 0, b'abc')], count=9)[:-1], 'huge.exe')
        head, rows = self.listing(setup)
        self.assertEqual(list(rows), ['good.txt'])
        r = self.extract_all(setup, os.path.join(self.dir, 'hugeout'))
        self.assertEqual(r.code, 0, r.stdout)
        self.assertSameFiles({'good.txt': b'fine'}, os.path.join(self.dir, 'hugeout'))

    def test_names_that_would_leave_the_folder_are_refused(self):
        os.makedirs(os.path.join(self.dir, 'out'))
        for bad in ('..\\evil.txt', 'sub/evil.txt', 'C:evil.txt', 'good.txt:ads', 'CON', 'nul.txt', '..'):
            setup = self.setup_with(stream_bytes([(bad, 0, 0, b'evil')]), 'bad.exe')
            r = self.extract_all(setup, os.path.join(self.dir, 'out', 'inner'))
            self.assertEqual(r.code, 1, (bad, r.stdout))
            self.assertEqual(os.listdir(os.path.join(self.dir, 'out', 'inner')), [], bad)
            self.assertEqual(sorted(os.listdir(os.path.join(self.dir, 'out'))), ['inner'], bad)
            r = self.streamx('extract', winpath(setup), bad, winpath(os.path.join(self.dir, 'out', 'inner', 'x')))
            self.assertEqual(r.code, 1, bad)
        self.assertFalse(os.path.exists(os.path.join(self.dir, 'evil.txt')))

    def test_cancel_fails_the_member_and_removes_the_part(self):
        # Stored, and compressed (where inflation used to go on to the end).
        self.write(os.path.join('in', 'data.bin'), random_bytes(100000, 13))
        self.write(os.path.join('in', 'text.bin'), compressible(4 << 20, 13))
        self.write('members.txt', b'in/data.bin\tstore\nin/text.bin\talways-compress\n')
        setup = os.path.join(self.dir, 's.exe')
        self.mksetup('pack', '-l', LAUNCHER, '-o', setup, '@' + os.path.join(self.dir, 'members.txt'))
        for name in ('data.bin', 'text.bin'):
            target = os.path.join(self.dir, name)
            r = self.streamx('extract', winpath(setup), name, winpath(target), '--cancel-at', '4096')
            self.assertEqual(r.code, 1, (name, r.stdout))
            self.assertFalse(os.path.exists(target), name)
            self.assertEqual([n for n in os.listdir(self.dir) if n.startswith('~')], [], name)

    def test_tool_defaults_listing_and_windows_build(self):
        data = {'Setup.ini': compressible(20000, 14), 'raw.bin': random_bytes(3000, 15)}
        stats = {}
        for n, d in data.items():
            stats[n] = os.stat(self.write(os.path.join('in', n), d))
        native = os.path.join(self.dir, 'native.exe')
        self.mksetup('pack', '-l', LAUNCHER, '-o', native, os.path.join(self.dir, 'in'))
        # The listing: every member with the launcher's own view of its stored size,
        # flags and compression, then its three times. By default members are
        # block-scrambled and compressed when that makes them smaller.
        lines = self.mksetup('list', native).stdout.splitlines()
        self.assertEqual(lines[:2], [f'stream at {os.path.getsize(LAUNCHER)}, type 4, 2 members',
                                     'name\tstored\tflags\tcompressed\tcreated\tlast-write\tlast-access'])
        rows = {l.split('\t')[0]: l.split('\t')[1:] for l in lines[2:]}
        stamp = lambda ns: time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(ns // 10**9))
        launcher_rows = self.listing(native)[1]
        for n, st in stats.items():
            self.assertEqual(rows[n], launcher_rows[n] + [stamp(st.st_mtime_ns), stamp(st.st_mtime_ns),
                                                          stamp(st.st_atime_ns)], n)
        self.assertEqual(rows['Setup.ini'][1:3], ['4', '1'])
        self.assertLess(int(rows['Setup.ini'][0]), len(data['Setup.ini']))
        self.assertEqual(rows['raw.bin'][:3], ['3000', '4', '0'])

        # The Windows build packs (replacing an older output), lists and extracts alike.
        setup = self.write('s.exe', b'an older setup')
        r = harness.run(MKSETUP_WIN, f'pack -l "{winpath(LAUNCHER)}" -o "{winpath(setup)}" "{winpath(os.path.join(self.dir, "in"))}"')
        self.assertEqual(r.code, 0, r.stdout + r.stderr)
        r = self.extract_all(setup, os.path.join(self.dir, 'out'))
        self.assertEqual(r.code, 0, r.stdout)
        self.assertSameFiles(data, os.path.join(self.dir, 'out'))
        r = harness.run(MKSETUP_WIN, f'list "{winpath(setup)}"')
        self.assertEqual({l.split('\t')[0]: l.split('\t')[1:4] for l in r.stdout.splitlines() if '\t' in l},
                         {**self.listing(setup)[1], 'name': ['stored', 'flags', 'compressed']}, r.stdout)
        r = harness.run(MKSETUP_WIN, f'extract "{winpath(setup)}" "{winpath(os.path.join(self.dir, "win"))}" raw.BIN')
        with open(os.path.join(self.dir, 'win', 'raw.bin'), 'rb') as f:
            self.assertEqual((r.code, os.listdir(os.path.join(self.dir, 'win')), f.read()),
                             (0, ['raw.bin'], data['raw.bin']), r.stdout)


if __name__ == '__main__':
    unittest.main()
