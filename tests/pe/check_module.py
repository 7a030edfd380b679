#!/usr/bin/python3
"""Checks the built ciphrel.dll as the host's loader sees it: a 32-bit i386 PE DLL whose
exports carry plain names (the tests resolve each by name), that imports the host library
by ordinal only and nothing but Windows system DLLs besides."""
import sys

import pefile

HOST_LIBRARY = "cncs232.dll"
HOST_ORDINALS = {12, 191, 308, 313, 336, 340, 395}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll"}


def main(path):
    pe = pefile.PE(path)
    problems = []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        problems.append("machine is not i386")
    if pe.OPTIONAL_HEADER.Magic != 0x10B or not pe.FILE_HEADER.Characteristics & 0x2000:
        problems.append("not a PE32 DLL")
    exported = [e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name]
    problems += ["decorated export name: " + name for name in exported if "@" in name]
    if len(exported) < 47:
        problems.append("only %d exports" % len(exported))
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        dll = entry.dll.decode().lower()
        if dll == HOST_LIBRARY:
            problems += ["%s import %s is not one of its ordinals" % (dll, imp.name or imp.ordinal)
                         for imp in entry.imports
                         if imp.name is not None or imp.ordinal not in HOST_ORDINALS]
        elif dll not in SYSTEM_DLLS:
            problems.append("imports a DLL outside the system allow-list: " + dll)
    for problem in problems:
        print("check_module: " + problem)
    print("check_module: %s: PE32/i386, %d plain exports, %d problems" % (
        path, len(exported), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
