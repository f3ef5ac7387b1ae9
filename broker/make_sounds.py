#!/usr/bin/env python3
"""Writes the broker's two sounds: a short tick and a short fading sound.

Both are RIFF WAVE files, PCM, 2 channels, 44100 Hz, 16 bit, with a 4-byte fact chunk holding
the frame count; the tick is 17896 bytes long, the fading sound 52988 bytes.

usage: make_sounds.py OUTDIR [--faulty]

With --faulty it also writes two sounds that cannot be played, for the tests: a tick cut short
of what its header claims, and a fading sound in a format that is not PCM.
"""
import math
import os
import struct
import sys

RATE = 44100
CHANNELS = 2
BITS = 16
HEADER_BYTES = 12 + (8 + 16) + (8 + 4) + 8  # RIFF, fmt, fact, data header
FRAME_BYTES = CHANNELS * BITS // 8


def wave(frames):
    data = b"".join(struct.pack("<hh", s, s) for s in frames)
    fmt = struct.pack("<HHIIHH", 1, CHANNELS, RATE, RATE * FRAME_BYTES, FRAME_BYTES, BITS)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"fact" +
            struct.pack("<II", 4, len(frames)) + b"data" + struct.pack("<I", len(data)) + data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def frames_for(total_bytes):
    count, rest = divmod(total_bytes - HEADER_BYTES, FRAME_BYTES)
    assert rest == 0, total_bytes
    return count


def tick():
    # A click: a 2 kHz burst that dies away within a few milliseconds, then silence.
    out = []
    for i in range(frames_for(17896)):
        t = i / RATE
        out.append(int(12000 * math.exp(-t / 0.004) * math.sin(2 * math.pi * 2000 * t)))
    return out


def fading():
    # A falling tone whose loudness decays to nothing over the whole sound.
    count = frames_for(52988)
    out = []
    phase = 0.0
    for i in range(count):
        t = i / RATE
        phase += 2 * math.pi * (1200 - 1600 * t) / RATE
        out.append(int(9000 * (1 - i / count) ** 2 * math.sin(phase)))
    return out


def faulty():
    truncated = wave(tick())[:8000]
    not_pcm = bytearray(wave(fading()))
    not_pcm[20:22] = struct.pack("<H", 3)  # IEEE float
    return (("Truncated.wav", truncated), ("NotPcm.wav", bytes(not_pcm)))


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    files = [("VexoriSnd.wav", wave(tick())), ("VexoriSndAttenuate.wav", wave(fading()))]
    if "--faulty" in sys.argv[2:]:
        files += faulty()
    for name, data in files:
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
