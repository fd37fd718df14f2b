#!/usr/bin/env python3
"""reproducible_zip.py OUTPUT.zip FOLDER-IN-ZIP FILE...

Packs FILEs (by their base names) into FOLDER-IN-ZIP/ of a zip archive whose
bytes depend on the files' contents only: entries in sorted order, every
entry dated SOURCE_DATE_EPOCH (the last commit's time in a release; 1980-01-01,
the earliest date a zip can hold, when unset), read-write for the owner and
readable for all, no owner ids or extra time fields. Two builds of one
commit then give the same archive.
"""
import os
import sys
import time
import zipfile

ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__.strip().splitlines()[0])
    output, folder, files = argv[1], argv[2], argv[3:]
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", ZIP_EPOCH)), ZIP_EPOCH)
    # Zip dates are broken-down local times with 2-second steps; UTC keeps
    # them independent of the builder's time zone.
    date = time.gmtime(epoch)[:6]
    entries = sorted((folder + "/" + os.path.basename(path), path) for path in files)
    names = [name for name, _ in entries]
    if len(set(names)) != len(names):
        sys.exit("reproducible_zip.py: two files share a name in " + folder)
    partial = output + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, path in entries:
            info = zipfile.ZipInfo(name, date_time=date)
            info.create_system = 3  # Unix, so the permissions below are read
            info.external_attr = (0o100644 << 16)
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                archive.writestr(info, source.read(), compresslevel=9)
    # Renamed only when whole: an interrupted build leaves no truncated zip
    # under the release's name.
    os.replace(partial, output)


if __name__ == "__main__":
    main(sys.argv)
