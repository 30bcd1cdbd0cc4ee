#!/usr/bin/env python3
"""Writes the fuzzing corpora into OUT:

  OUT/seed        small valid files of every kind the tool reads, for the
                  fuzzers to start from (made with the stock ffmpeg and sox)
  OUT/regression  files made to sit on the edges the readers must handle

usage: make_corpus.py OUT [--tool PATH]

With --tool, the seeds also get an MP3 written by our own tool, the only
kind the read-back check passes.
"""

import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile


def run(*command):
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def ffmpeg(*arguments, seconds=0.1, rate=8000, channels=1):
    source = f"sine=frequency=440:duration={seconds}:sample_rate={rate}"
    layout = ["-ac", str(channels)]
    run("ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", source, *layout,
        "-fflags", "+bitexact", "-flags", "+bitexact", *arguments)


def ffmpeg_pipe(path, *arguments):
    """A file written as a stream: the header keeps its placeholder lengths."""
    with open(path, "wb") as out:
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=0.1:sample_rate=8000", "-ac", "1", *arguments, "pipe:1"],
                       check=True, stdin=subprocess.DEVNULL, stdout=out)


# MIDI


def vlq(value):
    out = bytearray([value & 0x7F])
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def meta(delta, kind, data):
    return vlq(delta) + bytes([0xFF, kind]) + vlq(len(data)) + data


def midi(tracks, division=480, form=None):
    form = (0 if len(tracks) == 1 else 1) if form is None else form
    out = b"MThd" + struct.pack(">IHHH", 6, form, len(tracks), division)
    for events in tracks:
        events += meta(0, 0x2F, b"")
        out += b"MTrk" + struct.pack(">I", len(events)) + events
    return out


def notes(count, length, channel=0, program=0):
    """count notes of `length` ticks, the note-offs as note-ons of velocity 0 in running status."""
    out = bytearray(vlq(0) + bytes([0xC0 | channel, program]))
    out += vlq(0) + bytes([0x90 | channel, 60, 90]) + vlq(length) + bytes([60, 0])
    for i in range(1, count):
        key = 36 + i % 48
        out += vlq(0) + bytes([key, 90]) + vlq(length) + bytes([key, 0])
    return bytes(out)


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def midi_seeds(seed):
    tempo = meta(0, 0x51, bytes([0x07, 0xA1, 0x20]))
    gm_on = vlq(0) + bytes([0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7])
    controls = vlq(0) + bytes([0xB0, 7, 100, 0xE0, 0, 0x40, 0xD0, 50, 0xA0, 60, 20])
    write(os.path.join(seed, "tune.mid"),
          midi([meta(0, 0x03, b"Tune") + meta(0, 0x02, b"(c) Tester") + tempo + gm_on + controls + notes(4, 120)]))
    write(os.path.join(seed, "two.mid"),
          midi([meta(0, 0x03, b"Two") + tempo + meta(480, 0x51, bytes([0x0F, 0x42, 0x40])),
                notes(6, 200, channel=1, program=48)]))
    write(os.path.join(seed, "smpte.kar"), midi([notes(3, 100)], division=0xE728))


# RIFF and AIFF by hand


def riff_chunk(kind, data):
    return kind + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def aiff_chunk(kind, data):
    return kind + struct.pack(">I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def extended(value):
    """An IEEE 754 80-bit extended number, as AIFF states its rate."""
    exponent = int(math.floor(math.log2(value)))
    mantissa = int(value * (1 << (63 - exponent)))
    return struct.pack(">HQ", 16383 + exponent, mantissa)


def comm(channels, frames, bits, rate, compression=None):
    data = struct.pack(">hIh", channels, frames, bits) + extended(rate)
    if compression:
        data += compression + bytes([len(b"float")]) + b"float"
    return aiff_chunk(b"COMM", data)


def ssnd(samples):
    return aiff_chunk(b"SSND", struct.pack(">II", 0, 0) + samples)


def wave_fmt(code, channels, rate, bits):
    block = channels * bits // 8
    return riff_chunk(b"fmt ", struct.pack("<HHIIHH", code, channels, rate, rate * block, block, bits))


ODD_FLOATS = [float("nan"), float("inf"), float("-inf"), 1e9, -1e9, 0.5, -0.0, 3.4e38]


def odd_float_files(out):
    samples = ODD_FLOATS * 200
    data = struct.pack("<%df" % len(samples), *samples)
    write(os.path.join(out, "odd-floats.wav"),
          b"RIFF" + struct.pack("<I", 4 + 8 + 16 + 8 + len(data)) + b"WAVE" + wave_fmt(3, 1, 8000, 32)
          + riff_chunk(b"data", data))
    data = struct.pack(">%df" % len(samples), *samples)
    form = b"AIFC" + aiff_chunk(b"FVER", struct.pack(">I", 0xA2805140)) \
        + comm(1, len(samples), 32, 8000, b"fl32") + ssnd(data)
    write(os.path.join(out, "odd-floats.aifc"), b"FORM" + struct.pack(">I", len(form)) + form)


def extensible_valid_bits(out):
    """2-second float WAVs whose extensible header gives 288 or 26 valid
    bits: libavformat takes the sample size from them (for floats without
    rounding it up to whole bytes) and finds no decoder."""
    guid = struct.pack("<H", 3) + b"\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"
    data = struct.pack("<16000f", *([0.25, -0.25] * 8000))
    for valid_bits, name in ((288, "extensible-valid-bits.wav"), (26, "extensible-float-valid-bits.wav")):
        fmt = struct.pack("<HHIIHHHHI", 0xFFFE, 1, 8000, 32000, 4, 32, 22, valid_bits, 4) + guid
        body = b"WAVE" + riff_chunk(b"fmt ", fmt) + riff_chunk(b"data", data)
        write(os.path.join(out, name), b"RIFF" + struct.pack("<I", len(body)) + body)


def float_of_16_bits(out):
    """A 2-second WAV of format 3 (float) stating 16-bit samples."""
    data = struct.pack("<16000h", *([1000, -1000] * 8000))
    body = b"WAVE" + wave_fmt(3, 1, 8000, 16) + riff_chunk(b"data", data)
    write(os.path.join(out, "float-of-16-bits.wav"), b"RIFF" + struct.pack("<I", len(body)) + body)


def second_ssnd_streamed(out):
    """An AIFF with a sized SSND and then one whose size is a placeholder."""
    samples = struct.pack(">800h", *([1000, -1000] * 400))
    form = b"AIFF" + comm(1, 800, 16, 8000) + ssnd(samples) + b"SSND" + struct.pack(">III", 0, 0, 0) + samples
    write(os.path.join(out, "second-ssnd-streamed.aiff"), b"FORM" + struct.pack(">I", len(form)) + form)


def wave_libavformat_refuses(out):
    """2-second WAVs libavformat does not open as WAV: one whose RIFF size reads
    "moov" (QuickTime's probe wins), one with an empty LIST chunk after its
    audio, and one whose LIST chunk comes after more chunks than the front
    looks at."""
    data = struct.pack("<16000h", *([1000, -1000] * 8000))
    body = b"WAVE" + wave_fmt(1, 1, 8000, 16) + riff_chunk(b"data", data)
    write(os.path.join(out, "riff-size-moov.wav"), b"RIFFmoov" + body)
    short_list = body + b"LIST" + struct.pack("<I", 0)
    write(os.path.join(out, "empty-list.wav"), b"RIFF" + struct.pack("<I", len(short_list)) + short_list)
    late_list = body + riff_chunk(b"junk", b"") * 70 + b"LIST" + struct.pack("<I", 2) + b"IN"
    write(os.path.join(out, "late-short-list.wav"), b"RIFF" + struct.pack("<I", len(late_list)) + late_list)


def two_data_chunks(out):
    first = struct.pack("<800h", *([1000, -1000] * 400))
    second = struct.pack("<400h", *([2000] * 400))
    body = b"WAVE" + wave_fmt(1, 1, 8000, 16) + riff_chunk(b"data", first) + riff_chunk(b"data", second)
    write(os.path.join(out, "two-data.wav"), b"RIFF" + struct.pack("<I", len(body)) + body)


def second_comm(out):
    samples = struct.pack(">800h", *([1000, -1000] * 400))
    form = b"AIFF" + comm(1, 800, 16, 8000) + ssnd(samples) + comm(2, 100000, 24, 96000)
    write(os.path.join(out, "second-comm.aiff"), b"FORM" + struct.pack(">I", len(form)) + form)


def overlong_list(out):
    """A LIST INFO entry stating about 1.6 GB in a file of 61 bytes."""
    huge = 0x60000000
    info = b"INFO" + b"INAM" + struct.pack("<I", huge) + b"Title"
    body = b"WAVE" + wave_fmt(1, 1, 8000, 16) + b"LIST" + struct.pack("<I", 0xFFFFFFF0) + info
    write(os.path.join(out, "overlong-list.wav"), b"RIFF" + struct.pack("<I", len(body)) + body)
    # A 2-second WAV ending in the header of a LIST chunk that states more
    # than the file holds: cut to the bytes left, it would be too short for
    # libavformat.
    data = struct.pack("<16000h", *([1000, -1000] * 8000))
    body = b"WAVE" + wave_fmt(1, 1, 8000, 16) + riff_chunk(b"data", data) + b"list" + struct.pack("<I", 0x7473696C)
    write(os.path.join(out, "overlong-list-at-end.wav"), b"RIFF" + struct.pack("<I", len(body)) + body)


def channel_count(m4a, channels):
    """The M4A with the channel count of its mp4a sample entry replaced and
    its decoder configuration (esds, which would override it) renamed."""
    data = bytearray(m4a)
    at = data.index(b"mp4a") + 4 + 6 + 2 + 8  # reserved, data reference, version, revision, vendor
    data[at:at + 2] = struct.pack(">H", channels)
    at = data.index(b"esds")
    data[at:at + 4] = b"esdz"
    return bytes(data)


# FLAC frame headers


def crc8(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x8005) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def first_frame(flac):
    """Offset of the first frame: after "fLaC" and the metadata blocks."""
    at = 4
    while True:
        last = flac[at] & 0x80
        at += 4 + int.from_bytes(flac[at + 1:at + 4], "big")
        if last:
            return at


def frame_header_length(flac, at):
    """Bytes of the frame header at `at` before its CRC-8."""
    number = flac[at + 4]
    length = 4 + (1 if number < 0x80 else bin(number).index("0", 2) - 2)
    size_code, rate_code = flac[at + 2] >> 4, flac[at + 2] & 0x0F
    length += {6: 1, 7: 2}.get(size_code, 0) + {12: 1, 13: 2, 14: 2}.get(rate_code, 0)
    return length


def with_block_size_code(flac, code):
    """The FLAC with its first frame's block-size code replaced (the header's CRC-8 made to match)."""
    data = bytearray(flac)
    at = first_frame(data)
    old = frame_header_length(data, at)
    size_code = data[at + 2] >> 4
    if size_code in (6, 7) or code in (6, 7):
        raise ValueError("only fixed codes are swapped")
    data[at + 2] = (code << 4) | (data[at + 2] & 0x0F)
    data[at + old] = crc8(data[at:at + old])
    return bytes(data)


def damaged_only_frame(out):
    """A FLAC whose only frame keeps its header (and its CRC-8) but not its
    subframe: a FIXED subframe whose residual uses a reserved coding method."""
    with tempfile.TemporaryDirectory() as work:
        plain = os.path.join(work, "plain.flac")
        ffmpeg("-c:a", "flac", "-frame_size", "4608", plain)
        with open(plain, "rb") as f:
            data = bytearray(f.read())
    at = first_frame(data)
    body = at + frame_header_length(data, at) + 1
    data[body:body + 4] = bytes([0x12, 0x00, 0x00, 0xC0])
    write(os.path.join(out, "damaged-only-frame.flac"), data)
    # The same with STREAMINFO stating 10 s: long enough for the front to
    # answer, were the frame's CRC-16 not checked.
    total = 80000
    data[8 + 13] = (data[8 + 13] & 0xF0) | (total >> 32)
    data[8 + 14:8 + 18] = struct.pack(">I", total & 0xFFFFFFFF)
    write(os.path.join(out, "damaged-only-frame-stated-long.flac"), data)
    # The same frame with its CRC-16 made to match: only the subframe tells.
    data[-2:] = struct.pack(">H", crc16(data[at:-2]))
    write(os.path.join(out, "reserved-residual-coding.flac"), data)


def second_streaminfo(out):
    """A 2-second FLAC with a second STREAMINFO block after the first."""
    with tempfile.TemporaryDirectory() as work:
        plain = os.path.join(work, "plain.flac")
        ffmpeg("-c:a", "flac", plain, seconds=2.0)
        with open(plain, "rb") as f:
            data = bytearray(f.read())
    if data[4] & 0x80:
        sys.exit("make_corpus.py: ffmpeg wrote STREAMINFO as the only metadata block")
    info = data[4:4 + 4 + 34]
    write(os.path.join(out, "second-streaminfo.flac"), data[:4 + 4 + 34] + info + data[4 + 4 + 34:])


def flac_files(out):
    with tempfile.TemporaryDirectory() as work:
        short = os.path.join(out, "shorter-than-a-block.flac")
        ffmpeg("-c:a", "flac", short, seconds=0.001, rate=44100)
        ffmpeg("-c:a", "flac", "-frame_size", "100", os.path.join(out, "block-size-code-6.flac"), seconds=0.05)
        ffmpeg("-c:a", "flac", "-frame_size", "1000", os.path.join(out, "block-size-code-7.flac"), seconds=0.3)
        plain = os.path.join(work, "plain.flac")
        ffmpeg("-c:a", "flac", "-frame_size", "4608", plain, seconds=1.0)
        with open(plain, "rb") as f:
            write(os.path.join(out, "block-size-code-0.flac"), with_block_size_code(f.read(), 0))
    damaged_only_frame(out)
    second_streaminfo(out)


def large_midi(out):
    # Two tracks of many short notes, about 4 MiB: events of every track merged in time order.
    write(os.path.join(out, "large.mid"), midi([notes(350000, 1), notes(350000, 2, channel=1, program=24)],
                                               division=960))
    # About 28 hours: refused before anything is rendered.
    write(os.path.join(out, "longer-than-a-day.mid"),
          midi([meta(0, 0x51, bytes([0xFF, 0xFF, 0xFF])), notes(2, 3000)], division=1, form=1))


def seeds(seed, tool):
    midi_seeds(seed)
    path = lambda name: os.path.join(seed, name)
    ffmpeg("-c:a", "pcm_s16le", path("pcm16.wav"))
    ffmpeg("-c:a", "pcm_f32le", path("float.wav"))
    ffmpeg("-c:a", "pcm_s24le", path("extensible.wav"), seconds=0.05, channels=3)
    ffmpeg("-c:a", "pcm_s16le", "-rf64", "always", path("rf64.wav"), seconds=0.05)
    ffmpeg("-c:a", "pcm_s16le", "-f", "w64", path("wave64.w64"), seconds=0.05)
    ffmpeg_pipe(path("streamed.wav"), "-c:a", "pcm_s16le", "-f", "wav")
    ffmpeg("-c:a", "pcm_s16be", path("pcm16.aiff"))
    ffmpeg("-c:a", "pcm_f32be", "-f", "aiff", path("float.aifc"), seconds=0.05)
    ffmpeg_pipe(path("streamed.aiff"), "-c:a", "pcm_s16be", "-f", "aiff")
    run("sox", "-n", "-r", "8000", "-c", "1", "-b", "16", path("sox.aiff"), "synth", "0.1", "sine", "440")
    ffmpeg("-c:a", "flac", "-metadata", "title=Seed", "-metadata", "artist=Tester", path("tagged.flac"))
    ffmpeg("-c:a", "libvorbis", "-metadata", "title=Seed", path("vorbis.ogg"), seconds=0.3)
    ffmpeg("-c:a", "libopus", "-b:a", "16k", "-metadata", "title=Seed", path("opus.opus"), seconds=0.3, rate=48000)
    ffmpeg("-c:a", "libmp3lame", "-b:a", "32k", "-id3v2_version", "3", "-metadata", "title=Seed",
           "-metadata", "track=3/12", path("tagged.mp3"), seconds=0.3)
    ffmpeg("-c:a", "aac", "-b:a", "24k", "-metadata", "title=Seed", path("aac.m4a"), seconds=0.2)
    ffmpeg("-c:a", "alac", path("alac.m4a"), seconds=0.05)
    with tempfile.TemporaryDirectory() as work:
        cover = os.path.join(work, "cover.png")
        run("ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "color=red:size=8x8", "-frames:v", "1", cover)
        for name, codec in (("cover.mp3", ["-c:a", "libmp3lame", "-b:a", "32k", "-id3v2_version", "3"]),
                            ("cover.flac", ["-c:a", "flac"])):
            run("ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                "sine=frequency=440:duration=0.2:sample_rate=8000", "-i", cover, "-map", "0", "-map", "1",
                "-ac", "1", *codec, "-c:v", "png", "-disposition:v", "attached_pic", "-metadata", "title=Covered",
                path(name))
        if tool:
            source = os.path.join(work, "tool.wav")
            ffmpeg("-c:a", "pcm_s16le", source, seconds=0.2, rate=44100)
            run(tool, "-i", source, "-acodec", "libmp3lame", "-aq", "50", path("written-by-the-tool.mp3"))


def regression(out):
    odd_float_files(out)
    two_data_chunks(out)
    second_comm(out)
    second_ssnd_streamed(out)
    extensible_valid_bits(out)
    wave_libavformat_refuses(out)
    float_of_16_bits(out)
    flac_files(out)
    # AAC's priming samples are cut by an edit list.
    ffmpeg("-c:a", "aac", "-b:a", "24k", path := os.path.join(out, "edit-list.m4a"), seconds=0.5, rate=44100)
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if b"elst" not in data:
        sys.exit("make_corpus.py: ffmpeg wrote no edit list")
    # The same with its stsc box 4 KiB longer than the file: the header's
    # durations are intact, the sample table is not.
    data[data.index(b"stsc") - 2] |= 0x10
    write(os.path.join(out, "stsc-too-long.m4a"), data)
    # Long enough for the front to answer, with a channel count the decoder refuses.
    ffmpeg("-c:a", "aac", "-b:a", "24k", path := os.path.join(out, "many-channels.m4a"), seconds=2.5, rate=44100)
    with open(path, "rb") as f:
        write(path, channel_count(f.read(), 49294))
    overlong_list(out)
    large_midi(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--tool")
    options = parser.parse_args()
    for name in ("seed", "regression"):
        folder = os.path.join(options.out, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    try:
        seeds(os.path.join(options.out, "seed"), options.tool)
        regression(os.path.join(options.out, "regression"))
    except subprocess.CalledProcessError as error:
        sys.exit("make_corpus.py: %s failed: %s" % (" ".join(error.cmd), error.stderr.decode(errors="replace")))


if __name__ == "__main__":
    main()
