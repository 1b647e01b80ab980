#!/usr/bin/env python3
"""Declares an executable's delay-import descriptors in its delay-import
directory and brings its checksum up to date. Standard library only.

GNU ld links dlltool's delay-import libraries, whose thunks hand their own
descriptor to __delayLoadHelper2, but leaves the directory empty: the program
runs, yet no tool that lists what it loads can see those DLLs. The
descriptors lie side by side in .text, ended by the zeroed one that
tavrin_delay_imports() links after them.

The image is linked without a time stamp (zero), so that it does not depend
on when it was built; a TIME_STAMP given (SOURCE_DATE_EPOCH) is written in
its place.

usage: delay-import-directory.py EXE [TIME_STAMP]
"""
import struct
import sys

DELAY_IMPORT_DIRECTORY = 13
DESCRIPTOR_SIZE = 32
# Attributes, DLL name, module handle, address table, name table, bound
# table, unload table, time stamp: the last three are zero in dlltool's, and
# the attributes say that the others are RVAs.
DESCRIPTOR = struct.Struct('<8I')
RVA_BASED = 1


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('not a PE image')
        count, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from('<H', data, optional)[0]
        self.time_stamp_at = pe + 8
        self.checksum_at = optional + 64
        self.directories_at = optional + (96 if magic == 0x10B else 112)
        self.sections = []
        for at in range(optional + optional_size, optional + optional_size + 40 * count, 40):
            virtual_size, rva, raw_size, raw_at = struct.unpack_from('<4I', data, at + 8)
            self.sections.append((rva, min(virtual_size, raw_size), raw_at))

    def offset(self, rva):
        for start, size, raw_at in self.sections:
            if start <= rva < start + size:
                return raw_at + rva - start
        return None

    def dll_name(self, rva):
        at = self.offset(rva)
        if at is None:
            return None
        end = self.data.find(b'\0', at, at + 260)
        name = self.data[at:end] if end > at else b''
        return name if name.lower().endswith(b'.dll') and name.isascii() else None

    def is_descriptor(self, at):
        attributes, name, module, table, names, bound, unload, stamp = \
            DESCRIPTOR.unpack_from(self.data, at)
        return (attributes == RVA_BASED and bound == unload == stamp == 0
                and None not in (self.offset(module), self.offset(table), self.offset(names))
                and self.dll_name(name) is not None)

    def descriptors(self):
        found = []
        for start, size, raw_at in self.sections:
            for at in range(raw_at, raw_at + size - DESCRIPTOR_SIZE + 1, 4):
                if self.is_descriptor(at):
                    found.append(at - raw_at + start)
        return found

    def checksum(self):
        data = bytearray(self.data)
        data[self.checksum_at:self.checksum_at + 4] = bytes(4)
        if len(data) % 2:
            data.append(0)
        total = 0
        for (word,) in struct.iter_unpack('<H', data):
            total += word
            total = (total & 0xFFFF) + (total >> 16)
        return (total + len(self.data)) & 0xFFFFFFFF


def main(path, time_stamp):
    with open(path, 'rb') as f:
        image = Image(bytearray(f.read()))
    found = image.descriptors()
    if not found:
        sys.exit(f'{path}: no delay-import descriptors')
    first, last = found[0], found[-1]
    if last - first != (len(found) - 1) * DESCRIPTOR_SIZE:
        sys.exit(f'{path}: delay-import descriptors not side by side: {[hex(r) for r in found]}')
    end = image.offset(last + DESCRIPTOR_SIZE)
    if end is None or any(image.data[end:end + DESCRIPTOR_SIZE]):
        sys.exit(f'{path}: no zeroed descriptor after the delay-import descriptors')
    struct.pack_into('<2I', image.data, image.directories_at + 8 * DELAY_IMPORT_DIRECTORY,
                     first, (len(found) + 1) * DESCRIPTOR_SIZE)
    if time_stamp:
        struct.pack_into('<I', image.data, image.time_stamp_at, int(time_stamp))
    if struct.unpack_from('<I', image.data, image.checksum_at)[0]:
        struct.pack_into('<I', image.data, image.checksum_at, image.checksum())
    with open(path, 'wb') as f:
        f.write(image.data)


if __name__ == '__main__':
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else '')
