#!/usr/bin/python3
"""Checks a built VorlanKur.exe: machine, subsystem, imports, version record,
icons, a manifest that asks for nothing but "asInvoker", and that what ships
(the 32-bit build) is stripped and at most 512 KiB.

Usage: check_pe.py EXE [i386|amd64]   (default i386)
Prints one line per failed check and a summary "pe-check: N passed, M failed";
exits non-zero when anything failed.
"""

import struct
import sys
import xml.etree.ElementTree as ET

import pefile

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
MAX_SHIPPED_SIZE = 512 * 1024
GUI_SUBSYSTEM = 2
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24

# Windows' own DLLs a static MinGW build may import.
WINDOWS_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll",
    "comctl32.dll", "advapi32.dll", "msvcrt.dll", "shlwapi.dll", "comdlg32.dll", "version.dll",
    "crypt32.dll", "ws2_32.dll", "uuid.dll",
}
FORBIDDEN_PREFIXES = ("libstdc++", "libgcc", "libwinpthread")

VERSION_STRINGS = {
    "FileDescription": "Vorlan Kurulum",
    "ProductName": "VorlanKur",
    "InternalName": "VorlanKur",
    "OriginalFilename": "VorlanKur.exe",
    "FileVersion": "1.00",
    "ProductVersion": "1.00",
}


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL: {what}")


def resource_types(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return {}
    return {entry.id: entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries}


def resource_data(pe, entry):
    """The data of the first language of one named or numbered resource."""
    lang = entry.directory.entries[0]
    rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
    return pe.get_data(rva, size)


ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def check_manifest(c, pe, manifests):
    """One manifest, resource 1, holding only trustInfo with asInvoker: Windows
    then never virtualizes the program's writes, and nothing else changes (no
    common-controls dependency, no elevation asked)."""
    entries = manifests.directory.entries if manifests is not None else []
    c.check([e.id for e in entries] == [1], f"manifest resources {[e.id for e in entries]}, want [1]")
    if not entries:
        return
    try:
        root = ET.fromstring(resource_data(pe, entries[0]))
    except ET.ParseError as e:
        c.check(False, f"the manifest is not XML: {e}")
        return
    c.check(root.tag == ASM_V1 + "assembly", f"manifest root is {root.tag}")
    children = [child.tag for child in root]
    c.check(children in ([ASM_V3 + "trustInfo"], [ASM_V1 + "trustInfo"]),
            f"the manifest holds {children}, want only trustInfo")
    levels = [e for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    c.check(len(levels) == 1, f"{len(levels)} requestedExecutionLevel elements, want 1")
    for level in levels:
        c.check(level.get("level") == "asInvoker", f"execution level {level.get('level')!r}")
        c.check(level.get("uiAccess", "false") == "false", "uiAccess is asked for")
    c.check(not any(e.tag.endswith("dependency") for e in root.iter()),
            "the manifest declares a dependency")


def main():
    path = sys.argv[1]
    machine = sys.argv[2] if len(sys.argv) > 2 else "i386"
    pe = pefile.PE(path)
    c = Checks()

    c.check(pe.FILE_HEADER.Machine == MACHINES[machine],
            f"machine is {hex(pe.FILE_HEADER.Machine)}, want {machine}")
    c.check(pe.OPTIONAL_HEADER.Subsystem == GUI_SUBSYSTEM,
            f"subsystem is {pe.OPTIONAL_HEADER.Subsystem}, want GUI (2)")
    c.check(pe.FILE_HEADER.PointerToSymbolTable == 0 and pe.FILE_HEADER.NumberOfSymbols == 0,
            "the executable is not stripped")
    if machine == "i386":
        size = len(pe.__data__)
        c.check(size <= MAX_SHIPPED_SIZE, f"{size} bytes, more than {MAX_SHIPPED_SIZE}")

    imports = [e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    c.check(bool(imports), "no imports at all")
    for dll in imports:
        c.check(not dll.startswith(FORBIDDEN_PREFIXES), f"imports the run-time DLL {dll}")
        c.check(dll in WINDOWS_DLLS, f"imports {dll}, which is not one of Windows' own DLLs")
    for needed in ("kernel32.dll", "user32.dll", "ole32.dll", "oleaut32.dll"):
        c.check(needed in imports, f"does not import {needed}")

    # Version record.
    strings, translations = {}, []
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            if block.Key == b"StringFileInfo":
                for table in block.StringTable:
                    c.check(table.LangID == b"040904B0",
                            f"string table {table.LangID!r}, want 040904B0")
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
            elif block.Key == b"VarFileInfo":
                for var in block.Var:
                    translations.append(var.entry.get(b"Translation"))
    for key, want in VERSION_STRINGS.items():
        c.check(strings.get(key) == want, f"{key} is {strings.get(key)!r}, want {want!r}")
    c.check(bool(strings.get("CompanyName")), "CompanyName is empty")
    c.check(bool(strings.get("LegalCopyright")), "LegalCopyright is empty")
    c.check(translations == ["0x0409 0x04b0"], f"Translation is {translations}, want 0x0409, 1200")
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    c.check(fixed is not None and (fixed.FileVersionMS, fixed.FileVersionLS) == (0x10000, 0),
            "FILEVERSION is not 1,0,0,0")
    c.check(fixed is not None and (fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x10000, 0),
            "PRODUCTVERSION is not 1,0,0,0")

    # Icons: the first icon group is the application's; six 48x48 32-bit images.
    types = resource_types(pe)
    check_manifest(c, pe, types.get(RT_MANIFEST))
    c.check(RT_VERSION in types, "no version resource")
    groups = types.get(RT_GROUP_ICON)
    c.check(groups is not None and len(groups.directory.entries) >= 1, "no icon group")
    if groups is not None and groups.directory.entries:
        first = sorted(groups.directory.entries,
                       key=lambda e: (e.name is None, str(e.name) if e.name else e.id))[0]
        data = resource_data(pe, first)
        _, kind, count = struct.unpack_from("<HHH", data, 0)
        c.check(kind == 1 and count == 6, f"icon group holds {count} images, want 6")
        icons = {e.id: e for e in types[RT_ICON].directory.entries} if RT_ICON in types else {}
        for i in range(count):
            width, height, _, _, planes, bits, size, icon_id = struct.unpack_from(
                "<BBBBHHIH", data, 6 + 14 * i)
            c.check((width, height, bits) == (48, 48, 32),
                    f"icon image {i} is {width}x{height} {bits}-bit, want 48x48 32-bit")
            icon = icons.get(icon_id)
            c.check(icon is not None, f"icon image {i} (resource {icon_id}) is missing")
            if icon is None:
                continue
            image = resource_data(pe, icon)
            header_size, w, h, _, bpp = struct.unpack_from("<IiiHH", image, 0)
            c.check(header_size == 40 and (w, h, bpp) == (48, 96, 32) and len(image) == size,
                    f"icon image {i} bitmap is {w}x{h // 2} {bpp}-bit")
            # 32-bit with a real alpha channel: some pixels clear, some opaque.
            alphas = image[40 + 3:40 + 48 * 48 * 4:4]
            c.check(0 in alphas and 255 in alphas, f"icon image {i} has no alpha channel")

    print(f"pe-check: {c.passed} passed, {c.failed} failed")
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
