#!/usr/bin/env python3
"""Fails unless a built service pack carries exactly its resources.

usage: check_resources.py EXE PAYLOAD [TEXT ...]

The executable must hold the payload (type "MSP", name "IDR_MSP", language
1046) with the bytes of PAYLOAD, the texts (type "TXT", ids 206, 207, ... in
language 1046) with the bytes of each TEXT, the string-table blocks 19 and 20
in the fourteen catalogue languages and blocks 44 and 57 in 1033 only, and
nothing else: no manifest, icon or version block the toolchain might add.
The contents of the string tables are checked on the compiled resources by
the unit tests.
"""
import struct
import sys

LANGUAGES = [1028, 1029, 1031, 1033, 1034, 1036, 1038, 1040, 1041, 1042,
             1045, 1046, 1049, 2052]
RT_STRING = 6


def sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(count):
        name, vsize, vaddr, rsize, raw = struct.unpack_from(
            "<8sIIII", data, table + 40 * i)
        yield name.rstrip(b"\0").decode(), vaddr, vsize, raw, rsize


def resources(data):
    """(type, name, language) -> bytes; names and types are ints or str."""
    rsrc = [s for s in sections(data) if s[0] == ".rsrc"]
    if not rsrc:
        return {}
    _, vaddr, _, raw, _ = rsrc[0]

    def at(rva):
        return raw + rva - vaddr

    def label(value):
        if value & 0x80000000:
            offset = raw + (value & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, offset)[0]
            return data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
        return value

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, raw + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data,
                                              raw + offset + 16 + 8 * i)
            yield label(name), target

    found = {}
    for kind, t in entries(0):
        for name, n in entries(t & 0x7FFFFFFF):
            for lang, leaf in entries(n & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, raw + leaf)
                found[(kind, name, lang)] = data[at(rva):at(rva) + size]
    return found


def main(exe, payload, *texts):
    with open(exe, "rb") as f:
        found = resources(f.read())
    expected = {("MSP", "IDR_MSP", 1046): open(payload, "rb").read()}
    for i, text in enumerate(texts):
        expected[("TXT", 206 + i, 1046)] = open(text, "rb").read()
    for block in (19, 20):
        for lang in LANGUAGES:
            expected[(RT_STRING, block, lang)] = None
    for block in (44, 57):
        expected[(RT_STRING, block, 1033)] = None

    problems = []
    for key in sorted(set(found) - set(expected), key=str):
        problems.append("unexpected resource %r" % (key,))
    for key in sorted(set(expected) - set(found), key=str):
        problems.append("missing resource %r" % (key,))
    for key, content in expected.items():
        if content is not None and key in found and found[key] != content:
            problems.append("resource %r differs from its file" % (key,))
    for p in problems:
        print("%s: %s" % (exe, p))
    print("%s: %d resources%s" % (exe, len(found),
                                  ", as expected" if not problems else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
