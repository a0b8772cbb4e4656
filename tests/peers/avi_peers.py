#!/usr/bin/env python3
"""Checks one AVI file written by another program against what a host gets
from the plug-in, with ffmpeg as the reference.

  avi_peers.py props FILE
      the file's properties as the RIFF walk sees them (one JSON object)
  avi_peers.py check FILE --name N --leg L --video E --audio E [--has P,P...]
                 --qxhost CMD... [--work DIR]
      E is serve, refuse or none (the file has no such stream); for video also
      pixels (a layout converted into BGRA, compared with a tolerance). Prints one line:
      "PASS L N ..." or "FAIL L N: what differed; ...", exit status 0 or 1.

The rules checked, stream by stream:
  video served   frame k equals the last non-empty packet at or before time k of
                 `ffmpeg -c copy -f framemd5` (a 0-byte packet, a drop frame,
                 repeats the previous picture); a 24-bit frame equals instead
                 ffmpeg's decoded picture at that time converted to bgra, in
                 the stored row order (ffmpeg's pictures are top-down: flipped
                 when the stored height is positive, i.e. bottom-up); the frame
                 count is the stream's length in time (its packets, 0-byte ones
                 included); the frame duration is 10,000,000 / r_frame_rate of
                 ffprobe, rounded to nearest, in 100 ns units
  video pixels   a layout converted into BGRA (YUV, grey, 16-bit and palette RGB, RGB
                 under a code): every frame of `qxhost frames --raw` (upright) is
                 within the layout's tolerance of ffmpeg's decode converted by
                 scale=in_color_matrix=M:in_range=tv:flags=accurate_rnd+full_chroma_int
                 to bgra, M bt709 from 720 lines and bt601 below: exactly equal for
                 RGB, palette and grey, +-1 for YUV, +-2 for 4:1:1 and 4:1:0 (Y41B,
                 YUV9, YVU9), whose chroma ffmpeg's scaler widens fourfold with its bicubic
                 filter where the plug-in interpolates linearly; the frame count
                 is ffmpeg's count of decoded pictures; with --reference, the
                 pictures of that file (the one a writer whose layout ffmpeg
                 cannot decode was given); with --reference-unpadded, ffmpeg's
                 reading (-f rawvideo -pix_fmt yuv420p) of the file's I420
                 chunks with GStreamer's padding taken out (rows of each plane
                 to 4 bytes, the luma plane to even rows), which ffmpeg itself
                 reads wrong (an odd height converted at the next even one,
                 see unpad_gst_i420)
  audio served   the float WAV of `qxhost audio` holds ffmpeg's decoded samples
                 x as (float)(x / 32767) (16-bit, and G.711 expanded by ffmpeg),
                 (float)((x - 128) / 127) (8-bit), x / 8388607 (24-bit), x / 2147483647
                 (32-bit), floats as they are and doubles rounded once
                 (8-bit), sample for sample, with ffprobe's rate and channels
  refused        the open is refused and nothing is served
"""
import argparse
import array
import json
import operator
import os
import struct
import subprocess
import sys
from fractions import Fraction

# ---------------------------------------------------------------- RIFF walk


def fourcc(b):
    return b.decode("latin-1")


class RiffWalk:
    """Walks the chunk headers by seeking, so a file of several GiB costs only
    its header count. Follows RIFF padding (odd chunks are followed by one pad
    byte) and records where a writer did or did not pad."""

    def __init__(self, path):
        self.f = open(path, "rb")
        self.f.seek(0, 2)
        self.size = self.f.tell()
        self.p = {
            "riff_forms": [], "idx1": False, "idx1_entries": 0, "indx": 0, "ix_chunks": 0,
            "ix_bit31": 0, "streams": [], "video_chunk_ids": {}, "zero_video_chunks": 0,
            "odd_chunks": 0, "padded_odd_chunks": 0, "unpadded_odd_chunks": 0,
            "junk_before_avix_movi": False,
        }
        self.walk(0, self.size, None)
        self.f.close()

    def read(self, off, n):
        self.f.seek(off)
        return self.f.read(n)

    def step(self, off, size):
        """Offset of the next chunk after one of `size` bytes at `off`."""
        nxt = off + 8 + size
        if size & 1:
            self.p["odd_chunks"] += 1
            # Padded when the byte after the chunk is not the start of a chunk id.
            probe = self.read(nxt, 8)
            probe1 = self.read(nxt + 1, 8)
            if len(probe1) == 8 and self.plausible(probe1) and not self.plausible(probe):
                self.p["padded_odd_chunks"] += 1
                return nxt + 1
            if len(probe) < 8 and nxt + 1 <= self.size:
                self.p["padded_odd_chunks"] += 1
                return nxt + 1
            self.p["unpadded_odd_chunks"] += 1
        return nxt

    @staticmethod
    def plausible(h):
        return all(32 <= c < 127 for c in h[:4])

    def walk(self, off, end, parent):
        first_in_avix = parent == "AVIX"
        while off + 8 <= end:
            h = self.read(off, 12)
            cid, size = h[:4], struct.unpack("<I", h[4:8])[0]
            if cid in (b"RIFF", b"LIST"):
                form = fourcc(h[8:12])
                if cid == b"RIFF":
                    self.p["riff_forms"].append(form)
                if form == "movi":
                    if parent == "AVIX" and not first_in_avix:
                        self.p["junk_before_avix_movi"] = True
                    self.movi(off + 12, min(off + 8 + size, end))
                elif form in ("AVI ", "AVIX", "hdrl", "strl", "odml"):
                    if form == "strl":
                        self.p["streams"].append({})
                    self.walk(off + 12, min(off + 8 + size, end), form)
            else:
                self.chunk(cid, off, size, parent)
            first_in_avix = False
            off = self.step(off, size)

    def chunk(self, cid, off, size, parent):
        body = self.read(off + 8, min(size, 64))
        s = self.p["streams"][-1] if self.p["streams"] else None
        if cid == b"avih" and len(body) >= 40:
            self.p["avih_flags"] = struct.unpack("<I", body[12:16])[0]
        elif cid == b"strh" and s is not None and len(body) >= 48:
            s["type"] = fourcc(body[0:4])
            s["handler"] = struct.unpack("<I", body[4:8])[0]
            s["scale"], s["rate"] = struct.unpack("<II", body[20:28])
            s["length"] = struct.unpack("<I", body[32:36])[0]
        elif cid == b"strf" and s is not None:
            s["strf_size"] = size
            if s.get("type") == "vids" and len(body) >= 40:
                w, hgt, _, bits, comp, image = struct.unpack("<iiHHII", body[4:24])
                s.update(width=w, height=hgt, bits=bits, compression=comp, size_image=image)
            elif s.get("type") == "auds" and len(body) >= 16:
                tag, ch, rate, _, align, bits = struct.unpack("<HHIIHH", body[:16])
                s.update(format_tag=tag, channels=ch, sample_rate=rate, bits=bits)
        elif cid == b"indx" and s is not None:
            self.p["indx"] += 1
        elif cid == b"idx1":
            self.p["idx1"] = True
            self.p["idx1_entries"] = size // 16
        elif cid[:2] == b"ix":
            self.index(off, size)

    def index(self, off, size):
        """A standard index (ix##) anywhere: counts entries whose size has bit 31."""
        self.p["ix_chunks"] += 1
        h = self.read(off + 8, 24)
        if len(h) < 24:
            return
        per_entry, sub, kind, count = struct.unpack("<HBBI", h[:8])
        if kind != 1 or per_entry != 2:
            return
        data = self.read(off + 8 + 24, min(count * 8, max(size - 24, 0)))
        for i in range(0, len(data) - 7, 8):
            if struct.unpack("<I", data[i + 4:i + 8])[0] & 0x80000000:
                self.p["ix_bit31"] += 1
                key = "ix_bit31_" + fourcc(h[8:12])
                self.p[key] = self.p.get(key, 0) + 1

    def movi(self, off, end):
        while off + 8 <= end:
            h = self.read(off, 12)
            cid, size = h[:4], struct.unpack("<I", h[4:8])[0]
            if cid == b"LIST":  # 'rec ' lists
                self.movi(off + 12, min(off + 8 + size, end))
            elif cid[:2] == b"ix":
                self.index(off, size)
            elif cid[2:] in (b"db", b"dc"):
                key = fourcc(cid)
                if size and "first_video_chunk" not in self.p:
                    self.p["first_video_chunk"] = size
                self.p["video_chunk_ids"][key] = self.p["video_chunk_ids"].get(key, 0) + 1
                if size == 0:
                    self.p["zero_video_chunks"] += 1
            off = self.step(off, size)


def properties(path):
    """Short names of the properties the suite's table asks for."""
    p = RiffWalk(path).p
    names = set()
    vids = [s for s in p["streams"] if s.get("type") == "vids"]
    auds = [s for s in p["streams"] if s.get("type") == "auds"]
    if p["idx1"] and not p["indx"] and not p["ix_chunks"]:
        names.add("idx1-only")
    if not p["idx1"] and not p["indx"] and not p["ix_chunks"]:
        names.add("no-index")
    if not p.get("avih_flags", 0) & 0x10:
        names.add("no-index-flag")
    if p["indx"]:
        names.add("odml")
    if os.path.getsize(path) > 1 << 30:
        names.add("over-1gib")
    if p["riff_forms"].count("AVIX") >= 1:
        names.add("avix")
    if any(k.endswith("dc") for k in p["video_chunk_ids"]):
        names.add("dc")
    if any(k.endswith("db") for k in p["video_chunk_ids"]):
        names.add("db")
    if p["zero_video_chunks"]:
        names.add("drop")
    if p["padded_odd_chunks"]:
        names.add("pad")
    if p["ix_bit31"]:
        names.add("bit31")
    if p["junk_before_avix_movi"]:
        names.add("junk-avix")
    if len(vids) > 1 or len(auds) > 1:
        names.add("multi")
    if vids and (vids[0].get("compression") not in (0, 3) or vids[0].get("bits") != 32):
        names.add("first-vids-not-rgb32")
    for s in auds[:1]:
        names.add("strf%d" % s.get("strf_size", 0))
        if s.get("handler"):
            names.add("ahandler")
        if p["streams"].index(s) == 0:
            names.add("audio0")
    for s in vids[:1]:
        if s.get("handler"):
            names.add("vhandler")
        w, h, b = s.get("width", 0), abs(s.get("height", 0)), s.get("bits", 0)
        if s.get("height", 0) < 0:
            names.add("top-down")
        comp = s.get("compression", 0)
        if comp in (0, 3):
            names.add("vids-%s%d" % ("rgb" if comp == 0 else "bitfields", b))
        else:
            code = comp.to_bytes(4, "little").decode("latin-1").rstrip(" ")
            names.add("vids-" + "".join(c if 33 <= ord(c) < 127 else str(ord(c)) for c in code))
        if b == 24 and w * 3 % 4:
            names.add("rowpad")
        # Grey rows padded to 4 bytes (GStreamer): the chunks hold the padding.
        if comp == 0x30303859 and w % 4 and p.get("first_video_chunk") == (w + 3) // 4 * 4 * h:
            names.add("rowpad")
        # I420 planes padded as GStreamer pads them: the chunks hold the padding.
        if comp == 0x30323449 and p.get("first_video_chunk") == gst_i420_frame(w, h) \
                != w * h + 2 * ((w + 1) // 2) * ((h + 1) // 2):
            names.add("planepad")
        image = s.get("size_image")
        if image == 0:
            names.add("sizeimage0")
        elif image == w * h:
            names.add("sizeimage-wh")
        if s.get("scale") != 1 and s.get("rate") != 10000000:
            names.add("scale-rate")
        elif s.get("scale") == 1:
            names.add("scale1")
    p["properties"] = sorted(names)
    return p


def round4(n):
    return (n + 3) // 4 * 4


def gst_i420_frame(w, h):
    """Bytes of an I420 frame as GStreamer stores it: the rows of each plane
    padded to 4 bytes, the luma plane to an even number of rows."""
    ch = (h + 1) // 2
    return round4(w) * 2 * ch + 2 * round4((w + 1) // 2) * ch


def unpad_gst_i420(data, w, h):
    """GStreamer's padded I420 frames (concatenated) as plain yuv420p frames,
    an odd height made even by repeating the last luma row: ffmpeg's scaler
    sites the chroma of an odd height off the 4:2:0 positions (it stretches
    (h + 1) / 2 chroma rows over h rows, up to 4 levels off at the bottom on
    smooth colour); at the even height the chroma rows are where 4:2:0 puts
    them, and the extra row, dropped after the conversion, changes no other."""
    size, cw, ch = gst_i420_frame(w, h), (w + 1) // 2, (h + 1) // 2
    ys, cs = round4(w), round4(cw)
    out = bytearray()
    for f in range(0, len(data) - size + 1, size):
        frame = data[f:f + size]
        for r in range(h + (h & 1)):
            r = min(r, h - 1)
            out += frame[r * ys:r * ys + w]
        for plane in range(2):
            base = ys * 2 * ch + plane * cs * ch
            for r in range(ch):
                out += frame[base + r * cs:base + r * cs + cw]
    return bytes(out)


# ---------------------------------------------------------------- reference


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def ffprobe_streams(path):
    r = run(["ffprobe", "-v", "error", "-of", "json", "-show_entries",
             "stream=index,codec_type,codec_name,pix_fmt,width,height,r_frame_rate,time_base,"
             "sample_rate,channels,sample_fmt", path])
    return json.loads(r.stdout or b"{}").get("streams", [])


def served_video(streams):
    """The stream a host is served: the first uncompressed 24- or 32-bit RGB video stream."""
    for s in streams:
        if s.get("codec_type") == "video" and s.get("codec_name") == "rawvideo" \
                and s.get("pix_fmt") in ("bgra", "bgr0", "bgr24"):
            return s
    return None


def first_video(streams):
    """The first video stream: the one a host is served when its layout is converted."""
    return next((s for s in streams if s.get("codec_type") == "video"), None)


# Largest difference of one channel of a served pixel from ffmpeg's accurate
# conversion: RGB, palette and grey are exact; YUV is +-1 (the fixed-point
# formula against ffmpeg's); 4:1:1 and 4:1:0 are +-2, as ffmpeg's scaler
# widens their chroma fourfold with its bicubic filter where the plug-in
# interpolates linearly between the samples (both centred): measured 2 at
# most on smooth colour (ffmpeg's bilinear filter is no closer).
EXACT_PIX_FMTS = ("gray", "pal8", "monob", "monow", "rgb555le", "rgb565le", "rgba", "argb",
                  "bgra", "bgr0", "rgb0", "rgb24", "bgr24", "0rgb")


def pixel_tolerance(pix_fmt):
    if pix_fmt in EXACT_PIX_FMTS:
        return 0
    if pix_fmt in ("yuv411p", "yuv410p"):
        return 2
    return 1


def ffmpeg_bgra_pictures(path, index, rows, fault="", raw=None):
    """ffmpeg's decoded pictures of one video stream converted to bgra by its
    accurate scaler, the matrix chosen by the height (BT.709 from 720 lines),
    rows top-down. `fault` (the suite's self-test): "matrix" takes the other
    matrix, "vflip" turns the pictures over. `raw`: (bytes, pix_fmt, width, height)
    read as raw frames instead of the file, each cut to `rows` rows after the
    conversion."""
    bt709 = rows >= 720
    if fault == "matrix":
        bt709 = not bt709
    chain = "scale=in_color_matrix=%s:in_range=tv:flags=accurate_rnd+full_chroma_int,format=bgra" \
        % ("bt709" if bt709 else "bt601")
    if fault == "vflip":
        chain += ",vflip"
    source, data = ["-i", path, "-map", "0:%d" % index], None
    if raw is not None:
        data, pix_fmt, width, height = raw
        source = ["-f", "rawvideo", "-pix_fmt", pix_fmt, "-s", "%dx%d" % (width, height), "-i", "-"]
    r = run(["ffmpeg", "-nostdin", "-v", "error"] + source +
            ["-fps_mode", "passthrough", "-vf", chain, "-f", "rawvideo", "-"], input=data)
    if raw is None or height == rows:
        return r.stdout
    taken, made = width * 4 * rows, width * 4 * height
    return b"".join(r.stdout[f:f + taken] for f in range(0, len(r.stdout), made))


def ffmpeg_packets(path, index):
    """The stream's packets as stored, one after another."""
    return run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:%d" % index,
                "-c", "copy", "-f", "rawvideo", "-"]).stdout


def max_difference(a, b):
    if a == b:
        return 0
    return max(map(abs, map(operator.sub, a, b)))


def served_audio(streams):
    """The first audio stream: a host is served that one or none."""
    return next((s for s in streams if s.get("codec_type") == "audio"), None)


def ffmpeg_video(path, index, decode=None):
    """(time base, [(pts, duration, size, md5)]) of one video stream's packets, or
    with `decode` (output options) of its decoded pictures, each at its own time."""
    how = ["-fps_mode", "passthrough"] + decode if decode else ["-c", "copy"]
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:%d" % index] + how
            + ["-f", "framemd5", "-"])
    tb, rows = None, []
    for line in r.stdout.decode().splitlines():
        if line.startswith("#tb 0:"):
            tb = Fraction(line.split(":")[1].strip())
        elif line and not line.startswith("#"):
            c = [x.strip() for x in line.split(",")]
            rows.append((int(c[2]), int(c[3]), int(c[4]), c[5]))
    return tb, rows


def expected_frames(tb, rate, packets, decoded=None):
    """The picture of every frame of the stream's length in time (its packets,
    0-byte ones included): packet k at time k, or the picture decoded at time k
    when `decoded` (time base, pictures) is given, and a drop frame (0 bytes, or
    a time nothing holds) repeats the last picture before it."""
    per_frame = tb * rate  # frames per time-base tick
    last_end = 0
    for pts, dur, _, _ in packets:
        last_end = max(last_end, (pts + dur) * per_frame)
    if last_end.denominator != 1:
        raise ValueError("packet times are not whole frames: %s" % last_end)
    pictures = [None] * int(last_end)
    if decoded:
        per_frame, packets = decoded[0] * rate, decoded[1]
    for pts, _, size, md5 in packets:
        k = pts * per_frame
        if k.denominator != 1:
            raise ValueError("packet time %d is not a whole frame" % pts)
        if not 0 <= k < len(pictures):
            raise ValueError("a picture at time %d, outside the stream" % pts)
        if size:
            pictures[int(k)] = md5
    last = None
    for k, md5 in enumerate(pictures):
        if md5 is None:
            pictures[k] = last
        last = pictures[k]
    return pictures


# ffmpeg's codec of each sound served, and how its decode is taken and
# converted: (raw format, output codec, array type, rule).
SOUNDS = {
    "pcm_s16le": ("s16le", "pcm_s16le", "h", "s16"),
    "pcm_u8": ("u8", "pcm_u8", "B", "u8"),
    "pcm_s24le": ("s32le", "pcm_s32le", "i", "s24"),
    "pcm_s32le": ("s32le", "pcm_s32le", "i", "s32"),
    "pcm_f32le": ("f32le", "pcm_f32le", "f", "f32"),
    "pcm_f64le": ("f64le", "pcm_f64le", "d", "f64"),
    "pcm_alaw": ("s16le", "pcm_s16le", "h", "s16"),
    "pcm_mulaw": ("s16le", "pcm_s16le", "h", "s16"),
}


def ffmpeg_samples(path, index, fmt):
    """ffmpeg's decoded samples of one audio stream, interleaved."""
    codec = SOUNDS[fmt]
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:%d" % index, "-c:a", codec[1],
             "-f", codec[0], "-"])
    a = array.array(codec[2])
    a.frombytes(r.stdout[:len(r.stdout) // a.itemsize * a.itemsize])
    if sys.byteorder != "little":
        a.byteswap()
    return a


def converted(samples, fmt):
    """The exact conversion: the quotient in double, rounded once to float
    (24-bit samples come from ffmpeg in the top of 32 bits); floats as they are,
    doubles rounded once; G.711 codes as ffmpeg's 16-bit expansion."""
    rule = SOUNDS[fmt][3]
    if rule == "s16":
        table = {x: x / 32767.0 for x in range(-32768, 32768)}
        return array.array("f", (table[x] for x in samples))
    if rule == "u8":
        table = {x: (x - 128.0) / 127.0 for x in range(256)}
        return array.array("f", (table[x] for x in samples))
    if rule == "s24":
        return array.array("f", ((x >> 8) / 8388607.0 for x in samples))
    if rule == "s32":
        return array.array("f", (x / 2147483647.0 for x in samples))
    return array.array("f", samples)


def read_float_wav(path):
    """(channels, rate, interleaved float samples) of a float WAV."""
    with open(path, "rb") as f:
        d = f.read()
    if d[:4] != b"RIFF" or d[8:12] != b"WAVE":
        raise ValueError("not a WAV file")
    off, ch, rate, tag, data = 12, 0, 0, 0, None
    while off + 8 <= len(d):
        cid, size = d[off:off + 4], struct.unpack("<I", d[off + 4:off + 8])[0]
        if cid == b"fmt ":
            tag, ch, rate = struct.unpack("<HHI", d[off + 8:off + 16])
        elif cid == b"data":
            data = d[off + 8:off + 8 + size]
        off += 8 + size + (size & 1)
    if tag != 3 or data is None:
        raise ValueError("not a float WAV (format %d)" % tag)
    a = array.array("f")
    a.frombytes(data[:len(data) // 4 * 4])
    if sys.byteorder != "little":
        a.byteswap()
    return ch, rate, a


# ---------------------------------------------------------------- the check


class Check:
    def __init__(self, args):
        self.a = args
        self.problems = []
        self.notes = []
        self.qx = args.qxhost

    def problem(self, text):
        self.problems.append(text)

    def qxhost(self, *argv):
        r = run(self.qx + list(argv), timeout=600)
        out = r.stdout.decode("utf-8", "replace").replace("\r", "")
        err = r.stderr.decode("utf-8", "replace").replace("\r", "")
        return r.returncode, out, err

    def info(self):
        rc, out, err = self.qxhost("info", self.a.file, "--json", "--timeout", "20")
        lines = [l for l in out.splitlines() if l.startswith("{")]
        if rc == 0 and len(lines) == 1 and len(out.splitlines()) == 1:
            return json.loads(lines[0])
        if rc == 1 and "refused the video and the audio stream" in err:
            return {"video": None, "audio": None}
        self.problem("qxhost info: status %d, output %r %r" % (rc, out[:200], err[:200]))
        return None

    def video(self, info, streams):
        want = self.a.video
        if want == "pixels":
            self.pixels(info, streams)
            return
        got = info.get("video") if info else None
        if want in ("refuse", "none"):
            if got is not None:
                self.problem("video: served (%dx%d, %s frames), expected %s"
                             % (got["width"], got["height"], got.get("frames"),
                                "a refusal" if want == "refuse" else "no video stream"))
            rc, out, _ = self.qxhost("framemd5", self.a.file, "--timeout", "20", "--stored")
            lines = out.splitlines()
            typed = [l for l in lines if l.startswith("#media_type")]
            if any(l.endswith(": video") for l in typed) or (
                    not typed and any(l and not l.startswith("#") for l in lines)):
                self.problem("video: frames served where %s expected" % want)
            return
        if got is None:
            self.problem("video: refused")
            return
        vs = served_video(streams)
        if vs is None:
            self.problem("reference: ffprobe sees no 24- or 32-bit uncompressed video stream")
            return
        if got.get("width") != vs.get("width") or abs(got.get("height", 0)) != vs.get("height"):
            self.problem("video: %sx%s, ffprobe says %sx%s"
                         % (got.get("width"), got.get("height"), vs.get("width"), vs.get("height")))
        rate = Fraction(vs["r_frame_rate"])
        duration = round(Fraction(10000000) / rate)
        if got.get("avgFrameDuration") != duration:
            self.problem("video: frame duration %s, ffprobe's rate %s gives %d"
                         % (got.get("avgFrameDuration"), rate, duration))
        tb, packets = ffmpeg_video(self.a.file, int(vs["index"]))
        if tb is None or not packets:
            self.problem("reference: ffmpeg gives no video packets")
            return
        decoded = None
        if vs["pix_fmt"] == "bgr24":
            # Served as bgra in the stored row order; ffmpeg's pictures are top-down.
            stored = RiffWalk(self.a.file).p["streams"][int(vs["index"])]
            flip = ["-vf", "vflip"] if stored.get("height", 0) > 0 else []
            decoded = ffmpeg_video(self.a.file, int(vs["index"]), flip + ["-pix_fmt", "bgra"])
            if decoded[0] is None or not decoded[1]:
                self.problem("reference: ffmpeg decodes no video pictures")
                return
        want_pictures = expected_frames(tb, rate, packets, decoded)
        # The stored frames, as served, on the lines of the video's stream number.
        rc, out, err = self.qxhost("framemd5", self.a.file, "--timeout", "20", "--stored")
        if rc != 0:
            self.problem("video: qxhost framemd5 status %d: %s" % (rc, err.strip()[:200]))
        ours = [[x.strip() for x in l.split(",")] for l in out.splitlines()
                if l and not l.startswith("#")]
        ours = [l for l in ours if l[0] == str(vs["index"])]
        frame_size = got["width"] * abs(got["height"]) * 4
        if len(ours) != len(want_pictures) or got.get("frames") != len(want_pictures):
            self.problem("video: %d frames served (info says %s), ffmpeg's stream is %d frames long"
                         % (len(ours), got.get("frames"), len(want_pictures)))
        bad = [k for k in range(min(len(ours), len(want_pictures)))
               if len(ours[k]) < 6 or ours[k][5] != want_pictures[k]
               or int(ours[k][4]) != frame_size]
        if bad:
            self.problem("video: %d frames differ from ffmpeg's, first at frame %d"
                         % (len(bad), bad[0]))
        drops = sum(1 for p in packets if p[2] == 0) + len(want_pictures) - len(packets)
        self.notes.append("%d frames%s" % (len(want_pictures),
                                           " (%d dropped)" % drops if drops else ""))

    def checked(self):
        """`qxhost check` on the file (the core linked into qxhost: no --plugin)."""
        qx, i = list(self.qx), 0
        while i < len(qx):
            if qx[i] == "--plugin":
                del qx[i:i + 2]
            else:
                i += 1
        r = run(qx + ["check", self.a.file, "--json"], timeout=600)
        out = r.stdout.decode("utf-8", "replace")
        try:
            verdict = json.loads(out)[0]
        except (ValueError, IndexError):
            return "status %d, output %r" % (r.returncode, out[:200])
        if r.returncode != 0 or verdict["video"]["status"] != "ok":
            return "status %d, video %s" % (r.returncode, verdict["video"])
        return None

    def pixels(self, info, streams):
        """A converted layout: each served frame against ffmpeg's accurate conversion."""
        got = info.get("video") if info else None
        if got is None:
            self.problem("video: refused")
            return
        vs = first_video(streams)
        if vs is None or "width" not in vs:
            self.problem("reference: ffprobe sees no video stream")
            return
        width, rows = int(vs["width"]), int(vs["height"])
        if got.get("width") != width or abs(got.get("height", 0)) != rows:
            self.problem("video: %sx%s, ffprobe says %sx%s"
                         % (got.get("width"), got.get("height"), width, rows))
            return
        duration = round(Fraction(10000000) / Fraction(vs["r_frame_rate"]))
        if got.get("avgFrameDuration") != duration:
            self.problem("video: frame duration %s, ffprobe's rate gives %d"
                         % (got.get("avgFrameDuration"), duration))
        bad_check = self.checked()
        if bad_check:
            self.problem("qxhost check: %s" % bad_check)
        frame_size = width * rows * 4
        # A layout ffmpeg cannot decode (MEncoder's own RGB codes) is compared
        # with ffmpeg's decode of the file it was written from.
        rs = first_video(ffprobe_streams(self.a.reference)) if self.a.reference else vs
        raw = None
        if self.a.reference_unpadded:
            packets = ffmpeg_packets(self.a.file, int(vs["index"]))
            if not packets or len(packets) % gst_i420_frame(width, rows):
                self.problem("reference: %d bytes of packets are not whole padded I420 frames"
                             % len(packets))
                return
            raw = (unpad_gst_i420(packets, width, rows), "yuv420p", width, rows + (rows & 1))
        theirs = ffmpeg_bgra_pictures(self.a.reference or self.a.file, int(rs["index"]), rows,
                                      self.a.reference_fault, raw)
        if not theirs or len(theirs) % frame_size:
            self.problem("reference: ffmpeg gives %d bytes of pictures" % len(theirs))
            return
        count = len(theirs) // frame_size
        folder = os.path.join(self.a.work, "%s-%s-frames" % (self.a.name, self.a.leg))
        rc, _, err = self.qxhost("frames", self.a.file, "--out", folder, "--raw", "--timeout", "20")
        if rc != 0:
            self.problem("video: qxhost frames status %d: %s" % (rc, err.strip()[:200]))
            return
        names = sorted(n for n in os.listdir(folder) if n.endswith(".bgra"))
        if len(names) != count or got.get("frames") != count:
            self.problem("video: %d frames served (info says %s), ffmpeg decodes %d"
                         % (len(names), got.get("frames"), count))
        tolerance = pixel_tolerance(rs.get("pix_fmt"))
        worst, over = 0, []
        for k, name in enumerate(names[:count]):
            with open(os.path.join(folder, name), "rb") as f:
                ours = f.read()
            os.remove(os.path.join(folder, name))
            if len(ours) != frame_size:
                self.problem("video: frame %d is %d bytes, not %d" % (k, len(ours), frame_size))
                continue
            d = max_difference(ours, theirs[k * frame_size:(k + 1) * frame_size])
            worst = max(worst, d)
            if d > tolerance:
                over.append(k)
        os.rmdir(folder)
        if over:
            self.problem("video: %d frames differ from ffmpeg's %s conversion by more than %d "
                         "(up to %d), first at frame %d"
                         % (len(over), "BT.709" if rows >= 720 else "BT.601", tolerance, worst,
                            over[0]))
        self.notes.append("%d frames %dx%d %s, max difference %d"
                          % (count, width, rows, rs.get("pix_fmt"), worst))

    def audio(self, info, streams):
        want = self.a.audio
        got = info.get("audio") if info else None
        wav = os.path.join(self.a.work, "%s-%s.wav" % (self.a.name, self.a.leg))
        if os.path.exists(wav):
            os.remove(wav)
        if want in ("refuse", "none"):
            if got is not None:
                self.problem("audio: served (%s Hz, %s channels), expected %s"
                             % (got.get("sampleRate"), got.get("channels"),
                                "a refusal" if want == "refuse" else "no audio stream"))
            rc, _, _ = self.qxhost("audio", self.a.file, "--out", wav, "--timeout", "20")
            if rc == 0 or (os.path.exists(wav) and os.path.getsize(wav) > 64):
                self.problem("audio: samples served where %s expected" % want)
            return
        if got is None:
            self.problem("audio: refused")
            return
        au = served_audio(streams)
        if au is None or au.get("codec_name") not in SOUNDS:
            self.problem("reference: ffprobe's first audio stream is not a sound served")
            return
        fmt = au["codec_name"]
        rc, _, err = self.qxhost("audio", self.a.file, "--out", wav, "--timeout", "20")
        if rc != 0:
            self.problem("audio: qxhost audio status %d: %s" % (rc, err.strip()[:200]))
            return
        ch, rate, ours = read_float_wav(wav)
        if ch != int(au["channels"]) or rate != int(au["sample_rate"]):
            self.problem("audio: %d channels at %d Hz, ffprobe says %s at %s"
                         % (ch, rate, au["channels"], au["sample_rate"]))
        theirs = converted(ffmpeg_samples(self.a.file, int(au["index"]), fmt), fmt)
        if len(ours) != len(theirs):
            self.problem("audio: %d samples served, ffmpeg decodes %d"
                         % (len(ours) // max(ch, 1), len(theirs) // max(ch, 1)))
        n = min(len(ours), len(theirs))
        if ours[:n] != theirs[:n]:
            first = next(i for i in range(n) if ours[i] != theirs[i])
            diff = sum(1 for i in range(n) if ours[i] != theirs[i])
            self.problem("audio: %d samples differ from ffmpeg's, first at sample %d (%r, not %r)"
                         % (diff, first // max(ch, 1), ours[first], theirs[first]))
        self.notes.append("%d %s samples x %d" % (len(theirs) // max(ch, 1), fmt, ch))
        os.remove(wav)

    def run(self):
        if self.a.has:
            props = set(properties(self.a.file)["properties"])
            missing = [p for p in self.a.has.split(",") if p and p not in props]
            if missing:
                self.problem("reference: the file lacks %s (has %s)"
                             % (" ".join(missing), " ".join(sorted(props))))
        streams = ffprobe_streams(self.a.file)
        info = self.info()
        self.video(info, streams)
        self.audio(info, streams)
        head = "%s %s %s" % (self.a.leg, self.a.name, os.path.basename(self.a.file))
        if self.problems:
            print("FAIL %s: %s" % (head, "; ".join(self.problems)))
            return 1
        print("PASS %s: video %s, audio %s%s" % (head, self.a.video, self.a.audio,
                                                 " (" + ", ".join(self.notes) + ")"
                                                 if self.notes else ""))
        return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    ins = sub.add_parser("props")
    ins.add_argument("file")
    chk = sub.add_parser("check")
    chk.add_argument("file")
    chk.add_argument("--name", required=True)
    chk.add_argument("--leg", required=True)
    chk.add_argument("--video", choices=["serve", "pixels", "refuse", "none"], required=True)
    chk.add_argument("--audio", choices=["serve", "refuse", "none"], required=True)
    chk.add_argument("--has", default="")
    chk.add_argument("--reference", default="",
                     help="pixels: the file ffmpeg decodes as the reference (default FILE)")
    chk.add_argument("--reference-unpadded", action="store_true",
                     help="pixels: the reference is the file's I420 chunks without "
                          "GStreamer's padding, read as raw yuv420p")
    chk.add_argument("--reference-fault", default="", choices=["", "matrix", "vflip"],
                     help="the suite's self-test: a wrong reference the pixel check must reject")
    chk.add_argument("--work", default=".")
    chk.add_argument("--qxhost", nargs=argparse.REMAINDER, required=True)
    a = ap.parse_args()
    if a.cmd == "props":
        print(json.dumps(properties(a.file), indent=1, sort_keys=True))
        return 0
    try:
        return Check(a).run()
    except Exception as e:  # one line per file, whatever went wrong
        print("FAIL %s %s: the check itself failed: %s: %s" % (a.leg, a.name, type(e).__name__, e))
        return 1


if __name__ == "__main__":
    sys.exit(main())
