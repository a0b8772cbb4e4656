#!/usr/bin/env bash
# Files written by other programs (ffmpeg's avi muxer, GStreamer's avimux,
# mencoder's own muxer, and avimake as the control), each served through the
# plug-in by qxhost and compared with ffmpeg's own reading of the same file:
# 32-bit frames equal ffmpeg's packets, 24-bit frames ffmpeg's decoded pictures
# as bgra in the file's row order (a drop frame repeats the previous picture),
# audio equals ffmpeg's decoded samples by the conversion rule, the frame
# duration equals ffprobe's rate, and what is out of scope is refused with
# nothing served. One line per file and leg; exits non-zero on any mismatch.
#
#   scripts/peer-writers.sh                      every group on every leg (model, native, wine)
#   scripts/peer-writers.sh --legs native        the native library only (also: wine;
#                                                model: tests/peers/model_host.py, a reader
#                                                written from the rules, checks the reference)
#   scripts/peer-writers.sh --group small        the small files only (also: large)
#   scripts/peer-writers.sh --only 'gst-*'       rows whose name matches the pattern
#   scripts/peer-writers.sh --keep DIR           write the files to DIR and keep them
#   scripts/peer-writers.sh --skip-missing       exit 77 (skipped) when a writer or ffmpeg is
#                                                not installed, instead of failing
#
# The large group (files over 1 GiB, several RIFF segments: ffmpeg's 32- and
# 24-bit, GStreamer's) runs natively only; its files are deleted as soon as
# they are checked.
set -euo pipefail
# The writers' functions below are called through eval.
# shellcheck disable=SC2317
cd "$(dirname "$0")/.."

# ---------------------------------------------------------------- the matrix
#
# name | group | video | audio | the file must have | how it is written
#
# video/audio: what the plug-in must do with that stream of the file: serve it
# (equal to ffmpeg), refuse it (nothing served), or none (no such stream);
# for video also pixels: serve a layout converted into BGRA, each frame within
# the layout's tolerance of ffmpeg's accurate conversion with the matrix the
# height chooses (native and Wine legs; the model host reads only the
# layouts served byte for byte).
# "the file must have": properties the walk of the written file must find, so
# each row keeps testing what it claims even when a writer changes (see
# tests/peers/avi_peers.py props): idx1-only, odml, avix, dc, db, drop (0-byte
# video chunks), pad (odd chunks followed by a pad byte), bit31 (standard index
# entries with the OpenDML non-key-frame bit), strf16/strf18 (audio format size),
# strf40 (WAVE_FORMAT_EXTENSIBLE), ahandler (a non-zero audio handler code),
# audio0 (audio is stream 0), multi (a second vids or auds stream),
# first-vids-not-rgb32 (the first video stream is not the one served),
# sizeimage-wh (biSizeImage = width x height), scale1 (dwScale 1), no-index
# (neither idx1 nor OpenDML indexes), no-index-flag (avih without AVIF_HASINDEX),
# over-1gib (the file is larger than 1 GiB), top-down (the first video stream's
# height is negative), rowpad (its 24-bit or grey rows end in padding to 4
# bytes), planepad (its I420 chunks hold planes padded as GStreamer pads
# them), vids-CODE (the first video stream's layout: its compression code, or
# rgbN / bitfieldsN and the bit count).
#
# $out is the file to write; $src a 2 s clip (bgra + s16 stereo) written by ffmpeg.
V25="testsrc=size=64x48:rate=25"
V30K="testsrc=size=64x48:rate=30000/1001"
S16="sine=frequency=440:sample_rate=48000"
U8="sine=frequency=440:sample_rate=22050:samples_per_frame=1001"
GV="videotestsrc num-buffers=50 pattern=smpte ! video/x-raw,width=64,height=48"
GA="audiotestsrc num-buffers=40 samplesperbuffer=1201 freq=440"
GA8="audiotestsrc num-buffers=50 samplesperbuffer=1001 freq=440"
SMOOTH="geq=r='128+90*sin(X/41+N/3)*cos(Y/37)':g='128+90*sin(X/53+Y/61+N/4)':b='128+90*cos(X/47-Y/43)'"
ROWS=(
  # avimake, the control: the first two are served today
  "avimake-va25-s16 |small|serve |serve |odml,db        |avimake --width 64 --height 48 --frames 50"
  "avimake-va25-u8  |small|serve |serve |odml,avix      |avimake --width 64 --height 48 --frames 50 --bits 8 --channels 1 --audio-rate 22050 --segment-limit 100000"
  # avimake pads odd chunks (735 or 736 bytes of 8-bit audio per frame): refused today
  "avimake-va30k-u8 |small|serve |serve |odml,avix,pad  |avimake --width 64 --height 48 --frames 60 --frame-duration 333667 --bits 8 --channels 1 --audio-rate 22050 --segment-limit 100000"
  # ffmpeg
  "ff-v25-bgra      |small|serve |none  |idx1-only,dc,scale1  |ff -f lavfi -i $V25 -t 2 -pix_fmt bgra -c:v rawvideo"
  "ff-v30k-bgra     |small|serve |none  |idx1-only,dc         |ff -f lavfi -i $V30K -t 2 -pix_fmt bgra -c:v rawvideo"
  "ff-a-s16         |small|none  |serve |idx1-only,strf16,ahandler,audio0 |ff -f lavfi -i $S16 -t 2 -ac 2 -c:a pcm_s16le"
  "ff-a-u8          |small|none  |serve |idx1-only,strf16,pad,audio0      |ff -f lavfi -i $U8 -t 2 -ac 1 -c:a pcm_u8"
  "ff-va25-s16      |small|serve |serve |idx1-only,dc,strf16,ahandler     |ff -f lavfi -i $V25 -f lavfi -i $S16 -t 2 -pix_fmt bgra -c:v rawvideo -ac 2 -c:a pcm_s16le"
  "ff-va30k-u8      |small|serve |serve |idx1-only,dc,strf16,pad          |ff -f lavfi -i $V30K -f lavfi -i $U8 -t 2 -pix_fmt bgra -c:v rawvideo -ac 1 -c:a pcm_u8"
  "ff-va25-drop     |small|serve |serve |idx1-only,dc,drop                |ff -f lavfi -i $V25 -f lavfi -i $S16 -t 2 -vf 'select=not(between(n\,10\,14)+eq(n\,30))' -fps_mode passthrough -pix_fmt bgra -c:v rawvideo -ac 2 -c:a pcm_s16le"
  "ff-va30k-drop-u8 |small|serve |serve |idx1-only,dc,drop,pad            |ff -f lavfi -i $V30K -f lavfi -i $U8 -t 2 -vf 'select=not(between(n\,3\,4))' -fps_mode passthrough -pix_fmt bgra -c:v rawvideo -ac 1 -c:a pcm_u8"
  # WAVE_FORMAT_EXTENSIBLE (40 bytes): ffmpeg writes it above 48 kHz
  "ff-a-s16-96k     |small|none  |serve |idx1-only,strf40,audio0          |ff -f lavfi -i $S16 -t 1 -ar 96000 -ac 2 -c:a pcm_s16le"
  # several streams: served are the first 32-bit uncompressed video and the first audio
  "ff-multi         |small|serve |serve |idx1-only,dc,multi               |ff -f lavfi -i $V25 -f lavfi -i testsrc=size=32x24:rate=25 -f lavfi -i $S16 -f lavfi -i $U8 -t 2 -map 0:v -map 1:v -map 2:a -map 3:a -pix_fmt bgra -c:v rawvideo -c:a:0 pcm_s16le -ac:a:0 2 -c:a:1 pcm_u8 -ac:a:1 1"
  "ff-multi-mjpeg1st|small|serve |serve |idx1-only,dc,multi,first-vids-not-rgb32 |ff -f lavfi -i testsrc=size=32x24:rate=25 -f lavfi -i $V25 -f lavfi -i $U8 -f lavfi -i $S16 -t 2 -map 0:v -map 1:v -map 2:a -map 3:a -c:v:0 mjpeg -c:v:1 rawvideo -pix_fmt:v:1 bgra -c:a:0 pcm_u8 -ac:a:0 1 -c:a:1 pcm_s16le -ac:a:1 2"
  # 24-bit video, served as bgra in the stored row order: ffmpeg stores it
  # top-down (negative height), GStreamer bottom-up, rows padded to 4 bytes
  "ff-v25-bgr24     |small|serve |none  |idx1-only,dc,top-down      |ff -f lavfi -i $V25 -t 2 -pix_fmt bgr24 -c:v rawvideo"
  "ff-v25-drop-bgr24|small|serve |none  |idx1-only,dc,top-down,drop |ff -f lavfi -i $V25 -t 2 -vf 'select=not(between(n\,10\,14)+eq(n\,30))' -fps_mode passthrough -pix_fmt bgr24 -c:v rawvideo"
  "gst-v25-bgr24    |small|serve |none  |idx1-only,db               |gst $GV,framerate=25/1 ! videoconvert ! video/x-raw,format=BGR ! avimux"
  "gst-v25-bgr24-w63|small|serve |none  |idx1-only,db,rowpad        |gst videotestsrc num-buffers=50 pattern=smpte ! video/x-raw,width=63,height=48,framerate=25/1 ! videoconvert ! video/x-raw,format=BGR ! avimux"
  # a palette that changes from frame to frame ('00pc' chunks, listed in idx1): refused
  "ff-v5-pal8-pc    |small|refuse|none  |idx1-only,dc,vids-rgb8 |ff -f lavfi -i testsrc=size=64x48:rate=5 -t 1 -vf 'split[a][b];[a]palettegen=stats_mode=single:max_colors=16[p];[b][p]paletteuse=new=1' -pix_fmt pal8 -c:v rawvideo"
  # compressed video, non-PCM audio: refused (the other stream is served)
  "ff-v25-mjpeg     |small|refuse|none  |idx1-only,dc         |ff -f lavfi -i $V25 -t 1 -c:v mjpeg"
  "ff-va25-ffv1-s16 |small|refuse|serve |idx1-only,dc         |ff -f lavfi -i $V25 -f lavfi -i $S16 -t 1 -c:v ffv1 -ac 2 -c:a pcm_s16le"
  # every PCM-family sound: served, each sample by its rule against ffmpeg's decode
  "ff-a-s24         |small|none  |serve |idx1-only            |ff -f lavfi -i $S16 -t 1 -ac 2 -c:a pcm_s24le"
  "ff-a-s24-6ch     |small|none  |serve |idx1-only,strf40     |ff -f lavfi -i $S16 -t 1 -ac 6 -c:a pcm_s24le"
  "ff-a-s24-8ch     |small|none  |serve |idx1-only,strf40     |ff -f lavfi -i $S16 -t 1 -ac 8 -c:a pcm_s24le"
  "ff-a-s24-96k     |small|none  |serve |idx1-only,strf40     |ff -f lavfi -i $S16 -t 1 -ar 96000 -ac 2 -c:a pcm_s24le"
  "ff-a-s32         |small|none  |serve |idx1-only            |ff -f lavfi -i $S16 -t 1 -ac 2 -c:a pcm_s32le"
  "ff-va25-f32      |small|serve |serve |idx1-only,dc         |ff -f lavfi -i $V25 -f lavfi -i $S16 -t 1 -pix_fmt bgra -c:v rawvideo -ac 2 -c:a pcm_f32le"
  "ff-a-f64         |small|none  |serve |idx1-only            |ff -f lavfi -i $S16 -t 1 -ac 2 -c:a pcm_f64le"
  "ff-a-alaw        |small|none  |serve |idx1-only            |ff -f lavfi -i $S16 -t 1 -ar 8000 -ac 1 -c:a pcm_alaw"
  "ff-a-mulaw       |small|none  |serve |idx1-only            |ff -f lavfi -i $S16 -t 1 -ar 8000 -ac 2 -c:a pcm_mulaw"
  "ff-a-adpcm       |small|none  |refuse|idx1-only            |ff -f lavfi -i $S16 -t 1 -ac 2 -c:a adpcm_ms"
  "ff-a-mp3         |small|none  |refuse|idx1-only            |ff -f lavfi -i $S16 -t 1 -ac 2 -c:a libmp3lame"
  # GStreamer
  "gst-v25-bgrx     |small|serve |none  |idx1-only,db,sizeimage-wh,scale1 |gst $GV,framerate=25/1 ! videoconvert ! video/x-raw,format=BGRx ! avimux"
  "gst-v30k-bgra    |small|serve |none  |idx1-only,db,sizeimage-wh        |gst $GV,framerate=30000/1001 ! videoconvert ! video/x-raw,format=BGRA ! avimux"
  "gst-a-s16        |small|none  |serve |no-index,no-index-flag,ahandler,audio0 |gst $GA ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! avimux"
  "gst-a-u8         |small|none  |serve |no-index,no-index-flag,pad,audio0 |gst $GA8 ! audio/x-raw,format=U8,rate=22050,channels=1 ! avimux"
  "gst-va25-s16     |small|serve |serve |idx1-only,db,ahandler            |gst $GV,framerate=25/1 ! videoconvert ! video/x-raw,format=BGRx ! queue ! mux. $GA ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! queue ! mux. avimux name=mux"
  "gst-va30k-u8     |small|serve |serve |idx1-only,db,pad                 |gst $GV,framerate=30000/1001 ! videoconvert ! video/x-raw,format=BGRA ! queue ! mux. $GA8 ! audio/x-raw,format=U8,rate=22050,channels=1 ! queue ! mux. avimux name=mux"
  "gst-v25-jpeg     |small|refuse|none  |idx1-only            |gst $GV,framerate=25/1 ! jpegenc ! avimux"
  "gst-a-s24        |small|none  |serve |no-index             |gst $GA ! audio/x-raw,format=S24LE,rate=48000,channels=2 ! avimux"
  "gst-a-s24-6ch    |small|none  |serve |no-index             |gst $GA ! audio/x-raw,format=S24LE,rate=48000,channels=6 ! avimux"
  "gst-a-s32        |small|none  |serve |no-index             |gst $GA ! audio/x-raw,format=S32LE,rate=48000,channels=2 ! avimux"
  # (avimux does not take float samples.)
  "gst-a-alaw       |small|none  |serve |no-index             |gst $GA ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! alawenc ! avimux"
  "gst-a-mulaw      |small|none  |serve |no-index             |gst $GA ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! mulawenc ! avimux"
  # Layouts converted into BGRA, at an SD and an HD size, from clips of
  # smooth colour ($sd, $hd: sinusoids, so that chroma interpolation is
  # testable), each frame within the layout's tolerance of ffmpeg's accurate
  # conversion (tests/peers/avi_peers.py: pixels); "qxhost check" says ok.
  "ff-sd-uyvy       |small|pixels|none  |idx1-only,dc,vids-UYVY      |ff -i \$sd -pix_fmt uyvy422 -c:v rawvideo"
  "ff-sd-yuy2       |small|pixels|none  |idx1-only,dc,vids-YUY2      |ff -i \$sd -pix_fmt yuyv422 -c:v rawvideo"
  "ff-sd-yvyu       |small|pixels|none  |idx1-only,dc,vids-YVYU      |ff -i \$sd -pix_fmt yvyu422 -c:v rawvideo"
  "ff-sd-i420       |small|pixels|none  |idx1-only,dc,vids-I420      |ff -i \$sd -pix_fmt yuv420p -c:v rawvideo"
  "ff-sd-yv12       |small|pixels|none  |idx1-only,dc,vids-YV12      |ff -i \$sd -vtag YV12 -pix_fmt yuv420p -c:v rawvideo"
  "ff-sd-nv12       |small|pixels|none  |idx1-only,dc,vids-NV12      |ff -i \$sd -pix_fmt nv12 -c:v rawvideo"
  "ff-sd-nv21       |small|pixels|none  |idx1-only,dc,vids-NV21      |ff -i \$sd -pix_fmt nv21 -c:v rawvideo"
  "ff-sd-y42b       |small|pixels|none  |idx1-only,dc,vids-Y42B      |ff -i \$sd -pix_fmt yuv422p -c:v rawvideo"
  "ff-sd-y41b       |small|pixels|none  |idx1-only,dc,vids-Y41B      |ff -i \$sd -pix_fmt yuv411p -c:v rawvideo"
  "ff-sd-yuv9       |small|pixels|none  |idx1-only,dc,vids-YUV9      |ff -i \$sd -pix_fmt yuv410p -c:v rawvideo"
  "ff-sd-yvu9       |small|pixels|none  |idx1-only,dc,vids-YVU9      |ff -i \$sd -vtag YVU9 -pix_fmt yuv410p -c:v rawvideo"
  "ff-sd-y800       |small|pixels|none  |idx1-only,dc,vids-Y800      |ff -i \$sd -pix_fmt gray -c:v rawvideo"
  "ff-sd-rgb555     |small|pixels|none  |idx1-only,dc,vids-rgb16,top-down|ff -i \$sd -pix_fmt rgb555le -c:v rawvideo"
  "ff-sd-pal8       |small|pixels|none  |idx1-only,dc,vids-rgb8,top-down|ff -i \$sd -pix_fmt pal8 -c:v rawvideo"
  "ff-sd-monob      |small|pixels|none  |idx1-only,dc,vids-rgb1,top-down|ff -i \$sd -v fatal -pix_fmt monob -c:v rawvideo"
  "ff-sd-rgba       |small|pixels|none  |idx1-only,dc,vids-RGBA      |ff -i \$sd -pix_fmt rgba -c:v rawvideo"
  "ff-sd-v210       |small|pixels|none  |idx1-only,dc,vids-v210      |ff -i \$sd -c:v v210"
  "ff-hd-uyvy       |small|pixels|none  |idx1-only,dc,vids-UYVY      |ff -i \$hd -pix_fmt uyvy422 -c:v rawvideo"
  "ff-hd-yuy2       |small|pixels|none  |idx1-only,dc,vids-YUY2      |ff -i \$hd -pix_fmt yuyv422 -c:v rawvideo"
  "ff-hd-yvyu       |small|pixels|none  |idx1-only,dc,vids-YVYU      |ff -i \$hd -pix_fmt yvyu422 -c:v rawvideo"
  "ff-hd-i420       |small|pixels|none  |idx1-only,dc,vids-I420      |ff -i \$hd -pix_fmt yuv420p -c:v rawvideo"
  "ff-hd-yv12       |small|pixels|none  |idx1-only,dc,vids-YV12      |ff -i \$hd -vtag YV12 -pix_fmt yuv420p -c:v rawvideo"
  "ff-hd-nv12       |small|pixels|none  |idx1-only,dc,vids-NV12      |ff -i \$hd -pix_fmt nv12 -c:v rawvideo"
  "ff-hd-nv21       |small|pixels|none  |idx1-only,dc,vids-NV21      |ff -i \$hd -pix_fmt nv21 -c:v rawvideo"
  "ff-hd-y42b       |small|pixels|none  |idx1-only,dc,vids-Y42B      |ff -i \$hd -pix_fmt yuv422p -c:v rawvideo"
  "ff-hd-y41b       |small|pixels|none  |idx1-only,dc,vids-Y41B      |ff -i \$hd -pix_fmt yuv411p -c:v rawvideo"
  "ff-hd-yuv9       |small|pixels|none  |idx1-only,dc,vids-YUV9      |ff -i \$hd -pix_fmt yuv410p -c:v rawvideo"
  "ff-hd-yvu9       |small|pixels|none  |idx1-only,dc,vids-YVU9      |ff -i \$hd -vtag YVU9 -pix_fmt yuv410p -c:v rawvideo"
  "ff-hd-y800       |small|pixels|none  |idx1-only,dc,vids-Y800      |ff -i \$hd -pix_fmt gray -c:v rawvideo"
  "ff-hd-rgb555     |small|pixels|none  |idx1-only,dc,vids-rgb16,top-down|ff -i \$hd -pix_fmt rgb555le -c:v rawvideo"
  "ff-hd-pal8       |small|pixels|none  |idx1-only,dc,vids-rgb8,top-down|ff -i \$hd -pix_fmt pal8 -c:v rawvideo"
  "ff-hd-monob      |small|pixels|none  |idx1-only,dc,vids-rgb1,top-down|ff -i \$hd -v fatal -pix_fmt monob -c:v rawvideo"
  "ff-hd-rgba       |small|pixels|none  |idx1-only,dc,vids-RGBA      |ff -i \$hd -pix_fmt rgba -c:v rawvideo"
  "ff-hd-v210       |small|pixels|none  |idx1-only,dc,vids-v210      |ff -i \$hd -c:v v210"
  # The aliases of one layout: another code, the same kernel (SD only).
  "ff-sd-iyuv       |small|pixels|none  |idx1-only,dc,vids-IYUV      |ff -i \$sd -vtag IYUV -pix_fmt yuv420p -c:v rawvideo"
  "ff-sd-grey       |small|pixels|none  |idx1-only,dc,vids-GREY      |ff -i \$sd -vtag GREY -pix_fmt gray -c:v rawvideo"
  "ff-sd-hdyc       |small|pixels|none  |idx1-only,dc,vids-HDYC      |ff -i \$sd -vtag HDYC -pix_fmt uyvy422 -c:v rawvideo"
  # GStreamer's avimux takes these YUV and grey layouts.
  "gst-sd-uyvy      |small|pixels|none  |idx1-only,db,vids-UYVY      |gst filesrc location=\$sd ! avidemux ! videoconvert ! video/x-raw,format=UYVY ! avimux"
  "gst-sd-yuy2      |small|pixels|none  |idx1-only,db,vids-YUY2      |gst filesrc location=\$sd ! avidemux ! videoconvert ! video/x-raw,format=YUY2 ! avimux"
  "gst-sd-i420      |small|pixels|none  |idx1-only,db,vids-I420      |gst filesrc location=\$sd ! avidemux ! videoconvert ! video/x-raw,format=I420 ! avimux"
  "gst-sd-gray8     |small|pixels|none  |idx1-only,db,vids-Y800      |gst filesrc location=\$sd ! avidemux ! videoconvert ! video/x-raw,format=GRAY8 ! avimux"
  "gst-sd-v210      |small|pixels|none  |idx1-only,db,vids-v210      |gst filesrc location=\$sd ! avidemux ! videoconvert ! video/x-raw,format=v210 ! avimux"
  "gst-hd-uyvy      |small|pixels|none  |idx1-only,db,vids-UYVY      |gst filesrc location=\$hd ! avidemux ! videoconvert ! video/x-raw,format=UYVY ! avimux"
  "gst-hd-yuy2      |small|pixels|none  |idx1-only,db,vids-YUY2      |gst filesrc location=\$hd ! avidemux ! videoconvert ! video/x-raw,format=YUY2 ! avimux"
  "gst-hd-i420      |small|pixels|none  |idx1-only,db,vids-I420      |gst filesrc location=\$hd ! avidemux ! videoconvert ! video/x-raw,format=I420 ! avimux"
  "gst-hd-gray8     |small|pixels|none  |idx1-only,db,vids-Y800      |gst filesrc location=\$hd ! avidemux ! videoconvert ! video/x-raw,format=GRAY8 ! avimux"
  "gst-hd-v210      |small|pixels|none  |idx1-only,db,vids-v210      |gst filesrc location=\$hd ! avidemux ! videoconvert ! video/x-raw,format=v210 ! avimux"
  # GStreamer pads grey rows to 4 bytes (a width of 642), ffmpeg does not;
  # both are read as ffmpeg reads them: padded when the chunks hold the padding.
  "gst-sd-gray8-w642|small|pixels|none  |idx1-only,db,vids-Y800,rowpad|gst filesrc location=\$w642 ! avidemux ! videoconvert ! video/x-raw,format=GRAY8 ! avimux"
  "ff-sd-y800-w642  |small|pixels|none  |idx1-only,dc,vids-Y800      |ff -i \$w642 -pix_fmt gray -c:v rawvideo"
  # GStreamer pads I420's planes too (rows to 4 bytes, the luma plane to even
  # rows) and ffmpeg reads them wrong: the reference is ffmpeg's reading of
  # the chunks with the padding taken out. ffmpeg's unpadded I420 of the same
  # size stays unpadded.
  "gst-sd-i420-w642 |small|pixels|none  |idx1-only,db,vids-I420,planepad|gst filesrc location=\$w642 ! avidemux ! videoconvert ! video/x-raw,format=I420 ! avimux"
  "gst-sd-i420-w318 |small|pixels|none  |idx1-only,db,vids-I420,planepad|gst filesrc location=\$w318 ! avidemux ! videoconvert ! video/x-raw,format=I420 ! avimux"
  "ff-sd-i420-w642  |small|pixels|none  |idx1-only,dc,vids-I420      |ff -i \$w642 -pix_fmt yuv420p -c:v rawvideo"
  # MEncoder's own codes (the bit count, then 'RGB' or 'BGR'), which ffmpeg
  # cannot decode: compared with ffmpeg's decode of the clip MEncoder read.
  "menc-sd-bgr32    |small|pixels|none  |idx1-only,dc,vids-32RGB     |menc \$sd -ovc raw -vf format=bgr32 -nosound"
  "menc-sd-bgr24    |small|pixels|none  |idx1-only,dc,vids-24RGB     |menc \$sd -ovc raw -vf format=bgr24 -nosound"
  "menc-sd-rgb32    |small|pixels|none  |idx1-only,dc,vids-32BGR     |menc \$sd -ovc raw -vf format=rgb32 -nosound"
  "menc-sd-rgb24    |small|pixels|none  |idx1-only,dc,vids-24BGR     |menc \$sd -ovc raw -vf format=rgb24 -nosound"
  # mencoder, its own AVI muxer, from ffmpeg's clip. "-ffourcc 0" writes the
  # frames as BI_RGB; by default the compression code is mplayer's own (the
  # bit count, then 'RGB' or 'BGR'), which ffmpeg cannot decode, so it has no
  # row here: the plug-in serves it as the BI_RGB file's frames.
  "menc-va25-s16    |small|serve |serve |idx1-only,dc,ahandler,strf18     |menc \$src -ovc raw -vf format=bgr32 -ffourcc 0 -oac pcm"
  # over 1 GiB: several RIFF segments (ffmpeg and GStreamer switch to OpenDML at 1 GiB)
  "ff-big-va25-s16  |large|serve |serve |odml,avix,dc,over-1gib       |ff -f lavfi -i testsrc=size=1280x720:rate=25 -f lavfi -i $S16 -t 12 -pix_fmt bgra -c:v rawvideo -ac 2 -c:a pcm_s16le"
  "ff-big-v25-bgr24 |large|serve |none  |odml,avix,dc,over-1gib,top-down |ff -f lavfi -i testsrc=size=1280x720:rate=25 -t 16 -pix_fmt bgr24 -c:v rawvideo"
  "gst-big-va25-s16 |large|serve |serve |odml,avix,db,bit31,over-1gib |gst videotestsrc num-buffers=300 pattern=smpte ! video/x-raw,width=1280,height=720,framerate=25/1 ! videoconvert ! video/x-raw,format=BGRx ! queue ! mux. audiotestsrc num-buffers=300 samplesperbuffer=1920 ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! queue ! mux. avimux name=mux"
)

# ---------------------------------------------------------------- options
legs="model,native,wine"
groups="small,large"
only="*"
keep=""
skip_missing=0
native=${NATIVE_DIR:-build/native}
win=${WIN_DIR:-build/mingw}
while [ $# -gt 0 ]; do
  case "$1" in
    --legs) legs=$2; shift 2 ;;
    --group) groups=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    --native-dir) native=$2; shift 2 ;;
    --skip-missing) skip_missing=1; shift ;;
    -h|--help) sed -n '2,/^set /p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "peer-writers: unknown option $1" >&2; exit 2 ;;
  esac
done

# The writers, the reference (ffmpeg, ffprobe) and the checker must all be there.
needed=(ffmpeg ffprobe gst-launch-1.0 mencoder python3) dep_groups=peers
if [[ ",$legs," == *,wine,* ]]; then needed+=(wine wineserver) dep_groups="peers windows"; fi
absent=()
for tool in "${needed[@]}"; do
  command -v "$tool" >/dev/null || absent+=("$tool")
done
if [ ${#absent[@]} -gt 0 ]; then
  echo "peer-writers: not installed: ${absent[*]}. Install them with" \
    "'bash scripts/install-deps.sh $dep_groups' (or run 'make test') to run these checks."
  if [ "$skip_missing" = 1 ]; then exit 77; fi
  exit 1
fi

if [ -n "$keep" ]; then
  work=$keep
  mkdir -p "$work"
else
  work=$(mktemp -d)
fi
stop_wine=0
finish() {
  if [ "$stop_wine" = 1 ]; then wineserver -k 2>/dev/null || true; fi
  if [ -z "$keep" ]; then rm -rf "$work"; fi
}
trap finish EXIT
checker=(python3 tests/peers/avi_peers.py check)
qx_native=("$native/tools/qxhost/qxhost" --plugin "$native/src/libmirolan.so")
qx_wine=(wine "$win/tools/qxhost/qxhost.exe" --plugin "$win/src/mirolan.dll")

# The writers, each writing the row's file to $out.
ff() { ffmpeg -nostdin -v error -y "$@" "$out"; }
gst() { gst-launch-1.0 -q "$@" ! filesink location="$out" >/dev/null; }
menc() { mencoder -really-quiet "$@" -o "$out" >/dev/null 2>&1; }
avimake() { "$native/tools/avimake/avimake" "$out" "$@" >/dev/null; }

status=0
t0=$SECONDS
src="$work/src.avi"
out=$src ff -f lavfi -i "$V25" -f lavfi -i "$S16" -t 2 -pix_fmt bgra -c:v rawvideo -ac 2 -c:a pcm_s16le
# Clips of smooth colour for the converted layouts: 2 frames at 640x360 (SD),
# 642x360 (a width whose grey rows are padded) and 318x241 (padded I420
# planes of an odd height), 1 at 1280x720 (HD).
sd="$work/smooth-sd.avi" hd="$work/smooth-hd.avi" w642="$work/smooth-642.avi"
w318="$work/smooth-318.avi"
for clip in "$sd:640x360:2" "$hd:1280x720:1" "$w642:642x360:2" "$w318:318x241:2"; do
  IFS=: read -r out size count <<<"$clip"
  ff -f lavfi -i "nullsrc=s=$size:r=25,format=rgb24,$SMOOTH" -frames:v "$count" -pix_fmt bgra -c:v rawvideo
done

if [[ ",$legs," == *,wine,* ]]; then
  # shellcheck source=wine-env.sh
  source scripts/wine-env.sh
  # Wine's own services start with the first program and inherit its output:
  # started here with nothing open, under a server that stays up, they no
  # longer hold each check's pipes open for seconds after qxhost.exe exits.
  # A server still up from an earlier script holds those services already:
  # end it first, so that -p starts a fresh one.
  wineserver -k >/dev/null 2>&1 </dev/null || true
  wineserver -w >/dev/null 2>&1 </dev/null || true
  wineserver -p >/dev/null 2>&1 </dev/null
  wine "$win/tools/qxhost/qxhost.exe" --help >/dev/null 2>&1 </dev/null || true
  stop_wine=1
fi

# The checks themselves must fail on a wrong host: the model host with one
# fault at a time, on the control file, on a bottom-up 24-bit file whose rows
# are padded (rows in the wrong order, rows read without their padding, alpha
# not 255) and on a refused one.
if [[ ",$legs," == *,model,* ]]; then
  out="$work/self-test.avi"
  avimake --width 64 --height 48 --frames 10
  out="$work/self-test-24.avi"
  gst videotestsrc num-buffers=10 pattern=smpte horizontal-speed=2 ! video/x-raw,width=63,height=48,framerate=25/1 ! videoconvert ! video/x-raw,format=BGR ! avimux
  out="$work/self-test-refused.avi"
  ff -f lavfi -i "$V25" -frames:v 5 -c:v mjpeg
  for fault in frame count duration sample rows:24 stride:24 alpha:24 serve-refused; do
    file=$work/self-test.avi video=serve audio=serve
    case "$fault" in
      *:24) file=$work/self-test-24.avi audio=none fault=${fault%:24} ;;
      serve-refused) file=$work/self-test-refused.avi video=refuse audio=none ;;
    esac
    if "${checker[@]}" "$file" --name "self-test-$fault" --leg model --video "$video" \
      --audio "$audio" --work "$work" --qxhost python3 tests/peers/model_host.py --mutate "$fault" >/dev/null; then
      echo "FAIL self-test: a host with the fault '$fault' on $(basename "$file") passed the checks"
      status=1
    fi
  done
  # ...and pass without one: a check that fails on everything proves nothing.
  for file in self-test.avi:serve:serve self-test-24.avi:serve:none self-test-refused.avi:refuse:none; do
    IFS=: read -r name video audio <<<"$file"
    "${checker[@]}" "$work/$name" --name "self-test-$name" --leg model --video "$video" --audio "$audio" \
      --work "$work" --qxhost python3 tests/peers/model_host.py >/dev/null || {
      echo "FAIL self-test: the model host without a fault fails the checks on $name"
      status=1
    }
  done
fi

# The pixel check must fail on a wrong reference: the other matrix (an HD
# file read as BT.601) and pictures turned over.
if [[ ",$legs," == *,native,* ]] && [[ "ff-hd-uyvy" == $only ]]; then
  out="$work/self-test-pixels.avi"
  ff -i "$hd" -pix_fmt uyvy422 -c:v rawvideo
  for fault in matrix vflip; do
    if "${checker[@]}" "$out" --name "self-test-pixels-$fault" --leg native --video pixels \
      --audio none --work "$work" --reference-fault "$fault" --qxhost "${qx_native[@]}" >/dev/null; then
      echo "FAIL self-test: the pixel check passed against a reference with the fault '$fault'"
      status=1
    fi
  done
fi

for row in "${ROWS[@]}"; do
  IFS='|' read -r name group video audio has command <<<"$row"
  name=${name// /} group=${group// /} video=${video// /} audio=${audio// /} has=${has// /}
  # shellcheck disable=SC2053
  [[ $name == $only ]] || continue
  [[ ",$groups," == *,$group,* ]] || continue
  out="$work/$name.avi"
  if ! (eval "$command") || [ ! -s "$out" ]; then
    echo "FAIL writer $name: the writer failed: $command"
    status=1
    continue
  fi
  reference=()
  [[ $video == pixels && $command == menc* ]] && reference=(--reference "$sd")
  [[ $has == *planepad* ]] && reference=(--reference-unpadded)
  for leg in ${legs//,/ }; do
    [ "$group" = large ] && [ "$leg" = wine ] && continue
    # The model host reads the layouts served byte for byte only; the
    # converted ones' formula is checked by the kernels' own suite.
    [ "$video" = pixels ] && [ "$leg" = model ] && continue
    case "$leg" in
      native) qx=("${qx_native[@]}") ;;
      wine) qx=("${qx_wine[@]}") ;;
      model) qx=(python3 tests/peers/model_host.py) ;;
      *) echo "peer-writers: unknown leg $leg" >&2; exit 2 ;;
    esac
    "${checker[@]}" "$out" --name "$name" --leg "$leg" --video "$video" --audio "$audio" \
      --has "$has" --work "$work" "${reference[@]}" --qxhost "${qx[@]}" || status=1
  done
  [[ $group == large || $video == pixels ]] && [ -z "$keep" ] && rm -f "$out"
done
echo "peer-writers: $((SECONDS - t0)) s, $([ $status -eq 0 ] && echo 'every file as expected' || echo 'MISMATCHES above')"
exit "$status"
