#!/usr/bin/env python3
"""Derives broken copies of a title set with an interleaved block (make-interleaved.py's).

    damage-interleaved.py FOLDER KIND [N]

The block's cells are taken in the order of their first ILVU: angle 1, 2, ... of an angle
block, or the branch cells of a seamless branch. KIND is one of
  blank-ilvu [N]      a pack inside the first ILVU of the block's N-th cell (default 1)
                      overwritten with zeros: neither its navpack nor its last pack
  blank-ilvu-end [N]  the last pack of the second ILVU of the N-th cell (default 1) zeroed
  unref [N]           the N-th cell (default 2) left out of every PGC that plays it, as an IFO
                      editor leaves it: its cell and position entries removed, the programs,
                      chapters, block modes and the titles' angle and chapter counts following;
                      its packs stay in the VOB. An angle block left with one cell becomes a
                      plain interleaved cell.
  blank-before        a pack inside the title stream's first VOBU, before the block and the
                      VOBUs that prepare it, zeroed
The IFO changes are written to the .BUP as well.
"""
import os
import struct
import sys

import ilvu_layout as dvd


def block_cells(ifo):
    """The interleaved cells a PGC plays, with their pieces, in the order of their first ILVU."""
    pieces = ifo.cell_pieces()
    cells = {(c.vob_id, c.cell_id) for pgc in ifo.pgcs for c in pgc.cells if c.interleaved}
    return sorted(((key, pieces[key]) for key in cells), key=lambda item: item[1][0][0])


def blank(folder, sector, what):
    stream = dvd.TitleStream(folder)
    stream.write(sector, bytes(dvd.SECTOR))
    print(f"blanked sector {sector}: {what}")


def inside(stream, first, last):
    """A sector of a piece that is neither its navpack nor its last pack."""
    at = (first + last) // 2
    while dvd.is_nav(stream.read(at)) or at >= last:
        at = at + 1 if at < last - 1 else first + 1
    return at


def cell_number(ifo, args, default):
    cells = block_cells(ifo)
    n = int(args[0]) if args else default
    if not 1 <= n <= len(cells):
        sys.exit(f"the block has {len(cells)} cells")
    return n, cells[n - 1]


def blank_ilvu(folder, args):
    n, (key, pieces) = cell_number(dvd.VtsIfo(folder), args, 1)
    first, last = pieces[0]
    at = inside(dvd.TitleStream(folder), first, last)
    blank(folder, at, f"inside the first ILVU ({first}..{last}) of cell {n} ({key[0]}/{key[1]})")


def blank_ilvu_end(folder, args):
    n, (key, pieces) = cell_number(dvd.VtsIfo(folder), args, 1)
    if len(pieces) < 2:
        sys.exit("that cell has a single ILVU")
    blank(folder, pieces[1][1], f"the last pack of the second ILVU of cell {n} ({key[0]}/{key[1]})")


def blank_before(folder, _):
    stream = dvd.TitleStream(folder)
    navs = stream.navpacks()
    at = inside(stream, navs[0][0], navs[1][0] - 1)
    blank(folder, at, "inside the first VOBU, before the block")


# ---- unref ----

def new_block_modes(cells, block):
    """Block mode bits of what is left of an angle block; one cell left is no block at all."""
    mask = (dvd.BLOCK_LAST << dvd.CELL_BLOCK_MODE_SHIFT | dvd.CELL_BLOCK_TYPE_ANGLE
            | dvd.CELL_SEAMLESS_ANGLE) << 24
    for position, index in enumerate(block):
        cell = cells[index]
        if len(block) == 1:
            cell.category &= ~mask
            continue
        mode = (dvd.BLOCK_FIRST if position == 0 else
                dvd.BLOCK_LAST if position == len(block) - 1 else dvd.BLOCK_IN)
        cell.category = (cell.category & ~(dvd.BLOCK_LAST << dvd.CELL_BLOCK_MODE_SHIFT << 24)
                         | mode << dvd.CELL_BLOCK_MODE_SHIFT << 24)


def remove_cell(ifo, pgc, index):
    """Rewrites the PGC within its own bytes without cell `index`; returns old -> new program
    numbers, None for a program left without cells."""
    d, at = ifo.data, pgc.at
    cells = pgc.cells[:index] + pgc.cells[index + 1:]
    for block in pgc.angle_blocks():
        new_block_modes(cells, [i - (i > index) for i in block if i != index])
    starts = [s - (s > index + 1) for s in pgc.program_map]
    programs, kept = {}, []
    for p, start in enumerate(starts, 1):
        following = starts[p] if p < len(starts) else len(cells) + 1
        programs[p] = len(kept) + 1 if start < following else None
        if programs[p] is not None:
            kept.append(start)
    # An angle block plays for as long as one of its cells.
    frames = sum(dvd.time_to_frames(c.time) for c in cells
                 if not c.in_angle_block or c.block_mode == dvd.BLOCK_FIRST)
    d[at + dvd.PGC_PROGRAMS], d[at + dvd.PGC_CELLS] = len(kept), len(cells)
    dvd.put32(d, at + dvd.PGC_PLAYBACK_TIME, dvd.frames_to_time(frames))
    program_map = at + dvd.be16(d, at + dvd.PGC_PROGRAM_MAP)
    d[program_map:program_map + len(starts)] = bytes(kept).ljust(len(starts), b"\0")
    playback = at + dvd.be16(d, at + dvd.PGC_CELL_PLAYBACK)
    old_end = (at + dvd.be16(d, at + dvd.PGC_CELL_POSITION)
               + dvd.CELL_POSITION_SIZE * len(pgc.cells))
    tables = (b"".join(c.playback_bytes() for c in cells)
              + b"".join(c.position_bytes() for c in cells))
    d[playback:old_end] = tables.ljust(old_end - playback, b"\0")
    dvd.put16(d, at + dvd.PGC_CELL_POSITION, playback - at + dvd.CELL_PLAYBACK_SIZE * len(cells))
    return programs


def read_chapters(d):
    at = dvd.be32(d, dvd.VTS_PTT_SRPT) * dvd.SECTOR
    titles, end = dvd.be16(d, at), dvd.be32(d, at + 4) + 1
    offsets = [dvd.be32(d, at + dvd.TABLE_ENTRIES + 4 * t) for t in range(titles)] + [end]
    return [[struct.unpack_from(">HH", d, at + o) for o in range(offsets[t], offsets[t + 1], 4)]
            for t in range(titles)]


def write_chapters(d, chapters):
    at = dvd.be32(d, dvd.VTS_PTT_SRPT) * dvd.SECTOR
    old_end = at + dvd.be32(d, at + 4) + 1
    offsets, entries = b"", b""
    for title in chapters:
        offsets += struct.pack(">I", dvd.TABLE_ENTRIES + 4 * len(chapters) + len(entries))
        entries += b"".join(struct.pack(">HH", pgcn, pgn) for pgcn, pgn in title)
    body = offsets + entries
    table = struct.pack(">HHI", len(chapters), 0, dvd.TABLE_ENTRIES + len(body) - 1) + body
    d[at:old_end] = table.ljust(old_end - at, b"\0")


def set_title_counts(folder, counts):
    """Writes each title's (angles, chapters) into TT_SRPT of VIDEO_TS.IFO and .BUP."""
    path = os.path.join(folder, "VIDEO_TS.IFO")
    with open(path, "rb") as f:
        data = bytearray(f.read())
    srpt = dvd.be32(data, dvd.VMG_TT_SRPT) * dvd.SECTOR
    for title in range(dvd.be16(data, srpt)):
        entry = srpt + dvd.TABLE_ENTRIES + dvd.TT_SRPT_ENTRY * title
        if data[entry + dvd.TT_TITLE_SET] == 1 and data[entry + dvd.TT_VTS_TITLE] in counts:
            angles, chapters = counts[data[entry + dvd.TT_VTS_TITLE]]
            data[entry + dvd.TT_ANGLES] = angles
            dvd.put16(data, entry + dvd.TT_CHAPTERS, chapters)
    for name in ("VIDEO_TS.IFO", "VIDEO_TS.BUP"):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def unref(folder, args):
    ifo = dvd.VtsIfo(folder)
    n, (key, _) = cell_number(ifo, args, 2)
    chapters = read_chapters(ifo.data)
    changed = 0
    for pgcn, pgc in enumerate(ifo.pgcs, 1):
        where = [i for i, c in enumerate(pgc.cells) if (c.vob_id, c.cell_id) == key]
        if not where:
            continue
        programs = remove_cell(ifo, pgc, where[0])
        chapters = [[(c, programs[p] if c == pgcn else p) for c, p in title
                     if c != pgcn or programs[p] is not None] for title in chapters]
        changed += 1
    write_chapters(ifo.data, chapters)
    ifo.save()
    pgcs = dvd.VtsIfo(folder).pgcs
    counts = {ttn: (max((len(b) for b in pgcs[title[0][0] - 1].angle_blocks()), default=1),
                    len(title))
              for ttn, title in enumerate(chapters, 1)}
    set_title_counts(folder, counts)
    print(f"cell {n} of the block ({key[0]}/{key[1]}) left out of {changed} PGC(s); "
          "its packs stay in the VOB")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    folder, kind, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    kinds = {"blank-ilvu": blank_ilvu, "blank-ilvu-end": blank_ilvu_end, "unref": unref,
             "blank-before": blank_before}
    if kind not in kinds:
        sys.exit(f"unknown damage {kind}; one of {', '.join(kinds)}")
    kinds[kind](folder, args)


if __name__ == "__main__":
    main()
