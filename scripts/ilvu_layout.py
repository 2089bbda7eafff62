"""DVD-Video structures the interleaved-block fixtures are built and damaged with.

The byte positions of every navpack and IFO field these scripts read or write, named in one
place, and the readers and writers built on them: the title VOB stream as one sequence of packs,
its navpacks, and the program chains, cell address table and title table of the IFOs.
All numbers are big-endian.
"""
import os
import struct

SECTOR = 2048

# Navpack (pack header 0..13, system header 14..37, PCI packet at 38, DSI packet at 1024).
PCI_PACKET = 38
DSI_PACKET = 1024
PRIVATE_STREAM_2 = 0x000001BF
PCI_NV_PCK_LBA = 45
PCI_VOBU_S_PTM = 57
PCI_VOBU_E_PTM = 61
PCI_NSML_AGLI = 105          # nine 4-byte destinations
DSI_NV_PCK_LBA = 1035
DSI_VOBU_EA = 1039
DSI_VOB_ID = 1055            # 16 bits
DSI_CELL_ID = 1058           # 8 bits
DSI_C_ELTM = 1059            # BCD hh mm ss ff, the rate in the two top bits of ff
DSI_ILVU_CATEGORY = 1063     # SML_PBI: 16 bits
DSI_ILVU_EA = 1065
DSI_NT_ILVU_SA = 1069
DSI_NT_ILVU_SZ = 1073        # 16 bits
DSI_SML_AGLI = 1211          # nine entries: address (4) and size (2)
SML_AGLI_ENTRY = 6
DSI_VOBU_SRI = 1265          # 42 search pointers of 4 bytes
SRI_COUNT = 42
SRI_FORWARD_LAST = 20        # entries 0..20 point forward, 21..41 backward
DSI_AUDIO_SYNC = 1433        # eight 16-bit offsets
DSI_SUBPICTURE_SYNC = 1449   # 32 offsets of 4 bytes
ANGLES = 9

# SML_PBI category bits.
CAT_PREU = 0x8000
CAT_ILVU = 0x4000
CAT_UNIT_START = 0x2000
CAT_UNIT_END = 0x1000

# Sentinels.
SRI_END_OF_CELL = 0x3FFFFFFF
SRI_FLAGS = 0xC0000000
NEXT_ILVU_NONE = 0xFFFFFFFF      # NT_ILVU_SA in a cell's last ILVU
NEXT_ILVU_SIZE_NONE = 0xFFFF     # NT_ILVU_SZ with it
ANGLE_END = 0x7FFFFFFF           # SML_AGLI / NSML_AGLI: no further ILVU (VOBU) of that angle
BACKWARD = 0x80000000
AUDIO_SYNC_BACKWARD = 0x8000
AUDIO_SYNC_DISTANCE = 0x7FFF
AUDIO_SYNC_NONE = (0, 0x3FFF, 0x7FFF)
SUBPICTURE_SYNC_DISTANCE = 0x7FFFFFFF

# IFO header (VTSI_MAT / VMGI_MAT).
IFO_LAST_SECTOR_OF_SET = 12
IFO_LAST_SECTOR_OF_IFO = 28
VTSM_VOBS = 192
VTSTT_VOBS = 196
VMG_TT_SRPT = 196
VTS_PTT_SRPT = 200
VTS_PGCIT = 204
VTSM_PGCI_UT = 208
VTS_TMAPT = 212
VTSM_C_ADT = 216
VTSM_VOBU_ADMAP = 220
VTS_C_ADT = 224
VTS_VOBU_ADMAP = 228

# Tables: u16 count, u16 reserved, u32 last byte, then entries.
TABLE_ENTRIES = 8
PGCI_SRP_SIZE = 8
PGC_ENTRY_OF_TITLE = 0x80    # entry-PGC flag of a search pointer; the title number beside it

# PGC.
PGC_HEADER_SIZE = 236
PGC_PROGRAMS = 2
PGC_CELLS = 3
PGC_PLAYBACK_TIME = 4
PGC_NEXT_PREV_GOUP = 156     # three u16
PGC_COMMANDS = 228
PGC_PROGRAM_MAP = 230
PGC_CELL_PLAYBACK = 232
PGC_CELL_POSITION = 234
CELL_PLAYBACK_SIZE = 24
CELL_POSITION_SIZE = 4
# Cell playback entry: category byte 0 and its bits, then time and four sectors.
CELL_BLOCK_MODE_SHIFT = 6
CELL_BLOCK_TYPE_ANGLE = 0x10
CELL_SEAMLESS = 0x08
CELL_INTERLEAVED = 0x04
CELL_STC_DISCONTINUITY = 0x02
CELL_SEAMLESS_ANGLE = 0x01
CELL_CATEGORY_LOW_BYTES = 0xFFFFFF   # still time, command and the flags of byte 1
BLOCK_NONE, BLOCK_FIRST, BLOCK_IN, BLOCK_LAST = 0, 1, 2, 3
C_ADT_ENTRY = 12
TT_SRPT_ENTRY = 12
TT_ANGLES = 1
TT_CHAPTERS = 2
TT_TITLE_SET = 6
TT_VTS_TITLE = 7
TMAP_DISCONTINUITY = 0x80000000
PTS_PER_SECOND = 90000


def be32(data, at):
    return struct.unpack_from(">I", data, at)[0]


def be16(data, at):
    return struct.unpack_from(">H", data, at)[0]


def put32(data, at, value):
    struct.pack_into(">I", data, at, value)


def put16(data, at, value):
    struct.pack_into(">H", data, at, value)


def is_nav(pack):
    return be32(pack, PCI_PACKET) == PRIVATE_STREAM_2 and be32(pack, DSI_PACKET) == PRIVATE_STREAM_2


def relative(target, navpack):
    """A distance from a navpack as the angle fields carry it: bit 31 for a target before it."""
    return target - navpack if target >= navpack else BACKWARD | (navpack - target)


def pad_sector(data):
    return data + bytes(-len(data) % SECTOR)


def bcd(value):
    return (value // 10) << 4 | value % 10


def unbcd(value):
    return (value >> 4) * 10 + (value & 15)


def time_to_frames(code):
    """A playback time (hh mm ss ff, BCD, rate in ff's top bits) as frames at its own rate."""
    rate = 25 if (code & 0xC0) == 0x40 else 30
    hours, minutes, seconds = unbcd(code >> 24), unbcd(code >> 16 & 0xFF), unbcd(code >> 8 & 0xFF)
    return ((hours * 60 + minutes) * 60 + seconds) * rate + unbcd(code & 0x3F)


def frames_to_time(frames, rate=25):
    seconds, frame = divmod(frames, rate)
    minutes, seconds = divmod(seconds, 60)
    hours, minutes = divmod(minutes, 60)
    flag = 0x40 if rate == 25 else 0xC0
    return bcd(hours) << 24 | bcd(minutes) << 16 | bcd(seconds) << 8 | flag | bcd(frame)


def title_vob_paths(folder, vts=1):
    paths = (os.path.join(folder, f"VTS_{vts:02d}_{n}.VOB") for n in range(1, 10))
    return [p for p in paths if os.path.exists(p)]


class TitleStream:
    """The title VOB files of a title set as one stream of packs, writable in place."""

    def __init__(self, folder, vts=1):
        self.files = []   # (path, first sector, sectors)
        first = 0
        for path in title_vob_paths(folder, vts):
            sectors = os.path.getsize(path) // SECTOR
            self.files.append((path, first, sectors))
            first += sectors
        self.sectors = first

    def _locate(self, sector):
        for path, first, count in self.files:
            if first <= sector < first + count:
                return path, (sector - first) * SECTOR
        raise IndexError(f"sector {sector} lies beyond the title VOBs")

    def read(self, sector):
        path, offset = self._locate(sector)
        with open(path, "rb") as f:
            f.seek(offset)
            return f.read(SECTOR)

    def write(self, sector, pack):
        path, offset = self._locate(sector)
        with open(path, "r+b") as f:
            f.seek(offset)
            f.write(pack)

    def navpacks(self):
        """(sector, VOB ID, cell ID) of every navpack, in stream order."""
        found = []
        for path, first, count in self.files:
            with open(path, "rb") as f:
                data = f.read(count * SECTOR)
            for i in range(count):
                pack = data[i * SECTOR:(i + 1) * SECTOR]
                if is_nav(pack):
                    found.append((first + i, be16(pack, DSI_VOB_ID), pack[DSI_CELL_ID]))
        return found


class Cell:
    """One entry of a PGC's cell table."""

    def __init__(self, playback, position):
        self.category = be32(playback, 0)
        self.time = be32(playback, 4)
        self.first, self.first_ilvu_end, self.last_vobu, self.last = struct.unpack_from(
            ">IIII", playback, 8)
        self.vob_id = be16(position, 0)
        self.cell_id = position[3]

    @property
    def flags(self):
        return self.category >> 24

    @property
    def block_mode(self):
        return self.flags >> CELL_BLOCK_MODE_SHIFT

    @property
    def in_angle_block(self):
        return bool(self.flags & CELL_BLOCK_TYPE_ANGLE)

    @property
    def interleaved(self):
        return bool(self.flags & CELL_INTERLEAVED)

    def playback_bytes(self):
        return struct.pack(">IIIIII", self.category, self.time, self.first, self.first_ilvu_end,
                           self.last_vobu, self.last)

    def position_bytes(self):
        return struct.pack(">HBB", self.vob_id, 0, self.cell_id)


class Pgc:
    def __init__(self, data, at):
        self.at = at
        self.programs = data[at + PGC_PROGRAMS]
        self.time = be32(data, at + PGC_PLAYBACK_TIME)
        count = data[at + PGC_CELLS]
        playback = at + be16(data, at + PGC_CELL_PLAYBACK)
        position = at + be16(data, at + PGC_CELL_POSITION)
        program_map = at + be16(data, at + PGC_PROGRAM_MAP)
        self.program_map = list(data[program_map:program_map + self.programs])
        self.cells = [Cell(data[playback + CELL_PLAYBACK_SIZE * i:],
                           data[position + CELL_POSITION_SIZE * i:]) for i in range(count)]

    def angle_blocks(self):
        """Each angle block as the list of its cells' indices, angle 1 first."""
        blocks, current = [], None
        for i, cell in enumerate(self.cells):
            if not cell.in_angle_block:
                current = None
                continue
            if cell.block_mode == BLOCK_FIRST or current is None:
                current = []
                blocks.append(current)
            current.append(i)
        return blocks


class VtsIfo:
    """The title domain of a VTS IFO: program chains and cell address table."""

    def __init__(self, folder, vts=1):
        self.paths = [os.path.join(folder, f"VTS_{vts:02d}_0.{ext}") for ext in ("IFO", "BUP")]
        with open(self.paths[0], "rb") as f:
            self.data = bytearray(f.read())
        pgcit = be32(self.data, VTS_PGCIT) * SECTOR
        pointers = pgcit + TABLE_ENTRIES
        self.pgcs = [Pgc(self.data, pgcit + be32(self.data, pointers + PGCI_SRP_SIZE * i + 4))
                     for i in range(be16(self.data, pgcit))]

    def cell_pieces(self):
        """{(VOB ID, cell ID): [(first, last sector), ...]} from the cell address table."""
        at = be32(self.data, VTS_C_ADT) * SECTOR
        pieces = {}
        for i in range((be32(self.data, at + 4) + 1 - TABLE_ENTRIES) // C_ADT_ENTRY):
            entry = at + TABLE_ENTRIES + C_ADT_ENTRY * i
            key = (be16(self.data, entry), self.data[entry + 2])
            span = (be32(self.data, entry + 4), be32(self.data, entry + 8))
            pieces.setdefault(key, []).append(span)
        return {key: sorted(value) for key, value in pieces.items()}

    def save(self):
        for path in self.paths:
            with open(path, "wb") as f:
                f.write(self.data)
