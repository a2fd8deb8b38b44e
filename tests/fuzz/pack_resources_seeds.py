#!/usr/bin/env python3
"""Writes the seeds of the pack_resources fuzz target into tests/fuzz/corpus/pack_resources/
(and four of them, as installers, into tests/fuzz/corpus/pack_inspect/):
small PE images whose resource sections hold the launcher's own resources (compiled from
launcher/res/pathmere_setup.rc with a 16x16 icon, so that a seed stays within the fuzzer's 4 KB),
version blocks of several shapes, and the hostile layouts the reader and writer refuse.
Each seed is one byte of flags (1 icon, 2 version, 4 a product name), the icon's length (4 bytes)
and the icon, then the image.
    tests/fuzz/pack_resources_seeds.py   (needs x86_64-w64-mingw32-windres)"""
import pathlib
import struct
import subprocess
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
OUT = ROOT / "tests" / "fuzz" / "corpus" / "pack_resources"
INSPECT = ROOT / "tests" / "fuzz" / "corpus" / "pack_inspect"
# Smaller than a linker's 512, so that the launcher's resources fit the fuzzer's input size.
FILE_ALIGNMENT = 0x80


def align(n, a):
    return (n + a - 1) // a * a


def tiny_icon():
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 1, 0, 128, 0, 0, 0, 0)
    image = header + b"\x00\x00\x00\x00\xff\xff\xff\x00" + bytes(range(64)) + bytes(64)
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 2, 0, 1, 1, len(image), 22) + image


def resource_section(tree, rva):
    """tree: {type: {name: {language: bytes}}}, keys ints or strs; laid out as a linker does."""
    def ordered(level):
        return sorted(level.items(), key=lambda kv: (isinstance(kv[0], int), kv[0]))
    dirs = 16 + 8 * len(tree) + sum(16 + 8 * len(n) + sum(16 + 8 * len(l) for l in n.values()) for n in tree.values())
    strings = []
    for t, names in tree.items():
        strings += [k for k in [t] + list(names) if isinstance(k, str)]
        strings += [lang for langs in names.values() for lang in langs if isinstance(lang, str)]
    string_start = dirs
    string_size = sum(2 + 2 * len(s) for s in strings)
    leaf_start = align(string_start + string_size, 8)
    leaves = [leaf for names in tree.values() for langs in names.values() for leaf in langs.values()]
    data_start = leaf_start + 16 * len(leaves)
    out = bytearray(data_start + sum(align(len(d), 8) for d in leaves))
    state = {"dir": 0, "string": string_start, "leaf": leaf_start, "data": data_start}

    def key(k):
        if isinstance(k, int):
            return k
        at = state["string"]
        out[at:at + 2 + 2 * len(k)] = struct.pack("<H", len(k)) + k.encode("utf-16-le")
        state["string"] += 2 + 2 * len(k)
        return at | 0x80000000

    def directory(level, depth):
        at = state["dir"]
        items = ordered(level)
        state["dir"] += 16 + 8 * len(items)
        named = sum(isinstance(k, str) for k, _ in items)
        struct.pack_into("<HH", out, at + 12, named, len(items) - named)
        for i, (k, v) in enumerate(items):
            if depth < 2:
                target = directory(v, depth + 1) | 0x80000000
            else:
                target = state["leaf"]
                struct.pack_into("<III", out, target, rva + state["data"], len(v), 0)
                out[state["data"]:state["data"] + len(v)] = v
                state["leaf"] += 16
                state["data"] += align(len(v), 8)
            struct.pack_into("<II", out, at + 16 + 8 * i, key(k), target)
        return at
    directory(tree, 0)
    return bytes(out)


def pe_image(rsrc, reloc=True, plus=False, pe=0x80, checksum=0x4D2, extra=None, directories=None):
    """A .text, the resource section and, with reloc, a .reloc after it."""
    opt_size = 240 if plus else 224
    sections = [(b".text", 0x1000, 0x10, b"\xc3")]
    if extra:
        sections.append(extra)
    sections.append((b".rsrc", 0x2000, len(rsrc), rsrc))
    if reloc:
        sections.append((b".reloc", 0x2000 + align(max(len(rsrc), 1), 0x1000), 12, struct.pack("<IIH", 0x1000, 12, 0x3000)))
    table = pe + 24 + opt_size
    raw = align(table + 40 * len(sections), FILE_ALIGNMENT)
    headers, body = raw, b""
    entries = b""
    for name, va, vsize, data in sections:
        size = align(len(data), FILE_ALIGNMENT)
        entries += struct.pack("<8sIIIIIIHHI", name, vsize, va, size, raw, 0, 0, 0, 0, 0x40000040)
        body += data + bytes(size - len(data))
        raw += size
    image = bytearray(headers)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 60, pe)
    image[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", image, pe + 4, 0x8664 if plus else 0x14C, len(sections), 0, 0, 0, opt_size, 0x102)
    opt = pe + 24
    struct.pack_into("<H", image, opt, 0x20B if plus else 0x10B)
    struct.pack_into("<I", image, opt + 8, 0x400)
    struct.pack_into("<III", image, opt + 32, 0x1000, FILE_ALIGNMENT, 0)
    struct.pack_into("<III", image, opt + 56, sections[-1][1] + 0x1000, headers, checksum)
    count = opt + (108 if plus else 92)
    struct.pack_into("<I", image, count, 16)
    dirs = {2: (0x2000, len(rsrc))}
    if reloc:
        dirs[5] = (sections[-1][1], 12)
    dirs.update(directories or {})
    for index, (rva, size) in dirs.items():
        struct.pack_into("<II", image, count + 4 + 8 * index, rva, size)
    image[table:table + len(entries)] = entries
    return bytes(image) + body


def seed(flags, image, icon=b""):
    return bytes([flags]) + struct.pack("<I", len(icon)) + icon + image


def block(key, value=b"", children=(), text=True, value_length=None, length=None):
    out = bytearray(6) + (key + "\0").encode("utf-16-le")
    out += bytes(align(len(out), 4) - len(out)) + value
    for child in children:
        out += bytes(align(len(out), 4) - len(out)) + child
    if value_length is None:
        value_length = len(value) // 2 if text else len(value)
    struct.pack_into("<HHH", out, 0, length if length is not None else len(out), value_length, 1 if text else 0)
    return bytes(out)


def string(key, text):
    return block(key, (text + "\0").encode("utf-16-le"))


def fixed():
    return struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x50000, 0x70001, 0x50000, 0x70000, 0x3F, 0, 0x40004, 1, 0, 0, 0)


def version(children):
    return block("VS_VERSION_INFO", fixed(), children, text=False)


def launcher_resources(icon):
    """The launcher's own resources, read from the .res windres makes of its script."""
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        (tmp / "pathmere.ico").write_bytes(icon)
        for name in ("pathmere_setup.rc", "pathmere_setup.manifest", "resource_ids.h"):
            (tmp / name).write_bytes((ROOT / "launcher" / "res" / name).read_bytes())
        subprocess.run(["x86_64-w64-mingw32-windres", "-O", "res", "-i", tmp / "pathmere_setup.rc", "-o", tmp / "out.res"],
                       check=True, cwd=tmp)
        res = (tmp / "out.res").read_bytes()
    tree, at = {}, 0
    while at + 8 <= len(res):
        data_size, header_size = struct.unpack_from("<II", res, at)
        names, p = [], at + 8
        for _ in range(2):
            if struct.unpack_from("<H", res, p)[0] == 0xFFFF:
                names.append(struct.unpack_from("<H", res, p + 2)[0])
                p += 4
            else:
                end = p
                while struct.unpack_from("<H", res, end)[0]:
                    end += 2
                names.append(res[p:end].decode("utf-16-le"))
                p = end + 2
        language = struct.unpack_from("<H", res, align(p, 4) + 6)[0]
        data = res[at + header_size:at + header_size + data_size]
        if names[0] != 0:
            tree.setdefault(names[0], {}).setdefault(names[1], {})[language] = data
        at = align(at + header_size + data_size, 4)
    return tree


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    icon = tiny_icon()
    own = launcher_resources(icon)
    rsrc = lambda tree: resource_section(tree, 0x2000)
    only_version = lambda v: rsrc({16: {1: {0x409: v}}})
    seeds = {
        "launcher_icon_version": seed(7, pe_image(rsrc(own)), icon),
        "launcher_kept": seed(0, pe_image(rsrc(own))),
        "launcher_plus_no_reloc": seed(3, pe_image(rsrc(own), reloc=False, plus=True), icon),
        "windres_version": seed(0, pe_image(only_version(own[16][1][0x409]))),
        "version_two_tables_var_first": seed(0, pe_image(only_version(version([
            block("VarFileInfo", children=[block("Translation", struct.pack("<HHHH", 0x409, 1200, 0x407, 1200), text=False)]),
            block("StringFileInfo", children=[block("040904b0", children=[string("CompanyName", "Orvanta")]),
                                              block("040704b0", children=[string("CompanyName", "Orvanta GmbH"),
                                                                          string("Comments", "")])])])))),
        "version_lengths_in_bytes": seed(2, pe_image(only_version(version([block("StringFileInfo", children=[
            block("040904b0", children=[block("ProductName", "Pathmere\0".encode("utf-16-le"), value_length=18),
                                        block("LegalCopyright", b"", value_length=0),
                                        block("Binary", b"\x01\x02\x03\x04", text=False)])])])))),
        "version_named_and_deep": seed(4, pe_image(rsrc({16: {"VERSION": {0: version([block("StringFileInfo", children=[
            block("040904b0", children=[block("Nested", children=[string("Deep", "value")])])])])}},
            "NAMED": {"X": {0x409: b"data"}}}))),
        # Hostile layouts: resource data inside the headers, before the section table.
        "hostile_resources_in_headers": seed(2, headers_overlap()),
        "hostile_version_paths": seed(0, pe_image(only_version(tiles()))),
        "hostile_shared_folders": seed(0, pe_image(shared_folders(150))),
        "hostile_long_name": seed(0, pe_image(long_name(300))),
        "hostile_cut_table": seed(0, pe_image(only_version(own[16][1][0x409]))[:0x80 + 24 + 224 + 60]),
        "hostile_leaf_past_end": seed(0, leaf_past_end(only_version(own[16][1][0x409]))),
        "hostile_section_between": seed(2, section_between(only_version(own[16][1][0x409]))),
        "hostile_directory_into_reloc": seed(2, pe_image(rsrc(own), directories={6: (0x3004, 0x1C)})),
    }
    for old in OUT.glob("*"):
        old.unlink()
    for name, data in seeds.items():
        (OUT / name).write_bytes(data)
        print(f"{name}: {len(data)} bytes")
    # inspect reads the resources of an installer: the same images with a media header after them.
    header = struct.pack("<IiIq", 0xE8E413D5, 0, 0, 0)
    for name in ("launcher_kept", "hostile_version_paths", "hostile_shared_folders", "hostile_long_name"):
        (INSPECT / f"resources_{name}").write_bytes(seeds[name][5:] + header)


def tiles(size=1024):
    """Every long block runs to the end, every short one's only child is long."""
    out = bytearray(size)
    for at in range(0, size, 8):
        struct.pack_into("<H", out, at, size if at == 0 else size - at if at % 16 else 16)
    return bytes(out)


def shared_folders(n):
    """n root entries pointing at one folder of n entries, which points at an empty folder."""
    second, third = 16 + 8 * n, 32 + 16 * n
    out = bytearray(third + 16)
    for at, target in ((0, second), (second, third)):
        struct.pack_into("<H", out, at + 14, n)
        for i in range(n):
            struct.pack_into("<II", out, at + 16 + 8 * i, i + 1, target | 0x80000000)
    return bytes(out)


def long_name(length):
    out = bytearray(40) + struct.pack("<H", length) + b"a\0" * length
    struct.pack_into("<HHII", out, 12, 1, 0, 0x80000028, 0x80000018)
    return bytes(out)


def headers_overlap():
    """PointerToRawData 0x40, the section table at 0x800, FileAlignment 1."""
    image = bytearray(0x800 + 24 + 224 + 40)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 60, 0x800)
    image[0x800:0x804] = b"PE\0\0"
    struct.pack_into("<HH", image, 0x804, 0x14C, 1)
    struct.pack_into("<H", image, 0x800 + 20, 224)
    opt = 0x818
    struct.pack_into("<H", image, opt, 0x10B)
    struct.pack_into("<II", image, opt + 32, 0x1000, 1)
    struct.pack_into("<I", image, opt + 92, 16)
    struct.pack_into("<II", image, opt + 96 + 16, 0x1000, 16)
    struct.pack_into("<8sIIII", image, opt + 224, b".rsrc", 16, 0x1000, 16, 0x40)
    return bytes(image)


def leaf_past_end(section):
    """The resource section's raw size runs past the end of the file, and a leaf with it."""
    image = bytearray(pe_image(section, reloc=False))
    entry = 0x80 + 24 + 224 + 40
    struct.pack_into("<I", image, entry + 16, 0x10000)
    leaf = struct.unpack_from("<I", section, 16 + 8 + 16 + 8 + 16 + 4)[0] & 0x7FFFFFFF
    raw = struct.unpack_from("<I", image, entry + 20)[0]
    struct.pack_into("<I", image, raw + leaf, 0x2000 + 0x8000)
    return bytes(image)


def section_between(rsrc):
    """.data listed before the resources, its data between them and .reloc."""
    image = bytearray(pe_image(rsrc, extra=(b".data", 0x1800, 4, b"data")))
    table = 0x80 + 24 + 224
    data, resources, reloc = table + 40, table + 80, table + 120
    data_raw, resources_raw = struct.unpack_from("<I", image, data + 20)[0], struct.unpack_from("<I", image, resources + 20)[0]
    struct.pack_into("<I", image, resources + 20, data_raw)
    struct.pack_into("<I", image, data + 20, data_raw + struct.unpack_from("<I", image, resources + 16)[0])
    moved = bytearray(image)
    size = struct.unpack_from("<I", image, resources + 16)[0]
    moved[data_raw:data_raw + size] = image[resources_raw:resources_raw + size]
    moved[data_raw + size:data_raw + size + FILE_ALIGNMENT] = image[data_raw:data_raw + FILE_ALIGNMENT]
    return bytes(moved)


if __name__ == "__main__":
    main()
