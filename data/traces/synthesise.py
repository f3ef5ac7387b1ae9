#!/usr/bin/env python3
"""Writes the synthesised finger traces of this folder (taps, holds and pans, which the recorded
data set, made of drawn shapes, lacks). Deterministic: the same seed gives the same files.

Every trace is sampled every 10 ms (the panel's 100 Hz) in panel pixels of a 240x320 screen, at
points in the list's area away from its scroll bar (x 20..200, y 60..260). Jitter: unless a file
says otherwise, each sample lies off the finger's true position by a whole pixel or none in x and
in y, each of -1, 0, 1 drawn with equal chance; a resting finger is never perfectly still.

  taps.csv        100 taps, down 60 to 200 ms
  holds.csv       100 press-and-holds, down 500 to 1200 ms
  pans.csv        100 pans: a rest of 600 to 900 ms, then a slow vertical move of 40 to 120
                  pixels over 500 to 900 ms, up or down
  still-pans.csv  the same pans without any jitter: a finger perfectly still while it rests
"""
import random
import sys
from pathlib import Path

PERIOD = 10


def jitter(rng, on):
    return (rng.randint(-1, 1), rng.randint(-1, 1)) if on else (0, 0)


def stroke_rows(t0, path, rng, jittered):
    rows = []
    for i, (x, y) in enumerate(path):
        dx, dy = jitter(rng, jittered)
        rows.append((t0 + i * PERIOD, round(x) + dx, round(y) + dy, 1))
    rows.append((t0 + len(path) * PERIOD, rows[-1][1], rows[-1][2], 0))
    return rows


def still(x, y, ms):
    return [(x, y)] * max(1, ms // PERIOD)


def pan(rng):
    x, y = rng.randint(20, 200), rng.randint(100, 220)
    rest = rng.randint(600, 900)
    travel = rng.randint(40, 120) * rng.choice((-1, 1))
    move = rng.randint(500, 900)
    steps = move // PERIOD
    path = still(x, y, rest) + [(x, y + travel * (i + 1) / steps) for i in range(steps)]
    return path


def write(path, strokes, jittered, rng):
    lines = ["t_ms,x,y,down"]
    t = 0
    for s in strokes:
        for row in stroke_rows(t, s, rng, jittered):
            lines.append("%d,%d,%d,%d" % row)
        t = int(lines[-1].split(",")[0]) + 1000
    path.write_text("\n".join(lines) + "\n")


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
    rng = random.Random(20261208)
    place = lambda: (rng.randint(20, 200), rng.randint(60, 260))
    taps = [still(*place(), rng.randint(60, 200)) for _ in range(100)]
    holds = [still(*place(), rng.randint(500, 1200)) for _ in range(100)]
    pans = [pan(rng) for _ in range(100)]
    write(out / "taps.csv", taps, True, rng)
    write(out / "holds.csv", holds, True, rng)
    write(out / "pans.csv", pans, True, rng)
    write(out / "still-pans.csv", pans, False, rng)


if __name__ == "__main__":
    main()
