#!/usr/bin/python3
"""Checks the built Windows programs: image headers, imports and every resource.

Usage:
  tools/check_pe.py [--layout-only] [--arch x86|x64] PATH...

Each PATH is a folder holding Tolvane.exe and Wirrelkin.exe (dist/x86,
dist/x64) or one of the two programs. The expected architecture comes from
--arch, else from a folder named x86 or x64 on the path, else from the image
itself (which then only has to be one of the two).

--layout-only skips the imported functions that the programs' behaviour
needs; everything else (headers, DLLs, resources) is still checked. It is
meant for test programs linked with the real resources and link settings.

Needs Debian's python3-pefile, hence /usr/bin/python3. Exits 1 and lists
every mismatch, or prints one summary line and exits 0.
"""

import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

SOURCE_ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))

# ---------------------------------------------------------------------------
# Fixture: what the programs must be.

ARCHITECTURES = {
    #         machine  optional-header magic  subsystem version  OS version
    'x86': dict(machine=0x014C, magic=0x10B, subsystem=(5, 1), os=(5, 1)),
    'x64': dict(machine=0x8664, magic=0x20B, subsystem=(5, 2), os=(5, 2)),
}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2

# Every DLL either program may import: what Windows itself has.
ALLOWED_DLLS = {'kernel32.dll', 'user32.dll', 'shell32.dll', 'shlwapi.dll', 'setupapi.dll', 'hid.dll', 'msvcrt.dll'}

# Imports that show how the program was linked: the Unicode C runtime entry.
LINK_IMPORTS = {'msvcrt.dll': {'__wgetmainargs'}}
FORBIDDEN_IMPORTS = {'msvcrt.dll': {'__getmainargs'}}

# Functions the programs' work needs (not checked with --layout-only).
SHELL_IMPORTS = {
    'user32.dll': {'LoadStringW', 'LoadIconW', 'RegisterClassExW', 'CreateWindowExW', 'ShowWindow',
                   'LoadAcceleratorsW', 'GetMessageW', 'TranslateAcceleratorW', 'DispatchMessageW',
                   'DialogBoxParamW', 'EndDialog'},
    'kernel32.dll': {'CreateThread', 'ExitProcess', 'CreateFileW', 'CloseHandle'},
    'setupapi.dll': {'SetupDiGetClassDevsW', 'SetupDiEnumDeviceInterfaces', 'SetupDiGetDeviceInterfaceDetailW'},
    'hid.dll': {'HidD_GetHidGuid', 'HidD_GetAttributes', 'HidD_GetPreparsedData', 'HidP_GetCaps'},
}
PROGRAM_IMPORTS = {
    'Tolvane.exe': {'shell32.dll': {'ShellExecuteExW'}, 'kernel32.dll': {'WaitForSingleObject', 'GetModuleFileNameW'}},
    'Wirrelkin.exe': {'kernel32.dll': {'DeviceIoControl', 'WriteFile', 'Sleep'},
                      'user32.dll': {'IsWindow', 'PostMessageW', 'GetSystemMetrics'}},
}

RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 4, 5, 6, 9, 14, 16, 24
TYPE_NAMES = {RT_ICON: 'icon', RT_MENU: 'menu', RT_DIALOG: 'dialog', RT_STRING: 'string table',
              RT_ACCELERATOR: 'accelerators', RT_GROUP_ICON: 'icon group', RT_VERSION: 'version',
              RT_MANIFEST: 'manifest'}
CHINESE_PRC = 2052
ENGLISH_US = 1033

# String table: id -> text; every other id of the table's blocks is empty.
STRINGS = {
    'Tolvane.exe': {103: 'Tolvane', 109: 'TOLVANE'},
    'Wirrelkin.exe': {103: 'Wirrelkin', 109: 'WIRRELKIN'},
}

# Menu 109, the same in both programs.
MF_POPUP, MF_END = 0x10, 0x80
MENU_109 = [
    # top-level popup     items: (command, caption)
    ('文件(&F)', [(105, '退出(&X)')]),
    ('帮助(&H)', [(104, '关于(&A) ...')]),
]

# Accelerator table 109: character accelerators (no FVIRTKEY) with Alt.
FVIRTKEY, FALT, ACCEL_LAST = 0x01, 0x10, 0x80
ACCELERATORS_109 = [
    # flags  key       command
    (FALT, ord('?'), 104),
    (FALT, ord('/'), 104),
]

# Dialog 103, the About box.
BUTTON, STATIC = 0x0080, 0x0082  # predefined class atoms
ABOUT_FRAME = dict(helpId=0, exStyle=0, style=0x80C800C8, x=0, y=0, cx=170, cy=62, menu=None, windowClass=None,
                   pointSize=9, weight=0, italic=0, charset=1, typeface='MS Shell Dlg')
ABOUT_BOX = {
    'Tolvane.exe': ('关于 Tolvane', [
        # class  text                        id   x    y   cx   cy  style
        (STATIC, 128,                        -1, 14, 14,  21, 20, 0x50000003),
        (STATIC, 'Tolvane，1.0 版',          -1, 42, 14, 114,  8, 0x50020080),
        (STATIC, '虚拟键盘鼠标驱动安装程序', -1, 42, 26, 114,  8, 0x50020000),
        (BUTTON, '确定',                      1, 113, 41, 50, 14, 0x50030001),
    ]),
    'Wirrelkin.exe': ('关于 Wirrelkin', [
        (STATIC, 128,                        -1, 14, 14,  21, 20, 0x50000003),
        (STATIC, 'Wirrelkin，1.0 版',        -1, 42, 14, 114,  8, 0x50020080),
        (STATIC, '虚拟键盘鼠标清理守护程序', -1, 42, 26, 114,  8, 0x50020000),
        (BUTTON, '确定',                      1, 113, 41, 50, 14, 0x50030001),
    ]),
}

# Icon groups: the images in order as (pixels, bits per pixel, storage), and
# the checked-in file whose images they must be byte for byte.
CLASSIC_SET = [(32, 4, 'dib'), (16, 4, 'dib'), (48, 8, 'dib'), (32, 8, 'dib'), (16, 8, 'dib'),
               (48, 32, 'dib'), (32, 32, 'dib'), (16, 32, 'dib')]
LARGE_SET = [(256, 32, 'png'), (48, 32, 'dib'), (32, 32, 'dib'), (24, 32, 'dib'), (16, 32, 'dib')]
ICON_GROUPS = {
    'Tolvane.exe': {107: ('resources/installer.ico', CLASSIC_SET), 108: ('resources/installer.ico', CLASSIC_SET)},
    'Wirrelkin.exe': {107: ('resources/daemon.ico', LARGE_SET), 108: ('resources/daemon_small.ico', CLASSIC_SET)},
}

# Manifest 1 (language 1033): execution level, and the file it comes from.
MANIFESTS = {
    'Tolvane.exe': ('requireAdministrator', 'false', 'installer/installer.manifest'),
    'Wirrelkin.exe': ('asInvoker', 'false', 'daemon/daemon.manifest'),
}

# Version resource 1: the daemon only.
VERSIONS = {
    'Wirrelkin.exe': dict(
        fixed=dict(signature=0xFEEF04BD, structVersion=0x00010000,
                   fileVersion=(1, 0, 0, 0), productVersion=(1, 0, 0, 0),
                   flagsMask=0x3F, flags=0, os=0x40004, type=1, subtype=0, date=(0, 0)),
        table='080404b0',
        strings={
            'Comments': '虚拟键盘鼠标清理守护程序',
            'FileDescription': 'Wirrelkin',
            'FileVersion': '1.0.0.0',
            'InternalName': 'Wirrelkin',
            'OriginalFilename': 'Wirrelkin.exe',
            'ProductName': 'Wirrelkin',
            'ProductVersion': '1.0.0.0',
        },
        translation=[(0x0804, 1200)],
    ),
}

PROGRAMS = ('Tolvane.exe', 'Wirrelkin.exe')

# ---------------------------------------------------------------------------
# Template readers. Each raises Malformed on data that does not parse.


class Malformed(Exception):
    pass


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def Take(self, fmt):
        size = struct.calcsize(fmt)
        if self.pos + size > len(self.data):
            raise Malformed('ends at byte %d inside a field' % len(self.data))
        values = struct.unpack_from(fmt, self.data, self.pos)
        self.pos += size
        return values if len(values) > 1 else values[0]

    def Text(self):
        """A NUL-terminated UTF-16 string."""
        end = self.pos
        while True:
            if end + 2 > len(self.data):
                raise Malformed('unterminated text at byte %d' % self.pos)
            if self.data[end:end + 2] == b'\0\0':
                break
            end += 2
        text = self.data[self.pos:end].decode('utf-16-le')
        self.pos = end + 2
        return text

    def TextOrOrdinal(self):
        """sz_Or_Ord: None for an empty field, an int for an ordinal, else text."""
        first = self.Take('<H')
        if first == 0x0000:
            return None
        if first == 0xFFFF:
            return self.Take('<H')
        self.pos -= 2
        return self.Text()

    def Align(self, boundary=4):
        self.pos = (self.pos + boundary - 1) // boundary * boundary

    def AtEnd(self):
        return self.pos >= len(self.data)


def ParseStringBlock(data):
    reader = Reader(data)
    texts = []
    for _ in range(16):
        length = reader.Take('<H')
        raw = reader.data[reader.pos:reader.pos + 2 * length]
        if len(raw) != 2 * length:
            raise Malformed('string runs past the block')
        texts.append(raw.decode('utf-16-le'))
        reader.pos += 2 * length
    return texts, reader.data[reader.pos:]


def ParseMenu(data):
    """Returns [(flags, caption, children or command)] of a MENU template."""
    reader = Reader(data)
    version, offset = reader.Take('<HH')
    if version != 0:
        raise Malformed('menu template version %d, expected 0 (MENU, not MENUEX)' % version)
    reader.pos += offset

    def Items():
        items = []
        while True:
            flags = reader.Take('<H')
            if flags & MF_POPUP:
                caption = reader.Text()
                items.append((flags, caption, Items()))
            else:
                command = reader.Take('<H')
                items.append((flags, reader.Text(), command))
            if flags & MF_END:
                return items
    items = Items()
    return items, data[reader.pos:]


def ParseAccelerators(data):
    if len(data) % 8:
        raise Malformed('%d bytes is not a whole number of 8-byte entries' % len(data))
    return [struct.unpack_from('<HHHH', data, k) for k in range(0, len(data), 8)]


def ParseDialogEx(data):
    reader = Reader(data)
    version, signature = reader.Take('<HH')
    if (version, signature) != (1, 0xFFFF):
        raise Malformed('not an extended dialog template (version %d, signature 0x%04X)' % (version, signature))
    frame = {}
    frame['helpId'], frame['exStyle'], frame['style'], count = reader.Take('<IIIH')
    frame['x'], frame['y'], frame['cx'], frame['cy'] = reader.Take('<hhhh')
    frame['menu'] = reader.TextOrOrdinal()
    frame['windowClass'] = reader.TextOrOrdinal()
    caption = reader.Text()
    DS_SETFONT, DS_SHELLFONT = 0x40, 0x48
    if frame['style'] & DS_SETFONT or frame['style'] & DS_SHELLFONT == DS_SHELLFONT:
        frame['pointSize'], frame['weight'], frame['italic'], frame['charset'] = reader.Take('<HHBB')
        frame['typeface'] = reader.Text()
    controls = []
    for _ in range(count):
        reader.Align()
        helpId, exStyle, style = reader.Take('<III')
        x, y, cx, cy = reader.Take('<hhhh')
        controlId = reader.Take('<i')
        windowClass = reader.TextOrOrdinal()
        text = reader.TextOrOrdinal()
        extra = reader.Take('<H')
        reader.pos += extra
        controls.append(dict(helpId=helpId, exStyle=exStyle, style=style, x=x, y=y, cx=cx, cy=cy, id=controlId,
                             windowClass=windowClass, text=text, extra=extra))
    return frame, caption, controls, data[reader.pos:]


def ParseVersionNode(reader):
    start = reader.pos
    length, valueLength, valueType = reader.Take('<HHH')
    end = start + length
    if length < 6 or end > len(reader.data):
        raise Malformed('version node at byte %d has length %d' % (start, length))
    key = reader.Text()
    reader.Align()
    if valueType == 1:
        # Text: valueLength counts UTF-16 units including the terminator.
        raw = reader.data[reader.pos:reader.pos + 2 * valueLength]
        reader.pos += 2 * valueLength
        if valueLength and not raw.endswith(b'\0\0'):
            raise Malformed('value of %r is not NUL-terminated' % key)
        value = raw[:-2].decode('utf-16-le') if valueLength else ''
    else:
        value = reader.data[reader.pos:reader.pos + valueLength]
        reader.pos += valueLength
    reader.Align()
    children = []
    while reader.pos < end:
        children.append(ParseVersionNode(reader))
        reader.Align()
    reader.pos = end
    return key, valueType, value, children


def ParseVersion(data):
    reader = Reader(data)
    key, _, fixedRaw, children = ParseVersionNode(reader)
    if key != 'VS_VERSION_INFO' or len(fixedRaw) != 52:
        raise Malformed('root %r with a %d-byte fixed part' % (key, len(fixedRaw)))
    f = struct.unpack('<13I', fixedRaw)
    fixed = dict(signature=f[0], structVersion=f[1],
                 fileVersion=(f[2] >> 16, f[2] & 0xFFFF, f[3] >> 16, f[3] & 0xFFFF),
                 productVersion=(f[4] >> 16, f[4] & 0xFFFF, f[5] >> 16, f[5] & 0xFFFF),
                 flagsMask=f[6], flags=f[7], os=f[8], type=f[9], subtype=f[10], date=(f[11], f[12]))
    tables, translation, blocks = {}, None, []
    for childKey, _, _, grandchildren in children:
        blocks.append(childKey)
        if childKey == 'StringFileInfo':
            for tableKey, _, _, entries in grandchildren:
                tables[tableKey] = {name: value for name, _, value, _ in entries}
        elif childKey == 'VarFileInfo':
            for varKey, _, value, _ in grandchildren:
                if varKey == 'Translation':
                    if isinstance(value, str) or len(value) % 4:
                        raise Malformed('Translation value is not a list of word pairs')
                    translation = [struct.unpack_from('<HH', value, k) for k in range(0, len(value), 4)]
    return fixed, tables, translation, blocks


def IcoImages(path):
    with open(path, 'rb') as f:
        data = f.read()
    _, _, count = struct.unpack_from('<HHH', data, 0)
    images = []
    for k in range(count):
        width, height, colors, _, planes, bits, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * k)
        images.append(data[offset:offset + size])
    return images


# ---------------------------------------------------------------------------
# The checks


class Program:
    def __init__(self, path, program, arch):
        self.path = path
        self.program = program
        self.arch = arch
        self.failures = []

    def Fail(self, what, expected=None, found=None):
        if expected is None and found is None:
            self.failures.append('%s (%s): %s' % (self.path, self.arch, what))
        else:
            self.failures.append('%s (%s): %s: expected %s, found %s' % (self.path, self.arch, what, Show(expected), Show(found)))

    def Expect(self, what, expected, found):
        if expected != found:
            self.Fail(what, expected, found)
        return expected == found


def Show(value):
    if isinstance(value, int) and not isinstance(value, bool) and value > 9:
        return '0x%X' % value
    if isinstance(value, tuple):
        return '(' + ', '.join(Show(v) for v in value) + ')'
    if isinstance(value, list):
        return '[' + ', '.join(Show(v) for v in value) + ']'
    return repr(value)


def CheckHeaders(check, pe, layoutOnly):
    expected = ARCHITECTURES[check.arch]
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check.Expect('machine', expected['machine'], header.Machine)
    check.Expect('optional header magic (PE32 / PE32+)', expected['magic'], optional.Magic)
    check.Expect('subsystem', IMAGE_SUBSYSTEM_WINDOWS_GUI, optional.Subsystem)
    check.Expect('subsystem version', expected['subsystem'],
                 (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion))
    check.Expect('OS version', expected['os'],
                 (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion))
    if header.Characteristics & 0x2000:
        check.Fail('the image is a DLL')
    check.Expect('image time stamp', 0, header.TimeDateStamp)
    check.Expect('COFF symbol table (stripped image)', (0, 0), (header.PointerToSymbolTable, header.NumberOfSymbols))
    debug = optional.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_DEBUG']]
    check.Expect('debug directory size (no build id or debug record)', 0, debug.Size)
    if hasattr(pe, 'DIRECTORY_ENTRY_DELAY_IMPORT'):
        check.Fail('delay-load imports present')

    imports = {}
    for entry in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []):
        names = {i.name.decode('ascii') for i in entry.imports if i.name}
        imports.setdefault(entry.dll.decode('ascii').lower(), set()).update(names)
    for dll in sorted(set(imports) - ALLOWED_DLLS):
        check.Fail('imports %s, which Windows does not provide (allowed: %s)' % (dll, ', '.join(sorted(ALLOWED_DLLS))))
    required = [LINK_IMPORTS] + ([] if layoutOnly else [SHELL_IMPORTS, PROGRAM_IMPORTS[check.program]])
    for table in required:
        for dll, names in table.items():
            missing = names - imports.get(dll, set())
            if missing:
                check.Fail('does not import %s from %s' % (', '.join(sorted(missing)), dll))
    for dll, names in FORBIDDEN_IMPORTS.items():
        present = names & imports.get(dll, set())
        if present:
            check.Fail('imports %s from %s (ANSI C runtime entry)' % (', '.join(sorted(present)), dll))


def Resources(check, pe):
    """{(type, id, language): bytes}, checking the directories on the way."""
    found = {}
    root = getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None)
    if root is None:
        check.Fail('no resources')
        return found
    directories = [('resource directory', root.struct)]
    for typeEntry in root.entries:
        if typeEntry.name is not None:
            check.Fail('resource type with a name: %s' % typeEntry.name)
            continue
        directories.append(('type %d directory' % typeEntry.id, typeEntry.directory.struct))
        for nameEntry in typeEntry.directory.entries:
            if nameEntry.name is not None:
                check.Fail('%s resource with a name: %s' % (TYPE_NAMES.get(typeEntry.id, typeEntry.id), nameEntry.name))
                continue
            directories.append(('type %d id %d directory' % (typeEntry.id, nameEntry.id), nameEntry.directory.struct))
            for languageEntry in nameEntry.directory.entries:
                entry = languageEntry.data.struct
                found[(typeEntry.id, nameEntry.id, languageEntry.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    for what, directory in directories:
        if directory.TimeDateStamp != 0:
            check.Fail('%s time stamp' % what, 0, directory.TimeDateStamp)
    return found


def Describe(key):
    kind, ident, language = key
    return '%s %d (language %d)' % (TYPE_NAMES.get(kind, 'type %d' % kind), ident, language)


def CheckStrings(check, resources):
    expected = STRINGS[check.program]
    for block in sorted({i // 16 + 1 for i in expected}):
        data = resources.get((RT_STRING, block, CHINESE_PRC))
        if data is None:
            continue  # reported as a missing resource
        try:
            texts, rest = ParseStringBlock(data)
        except Malformed as error:
            check.Fail('string table block %d: %s' % (block, error))
            continue
        for slot, text in enumerate(texts):
            ident = (block - 1) * 16 + slot
            check.Expect('string %d' % ident, expected.get(ident, ''), text)
        if rest.strip(b'\0'):
            check.Fail('string table block %d has %d bytes after its 16 strings' % (block, len(rest)))


def CheckMenu(check, data):
    try:
        items, rest = ParseMenu(data)
    except Malformed as error:
        check.Fail('menu 109: %s' % error)
        return
    check.Expect('menu 109 top-level popups', len(MENU_109), len(items))
    for p, ((flags, caption, children), (expectedCaption, expectedItems)) in enumerate(zip(items, MENU_109)):
        last = p == len(MENU_109) - 1
        check.Expect('menu 109 popup %d flags' % p, MF_POPUP | (MF_END if last else 0), flags)
        check.Expect('menu 109 popup %d caption' % p, expectedCaption, caption)
        if not isinstance(children, list):
            continue
        check.Expect('menu 109 popup %d item count' % p, len(expectedItems), len(children))
        for k, ((itemFlags, itemCaption, command), (expectedCommand, expectedItemCaption)) in enumerate(zip(children, expectedItems)):
            lastItem = k == len(expectedItems) - 1
            where = 'menu 109 popup %d item %d' % (p, k)
            check.Expect(where + ' flags', MF_END if lastItem else 0, itemFlags)
            check.Expect(where + ' caption', expectedItemCaption, itemCaption)
            check.Expect(where + ' command', expectedCommand, command)
    if rest.strip(b'\0'):
        check.Fail('menu 109 has %d bytes after its end' % len(rest))


def CheckAccelerators(check, data):
    try:
        entries = ParseAccelerators(data)
    except Malformed as error:
        check.Fail('accelerators 109: %s' % error)
        return
    check.Expect('accelerators 109 entry count', len(ACCELERATORS_109), len(entries))
    for k, ((flags, key, command, _), (expectedFlags, expectedKey, expectedCommand)) in enumerate(zip(entries, ACCELERATORS_109)):
        last = k == len(ACCELERATORS_109) - 1
        where = 'accelerators 109 entry %d' % k
        check.Expect(where + ' flags (FALT, character; 0x80 ends the table)', expectedFlags | (ACCEL_LAST if last else 0), flags)
        check.Expect(where + ' key', '%r' % chr(expectedKey), '%r' % chr(key))
        check.Expect(where + ' command', expectedCommand, command)


def CheckDialog(check, data):
    try:
        frame, caption, controls, rest = ParseDialogEx(data)
    except Malformed as error:
        check.Fail('dialog 103: %s' % error)
        return
    expectedCaption, expectedControls = ABOUT_BOX[check.program]
    for field, value in ABOUT_FRAME.items():
        check.Expect('dialog 103 %s' % field, value, frame.get(field))
    check.Expect('dialog 103 caption', expectedCaption, caption)
    check.Expect('dialog 103 control count', len(expectedControls), len(controls))
    for k, (control, expected) in enumerate(zip(controls, expectedControls)):
        windowClass, text, ident, x, y, cx, cy, style = expected
        where = 'dialog 103 control %d' % k
        check.Expect(where + ' class', windowClass, control['windowClass'])
        check.Expect(where + ' text', text, control['text'])
        check.Expect(where + ' id', ident, control['id'])
        check.Expect(where + ' position and size', (x, y, cx, cy), (control['x'], control['y'], control['cx'], control['cy']))
        check.Expect(where + ' style', style, control['style'])
        check.Expect(where + ' extended style, help id, creation data', (0, 0, 0),
                     (control['exStyle'], control['helpId'], control['extra']))
    if rest.strip(b'\0'):
        check.Fail('dialog 103 has %d bytes after its last control' % len(rest))


def CheckIconGroup(check, group, data, resources, sourceRoot):
    icoPath, expectedImages = ICON_GROUPS[check.program][group]
    where = 'icon group %d' % group
    try:
        reserved, kind, count = struct.unpack_from('<HHH', data, 0)
    except struct.error:
        check.Fail(where + ': shorter than its header')
        return set()
    check.Expect(where + ' header (reserved, type)', (0, 1), (reserved, kind))
    if not check.Expect(where + ' image count', len(expectedImages), count) or len(data) != 6 + 14 * count:
        if len(data) != 6 + 14 * count:
            check.Fail(where + ': %d bytes for %d entries' % (len(data), count))
        return set()
    sourceImages = None
    source = os.path.join(sourceRoot, icoPath)
    if os.path.exists(source):
        sourceImages = IcoImages(source)
    ids = set()
    for k, (pixels, bits, storage) in enumerate(expectedImages):
        width, height, colors, _, planes, bitCount, size, ident = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * k)
        ids.add(ident)
        at = '%s image %d (%d px, %d bits)' % (where, k, pixels, bits)
        check.Expect(at + ' entry size', (pixels % 256, pixels % 256), (width, height))
        check.Expect(at + ' entry colour count, planes, bits', (16 if bits == 4 else 0, 1, bits), (colors, planes, bitCount))
        image = resources.get((RT_ICON, ident, CHINESE_PRC))
        if image is None:
            check.Fail(at + ': icon %d (language %d) is missing' % (ident, CHINESE_PRC))
            continue
        check.Expect(at + ' byte count in the group', len(image), size)
        if storage == 'png':
            if image[:8] != b'\x89PNG\r\n\x1a\n' or image[12:16] != b'IHDR':
                check.Fail(at + ': not stored as PNG')
            else:
                w, h, depth, colorType = struct.unpack_from('>IIBB', image, 16)
                check.Expect(at + ' PNG width, height, depth, colour type', (pixels, pixels, 8, 6), (w, h, depth, colorType))
        else:
            if len(image) < 40:
                check.Fail(at + ': shorter than a bitmap header')
                continue
            headerSize, w, h, planes, bitCount, compression = struct.unpack_from('<IiiHHI', image, 0)
            check.Expect(at + ' bitmap header (size, width, height, planes, bits, compression)',
                         (40, pixels, 2 * pixels, 1, bits, 0), (headerSize, w, h, planes, bitCount, compression))
            palette = 4 << bits if bits <= 8 else 0
            colorBytes = ((pixels * bits + 31) // 32) * 4 * pixels
            maskBytes = ((pixels + 31) // 32) * 4 * pixels
            check.Expect(at + ' byte count of header, palette, colour and mask', 40 + palette + colorBytes + maskBytes, len(image))
        if sourceImages is None:
            check.Fail('%s: %s not found, cannot compare the pictures' % (where, source))
        elif k < len(sourceImages) and image != sourceImages[k]:
            check.Fail(at + ': differs from image %d of %s' % (k, icoPath))
    return ids


def CheckManifest(check, data, sourceRoot):
    level, uiAccess, sourcePath = MANIFESTS[check.program]
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        check.Fail('manifest is not well-formed XML: %s' % error)
        return
    check.Expect('manifest root element', '{urn:schemas-microsoft-com:asm.v1}assembly', root.tag)
    levels = [e for e in root.iter() if e.tag.rsplit('}', 1)[-1] == 'requestedExecutionLevel']
    if len(levels) != 1:
        check.Fail('manifest has %d requestedExecutionLevel elements, expected 1' % len(levels))
        return
    element = levels[0]
    check.Expect('manifest trustInfo namespace', True,
                 element.tag.split('}')[0].lstrip('{') in ('urn:schemas-microsoft-com:asm.v2', 'urn:schemas-microsoft-com:asm.v3'))
    check.Expect('manifest execution level', level, element.get('level'))
    check.Expect('manifest uiAccess', uiAccess, element.get('uiAccess'))
    source = os.path.join(sourceRoot, sourcePath)
    if os.path.exists(source):
        with open(source, 'rb') as f:
            if f.read() != data:
                check.Fail('manifest differs from %s' % sourcePath)


def CheckVersion(check, data):
    expected = VERSIONS[check.program]
    try:
        fixed, tables, translation, blocks = ParseVersion(data)
    except Malformed as error:
        check.Fail('version 1: %s' % error)
        return
    for field, value in expected['fixed'].items():
        check.Expect('version 1 fixed part %s' % field, value, fixed[field])
    check.Expect('version 1 blocks', ['StringFileInfo', 'VarFileInfo'], blocks)
    check.Expect('version 1 string tables', [expected['table']], sorted(tables))
    strings = tables.get(expected['table'], {})
    for name in sorted(set(expected['strings']) | set(strings)):
        check.Expect('version 1 string %s' % name, expected['strings'].get(name), strings.get(name))
    check.Expect('version 1 translation', expected['translation'], translation)


def CheckResources(check, pe, sourceRoot):
    resources = Resources(check, pe)
    program = check.program
    expected = set()
    expected.update((RT_STRING, block, CHINESE_PRC) for block in {i // 16 + 1 for i in STRINGS[program]})
    expected.update({(RT_MENU, 109, CHINESE_PRC), (RT_ACCELERATOR, 109, CHINESE_PRC), (RT_DIALOG, 103, CHINESE_PRC),
                     (RT_MANIFEST, 1, ENGLISH_US)})
    expected.update((RT_GROUP_ICON, group, CHINESE_PRC) for group in ICON_GROUPS[program])
    if program in VERSIONS:
        expected.add((RT_VERSION, 1, CHINESE_PRC))

    iconIds = set()
    for group in sorted(ICON_GROUPS[program]):
        data = resources.get((RT_GROUP_ICON, group, CHINESE_PRC))
        if data is not None:
            iconIds |= CheckIconGroup(check, group, data, resources, sourceRoot)
    expected.update((RT_ICON, ident, CHINESE_PRC) for ident in iconIds)

    found = set(resources)
    for key in sorted(expected - found):
        check.Fail('missing %s' % Describe(key))
    for key in sorted(found - expected):
        check.Fail('unexpected %s' % Describe(key))

    CheckStrings(check, resources)
    readers = [
        ((RT_MENU, 109, CHINESE_PRC), lambda data: CheckMenu(check, data)),
        ((RT_ACCELERATOR, 109, CHINESE_PRC), lambda data: CheckAccelerators(check, data)),
        ((RT_DIALOG, 103, CHINESE_PRC), lambda data: CheckDialog(check, data)),
        ((RT_MANIFEST, 1, ENGLISH_US), lambda data: CheckManifest(check, data, sourceRoot)),
        ((RT_VERSION, 1, CHINESE_PRC), lambda data: CheckVersion(check, data)),
    ]
    for key, reader in readers:
        if key in resources and key in expected:
            reader(resources[key])


def ArchFromPath(path):
    for part in reversed(os.path.abspath(path).split(os.sep)):
        if part in ARCHITECTURES:
            return part
    return None


def ArchFromImage(pe):
    for arch, values in ARCHITECTURES.items():
        if pe.FILE_HEADER.Machine == values['machine']:
            return arch
    return None


def Collect(paths, arch):
    """[(exe path, program name, arch or None)] and a list of usage errors."""
    targets, errors = [], []
    for path in paths:
        if os.path.isdir(path):
            for program in PROGRAMS:
                exe = os.path.join(path, program)
                if os.path.isfile(exe):
                    targets.append((exe, program, arch or ArchFromPath(path)))
                else:
                    errors.append('%s: %s missing' % (path, program))
        elif os.path.isfile(path):
            names = [p for p in PROGRAMS if p.lower() == os.path.basename(path).lower()]
            if names:
                targets.append((path, names[0], arch or ArchFromPath(os.path.dirname(path))))
            else:
                errors.append('%s: neither %s' % (path, ' nor '.join(PROGRAMS)))
        else:
            errors.append('%s: no such file or folder' % path)
    return targets, errors


def Main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('paths', nargs='+', metavar='PATH', help='dist folder (x86, x64) or program file')
    parser.add_argument('--arch', choices=sorted(ARCHITECTURES), help='expected architecture of every PATH')
    parser.add_argument('--layout-only', action='store_true',
                        help='skip the imported functions that the programs\' work needs')
    parser.add_argument('--source-root', default=SOURCE_ROOT, help='tree holding resources/ and the manifests')
    args = parser.parse_args(argv[1:])

    targets, failures = Collect(args.paths, args.arch)
    checked = []
    for exe, program, arch in targets:
        try:
            pe = pefile.PE(exe)
        except pefile.PEFormatError as error:
            failures.append('%s: not a PE image: %s' % (exe, error))
            continue
        imageArch = ArchFromImage(pe)
        check = Program(exe, program, arch or imageArch or '?')
        if arch is None and imageArch is None:
            check.Fail('machine 0x%04X is neither x86 nor x64' % pe.FILE_HEADER.Machine)
        else:
            CheckHeaders(check, pe, args.layout_only)
            CheckResources(check, pe, args.source_root)
        failures.extend(check.failures)
        checked.append('%s %s' % (check.arch, program))
    if failures:
        for failure in failures:
            print('check_pe: ' + failure, file=sys.stderr)
        print('check_pe: %d mismatch(es) in %d program(s)' % (len(failures), len(checked)), file=sys.stderr)
        return 1
    print('check_pe: OK, %d program(s)%s: %s' % (len(checked), ' (layout only)' if args.layout_only else '', ', '.join(checked)))
    return 0


if __name__ == '__main__':
    sys.exit(Main(sys.argv))
