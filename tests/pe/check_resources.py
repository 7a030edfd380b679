#!/usr/bin/env python3
"""Checks the resources compiled into the built module: the three event menus, the string
table, setup dialog 20003, bitmaps 400 and 401, data resource 200 and the version block.
Usage: check_resources.py path/to/ciphrel.dll. Exits 1 and names every mismatch."""
import struct
import sys

import pefile

RT_BITMAP, RT_MENU, RT_DIALOG, RT_STRING, RT_RCDATA, RT_VERSION = 2, 4, 5, 6, 10, 16
US_ENGLISH = 0x0409

MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_POPUP, MF_END = 0x01, 0x02, 0x08, 0x10, 0x80

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER = 0x00C00000, 0x00800000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_GROUPBOX, BS_CENTER = 0, 1, 3, 7, 0x300
SS_LEFT, SS_BITMAP = 0, 0x0E
ES_LEFT, ES_AUTOHSCROLL = 0, 0x80
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
# A template may name a predefined class instead of giving its atom; Windows takes both.
CLASS_ATOMS = {'BUTTON': BUTTON, 'EDIT': EDIT, 'STATIC': STATIC}

SEP = ('separator',)


def popup(text, *children):
    return ('popup', text, list(children))


def item(command, text):
    return ('item', command, text)


EXPECTED_MENUS = {
    20000: [popup('',
        popup('Settings',
              item(25110, 'Enable Filtering of Characters with Codes 0 to 31'),
              item(25120, 'Disable Filtering of Characters with Codes 0 to 31'),
              SEP,
              item(25100, 'Pad End of Files with Zeros'),
              item(25090, 'Do not Pad End of Files with Zeros')),
        popup('Encryption Keys',
              item(25000, 'Add an Encryption Key'),
              item(25010, 'Remove an Encryption Key')),
        popup('Files',
              item(25070, 'Encrypt a File'),
              item(25080, 'Decrypt a File'),
              SEP,
              item(25130, 'Set File Work Time Interval'),
              item(25140, 'Set File Work Percentage Interval')),
        popup('Character Filter',
              item(25020, 'Add Characters to Filter'),
              item(25030, 'Add a Character to Filter by Code'),
              item(25040, 'Remove Characters from Filter'),
              item(25050, 'Remove a Character from Filter by Code')),
        popup('Errors',
              item(25060, 'Clear Expression Error Code')))],
    20001: [popup('',
        popup('Settings',
              item(26050, 'Is Filtering of Characters with Codes 0 to 31 Enabled?'),
              item(26040, 'Is Set to Pad End of Files with Zeros?')),
        popup('Encryption Keys',
              item(26010, 'Does a Specific Key Exist?')),
        popup('Files',
              item(26070, 'Is File Being Encrypted/Decrypted?'),
              item(26060, 'Has File Finished Being Encrypted/Decrypted?')),
        popup('Character Filter',
              item(26020, 'Is a Specific Character Being Filtered?'),
              item(26030, 'Is a Specific Character (by Code) Being Filtered?')),
        popup('Errors',
              item(26000, 'Has an Error Occured?')))],
    20002: [popup('',
        popup('Encryption Keys',
              item(27100, 'Create a Random Key')),
        popup('Floats',
              item(27010, 'Convert a Float to an Integer'),
              item(27040, 'Convert an Integer Back to a Float')),
        popup('Encrypting',
              item(27000, 'Encrypt an Integer'),
              item(27020, 'Encrypt a String')),
        popup('Decrypting',
              item(27030, 'Decrypt an Integer'),
              item(27050, 'Decrypt a String')),
        popup('Files',
              item(27110, 'Get File Work Time Interval'),
              item(27130, 'Get File Work Percentage Interval'),
              SEP,
              item(27140, 'Get File Size'),
              item(27120, 'Get File Work Progress')),
        popup('Filtering',
              item(27060, 'Filter a String'),
              item(27070, 'Defilter a String')),
        popup('Errors',
              item(27080, 'Get Current Error Code'),
              item(27090, 'Get Current Expression Error Code')))],
}

EXPECTED_STRINGS = {
    1: 'CC2',
    2: 'Ciphrel Object',
    3: 'Create a new Ciphrel Encryption Object',
    4: ' %s : Ciphrel Encryption Object',
    128: 'Ciphrel Encryption Object',
    5000: 'Add Key %0',
    5010: 'Remove Key %0',
    5020: 'Add Characters %0 to the Filter',
    5030: 'Add Character with Code %0 to the Filter',
    5040: 'Remove Characters %0 from the Filter',
    5050: 'Remove Character with Code %0 from the Filter',
    5060: 'Clear Expression Error Code',
    5070: 'Encrypt File %1 with Key %0',
    5080: 'Decrypt File %1 with Key %0',
    5090: 'Do not Pad End of Files with Zeros',
    5100: 'Pad End of Files with Zeros',
    5110: 'Enable Filtering of Characters with Codes 0 to 31',
    5120: 'Disable Filtering of Characters with Codes 0 to 31',
    5130: 'Set File Work Time Interval to %0 Milliseconds',
    5140: 'Set File Work Percentage Interval to %0 %%',
    6000: '%o: On Error',
    6010: '%o: Key %0 Exists',
    6020: '%o: Character %0 is Being Filtered',
    6030: '%o: Character with Code %0 is Being Filtered',
    6040: '%o: Set to Pad End of Files with Zeros',
    6050: '%o: Filtering of Characters with Codes 0 to 31 is Enabled',
    6060: '%o: File is Done Being Encrypted/Decrypted',
    6070: '%o: File is Being Encrypted/Decrypted',
    7000: 'EncryptInteger(',
    7010: 'ConvertToInteger(',
    7020: 'EncryptString$(',
    7030: 'DecryptInteger(',
    7040: 'ConvertToFloat(',
    7050: 'DecryptString$(',
    7060: 'FilterString$(',
    7070: 'DefilterString$(',
    7080: 'ErrorCode(',
    7090: 'ExpressionErrorCode(',
    7100: 'RandomKey$(',
    7110: 'FileTimeInterval(',
    7120: 'FileProgress(',
    7130: 'FilePercentInterval(',
    7140: 'FileSize(',
    30001: 'Enter the Encryption Key',
    30002: 'Enter the Characters',
    30003: 'Enter the Character Code',
    30004: 'Enter the Character',
    30005: 'Enter the File',
    30006: 'Enter the File Work Time Interval in Milliseconds (0 to Disable)',
    30007: 'Enter the File Work Percentage Interval (0 to Disable)',
}
# Author, copyright line and web address: any non-empty text. No comment string (131).
FREE_STRINGS = (129, 130, 132)

CHILD = WS_CHILD | WS_VISIBLE
EXPECTED_DIALOG_STYLE = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT
# (ID, class atom, text, (left, top, width, height), style), in template order; a text
# given as a number is a resource ordinal.
EXPECTED_CONTROLS = [
    (1, BUTTON, 'OK', (28, 135, 50, 14), CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON),
    (2, BUTTON, 'Cancel', (94, 135, 50, 14), CHILD | WS_TABSTOP | BS_PUSHBUTTON),
    (9000, BUTTON, '', (5, 6, 161, 125), CHILD | BS_GROUPBOX),
    (9001, STATIC, 401, (10, 17, 21, 20), CHILD | SS_BITMAP),
    (9008, BUTTON, 'Filter Characters with Codes 0 to 31', (35, 17, 127, 10),
     CHILD | WS_TABSTOP | BS_AUTOCHECKBOX),
    (9009, BUTTON, 'Do not Pad End of Files with Zeros', (35, 27, 125, 10),
     CHILD | WS_TABSTOP | BS_AUTOCHECKBOX),
    (9000, STATIC, 'Characters to Filter (do not separate characters):', (10, 41, 152, 8),
     CHILD | WS_GROUP | SS_LEFT),
    (9002, EDIT, '', (10, 52, 152, 14), CHILD | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL),
    (9000, STATIC, 'Character Codes to Filter (separate with spaces):', (10, 70, 153, 8),
     CHILD | WS_GROUP | SS_LEFT),
    (9003, EDIT, '', (10, 81, 152, 14), CHILD | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL),
    (9000, BUTTON, 'Presets', (10, 98, 152, 29), CHILD | BS_GROUPBOX | BS_CENTER),
    (9006, BUTTON, 'Default', (33, 107, 45, 15), CHILD | WS_TABSTOP | BS_PUSHBUTTON),
    (9007, BUTTON, 'Internet', (94, 107, 45, 15), CHILD | WS_TABSTOP | BS_PUSHBUTTON),
]

# The standard 16-colour palette as (red, green, blue).
STANDARD_PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


class Reader:
    """Little-endian reader over one resource's bytes."""

    def __init__(self, data):
        self.data, self.offset = data, 0

    def read(self, layout):
        values = struct.unpack_from('<' + layout, self.data, self.offset)
        self.offset += struct.calcsize('<' + layout)
        return values if len(values) > 1 else values[0]

    def text(self):
        """A NUL-terminated UTF-16 string."""
        end = self.offset
        while self.data[end:end + 2] != b'\0\0':
            if end + 2 > len(self.data):
                raise ValueError('unterminated string')
            end += 2
        value = self.data[self.offset:end].decode('utf-16-le')
        self.offset = end + 2
        return value

    def text_or_ordinal(self):
        """An empty string, 0xFFFF and an ordinal, or a string."""
        first = struct.unpack_from('<H', self.data, self.offset)[0]
        if first in (0, 0xFFFF):
            self.offset += 2
            return '' if first == 0 else self.read('H')
        return self.text()


class Checker:
    def __init__(self, path):
        self.errors = []
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=[
            pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])
        self.resources = {}         # (type, id) -> [(language, bytes)]
        root = getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None)
        for kind in root.entries if root else []:
            # Named resources are not ours.
            for entry in (e for e in kind.directory.entries if e.id is not None):
                for language in entry.directory.entries:
                    data = pe.get_data(language.data.struct.OffsetToData,
                                       language.data.struct.Size)
                    self.resources.setdefault((kind.id, entry.id), []).append(
                        (language.id, data))
        if not self.resources:
            self.fail('the module holds no resources')

    def fail(self, message):
        self.errors.append(message)

    def get(self, kind, number, what):
        found = self.resources.get((kind, number))
        if not found:
            self.fail(f'{what} {number} is missing')
            return None
        if len(found) != 1:
            self.fail(f'{what} {number} exists in {len(found)} languages')
        if found[0][0] != US_ENGLISH:
            self.fail(f'{what} {number} has language {found[0][0]:#06x}, expected U.S. English')
        return found[0][1]

    def parse_menu_items(self, reader, where):
        items = []
        while True:
            flags = reader.read('H')
            if flags & MF_POPUP:
                text = reader.text()
                entry = ('popup', text, self.parse_menu_items(reader, f'{where} > {text!r}'))
            else:
                command, text = reader.read('H'), reader.text()
                entry = SEP if command == 0 and text == '' else ('item', command, text)
            if flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED):
                self.fail(f'{where}: {entry[:3]} is not enabled and unchecked '
                          f'(flags {flags:#x})')
            items.append(entry)
            if flags & MF_END:
                return items

    def check_menus(self):
        for number, expected in EXPECTED_MENUS.items():
            data = self.get(RT_MENU, number, 'menu')
            if data is None:
                continue
            reader = Reader(data)
            version, header = reader.read('HH')
            if version != 0:
                self.fail(f'menu {number}: template version {version}, expected a MENU')
                continue
            reader.offset += header
            try:
                actual = self.parse_menu_items(reader, f'menu {number}')
            except (ValueError, struct.error) as error:
                self.fail(f'menu {number}: cannot be parsed: {error}')
                continue
            self.compare_menu(actual, expected, f'menu {number}')

    def compare_menu(self, actual, expected, where):
        if len(actual) != len(expected):
            self.fail(f'{where}: {len(actual)} items, expected {len(expected)}: '
                      f'{[a[:3] for a in actual]}')
        for position, (a, e) in enumerate(zip(actual, expected)):
            if a[0] != e[0] or (a[0] == 'item' and a != e) or (a[0] == 'popup' and a[1] != e[1]):
                self.fail(f'{where}, position {position}: found {a[:3]}, expected {e[:3]}')
            elif a[0] == 'popup':
                self.compare_menu(a[2], e[2], f'{where} > {e[1]!r}')

    def check_strings(self):
        table = {}
        for (kind, block), found in self.resources.items():
            for language, data in found if kind == RT_STRING else []:
                if language != US_ENGLISH:
                    self.fail(f'string block {block} has language {language:#06x}')
                reader = Reader(data)
                for index in range(16):
                    length = reader.read('H')
                    if length:
                        table[(block - 1) * 16 + index] = data[
                            reader.offset:reader.offset + 2 * length].decode('utf-16-le')
                    reader.offset += 2 * length
        for number, text in EXPECTED_STRINGS.items():
            if table.get(number) != text:
                self.fail(f'string {number} is {table.get(number)!r}, expected {text!r}')
        for number in FREE_STRINGS:
            if not table.get(number):
                self.fail(f'string {number} is missing or empty')
        known = set(EXPECTED_STRINGS) | set(FREE_STRINGS)
        for number in sorted(set(table) - known):
            self.fail(f'unexpected string {number}: {table[number]!r}')

    def check_dialog(self):
        data = self.get(RT_DIALOG, 20003, 'dialog')
        if data is None:
            return
        if struct.unpack_from('<HH', data, 0) == (1, 0xFFFF):
            self.fail('dialog 20003 is an extended template, expected DIALOG')
            return
        reader = Reader(data)
        try:
            style, _extended, count = reader.read('IIH')
            frame = reader.read('hhhh')
            menu, window_class = reader.text_or_ordinal(), reader.text_or_ordinal()
            caption = reader.text()
            font = (reader.read('H'), reader.text()) if style & DS_SETFONT else None
            controls = []
            for _ in range(count):
                reader.offset = (reader.offset + 3) // 4 * 4
                c_style, _c_extended = reader.read('II')
                place, number = reader.read('hhhh'), reader.read('H')
                c_class, c_text = reader.text_or_ordinal(), reader.text_or_ordinal()
                c_class = CLASS_ATOMS.get(str(c_class).upper(), c_class)
                extra = reader.read('H')    # creation data follows its own length
                reader.offset += extra
                controls.append((number, c_class, c_text, place, c_style))
        except (ValueError, struct.error) as error:
            self.fail(f'dialog 20003 cannot be parsed: {error}')
            return
        found = (f'{style:#010x}', frame, menu, window_class, caption, font)
        wanted = (f'{EXPECTED_DIALOG_STYLE:#010x}', (0, 4, 172, 151), '', '',
                  'Ciphrel Encryption Object', (8, 'Helv'))
        if found != wanted:
            self.fail(f'dialog 20003 (style, frame, menu, class, caption, font) = {found}, '
                      f'expected {wanted}')
        if count != len(EXPECTED_CONTROLS):
            self.fail(f'dialog 20003 has {count} controls, expected {len(EXPECTED_CONTROLS)}')
        for position, (actual, expected) in enumerate(zip(controls, EXPECTED_CONTROLS)):
            if actual != expected:
                shown = actual[:4] + (f'{actual[4]:#010x}',)
                wanted = expected[:4] + (f'{expected[4]:#010x}',)
                self.fail(f'dialog 20003 control {position}: found {shown}, expected {wanted}')

    def check_bitmaps(self):
        images = {}
        for number in (400, 401):
            data = self.get(RT_BITMAP, number, 'bitmap')
            if data is None:
                continue
            if len(data) != 616:
                self.fail(f'bitmap {number} is {len(data)} bytes, expected 616')
                continue
            header = struct.unpack_from('<IiiHHI', data, 0)
            if header != (40, 32, 32, 1, 4, 0):
                self.fail(f'bitmap {number}: header (size, width, height, planes, bits, '
                          f'compression) = {header}, expected (40, 32, 32, 1, 4, 0)')
            palette = [struct.unpack_from('<BBB', data, 40 + 4 * i)[::-1] for i in range(16)]
            if palette != STANDARD_PALETTE:
                self.fail(f'bitmap {number}: palette is not the standard 16 colours')
            pixels = data[104:]
            if len({p >> 4 for p in pixels} | {p & 15 for p in pixels}) < 2:
                self.fail(f'bitmap {number} is blank')
            images[number] = pixels
        if len(images) == 2 and images[400] == images[401]:
            self.fail('bitmaps 400 and 401 show the same image')

    def check_data_and_version(self):
        data = self.get(RT_RCDATA, 200, 'data resource')
        if data is not None and data != bytes([0x16, 0x25, 0x08, 0x59]):
            self.fail(f'data resource 200 holds {data.hex(" ")}, expected 16 25 08 59')
        found = [number for (kind, number) in self.resources if kind == RT_VERSION]
        if not found:
            self.fail('no VERSIONINFO resource')
            return
        data = self.get(RT_VERSION, found[0], 'version resource')
        if data is not None and struct.pack('<I', 0xFEEF04BD) not in data:
            self.fail('the version resource holds no fixed file information')

    def run(self):
        if not self.errors:
            self.check_menus()
            self.check_strings()
            self.check_dialog()
            self.check_bitmaps()
            self.check_data_and_version()
        return self.errors


def main(args):
    if len(args) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        errors = Checker(args[0]).run()
    except (OSError, pefile.PEFormatError) as error:
        print(f'check_resources: {args[0]}: {error}', file=sys.stderr)
        return 1
    for error in errors:
        print(f'check_resources: {error}', file=sys.stderr)
    if errors:
        print(f'check_resources: {len(errors)} mismatches in {args[0]}', file=sys.stderr)
        return 1
    print(f'check_resources: menus, strings, dialog, bitmaps, data and version of '
          f'{args[0]} as expected')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
