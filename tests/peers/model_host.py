#!/usr/bin/env python3
"""A model of what a host gets from the plug-in, written from the file rules
alone and sharing nothing with the plug-in: qxhost's `info --json`,
`framemd5` and `audio --out` for one AVI file, read by walking its movie data
chunk by chunk (pad bytes after odd chunks, 0-byte video chunks as drop frames,
24-bit frames served as 32-bit BGRA with alpha 255 in the stored row order).

It stands in for qxhost to check the suite's reference side: where the model
and ffmpeg agree on a writer's file, what the suite expects of the plug-in is
what the file holds (`peer-writers.sh --model`).
"""
import hashlib
import json
import struct
import sys

BI_RGB, BI_BITFIELDS = 0, 3
PCM, EXTENSIBLE = 1, 0xFFFE
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
                self.streams[-1][cid.decode()] = self.read(off + 8, min(size, 256))
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
                if (bits == 32 and comp in (BI_RGB, BI_BITFIELDS)) or (bits == 24 and comp == BI_RGB):
                    video = (n, strh, strf)
            elif kind == b"auds" and audio is None and len(strf) >= 16:
                tag, _, _, _, _, bits = struct.unpack("<HHIIHH", strf[:16])
                if tag == EXTENSIBLE and len(strf) >= 40 and strf[26:40] == PCM_GUID_TAIL:
                    tag = struct.unpack("<H", strf[24:26])[0]
                audio = (n, strh, strf) if tag == PCM and bits in (8, 16) else False
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


def samples(f, audio):
    n, _, strf = audio
    bits = struct.unpack("<H", strf[14:16])[0]
    raw = b"".join(f.data(off, size) for cid, off, size in f.chunks if cid == b"%02dwb" % n)
    if bits == 16:
        raw = raw[:len(raw) // 2 * 2]
        values = struct.unpack("<%dh" % (len(raw) // 2), raw)
        return [x / 32767.0 for x in values]
    return [(x - 128.0) / 127.0 for x in raw]


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
        _, _, strf = audio
        ch, rate = struct.unpack("<HI", strf[2:8])
        a = {"sampleRate": rate, "channels": ch}
    return {"file": path, "video": v, "audio": a}


def mutate(kind, what, value):
    """One deliberate fault (--mutate KIND) so the suite can prove its checks fail.
    The 24-bit faults (rows in the wrong order, rows read without their padding,
    alpha 0) are made by bgra_from_bgr24."""
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
