#!/usr/bin/env python3
"""Authors DVD-Video title sets with interleaved blocks, as commercial discs hold them.

    make-interleaved.py OUTPUT_FOLDER

ffmpeg encodes one clip per cell (lavfi test sources, a tone of its own each, -target pal-dvd:
MPEG-2 video and AC-3 audio, one VOBU per 12-frame closed GOP) and dvdauthor authors them as
plain cells, one VOB ID each. This script then lays the VOBUs out again: the cells of a block are
cut into interleaved units (ILVUs) of one or two VOBUs which alternate in the stream, and it
rewrites every navpack (sector, VOB ID, search pointers and sync offsets moved with their
targets, the seamless playback, seamless angle and non-seamless angle fields) and writes a new
VTS IFO (program chains with angle blocks, one cell address entry per ILVU, VOBU address map,
time maps, chapters) and the titles' angle counts in VIDEO_TS.IFO.

  OUTPUT/angle2/VIDEO_TS  one title: a 4-VOBU cell whose last three VOBUs are the pre-unit, a
                          seamless block of 2 angles in ILVUs of 2, 1, 2 and 1 VOBUs, a closing
                          cell; the title VOBs are split into VTS_01_1.VOB and VTS_01_2.VOB
                          inside an ILVU of angle 2
  OUTPUT/angle9/VIDEO_TS  one title: a non-seamless block of 9 angles in ILVUs of 2 and 1 VOBUs
  OUTPUT/branch/VIDEO_TS  two titles sharing the cells before and after a seamless branch: title
                          1 plays branch cell 1 (ILVUs of 1, 2, 1 VOBUs), title 2 branch cell 2
                          (ILVUs of 2, 2, 2), both interleaved in one block

Every angle of a block has the same VOBUs per ILVU, so that the angles stay in step. The folders
are cached: a folder built by these same scripts is reused. Exit status 77 (a skipped test for
CTest) when ffmpeg or dvdauthor is missing.
"""
import concurrent.futures
import hashlib
import os
import shutil
import struct
import subprocess
import sys
from dataclasses import dataclass, field

import ilvu_layout as dvd

FRAMES_PER_VOBU = 12
FRAME_RATE = 25
PREU_VOBUS = 3
CELL_ID = 1             # every clip is a VOB of one cell
TIME_MAP_SECONDS = 1    # the time unit of the time maps, as dvdauthor writes it for short titles
OWNER = ".made-by-make-interleaved"


@dataclass
class Clip:
    name: str
    source: str   # lavfi video source, size and rate added here
    tone: int     # Hz
    vobus: int


@dataclass
class Block:
    name: str
    kind: str     # "seamless" or "nonseamless" angles, or "branch"
    cells: list   # clip names, in angle order
    ilvus: dict   # clip name -> VOBUs of each of its ILVUs


@dataclass
class Fixture:
    name: str
    clips: list
    authored: list        # dvdauthor's titles: clip names, each clip once
    scenes: list          # stream order: clip names and Blocks
    pgcs: list            # one per title: clip names, a Block's name for the whole angle block
    split: tuple = None   # (clip, ILVU index): the second VOB file starts inside that ILVU


PRE = Clip("pre", "testsrc", 440, 4)
POST = Clip("post", "testsrc2", 330, 2)
ANGLE_SOURCES = ["smptebars", "rgbtestsrc", "testsrc2", "yuvtestsrc", "pal75bars", "pal100bars",
                 "smptehdbars", "color=c=orange", "color=c=navy"]


def angle_fixture(name, kind, count, plan, split=None):
    """One title: PRE, a block of `count` angles cut into ILVUs of `plan` VOBUs, POST."""
    angles = [Clip(f"{name}-{n + 1}", ANGLE_SOURCES[n], 220 + 110 * n, sum(plan))
              for n in range(count)]
    cells = [c.name for c in angles]
    return Fixture(name, [PRE, *angles, POST], authored=[["pre", *cells, "post"]],
                   scenes=["pre", Block("angles", kind, cells, {c: plan for c in cells}), "post"],
                   pgcs=[["pre", "angles", "post"]], split=split)


def fixtures():
    branches = [Clip("b1", "smptebars", 550, 4), Clip("b2", "rgbtestsrc", 770, 6)]
    branch = Block("branch", "branch", ["b1", "b2"], {"b1": [1, 2, 1], "b2": [2, 2, 2]})
    return [
        angle_fixture("angle2", "seamless", 2, [2, 1, 2, 1], split=("angle2-2", 2)),
        angle_fixture("angle9", "nonseamless", 9, [2, 1]),
        Fixture("branch", [PRE, *branches, POST], authored=[["pre", "b1", "post"], ["b2"]],
                scenes=["pre", branch, "post"],
                pgcs=[["pre", "b1", "post"], ["pre", "b2", "post"]]),
    ]


# ---- Authoring ----

def encode(clip, folder):
    frames = clip.vobus * FRAMES_PER_VOBU
    seconds = f"{frames / FRAME_RATE:.3f}"
    out = os.path.join(folder, clip.name + ".mpg")
    video = clip.source + (":" if "=" in clip.source else "=")
    subprocess.run(
        ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
         "-f", "lavfi", "-i", f"{video}size=720x576:rate={FRAME_RATE}:duration={seconds}",
         "-f", "lavfi", "-i", f"sine=frequency={clip.tone}:duration={seconds}",
         # One closed GOP per VOBU and no extra I-frames, so every angle cuts into equal VOBUs.
         "-target", "pal-dvd", "-b:v", "1500k", "-g", str(FRAMES_PER_VOBU), "-flags", "+cgop",
         "-sc_threshold", "1000000000", "-frames:v", str(frames), out],
        check=True)
    return out


def author(fixture, src):
    dest = os.path.join(src, fixture.name)
    titles = "".join(
        "<pgc>" + "".join(f'<vob file="{os.path.join(src, n)}.mpg"/>' for n in title) + "</pgc>"
        for title in fixture.authored)
    xml = os.path.join(src, fixture.name + ".xml")
    with open(xml, "w") as f:
        f.write(f'<dvdauthor dest="{dest}"><vmgm/><titleset><titles>{titles}'
                "</titles></titleset></dvdauthor>\n")
    with open(os.path.join(src, fixture.name + ".log"), "w") as log:
        subprocess.run(["dvdauthor", "-x", xml], check=True, stdout=log, stderr=subprocess.STDOUT,
                       env=dict(os.environ, VIDEO_FORMAT="PAL"))
    return os.path.join(dest, "VIDEO_TS")


# ---- The authored title set ----

@dataclass(eq=False)
class Vobu:
    old: int              # first sector in the authored stream
    packs: list
    ptm: tuple            # VOBU start and end presentation time
    new: int = 0          # first sector in the interleaved stream

    @property
    def last(self):
        return self.new + len(self.packs) - 1


def read_authored(folder, fixture):
    """The VOBUs of every clip, and its cell's playback entry, from dvdauthor's title set."""
    stream = dvd.TitleStream(folder)
    data = b""
    for path, _, _ in stream.files:
        with open(path, "rb") as f:
            data += f.read()
    navs = stream.navpacks()
    by_vob = {}
    for i, (sector, vob, _) in enumerate(navs):
        end = navs[i + 1][0] if i + 1 < len(navs) else stream.sectors
        packs = [data[s * dvd.SECTOR:(s + 1) * dvd.SECTOR] for s in range(sector, end)]
        ptm = (dvd.be32(packs[0], dvd.PCI_VOBU_S_PTM), dvd.be32(packs[0], dvd.PCI_VOBU_E_PTM))
        by_vob.setdefault(vob, []).append(Vobu(sector, packs, ptm))
    order = [name for title in fixture.authored for name in title]
    cells = {c.vob_id: c for pgc in dvd.VtsIfo(folder).pgcs for c in pgc.cells}
    clips = {c.name: c for c in fixture.clips}
    vobus, entries = {}, {}
    for vob_id, name in enumerate(order, 1):
        got = len(by_vob.get(vob_id, []))
        if got != clips[name].vobus:
            sys.exit(f"{fixture.name}: clip {name} came out as {got} VOBUs, not "
                     f"{clips[name].vobus}: the encoder no longer cuts one GOP per VOBU")
        vobus[name], entries[name] = by_vob[vob_id], cells[vob_id]
    return vobus, entries


# ---- The interleaved layout ----

@dataclass
class Fields:
    category: int = 0
    ilvu_end: int = 0
    next_start: int = 0
    next_size: int = 0
    sml: list = field(default_factory=lambda: [(0, 0)] * dvd.ANGLES)
    nsml: list = field(default_factory=lambda: [0] * dvd.ANGLES)


class Layout:
    """The new stream: every cell's VOBUs in pieces (ILVUs), their sectors, and the fields the
    interleaving gives every navpack."""

    def __init__(self, fixture, vobus):
        self.fixture = fixture
        self.owner = {}       # Vobu -> clip
        self.pieces = {}      # clip -> [[Vobu, ...], ...] in stream order
        self.order = []       # every VOBU in stream order
        self.fields = {}      # Vobu -> Fields
        for scene in fixture.scenes:
            if isinstance(scene, str):
                self._place(scene, vobus[scene])
                continue
            plans = [scene.ilvus[c] for c in scene.cells]
            if any(len(p) != len(plans[0]) for p in plans):
                sys.exit(f"{fixture.name}: the cells of {scene.name} differ in ILVU count")
            taken = {c: 0 for c in scene.cells}
            for k in range(len(plans[0])):
                for cell in scene.cells:
                    count = scene.ilvus[cell][k]
                    self._place(cell, vobus[cell][taken[cell]:taken[cell] + count])
                    taken[cell] += count
        self.vob_ids = {}
        for vobu in self.order:
            self.vob_ids.setdefault(self.owner[vobu], len(self.vob_ids) + 1)
        self.sectors = sum(len(v.packs) for v in self.order)
        for scene_index, scene in enumerate(fixture.scenes):
            if isinstance(scene, Block):
                self._interleave(scene)
                self._pre_unit(fixture.scenes[scene_index - 1])

    def _place(self, cell, vobus):
        at = self.order[-1].last + 1 if self.order else 0
        for vobu in vobus:
            vobu.new, at = at, at + len(vobu.packs)
            self.fields[vobu] = Fields()
        self.order.extend(vobus)
        self.pieces.setdefault(cell, []).append(list(vobus))
        self.owner.update({v: cell for v in vobus})

    def _pre_unit(self, scene):
        """The last VOBUs before a block prepare the player for it."""
        before = self.pieces[scene][-1][-PREU_VOBUS:]
        for i, vobu in enumerate(before):
            self.fields[vobu].category = (dvd.CAT_PREU | (dvd.CAT_UNIT_START if i == 0 else 0)
                                          | (dvd.CAT_UNIT_END if i == len(before) - 1 else 0))

    def _interleave(self, block):
        for cell in block.cells:
            pieces = self.pieces[cell]
            for k, piece in enumerate(pieces):
                for j, vobu in enumerate(piece):
                    f = self.fields[vobu]
                    f.category = (dvd.CAT_ILVU | (dvd.CAT_UNIT_START if j == 0 else 0)
                                  | (dvd.CAT_UNIT_END if j == len(piece) - 1 else 0))
                    f.ilvu_end = piece[-1].last - vobu.new
                    if k + 1 < len(pieces):
                        f.next_start = pieces[k + 1][0].new - vobu.new
                        f.next_size = pieces[k + 1][-1].last - pieces[k + 1][0].new + 1
                    else:
                        f.next_start, f.next_size = dvd.NEXT_ILVU_NONE, dvd.NEXT_ILVU_SIZE_NONE
                    for n, angle in enumerate(block.cells):
                        if block.kind == "seamless":
                            f.sml[n] = self._next_ilvu(angle, k, vobu)
                        elif block.kind == "nonseamless":
                            f.nsml[n] = self._next_vobu(angle, k, j, vobu)

    def _next_ilvu(self, angle, k, vobu):
        pieces = self.pieces[angle]
        if k + 1 == len(pieces):
            return dvd.ANGLE_END, 0
        target = pieces[k + 1]
        return dvd.relative(target[0].new, vobu.new), target[-1].last - target[0].new + 1

    def _next_vobu(self, angle, k, j, vobu):
        """The VOBU of an angle that starts when this one ends (equal ILVUs: the same place)."""
        pieces = self.pieces[angle]
        if j + 1 < len(pieces[k]):
            return dvd.relative(pieces[k][j + 1].new, vobu.new)
        if k + 1 < len(pieces):
            return dvd.relative(pieces[k + 1][0].new, vobu.new)
        return dvd.ANGLE_END

    def sector_map(self):
        """Authored sector -> interleaved sector, for every pack."""
        moved = {}
        for vobu in self.order:
            for i in range(len(vobu.packs)):
                moved[vobu.old + i] = vobu.new + i
        return moved

    def cell_of_sector(self):
        return {vobu.old + i: self.owner[vobu]
                for vobu in self.order for i in range(len(vobu.packs))}


# ---- Navpacks ----

def remap_search_pointers(pack, old, new, moved):
    for k in range(dvd.SRI_COUNT):
        at = dvd.DSI_VOBU_SRI + 4 * k
        value = dvd.be32(pack, at)
        distance = value & dvd.SRI_END_OF_CELL
        if distance == dvd.SRI_END_OF_CELL:
            continue
        forward = k <= dvd.SRI_FORWARD_LAST
        target = moved[old + distance if forward else old - distance]
        if (target > new) != forward:
            sys.exit(f"search pointer {k} of the navpack at {old} changes direction")
        dvd.put32(pack, at, (value & dvd.SRI_FLAGS) | abs(target - new))


def remap_sync(pack, old, new, moved, cells):
    """Audio and sub-picture sync offsets keep their packs, wherever the packs now lie."""
    specs = [(dvd.DSI_AUDIO_SYNC + 2 * k, 2, dvd.AUDIO_SYNC_BACKWARD, dvd.AUDIO_SYNC_DISTANCE,
               dvd.AUDIO_SYNC_NONE) for k in range(8)]
    specs += [(dvd.DSI_SUBPICTURE_SYNC + 4 * k, 4, dvd.BACKWARD, dvd.SUBPICTURE_SYNC_DISTANCE,
               (0, dvd.SUBPICTURE_SYNC_DISTANCE)) for k in range(32)]
    for at, width, backward, mask, none in specs:
        value = dvd.be16(pack, at) if width == 2 else dvd.be32(pack, at)
        if value & mask in none:
            continue
        target_old = old - (value & mask) if value & backward else old + (value & mask)
        if cells[target_old] != cells[old]:
            sys.exit(f"a sync offset of the navpack at {old} points into another cell")
        distance = moved[target_old] - new
        value = backward | -distance if distance < 0 else distance
        (dvd.put16 if width == 2 else dvd.put32)(pack, at, value)


def write_fields(pack, f):
    dvd.put16(pack, dvd.DSI_ILVU_CATEGORY, f.category)
    dvd.put32(pack, dvd.DSI_ILVU_EA, f.ilvu_end)
    dvd.put32(pack, dvd.DSI_NT_ILVU_SA, f.next_start)
    dvd.put16(pack, dvd.DSI_NT_ILVU_SZ, f.next_size)
    for n in range(dvd.ANGLES):
        dvd.put32(pack, dvd.DSI_SML_AGLI + dvd.SML_AGLI_ENTRY * n, f.sml[n][0])
        dvd.put16(pack, dvd.DSI_SML_AGLI + dvd.SML_AGLI_ENTRY * n + 4, f.sml[n][1])
        dvd.put32(pack, dvd.PCI_NSML_AGLI + 4 * n, f.nsml[n])


def interleaved_stream(layout):
    moved, cells = layout.sector_map(), layout.cell_of_sector()
    out = bytearray()
    for vobu in layout.order:
        nav = bytearray(vobu.packs[0])
        dvd.put32(nav, dvd.PCI_NV_PCK_LBA, vobu.new)
        dvd.put32(nav, dvd.DSI_NV_PCK_LBA, vobu.new)
        dvd.put16(nav, dvd.DSI_VOB_ID, layout.vob_ids[layout.owner[vobu]])
        remap_search_pointers(nav, vobu.old, vobu.new, moved)
        remap_sync(nav, vobu.old, vobu.new, moved, cells)
        write_fields(nav, layout.fields[vobu])
        out += nav
        out += b"".join(vobu.packs[1:])
    return out


# ---- IFOs ----

def cell_entry(layout, clip, authored, block, angle):
    """A cell playback entry: the authored one with the block's bits and the new sectors."""
    pieces = layout.pieces[clip]
    flags = (authored.category >> 24) & (dvd.CELL_SEAMLESS | dvd.CELL_STC_DISCONTINUITY)
    first_ilvu_end = 0
    if block is not None:
        flags |= dvd.CELL_INTERLEAVED | dvd.CELL_SEAMLESS
        first_ilvu_end = pieces[0][-1].last
        if block.kind != "branch":
            mode = (dvd.BLOCK_FIRST if angle == 0 else
                    dvd.BLOCK_LAST if angle == len(block.cells) - 1 else dvd.BLOCK_IN)
            flags |= mode << dvd.CELL_BLOCK_MODE_SHIFT | dvd.CELL_BLOCK_TYPE_ANGLE
            flags |= dvd.CELL_SEAMLESS_ANGLE if block.kind == "seamless" else 0
    category = flags << 24 | (authored.category & dvd.CELL_CATEGORY_LOW_BYTES)
    return struct.pack(">IIIIII", category, authored.time,
                       pieces[0][0].new, first_ilvu_end, pieces[-1][-1].new, pieces[-1][-1].last)


def table(count, entries_and_tail):
    body = struct.pack(">HHI", count, 0, dvd.TABLE_ENTRIES + len(entries_and_tail) - 1)
    return body + entries_and_tail


class PgcPlan:
    """One title's program chain: its programs (scenes) and cells, and the path a player takes."""

    def __init__(self, layout, names, entries):
        blocks = {s.name: s for s in layout.fixture.scenes if isinstance(s, Block)}
        block_of = {c: b for b in blocks.values() for c in b.cells}
        self.program_starts, self.cells, self.path = [], [], []
        for name in names:
            self.program_starts.append(len(self.cells) + 1)
            members = blocks[name].cells if name in blocks else [name]
            for angle, clip in enumerate(members):
                block = block_of.get(clip)
                self.cells.append((clip, cell_entry(layout, clip, entries[clip], block, angle)))
            self.path.append(members[0])
        self.frames = sum(dvd.time_to_frames(entries[c].time) for c in self.path)
        self.angles = max((len(blocks[n].cells) for n in names if n in blocks), default=1)


def pgc_bytes(template, plan, layout):
    header = bytearray(template[:dvd.PGC_HEADER_SIZE])
    commands_at = dvd.be16(template, dvd.PGC_COMMANDS)
    commands = b""
    if commands_at:
        commands = template[commands_at:dvd.be16(template, dvd.PGC_PROGRAM_MAP)]
    header[dvd.PGC_PROGRAMS], header[dvd.PGC_CELLS] = len(plan.program_starts), len(plan.cells)
    dvd.put32(header, dvd.PGC_PLAYBACK_TIME, dvd.frames_to_time(plan.frames))
    struct.pack_into(">HHH", header, dvd.PGC_NEXT_PREV_GOUP, 0, 0, 0)
    at = dvd.PGC_HEADER_SIZE + len(commands)
    program_map = bytes(plan.program_starts) + bytes(len(plan.program_starts) % 2)
    playback = b"".join(entry for _, entry in plan.cells)
    position = b"".join(struct.pack(">HBB", layout.vob_ids[clip], 0, CELL_ID)
                        for clip, _ in plan.cells)
    struct.pack_into(">HHHH", header, dvd.PGC_COMMANDS, dvd.PGC_HEADER_SIZE if commands else 0,
                     at, at + len(program_map), at + len(program_map) + len(playback))
    return bytes(header) + commands + program_map + playback + position


def time_map(layout, plan):
    """dvdauthor's rule: one entry a second, each the VOBU playing at that second; the top bit
    where the next entry lies in another cell."""
    spans, start = [], 0
    for clip in plan.path:
        for piece in layout.pieces[clip]:
            for vobu in piece:
                length = vobu.ptm[1] - vobu.ptm[0]
                spans.append((start, start + length, vobu, clip))
                start += length
    count = (start - 1) // dvd.PTS_PER_SECOND
    at = [next(s for s in spans if s[0] <= (j + 1) * dvd.PTS_PER_SECOND < s[1])
          for j in range(count)]
    entries = b""
    for j, (_, _, vobu, clip) in enumerate(at):
        last = j + 1 == len(at) or at[j + 1][3] != clip
        entries += struct.pack(">I", vobu.new | (dvd.TMAP_DISCONTINUITY if last else 0))
    return struct.pack(">BBH", TIME_MAP_SECONDS, 0, count) + entries


def vts_ifo(layout, authored_folder, plans):
    with open(os.path.join(authored_folder, "VTS_01_0.IFO"), "rb") as f:
        template = f.read()
    pgcit = dvd.be32(template, dvd.VTS_PGCIT) * dvd.SECTOR
    pgc_template = template[pgcit + dvd.be32(template, pgcit + dvd.TABLE_ENTRIES + 4):]

    ptt_offsets, ptt_entries = b"", b""
    for pgcn, plan in enumerate(plans, 1):
        ptt_offsets += struct.pack(">I", dvd.TABLE_ENTRIES + 4 * len(plans) + len(ptt_entries))
        ptt_entries += b"".join(struct.pack(">HH", pgcn, program)
                                for program in range(1, len(plan.program_starts) + 1))
    ptt = table(len(plans), ptt_offsets + ptt_entries)

    pgcs = [pgc_bytes(pgc_template, plan, layout) for plan in plans]
    pointers, at = b"", dvd.TABLE_ENTRIES + dvd.PGCI_SRP_SIZE * len(plans)
    for title, pgc in enumerate(pgcs, 1):
        pointers += struct.pack(">BBHI", dvd.PGC_ENTRY_OF_TITLE | title, 0, 0, at)
        at += len(pgc)
    pgcit_table = table(len(plans), pointers + b"".join(pgcs))

    maps = [time_map(layout, plan) for plan in plans]
    offsets, at = b"", dvd.TABLE_ENTRIES + 4 * len(maps)
    for m in maps:
        offsets += struct.pack(">I", at)
        at += len(m)
    tmapt = table(len(maps), offsets + b"".join(maps))

    pieces = sorted((layout.vob_ids[clip], piece[0].new, piece[-1].last)
                    for clip, cell_pieces in layout.pieces.items() for piece in cell_pieces)
    c_adt = table(len(layout.vob_ids), b"".join(struct.pack(">HBBII", vob, CELL_ID, 0, first, last)
                                                for vob, first, last in pieces))
    starts = b"".join(struct.pack(">I", v.new) for v in layout.order)
    admap = struct.pack(">I", 4 + len(starts) - 1) + starts

    header = bytearray(template[:dvd.SECTOR])
    body, sector = b"", 1
    tables = ((dvd.VTS_PTT_SRPT, ptt), (dvd.VTS_PGCIT, pgcit_table), (dvd.VTS_TMAPT, tmapt),
              (dvd.VTS_C_ADT, c_adt), (dvd.VTS_VOBU_ADMAP, admap))
    for field_at, data in tables:
        dvd.put32(header, field_at, sector)
        data = dvd.pad_sector(data)
        body += data
        sector += len(data) // dvd.SECTOR
    for field_at in (dvd.VTSM_VOBS, dvd.VTSM_PGCI_UT, dvd.VTSM_C_ADT, dvd.VTSM_VOBU_ADMAP):
        dvd.put32(header, field_at, 0)
    dvd.put32(header, dvd.IFO_LAST_SECTOR_OF_IFO, sector - 1)
    dvd.put32(header, dvd.VTSTT_VOBS, sector)
    dvd.put32(header, dvd.IFO_LAST_SECTOR_OF_SET, 2 * sector + layout.sectors - 1)
    return bytes(header) + body


def video_manager(authored_folder, plans):
    with open(os.path.join(authored_folder, "VIDEO_TS.IFO"), "rb") as f:
        data = bytearray(f.read())
    srpt = dvd.be32(data, dvd.VMG_TT_SRPT) * dvd.SECTOR
    for title, plan in enumerate(plans):
        entry = srpt + dvd.TABLE_ENTRIES + dvd.TT_SRPT_ENTRY * title
        data[entry + dvd.TT_ANGLES] = plan.angles
        dvd.put16(data, entry + dvd.TT_CHAPTERS, len(plan.program_starts))
    return bytes(data)


# ---- Putting it together ----

def split_sector(layout, stream):
    clip, k = layout.fixture.split
    piece = layout.pieces[clip][k]
    at = piece[0].new + (piece[-1].last - piece[0].new + 1) // 2
    while dvd.is_nav(stream[at * dvd.SECTOR:(at + 1) * dvd.SECTOR]):
        at += 1
    return at


def build(fixture, src, out):
    authored = author(fixture, src)
    vobus, entries = read_authored(authored, fixture)
    layout = Layout(fixture, vobus)
    stream = interleaved_stream(layout)
    plans = [PgcPlan(layout, names, entries) for names in fixture.pgcs]
    folder = os.path.join(out, fixture.name, "VIDEO_TS")
    os.makedirs(folder)
    cuts = [0, split_sector(layout, stream) if fixture.split else layout.sectors, layout.sectors]
    for number in range(1, len(cuts)):
        if cuts[number] > cuts[number - 1]:
            with open(os.path.join(folder, f"VTS_01_{number}.VOB"), "wb") as f:
                f.write(stream[cuts[number - 1] * dvd.SECTOR:cuts[number] * dvd.SECTOR])
    ifo = vts_ifo(layout, authored, plans)
    vmg = video_manager(authored, plans)
    for name, data in (("VTS_01_0", ifo), ("VIDEO_TS", vmg)):
        for ext in ("IFO", "BUP"):
            with open(os.path.join(folder, f"{name}.{ext}"), "wb") as f:
                f.write(data)
    angles = ", ".join(f"title {t}: {p.angles} angle(s), {len(p.cells)} cells"
                       for t, p in enumerate(plans, 1))
    print(f"{fixture.name}: {layout.sectors} sectors, {len(layout.order)} VOBUs; {angles}")


def stamp():
    here = os.path.dirname(os.path.abspath(__file__))
    digest = hashlib.sha1()
    for name in ("make-interleaved.py", "ilvu_layout.py"):
        with open(os.path.join(here, name), "rb") as f:
            digest.update(f.read())
    return digest.hexdigest()[:16]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    mark = os.path.join(out, ".stamp")
    if os.path.exists(mark):
        with open(mark) as f:
            if f.read().strip() == stamp():
                return 0
    elif os.path.isdir(out) and os.listdir(out) and not os.path.exists(os.path.join(out, OWNER)):
        sys.exit(f"{out} holds files this script did not make: name a new or empty folder")
    for tool in ("ffmpeg", "dvdauthor"):
        if shutil.which(tool) is None:
            print(f"{tool} not found: interleaved fixtures skipped "
                  "(scripts/install-deps.sh installs it)")
            shutil.rmtree(out, ignore_errors=True)
            return 77
    shutil.rmtree(out, ignore_errors=True)
    src = os.path.join(out, "src")
    os.makedirs(src)
    # Lets a later run replace what an interrupted one left.
    open(os.path.join(out, OWNER), "w").close()
    wanted = {c.name: c for f in fixtures() for c in f.clips}
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        list(pool.map(lambda c: encode(c, src), wanted.values()))
    for fixture in fixtures():
        build(fixture, src, out)
    shutil.rmtree(src)
    with open(mark, "w") as f:
        f.write(stamp() + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
