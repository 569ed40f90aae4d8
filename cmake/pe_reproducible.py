#!/usr/bin/env python3
"""Makes a Windows program the same bytes from every build, and the same
bytes again once a signature is put on and taken off:

    pe_reproducible.py PROGRAM

- its header's time stamp is 0 (the linker's --no-insert-timestamp does
  that, but objcopy and strip, run after it, put the clock's time back);
- the file is padded with zeros to a multiple of 8 bytes, as Authenticode
  signing tools pad it before they append the signature (and leave it so
  when they remove it);
- its header carries the checksum of its bytes, which the linker leaves 0
  and signing tools fill in, when signing and again when removing.
So a signed program with its signature removed is the unsigned build's
program, which is how a distributor compares a signed release with a build
of their own (docs/releasing.md).
"""
import struct
import sys


def pe_checksum(data):
    # 16-bit words summed with their carries folded back in, plus the length;
    # the checksum field itself is 0 here.
    total = sum(w for (w,) in struct.iter_unpack("<H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def main(path):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    (pe_header,) = struct.unpack_from("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[pe_header:pe_header + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE program")
    data += b"\0" * (-len(data) % 8)
    # The file header follows the 4-byte signature: its TimeDateStamp is 4
    # bytes in. The optional header follows the 20-byte file header: its
    # CheckSum is 64 bytes in.
    struct.pack_into("<I", data, pe_header + 4 + 4, 0)
    checksum = pe_header + 4 + 20 + 64
    struct.pack_into("<I", data, checksum, 0)
    struct.pack_into("<I", data, checksum, pe_checksum(bytes(data)))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.splitlines()[0])
    main(sys.argv[1])
