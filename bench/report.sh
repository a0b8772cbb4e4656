#!/usr/bin/env bash
# Turns the key=value figures of one benchmark run (build/bench/results.txt)
# into the Markdown of the figures section of BENCHMARKS.md, with each goal
# checked against the figures of that same run.
set -euo pipefail
results=${1:-build/bench/results.txt}
[ -f "$results" ] || { echo "report: no $results" >&2; exit 1; }

awk -F= '
  # num[] holds each value as a number: awk compares two strings as text
  # ("10.0" <= "3"), so every goal is checked on num[].
  { v[$1] = substr($0, length($1) + 2); num[$1] = v[$1] + 0 }
  function has(k) { return (k in v) && v[k] != "" }
  function verdict(ok) { return ok ? "met" : "**not met**" }
  END {
    printf "Run of %s on %s (%s cores, %s GiB RAM), %s; ffmpeg %s", v["machine.date"], v["machine.cpu"],
           v["machine.cores"], v["machine.ram_gib"], v["machine.os"], v["machine.ffmpeg"]
    if (has("machine.wine")) printf ", %s", v["machine.wine"]
    printf ".\n\n"

    printf "Rates are the best of %s passes of each side (repetitions alternate the plug-in and the reference); open times are medians.\n\n", v["frames.reps"]
    print "| # | benchmark | plug-in | reference (same run) | ratio | goal | |"
    print "|---|---|---|---|---|---|---|"
    printf "| 1 | frame serving, %s frames of %s bytes (%s GB) from the page cache | %s GB/s | plain positioned reads into one buffer: %s GB/s | **%s** (median of ratios %s) | >= 0.9 | %s |\n",
      v["frames.count"], v["frames.frame_bytes"], v["frames.total_gb"], v["frames.served_gbps"],
      v["frames.plain_gbps"], v["frames.ratio_plain"], v["frames.ratio_plain_median"], verdict(num["frames.ratio_plain"] >= 0.9)
    if (has("frames.ffmpeg_gbps"))
      printf "| 1 | | | ffmpeg -c copy to the null muxer: %s GB/s | %s | (peer) | |\n",
        v["frames.ffmpeg_gbps"], v["frames.ratio_ffmpeg"]
    if (has("pool3.ratio_plain_pool"))
      printf "| 1b | the same, host rotating 3 frame buffers | %s GB/s | plain reads into the same 3 buffers: %s GB/s; into one: %s GB/s | %s; %s | (footprint check) | |\n",
        v["pool3.served_gbps"], v["pool3.plain_pool_gbps"], v["pool3.plain_gbps"],
        v["pool3.ratio_plain_pool"], v["pool3.ratio_plain"]
    printf "| 2 | open, video, %s frames in 3 RIFF segments (median of %s opens) | %s ms | ffprobe -show_entries stream=nb_frames: %s ms | **%s** | <= 0.14 | %s |\n",
      v["open.frames"], v["open.reps"], v["open.video_ms"], v["open.ffprobe_ms"], v["open.ratio_video"],
      verdict(num["open.ratio_video"] <= 0.14)
    printf "| 2 | open, audio, %s chunks | %s ms | the same ffprobe | **%s** | <= 0.14 | %s |\n",
      v["open.audio_chunks"], v["open.audio_ms"], v["open.ratio_audio"], verdict(num["open.ratio_audio"] <= 0.14)
    vmem = num["open.video_retained_bytes"] <= 8 * num["open.frames"] + 65536
    printf "| 2 | open memory, video: heap left by the open | %s bytes (%s a frame; peak %s a frame) | the frame table: 8 bytes a frame | | <= 8 a frame + 64 KiB | %s |\n",
      v["open.video_retained_bytes"], v["open.video_retained_per_frame"], v["open.video_peak_per_frame"], verdict(vmem)
    amem = num["open.audio_retained_per_chunk"] <= 40
    printf "| 2 | open memory, audio: heap left by the open | %s bytes (%s a chunk; peak %s a chunk) | the chunk list: one 32-byte AudioChunk a chunk | | <= 40 a chunk | %s |\n",
      v["open.audio_retained_bytes"], v["open.audio_retained_per_chunk"], v["open.audio_peak_per_chunk"], verdict(amem)
    printf "| 3 | audio, 1 h of 48 kHz stereo 16-bit in %s requests of %s samples | %s M samples/s | plain positioned reads of each request'"'"'s bytes: %s M samples/s | **%s** (median of ratios %s) | >= 0.5 | %s |\n",
      v["audio.requests"], v["audio.request_samples"], v["audio.served_msps"], v["audio.plain_msps"],
      v["audio.ratio_plain"], v["audio.ratio_plain_median"], verdict(num["audio.ratio_plain"] >= 0.5)
    if (has("audio.ffmpeg_msps"))
      printf "| 3 | | | ffmpeg to f32le: %s M samples/s | %s | (peer) | |\n", v["audio.ffmpeg_msps"], v["audio.ratio_ffmpeg"]
    n = split("u8 s16 s24 s32 f32 f64 alaw mulaw", layouts, " ")
    for (i = 1; i <= n; i++) {
      k = "audio_" layouts[i]
      if (!has(k ".ratio_plain")) continue
      peer = has(k ".ffmpeg_msps") ? sprintf("; ffmpeg to f32le: %s M samples/s (plug-in %s x)", v[k ".ffmpeg_msps"], v[k ".ratio_ffmpeg"]) : ""
      printf "| 3b | audio, %g min of %g kHz %s-channel %s in %s requests of %s samples | %s M samples/s | plain positioned reads of each request'"'"'s bytes: %s M samples/s%s | **%s** (median of ratios %s) | >= 0.5 | %s |\n",
        v[k ".samples"] / v[k ".rate"] / 60, v[k ".rate"] / 1000, v[k ".channels"], v[k ".format"], v[k ".requests"],
        v[k ".request_samples"], v[k ".served_msps"], v[k ".plain_msps"], peer, v[k ".ratio_plain"],
        v[k ".ratio_plain_median"], verdict(num[k ".ratio_plain"] >= 0.5)
    }
    if (has("wine.ratio_plain")) {
      rel = num["wine.ratio_plain"] / num["frames.ratio_plain"]
      printf "| 5 | frame serving, mirolan.dll under Wine | %s GB/s | ReadFile loop into one buffer: %s GB/s | **%s** (median of ratios %s); %.2f x the native ratio | within 10%% of native | %s |\n",
        v["wine.served_gbps"], v["wine.plain_gbps"], v["wine.ratio_plain"], v["wine.ratio_plain_median"], rel, verdict(rel >= 0.9 && rel <= 1.1)
    }
    for (i = 1; i <= n; i++) {
      k = "audio_wine_" layouts[i]
      if (!has(k ".ratio_plain")) continue
      printf "| 5b | audio, %s-channel %s, mirolan.dll under Wine, requests of %s samples | %s M samples/s | ReadFile loop of each request'"'"'s bytes: %s M samples/s | **%s** (median of ratios %s) | >= 0.5 | %s |\n",
        v[k ".channels"], v[k ".format"], v[k ".request_samples"], v[k ".served_msps"], v[k ".plain_msps"],
        v[k ".ratio_plain"], v[k ".ratio_plain_median"], verdict(num[k ".ratio_plain"] >= 0.5)
    }
    split("idx1_runs other_super", crafted, " ")
    cname["idx1_runs"] = "an '"'"'idx1'"'"' of 16 Mi entries listing runs of 4 chunks, each run checked before the walk jumps it"
    cname["other_super"] = "another stream'"'"'s super index of 1 Mi entries, each naming a place ahead of the served stream'"'"'s index"
    for (c = 1; c <= 2; c++) {
      k = "open_time." crafted[c] "."
      if (!has(k "index_bytes")) continue
      for (m = 1; m <= 2; m++) {
        s = m == 1 ? "video" : "audio"
        printf "| 8 | open, %s, %s (%.2f GiB of index in a %.2f GiB file) | %s s (CPU %s s) | | **%s s per GiB of index** | <= 3 | %s |\n",
          s, cname[crafted[c]], v[k "index_bytes"] / 1073741824, v[k "file_bytes"] / 1073741824, v[k s "_s"],
          v[k s "_cpu_s"], v[k s "_s_per_index_gib"], verdict(num[k s "_served"] && num[k s "_s_per_index_gib"] <= 3)
        w = "wine_" k
        if (has(w s "_s"))
          printf "| 8b | the same, mirolan'"'"'s Windows build under Wine | %s s (CPU %s s) | | **%s s per GiB of index** | <= 6 (2 x the native goal) | %s |\n",
            v[w s "_s"], v[w s "_cpu_s"], v[w s "_s_per_index_gib"], verdict(num[w s "_served"] && num[w s "_s_per_index_gib"] <= 6)
      }
    }
    if (has("cold.avimake.reps")) {
      print ""
      printf "Open from disk (benchmark 2b): each open and each ffprobe run starts with the file evicted from the page cache (ffprobe'"'"'s own binary warm); medians of %s opens. Bytes and read calls are the process'"'"'s own I/O counters around `drv_open` (ffprobe'"'"'s: its reads of the file under strace); the budget is 2 x the bytes of the file'"'"'s index chunks + 1 MiB.\n\n", v["cold.avimake.reps"]
      print "| file | stream | open from disk | ffprobe from disk | ratio (goal <= 0.5) | | read by the open | budget | ratio (goal <= 1) | | warm open / warm ffprobe | |"
      print "|---|---|---|---|---|---|---|---|---|---|---|---|"
      split("avimake ffmpeg gstreamer sparse", files, " ")
      names["avimake"] = "avimake, 640x360 + 48 kHz stereo, 3 segments"
      names["ffmpeg"] = "ffmpeg -c:v rawvideo, 640x360 + 48 kHz stereo, 2 segments"
      names["gstreamer"] = "GStreamer avimux, 640x360 + 48 kHz stereo, 2 segments"
      names["sparse"] = "avimake, 50 frames, then truncate -s 64G (zero tail)"
      for (n = 1; n <= 4; n++) {
        k = "cold." files[n] "."
        if (!has(k "reps")) continue
        budget = 2 * v[k "index_bytes"] + 1048576
        for (m = 1; m <= 2; m++) {
          s = m == 1 ? "video" : "audio"
          what = m == 1 ? sprintf("%s (%.2f GB, %s frames)", names[files[n]], v[k "file_bytes"] / 1e9, v[k "frames"]) : ""
          probe = m == 1 ? sprintf("%s ms (%s bytes in %s reads)", v[k "ffprobe_cold_ms"], v[k "ffprobe_read_bytes"], v[k "ffprobe_read_calls"]) : ""
          rb = num[k s "_read_bytes"] / budget
          goal_cold = files[n] == "sparse" ? (num[k s "_cold_ms"] < 1000) : (num[k s "_cold_ratio"] <= 0.5)
          warm = v[k s "_warm_ratio"]
          printf "| %s | %s | %s ms | %s | **%s** | %s | %s bytes in %s reads | %d bytes | **%.3f** | %s | %s | %s |\n",
            what, s, v[k s "_cold_ms"], probe, v[k s "_cold_ratio"], verdict(goal_cold),
            v[k s "_read_bytes"], v[k s "_read_calls"], budget, rb, verdict(rb <= 1), warm, verdict(num[k s "_warm_ratio"] <= 0.14)
        }
      }
      if (has("wine.sparse_info_s"))
        printf "\nUnder Wine, `qxhost.exe info` (video and audio opens of mirolan.dll, Wine'"'"'s process start included) on the 64 GiB file: %s s (goal < 1 s: %s).\n",
          v["wine.sparse_info_s"], verdict(num["wine.sparse_info_s"] < 1)
    }
    print ""
    print "Memory of one open (heap counted by the benchmark'"'"'s own allocator):"
    print ""
    print "| stream | left by the open | per frame or chunk | peak during the open | per frame or chunk | allocations | not returned by close |"
    print "|---|---|---|---|---|---|---|"
    printf "| video | %s bytes | %s | %s bytes | %s | %s | %s bytes |\n", v["open.video_retained_bytes"],
      v["open.video_retained_per_frame"], v["open.video_peak_bytes"], v["open.video_peak_per_frame"],
      v["open.video_allocations"], v["open.video_leaked_bytes"]
    printf "| audio | %s bytes | %s | %s bytes | %s | %s | %s bytes |\n", v["open.audio_retained_bytes"],
      v["open.audio_retained_per_chunk"], v["open.audio_peak_bytes"], v["open.audio_peak_per_chunk"],
      v["open.audio_allocations"], v["open.audio_leaked_bytes"]
    print ""
    print "Latency from the return of host_acquire to the call of host_deliver (benchmark 4):"
    print ""
    print "| requests | median | 99th percentile |"
    print "|---|---|---|"
    printf "| video, one %s-byte frame each (native) | %s us | %s us |\n", v["frames.frame_bytes"],
      v["latency.video_median_us"], v["latency.video_p99_us"]
    if (has("wine.latency_median_us"))
      printf "| video, the same under Wine | %s us | %s us |\n", v["wine.latency_median_us"], v["wine.latency_p99_us"]
    printf "| audio, %s samples each | %s us | %s us |\n", v["audio.request_samples"],
      v["latency.audio_median_us"], v["latency.audio_p99_us"]
    if (has("bgr24.reps")) {
      print ""
      print "24-bit frames read into 32-bit BGRA (benchmark 6), frames per second, best of " v["bgr24.reps"] " passes; ratios against the plain read of the stored bytes in the same run:"
      print ""
      print "| frame | plain read, stored bytes | plain read, output bytes | in place, 256 KiB bands (kept) | in place, whole frame | staged, 256 KiB buffer | staged, whole frame | goal | |"
      print "|---|---|---|---|---|---|---|---|---|"
      split("640x360 1920x1080", sizes, " ")
      for (n = 1; n <= 2; n++) {
        k = "bgr24." sizes[n]
        printf "| %s (%s -> %s bytes) | %s | %s | %s: **%s** | %s: %s | %s: %s | %s: %s | >= 0.5 | %s |\n", sizes[n],
          v[k ".stored_bytes"], v[k ".output_bytes"], v[k ".plain_stored_fps"], v[k ".plain_output_fps"],
          v[k ".inplace_256k_fps"], v[k ".inplace_256k_ratio_stored"], v[k ".inplace_whole_fps"], v[k ".inplace_whole_ratio_stored"],
          v[k ".staged_256k_fps"], v[k ".staged_256k_ratio_stored"], v[k ".staged_whole_fps"], v[k ".staged_whole_ratio_stored"],
          verdict(num[k ".inplace_256k_ratio_stored"] >= 0.5)
      }
    }
    if (has("picture.reps")) {
      print ""
      printf "Converted picture layouts at 1920x1080 (benchmark 7), frames per second, best of %s passes of %s frames, kernels of the processor'"'"'s best level (%s); ratios against the plain read of the served frame (%s bytes: the goal'"'"'s reference) and of the stored frame, in the same run:\n\n", v["picture.reps"], v["picture.frames"], v["picture.level"], v["picture.output_bytes"]
      wine = has("wine_picture.reps")
      printf "| layout | stored bytes | plain read, served frame | plain read, stored frame | plug-in (positive height) | ratio to served frame | ratio to stored frame | negative height: fps, ratio to served, to stored | goal | |%s\n", wine ? " 32-bit DLL under Wine: plug-in, ratio to served, to stored | |" : ""
      printf "|---|---|---|---|---|---|---|---|---|---|%s\n", wine ? "---|---|" : ""
      n = split("uyvy yuy2 yvyu v210 i420 yv12 nv12 nv21 y42b y41b yuv9 y800 rgb555 rgb565 pal8 pal4 pal1 rgba rv32 rv24 raw24 bgr24", keys, " ")
      for (i = 1; i <= n; i++) {
        k = "picture." keys[i]
        if (!has(k ".ratio_served")) continue
        printf "| %s | %s | %s | %s | %s | **%s** | %s | %s, %s, %s | >= 0.5 | %s |", v[k ".name"], v[k ".stored_bytes"],
          v[k ".served_fps"], v[k ".stored_fps"], v[k ".plugin_fps"], v[k ".ratio_served"], v[k ".ratio_stored"],
          v[k ".negative_fps"], v[k ".negative_ratio_served"], v[k ".negative_ratio_stored"], verdict(num[k ".ratio_served"] >= 0.5)
        if (wine) {
          w = "wine_" k
          printf " %s, **%s**, %s | %s |", v[w ".plugin_fps"], v[w ".ratio_served"], v[w ".ratio_stored"], verdict(num[w ".ratio_served"] >= 0.5)
        }
        printf "\n"
      }
      print ""
      print "The conversion alone (one frame in memory into the host'"'"'s buffer), ms a frame, at each SIMD level (every level gives the same bytes):"
      print ""
      print "| layout | portable | sse2 | ssse3 | avx2 |"
      print "|---|---|---|---|---|"
      for (i = 1; i <= n; i++) {
        k = "picture." keys[i]
        if (!has(k ".kernel_portable_ms")) continue
        printf "| %s | %s | %s | %s | %s |\n", v[k ".name"], v[k ".kernel_portable_ms"], v[k ".kernel_sse2_ms"],
          v[k ".kernel_ssse3_ms"], v[k ".kernel_avx2_ms"]
      }
    }
  }' "$results"
