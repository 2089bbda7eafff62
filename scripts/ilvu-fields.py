#!/usr/bin/env python3
"""The ILVU and angle fields of a cleaned title set, kept as test data.

    ilvu-fields.py take OLD NEW      for two results of the same clean of the same disc (two
                                     VIDEO_TS folders): every navpack whose seamless playback and
                                     angle fields (SML_PBI, SML_AGLI, NSML_AGLI) differ, with
                                     OLD's bytes, one line each; fails when anything else differs,
                                     so that OLD is NEW with those bytes
    ilvu-fields.py apply DATA FOLDER writes the bytes of DATA into FOLDER's title VOBs

A line is the navpack's sector in the title stream and the hex of its NSML_AGLI, SML_PBI and
SML_AGLI bytes; lines starting with # are comments.
"""
import filecmp
import os
import sys

import ilvu_layout as dvd

RANGES = ((dvd.PCI_NSML_AGLI, 4 * dvd.ANGLES),
          (dvd.DSI_ILVU_CATEGORY, dvd.DSI_NT_ILVU_SZ + 2 - dvd.DSI_ILVU_CATEGORY),
          (dvd.DSI_SML_AGLI, dvd.SML_AGLI_ENTRY * dvd.ANGLES))


def without_fields(pack):
    pack = bytearray(pack)
    for at, size in RANGES:
        pack[at:at + size] = bytes(size)
    return bytes(pack)


def take(old, new):
    names = sorted(n for n in os.listdir(new) if os.path.isfile(os.path.join(new, n)))
    if names != sorted(n for n in os.listdir(old) if os.path.isfile(os.path.join(old, n))):
        sys.exit("the two folders hold other files")
    for name in names:
        if not name.upper().endswith(".VOB") and not filecmp.cmp(
                os.path.join(old, name), os.path.join(new, name), shallow=False):
            sys.exit(f"{name} differs")
    before, after = dvd.TitleStream(old), dvd.TitleStream(new)
    if [f[1:] for f in before.files] != [f[1:] for f in after.files]:
        sys.exit("the title VOBs differ in size")
    for sector in range(after.sectors):
        a, b = before.read(sector), after.read(sector)
        if a == b:
            continue
        if not dvd.is_nav(a) or without_fields(a) != without_fields(b):
            sys.exit(f"sector {sector} differs outside the ILVU and angle fields")
        print(sector, " ".join(a[at:at + size].hex() for at, size in RANGES))


def apply(data, folder):
    stream = dvd.TitleStream(folder)
    with open(data) as f:
        for line in f:
            if not line.strip() or line.startswith("#"):
                continue
            sector, *fields = line.split()
            pack = bytearray(stream.read(int(sector)))
            for (at, size), text in zip(RANGES, fields):
                pack[at:at + size] = bytes.fromhex(text)
            stream.write(int(sector), bytes(pack))


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("take", "apply"):
        sys.exit(__doc__)
    (take if sys.argv[1] == "take" else apply)(sys.argv[2], sys.argv[3])


if __name__ == "__main__":
    main()
