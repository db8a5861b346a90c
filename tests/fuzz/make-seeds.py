#!/usr/bin/env python3
"""Regenerates the fuzz seeds made from the project's own build and fixtures.

  tests/fuzz/make-seeds.py [ROOT]      (after scripts/build.sh)

- fuzz_stream_directory: the real launcher's PE headers with a stream packed by
  build/native/mksetup, cut to a few KiB with the image-end rule kept; the same
  with a ".debug" section whose debug data lies past the image end; the same
  signed-style, with a certificate table after the stream.
- fuzz_settings, fuzz_inifilex, fuzz_iniprofile: the setup.ini texts the unit and
  integration tests use (string literals of tests/unit and tests/integration).
- fuzz_support, fuzz_ui_texts, fuzz_string_table: the launcher's own string-table
  blocks, its texts with fillers, and its dialog templates.
- fuzz_prq, fuzz_xml: the .prq texts of the prerequisite unit tests (tests/unit/prq),
  loaded with evaluation for fuzz_prq.

Only files with the prefixes below are replaced; hand-written seeds stay.
"""
import ast
import hashlib
import os
import pathlib
import re
import struct
import subprocess
import sys
import tempfile

PREFIXES = ('launcher_', 'fixture_', 'rsrc_')
MAX_SEED = 8192  # scripts/fuzz.sh runs with -max_len=8192
SECTION_KEEP = 64  # bytes of each section kept in the cut launcher


# ---- PE -----------------------------------------------------------------------

class Pe:
    def __init__(self, data):
        self.data = data
        self.pe = struct.unpack_from('<I', data, 0x3C)[0]
        self.nsections = struct.unpack_from('<H', data, self.pe + 6)[0]
        opt_size = struct.unpack_from('<H', data, self.pe + 20)[0]
        self.opt = self.pe + 24
        assert struct.unpack_from('<H', data, self.opt)[0] == 0x20B, 'a 64-bit launcher'
        self.headers = struct.unpack_from('<I', data, self.opt + 60)[0]
        self.dirs = self.opt + 112
        self.table = self.opt + opt_size
        self.sections = []
        for i in range(self.nsections):
            at = self.table + 40 * i
            name = data[at:at + 8].rstrip(b'\0')
            vsize, va, raw_size, raw_ptr = struct.unpack_from('<IIII', data, at + 8)
            self.sections.append((name, vsize, va, raw_size, raw_ptr))

    def image_end(self):
        return self.headers + sum(s[3] for s in self.sections)

    def offset_of(self, rva):
        for _, vsize, va, raw_size, raw_ptr in self.sections:
            if va <= rva < va + max(vsize, raw_size):
                return rva - va + raw_ptr
        raise ValueError(hex(rva))

    def directory(self, index):
        return struct.unpack_from('<II', self.data, self.dirs + 8 * index)


def cut_launcher(pe, stream, debug=False, certificate=False):
    """The launcher's headers and SECTION_KEEP bytes of each section, then the stream."""
    head = bytearray(pe.data[:pe.headers])
    body = bytearray()
    at = pe.headers
    for i, (_, _, _, raw_size, raw_ptr) in enumerate(pe.sections):
        keep = min(raw_size, SECTION_KEEP)
        struct.pack_into('<II', head, pe.table + 40 * i + 16, keep, at if keep else 0)
        body += pe.data[raw_ptr:raw_ptr + keep]
        at += keep
    tail = b''
    if debug:
        # One more section, ".debug", holding one debug directory entry whose data
        # lies after the image end: the stream starts after that data.
        assert pe.table + 40 * (pe.nsections + 1) <= pe.headers
        last = pe.sections[-1]
        va = (last[2] + max(last[1], last[3]) + 0xFFF) & ~0xFFF
        entry = bytearray(28)
        debug_data = b'RSDS' + bytes(range(16)) + struct.pack('<I', 1) + b'setup.pdb\0'
        image_end = at + len(entry)
        struct.pack_into('<IIII', entry, 12, 2, len(debug_data), 0, image_end)  # type CodeView
        section = struct.pack('<8sIIIIIIHHI', b'.debug', len(entry), va, len(entry), at, 0, 0, 0, 0, 0x42000040)
        head[pe.table + 40 * pe.nsections:pe.table + 40 * (pe.nsections + 1)] = section
        struct.pack_into('<H', head, pe.pe + 6, pe.nsections + 1)
        struct.pack_into('<II', head, pe.dirs + 8 * 6, va, len(entry))
        body += entry
        tail = debug_data
    out = head + body + tail + stream
    if certificate:
        # Signed after packing: the certificate table follows the stream.
        table = struct.pack('<IHH', 64, 0x0200, 0x0002) + bytes(56)
        struct.pack_into('<II', out, pe.dirs + 8 * 4, len(out), len(table))
        out += table
    return bytes(out)


def resources(pe):
    """(type, id, language, bytes) of every resource with numeric type and id."""
    rva, _ = pe.directory(2)
    base = pe.offset_of(rva)
    d = pe.data

    def entries(at):
        named, ids = struct.unpack_from('<HH', d, base + at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from('<II', d, base + at + 16 + 8 * i)
            yield name, target

    out = []
    for rtype, t in entries(0):
        if rtype & 0x80000000 or not t & 0x80000000:
            continue
        for rid, n in entries(t & 0x7FFFFFFF):
            if rid & 0x80000000 or not n & 0x80000000:
                continue
            for lang, leaf in entries(n & 0x7FFFFFFF):
                data_rva, size = struct.unpack_from('<II', d, base + leaf)
                at = pe.offset_of(data_rva)
                out.append((rtype, rid, lang, d[at:at + size]))
    return out


def string_block_texts(block):
    texts, at = [], 0
    while at + 2 <= len(block) and len(texts) < 16:
        n = struct.unpack_from('<H', block, at)[0]
        texts.append(block[at + 2:at + 2 + 2 * n].decode('utf-16-le', 'replace'))
        at += 2 + 2 * n
    return texts


# ---- setup.ini texts of the tests --------------------------------------------

INI_MARKS = (b'[Startup]', b'[Languages]', b'[MsiVersion]')
PRQ_MARKS = (b'<properties', b'<condition', b'<operatingsystemcondition', b'<execute', b'<file ', b'<behavior',
             b'<wpmpackage', b'<dependency')
CPP_LITERAL = re.compile(r'(?:u8|[LuU])?"((?:[^"\\\n]|\\.)*)"')


def cpp_unescape(body):
    out, i = bytearray(), 0
    simple = {'n': 10, 'r': 13, 't': 9, '0': 0, '\\': 92, '"': 34, "'": 39, 'a': 7, 'b': 8, 'f': 12, 'v': 11, '?': 63}
    while i < len(body):
        c = body[i]
        if c != '\\':
            out += c.encode('utf-8')
            i += 1
            continue
        e = body[i + 1]
        if e == 'x':
            m = re.match(r'[0-9a-fA-F]+', body[i + 2:])
            v = int(m.group(0), 16)
            out += bytes([v]) if v < 256 else chr(v).encode('utf-8', 'surrogatepass')
            i += 2 + len(m.group(0))
        elif e in 'uU':
            k = 4 if e == 'u' else 8
            out += chr(int(body[i + 2:i + 2 + k], 16)).encode('utf-8', 'surrogatepass')
            i += 2 + k
        else:
            out.append(simple.get(e, ord(e)))
            i += 2
    return bytes(out)


def cpp_texts(source):
    """Adjacent string literals of a C++ source, joined, comments left out."""
    text = re.sub(r'//[^\n]*|/\*.*?\*/', lambda m: ' ' * len(m.group(0)), source, flags=re.S)
    text = re.sub(r"'(?:[^'\\\n]|\\.)*'", lambda m: ' ' * len(m.group(0)), text)
    groups, current, end = [], [], -1
    for m in CPP_LITERAL.finditer(text):
        if current and text[end:m.start()].strip():
            groups.append(b''.join(current))
            current = []
        current.append(cpp_unescape(m.group(1)))
        end = m.end()
    if current:
        groups.append(b''.join(current))
    return groups


def python_texts(source):
    texts = []
    tree = ast.parse(source)
    inside_f = {id(v) for node in ast.walk(tree) if isinstance(node, ast.JoinedStr) for v in node.values}
    for node in ast.walk(tree):
        if isinstance(node, ast.Constant) and id(node) not in inside_f:
            if isinstance(node.value, bytes):
                texts.append(node.value)
            elif isinstance(node.value, str):
                texts.append(node.value.encode('utf-8'))
    return texts


def ini_fixtures(root):
    found = {}
    for path in sorted((root / 'tests/unit').rglob('*.cpp')) + sorted((root / 'tests/integration').glob('*.py')):
        source = path.read_text(encoding='utf-8')
        texts = python_texts(source) if path.suffix == '.py' else cpp_texts(source)
        for t in texts:
            if any(m in t for m in INI_MARKS) and b'=' in t and b'\n' in t and len(t) < MAX_SEED - 2:
                found.setdefault(hashlib.sha1(t).hexdigest(), (path.stem, t))
    by_source = {}
    for stem, t in sorted(found.values()):
        by_source.setdefault(stem, []).append(t)
    return [(f'{stem}_{i}', t) for stem, ts in by_source.items() for i, t in enumerate(ts)]


def prq_fixtures(root):
    found = {}
    for path in sorted((root / 'tests/unit/prq').glob('*.cpp')):
        for t in cpp_texts(path.read_text(encoding='utf-8')):
            if any(m in t for m in PRQ_MARKS) and len(t) < MAX_SEED - 2:
                found.setdefault(hashlib.sha1(t).hexdigest(), (path.stem, t))
    by_source = {}
    for stem, t in sorted(found.values()):
        by_source.setdefault(stem, []).append(t)
    return [(f'{stem}_{i}', t) for stem, ts in by_source.items() for i, t in enumerate(ts)]


# ---- output -------------------------------------------------------------------

def write(corpus, target, name, data):
    assert len(data) <= MAX_SEED, (target, name, len(data))
    folder = corpus / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2])
    corpus = root / 'tests/fuzz/corpus'
    launcher = root / 'build/win/setup.exe'
    mksetup = root / 'build/native/mksetup'
    for f in corpus.glob('*/*'):
        if f.name.startswith(PREFIXES):
            f.unlink()

    pe = Pe(launcher.read_bytes())
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        (tmp / 'Setup.INI').write_bytes(b'[Startup]\r\nPackageName=demo.msi\r\nProduct=Demo\r\n[demo.msi]\r\nType=1\r\n')
        (tmp / 'readme.txt').write_bytes((root / 'tests/data/demo/readme.txt').read_bytes()[:600])
        for member in ('Setup.INI', 'readme.txt'):
            os.utime(tmp / member, (1577836800, 1577836800))  # fixed times: the same seeds on every run
        (tmp / 'list').write_text(f'{tmp / "Setup.INI"}\n{tmp / "readme.txt"}\tstore scramble=both\n')
        packed = tmp / 'setup.exe'
        subprocess.run([str(mksetup), 'pack', '-l', str(launcher), '-o', str(packed), '@' + str(tmp / 'list')],
                       check=True, stdout=subprocess.DEVNULL)
        stream = packed.read_bytes()[pe.image_end():]
    write(corpus, 'fuzz_stream_directory', 'launcher_stream', cut_launcher(pe, stream))
    write(corpus, 'fuzz_stream_directory', 'launcher_stream_debug', cut_launcher(pe, stream, debug=True))
    write(corpus, 'fuzz_stream_directory', 'launcher_stream_signed', cut_launcher(pe, stream, certificate=True))

    for name, text in ini_fixtures(root):
        write(corpus, 'fuzz_settings', 'fixture_' + name, text)
        write(corpus, 'fuzz_inifilex', 'fixture_' + name, b'\x00' + text)  # code page by the text, "=", values
        write(corpus, 'fuzz_iniprofile', 'fixture_' + name, b'\x80' + text)  # ANSI, 64-character buffers

    for name, text in prq_fixtures(root):
        write(corpus, 'fuzz_prq', 'fixture_' + name, b'\x01' + text)  # evaluated, ordinary kind
        write(corpus, 'fuzz_xml', 'fixture_' + name, text)

    for rtype, rid, lang, data in resources(pe):
        if rtype == 6:  # string-table block: strings (rid - 1) * 16 ...
            write(corpus, 'fuzz_support', f'rsrc_strings_{rid}', data)
            for i, text in enumerate(string_block_texts(data)):
                if '%' in text:
                    pattern = text.replace('\n', ' ').encode('utf-8')
                    write(corpus, 'fuzz_ui_texts', f'rsrc_text_{(rid - 1) * 16 + i}',
                          pattern + b'\nC:\\Temp\\setup.msi\n1603\n')
        elif rtype == 5:  # dialog template; the first two bytes choose the language
            write(corpus, 'fuzz_string_table', f'rsrc_dialog_{rid}', bytes([0x80 | (lang & 0x7F), lang >> 8]) + data)


if __name__ == '__main__':
    main()
