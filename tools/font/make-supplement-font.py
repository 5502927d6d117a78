#!/usr/bin/env python3
"""Builds the screen font's supplement: a small TrueType font that holds a
glyph for every character of the screen font's coverage list that the stock
Ubuntu Mono Bold file lacks, with the stock file's metrics, so that the client
draws those characters in their cells instead of taking them from whatever
font the computer has.

The glyphs are made here, from the stock font's own outlines where a
character is plainly built from others (a mirrored E is "there exists", the
heavy box lines are the light ones thickened) and from simple geometric
outlines otherwise. The result is the same file, byte for byte, on every run:

    python3 tools/font/make-supplement-font.py

Only Debian's python3-fonttools is needed.
"""

import argparse
import os
import sys
import unicodedata

from fontTools.fontBuilder import FontBuilder
from fontTools.misc.timeTools import timestampFromString
from fontTools.pens.recordingPen import DecomposingRecordingPen
from fontTools.pens.reverseContourPen import ReverseContourPen
from fontTools.pens.transformPen import TransformPen
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import TTFont

RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "resources")

FAMILY = "VelmoScreen Supplement"
STYLE = "Bold"
VERSION = "Version 1.0"
# A fixed date keeps the output identical from run to run.
TIMESTAMP = timestampFromString("Mon Dec  7 00:00:00 2026")

UNITS_PER_EM = 1000
ADVANCE = 500
ASCENDER = 830
DESCENDER = -170

# Box drawing: the stock light lines are 80 units thick, centred on x 250 and
# y 330, and run out to the cell's edges; heavy ones keep those centres and
# edges and are twice as thick, so any mix of them joins up across cells.
BOX_CENTRE_X = 250
BOX_CENTRE_Y = 330
LIGHT = 40   # half thickness
HEAVY = 80
# Mathematical operators sit on the minus sign's axis.
MATH_AXIS = 262


def read_coverage(path):
    """The code points of the coverage list, less controls and unassigned ones."""
    points = []
    with open(path, encoding="utf-8") as listing:
        for line in listing:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            first, _, last = line.partition("-")
            for code in range(int(first, 16), int(last or first, 16) + 1):
                if unicodedata.category(chr(code)) not in ("Cc", "Cn"):
                    points.append(code)
    return points


class Outlines:
    """Draws stock glyphs, placed and mirrored, and plain shapes into a pen."""

    def __init__(self, stock):
        self.glyphs = stock.getGlyphSet()
        self.cmap = stock.getBestCmap()

    def stock(self, pen, char, transform=(1, 0, 0, 1, 0, 0)):
        recording = DecomposingRecordingPen(self.glyphs)
        self.glyphs[self.cmap[ord(char)]].draw(recording)
        xx, xy, yx, yy = transform[:4]
        # A mirror turns the contours round; turning them back keeps outer
        # contours clockwise, as TrueType wants.
        target = TransformPen(pen, transform)
        if xx * yy - xy * yx < 0:
            target = ReverseContourPen(target)
        recording.replay(target)

    def stock_contours(self, pen, char, keep):
        """Only the contours of a stock glyph whose numbers are in keep."""
        recording = DecomposingRecordingPen(self.glyphs)
        self.glyphs[self.cmap[ord(char)]].draw(recording)
        contour = 0
        for operator, operands in recording.value:
            if contour in keep:
                getattr(pen, operator)(*operands)
            if operator in ("closePath", "endPath"):
                contour += 1


def polygon(pen, points, hole=False):
    """A closed polygon; outer contours clockwise, holes anticlockwise."""
    area = sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]))
    clockwise = area < 0
    if clockwise == hole:
        points = list(reversed(points))
    pen.moveTo(points[0])
    for point in points[1:]:
        pen.lineTo(point)
    pen.closePath()


def rect(pen, x0, y0, x1, y1, hole=False):
    polygon(pen, [(x0, y0), (x0, y1), (x1, y1), (x1, y0)], hole)


def slash(pen, bottom, top, half_width=45):
    """A stroke from bottom to top (x, y), cut square to the horizontal."""
    (xb, yb), (xt, yt) = bottom, top
    polygon(pen, [(xb - half_width, yb), (xt - half_width, yt), (xt + half_width, yt), (xb + half_width, yb)])


def shift(dx, dy, scale_x=1, scale_y=1):
    return (scale_x, 0, 0, scale_y, dx, dy)


def mirror_x(dy=0):
    return (-1, 0, 0, 1, ADVANCE, dy)


def mirror_y(centre):
    return (1, 0, 0, -1, 0, 2 * centre)


def box(pen, up=0, down=0, left=0, right=0):
    """A box-drawing glyph from the half thicknesses of its four arms.

    The glyphs made here have one horizontal line, or one horizontal and one
    vertical arm meeting in a square corner, like the stock light corners."""
    vertical = up or down
    horizontal = left or right
    if not vertical:
        rect(pen, 0, BOX_CENTRE_Y - horizontal, ADVANCE, BOX_CENTRE_Y + horizontal)
        return
    x_in, x_out = BOX_CENTRE_X - vertical, BOX_CENTRE_X + vertical
    y_in, y_out = BOX_CENTRE_Y - horizontal, BOX_CENTRE_Y + horizontal
    # Drawn as down-and-right, then mirrored into place.
    points = [(x_in, DESCENDER), (x_out, DESCENDER), (x_out, y_in), (ADVANCE, y_in), (ADVANCE, y_out), (x_in, y_out)]
    if left:
        points = [(ADVANCE - x, y) for x, y in points]
    if up:
        points = [(x, 2 * BOX_CENTRE_Y - y) for x, y in points]
    polygon(pen, points)


# A circle as a 16-sided polygon: plain, and plenty at screen sizes.
CIRCLE = [(round(c, 4), round(s, 4)) for c, s in (
    (1, 0), (0.9239, 0.3827), (0.7071, 0.7071), (0.3827, 0.9239), (0, 1), (-0.3827, 0.9239), (-0.7071, 0.7071),
    (-0.9239, 0.3827), (-1, 0), (-0.9239, -0.3827), (-0.7071, -0.7071), (-0.3827, -0.9239), (0, -1),
    (0.3827, -0.9239), (0.7071, -0.7071), (0.9239, -0.3827))]


def proportional(pen):
    """A ring with two straight arms out to the right, like an infinity sign cut open."""
    cx, cy = 200, MATH_AXIS
    outer = [(cx + 150 * dx, cy + 140 * dy) for dx, dy in CIRCLE]
    inner = [(cx + 75 * dx, cy + 70 * dy) for dx, dy in CIRCLE]
    polygon(pen, outer)
    polygon(pen, inner, hole=True)
    # The two arms, from the ring out to the right edge of the sign.
    polygon(pen, [(cx + 50, cy + 70), (cx + 110, cy + 95), (460, cy + 150), (460, cy + 80), (cx + 130, cy + 30)])
    polygon(pen, [(cx + 50, cy - 70), (cx + 130, cy - 30), (460, cy - 80), (460, cy - 150), (cx + 110, cy - 95)])


def make_glyphs(outlines):
    """Code point -> function drawing its glyph into a pen."""
    o = outlines
    minus_thickness = 101  # the stock minus sign, y 212 to 313

    def identical(pen, bars):
        gap = 150 if bars == 3 else 125
        scale = 1 if bars == 3 else 0.8
        for bar in range(bars):
            offset = (bar - (bars - 1) / 2) * gap
            centre = MATH_AXIS + offset
            rect(pen, 40, round(centre - scale * minus_thickness / 2), 460,
                 round(centre + scale * minus_thickness / 2))

    def double_struck_n(pen):
        o.stock(pen, "N")
        rect(pen, 84, 48, 120, 571, hole=True)

    def double_struck_z(pen):
        o.stock(pen, "Z")
        polygon(pen, [(122, 125), (340, 495), (374, 495), (156, 125)], hole=True)

    def root(pen, index):
        o.stock(pen, "\u221a")
        o.stock(pen, index, shift(-40, 170, 0.55, 0.55))

    def square_outline(pen, filled):
        rect(pen, 70, 0, 430, 619)
        if not filled:
            rect(pen, 150, 80, 350, 539, hole=True)

    def pound_sign(pen):
        o.stock(pen, "l", shift(-20, 0, 0.55, 1))
        o.stock(pen, "b", shift(225, 0, 0.55, 1))
        rect(pen, 20, 520, 480, 590)

    def ounce_sign(pen):
        o.stock(pen, "\u0292", shift(0, 150))
        rect(pen, 60, -60, 440, 10)

    return {
        0x02C8: lambda pen: o.stock(pen, "'", shift(0, 100)),
        0x0387: lambda pen: o.stock(pen, "\u00b7"),
        0x2016: lambda pen: (o.stock(pen, "|", shift(-100, 0)), o.stock(pen, "|", shift(100, 0))),
        0x2017: lambda pen: (rect(pen, 8, -165, 492, -110), rect(pen, 8, -70, 492, -15)),
        0x201B: lambda pen: o.stock(pen, "\u2019", mirror_x()),
        0x201F: lambda pen: o.stock(pen, "\u201d", mirror_x()),
        0x2023: lambda pen: polygon(pen, [(130, 165), (130, 465), (390, 315)]),
        0x2024: lambda pen: o.stock(pen, "."),
        0x2025: lambda pen: o.stock_contours(pen, "\u2026", {0, 2}),
        0x20AD: lambda pen: (o.stock(pen, "K"), rect(pen, 10, 275, 490, 345)),
        0x2114: pound_sign,
        0x2115: double_struck_n,
        0x2123: lambda pen: (o.stock(pen, "V"), slash(pen, (455, 170), (285, 450), 35)),
        0x2124: double_struck_z,
        0x2125: ounce_sign,
        0x2203: lambda pen: o.stock(pen, "E", mirror_x()),
        0x2204: lambda pen: (o.stock(pen, "E", mirror_x()), slash(pen, (110, -60), (390, 680))),
        0x2205: lambda pen: o.stock(pen, "\u00d8"),
        0x2210: lambda pen: o.stock(pen, "\u220f", mirror_y((-97 + 619) / 2)),
        0x2213: lambda pen: o.stock(pen, "\u00b1", mirror_y(558 / 2)),
        0x2214: lambda pen: (o.stock(pen, "+", shift(50, 20, 0.8, 0.8)), o.stock(pen, ".", shift(50, 500, 0.8, 0.8))),
        0x2216: lambda pen: o.stock(pen, "\\", shift(62, 70, 0.75, 0.75)),
        0x2217: lambda pen: o.stock(pen, "*", shift(0, MATH_AXIS - (228 + 619) // 2)),
        0x2218: lambda pen: o.stock(pen, "\u00b0", shift(0, MATH_AXIS - (421 + 698) // 2)),
        0x221B: lambda pen: root(pen, "\u00b3"),
        0x221C: lambda pen: root(pen, "\u2074"),
        0x221D: proportional,
        0x2261: lambda pen: identical(pen, 3),
        0x2262: lambda pen: (identical(pen, 3), slash(pen, (110, -20), (390, 545))),
        0x2263: lambda pen: identical(pen, 4),
        0x2501: lambda pen: box(pen, left=HEAVY, right=HEAVY),
        0x250D: lambda pen: box(pen, down=LIGHT, right=HEAVY),
        0x250E: lambda pen: box(pen, down=HEAVY, right=LIGHT),
        0x250F: lambda pen: box(pen, down=HEAVY, right=HEAVY),
        0x2511: lambda pen: box(pen, down=LIGHT, left=HEAVY),
        0x2512: lambda pen: box(pen, down=HEAVY, left=LIGHT),
        0x2513: lambda pen: box(pen, down=HEAVY, left=HEAVY),
        0x2515: lambda pen: box(pen, up=LIGHT, right=HEAVY),
        0x2516: lambda pen: box(pen, up=HEAVY, right=LIGHT),
        0x2517: lambda pen: box(pen, up=HEAVY, right=HEAVY),
        0x2519: lambda pen: box(pen, up=LIGHT, left=HEAVY),
        0x251A: lambda pen: box(pen, up=HEAVY, left=LIGHT),
        0x251B: lambda pen: box(pen, up=HEAVY, left=HEAVY),
        0xEFFE: lambda pen: square_outline(pen, filled=False),
        0xEFFF: lambda pen: square_outline(pen, filled=True),
    }


def glyph_of(draw):
    pen = TTGlyphPen(None)
    draw(pen)
    return pen.glyph()


def build(stock_path, coverage_path, output_path):
    stock = TTFont(stock_path)
    outlines = Outlines(stock)
    stock_cmap = stock.getBestCmap()
    missing = [code for code in read_coverage(coverage_path) if code not in stock_cmap]
    makers = make_glyphs(outlines)
    unmade = [code for code in missing if code not in makers]
    if unmade:
        sys.exit("no glyph design for " + " ".join("U+%04X" % code for code in unmade))

    names = [".notdef"] + ["uni%04X" % code for code in missing]
    glyphs = {".notdef": glyph_of(lambda pen: (rect(pen, 50, 0, 450, 700), rect(pen, 100, 50, 400, 650, hole=True)))}
    for code in missing:
        glyphs["uni%04X" % code] = glyph_of(makers[code])

    builder = FontBuilder(UNITS_PER_EM, isTTF=True)
    builder.font.recalcTimestamp = False
    builder.setupGlyphOrder(names)
    builder.setupCharacterMap({code: "uni%04X" % code for code in missing})
    builder.setupGlyf(glyphs)
    glyf = builder.font["glyf"]
    for glyph in glyphs.values():
        glyph.recalcBounds(glyf)
    builder.setupHorizontalMetrics({name: (ADVANCE, getattr(glyphs[name], "xMin", 0)) for name in names})
    builder.setupHorizontalHeader(ascent=ASCENDER, descent=DESCENDER, lineGap=0)
    stock_name = stock["name"]
    builder.setupNameTable({
        "copyright": stock_name.getDebugName(0),
        "familyName": FAMILY,
        "styleName": STYLE,
        "uniqueFontIdentifier": "%s %s %s" % (FAMILY, STYLE, VERSION),
        "fullName": "%s %s" % (FAMILY, STYLE),
        "version": VERSION,
        "psName": "VelmoScreenSupplement-Bold",
        "description": "Glyphs the screen font lacks, made from the glyphs of Ubuntu Mono Bold 0.80 "
                       "and from plain outlines; a modified version of that font, renamed as its licence asks.",
        "licenseDescription": "Licensed under the Ubuntu Font Licence 1.0",
        "typographicFamily": FAMILY,
        "typographicSubfamily": STYLE,
    })
    stock_os2 = stock["OS/2"]
    builder.setupOS2(
        version=3, xAvgCharWidth=ADVANCE, usWeightClass=700, usWidthClass=5, fsType=0,
        fsSelection=0x20,  # bold
        sTypoAscender=stock_os2.sTypoAscender, sTypoDescender=stock_os2.sTypoDescender,
        sTypoLineGap=stock_os2.sTypoLineGap, usWinAscent=stock_os2.usWinAscent,
        usWinDescent=stock_os2.usWinDescent, sxHeight=stock_os2.sxHeight, sCapHeight=stock_os2.sCapHeight,
        panose=stock_os2.panose, achVendID="NONE", ulUnicodeRange1=0, ulUnicodeRange2=0,
        ulUnicodeRange3=0, ulUnicodeRange4=0)
    builder.setupPost(isFixedPitch=1, underlinePosition=stock["post"].underlinePosition,
                      underlineThickness=stock["post"].underlineThickness)
    builder.setupHead(unitsPerEm=UNITS_PER_EM, created=TIMESTAMP, modified=TIMESTAMP, macStyle=0x01,
                      fontRevision=1.0)
    builder.font["OS/2"].recalcUnicodeRanges(builder.font)
    builder.save(output_path)
    return missing


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--stock", default=os.path.join(RESOURCES, "VelmoScreenFont.ttf"))
    parser.add_argument("--coverage", default=os.path.join(RESOURCES, "screen-font-coverage.txt"))
    parser.add_argument("--output", default=os.path.join(RESOURCES, "VelmoScreenSupplement.ttf"))
    arguments = parser.parse_args()
    made = build(arguments.stock, arguments.coverage, arguments.output)
    print("%s: %d glyphs" % (os.path.normpath(arguments.output), len(made)))


if __name__ == "__main__":
    main()
