#!/usr/bin/env python3
"""Reads back what Explorer shows of lumentrace.exe: its icon, its version
information and its application manifest.

    check_windows_exe.py lumentrace.exe VERSION

Prints what it found; exits 1, naming every fault, when something is missing
or wrong.
"""
import struct
import sys

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def resources(exe):
    """{type id: [data of each resource of that type]} from the .rsrc section."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    assert exe[pe:pe + 4] == b"PE\0\0", "not a PE file"
    sections, optional_size = struct.unpack_from("<H12xH", exe, pe + 6)
    optional = pe + 24
    assert struct.unpack_from("<H", exe, optional)[0] == 0x20B, "not a 64-bit PE file"
    rsrc_rva = struct.unpack_from("<I", exe, optional + 112 + 2 * 8)[0]
    table = optional + optional_size
    base = None
    for i in range(sections):
        _, size, rva, raw_size, raw = struct.unpack_from("<8sIIII", exe, table + 40 * i)
        if rva <= rsrc_rva < rva + max(size, raw_size):
            base, delta = raw + rsrc_rva - rva, rva - raw
    assert base is not None, "no resource section"

    def entries(offset):
        names, ids = struct.unpack_from("<12xHH", exe, base + offset)
        for i in range(names + ids):
            key, value = struct.unpack_from("<II", exe, base + offset + 16 + 8 * i)
            yield key, value

    def leaves(value):
        if value & 0x80000000:
            for _, child in entries(value & 0x7FFFFFFF):
                yield from leaves(child)
        else:
            rva, size = struct.unpack_from("<II", exe, base + value)
            yield exe[rva - delta:rva - delta + size]

    return {key: list(leaves(value)) for key, value in entries(0)}


def version_strings(block):
    """The StringFileInfo values of a VS_VERSIONINFO block, and its fixed part."""
    found = {}

    def walk(data, depth):
        length, value_length, _ = struct.unpack_from("<HHH", data, 0)
        end = data.index(b"\0\0", 6)
        end += (end - 6) % 2  # the key is UTF-16: its terminator is on an even offset
        key = data[6:end].decode("utf-16-le")
        offset = (end + 2 + 3) & ~3
        if depth == 3:  # a String: key and value
            found[key] = data[offset:offset + 2 * value_length].decode("utf-16-le").rstrip("\0")
            return
        if depth == 0:
            found["(fixed)"] = struct.unpack_from("<13I", data, offset)
            offset += value_length
        offset = (offset + 3) & ~3
        while offset < length:
            child = struct.unpack_from("<H", data, offset)[0]
            if child == 0:
                break
            if depth > 0 or data[offset + 6:offset + 6 + 28] == "StringFileInfo".encode("utf-16-le"):
                walk(data[offset:offset + child], depth + 1)
            offset = (offset + child + 3) & ~3

    walk(block, 0)
    return found


def main():
    exe = open(sys.argv[1], "rb").read()
    version = sys.argv[2]
    faults = []
    found = resources(exe)
    icons = found.get(RT_GROUP_ICON, [])
    sizes = []
    if icons:
        count = struct.unpack_from("<HHH", icons[0], 0)[2]
        sizes = sorted(icons[0][6 + 14 * i] or 256 for i in range(count))
    print("icon sizes:", sizes)
    if not ({16, 32, 48, 256} <= set(sizes)) or len(found.get(RT_ICON, [])) < len(sizes):
        faults.append("the icon lacks one of the sizes 16, 32, 48 and 256")

    strings = version_strings(found[RT_VERSION][0]) if RT_VERSION in found else {}
    for key, value in sorted(item for item in strings.items() if item[0] != "(fixed)"):
        print(f"{key}: {value}")
    expected = {
        "FileDescription": "Lumentrace \u2014 SAMI to SubRip converter",
        "ProductName": "Lumentrace",
        "FileVersion": version,
        "ProductVersion": version,
        "LegalCopyright": "Copyright (c) 2026 The Lumentrace authors (MIT)",
        "OriginalFilename": "lumentrace.exe",
    }
    for key, value in expected.items():
        if strings.get(key) != value:
            faults.append(f"version information: {key} is {strings.get(key)!r}, not {value!r}")
    if "(fixed)" in strings:
        fixed = strings["(fixed)"]
        major, minor, patch = (int(part) for part in version.split("."))
        if fixed[0] != 0xFEEF04BD or fixed[2:4] != ((major << 16) | minor, patch << 16):
            faults.append("version information: the numeric file version is not " + version)

    manifests = found.get(RT_MANIFEST, [])
    manifest = manifests[0].decode("utf-8") if len(manifests) == 1 else ""
    print("manifest:", len(manifests), "found")
    for needed in ('level="asInvoker"', ">true</longPathAware>",
                   "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
        if needed not in manifest:
            faults.append(f"manifest: no {needed}")
    if "<activeCodePage" in manifest:
        faults.append("manifest: activeCodePage would replace the system's ANSI code page")

    for fault in faults:
        print("FAULT:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
