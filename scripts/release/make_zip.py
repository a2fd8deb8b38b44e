"""Writes a folder into a zip archive under the folder's own name, the same bytes for the same
files: entries sorted by name, every time SOURCE_DATE_EPOCH's (zip cannot say a time before
1980), Unix permissions only, no extra fields, deflated at level 9.
Usage: make_zip.py FOLDER ARCHIVE.zip"""
import os
import sys
import time
import zipfile


def main(folder, archive):
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "0")), 315532800)
    stamp = time.gmtime(epoch)[:6]
    top = os.path.basename(os.path.normpath(folder))
    names = []
    for here, dirs, files in os.walk(folder):
        for name in files:
            names.append(os.path.relpath(os.path.join(here, name), folder).replace(os.sep, "/"))
    with zipfile.ZipFile(archive, "w") as out:
        for name in sorted(names, key=lambda n: n.encode()):
            path = os.path.join(folder, name)
            entry = zipfile.ZipInfo(f"{top}/{name}", date_time=stamp)
            entry.create_system = 3
            entry.external_attr = (0o100755 if os.stat(path).st_mode & 0o111 else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                out.writestr(entry, source.read(), compresslevel=9)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
