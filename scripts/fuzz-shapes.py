#!/usr/bin/env python3
"""Bends a valid multi-segment OpenDML file into the index shapes an attacker
uses, as fuzz seeds: every super index entry naming the same standard index
(overlapping, repeated indexes), a standard index whose last entry is spare
(nEntriesInUse one less than the chunk holds), one whose entries are all
unused, and one with two interior entries swapped.

    fuzz-shapes.py OUT_FOLDER VALID.avi...

Each seed is named after its source and its shape; a source too small for a
shape (one segment, fewer than four entries) gives none of that shape.
"""
import struct
import sys
from pathlib import Path


def chunks(data, start, end):
    """(code, offset of the chunk header, size) of every chunk in [start, end), lists entered."""
    at = start
    while at + 8 <= end:
        code, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        yield code, at, size
        if code in (b"RIFF", b"LIST"):
            yield from chunks(data, at + 12, min(at + 8 + size, end))
        at += 8 + size + (size & 1)


def find(data, code):
    return [(at, size) for c, at, size in chunks(data, 0, len(data)) if c == code]


def bend(data):
    shapes = {}

    # 'indx' of stream 0: wLongsPerEntry, bIndexSubType, bIndexType, nEntriesInUse,
    # dwChunkId, 12 reserved bytes, then entries of qwOffset, dwSize, dwDuration.
    indx = find(data, b"indx")
    if indx:
        at, _ = indx[0]
        used = struct.unpack_from("<I", data, at + 12)[0]
        if used >= 2:
            bent = bytearray(data)
            first = bytes(bent[at + 32:at + 48])
            for k in range(1, used):
                bent[at + 32 + 16 * k:at + 48 + 16 * k] = first
            shapes["shape-overlapping-indexes"] = bent

    # 'ix00': wLongsPerEntry, bIndexSubType, bIndexType, nEntriesInUse, dwChunkId,
    # qwBaseOffset, dwReserved, then entries of dwOffset, dwSize.
    ix = find(data, b"ix00")
    if ix:
        at, _ = ix[0]
        used = struct.unpack_from("<I", data, at + 12)[0]
        if used >= 1:
            bent = bytearray(data)
            struct.pack_into("<I", bent, at + 12, used - 1)
            shapes["shape-spare-entry"] = bent
            bent = bytearray(data)
            struct.pack_into("<I", bent, at + 12, 0)
            shapes["shape-never-written-entries"] = bent
        if used >= 4:
            bent = bytearray(data)
            one, two = at + 32 + 8, at + 32 + 16
            bent[one:one + 8], bent[two:two + 8] = data[two:two + 8], data[one:one + 8]
            shapes["shape-swapped-interior-entries"] = bent

    return shapes


def main():
    out, written = Path(sys.argv[1]), 0
    for source in map(Path, sys.argv[2:]):
        for name, bytes_ in bend(source.read_bytes()).items():
            (out / f"{source.stem}-{name}.avi").write_bytes(bytes_)
            written += 1
    print(f"{written} index shapes written to {out}")


if __name__ == "__main__":
    main()
