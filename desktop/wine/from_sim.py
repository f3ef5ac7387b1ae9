"""Turns a simulator run's JSON Lines into what the Wine hosts play: the samples the touch panel
reported, with their times, and the registry writes the scenario made, those before the first
sample as a REGEDIT4 file written before the hosts start, the later ones timed among the samples.

usage: from_sim.py RUN.jsonl SAMPLES.txt PRESET.reg
"""
import json
import sys


def main(run, samples_path, preset_path):
    samples, preset, timed = [], [], []
    first = None
    for line in open(run, encoding="utf-8"):
        entry = json.loads(line)
        kind = entry.get("kind")
        if kind == "panel":
            if first is None:
                first = entry["t"]
            samples.append((entry["t"], int(entry["flags"], 16), entry["x"], entry["y"]))
        elif kind == "reg-write" and entry.get("process") == "host" and isinstance(
                entry.get("data"), int):
            write = (entry["t"], entry["key"], entry["value"], entry["data"])
            (preset if first is None else timed).append(write)
    with open(samples_path, "w") as out:
        rows = [(t, "%g %x %d %d" % (t, f, x, y)) for t, f, x, y in samples]
        for t, key, value, data in timed:
            path = key.split("\\", 1)[1]  # under HKEY_LOCAL_MACHINE
            rows.append((t, "%g reg %s %s %d" % (t, path, value, data)))
        rows.sort(key=lambda r: r[0])
        out.write("".join(text + "\n" for _, text in rows))
    with open(preset_path, "w") as out:
        out.write("REGEDIT4\n")
        for _, key, value, data in preset:
            out.write('\n[%s]\n"%s"=dword:%08x\n' % (key, value, data))


if __name__ == "__main__":
    main(*sys.argv[1:4])
