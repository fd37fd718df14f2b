#!/usr/bin/env python3
"""check_win32_zip.py ZIP VERSION CMAKE OBJDUMP CHECK_TABLES LICENSE WORK

What a host user unpacks: exactly the DLL, the manual, the change log and
the licence (the repository's LICENSE, byte for byte) in one folder named
for the version; the DLL still with its two exports and only Windows system
DLLs imported (CHECK_TABLES, run by CMAKE with OBJDUMP), its version
resource naming the release and carrying LICENSE's copyright line; a manual
that opens on its own, with nothing to fetch from beside it or from the
network.
"""
import os
import re
import shutil
import subprocess
import sys
import zipfile


def fail(message):
    sys.exit("check_win32_zip: " + message)


def resource_value(dll, key):
    # A version resource string is "Key\0" in UTF-16LE, padding to 32 bits,
    # then the value up to its terminating NUL.
    match = re.search(re.escape(key.encode("utf-16-le")) + rb"\x00\x00(?:\x00\x00)?((?:[^\x00]\x00)+)\x00\x00", dll)
    return match.group(1).decode("utf-16-le") if match else None


def main(argv):
    zip_path, version, cmake, objdump, check_tables, licence_path, work = argv[1:8]
    folder = f"Quorvane-{version}"
    expected = sorted(f"{folder}/{name}"
                      for name in ("Quorvane.dll", "Quorvane-manual.html", "CHANGES.md", "LICENSE"))
    licence = open(licence_path, "rb").read()
    copyright_lines = [line for line in licence.decode("utf-8").splitlines() if line.startswith("Copyright")]
    if len(copyright_lines) != 1:
        fail(f"{licence_path} holds {len(copyright_lines)} copyright lines, expected one")
    with zipfile.ZipFile(zip_path) as archive:
        names = sorted(archive.namelist())
        if names != expected:
            fail(f"the zip holds {names}, expected {expected}")
        for info in archive.infolist():
            if (info.external_attr >> 16) & 0o777 != 0o644:
                fail(f"{info.filename} has mode {oct(info.external_attr >> 16)}, expected 0644")
        if archive.read(f"{folder}/LICENSE") != licence:
            fail(f"the zip's LICENSE is not {licence_path}")
        shutil.rmtree(work, ignore_errors=True)
        archive.extractall(work)

    dll_path = f"{work}/{folder}/Quorvane.dll"
    # The same tables as the built DLL's, imported functions listed one by one.
    imports = os.path.join(os.path.dirname(check_tables), "expected_imports.txt")
    tables = subprocess.run([cmake, f"-DOBJDUMP={objdump}", f"-DDLL={dll_path}",
                             f"-DEXPECTED_IMPORTS={imports}", "-P", check_tables],
                            capture_output=True, text=True)
    if tables.returncode != 0:
        fail("the zipped DLL's tables: " + tables.stdout + tables.stderr)

    dll = open(dll_path, "rb").read()
    for key, value in (("FileVersion", version), ("ProductVersion", version), ("ProductName", "Quorvane"),
                       ("LegalCopyright", copyright_lines[0])):
        found = resource_value(dll, key)
        if found != value:
            fail(f"version resource {key} is {found!r}, expected {value!r}")
    description = resource_value(dll, "FileDescription") or ""
    if "Five Band EQ" not in description:
        fail(f"version resource FileDescription is {description!r}")
    if f"Five Band EQ {version} ".encode() not in dll:
        fail(f"the about text does not carry the version {version}")

    html = open(f"{work}/{folder}/Quorvane-manual.html", encoding="utf-8").read()
    outside = [ref for ref in re.findall(r'(?:src|href)="([^"#][^"]*)"', html)
               if not ref.startswith("data:") and not ref.startswith("mailto:")]
    if outside:
        fail(f"the manual refers to files or sites outside itself: {outside[:5]}")
    if version not in html:
        fail(f"the manual does not name the version {version}")
    # The host user's manual: the Linux tools have their own in the deb, and
    # how figures were measured stays with the developers.
    text = re.sub(r"\s+", " ", re.sub(r"<[^>]*>", "", html.split("</style>")[-1]))
    for words in ("In open hosts", "quorvane-render --band", "cascade", "measured again",
                  "output buffers"):
        if words in text:
            fail(f"the host's manual holds '{words}'")
    if re.search(r"[0-9]\^-?[0-9]", text):
        fail("the manual prints an exponent with a caret")
    changes = open(f"{work}/{folder}/CHANGES.md", encoding="utf-8").read()
    if "## Unreleased" in changes and re.search(r"## Unreleased\n+- ", changes):
        fail("the zip's CHANGES.md lists unreleased changes")
    if f"## {version} - " not in changes:
        fail(f"the zip's CHANGES.md has no section for {version}")
    shutil.rmtree(work, ignore_errors=True)
    print(f"{zip_path}: {len(names)} entries, version {version}, DLL tables and resource as shipped")


if __name__ == "__main__":
    main(sys.argv)
