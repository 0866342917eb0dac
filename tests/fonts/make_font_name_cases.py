"""Makes the fonts of font_name_test that make_test_fonts.py does not (a CFF
OpenType font, a font named "Zörb", one named in CJK: small ones, from
fontTools' font builder) and writes, one line per font file, the file and the
name Windows gives it under its Fonts key as fontTools reads it (UTF-8,
"FILE<TAB>NAME"): the full name (name ID 4) of the Windows Unicode US
English record, else the first Windows record, else the Mac OS Roman one;
" & " between the fonts of a collection; " (OpenType)" for CFF outlines,
else " (TrueType)".

    make_font_name_cases.py OUT_DIR LIST FONT...

FONT: the fonts to list besides the three made here (a path; listed by its
full path when absolute in /usr, else by its base name in OUT_DIR)."""
import os
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.t2CharStringPen import T2CharStringPen
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import TTFont
from fontTools.ttLib.ttCollection import TTCollection


def built(path, name, cff):
    builder = FontBuilder(1000, isTTF=not cff)
    builder.setupGlyphOrder([".notdef"])
    builder.setupCharacterMap({})
    if cff:
        builder.setupCFF("Setupsup", {}, {".notdef": T2CharStringPen(500, None).getCharString()}, {})
    else:
        builder.setupGlyf({".notdef": TTGlyphPen(None).glyph()})
    builder.setupHorizontalMetrics({".notdef": (500, 0)})
    builder.setupHorizontalHeader()
    builder.setupNameTable({"familyName": name, "styleName": "Regular", "fullName": name})
    builder.setupOS2()
    builder.setupPost()
    builder.save(path)


def full_name(font):
    records = [r for r in font["name"].names if r.nameID == 4]
    for fits in (lambda r: r.platformID == 3 and r.platEncID in (1, 10) and r.langID == 0x409,
                 lambda r: r.platformID == 3,
                 lambda r: r.platformID == 1 and r.platEncID == 0):
        for record in records:
            if fits(record) and record.toUnicode():
                return record.toUnicode()
    raise ValueError("no full name")


def registry_name(path):
    with open(path, "rb") as f:
        collection = f.read(4) == b"ttcf"
    fonts = TTCollection(path).fonts if collection else [TTFont(path)]
    first = fonts[0]
    cff = first.sfntVersion == "OTTO" or (("CFF " in first or "CFF2" in first) and "glyf" not in first)
    return " & ".join(full_name(font) for font in fonts) + (" (OpenType)" if cff else " (TrueType)")


def main():
    out, listing, fonts = sys.argv[1], sys.argv[2], sys.argv[3:]
    made = [("setupsup-cff.otf", "Setupsup Cff Outlines", True),
            ("setupsup-zorb.ttf", "Z\u00f6rb Setupsup", False),
            ("setupsup-cjk.ttf", "\u5b57\u4f53 Setupsup", False)]
    for name, family, cff in made:
        built(os.path.join(out, name), family, cff)
        fonts.append(os.path.join(out, name))
    with open(listing, "w", encoding="utf-8", newline="\n") as f:
        for path in sorted(fonts):
            shown = path if path.startswith("/usr/") else os.path.basename(path)
            f.write("%s\t%s\n" % (shown, registry_name(path)))


main()
