"""Makes the test fonts: a renamed copy of a DejaVu face (one font), a
TrueType collection of three renamed copies, so that the names the tests add
clash with no font the system already has, and a copy whose face name has 31
characters (the most a 32-byte face buffer holds) that also claims the
Japanese code page, so that on a Japanese system, whose system font's
character set has no other TrueType face, it is the face the queries name."""
import sys
from fontTools.ttLib import TTFont
from fontTools.ttLib.ttCollection import TTCollection


def renamed(source, family):
    font = TTFont(source)
    for record in font["name"].names:
        if record.nameID in (1, 16):
            record.string = family
        elif record.nameID in (4, 18):
            record.string = family
        elif record.nameID == 6:
            record.string = family.replace(" ", "")
        elif record.nameID == 3:
            record.string = family + " test"
    return font


def main():
    source, one, three, longest = sys.argv[1:5]
    renamed(source, "Setupsup Single").save(one)
    face = "Setupsup Longest Face Name 31ch"
    assert len(face) == 31
    font = renamed(source, face)
    font["OS/2"].ulCodePageRange1 |= 1 << 17  # JIS/Japan (code page 932)
    font.save(longest)
    collection = TTCollection()
    collection.fonts = [renamed(source, "Setupsup Trio %s" % c) for c in "ABC"]
    collection.save(three)


main()
