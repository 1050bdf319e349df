#!/usr/bin/env python3
"""Writes the sample patch package of the sample service pack.

Usage: make_sample_msp.py OUTPUT.msp

The output is a Windows Installer patch package for "Corvane Mervolt 9"
Service Pack 1: an OLE compound file (version 3, 512-byte sectors) whose
root storage carries the patch class identifier and holds

  - the summary information: the 21 target product codes in property 7
    (Template), the names of two pairs of transforms in property 8 (Last
    Saved By) and the patch code in property 9 (Revision Number);
  - an empty string pool, so that Windows Installer can open the file as a
    database;
  - one substorage per transform: an empty transform (summary information
    and an empty string pool) that changes nothing;
  - a small stream in place of the cabinet with the patch's files.

Nothing in the file depends on the time or on chance: every run writes the
same bytes. PRODUCT_CODES and PATCH_CODE can be imported by test code.
The matching patch-information text is patchinfo206.txt beside this script.
"""

import struct
import sys

# The products that the patch may be applied to, in the order of property 7.
PRODUCT_CODES = [
    "{FDD175F8-B7FA-5A8E-A791-D0617CAF9FED}",
    "{B6409B48-E87D-5C49-AC9A-7BA8A2165B17}",
    "{DB61FEF1-0841-5416-9657-76211EC428F8}",
    "{B9E92BC0-D648-575B-B8FB-D1E07960C9F4}",
    "{A0570047-6AEE-59B1-ACAB-5DF9AE162871}",
    "{600EF6B3-6EDD-5B39-892E-DE7484835DF4}",
    "{7F300E77-723B-52F7-9BB6-792AEF7AB056}",
    "{2DC0EA41-B05A-5027-9E5C-DECC2A5C1291}",
    "{CEC3862B-9EDC-5B85-912C-99C2ADBE0EF9}",
    "{DD69E40E-2E96-5FF7-B7C4-28812DC3B42E}",
    "{5CD5DB80-DBE9-5A35-A270-F3D4D723E945}",
    "{9335F75B-023E-5856-AD32-E559B50043C2}",
    "{8A642DB5-C60C-5BD8-9ABC-6FDC2D1C3B5B}",
    "{BA70FD10-2DB0-55E2-A1AE-278DB68DED4B}",
    "{96510DC2-8A2E-5283-85FD-C4301A1959D2}",
    "{5A64BDEC-6636-59E2-9B78-CB1C081BD0EE}",
    "{FAE62F0E-37CA-5C61-B363-869C8C536D7B}",
    "{E1E8F1DA-ACFA-5D07-B0DA-03096E3FD5EB}",
    "{6EE4AB33-9FB0-5635-ADB7-AFF58599F109}",
    "{E67FA50E-242D-5AF3-B327-D4A88F7A5147}",
    "{95216665-703D-525A-8E59-943802DB6084}",
]

# The patch code: property 9 and the PatchGUID key of text 206.
PATCH_CODE = "{FB8B3114-FEA9-519E-B8A2-32D3E6BE399D}"

# The upgrade code that the transforms name for the product family.
UPGRADE_CODE = "{51C09C30-CFDF-52C4-8559-79DBD330D6F4}"

ACCEPTED_VERSION = "9.0.43.0"
TARGET_VERSION = "9.1.0.6"
PRODUCT_NAME = "Corvane Mervolt 9"
MAKER = "Corvane"
LANGUAGE = 1046
CODEPAGE = 1252

# Two pairs of transforms: for each target image one that changes the
# product's tables and one ('#') that adds the patch's own rows.
TRANSFORMS = [
    "MRV9ProToSP1",
    "#MRV9ProToSP1",
    "MRV9StdToSP1",
    "#MRV9StdToSP1",
]

# Stands in for the cabinet of the patch's files.
PATCH_FILES_STREAM = "MRV9SP1"
PATCH_FILES = (
    b"Corvane Mervolt 9 Service Pack 1 sample patch: this stream stands in "
    b"for the cabinet of the patch's files and holds no files.\r\n"
)

CLSID_MSI_PATCH = "{000C1086-0000-0000-C000-000000000046}"
CLSID_MSI_TRANSFORM = "{000C1082-0000-0000-C000-000000000046}"
FMTID_SUMMARY = "{F29F85E0-4FF9-1068-AB91-08002B27B3D9}"

VT_I2, VT_I4, VT_LPSTR = 2, 3, 30


def guid_bytes(text):
    """The 16-byte little-endian form of a braced GUID."""
    h = text.strip("{}").split("-")
    return struct.pack("<IHH", int(h[0], 16), int(h[1], 16),
                       int(h[2], 16)) + bytes.fromhex(h[3] + h[4])


# --- Windows Installer stream names -----------------------------------------

_NAME_CHARS = ("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
               "abcdefghijklmnopqrstuvwxyz._")


def msi_stream_name(name, table=False):
    """The storage name under which Windows Installer keeps a stream: pairs
    of name characters packed into one character, tables marked by 0x4840."""
    out = [chr(0x4840)] if table else []
    i = 0
    while i < len(name):
        c1 = _NAME_CHARS.find(name[i])
        if c1 < 0:
            out.append(name[i])
            i += 1
            continue
        c2 = _NAME_CHARS.find(name[i + 1]) if i + 1 < len(name) else -1
        if c2 < 0:
            out.append(chr(0x4800 + c1))
            i += 1
        else:
            out.append(chr(0x3800 + c1 + (c2 << 6)))
            i += 2
    return "".join(out)


def empty_string_pool():
    """Streams of a database without strings and without tables."""
    return {
        msi_stream_name("_StringPool", table=True):
            struct.pack("<HH", CODEPAGE, 0),
        msi_stream_name("_StringData", table=True): b"",
    }


# --- summary information ----------------------------------------------------


def summary_information(props):
    """A property set stream with one section (the summary information
    format) holding props: {id: (vt, value)}."""
    body = b""
    index = []
    base = 8 + 8 * len(props)
    for pid in sorted(props):
        vt, value = props[pid]
        index.append(struct.pack("<II", pid, base + len(body)))
        if vt == VT_I2:
            item = struct.pack("<IhH", vt, value, 0)
        elif vt == VT_I4:
            item = struct.pack("<Ii", vt, value)
        elif vt == VT_LPSTR:
            data = value.encode("cp%d" % CODEPAGE) + b"\0"
            item = struct.pack("<II", vt, len(data)) + data
            item += b"\0" * (-len(item) % 4)
        else:
            raise ValueError("unsupported type %d" % vt)
        body += item
    section = struct.pack("<II", base + len(body), len(props))
    section += b"".join(index) + body
    # Byte order, format 0, Win32 system identifier, no class, one section.
    header = struct.pack("<HHI16sI", 0xFFFE, 0, 0x00020005, b"\0" * 16, 1)
    header += guid_bytes(FMTID_SUMMARY) + struct.pack("<I", 48)
    return header + section


def patch_summary():
    transforms = ";".join(":" + name for name in TRANSFORMS)
    return summary_information({
        1: (VT_I2, CODEPAGE),
        2: (VT_LPSTR, "Patch"),
        3: (VT_LPSTR, PRODUCT_NAME + " Service Pack 1"),
        4: (VT_LPSTR, MAKER),
        5: (VT_LPSTR, "Installer,Patching,PCP,Database"),
        6: (VT_LPSTR, "This patch contains the logic and data required to "
            "install " + PRODUCT_NAME + " Service Pack 1."),
        7: (VT_LPSTR, ";".join(PRODUCT_CODES)),
        8: (VT_LPSTR, transforms),
        9: (VT_LPSTR, PATCH_CODE),
        15: (VT_I4, 3),  # Windows Installer 2.0 or later applies it.
    })


def transform_summary():
    # Revision Number: old product code and version; new ones; upgrade code.
    revision = "%s%s;%s%s;%s" % (PRODUCT_CODES[0], ACCEPTED_VERSION,
                                 PRODUCT_CODES[0], TARGET_VERSION,
                                 UPGRADE_CODE)
    return summary_information({
        1: (VT_I2, CODEPAGE),
        2: (VT_LPSTR, "Transform"),
        3: (VT_LPSTR, PRODUCT_NAME),
        4: (VT_LPSTR, MAKER),
        7: (VT_LPSTR, ";%d" % LANGUAGE),
        9: (VT_LPSTR, revision),
        14: (VT_I4, 200),
        16: (VT_I4, 0),  # No validation, no error conditions suppressed.
    })


# --- compound file ----------------------------------------------------------

SECTOR = 512
MINI_SECTOR = 64
MINI_CUTOFF = 4096
FREESECT, ENDOFCHAIN, FATSECT, NOSTREAM = (0xFFFFFFFF, 0xFFFFFFFE,
                                           0xFFFFFFFD, 0xFFFFFFFF)


class Entry:
    """A storage (children) or a stream (data) of the compound file."""

    def __init__(self, name, data=None, children=(), clsid=None):
        self.name = name
        self.data = data
        self.children = list(children)
        self.clsid = clsid
        self.left = self.right = self.child = NOSTREAM
        self.black = True
        self.index = 0
        self.start = 0
        self.size = 0


def sort_key(entry):
    """Sibling order of compound files: shorter names first, then by the
    upper-cased UTF-16 code units."""
    return (len(entry.name), [ord(c) for c in entry.name.upper()])


def build_tree(entries, depth=0, height=None):
    """Links sorted siblings into a balanced tree and returns the index of
    its root. Nodes on the lowest level that is not full are red and all
    others black, so that every path holds the same number of black nodes."""
    if height is None:
        height = len(entries).bit_length() - 1  # Levels that are full.
    if not entries:
        return NOSTREAM
    mid = len(entries) // 2
    node = entries[mid]
    node.black = depth < height or depth == 0
    node.left = build_tree(entries[:mid], depth + 1, height)
    node.right = build_tree(entries[mid + 1:], depth + 1, height)
    return node.index


def directory_entry(entry, kind):
    name = entry.name.encode("utf-16-le")
    assert len(name) <= 62, entry.name
    return struct.pack(
        "<64sHBBIII16sIQQIQ", name, len(name) + 2, kind,
        1 if entry.black else 0, entry.left, entry.right, entry.child,
        guid_bytes(entry.clsid) if entry.clsid else b"\0" * 16, 0, 0, 0,
        entry.start, entry.size)


def compound_file(root):
    """The bytes of a version 3 compound file with the storage tree root."""
    entries = []

    def collect(entry):
        entry.index = len(entries)
        entries.append(entry)
        for child in entry.children:
            collect(child)

    collect(root)
    for entry in entries:
        if entry.data is None:
            entry.child = build_tree(sorted(entry.children, key=sort_key))
    root.black = True

    streams = [e for e in entries if e.data is not None]
    small = [e for e in streams if 0 < len(e.data) < MINI_CUTOFF]
    large = [e for e in streams if len(e.data) >= MINI_CUTOFF]

    # The mini stream and its allocation table.
    mini = b""
    minifat = []
    for entry in small:
        count = -(-len(entry.data) // MINI_SECTOR)
        entry.start = len(minifat)
        minifat += list(range(entry.start + 1, entry.start + count))
        minifat.append(ENDOFCHAIN)
        mini += entry.data + b"\0" * (count * MINI_SECTOR - len(entry.data))
    for entry in streams:
        entry.size = len(entry.data)
        if not entry.data:
            entry.start = ENDOFCHAIN

    def sectors(nbytes):
        return -(-nbytes // SECTOR)

    # Sector layout: FAT, directory, mini FAT, mini stream, large streams.
    chains = [sectors(len(entries) * 128), sectors(len(minifat) * 4),
              sectors(len(mini))] + [sectors(len(e.data)) for e in large]
    used = sum(chains)
    fat_count = 1
    while fat_count * (SECTOR // 4) < used + fat_count:
        fat_count += 1
    assert fat_count <= 109, "file too large for a header-only DIFAT"

    fat = [FATSECT] * fat_count
    starts = []
    for count in chains:
        starts.append(len(fat) if count else ENDOFCHAIN)
        fat += list(range(len(fat) + 1, len(fat) + count))
        if count:
            fat.append(ENDOFCHAIN)
    fat += [FREESECT] * (fat_count * (SECTOR // 4) - len(fat))
    dir_start, minifat_start, mini_start = starts[:3]
    for entry, start in zip(large, starts[3:]):
        entry.start = start
    root.start = mini_start
    root.size = len(mini)

    directory = b"".join(
        directory_entry(e, 5 if e is root else (1 if e.data is None else 2))
        for e in entries)
    empty = struct.pack("<64sHBBIII16sIQQIQ", b"", 0, 0, 0, NOSTREAM,
                        NOSTREAM, NOSTREAM, b"\0" * 16, 0, 0, 0, 0, 0)
    directory += empty * (-len(entries) % (SECTOR // 128))

    def padded(data):
        return data + b"\0" * (-len(data) % SECTOR)

    minifat += [FREESECT] * (-len(minifat) % (SECTOR // 4))
    body = (struct.pack("<%dI" % len(fat), *fat) + directory +
            struct.pack("<%dI" % len(minifat), *minifat) + padded(mini) +
            b"".join(padded(e.data) for e in large))

    difat = list(range(fat_count)) + [FREESECT] * (109 - fat_count)
    header = struct.pack(
        "<8s16sHHHHH6sIIIIIIIII109I", bytes.fromhex("D0CF11E0A1B11AE1"),
        b"\0" * 16, 0x003E, 0x0003, 0xFFFE, 9, 6, b"\0" * 6, 0, fat_count,
        dir_start, 0, MINI_CUTOFF, minifat_start, sectors(len(minifat) * 4),
        ENDOFCHAIN, 0, *difat)
    return header + body


def stream_entries(streams):
    return [Entry(name, data=data) for name, data in streams.items()]


def patch_package():
    transforms = [
        Entry(name, clsid=CLSID_MSI_TRANSFORM, children=stream_entries({
            "\x05SummaryInformation": transform_summary(),
            **empty_string_pool()
        })) for name in TRANSFORMS
    ]
    streams = stream_entries({
        "\x05SummaryInformation": patch_summary(),
        msi_stream_name(PATCH_FILES_STREAM): PATCH_FILES,
        **empty_string_pool()
    })
    root = Entry("Root Entry", clsid=CLSID_MSI_PATCH,
                 children=streams + transforms)
    return compound_file(root)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_sample_msp.py OUTPUT.msp\n")
        return 2
    with open(argv[1], "wb") as out:
        out.write(patch_package())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
