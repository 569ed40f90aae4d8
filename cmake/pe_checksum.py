#!/usr/bin/env python3
"""Writes the PE checksum into a Windows program: pe_checksum.py PROGRAM

The linker leaves the field 0; Authenticode signing tools fill it in, and
fill it in again when they take a signature off. With the right checksum
from the start, a signed program with its signature removed is the same
bytes as the unsigned one, which is how a distributor compares a signed
release with a build of their own (docs/releasing.md).
"""
import struct
import sys


def pe_checksum(data, field):
    total = 0
    for (word,) in struct.iter_unpack("<H", data + b"\0" * (len(data) % 2)):
        total += word
    # The field itself counts as zero.
    total -= sum(w for (w,) in struct.iter_unpack("<H", data[field:field + 4]))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def main(path):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    (pe_header,) = struct.unpack_from("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[pe_header:pe_header + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE program")
    # The optional header's CheckSum, 64 bytes in, after the 4-byte signature
    # and the 20-byte file header.
    field = pe_header + 4 + 20 + 64
    struct.pack_into("<I", data, field, 0)
    struct.pack_into("<I", data, field, pe_checksum(bytes(data), field))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.splitlines()[0])
    main(sys.argv[1])
