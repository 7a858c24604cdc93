#!/usr/bin/env python3
"""Writes a zip archive whose bytes depend only on its inputs and the given time.

Usage: make_zip.py <out.zip> <unix time> <top folder> <file>...

Every file goes into <top folder>/ under its own base name, entries sorted by name, each with
the given time (as UTC) and plain Windows attributes, so that two runs from the same commit
give the same archive. Names outside ASCII are stored as UTF-8 with the zip's UTF-8 flag.
"""
import os
import sys
import time
import zipfile

FILE_ATTRIBUTE_DIRECTORY = 0x10
FILE_ATTRIBUTE_ARCHIVE = 0x20


def entry(name, stamp, attributes, compression):
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 0  # made on "MS-DOS": Windows reads the attributes below
    info.external_attr = attributes
    info.compress_type = compression
    return info


def main(argv):
    if len(argv) < 5:
        sys.stderr.write(__doc__)
        return 2
    out, epoch, top, files = argv[1], int(argv[2]), argv[3], argv[4:]
    # Zip times are local times without a zone and start in 1980; UTC keeps them the same on
    # every build machine.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    names = sorted(files, key=os.path.basename)
    if len({os.path.basename(f) for f in names}) != len(names):
        sys.stderr.write("make_zip.py: two files with the same name\n")
        return 2
    with zipfile.ZipFile(out + ".tmp", "w", compresslevel=9) as archive:
        archive.writestr(entry(top + "/", stamp, FILE_ATTRIBUTE_DIRECTORY, zipfile.ZIP_STORED), b"")
        for path in names:
            with open(path, "rb") as source:
                data = source.read()
            archive.writestr(entry(top + "/" + os.path.basename(path), stamp, FILE_ATTRIBUTE_ARCHIVE,
                                   zipfile.ZIP_DEFLATED), data)
    os.replace(out + ".tmp", out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
