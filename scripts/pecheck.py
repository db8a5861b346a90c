#!/usr/bin/env python3
"""pecheck.py FILE.exe...: checks the shape of a built launcher.

A launcher must be a 64-bit (PE32+, x86-64) GUI program whose file ends where its
PE image ends (its data stream is appended there and found there), that imports
(directly or delay-loaded) only known system libraries (which the loader takes
from the system folder, whatever lies beside it or in a ".local" folder;
everything else is bound on first use), and that carries its manifest
(administrator level, common controls 6, DPI awareness, the supportedOS ids Vista
to 10), a version resource and an icon.

Prints what is wrong with each file and exits 1 when any check fails, else 0.
Written from the PE/COFF format description; only the standard library is used."""
import struct
import sys
import xml.etree.ElementTree as ET

MACHINE_AMD64 = 0x8664
PE32_PLUS = 0x20B
SUBSYSTEM_WINDOWS_GUI = 2
DIR_IMPORT, DIR_RESOURCE, DIR_SECURITY = 1, 2, 4
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24

# The C runtime comes from the system (msvcrt); everything of the toolchain is static.
RUNTIME_DLLS = ('libgcc_s', 'libstdc++', 'libwinpthread', 'zlib', 'libz')
# The only imports allowed: known DLLs of every supported system (the
# KnownDLLs list), never searched for beside the program nor redirected.
ALLOWED_IMPORTS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll', 'ole32.dll',
                   'oleaut32.dll', 'comdlg32.dll', 'shlwapi.dll', 'msvcrt.dll', 'rpcrt4.dll'}
SUPPORTED_OS = {
    '{e2011457-1546-43c5-a5fe-008deee3d3f0}',  # Vista
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',  # 7
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}',  # 8
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',  # 8.1
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}',  # 10
}


class BadImage(Exception):
    pass


class Image:
    """The headers, sections and data directories of one PE file."""

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b'MZ':
            raise BadImage('no MZ header')
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b'PE\0\0':
            raise BadImage('no PE signature')
        (self.machine, sections, _, self.symbols, self.symbol_count, optional_size,
         _) = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = self.u16(opt)
        if self.magic != PE32_PLUS:
            raise BadImage(f'optional header magic {self.magic:#x}, not PE32+')
        self.subsystem = self.u16(opt + 68)
        self.headers_size = self.u32(opt + 60)
        count = self.u32(opt + 108)
        self.dirs = [struct.unpack_from('<II', data, opt + 112 + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw_ptr = struct.unpack_from('<8sIIII', data, table + 40 * i)
            self.sections.append((name.rstrip(b'\0').decode('ascii', 'replace'), vsize, rva, raw_size, raw_ptr))

    def u16(self, at):
        return struct.unpack_from('<H', self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from('<I', self.data, at)[0]

    def directory(self, index):
        return self.dirs[index] if index < len(self.dirs) else (0, 0)

    def offset(self, rva):
        """The file offset of an address in the loaded image."""
        for _, vsize, start, raw_size, raw_ptr in self.sections:
            if start <= rva < start + max(vsize, raw_size):
                if rva - start >= raw_size:
                    raise BadImage(f'address {rva:#x} has no file data')
                return raw_ptr + rva - start
        raise BadImage(f'address {rva:#x} lies in no section')

    def c_string(self, rva):
        at = self.offset(rva)
        end = self.data.index(b'\0', at)
        return self.data[at:end].decode('ascii', 'replace')

    def image_end(self):
        """Where the PE image ends in the file: the last section's raw data, or the
        certificate table (whose directory holds a file offset) when it lies later."""
        end = self.headers_size
        for _, _, _, raw_size, raw_ptr in self.sections:
            if raw_size:
                end = max(end, raw_ptr + raw_size)
        cert_at, cert_size = self.directory(DIR_SECURITY)
        if cert_size:
            end = max(end, cert_at + cert_size)
        return end

    def imports(self):
        rva, size = self.directory(DIR_IMPORT)
        names = []
        if not size:
            return names
        at = self.offset(rva)
        while True:
            lookup, _, _, name_rva, thunk = struct.unpack_from('<IIIII', self.data, at)
            if not (lookup or name_rva or thunk):
                return names
            names.append(self.c_string(name_rva))
            at += 20

    def delay_imports(self):
        """The libraries of the delay-load descriptors (RVA-based, 32 bytes each).
        The toolchain's delay-import libraries leave the header's delay-import
        directory empty, so the descriptors are found by their shape: attribute 1,
        a name, a module handle slot, an address and a name table, the three
        trailing fields zero, and a name that is a ".dll" file name."""
        names = []
        for _, _, _, raw_size, raw_ptr in self.sections:
            for at in range(raw_ptr, raw_ptr + raw_size - 31, 4):
                attrs, name_rva, hmod, iat, table, bound, unload, stamp = struct.unpack_from('<8I', self.data, at)
                if attrs != 1 or not (name_rva and hmod and iat and table) or bound or unload or stamp:
                    continue
                try:
                    name = self.c_string(name_rva)
                except (BadImage, ValueError):
                    continue
                if name.lower().endswith('.dll') and name.isprintable() and len(name) < 64:
                    names.append(name)
        return names

    def resources(self):
        """{type: {id or name: [data bytes, one per language]}} from the resource tree."""
        rva, size = self.directory(DIR_RESOURCE)
        if not size:
            return {}
        base = self.offset(rva)

        def entries(at):
            named, numbered = struct.unpack_from('<HH', self.data, base + at + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from('<II', self.data, base + at + 16 + 8 * i)
                if name & 0x80000000:
                    length = self.u16(base + (name & 0x7FFFFFFF))
                    start = base + (name & 0x7FFFFFFF) + 2
                    name = self.data[start:start + 2 * length].decode('utf-16-le')
                yield name, target

        def leaf(target):
            if target & 0x80000000:
                raise BadImage('resource tree deeper than type, name and language')
            data_rva, data_size = struct.unpack_from('<II', self.data, base + target)
            at = self.offset(data_rva)
            return self.data[at:at + data_size]

        tree = {}
        for kind, names in entries(0):
            if not names & 0x80000000:
                raise BadImage('resource type without a directory')
            for name, languages in entries(names & 0x7FFFFFFF):
                if not languages & 0x80000000:
                    raise BadImage('resource name without a directory')
                tree.setdefault(kind, {})[name] = [leaf(t) for _, t in entries(languages & 0x7FFFFFFF)]
        return tree


def local(tag):
    return tag.rsplit('}', 1)[-1]


def manifest_problems(text):
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        return [f'manifest is not well-formed XML ({e})']
    found = list(root.iter())
    problems = []
    levels = [e.get('level') for e in found if local(e.tag) == 'requestedExecutionLevel']
    if levels != ['requireAdministrator']:
        problems.append(f'manifest execution level {levels}, not requireAdministrator')
    controls = [e for e in found if local(e.tag) == 'assemblyIdentity'
                and e.get('name') == 'Microsoft.Windows.Common-Controls']
    if not any(e.get('version', '').startswith('6.') for e in controls):
        problems.append('manifest does not depend on common controls 6')
    dpi = [(e.text or '').strip().lower() for e in found if local(e.tag) in ('dpiAware', 'dpiAwareness')]
    if not any(v in ('true', 'true/pm', 'per monitor', 'permonitor', 'permonitorv2', 'system') for v in dpi):
        problems.append('manifest declares no DPI awareness')
    ids = {(e.get('Id') or '').lower() for e in found if local(e.tag) == 'supportedOS'}
    missing = SUPPORTED_OS - ids
    if missing:
        problems.append(f'manifest lacks supportedOS {sorted(missing)}')
    return problems


def version_problems(blobs):
    if not blobs:
        return ['no version resource']
    data = blobs[0]
    key = 'VS_VERSION_INFO'
    if len(data) < 6 + 2 * (len(key) + 1) or data[6:6 + 2 * len(key)].decode('utf-16-le', 'replace') != key:
        return ['version resource is not a VS_VERSION_INFO block']
    fixed = (6 + 2 * (len(key) + 1) + 3) & ~3  # the fixed part starts on a 32-bit boundary
    if len(data) < fixed + 4 or struct.unpack_from('<I', data, fixed)[0] != 0xFEEF04BD:
        return ['version resource has no fixed file information']
    return []


def icon_problems(tree):
    groups = tree.get(RT_GROUP_ICON, {})
    if not groups:
        return ['no icon']
    icons = tree.get(RT_ICON, {})
    problems = []
    for name, blobs in groups.items():
        data = blobs[0]
        reserved, kind, count = struct.unpack_from('<HHH', data, 0) if len(data) >= 6 else (1, 0, 0)
        if reserved != 0 or kind != 1 or count == 0 or len(data) < 6 + 14 * count:
            problems.append(f'icon {name} is not an icon group')
            continue
        for i in range(count):
            ident = struct.unpack_from('<H', data, 6 + 14 * i + 12)[0]
            if ident not in icons:
                problems.append(f'icon {name} names image {ident}, which is missing')
    return problems


def check(path):
    """The problems of one file (empty when it passes)."""
    with open(path, 'rb') as f:
        data = f.read()
    try:
        image = Image(data)
        problems = []
        if image.machine != MACHINE_AMD64:
            problems.append(f'machine {image.machine:#x}, not x86-64')
        if image.subsystem != SUBSYSTEM_WINDOWS_GUI:
            problems.append(f'subsystem {image.subsystem}, not the Windows GUI')
        end = image.image_end()
        if len(data) != end:
            why = ' (a COFF symbol table: not stripped)' if image.symbols else ''
            problems.append(f'file ends at {len(data)}, the PE image at {end}{why}')
        for dll in image.imports():
            low = dll.lower()
            if low.startswith(RUNTIME_DLLS):
                problems.append(f'imports the runtime library {dll}')
            elif low not in ALLOWED_IMPORTS:
                problems.append(f'imports {dll}: only known system libraries may be imported, '
                                'anything else must be bound when first used')
        # Delay-loaded libraries are searched for by name when first called:
        # the same known system libraries only.
        for dll in image.delay_imports():
            if dll.lower() not in ALLOWED_IMPORTS:
                problems.append(f'delay-loads {dll}: only known system libraries may be delay-loaded')
        tree = image.resources()
        manifests = tree.get(RT_MANIFEST, {}).get(1)
        if not manifests:
            problems.append('no manifest (resource 24, id 1)')
        else:
            problems += manifest_problems(manifests[0])
        problems += version_problems(next(iter(tree.get(RT_VERSION, {}).values()), []))
        problems += icon_problems(tree)
        return problems
    except (BadImage, struct.error, ValueError, IndexError) as e:
        return [f'not a readable PE image: {e}']


def main(paths):
    if not paths:
        print(__doc__.split('\n\n')[0], file=sys.stderr)
        return 2
    failed = False
    for path in paths:
        problems = check(path)
        for p in problems:
            print(f'{path}: {p}')
        if not problems:
            print(f'{path}: ok')
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
