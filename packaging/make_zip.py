#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files put into it.

    make_zip.py OUTPUT DIR [NAME...]

Puts the files NAME... of DIR (every file under DIR when none is named) into
OUTPUT: in the order of their names, each dated SOURCE_DATE_EPOCH (the last
commit's time; 1980-01-01 without it), with the same permissions (0644)
whoever builds them and whether a program was signed, and nothing else of
the build machine (no owner, no extra time fields). A name that is not ASCII is
marked as UTF-8, so that Windows shows it right.
"""
import os
import sys
import time
import zipfile


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    output, folder, names = argv[1], argv[2], argv[3:]
    if not names:
        names = [os.path.relpath(os.path.join(root, f), folder)
                 for root, _, files in os.walk(folder) for f in files]
    names = sorted(n.replace(os.sep, "/") for n in names)
    # Zip times are calendar times without a zone: the epoch's, in UTC.
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)
    date_time = time.gmtime(epoch)[:6]
    partial = output + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                data = f.read()
            entry = zipfile.ZipInfo(name, date_time)
            entry.create_system = 3  # Unix: the permissions below are read
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data, compresslevel=9)
    os.replace(partial, output)


if __name__ == "__main__":
    main(sys.argv)
