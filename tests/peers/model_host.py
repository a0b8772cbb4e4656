#!/usr/bin/env python3
"""A model of what a host gets from the plug-in, written from the file rules
alone and sharing nothing with the plug-in: qxhost's `info --json`,
`framemd5`, `frames --raw` and `audio --out` for one AVI file, read by walking
its movie data chunk by chunk (pad bytes after odd chunks, 0-byte video chunks
as drop frames, 24-bit frames served as 32-bit BGRA with alpha 255 in the
stored row order; the converted layouts as upright BGRA pictures by the
documented colour formula, computed in double precision).

It stands in for qxhost to check the suite's reference side: where the model
and ffmpeg agree on a writer's file, what the suite expects of the plug-in is
what the file holds (`peer-writers.sh --model`).
"""
import hashlib
import json
import math
import os
import struct
import sys

BI_RGB, BI_BITFIELDS = 0, 3
PCM, FLOAT, ALAW, MULAW, EXTENSIBLE = 1, 3, 6, 7, 0xFFFE
# The sounds served: (format tag, bits per sample).
SERVED_SOUNDS = {(PCM, 8), (PCM, 16), (PCM, 24), (PCM, 32), (FLOAT, 32), (FLOAT, 64),
                 (ALAW, 8), (MULAW, 8)}
PCM_GUID_TAIL = bytes.fromhex("000000001000800000aa00389b71")


class File:
    def __init__(self, path):
        self.f = open(path, "rb")
        self.f.seek(0, 2)
        self.size = self.f.tell()
        self.streams = []
        self.chunks = []  # (id, offset of data, size) in file order
        self.walk(0, self.size)

    def read(self, off, n):
        self.f.seek(off)
        return self.f.read(n)

    def next_chunk(self, off, size):
        """Past a chunk: a pad byte follows an odd one when a chunk header starts there."""
        nxt = off + 8 + size
        if size & 1 and not self.plausible(nxt) and self.plausible(nxt + 1):
            return nxt + 1
        return nxt

    def plausible(self, off):
        h = self.read(off, 4)
        return len(h) == 4 and all(32 <= c < 127 for c in h)

    def walk(self, off, end, in_movi=False):
        while off + 8 <= end:
            h = self.read(off, 12)
            cid, size = h[:4], struct.unpack("<I", h[4:8])[0]
            if cid in (b"RIFF", b"LIST"):
                form = h[8:12]
                if form == b"strl":
                    self.streams.append({})
                if form in (b"AVI ", b"AVIX", b"hdrl", b"strl", b"movi", b"rec "):
                    self.walk(off + 12, min(off + 8 + size, end), in_movi or form == b"movi")
            elif in_movi:
                self.chunks.append((cid, off + 8, size))
            elif cid in (b"strh", b"strf") and self.streams:
                # A palette follows the 40-byte header (up to 256 entries).
                self.streams[-1][cid.decode()] = self.read(off + 8, min(size, 40 + 1024 + 16))
            off = self.next_chunk(off, size)

    def pick(self):
        """(video stream number, strh, strf) and the same for audio; None when refused."""
        video = audio = None
        for n, s in enumerate(self.streams):
            strh, strf = s.get("strh", b""), s.get("strf", b"")
            if len(strh) < 48:
                continue
            kind = strh[:4]
            if kind == b"vids" and video is None and len(strf) >= 40:
                bits, comp = struct.unpack("<HI", strf[14:20])
                # A palette that changes during the stream ('##pc' chunks) is refused.
                changes = comp == BI_RGB and bits <= 8 and any(c[0] == b"%02dpc" % n for c in self.chunks)
                if (bits == 32 and comp in (BI_RGB, BI_BITFIELDS)) or (bits == 24 and comp == BI_RGB) \
                        or (converted_layout(strf) and not changes):
                    video = (n, strh, strf)
            elif kind == b"auds" and audio is None and len(strf) >= 16:
                tag, _, _, _, _, bits = struct.unpack("<HHIIHH", strf[:16])
                if tag == EXTENSIBLE and len(strf) >= 40 and strf[26:40] == PCM_GUID_TAIL:
                    tag = struct.unpack("<H", strf[24:26])[0]
                audio = (n, strh, strf, tag) if (tag, bits) in SERVED_SOUNDS else False
        return video, audio or None

    def data(self, off, size):
        return self.read(off, size)


def bgra_from_bgr24(data, width, rows, fault=""):
    """A stored 24-bit frame as 32-bit BGRA: each row is 3 bytes a pixel padded to
    4 bytes, the rows stay in stored order, alpha is 255; bytes the chunk lacks
    are 0. `fault` is one of the deliberate faults of --mutate."""
    stride = (width * 3 + 3) // 4 * 4
    if fault == "stride":
        stride = width * 3
    data = data[:stride * rows].ljust(stride * rows, b"\0")
    order = range(rows - 1, -1, -1) if fault == "rows" else range(rows)
    pixels = b"".join(data[r * stride:r * stride + width * 3] for r in order)
    n = width * rows
    out = bytearray(n * 4)
    out[0::4], out[1::4], out[2::4] = pixels[0::3], pixels[1::3], pixels[2::3]
    out[3::4] = (b"\0" if fault == "alpha" else b"\xff") * n
    return bytes(out)


def frames(f, video, fault=""):
    """(size, MD5) of every frame's picture: a 0-byte chunk repeats the last one."""
    n, _, strf = video
    width, height, _, bits = struct.unpack("<iiHH", strf[4:16])
    ids = (b"%02ddb" % n, b"%02ddc" % n)
    out, last = [], (0, hashlib.md5(b"").hexdigest())
    for cid, off, size in f.chunks:
        if cid in ids:
            if size:
                picture = f.data(off, size)
                if bits == 24:
                    picture = bgra_from_bgr24(picture, width, abs(height), fault)
                last = (len(picture), hashlib.md5(picture).hexdigest())
            out.append(last)
    return out


# ---------------------------------------------------------------- converted layouts
#
# YUV is limited range; the matrix BT.709 from 720 lines, BT.601 below:
#   Y' = (Y - 16) 255/219, Cb' = (Cb - 128) 255/224, Cr' = (Cr - 128) 255/224
#   R = Y' + 2 (1 - Kr) Cr', G = Y' - (2 Kb (1 - Kb) Cb' + 2 Kr (1 - Kr) Cr') / (1 - Kr - Kb),
#   B = Y' + 2 (1 - Kb) Cb', each rounded (halves up) and clamped; 10-bit
# samples enter as value / 4. Chroma sample j of a plane subsampled by s sits
# at luma position s j + (s - 1) / 2; by 2 a pixel takes the line between the
# two nearest samples, by 4 the cubic of the four nearest (Keys, a = -0.6,
# rounded to 1/1024), down first, then across; edge samples repeat past the
# edge. YUV and grey are stored top-down; BI_RGB, BI_BITFIELDS and MEncoder's
# codes as the height's sign says (positive: bottom-up), rows padded to 4 bytes.

def fourcc_code(text):
    return struct.unpack("<I", text.encode("latin-1"))[0]


# code -> (kind, chroma order or pixel bytes); kinds: packed 4:2:2, v210,
# planar (horizontal, vertical subsampling, interleaved), grey, rgb (bytes)
YUV_CODES = {}
for _c in ("UYVY", "2vuy", "2Vuy", "HDYC", "UYNV", "UYNY"):
    YUV_CODES[fourcc_code(_c)] = ("422", "UYVY")
for _c in ("YUY2", "YUYV", "YUNV", "V422", "Y422"):
    YUV_CODES[fourcc_code(_c)] = ("422", "YUYV")
YUV_CODES[fourcc_code("YVYU")] = ("422", "YVYU")
YUV_CODES[fourcc_code("v210")] = ("v210", None)
for _c, _how in (("I420", (2, 2, False, False)), ("IYUV", (2, 2, False, False)),
                 ("YV12", (2, 2, False, True)), ("NV12", (2, 2, True, False)),
                 ("NV21", (2, 2, True, True)), ("Y42B", (2, 1, False, False)),
                 ("P422", (2, 1, False, False)), ("Y41B", (4, 1, False, False)),
                 ("YUV9", (4, 4, False, False)), ("YVU9", (4, 4, False, True))):
    YUV_CODES[fourcc_code(_c)] = ("planar", _how)
for _c in ("Y800", "Y8  ", "GREY"):
    YUV_CODES[fourcc_code(_c)] = ("grey", None)
# RGB named by a code: (bits, byte order of a pixel, rows as the height says)
RGB_CODES = {
    (fourcc_code("RGBA"), 32): ("RGBA", False), (fourcc_code("RV32"), 32): ("BGRx", False),
    (fourcc_code("RV24"), 24): ("BGR", False), (fourcc_code("raw "), 24): ("RGB", False),
    (fourcc_code("raw "), 32): ("ARGB", False),
    (0x42475220, 32): ("BGRx", True), (0x42475218, 24): ("BGR", True),
    (0x52474220, 32): ("RGBx", True), (0x52474218, 24): ("RGB", True),
}


def converted_layout(strf):
    """What the model converts the stream's pictures as, or None."""
    bits, comp = struct.unpack("<HI", strf[14:20])
    if comp in YUV_CODES:
        return YUV_CODES[comp]
    key = (comp, bits)
    if key in RGB_CODES or (comp == fourcc_code("RV16") and bits == 16) \
            or (comp == fourcc_code("RV15") and bits == 16):
        return ("code", key)
    if comp == BI_RGB and bits in (16, 8, 4, 1):
        return ("dib", bits)
    if comp == BI_BITFIELDS and bits == 16 and len(strf) >= 52:
        masks = struct.unpack("<III", strf[40:52])
        if masks in ((0xF800, 0x07E0, 0x001F), (0x7C00, 0x03E0, 0x001F)):
            return ("dib", 16)
    return None


def keys_weight(d):
    a, d = -0.6, abs(d)
    w = (a + 2) * d ** 3 - (a + 3) * d * d + 1 if d < 1 else \
        (a * d ** 3 - 5 * a * d * d + 8 * a * d - 4 * a if d < 2 else 0.0)
    return math.floor(w * 1024 + 0.5) / 1024


def taps(count_luma, s, count_chroma):
    """Per luma position along one axis: [(chroma index, weight)...]."""
    out = []
    for at in range(count_luma):
        if s == 1:
            out.append(((at, 1.0),))
            continue
        pos = (at - (s - 1) / 2.0) / s
        lo = math.floor(pos)
        if s == 2:
            t = pos - lo
            pairs = ((lo, 1 - t), (lo + 1, t))
        else:
            pairs = tuple((lo - 1 + k, keys_weight(pos - (lo - 1 + k))) for k in range(4))
        out.append(tuple((min(max(i, 0), count_chroma - 1), w) for i, w in pairs))
    return out


class Yuv:
    def __init__(self, bt709):
        kr, kb = (0.2126, 0.0722) if bt709 else (0.299, 0.114)
        c = 255.0 / 224
        self.vr = 2 * (1 - kr) * c
        self.ug = 2 * kb * (1 - kb) / (1 - kr - kb) * c
        self.vg = 2 * kr * (1 - kr) / (1 - kr - kb) * c
        self.ub = 2 * (1 - kb) * c

    def row(self, ys, cbs, crs, out, at):
        """One row of luma (8-bit units) and per-pixel chroma into BGRA at out[at:]."""
        vr, ug, vg, ub = self.vr, self.ug, self.vg, self.ub
        k = 255.0 / 219
        for y, cb, cr in zip(ys, cbs, crs):
            yy = (y - 16) * k
            u, v = cb - 128, cr - 128
            for value in (yy + ub * u, yy - ug * u - vg * v, yy + vr * v):
                value = int(value + 0.5)
                out[at] = 0 if value < 0 else (255 if value > 255 else value)
                at += 1
            out[at] = 255
            at += 1


def interpolate_rows(planes, width, height, hs, vs):
    """Per-pixel chroma rows of chroma planes (lists of rows of floats)."""
    cw, ch = len(planes[0][0]), len(planes[0])
    across, down = taps(width, hs, cw), taps(height, vs, ch)
    for y in range(height):
        result = []
        for plane in planes:
            blended = [0.0] * cw
            for j, w in down[y]:
                if w:
                    src = plane[j]
                    blended = [b + w * v for b, v in zip(blended, src)]
            if hs == 2:
                result.append([blended[t[0][0]] * t[0][1] + blended[t[1][0]] * t[1][1] for t in across])
            else:
                result.append([sum(blended[i] * w for i, w in t) for t in across])
        yield result


def yuv_picture(data, width, rows, how, smallest_chunk, bt709):
    kind, detail = how
    out = bytearray(width * rows * 4)
    model = Yuv(bt709)
    if kind == "grey":
        stride = width
        padded = (width + 3) // 4 * 4
        if padded != width and smallest_chunk >= padded * rows:
            stride = padded
        data = data.ljust(stride * rows, b"\0")
        for y in range(rows):
            line = data[y * stride:y * stride + width]
            at = y * width * 4
            out[at:at + width * 4:4] = line
            out[at + 1:at + width * 4:4] = line
            out[at + 2:at + width * 4:4] = line
            out[at + 3:at + width * 4:4] = b"\xff" * width
        return bytes(out)
    if kind == "422":
        stride = (width + 1) // 2 * 4
        stride = (stride + 3) // 4 * 4
        data = data.ljust(stride * rows, b"\0")
        order = detail
        ys, us, vs_ = [], [], []
        for y in range(rows):
            r = data[y * stride:y * stride + (width + 1) // 2 * 4]
            quads = [r[i:i + 4] for i in range(0, len(r), 4)]
            pos = {c: order.index(c) for c in "UV"}
            yi = [i for i, c in enumerate(order) if c == "Y"]
            ys.append([q[yi[k]] for q in quads for k in (0, 1)][:width])
            us.append([q[pos["U"]] for q in quads])
            vs_.append([q[pos["V"]] for q in quads])
        planes = (us, vs_)
        hs, vsub = 2, 1
    elif kind == "v210":
        stride = (width + 47) // 48 * 128
        data = data.ljust(stride * rows, b"\0")
        ys, us, vs_ = [], [], []
        for y in range(rows):
            groups = (width + 5) // 6
            words = struct.unpack("<%dI" % (groups * 4), data[y * stride:y * stride + groups * 16])
            vals = []
            for w in words:
                vals += [w & 1023, (w >> 10) & 1023, (w >> 20) & 1023]
            # per 6 pixels: Cb0 Y0 Cr0 Y1 Cb1 Y2 Cr1 Y3 Cb2 Y4 Cr2 Y5
            yl, ul, vl = [], [], []
            for g in range(groups):
                v = vals[g * 12:g * 12 + 12]
                yl += [v[1] / 4, v[3] / 4, v[5] / 4, v[7] / 4, v[9] / 4, v[11] / 4]
                ul += [v[0] / 4, v[4] / 4, v[8] / 4]
                vl += [v[2] / 4, v[6] / 4, v[10] / 4]
            ys.append(yl[:width])
            us.append(ul[:(width + 1) // 2])
            vs_.append(vl[:(width + 1) // 2])
        planes = (us, vs_)
        hs, vsub = 2, 1
    else:
        hs, vsub, interleaved, swap = detail
        cw, ch = (width + hs - 1) // hs, (rows + vsub - 1) // vsub
        stride, cstride, luma_rows = width, cw, rows
        if detail == (2, 2, False, False):
            # I420 as GStreamer pads it (each plane's rows to 4 bytes, the luma
            # plane to an even number of rows), when every chunk holds that frame.
            padded = ((width + 3) // 4 * 4, (cw + 3) // 4 * 4, ch * 2)
            frame = padded[0] * padded[2] + 2 * padded[1] * ch
            if frame != width * rows + 2 * cw * ch and smallest_chunk >= frame:
                stride, cstride, luma_rows = padded
        luma = stride * luma_rows
        data = data.ljust(luma + 2 * cstride * ch, b"\0")
        ys = [data[y * stride:y * stride + width] for y in range(rows)]
        if interleaved:
            both = data[luma:luma + 2 * cw * ch]
            first = [both[j * 2 * cw:(j + 1) * 2 * cw:2] for j in range(ch)]
            second = [both[j * 2 * cw + 1:(j + 1) * 2 * cw:2] for j in range(ch)]
        else:
            first = [data[luma + j * cstride:luma + j * cstride + cw] for j in range(ch)]
            second = [data[luma + cstride * ch + j * cstride:luma + cstride * ch + j * cstride + cw]
                      for j in range(ch)]
        planes = (second, first) if swap else (first, second)
        planes = tuple([list(r) for r in p] for p in planes)
    for y, (cbs, crs) in enumerate(interpolate_rows(planes, width, rows, hs, vsub)):
        model.row(ys[y], cbs, crs, out, y * width * 4)
    return bytes(out)


def widen(v, bits):
    return (v << (8 - bits)) | (v >> (2 * bits - 8))


def rgb_picture(data, strf, width, height, how):
    """BI_RGB 16/8/4/1, BI_BITFIELDS 16 and RGB named by a code, upright BGRA."""
    rows = abs(height)
    kind, detail = how
    bits = struct.unpack("<H", strf[14:16])[0]
    comp = struct.unpack("<I", strf[16:20])[0]
    stride = (width * bits + 31) // 32 * 4
    data = data.ljust(stride * rows, b"\0")
    bottom_up = height > 0 and (kind == "dib" or RGB_CODES.get(detail, (None, False))[1])
    order = range(rows - 1, -1, -1) if bottom_up else range(rows)
    out = bytearray()
    palette = []
    if kind == "dib" and bits <= 8:
        used = struct.unpack("<I", strf[32:36])[0] or (1 << bits)
        table = strf[40:40 + 4 * min(used, 1 << bits)]
        palette = [bytes(table[i:i + 3]) + b"\xff" for i in range(0, len(table) - 3, 4)]
        palette += [b"\0\0\0\xff"] * ((1 << bits) - len(palette))
    five = comp == fourcc_code("RV15") or (bits == 16 and comp == BI_RGB) or \
        (comp == BI_BITFIELDS and strf[40:44] == struct.pack("<I", 0x7C00))
    for r in order:
        line = data[r * stride:r * stride + stride]
        if bits == 16:
            for x in range(width):
                v = line[2 * x] | line[2 * x + 1] << 8
                if five:
                    red, green, blue = widen(v >> 10 & 31, 5), widen(v >> 5 & 31, 5), widen(v & 31, 5)
                else:
                    red, green, blue = widen(v >> 11, 5), widen(v >> 5 & 63, 6), widen(v & 31, 5)
                out += bytes((blue, green, red, 255))
        elif palette:
            per = 8 // bits
            for x in range(width):
                byte = line[x // per]
                index = (byte >> (8 - bits - (x % per) * bits)) & ((1 << bits) - 1)
                out += palette[index]
        else:
            names = RGB_CODES[detail][0]
            size = bits // 8
            for x in range(width):
                px = dict(zip(names, line[x * size:x * size + size]))
                out += bytes((px["B"], px["G"], px["R"], px.get("A", 255)))
    return bytes(out)


def converted_frames(f, video, fault=""):
    """Every frame of a converted layout as upright BGRA (a 0-byte chunk repeats the last).
    `fault` (--mutate): "matrix" takes the other matrix, "flip" turns the pictures over."""
    n, _, strf = video
    width, height = struct.unpack("<ii", strf[4:12])
    rows = abs(height)
    how = converted_layout(strf)
    ids = (b"%02ddb" % n, b"%02ddc" % n)
    chunks = [(off, size) for cid, off, size in f.chunks if cid in ids]
    smallest = min((size for _, size in chunks if size), default=0)
    last = None
    for off, size in chunks:
        if size:
            data = f.data(off, size)
            if how[0] in ("422", "v210", "planar", "grey"):
                bt709 = (rows >= 720) != (fault == "matrix")
                picture = yuv_picture(data, width, rows, how, smallest, bt709)
            else:
                picture = rgb_picture(data, strf, width, height, how)
            if fault == "flip":
                stride = width * 4
                picture = b"".join(picture[r * stride:(r + 1) * stride] for r in range(rows - 1, -1, -1))
            last = picture
        if last is not None:
            yield last


def g711(code, alaw):
    """The 16-bit linear value of a G.711 code: sign, 3-bit exponent, 4-bit mantissa."""
    if alaw:
        a = code ^ 0x55
        e, m = (a >> 4) & 7, a & 15
        v = (m << 4) + 8 if e == 0 else ((m << 4) + 0x108) << (e - 1)
        return v if a & 0x80 else -v
    u = ~code & 0xFF
    v = (((u & 15) << 3) + 0x84 << ((u >> 4) & 7)) - 0x84
    return -v if u & 0x80 else v


def samples(f, audio):
    n, _, strf, tag = audio
    bits = struct.unpack("<H", strf[14:16])[0]
    raw = b"".join(f.data(off, size) for cid, off, size in f.chunks if cid == b"%02dwb" % n)
    size = bits // 8
    raw = raw[:len(raw) // size * size]
    if tag in (ALAW, MULAW):
        return [g711(x, tag == ALAW) / 32767.0 for x in raw]
    if tag == FLOAT:
        return list(struct.unpack("<%d%s" % (len(raw) // size, "f" if bits == 32 else "d"), raw))
    if bits == 8:
        return [(x - 128.0) / 127.0 for x in raw]
    if bits == 24:
        values = [int.from_bytes(raw[i:i + 3], "little", signed=True) for i in range(0, len(raw), 3)]
        return [x / 8388607.0 for x in values]
    values = struct.unpack("<%d%s" % (len(raw) // size, "h" if bits == 16 else "i"), raw)
    return [x / (32767.0 if bits == 16 else 2147483647.0) for x in values]


def info(path, f, video, audio):
    v = a = None
    if video:
        _, strh, strf = video
        scale, rate = struct.unpack("<II", strh[20:28])
        w, h = struct.unpack("<ii", strf[4:12])
        d = (10000000 * scale + rate // 2) // rate
        count = sum(1 for c in f.chunks if c[0] in (b"%02ddb" % video[0], b"%02ddc" % video[0]))
        v = {"avgFrameDuration": d, "width": w, "height": h, "frames": count}
    if audio:
        strf = audio[2]
        ch, rate = struct.unpack("<HI", strf[2:8])
        a = {"sampleRate": rate, "channels": ch}
    return {"file": path, "video": v, "audio": a}


def mutate(kind, what, value):
    """One deliberate fault (--mutate KIND) so the suite can prove its checks fail.
    The 24-bit faults (rows in the wrong order, rows read without their padding,
    alpha 0) are made by bgra_from_bgr24, the converted layouts' (the other
    matrix, pictures turned over) by converted_frames."""
    if kind == "frame" and what == "frames" and len(value) > 1:
        value[1] = value[0]
    elif kind == "count" and what == "frames":
        value.pop()
    elif kind == "duration" and what == "info" and value["video"]:
        value["video"]["avgFrameDuration"] += 1
    elif kind == "sample" and what == "samples" and len(value) > 100:
        value[100] = -value[100] if value[100] else 0.5
    elif kind == "serve-refused" and what == "pick":
        value[:] = [value[0] or ("fake", b"", b""), value[1]]
    return value


def main(argv):
    kind = ""
    if argv[:1] == ["--mutate"]:
        kind, argv = argv[1], argv[2:]
    if argv[:1] == ["--plugin"]:
        argv = argv[2:]
    cmd, path = argv[0], argv[1]
    f = File(path)
    video, audio = mutate(kind, "pick", list(f.pick()))
    if cmd == "info":
        if not video and not audio:
            sys.stderr.write("qxhost: the plug-in refused the video and the audio stream of %s\n" % path)
            return 1
        if video and video[0] == "fake":
            print(json.dumps({"file": path, "video": {"avgFrameDuration": 1, "width": 1,
                                                      "height": 1, "frames": 1}, "audio": None}))
            return 0
        print(json.dumps(mutate(kind, "info", info(path, f, video, audio))))
        return 0
    if cmd == "framemd5":
        if not video:
            return 1
        if video[0] == "fake":
            print("0, 0, 0, 1, 4, %s" % hashlib.md5(b"\0" * 4).hexdigest())
            return 0
        print("#tb 0: model")
        for k, (size, md5) in enumerate(mutate(kind, "frames", frames(f, video, kind))):
            print("%d, %d, %d, 1, %d, %s" % (video[0], k, k, size, md5))
        return 0
    if cmd == "frames":
        # Converted layouts only: each frame upright as frame_NNNNNN.bgra.
        if not video or video[0] == "fake" or not converted_layout(video[2]):
            return 1
        folder = argv[argv.index("--out") + 1]
        os.makedirs(folder, exist_ok=True)
        for k, picture in enumerate(converted_frames(f, video, kind)):
            with open(os.path.join(folder, "frame_%06d.bgra" % k), "wb") as out:
                out.write(picture)
        return 0
    if cmd == "audio":
        if not audio:
            return 1
        ch, rate = struct.unpack("<HI", audio[2][2:8])
        s = mutate(kind, "samples", samples(f, audio))
        body = struct.pack("<%df" % len(s), *s)
        fmt = struct.pack("<HHIIHH", 3, ch, rate, rate * ch * 4, ch * 4, 32)
        wav = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(body)) + body
        with open(argv[argv.index("--out") + 1], "wb") as out:
            out.write(b"RIFF" + struct.pack("<I", len(wav)) + wav)
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
