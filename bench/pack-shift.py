#!/usr/bin/env python3
"""How the packs a cleaning kept moved: the runs of packs written unchanged, and how many of
them landed an odd number of packs off their place in the source file, that is 2048 bytes off a
4 KiB block, where a file system can share no block between the source and the copy (reflink),
whatever call makes the copy.

    pack-shift.py BEFORE_FOLDER AFTER_FOLDER [TITLE_SET]

BEFORE_FOLDER holds the title VOBs as they were (a run's DorvexBackup folder), AFTER_FOLDER as
the run left them. Packs are matched by their bytes, so this needs real MPEG packs (each carries
its own clock reference): an authored or ripped disc, not the benchmark's synthetic set, whose
generator counts the same from its layout. A navpack is rewritten by the cleaning and ends a run.
"""
import hashlib
import os
import sys

SECTOR = 2048


def title_vobs(folder, vts):
    names = [f"VTS_{vts:02d}_{n}.VOB" for n in range(1, 10)]
    paths = [os.path.join(folder, n) for n in names]
    return [p for p in paths if os.path.exists(p)]


def packs(paths):
    """Yields (file index, pack index in the file, digest) for every whole pack."""
    for index, path in enumerate(paths):
        with open(path, "rb") as f:
            data = f.read()
        for pack in range(len(data) // SECTOR):
            yield index, pack, hashlib.blake2b(data[pack * SECTOR:(pack + 1) * SECTOR],
                                               digest_size=16).digest()


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    vts = int(sys.argv[3]) if len(sys.argv) == 4 else 1
    before = title_vobs(sys.argv[1], vts)
    after = title_vobs(sys.argv[2], vts)
    if not before or not after:
        sys.exit(f"no title VOBs of title set {vts} in both folders")
    where = {}
    for place in packs(before):
        where[place[2]] = None if place[2] in where else place[:2]  # None: not unique
    runs = odd_runs = kept = odd_kept = 0
    previous = None  # (source place, destination place) of the last pack matched
    for file, pack, digest in packs(after):
        source = where.get(digest)
        if source is None:
            previous = None
            continue
        follows = previous is not None and previous[0] == (source[0], source[1] - 1) \
            and previous[1] == (file, pack - 1)
        odd = (source[1] - pack) % 2 == 1
        if not follows:
            runs += 1
            odd_runs += odd
        kept += 1
        odd_kept += odd
        previous = (source, (file, pack))
    share = 100.0 * odd_kept / kept if kept else 0.0
    print(f"{runs} runs of unchanged packs ({kept} packs); {odd_runs} of them ({share:.1f}% of "
          f"those packs) land an odd number of packs off their source, 2048 bytes off a 4 KiB "
          f"block")


if __name__ == "__main__":
    main()
