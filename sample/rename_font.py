"""Writes a copy of a TrueType font under another family name:
rename_font.py SOURCE TARGET "FAMILY NAME". The sample installs it as its own
font, a name no system font has."""
import sys
from fontTools.ttLib import TTFont


def main():
    source, target, family = sys.argv[1:4]
    font = TTFont(source)
    for record in font["name"].names:
        if record.nameID in (1, 4, 16, 18):
            record.string = family
        elif record.nameID == 6:
            record.string = family.replace(" ", "")
        elif record.nameID == 3:
            record.string = family + " 1.0"
    font.save(target)


main()
