"""Writes the seeds of font_name_fuzz (fuzz/corpus/font_name/), also the
cases of the native font-name test: small fonts made with fontTools' font
builder, stripped to the tables the name needs and those fontTools writes
them with (head, hhea, hmtx, maxp, name, the outlines' table), with fixed
time stamps, and damaged copies. Run with Debian's python3 (fontTools):

    /usr/bin/python3 fuzz/make_font_name_corpus.py fuzz/corpus/font_name
"""
import os
import struct
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.t2CharStringPen import T2CharStringPen
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib.ttCollection import TTCollection

KEPT = {"head", "hhea", "hmtx", "maxp", "name", "glyf", "loca", "CFF "}


def stripped(builder):
    for tag in list(builder.font.keys()):
        if tag != "GlyphOrder" and tag not in KEPT:
            del builder.font[tag]
    builder.font.recalcTimestamp = False
    builder.font["head"].created = builder.font["head"].modified = 0
    return builder.font


def truetype(names, mac=True):
    """A one-glyph TrueType font with the name records names gives:
    a dict for setupNameTable, or a list of (string, platform, encoding,
    language) for exact records."""
    builder = FontBuilder(1000, isTTF=True)
    builder.setupGlyphOrder([".notdef"])
    builder.setupCharacterMap({})
    builder.setupGlyf({".notdef": TTGlyphPen(None).glyph()})
    builder.setupHorizontalMetrics({".notdef": (500, 0)})
    builder.setupHorizontalHeader()
    records(builder, names, mac)
    builder.setupMaxp()
    return stripped(builder)


def cff(names):
    builder = FontBuilder(1000, isTTF=False)
    builder.setupGlyphOrder([".notdef"])
    builder.setupCharacterMap({})
    pen = T2CharStringPen(500, None)
    builder.setupCFF("SeedCff", {}, {".notdef": pen.getCharString()}, {})
    builder.setupHorizontalMetrics({".notdef": (500, 0)})
    builder.setupHorizontalHeader()
    records(builder, names, True)
    builder.setupMaxp()
    return stripped(builder)


def records(builder, names, mac):
    if isinstance(names, dict):
        builder.setupNameTable(names, mac=mac, windows=True)
        return
    builder.setupNameTable({}, mac=False, windows=False)
    table = builder.font["name"]
    for string, platform, encoding, language in names:
        table.setName(string, 4, platform, encoding, language)


def saved(font, path):
    font.save(path)
    with open(path, "rb") as f:
        return f.read()


def table_record(data, tag):
    """The offset of tag's record in the directory of a single font."""
    count = struct.unpack(">H", data[4:6])[0]
    for i in range(count):
        at = 12 + 16 * i
        if data[at:at + 4] == tag:
            return at
    raise KeyError(tag)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    seeds = {}
    family = lambda name: {"familyName": name, "styleName": "Regular", "fullName": name}
    seeds["single.ttf"] = saved(truetype(family("Seed Single")), os.path.join(out, "single.ttf"))
    seeds["cff.otf"] = saved(cff(family("Seed Cff")), os.path.join(out, "cff.otf"))
    # Only a Mac OS Roman record, with bytes above 0x7F (the ö is 0x9A).
    seeds["mac-only.ttf"] = saved(truetype([("Z\u00f6rb Mac \u2020", 1, 0, 0)]), os.path.join(out, "mac-only.ttf"))
    # A German Windows record before the US English one, and one only German.
    seeds["us-english.ttf"] = saved(
        truetype([("Seed Deutsch", 3, 1, 0x407), ("Seed English", 3, 1, 0x409), ("Seed Mac", 1, 0, 0)]),
        os.path.join(out, "us-english.ttf"))
    seeds["windows-first.ttf"] = saved(truetype([("Seed Mac", 1, 0, 0), ("Seed Deutsch", 3, 1, 0x407)]),
                                       os.path.join(out, "windows-first.ttf"))
    collection = TTCollection()
    collection.fonts = [truetype(family("Seed Trio %s" % c)) for c in "ABC"]
    collection.save(os.path.join(out, "trio.ttc"))

    single = seeds["single.ttf"]
    damaged = {
        "truncated-directory.ttf": single[:12 + 16 * 2 + 5],
        "not-a-font.bin": b"MZ" + single[2:64],
    }
    past = bytearray(single)
    struct.pack_into(">I", past, table_record(single, b"name") + 8, len(single) - 4)  # offset, 4 bytes left
    damaged["offset-past-end.ttf"] = bytes(past)
    longer = bytearray(single)
    name_at = struct.unpack(">I", single[table_record(single, b"name") + 8:][:4])[0]
    count = struct.unpack(">H", single[name_at + 2:name_at + 4])[0]
    for i in range(count):
        record = name_at + 6 + 12 * i
        if struct.unpack(">H", single[record + 6:record + 8])[0] == 4:
            struct.pack_into(">H", longer, record + 8, 0xFFF0)  # the string's length
    damaged["name-past-table.ttf"] = bytes(longer)
    for name, data in damaged.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


main()
