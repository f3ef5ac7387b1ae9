"""The same scenarios on both platforms: each scenario runs on the simulator, which writes what the
desktop hosts play (run --wine-plan), and then under Wine from that plan; the outcome of each
stroke on Wine is set beside the simulator's, a row per stroke (an example without strokes has
one row for what its programs wrote).

usage: compare_wine.py --sim VEXORI-SIM --windows BUILD-WIN32/windows [--wine WINE]
                       [--markdown FILE] [--tour] [--keep-going] [--one-process] SCENARIO...

What is compared, per stroke: what the proxy decided (passed through and why, panned, handed
over), the codes and the behaviour of a hand-over, the lines each labelled window moved, the
gesture notifications an application got, the browser's pages and zoom, and the registry values
written while the stroke's effects lasted. Sounds and the screen turning are named as the
platform's own (Wine has no sound device here; ChangeDisplaySettingsEx reports success without
turning anything), never ticks or times. Commands the hosts cannot play are named for their
scenario (the plan's "# cannot play" lines); a row of such a scenario that differs is reported,
not counted as a failure. Exits 1 when a row that should agree does not.

Wine's own output of a run: the stock driver stand-in says "touch: stroke K down" at each pen-down,
the engines' debug lines come on the standard error (VEXORI_DEBUG_PRINT), the applications say
each scroll position, message and browser command, the registry watch each write ("reg: ...").
Everything between two pen-downs belongs to the first, as the simulator's reader has it. The
broker runs in devmgr.exe, the proxy and the applications in wsys.exe; both write into one file,
so the lines of the two processes keep the order in which they were written.
"""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

from prefix import Prefix

HERE = os.path.dirname(os.path.abspath(__file__))

# What the simulated device logs and a Wine host cannot show, named as the platform's own.
PLATFORM = {
    "sounds": "Wine has no sound device here: no sound is played",
    "turned": "ChangeDisplaySettingsEx reports success under Wine without turning the screen",
    "angle": "the screen turned on the simulated device only (ChangeDisplaySettingsEx reports "
             "success under Wine without turning): the proxy maps the stroke for a turned screen "
             "of Wine's 1024x768, and the point lands elsewhere",
    "bottom band": "Wine's screen is 1024x768: its bottom band lies at its foot, far below a "
                   "stroke at the phone's",
    "before": "follows from the stroke before, whose momentum runs on into this one",
}
# What a command the hosts cannot play affects: the next stroke (power), nothing (pictures), or
# every stroke of its scenario.
NEXT_STROKE = ("power",)
NOTHING = ("screenshot", "picture", "timeline")
WATCHED = ("hkey_local_machine\\software\\quob\\gesture", "hkey_local_machine\\system\\gdi\\rotation",
           "hkey_current_user\\software\\microsoft\\internet explorer\\main")
ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}


def long_key(key):
    root, _, rest = key.partition("\\")
    return ROOTS.get(root.upper(), root) + ("\\" + rest if rest else "")


def watched(key):
    return long_key(key).lower() in WATCHED


class Stroke:
    """One stroke's outcome on one platform, in the fields the two share."""

    def __init__(self):
        self.decision = ""
        self.reason = ""
        self.codes = []
        self.behaviour = 0
        self.moved = {}  # "list vert": lines
        self.notified = 0
        self.browser = []  # "page 2 of 3", "zoom level 1"
        self.writes = {}  # "Activate": 1, in order of the last write
        self.sounds = 0
        self.turned = False
        # Commands the screen did not show what they needed for: the simulator's run would have
        # stopped (exit 4), so on its side there are none.
        self.missed = []

    def fields(self):
        f = {"decision": self.decision}
        if self.decision == "passed through":
            # What the proxy decided and why, not when: under Wine time is real.
            f["reason"] = re.sub(r" (at|for) \d+ ms", "", self.reason)
        if self.decision == "handed over":
            f["codes"] = " ".join(self.codes)
            f["behaviour"] = self.behaviour
        for name, lines in sorted(self.moved.items()):
            if lines:
                f["moved " + name] = lines
        if self.notified:
            f["notifications"] = self.notified
        if self.browser:
            f["browser"] = ", ".join(self.browser)
        for name, data in self.writes.items():
            f["wrote " + name] = data
        if self.missed:
            f["not carried out"] = ", ".join(self.missed)
        return f

    def text(self, fields):
        parts = []
        for name, value in fields.items():
            if name == "decision":
                parts.append(value or "undecided")
            elif name == "reason":
                parts[-1] += ": " + value
            elif name == "codes":
                parts.append(value)
            elif name == "behaviour":
                parts.append("behaviour %s" % value)
            elif name.startswith("moved "):
                parts.append("%s %+d" % (name[6:].replace(" vert", ""), value))
            elif name.startswith("wrote "):
                parts.append("%s=%s" % (name[6:], value))
            else:
                parts.append("%s %s" % (name, value))
        return "; ".join(parts)


def sim_strokes(run):
    """The simulator's outcomes from its JSON Lines, in the order the strokes began, with the
    registry writes of each stroke's time (and of the time before the first)."""
    outcomes, writes = [], []
    for line in open(run, encoding="utf-8"):
        e = json.loads(line)
        if e.get("kind") == "outcome":
            outcomes.append(e)
        elif (e.get("kind") == "reg-write" and e.get("process") != "host" and
              not e.get("unchanged") and watched(e.get("key", "")) and
              isinstance(e.get("data"), int)):
            writes.append((e["t"], e["value"], e["data"]))
    outcomes.sort(key=lambda o: o["t"])
    before = Stroke()
    strokes = []
    for o in outcomes:
        s = Stroke()
        s.drawn = "%s (line %d)" % (o.get("drawn") or "stroke", o.get("line", 0))
        s.line = o.get("line", 0)
        s.decision = o.get("decision", "")
        s.reason = o.get("reason", "")
        s.codes = o.get("codes", [])
        s.behaviour = o.get("behaviour", 0)
        for m in o.get("scrolls", []):
            if m.get("label"):
                s.moved["%s %s" % (m["label"], m["bar"])] = m["after"] - m["before"]
        s.notified = o.get("notifications", 0)
        for effect in o.get("effects", []):
            m = re.search(r"(page \d+ of \d+|zoom level \d+)", effect)
            if m:
                s.browser.append(m.group(1))
            if effect.startswith("screen turned"):
                s.turned = True
        s.sounds = sum(o.get("sounds", {}).values())
        strokes.append(s)
    starts = [o["t"] for o in outcomes]
    for t, name, data in writes:
        i = sum(1 for st in starts if st <= t) - 1
        target = strokes[i] if i >= 0 else before
        target.writes.pop(name, None)
        target.writes[name] = data
    return before, strokes


def wine_strokes(out, labels):
    """The same from a Wine run's output."""
    before = Stroke()
    strokes = []
    current = before
    positions = {}
    own = []  # the plan's registry writes not yet seen by the watch
    broker = None  # the stroke the broker carries out
    ticked = None  # the broker's stroke, when a tick of its timer came last
    for line in out.splitlines():
        m = re.match(r"touch: stroke \d+ down", line)
        if m:
            current = Stroke()
            strokes.append(current)
            continue
        if line.startswith("Stroke passes through: "):
            current.decision = "passed through"
            current.reason = line[len("Stroke passes through: "):].strip()
        elif line.startswith("Stroke withheld: "):
            current.decision = current.decision or "withheld"
        elif line.startswith("Gesture handed over: "):
            rest = line[len("Gesture handed over: "):]
            current.decision = "handed over"
            current.codes = rest.split(":", 1)[1].split() if ":" in rest else []
            broker = current
        elif line.startswith("Gesture tick: ") and broker is not None and broker.behaviour in (
                100, 101):
            ticked = broker  # a tick of a momentum, which moves a line
        elif line.startswith("Gesture behaviour "):
            current.behaviour = int(re.match(r"Gesture behaviour (\d+)", line).group(1))
        m = re.match(r"apps: (\S+) ([vh])scroll (-?\d+)$", line)
        if m:
            key = "%s %s" % (m.group(1), "vert" if m.group(2) == "v" else "horz")
            pos = int(m.group(3))
            # A line a tick of the broker's timer moved is its stroke's, though the next pen-down
            # came between the tick and the list's taking it.
            owner = ticked or current
            ticked = None
            owner.moved[key] = owner.moved.get(key, 0) + pos - positions.get(key, 0)
            positions[key] = pos
        m = re.match(r"apps: (\S+) message 1274 ", line)
        if m:
            current.notified += 1
        m = re.match(r"apps: \S+ browser (?:back |forward )?(page \d+ of \d+|zoom level \d+)", line)
        if m:
            current.browser.append(m.group(1))
        if re.match(r"(scene: .*: (no |not |a message box waits)|touch: not played: )", line):
            current.missed.append(line.split(": ", 1)[1])
        m = re.match(r"touch: reg(?:-delete)? (\S+) (\S+)$", line)
        if m:
            own.append((long_key(m.group(1)).lower(), m.group(2)))
        m = re.match(r"reg: (\S+(?: \S+)*?) (\w+) (\d+|deleted)$", line)
        if m:
            write = (long_key(m.group(1)).lower(), m.group(2))
            if write in own:
                own.remove(write)  # the scenario's own, as the simulator's host writes are
            elif m.group(3) != "deleted":
                current.writes.pop(m.group(2), None)
                current.writes[m.group(2)] = int(m.group(3))
    for s in strokes:
        s.moved = {k: v for k, v in s.moved.items() if k.split()[0] in labels}
        if s.decision == "withheld" and any(s.moved.values()):
            s.decision = "panned"
    return before, strokes


def preset_reg(plan_lines):
    """The plan's setup registry values as a REGEDIT4 file, the simulator's verbose debug zone
    first (the outcomes are read from its lines), and the keys to delete beforehand."""
    out = ["REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\DebugZones]", '"QUOBUpdater"=dword:0000c004']
    deleted = []
    for words in plan_lines:
        verb = words[0]
        if verb in ("preset", "reg") and len(words) >= 5:
            out.append("\n[%s]" % long_key(words[1]))
            if words[3] == "dword":
                out.append('"%s"=dword:%08x' % (words[2], int(words[4], 0) & 0xFFFFFFFF))
            else:
                out.append('"%s"="%s"' % (words[2], words[4].replace("\\", "\\\\")))
        elif verb == "reg-delete" and len(words) >= 3:
            out.append("\n[%s]\n\"%s\"=-" % (long_key(words[1]), words[2]))
        elif verb == "reg-delete-key" and len(words) >= 2:
            deleted.append(words[1])
    return "\n".join(out) + "\n", deleted


def split_words(line):
    """A command's words as the scenario parser reads them: double quotes keep spaces, a
    backslash is a character like any other."""
    return [a if a else b for a, b in re.findall(r'"([^"]*)"|(\S+)', line.split(" #")[0])]


def read_plan(path):
    setup, cannot, end, labels = [], [], 0, set()
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if line.startswith("# cannot play "):
            cannot.append(line[len("# cannot play "):])
            continue
        if not line or line.startswith("#"):
            continue
        time, _, rest = line.partition(" ")
        words = split_words(rest)
        if words and words[0] == "window" and len(words) > 1:
            labels.add(words[1])
        if time == "setup":
            setup.append(words)
        elif words == ["end"]:
            end = int(time)
    return setup, cannot, end, labels


class Comparison:
    def __init__(self, prefix, sim, work, one_process=False):
        self.prefix = prefix
        self.sim = sim
        self.work = work
        self.one_process = one_process  # the broker in wsys.exe rather than in devmgr.exe
        self.rows = []  # (scenario, stroke, simulator, wine, agree, failed)

    def row(self, scenario, stroke, sim, wine, agree, counts):
        """counts: a row that should agree (a difference the platform or an unplayed command
        explains is named, not counted)."""
        failed = counts and agree.startswith("no:")
        self.rows.append((scenario, stroke, sim, wine, agree, failed))
        mark = "FAIL" if failed else "PASS" if agree.startswith("yes") else "NOTE"
        print("%s  %s, %s: simulator %s | Wine %s | %s" % (mark, scenario, stroke, sim, wine, agree),
              flush=True)

    def compare(self, scene, shown):
        name = os.path.splitext(os.path.basename(scene))[0]
        run = os.path.join(self.work, name + ".jsonl")
        plan = os.path.join(self.work, name + ".plan")
        done = subprocess.run([self.sim, "run", os.path.abspath(scene), "--log", "brief",
                               "--jsonl", run, "--wine-plan", plan], cwd=self.work,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=300)
        if done.returncode not in (0, 1) or not os.path.exists(plan):
            why = done.stderr.decode("utf-8", "replace").strip().splitlines()
            self.row(shown, "-", "did not run: %s" % (why[-1] if why else done.returncode), "-",
                     "no: the simulator did not run it", True)
            return
        setup, cannot, end, labels = read_plan(plan)
        sim_before, sim = sim_strokes(run)
        w = self.prefix.windows
        reg, deleted = preset_reg(setup)
        with open(os.path.join(w, "preset.reg"), "w") as f:
            f.write(reg)
        shutil.copy(plan, os.path.join(w, "plan.txt"))
        self.prefix.run(["reg", "delete", r"HKCU\Software\Microsoft\Internet Explorer\Main", "/v",
                         "ZoomSetting", "/f"], timeout=60)
        for key in deleted:
            self.prefix.run(["reg", "delete", key, "/f"], timeout=60)
        self.prefix.install()
        os.remove(os.path.join(w, "preset.reg"))
        self.prefix.env["VEXORI_DEBUG_PRINT"] = "1"
        try:
            code, out, _ = self.prefix.play(["--samples", "plan.txt", "--settle", "1500", "--apps",
                                             "plan.txt"], end / 1000.0 * 3 + 60, self.one_process)
        finally:
            del self.prefix.env["VEXORI_DEBUG_PRINT"]
        with open(os.path.join(self.work, name + ".wine.txt"), "w") as f:
            f.write(out)
        wine_before, wine = wine_strokes(out, labels)
        if code != 0:
            self.row(shown, "-", "%d strokes" % len(sim), "wsys.exe %s" % (
                "timed out" if code is None else "exited %d" % code), "no: the hosts failed", True)
            return
        # The commands not played, named once for the scenario, and which strokes they touch.
        everything, next_stroke = [], []
        for c in cannot:
            m = re.match(r"[^:]*(?::(\d+))?: (\S+)", c)
            line, verb = int(m.group(1) or 0), m.group(2)
            (next_stroke if verb in NEXT_STROKE else [] if verb in NOTHING else everything).append(
                (line, c.split(": ", 1)[1]))
        if cannot:
            self.row(shown, "commands not played", "; ".join(c.split(": ", 1)[1] for c in cannot),
                     "-", "not played: only the simulated device has what they need", False)
        if not sim and not wine:
            a, b = sim_before.fields(), wine_before.fields()
            a.pop("decision"), b.pop("decision")
            verdict = self.agree(a, b, sim_before, [])
            self.row(shown, "no strokes: what the programs wrote", sim_before.text(a) or "nothing",
                     wine_before.text(b) or "nothing", verdict, True)
            return
        sim_angle = wine_angle = 0
        last_line = 0
        previous = None  # (agreed, Wine's stroke)
        for i in range(max(len(sim), len(wine))):
            s = sim[i] if i < len(sim) else None
            v = wine[i] if i < len(wine) else None
            drawn = s.drawn if s else "stroke %d" % (i + 1)
            if s is None or v is None:
                self.row(shown, drawn, s.text(s.fields()) if s else "no such stroke",
                         v.text(v.fields()) if v else "no such stroke", "no: a stroke missing",
                         True)
                previous = (False, v)
                continue
            excuses = [c for _, c in everything] + [
                c for line, c in next_stroke if last_line < line < s.line]
            last_line = s.line
            a, b = s.fields(), v.fields()
            rules = []
            if sim_angle or wine_angle:
                rules.append(PLATFORM["angle"])
            if s.reason == "bottom band":
                rules.append(PLATFORM["bottom band"])
            if previous is not None and not previous[0] and previous[1] is not None:
                moved_before = {k for k, n in previous[1].moved.items() if n}
                if all(k.startswith("moved ") and k[6:] in moved_before
                       for k in set(a) | set(b) if a.get(k) != b.get(k)):
                    rules.append(PLATFORM["before"])
            verdict = self.agree(a, b, s, rules, excuses)
            self.row(shown, drawn, s.text(a), v.text(b), verdict, True)
            previous = (verdict.startswith("yes"), v)
            sim_angle = s.writes.get("Angle", sim_angle)
            wine_angle = v.writes.get("Angle", wine_angle)

    @staticmethod
    def agree(a, b, s, rules, excuses=()):
        """yes (with the platform's own differences that do not show in the fields), or what
        explains a difference: the platform, or a command not played; or no, with the fields."""
        notes = [PLATFORM["sounds"]] if s.sounds else []
        if s.turned:
            notes.append(PLATFORM["turned"])
        differs = sorted(k for k in set(a) | set(b) if a.get(k) != b.get(k))
        if not differs:
            return "yes" + (" (platform: " + "; ".join(notes) + ")" if notes else "")
        what = "differ in " + ", ".join(differs)
        if rules:
            return "platform: %s; %s" % ("; ".join(rules), what)
        if excuses:
            return "not played: %s; %s" % ("; ".join(excuses), what)
        return "no: " + what

    def failed(self):
        return sum(1 for r in self.rows if r[5])

    def agreed(self):
        return sum(1 for r in self.rows if r[4].startswith("yes"))

    def markdown(self):
        out = ["| scenario | stroke | simulator | Wine | agree |", "|---|---|---|---|---|"]
        for scenario, stroke, sim, wine, agree, _ in self.rows:
            cells = [scenario, stroke, sim, wine, agree]
            out.append("| " + " | ".join(c.replace("|", "\\|") for c in cells) + " |")
        return "\n".join(out) + "\n"


def compare_all(prefix, sim, work, scenarios, tour, one_process=False):
    """Each scenario file, and the tour's steps when asked, in a prefix made and filled."""
    comparison = Comparison(prefix, os.path.abspath(sim), work, one_process)
    scenes = [(s, os.path.relpath(s)) for s in scenarios]
    if tour:
        path = os.path.join(work, "tour.scn")
        with open(path, "w") as f:
            subprocess.run([sim, "demo", "--print"], stdout=f, check=True, timeout=60)
        scenes.append((path, "the tour"))
    for scene, shown in scenes:
        try:
            comparison.compare(scene, shown)
        except (RuntimeError, subprocess.SubprocessError, OSError, ValueError) as e:
            comparison.row(shown, "-", "-", "-", "no: did not run: %s" % e, True)
    return comparison


BEGIN, END = "<!-- wine-compare table -->", "<!-- /wine-compare table -->"


def write_markdown(path, table):
    """The table into FILE; a file that holds the two marker lines keeps everything else."""
    text = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
    if BEGIN in text and END in text:
        head, rest = text.split(BEGIN, 1)
        text = head + BEGIN + "\n" + table + END + rest.split(END, 1)[1]
    else:
        text = table
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--windows", required=True, help="the desktop build's programs")
    parser.add_argument("--wine", help="the Wine loader")
    parser.add_argument("--markdown", help="write the table as Markdown to FILE")
    parser.add_argument("--tour", action="store_true", help="the built-in tour's steps too")
    parser.add_argument("--keep-going", action="store_true")
    parser.add_argument("--one-process", action="store_true",
                        help="the broker in wsys.exe beside the applications, not in devmgr.exe")
    parser.add_argument("scenarios", nargs="*")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    work = tempfile.mkdtemp(prefix="vexori-wine-compare-")
    prefix = Prefix()
    if args.wine:
        prefix.wine = args.wine
    comparison = None
    try:
        prefix.make()
        prefix.copy_programs(args.windows)
        comparison = compare_all(prefix, args.sim, work, args.scenarios, args.tour,
                                 args.one_process)
    finally:
        prefix.remove()
        if os.environ.get("VEXORI_KEEP_WINE_RUNS"):
            print("runs kept in %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    if comparison is None:
        print("0 passed, 1 failed")
        return 1
    if args.markdown:
        write_markdown(args.markdown, comparison.markdown())
    failed = comparison.failed()
    print("%d passed, %d failed (%d rows agree, %d differences named)" % (
        len(comparison.rows) - failed, failed, comparison.agreed(),
        len(comparison.rows) - comparison.agreed() - failed))
    return 1 if failed and not args.keep_going else 0


if __name__ == "__main__":
    sys.exit(main())
