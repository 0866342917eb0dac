"""Makes the test fonts: a renamed copy of a DejaVu face (one font) and a
TrueType collection of three renamed copies, so that the names the tests add
clash with no font the system already has."""
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
    source, one, three = sys.argv[1:4]
    renamed(source, "Setupsup Single").save(one)
    collection = TTCollection()
    collection.fonts = [renamed(source, "Setupsup Trio %s" % c) for c in "ABC"]
    collection.save(three)


main()
