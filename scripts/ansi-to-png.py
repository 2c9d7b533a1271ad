#!/usr/bin/python3
"""Renders text with ANSI SGR colour sequences (a `tmux capture-pane -e -p`
capture) as a terminal window in a PNG image.

    ansi-to-png.py CAPTURE.txt OUT.png [COLUMNS]

Uses Debian's python3-pil and the DejaVu Sans Mono font (fonts-dejavu-core).
"""
import re
import sys

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf"
FONT_SIZE = 16
PADDING = 14

# The Windows console's palette ("Campbell"), colours 0-7 then 8-15 in ANSI
# order (black, red, green, yellow, blue, magenta, cyan, white).
PALETTE = [
    "#0C0C0C", "#C50F1F", "#13A10E", "#C19C00", "#0037DA", "#881798", "#3A96DD", "#CCCCCC",
    "#767676", "#E74856", "#16C60C", "#F9F1A5", "#3B78FF", "#B4009E", "#61D6D6", "#F2F2F2",
]
DEFAULT_FOREGROUND = PALETTE[7]
DEFAULT_BACKGROUND = PALETTE[0]

SGR = re.compile(r"\x1b\[([0-9;:]*)m")
OTHER_ESCAPE = re.compile(r"\x1b(\[[0-9;?]*[A-Za-z]|[()][0-9A-Za-z]|[=>])")


def colour_256(n):
    if n < 16:
        return PALETTE[n]
    if n < 232:
        n -= 16
        steps = [0, 95, 135, 175, 215, 255]
        return "#%02X%02X%02X" % (steps[n // 36], steps[n // 6 % 6], steps[n % 6])
    grey = 8 + (n - 232) * 10
    return "#%02X%02X%02X" % (grey, grey, grey)


class Style:
    def __init__(self):
        self.reset()

    def reset(self):
        self.foreground = None
        self.background = None
        self.bold = False

    def apply(self, parameters):
        codes = [int(c) if c else 0 for c in re.split("[;:]", parameters)] if parameters else [0]
        i = 0
        while i < len(codes):
            code = codes[i]
            if code == 0:
                self.reset()
            elif code == 1:
                self.bold = True
            elif code == 22:
                self.bold = False
            elif 30 <= code <= 37:
                self.foreground = PALETTE[code - 30]
            elif 90 <= code <= 97:
                self.foreground = PALETTE[code - 90 + 8]
            elif code == 39:
                self.foreground = None
            elif 40 <= code <= 47:
                self.background = PALETTE[code - 40]
            elif 100 <= code <= 107:
                self.background = PALETTE[code - 100 + 8]
            elif code == 49:
                self.background = None
            elif code in (38, 48) and i + 1 < len(codes):
                if codes[i + 1] == 5 and i + 2 < len(codes):
                    value = colour_256(codes[i + 2])
                    i += 2
                elif codes[i + 1] == 2 and i + 4 < len(codes):
                    value = "#%02X%02X%02X" % tuple(codes[i + 2:i + 5])
                    i += 4
                else:
                    value = None
                if code == 38:
                    self.foreground = value
                else:
                    self.background = value
            i += 1


def parse(text):
    """Lines of (character, foreground, background, bold) cells."""
    style = Style()
    lines = []
    for raw in text.split("\n"):
        cells = []
        position = 0
        for match in SGR.finditer(raw):
            for ch in OTHER_ESCAPE.sub("", raw[position:match.start()]):
                cells.append((ch, style.foreground, style.background, style.bold))
            style.apply(match.group(1))
            position = match.end()
        for ch in OTHER_ESCAPE.sub("", raw[position:]):
            cells.append((ch, style.foreground, style.background, style.bold))
        lines.append(cells)
    while lines and all(c[0] == " " and c[2] is None for c in lines[-1]):
        lines.pop()
    return lines


def main():
    capture, output = sys.argv[1], sys.argv[2]
    lines = parse(open(capture, encoding="utf-8", errors="replace").read())
    columns = int(sys.argv[3]) if len(sys.argv) > 3 else max(len(line) for line in lines)
    font = ImageFont.truetype(FONT, FONT_SIZE)
    bold = ImageFont.truetype(FONT_BOLD, FONT_SIZE)
    cell_width = round(font.getlength("M"))
    ascent, descent = font.getmetrics()
    cell_height = ascent + descent + 2
    image = Image.new("RGB", (columns * cell_width + 2 * PADDING,
                              len(lines) * cell_height + 2 * PADDING), DEFAULT_BACKGROUND)
    draw = ImageDraw.Draw(image)
    for row, cells in enumerate(lines):
        y = PADDING + row * cell_height
        for column, (ch, foreground, background, is_bold) in enumerate(cells[:columns]):
            x = PADDING + column * cell_width
            if background is not None:
                draw.rectangle([x, y, x + cell_width - 1, y + cell_height - 1], fill=background)
            if ch != " ":
                draw.text((x, y + 1), ch, font=bold if is_bold else font,
                          fill=foreground or DEFAULT_FOREGROUND)
    image.save(output, optimize=True)


if __name__ == "__main__":
    main()
