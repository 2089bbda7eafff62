#!/usr/bin/env python3
"""Derives broken copies of a VIDEO_TS folder: the problems Dorvex exists to fix.

    damage.py FOLDER KIND [TITLE_SET]

KIND is one of
  blank       non-navigation sectors inside VOBUs of the title VOBs overwritten with zeros
  unref       the IFO patched so that title PGC 1 no longer plays its last cell
  navlba      the LBA fields of every navpack offset as if the VOB had been cut from a longer stream
  pgcsectors  the first and last VOBU start sectors of every title cell moved off their navpacks
  gap         the title VOB split in two files numbered 1 and 3, the cut inside a VOBU
  lower       blank packs as above, and every file name in lower case, as an ISO 9660 mount
              without Joliet or Rock Ridge shows them
Not damage but the shapes of folders other tools leave:
  notitles    the title VOBs removed (a partial copy, a title set with menus only)
  vmgonly     every file of every title set removed: the video manager alone
  vob1        title 1 plays the program chain of title 2, so no PGC plays VOB ID 1 any more
  novts       VIDEO_TS.IFO listing no title set and no title, which libdvdread refuses
The IFO changes are written to the .BUP as well, as an authoring tool would.
"""
import os
import struct
import sys

SECTOR = 2048


def be32(b, o):
    return struct.unpack_from(">I", b, o)[0]


def be16(b, o):
    return struct.unpack_from(">H", b, o)[0]


def title_vobs(folder, vts):
    names = [f"VTS_{vts:02d}_{n}.VOB" for n in range(1, 10)]
    return [os.path.join(folder, n) for n in names if os.path.exists(os.path.join(folder, n))]


def is_nav(pack):
    return be32(pack, 38) == 0x1BF and be32(pack, 1024) == 0x1BF


def each_pack(paths):
    """Yields (file, offset, pack) for every whole pack of the files, as one stream."""
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        for off in range(0, len(data) - SECTOR + 1, SECTOR):
            yield path, off, data[off:off + SECTOR]


def write_at(path, off, data):
    with open(path, "r+b") as f:
        f.seek(off)
        f.write(data)


def blank(folder, vts):
    since_nav = None
    count = 0
    for path, off, pack in each_pack(title_vobs(folder, vts)):
        if is_nav(pack):
            since_nav = 0
            continue
        if since_nav is None:
            continue
        since_nav += 1
        # Every 23rd pack of a VOBU after its first few: inside VOBUs, never a navpack.
        if since_nav % 23 == 5:
            write_at(path, off, bytes(SECTOR))
            count += 1
    print(f"blanked {count} packs")


def navlba(folder, vts, shift=1000):
    count = 0
    for path, off, pack in each_pack(title_vobs(folder, vts)):
        if is_nav(pack):
            for field in (45, 1035):
                write_at(path, off + field, struct.pack(">I", be32(pack, field) + shift))
            count += 1
    print(f"shifted the LBA fields of {count} navpacks by {shift}")


class Ifo:
    def __init__(self, folder, vts):
        self.paths = [os.path.join(folder, f"VTS_{vts:02d}_0.{ext}") for ext in ("IFO", "BUP")]
        with open(self.paths[0], "rb") as f:
            self.data = bytearray(f.read())

    def save(self):
        for path in self.paths:
            with open(path, "wb") as f:
                f.write(self.data)

    def title_pgcs(self):
        pgcit = be32(self.data, 204) * SECTOR
        for n in range(be16(self.data, pgcit)):
            yield pgcit + be32(self.data, pgcit + 8 + 8 * n + 4)


def unref(folder, vts):
    ifo = Ifo(folder, vts)
    pgc = next(ifo.title_pgcs())
    d = ifo.data
    programs, cells = d[pgc + 2], d[pgc + 3]
    if cells < 2:
        sys.exit("unref needs a PGC of at least two cells")
    program_map = pgc + be16(d, pgc + 230)
    if d[program_map + programs - 1] == cells:
        d[pgc + 2] = programs - 1
    d[pgc + 3] = cells - 1
    ifo.save()
    print(f"PGC 1 now plays {cells - 1} of its {cells} cells")


def pgcsectors(folder, vts):
    ifo = Ifo(folder, vts)
    d = ifo.data
    count = 0
    for pgc in ifo.title_pgcs():
        playback = pgc + be16(d, pgc + 232)
        for c in range(d[pgc + 3]):
            entry = playback + 24 * c
            for field in (8, 16):
                value = be32(d, entry + field)
                if value > 0:
                    struct.pack_into(">I", d, entry + field, value - 1)
            count += 1
    ifo.save()
    print(f"moved the VOBU start sectors of {count} cells off their navpacks")


def gap(folder, vts):
    first = os.path.join(folder, f"VTS_{vts:02d}_1.VOB")
    with open(first, "rb") as f:
        data = f.read()
    packs = len(data) // SECTOR
    cut = packs // 2
    while is_nav(data[cut * SECTOR:(cut + 1) * SECTOR]) or is_nav(data[(cut - 1) * SECTOR:cut * SECTOR]):
        cut += 1
    with open(first, "wb") as f:
        f.write(data[:cut * SECTOR])
    with open(os.path.join(folder, f"VTS_{vts:02d}_3.VOB"), "wb") as f:
        f.write(data[cut * SECTOR:])
    print(f"split at pack {cut} into VTS_{vts:02d}_1.VOB and VTS_{vts:02d}_3.VOB")


def lower(folder, vts):
    blank(folder, vts)
    for name in os.listdir(folder):
        os.rename(os.path.join(folder, name), os.path.join(folder, name.lower()))
    print("every name in lower case")


def notitles(folder, vts):
    for path in title_vobs(folder, vts):
        os.remove(path)
    print(f"removed the title VOBs of title set {vts}")


def vmgonly(folder, vts):
    names = [n for n in os.listdir(folder) if n.upper().startswith("VTS_")]
    for name in names:
        os.remove(os.path.join(folder, name))
    print(f"removed {len(names)} title-set files")


def vob1(folder, vts):
    ifo = Ifo(folder, vts)
    d = ifo.data
    pgcit = be32(d, 204) * SECTOR
    if be16(d, pgcit) < 2:
        sys.exit("vob1 needs two title PGCs")
    first_pgc, second = be32(d, pgcit + 8 + 4), be32(d, pgcit + 8 + 8 + 4)
    end = be32(d, pgcit + 4) + 1 if be16(d, pgcit) == 2 else be32(d, pgcit + 8 + 16 + 4)
    if end - second > second - first_pgc:
        sys.exit("vob1 needs title 2's PGC to fit where title 1's is")
    # A copy of its own: players find a PGC's number by its place, so two titles cannot share one.
    d[pgcit + first_pgc:pgcit + second] = d[pgcit + second:pgcit + end].ljust(second - first_pgc, b"\0")
    # Title 1's chapters name programs of the PGC it plays now; its time map is title 2's.
    programs = d[pgcit + second + 2]
    ptt = be32(d, 200) * SECTOR
    first, following = be32(d, ptt + 8), be32(d, ptt + 12)
    for at in range(ptt + first, ptt + following, 4):
        struct.pack_into(">H", d, at + 2, min(be16(d, at + 2), programs))
    tmapt = be32(d, 212) * SECTOR
    if tmapt and be16(d, tmapt) >= 2:
        struct.pack_into(">I", d, tmapt + 8, be32(d, tmapt + 12))
    ifo.save()
    print("title 1 now plays the program chain of title 2")


def novts(folder, vts):
    path = os.path.join(folder, "VIDEO_TS.IFO")
    with open(path, "rb") as f:
        d = bytearray(f.read())
    struct.pack_into(">H", d, 62, 0)
    tt_srpt = be32(d, 196) * SECTOR
    struct.pack_into(">HHI", d, tt_srpt, 0, 0, 7)
    vts_atrt = be32(d, 208) * SECTOR
    struct.pack_into(">H", d, vts_atrt, 0)
    for name in ("VIDEO_TS.IFO", "VIDEO_TS.BUP"):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(d)
    print("VIDEO_TS.IFO lists no title set")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    folder, kind = sys.argv[1], sys.argv[2]
    vts = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    kinds = {"blank": blank, "unref": unref, "navlba": navlba, "pgcsectors": pgcsectors, "gap": gap,
             "lower": lower,
             "notitles": notitles, "vmgonly": vmgonly, "vob1": vob1, "novts": novts}
    if kind not in kinds:
        sys.exit(f"unknown damage {kind}; one of {', '.join(kinds)}")
    kinds[kind](folder, vts)


if __name__ == "__main__":
    main()
