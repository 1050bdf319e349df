#!/usr/bin/env python3
"""Fails when a built executable imports a DLL that is not a KnownDLL.

A service pack runs elevated, often from a Downloads folder: any DLL it
imports that Windows does not load from its own protected list could be
planted beside it. msi.dll and version.dll are therefore loaded at run time
from the system directory, never imported.
"""
import re
import subprocess
import sys

KNOWN_DLLS = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "ws2_32.dll", "imm32.dll", "sechost.dll", "rpcrt4.dll", "combase.dll",
}


def machine(exe):
    """The PE machine type: 0x14c for i386, 0x8664 for x86-64."""
    with open(exe, "rb") as f:
        data = f.read(4096)
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        return None
    return int.from_bytes(data[pe + 4:pe + 6], "little")


def imports(exe):
    kind = machine(exe)
    if kind is None:
        return []
    tool = ("x86_64" if kind == 0x8664 else "i686") + "-w64-mingw32-objdump"
    out = subprocess.run([tool, "-p", exe], check=True, capture_output=True,
                         text=True).stdout
    return [m.lower() for m in re.findall(r"DLL Name: (\S+)", out)]


def main(paths):
    failed = False
    for exe in paths:
        names = imports(exe)
        if not names:
            print(f"{exe}: no imports found: not a PE file?")
            failed = True
        bad = sorted(set(names) - KNOWN_DLLS)
        print(f"{exe}: imports {', '.join(names)}")
        if bad:
            print(f"{exe}: imports DLLs that are not KnownDLLs: {', '.join(bad)}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
