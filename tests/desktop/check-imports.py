#!/usr/bin/env python3
"""Checks that a folder of Windows programs holds every DLL they load through their import
tables: each DLL named in the import table of each .exe and .dll in the folder or below it (as
the MinGW objdump -p lists them) must be a file in the folder itself, where Windows looks first
for a program's DLLs, or a DLL that every 64-bit Windows 10 and later carries. Prints what each
file loads from the folder, and every DLL that is missing with the files that need it.

Usage: check-imports.py <folder> [<objdump>]
"""
import pathlib
import re
import subprocess
import sys

# DLLs of Windows itself (64-bit, Windows 10 and later), lower case. A DLL of a compiler's
# run time (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) or of a redistributable
# is not one of them: it must be shipped.
WINDOWS_DLLS = {
    "advapi32.dll", "authz.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",
    "d2d1.dll", "d3d11.dll", "d3d12.dll", "d3d9.dll", "dcomp.dll", "dwmapi.dll", "dwrite.dll",
    "dxgi.dll", "gdi32.dll", "imm32.dll", "kernel32.dll", "mpr.dll", "msvcrt.dll",
    "netapi32.dll", "ntdll.dll", "ole32.dll", "oleacc.dll", "oleaut32.dll", "setupapi.dll",
    "shcore.dll", "shell32.dll", "shlwapi.dll", "uiautomationcore.dll", "user32.dll",
    "userenv.dll", "uxtheme.dll", "version.dll", "winmm.dll", "ws2_32.dll", "wtsapi32.dll",
}
# The Universal C Runtime's API sets, part of Windows since Windows 10.
WINDOWS_API_SET = re.compile(r"api-ms-win-[a-z0-9-]+\.dll")

DLL_NAME = re.compile(r"^\s*DLL Name:\s*(\S+)\s*$", re.MULTILINE)


def imports(objdump: str, binary: pathlib.Path) -> list[str]:
    dump = subprocess.run([objdump, "-p", str(binary)], check=True, capture_output=True,
                          text=True).stdout
    return DLL_NAME.findall(dump)


def main() -> int:
    if len(sys.argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    folder = pathlib.Path(sys.argv[1])
    objdump = sys.argv[2] if len(sys.argv) == 3 else "x86_64-w64-mingw32-objdump"
    beside = {path.name.lower() for path in folder.iterdir() if path.is_file()}
    binaries = sorted(path for path in folder.rglob("*")
                      if path.is_file() and path.suffix.lower() in (".exe", ".dll"))
    if not binaries:
        print(f"no .exe or .dll in {folder}", file=sys.stderr)
        return 1

    missing: dict[str, list[str]] = {}
    for binary in binaries:
        name = binary.relative_to(folder).as_posix()
        names = imports(objdump, binary)
        if not names:
            print(f"{name}: no import table", file=sys.stderr)
            return 1
        shipped = []
        for dll in names:
            key = dll.lower()
            if key in beside:
                shipped.append(dll)
            elif key not in WINDOWS_DLLS and not WINDOWS_API_SET.fullmatch(key):
                missing.setdefault(dll, []).append(name)
        print(f"{name}: loads {', '.join(shipped) if shipped else 'Windows DLLs only'}")

    for dll, needers in sorted(missing.items()):
        print(f"missing {dll}, needed by {', '.join(needers)}", file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
