#!/usr/bin/python3
"""Packs a release folder into a zip whose bytes depend on nothing but the
files' names and contents, so that anyone who rebuilds the release gets the
same zip:

    release-zip.py DIST NAME    writes DIST/NAME.zip from DIST/NAME/

Every entry is a file (no folder entries), named NAME/..., in byte order of
its name; dated SOURCE_DATE_EPOCH in UTC (to the zip format's two seconds,
and not before 1980, where its dates begin); mode 0644 as made on Unix,
whoever owns the file and whatever its mode; deflated at level 9 with no
extra fields (no owner, no other times).
"""
import os
import sys
import time
import zipfile

ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC, the first time a zip entry can carry
UNIX = 3  # the "made by" system whose mode external_attr carries
FILE_MODE = 0o100644  # a regular file, read-write for its owner, readable by all


def entry_time():
    """The date of every entry: SOURCE_DATE_EPOCH, which the caller sets."""
    seconds = max(int(os.environ["SOURCE_DATE_EPOCH"]), ZIP_EPOCH)
    return time.gmtime(seconds)[:6]


def release_files(dist, name):
    """The folder's files as zip names (NAME/...), in byte order."""
    names = []
    for folder, _, files in os.walk(os.path.join(dist, name)):
        for file in files:
            path = os.path.join(folder, file)
            names.append(os.path.relpath(path, dist).replace(os.sep, "/"))
    return sorted(names, key=lambda n: n.encode())


def main():
    dist, name = sys.argv[1:3]
    date_time = entry_time()
    with zipfile.ZipFile(os.path.join(dist, name + ".zip"), "w") as archive:
        for entry_name in release_files(dist, name):
            entry = zipfile.ZipInfo(entry_name, date_time)
            entry.create_system = UNIX
            entry.external_attr = FILE_MODE << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(dist, entry_name), "rb") as data:
                archive.writestr(entry, data.read(), compresslevel=9)


if __name__ == "__main__":
    main()
