#!/usr/bin/python3
"""Checks the built ciphrel.dll as the host's loader sees it: a 32-bit i386 PE DLL whose
exports carry plain names, that imports the host library by ordinal only and nothing but
Windows system DLLs besides."""
import sys

import pefile

RUNTIME_EXPORTS = [
    "Initialize", "Free", "GetInfos", "GetRunObjectInfos", "GetRunObjectDataSize",
    "CreateRunObject", "DestroyRunObject", "HandleRunObject", "DisplayRunObject",
    "PauseRunObject", "ContinueRunObject",
]
EVENT_EDITOR_EXPORTS = [
    "GetConditionMenu", "GetActionMenu", "GetExpressionMenu", "GetConditionCodeFromMenu",
    "GetActionCodeFromMenu", "GetExpressionCodeFromMenu", "GetConditionInfos",
    "GetActionInfos", "GetExpressionInfos", "GetConditionString", "GetActionString",
    "GetExpressionString", "GetConditionTitle", "GetActionTitle", "GetExpressionTitle",
]
FRAME_EDITOR_EXPORTS = [
    "CreateObject", "SelectPopup", "UpdateEditStructure", "PrepareToWriteObject",
    "MakeIcon", "EditorDisplay", "GetObjectRect", "ModifyObject", "GetObjInfos",
    "LoadObject", "UnloadObject", "UpdateFileNames", "PutObject", "RemoveObject",
    "AppendPopup", "RebuildExt", "EndModifyObject", "IsTransparent", "UsesFile",
    "CreateFromFile", "EnumElts",
]
HOST_LIBRARY = "cncs232.dll"
HOST_ORDINALS = {12, 191, 308, 313, 336, 340, 395}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll"}


def main(path):
    problems = []
    pe = pefile.PE(path)
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        problems.append("machine is not i386")
    if pe.OPTIONAL_HEADER.Magic != 0x10B:
        problems.append("not PE32 (optional header magic %#x)" % pe.OPTIONAL_HEADER.Magic)
    if not pe.FILE_HEADER.Characteristics & 0x2000:
        problems.append("not a DLL")

    exported = [e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name]
    for name in exported:
        if "@" in name:
            problems.append("decorated export name: " + name)
    wanted = RUNTIME_EXPORTS + EVENT_EDITOR_EXPORTS + FRAME_EDITOR_EXPORTS
    for name in wanted:
        if name not in exported:
            problems.append("missing export: " + name)

    imported_host_ordinals = set()
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().lower()
        if dll == HOST_LIBRARY:
            for imp in entry.imports:
                if imp.name is not None or imp.import_by_ordinal is False:
                    problems.append("%s imported by name: %s" % (dll, imp.name))
                else:
                    imported_host_ordinals.add(imp.ordinal)
        elif dll not in SYSTEM_DLLS:
            problems.append("imports a DLL outside the system allow-list: " + dll)
    unknown = imported_host_ordinals - HOST_ORDINALS
    if unknown:
        problems.append("unknown %s ordinals: %s" % (HOST_LIBRARY, sorted(unknown)))

    if problems:
        for p in problems:
            print("check_module: " + p)
        return 1
    print("check_module: %s is PE32/i386 with %d plain exports; imports %s" % (
        path, len(exported),
        ", ".join(sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT))))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
