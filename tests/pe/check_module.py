#!/usr/bin/env python3
"""Checks the built ciphrel.dll as the host's loader sees it: a 32-bit i386 PE DLL whose
exports carry plain names, that imports the host library by ordinal only and nothing but
Windows system DLLs besides; and its resources against data/resources.json: the three event
menus, the string table, setup dialog 20003, bitmaps 400 and 401 and the version block.
Usage: check_module.py path/to/ciphrel.dll. Exits 1 naming each problem."""
import json
import os
import struct
import sys

import pefile

HOST_LIBRARY = "cncs232.dll"
HOST_ORDINALS = {12, 191, 308, 313, 336, 340, 395}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll"}

RT_BITMAP, RT_MENU, RT_DIALOG, RT_STRING, RT_VERSION = 2, 4, 5, 6, 16
CLASS_ATOMS = {'BUTTON': 0x80, 'EDIT': 0x81, 'STATIC': 0x82}


class Reader:
    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def read(self, layout):
        values = struct.unpack_from('<' + layout, self.data, self.at)
        self.at += struct.calcsize('<' + layout)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = next(i for i in range(self.at, len(self.data), 2) if self.data[i:i + 2] == b'\0\0')
        value, self.at = self.data[self.at:end].decode('utf-16-le'), end + 2
        return value

    def text_or_ordinal(self):
        first = self.read('H')
        if first in (0, 0xFFFF):
            return '' if first == 0 else self.read('H')
        self.at -= 2
        return self.text()


def menu_items(reader, errors):
    items = []
    while True:
        flags = reader.read('H')
        if flags & 0x10:    # a popup
            items.append([reader.text(), menu_items(reader, errors)])
        else:
            command, text = reader.read('H'), reader.text()
            items.append('separator' if command == 0 and text == '' else [command, text])
        if flags & 0x0B:    # grayed, disabled or checked
            errors.append(f'menu item {items[-1]} is not enabled and unchecked')
        if flags & 0x80:
            return items


def main(path):
    expected = json.load(open(os.path.join(os.path.dirname(__file__), '..', '..', 'data',
                                           'resources.json')))
    pe = pefile.PE(path)
    found, errors = {}, []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        errors.append("machine is not i386")
    if pe.OPTIONAL_HEADER.Magic != 0x10B or not pe.FILE_HEADER.Characteristics & 0x2000:
        errors.append("not a PE32 DLL")
    exported = [e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name]
    errors += ["decorated export name: " + name for name in exported if "@" in name]
    if len(exported) < 47:
        errors.append("only %d exports" % len(exported))
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        dll = entry.dll.decode().lower()
        if dll == HOST_LIBRARY:
            errors += ["%s import %s is not one of its ordinals" % (dll, imp.name or imp.ordinal)
                       for imp in entry.imports
                       if imp.name is not None or imp.ordinal not in HOST_ORDINALS]
        elif dll not in SYSTEM_DLLS:
            errors.append("imports a DLL outside the system allow-list: " + dll)
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for entry in kind.directory.entries:
            for language in entry.directory.entries:
                if language.id != 0x0409:
                    errors.append(f'resource {kind.id}/{entry.id} is not U.S. English')
                found[(kind.id, entry.id)] = pe.get_data(language.data.struct.OffsetToData,
                                                         language.data.struct.Size)
    for number, items in expected['menus'].items():
        data = found.get((RT_MENU, int(number)), b'\0\0\0\0\x80\0\0\0')
        actual = menu_items(Reader(data, 4 + struct.unpack_from('<H', data, 2)[0]), errors)
        if actual != [['', items]]:
            errors.append(f'menu {number} is {actual}')
    strings = {}
    for (kind, block), data in found.items():
        reader = Reader(data)
        for index in range(16 if kind == RT_STRING else 0):
            length = reader.read('H')
            if length:
                strings[(block - 1) * 16 + index] = data[reader.at:reader.at + 2 * length]\
                    .decode('utf-16-le')
            reader.at += 2 * length
    wanted = {int(k): v for k, v in expected['strings'].items()}
    wanted.update({n: strings.get(n) or '(not empty)' for n in expected['nonEmptyStrings']})
    if strings != wanted:
        errors.append(f'strings differ: {sorted(set(strings.items()) ^ set(wanted.items()))}')
    reader = Reader(found.get((RT_DIALOG, 20003), bytes(18)))
    style, _, count = reader.read('IIH')
    frame = list(reader.read('hhhh'))
    menu, window_class = reader.text_or_ordinal(), reader.text_or_ordinal()
    dialog = [style, frame, reader.text(), [reader.read('H'), reader.text()]]
    if [menu, window_class] + dialog != ['', ''] + expected['dialog']:
        errors.append(f'dialog 20003 is {dialog}')
    controls = []
    for _ in range(count):
        reader.at = (reader.at + 3) // 4 * 4
        c_style, _ = reader.read('II')
        place, number = list(reader.read('hhhh')), reader.read('H')
        c_class, c_text = reader.text_or_ordinal(), reader.text_or_ordinal()
        extra = reader.read('H')
        reader.at += extra
        controls.append([number, CLASS_ATOMS.get(str(c_class).upper(), c_class), c_text, place,
                         c_style])
    if controls != expected['controls']:
        errors.append(f'dialog 20003 controls are {controls}')
    bitmaps = [found.get((RT_BITMAP, number), b'') for number in (400, 401)]
    for number, data in zip((400, 401), bitmaps):
        palette = [list(data[40 + 4 * i:43 + 4 * i][::-1]) for i in range(16)]
        if len(data) != 616 or struct.unpack_from('<IiiHHI', data) != (40, 32, 32, 1, 4, 0) \
                or palette != expected['palette'] or len(set(data[104:])) < 2:
            errors.append(f'bitmap {number} is not a 32 x 32 picture in the 16 standard colours')
    if bitmaps[0][104:] == bitmaps[1][104:]:
        errors.append('bitmaps 400 and 401 show the same image')
    if found.get((10, 200)) != bytes.fromhex(expected['data200']):
        errors.append('data resource 200 is not as expected')
    if not any(kind == RT_VERSION for kind, _ in found):
        errors.append('no version resource')
    for error in errors:
        print('check_module: ' + error, file=sys.stderr)
    print(f'check_module: {path}: {len(errors)} problems')
    return 1 if errors else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
