#!/usr/bin/python3
"""Draws every picture of the launcher into resources/art/ and the icon group
into resources/ProjectTelvar.ico.

Run by hand after changing the art (needs Debian's python3-pil, python3-numpy
and fonts-dejavu-core); the PNGs it writes are committed, so building the
launcher needs only the compiler and windres.

    /usr/bin/python3 resources/make_art.py

All shapes are drawn at four times their size and reduced with a Lanczos
filter, so edges stay smooth. Colours come from the launcher's palette.
The controller glyphs are our own plain shapes and letters.
"""
import math
import os
import random
import struct
import io

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
ART = os.path.join(HERE, "art")
BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
SS = 4  # supersampling factor

# The launcher's palette.
BACKDROP = (10, 14, 26)
SIDEBAR = (15, 20, 36)
SURFACE = (21, 28, 48)
SURFACE_RAISED = (28, 37, 64)
BORDER = (38, 48, 77)
BORDER_HOVER = (52, 64, 102)
ACCENT = (255, 122, 61)
ACCENT_HOVER = (255, 148, 97)
TEXT = (244, 246, 251)
TEXT_SECONDARY = (154, 166, 198)
TEXT_MUTED = (94, 104, 136)
WARNING = (255, 178, 56)
WHITE = (255, 255, 255)


def canvas(w, h, fill=(0, 0, 0, 0)):
    img = Image.new("RGBA", (w * SS, h * SS), fill)
    return img, ImageDraw.Draw(img)


def reduce(img, w, h):
    return img.resize((w, h), Image.LANCZOS)


def save(img, name):
    os.makedirs(ART, exist_ok=True)
    img.save(os.path.join(ART, name), optimize=True)


def font(size):
    return ImageFont.truetype(BOLD, size)


def text_centered(draw, cx, cy, text, size, fill, spacing=0):
    f = font(size)
    if spacing == 0:
        box = draw.textbbox((0, 0), text, font=f)
        draw.text((cx - (box[0] + box[2]) / 2, cy - (box[1] + box[3]) / 2), text, font=f, fill=fill)
        return
    widths = [draw.textlength(ch, font=f) for ch in text]
    total = sum(widths) + spacing * (len(text) - 1)
    box = draw.textbbox((0, 0), text, font=f)
    x = cx - total / 2
    for ch, w in zip(text, widths):
        draw.text((x, cy - (box[1] + box[3]) / 2), ch, font=f, fill=fill)
        x += w + spacing


# ---------------------------------------------------------------- emblem
def draw_emblem(draw, cx, cy, r, ring=TEXT, sun=ACCENT, ground=BACKDROP):
    """A ring holding a sun that rises over a horizon: the product's mark.
    All lengths in canvas pixels (already supersampled)."""
    t = max(2, int(r * 0.12))
    # sun: a half disc above the horizon with three rays of light
    hy = cy + r * 0.22
    sr = r * 0.46
    draw.pieslice((cx - sr, hy - sr, cx + sr, hy + sr), 180, 360, fill=sun)
    # horizon band and two low hills under it
    draw.rectangle((cx - r * 0.78, hy, cx + r * 0.78, hy + t * 0.8), fill=ring)
    for i, (dx, rw) in enumerate(((-0.30, 0.40), (0.34, 0.30))):
        hx = cx + r * dx
        draw.line((hx - r * rw, hy + t * 2.0, hx + r * rw, hy + t * 2.0), fill=ring, width=int(t * 0.7))
    # rays
    for ang in (-150, -120, -90, -60, -30):
        a = math.radians(ang)
        r0, r1 = sr + t * 0.9, sr + t * 2.1
        draw.line((cx + r0 * math.cos(a), hy + r0 * math.sin(a), cx + r1 * math.cos(a), hy + r1 * math.sin(a)),
                  fill=sun, width=int(t * 0.75))
    # the ring itself
    draw.ellipse((cx - r, cy - r, cx + r, cy + r), outline=ring, width=t)


# ---------------------------------------------------------------- banner 100
def make_banner():
    W, H = 3840, 720
    y = np.linspace(0.0, 1.0, H)[:, None]
    x = np.linspace(0.0, 1.0, W)[None, :]
    top = np.array([8, 11, 24], float)
    mid = np.array([22, 26, 58], float)
    low = np.array([92, 46, 60], float)
    # vertical sky: deep navy at the top, violet towards the horizon, warm at it
    t = np.clip(y / 0.72, 0, 1)
    sky = top * (1 - t[..., None]) ** 1.0 + mid * t[..., None]
    warm = np.clip((y - 0.45) / 0.30, 0, 1) ** 2
    sky = sky * (1 - warm[..., None]) + low * warm[..., None]
    sky = np.broadcast_to(sky, (H, W, 3)).copy()
    # the sun's glow, near the right edge, on the horizon
    sx, sy = 0.86 * W, 0.74 * H
    dx = (x * W - sx) / W
    dy = (y * H - sy) / H
    d = np.sqrt(dx * dx * 1.0 + dy * dy * 9.0)
    glow = np.exp(-d * 5.5)[..., None]
    halo = np.exp(-d * 18.0)[..., None]
    sky = sky + np.array([255, 122, 61]) * glow * 0.55 + np.array([255, 200, 140]) * halo * 0.45
    img = Image.fromarray(np.clip(sky, 0, 255).astype(np.uint8), "RGB").convert("RGBA")

    # stars, fewer towards the glow and the horizon
    rnd = random.Random(7)
    d2 = ImageDraw.Draw(img)
    for _ in range(1400):
        px_, py_ = rnd.uniform(0, W), rnd.uniform(0, H * 0.66)
        fade = 1.0 - py_ / (H * 0.66)
        near = math.hypot((px_ - sx) / W, (py_ - sy) / H * 3)
        if near < 0.22 and rnd.random() < 0.8:
            continue
        a = int(255 * fade * rnd.uniform(0.25, 1.0))
        s = rnd.choice((0.6, 0.8, 1.0, 1.0, 1.4, 2.0))
        c = rnd.choice((TEXT, TEXT, TEXT_SECONDARY, (255, 220, 190)))
        d2.ellipse((px_ - s, py_ - s, px_ + s, py_ + s), fill=c + (a,))

    # the rising sun: a disc cut by the horizon
    sun = Image.new("RGBA", (W, H), (0, 0, 0, 0))
    ds = ImageDraw.Draw(sun)
    r = 120
    ds.ellipse((sx - r, sy - r, sx + r, sy + r), fill=(255, 170, 96, 255))
    ds.ellipse((sx - r * 0.8, sy - r * 0.8, sx + r * 0.8, sy + r * 0.8), fill=(255, 214, 150, 255))
    sun = sun.filter(ImageFilter.GaussianBlur(2))
    img = Image.alpha_composite(img, sun)

    # layered hills, far to near, each darker, with a rim of sunlight
    def ridge(seed, base, amp, colour, rim):
        rr = random.Random(seed)
        pts = []
        phase = [rr.uniform(0, 6.28) for _ in range(4)]
        freq = [1.3, 3.1, 7.7, 17.0]
        amps = [1.0, 0.45, 0.18, 0.06]
        for i in range(0, W + 8, 8):
            u = i / W
            v = sum(a * math.sin(u * f * 6.283 + p) for a, f, p in zip(amps, freq, phase))
            pts.append((i, base - amp * v))
        layer = Image.new("RGBA", (W, H), (0, 0, 0, 0))
        dl = ImageDraw.Draw(layer)
        dl.polygon(pts + [(W + 8, H), (0, H)], fill=colour + (255,))
        if rim:
            # Sunlight on the ridge, following its slope and fading away from
            # the sun. Wide and soft, so that it stays a smooth line when the
            # banner is scaled down to a fifth of its size.
            glow_layer = Image.new("RGBA", (W, H), (0, 0, 0, 0))
            dg = ImageDraw.Draw(glow_layer)
            for (i, yy), (j, zz) in zip(pts, pts[1:]):
                near = max(0.0, 1.0 - abs(i - sx) / (W * 0.35))
                if near > 0:
                    dg.line((i, yy + 3, j, zz + 3), fill=(255, 150, 90, int(230 * near)), width=9)
            glow_layer = glow_layer.filter(ImageFilter.GaussianBlur(2.5))
            # keep the light on the ridge itself, not in the sky above it
            mask = Image.new("L", (W, H), 0)
            ImageDraw.Draw(mask).polygon(pts + [(W + 8, H), (0, H)], fill=255)
            layer = Image.alpha_composite(layer, Image.composite(glow_layer, Image.new("RGBA", (W, H)), mask))
        return layer

    img = Image.alpha_composite(img, ridge(3, H * 0.78, 22, (40, 30, 58), True))
    img = Image.alpha_composite(img, ridge(5, H * 0.86, 30, (24, 22, 44), True))
    img = Image.alpha_composite(img, ridge(11, H * 0.95, 26, BACKDROP, False))
    save(img.convert("RGB").convert("RGBA"), "banner.png")


# ---------------------------------------------------------------- wordmarks 101, 102
def make_wordmark(with_emblem):
    W, H = 780, 120
    img, d = canvas(W, H)
    x0 = 0
    if with_emblem:
        draw_emblem(d, 60 * SS, 60 * SS, 50 * SS)
        x0 = 130
    f = font(58 * SS)
    word1, word2 = "PROJECT", "TELVAR"
    # letter-spaced, two weights of colour: the product name carries the accent
    x = x0 * SS
    base = 60 * SS
    box = d.textbbox((0, 0), "PROJECT", font=f)
    ty = base - (box[1] + box[3]) / 2
    for ch in word1:
        d.text((x, ty), ch, font=f, fill=TEXT)
        x += d.textlength(ch, font=f) + 4 * SS
    x += 22 * SS
    for ch in word2:
        d.text((x, ty), ch, font=f, fill=ACCENT)
        x += d.textlength(ch, font=f) + 4 * SS
    assert x <= W * SS, "wordmark wider than its canvas"
    save(reduce(img, W, H), "wordmark_emblem.png" if with_emblem else "wordmark.png")


# ---------------------------------------------------------------- empty state 103
def make_empty_state():
    W, H = 960, 600
    img, d = canvas(W, H)
    cx, cy, R = 480 * SS, 300 * SS, 270 * SS
    # a soft disc of surface colour behind everything
    d.ellipse((cx - R + 30 * SS, cy - R + 30 * SS, cx + R - 30 * SS, cy + R - 30 * SS), fill=SURFACE + (255,))
    # the dashed circle
    n = 48
    for i in range(n):
        a0 = 360 * i / n
        d.arc((cx - R, cy - R, cx + R, cy + R), a0, a0 + 360 / n * 0.55, fill=BORDER_HOVER, width=6 * SS)
    draw_emblem(d, cx, cy, 150 * SS, ring=TEXT_SECONDARY)
    # a few stars around the emblem
    rnd = random.Random(2)
    for _ in range(14):
        a = rnd.uniform(0, 6.283)
        rr = rnd.uniform(180, 230) * SS
        s = rnd.choice((3, 4, 6)) * SS
        x, y = cx + rr * math.cos(a), cy + rr * math.sin(a)
        d.ellipse((x - s, y - s, x + s, y + s), fill=TEXT_MUTED)
    save(reduce(img, W, H), "empty_state.png")


# ---------------------------------------------------------------- tile 104
def make_tile():
    N = 512
    img = Image.new("RGBA", (N * SS, N * SS), BACKDROP + (255,))
    d = ImageDraw.Draw(img)
    rnd = random.Random(104)
    # stars wrap around the edges so the tile repeats without seams
    for _ in range(150):
        x, y = rnd.uniform(0, N), rnd.uniform(0, N)
        s = rnd.choice((0.5, 0.6, 0.7, 0.8, 1.0, 1.3))
        c = rnd.choice((TEXT_MUTED, TEXT_MUTED, TEXT_SECONDARY, BORDER_HOVER))
        a = int(rnd.uniform(60, 170))
        for ox in (-N, 0, N):
            for oy in (-N, 0, N):
                X, Y = (x + ox) * SS, (y + oy) * SS
                d.ellipse((X - s * SS, Y - s * SS, X + s * SS, Y + s * SS), fill=c + (255,))
        del a
    tile = reduce(img, N, N)
    # keep the stars quiet: blend them back towards the backdrop
    arr = np.asarray(tile).astype(float)
    back = np.array(BACKDROP + (255,), float)
    arr = back + (arr - back) * 0.8
    save(Image.fromarray(np.clip(arr + 0.5, 0, 255).astype(np.uint8), "RGBA"), "tile.png")


# ---------------------------------------------------------------- icons 120..129
def icon_canvas():
    return canvas(60, 60)


def make_icons():
    S = SS
    w = 5 * S  # stroke
    white = WHITE + (255,)

    def line(d, pts, width=w):
        d.line([(x * S, y * S) for x, y in pts], fill=white, width=width, joint="curve")
        for x, y in (pts[0], pts[-1]):
            r = width / 2
            d.ellipse((x * S - r, y * S - r, x * S + r, y * S + r), fill=white)

    def rect(d, x0, y0, x1, y1, r, width=w, fill=None):
        d.rounded_rectangle((x0 * S, y0 * S, x1 * S, y1 * S), r * S, outline=white, width=width, fill=fill)

    icons = {}
    img, d = icon_canvas()  # 120 plus
    line(d, [(30, 12), (30, 48)])
    line(d, [(12, 30), (48, 30)])
    icons[120] = img

    img, d = icon_canvas()  # 121 hammer: a handle up to the right, the head across its end
    line(d, [(12, 48), (33, 27)], width=6 * S)
    ux, uy = 1 / math.sqrt(2), -1 / math.sqrt(2)  # along the handle
    vx, vy = 1 / math.sqrt(2), 1 / math.sqrt(2)   # across it
    cx, cy = 38, 22
    half_long, half_thick = 15, 6
    corners = []
    for a, b in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
        corners.append(((cx + a * half_long * vx + b * half_thick * ux) * S,
                        (cy + a * half_long * vy + b * half_thick * uy) * S))
    d.polygon(corners, fill=white)
    icons[121] = img

    img, d = icon_canvas()  # 122 cross
    line(d, [(15, 15), (45, 45)])
    line(d, [(45, 15), (15, 45)])
    icons[122] = img

    img, d = icon_canvas()  # 123 folder
    d.line([(8 * S, 47 * S), (8 * S, 14 * S), (23 * S, 14 * S), (28 * S, 20 * S), (52 * S, 20 * S),
            (52 * S, 47 * S), (8 * S, 47 * S)], fill=white, width=w, joint="curve")
    line(d, [(8, 27), (52, 27)], width=4 * S)
    icons[123] = img

    img, d = icon_canvas()  # 124 document
    d.line([(14 * S, 7 * S), (36 * S, 7 * S), (47 * S, 18 * S), (47 * S, 53 * S), (14 * S, 53 * S),
            (14 * S, 7 * S)], fill=white, width=w, joint="curve")
    line(d, [(36, 8), (36, 18), (46, 18)], width=4 * S)
    for y in (29, 37, 45):
        line(d, [(21, y), (40, y)], width=4 * S)
    icons[124] = img

    img, d = icon_canvas()  # 125 play
    d.polygon([(18 * S, 10 * S), (50 * S, 30 * S), (18 * S, 50 * S)], fill=white)
    icons[125] = img

    img, d = icon_canvas()  # 126 two circular arrows
    box = (11 * S, 11 * S, 49 * S, 49 * S)
    d.arc(box, 200, 330, fill=white, width=w)
    d.arc(box, 20, 150, fill=white, width=w)

    def head(ang, direction):
        a = math.radians(ang)
        x, y = 30 + 19 * math.cos(a), 30 + 19 * math.sin(a)
        # tangent direction of travel
        tx, ty = -math.sin(a) * direction, math.cos(a) * direction
        nx, ny = math.cos(a), math.sin(a)
        tip = (x + tx * 8, y + ty * 8)
        p1 = (x + nx * 7, y + ny * 7)
        p2 = (x - nx * 7, y - ny * 7)
        d.polygon([(tip[0] * S, tip[1] * S), (p1[0] * S, p1[1] * S), (p2[0] * S, p2[1] * S)], fill=white)

    head(330, 1)
    head(150, 1)
    icons[126] = img

    img, d = icon_canvas()  # 127 bin
    line(d, [(10, 15), (50, 15)])
    line(d, [(24, 15), (25, 8), (35, 8), (36, 15)], width=4 * S)
    d.line([(15 * S, 16 * S), (18 * S, 53 * S), (42 * S, 53 * S), (45 * S, 16 * S)], fill=white, width=w,
           joint="curve")
    for x in (25, 35):
        line(d, [(x, 24), (x, 45)], width=4 * S)
    icons[127] = img

    img, d = icon_canvas()  # 128 magnifier
    d.ellipse((8 * S, 8 * S, 40 * S, 40 * S), outline=white, width=w)
    line(d, [(36, 36), (51, 51)], width=7 * S)
    icons[128] = img

    img, d = icon_canvas()  # 129 gear
    cx = cy = 30 * S
    teeth = 8
    pts = []
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        r = 25 if (i % 4) in (0, 1) else 19
        pts.append((cx + r * S * math.cos(a + math.pi / teeth / 2), cy + r * S * math.sin(a + math.pi / teeth / 2)))
    d.polygon(pts, fill=white)
    d.ellipse((cx - 9 * S, cy - 9 * S, cx + 9 * S, cy + 9 * S), fill=(0, 0, 0, 0))
    icons[129] = img

    names = {120: "plus", 121: "hammer", 122: "cross", 123: "folder", 124: "document", 125: "play",
             126: "rebuild", 127: "bin", 128: "magnifier", 129: "gear"}
    for i, im in icons.items():
        save(reduce(im, 60, 60), "icon_%d_%s.png" % (i, names[i]))


# ---------------------------------------------------------------- glyphs 140..169
def glyph_base(shape):
    """A dark key cap with a light outline: round for face buttons, a wide
    rounded bar for shoulder buttons, a pill for the two small middle keys."""
    img, d = canvas(66, 66)
    S = SS
    fill = SURFACE_RAISED + (255,)
    edge = TEXT_SECONDARY + (255,)
    if shape == "round":
        d.ellipse((3 * S, 3 * S, 63 * S, 63 * S), fill=fill, outline=edge, width=3 * S)
    elif shape == "bar":
        d.rounded_rectangle((2 * S, 12 * S, 64 * S, 54 * S), 14 * S, fill=fill, outline=edge, width=3 * S)
    else:  # pill
        d.rounded_rectangle((3 * S, 17 * S, 63 * S, 49 * S), 16 * S, fill=fill, outline=edge, width=3 * S)
    return img, d


def make_glyphs():
    S = SS
    ink = TEXT + (255,)
    w = 5 * S
    out = {}

    # The classic console's side: plain geometric marks in one light ink.
    img, d = glyph_base("round")  # 140 cross
    d.line((21 * S, 21 * S, 45 * S, 45 * S), fill=ink, width=w)
    d.line((45 * S, 21 * S, 21 * S, 45 * S), fill=ink, width=w)
    out[140] = ("cross", img)
    img, d = glyph_base("round")  # 141 circle
    d.ellipse((20 * S, 20 * S, 46 * S, 46 * S), outline=ink, width=w)
    out[141] = ("circle", img)
    img, d = glyph_base("round")  # 142 square
    d.rectangle((21 * S, 21 * S, 45 * S, 45 * S), outline=ink, width=w)
    out[142] = ("square", img)
    img, d = glyph_base("round")  # 143 triangle
    d.line([(33 * S, 18 * S), (47 * S, 43 * S), (19 * S, 43 * S), (33 * S, 18 * S), (47 * S, 43 * S)], fill=ink,
           width=w, joint="curve")
    out[143] = ("triangle", img)
    for gid, label in ((144, "L1"), (145, "R1"), (146, "L2"), (147, "R2")):
        img, d = glyph_base("bar")
        text_centered(d, 33 * S, 33 * S, label, 24 * S, ink)
        out[gid] = (label.lower(), img)
    img, d = glyph_base("pill")  # 148 start: a right-pointing wedge
    d.polygon([(26 * S, 24 * S), (42 * S, 33 * S), (26 * S, 42 * S)], fill=ink)
    out[148] = ("start", img)
    img, d = glyph_base("pill")  # 149 select: a small flat bar
    d.rounded_rectangle((22 * S, 29 * S, 44 * S, 37 * S), 3 * S, fill=ink)
    out[149] = ("select", img)

    # The modern pad's side: letters and marks on the same key caps.
    for gid, label in ((160, "A"), (161, "B"), (162, "X"), (163, "Y")):
        img, d = glyph_base("round")
        text_centered(d, 33 * S, 34 * S, label, 30 * S, ink)
        out[gid] = (label.lower(), img)
    for gid, label in ((164, "LB"), (165, "RB"), (166, "LT"), (167, "RT")):
        img, d = glyph_base("bar")
        text_centered(d, 33 * S, 33 * S, label, 22 * S, ink)
        out[gid] = (label.lower(), img)
    img, d = glyph_base("pill")  # 168 menu: three lines
    for y in (27, 33, 39):
        d.line((24 * S, y * S, 42 * S, y * S), fill=ink, width=3 * S)
    out[168] = ("menu", img)
    img, d = glyph_base("pill")  # 169 view: two overlapping frames
    d.rectangle((22 * S, 25 * S, 36 * S, 37 * S), outline=ink, width=3 * S)
    d.rectangle((30 * S, 30 * S, 44 * S, 42 * S), fill=SURFACE_RAISED + (255,), outline=ink, width=3 * S)
    out[169] = ("view", img)

    for gid, (name, im) in out.items():
        save(reduce(im, 66, 66), "glyph_%d_%s.png" % (gid, name))


# ---------------------------------------------------------------- icon group 1
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 96, 128, 256)


def app_icon(size):
    img, d = canvas(size, size)
    n = size * SS
    d.rounded_rectangle((0, 0, n - 1, n - 1), n * 0.22, fill=SIDEBAR + (255,), outline=BORDER + (255,),
                        width=max(SS, n // 48))
    draw_emblem(d, n / 2, n / 2, n * 0.38, ring=TEXT, sun=ACCENT)
    return reduce(img, size, size)


def make_icon_group():
    entries = []
    for s in ICON_SIZES:
        buf = io.BytesIO()
        app_icon(s).save(buf, "PNG", optimize=True)
        entries.append((s, buf.getvalue()))
    # ICO file: ICONDIR, then one ICONDIRENTRY per image, then the PNG bytes.
    head = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    dirs, blobs = b"", b""
    for s, data in entries:
        dim = 0 if s >= 256 else s
        dirs += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        blobs += data
    with open(os.path.join(HERE, "ProjectTelvar.ico"), "wb") as f:
        f.write(head + dirs + blobs)


if __name__ == "__main__":
    make_banner()
    make_wordmark(True)
    make_wordmark(False)
    make_empty_state()
    make_tile()
    make_icons()
    make_glyphs()
    make_icon_group()
