#!/usr/bin/env python3
"""Writes a random scenario of SECONDS device-seconds: taps, pans and flicks on a long list with
the gesture function and its sounds on, for measuring a long run's memory (docs/figures.md):

    bench/soak_scenario.py 3600 > /tmp/hour.scn
    /usr/bin/time -v build/vexori-sim run /tmp/hour.scn --jsonl /tmp/h.jsonl --audio /tmp/h.wav >/dev/null
"""
import random
import sys

seconds = int(sys.argv[1])
rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 1)
print("reg HKLM\\Software\\Quob\\Gesture Activate dword 1")
print("reg HKLM\\Software\\Quob\\Gesture Sound dword 1")
print("window list list 0 26 240 268 lines 100000 page 12")
print("foreground list")
t = 0
while t < seconds * 1000:
    x, y = rng.randint(20, 220), rng.randint(60, 260)
    kind = rng.choice(["tap", "flick", "flick", "drag"])
    if kind == "tap":
        print(f"tap {x} {y}")
        t += 90
    elif kind == "flick":
        dy = rng.choice([-60, 60])
        y = rng.randint(100, 200)
        print(f"flick {x} {y} {x} {y + dy} 150")
        t += 160
    else:
        print(f"drag {x} 250 {x} 100 300 rest 600 settle 24")
        t += 950
    wait = rng.randint(200, 3000)
    print(f"wait {wait}")
    t += wait
