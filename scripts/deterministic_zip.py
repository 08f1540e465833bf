#!/usr/bin/env python3
"""Zips one folder so that the same files give the same bytes: the folder's own name as the one
top folder, entries sorted by name, a fixed time stamp (1980-01-01 00:00, the earliest a zip
can hold), fixed permissions (folders 0755, files 0644) and fixed compression.

Usage: deterministic_zip.py <out.zip> <folder>
"""
import os
import sys
import zipfile

FIXED_TIME = (1980, 1, 1, 0, 0, 0)


def entry(name, is_dir):
    info = zipfile.ZipInfo(name, date_time=FIXED_TIME)
    info.create_system = 3  # Unix, so that the permission bits below are read
    if is_dir:
        info.external_attr = (0o40755 << 16) | 0x10  # plus the MS-DOS folder flag
    else:
        info.external_attr = 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: deterministic_zip.py <out.zip> <folder>\n")
        return 2
    out, folder = argv[1], os.path.normpath(argv[2])
    parent, top = os.path.split(folder)
    names = []
    for current, dirs, files in os.walk(folder):
        rel = os.path.relpath(current, parent).replace(os.sep, "/")
        names.append((rel + "/", True))
        names.extend((rel + "/" + f, False) for f in files)
    names.sort()
    tmp = out + ".partial"
    with zipfile.ZipFile(tmp, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name, is_dir in names:
            if is_dir:
                z.writestr(entry(name, True), b"")
            else:
                with open(os.path.join(parent, name), "rb") as f:
                    z.writestr(entry(name, False), f.read(), compresslevel=9)
    os.replace(tmp, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
