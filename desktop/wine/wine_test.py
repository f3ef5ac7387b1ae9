"""The Wine checks: the desktop build's programs in a Wine prefix of their own, each check played
from a scenario the simulator plays too, its outcome measured on the real window system and set
beside the simulator's. One line per check, then "N passed, N failed"; exit 1 on any failure.

usage: wine_test.py --sim BUILD/vexori-sim --windows BUILD-WIN32/windows

The prefix lives in a temporary folder that is removed at the end, and its wineserver is killed
even when a check fails or the run is interrupted. Every Wine process runs under a time-out.
"""
import argparse
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

from compare_wine import compare_all, preset_reg, read_plan, write_markdown
from prefix import Prefix

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))


class Checks:
    def __init__(self, prefix, sim, work, one_process=False):
        self.prefix = prefix
        self.one_process = one_process
        self.verbose = False
        self.sim = sim
        self.work = work
        self.passed = 0
        self.failed = 0

    def say(self, ok, what, measured):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        print("%s  %s: %s" % ("PASS" if ok else "FAIL", what, measured), flush=True)

    def simulate(self, scene):
        """The simulator's outcomes for a scenario, and the plan the hosts play for it: the
        samples, the windows and the commands (samples.txt, read by the stock driver stand-in and
        the applications alike) and the setup's registry values (preset.reg)."""
        name = os.path.splitext(os.path.basename(scene))[0]
        run = os.path.join(self.work, name + ".jsonl")
        plan = os.path.join(self.work, name + ".plan")
        subprocess.run([self.sim, "run", scene, "--log", "brief", "--jsonl", run,
                        "--wine-plan", plan], stdout=subprocess.DEVNULL,
                       stderr=subprocess.STDOUT, timeout=120, check=True)
        w = self.prefix.windows
        setup = read_plan(plan)[0]
        with open(os.path.join(w, "preset.reg"), "w") as f:
            f.write(preset_reg(setup)[0])
        shutil.copy(plan, os.path.join(w, "samples.txt"))
        shutil.copy(plan, os.path.join(w, "scene.scn"))
        outcomes = []
        for line in open(run, encoding="utf-8"):
            entry = json.loads(line)
            if entry.get("kind") == "outcome":
                outcomes.append(entry)
        return outcomes

    def play(self, scene, settle=3500):
        """A scenario on the hosts, in two processes as on the phone: the device manager with the
        broker in devmgr.exe, and the window system with the applications in wsys.exe, which
        starts once the broker's window is there. devmgr.exe ends when wsys.exe's scene does.
        With one_process, the broker runs in wsys.exe beside the applications instead."""
        outcomes = self.simulate(scene)
        self.prefix.install()
        code, out, ran = self.prefix.play(["--samples", "samples.txt", "--settle", str(settle),
                                           "--apps", "scene.scn"], 90, self.one_process)
        if self.verbose:
            print(out, flush=True)
        return outcomes, out, ran

    def scene(self, name):
        for folder in (os.path.join(HERE, "checks"), os.path.join(ROOT, "scenarios")):
            path = os.path.join(folder, name)
            if os.path.exists(path):
                return path
        raise RuntimeError("no scenario " + name)

    @staticmethod
    def vscroll(out, label):
        m = re.search(r"apps: %s vscroll nPos (-?\d+)" % re.escape(label), out)
        return int(m.group(1)) if m else None

    @staticmethod
    def sim_scroll(outcome):
        for s in outcome.get("scrolls", []):
            if s.get("bar") == "vert":
                return s["before"], s["after"]
        return 0, 0

    def flick_on_list(self):
        outcomes, out, ran = self.play(self.scene("flick-list.scn"))
        before, after = self.sim_scroll(outcomes[0])
        pos = self.vscroll(out, "list")
        self.say(ran and pos == after and after > 0, "flick on the list box",
                 "nPos 0 -> %s, the simulator %d -> %d; the broker in %s" %
                 (pos, before, after, "wsys.exe" if self.one_process else "devmgr.exe"))
        return out

    def tap_on_list(self):
        outcomes, out, ran = self.play(self.scene("tap-list.scn"), settle=800)
        down = re.findall(r"apps: list button-down (\d+),(\d+)", out)
        up = re.findall(r"apps: list button-up (\d+),(\d+)", out)
        pos = self.vscroll(out, "list")
        sim = outcomes[0].get("decision", "?")
        ok = ran and len(down) == 1 and len(up) == 1 and pos == 0 and sim == "passed through"
        self.say(ok, "tap on the list box",
                 "%d button-down, %d button-up at %s, nPos %s; the simulator: %s" %
                 (len(down), len(up), ",".join(down[0]) if down else "-", pos, sim))

    def gesture_aware(self):
        outcomes, out, ran = self.play(self.scene("gesture-aware.scn"), settle=800)
        got = re.findall(r"apps: viewer message 1274 wParam 0x([0-9a-f]+) lParam 0x([0-9a-f]+)",
                         out)
        sim = outcomes[0]
        if len(got) == 1:
            w, l = int(got[0][0], 16), int(got[0][1], 16)
            behaviour, length, x, y = w & 0xFFFF, (w >> 16) & 0xFFFF, l & 0xFFFF, (l >> 16) & 0xFFFF
            # The length is the first code's, as the simulator names it ("L112").
            codes = sim.get("codes") or ["?0"]
            sim_length = int(re.sub(r"\D", "", codes[0]) or 0)
            ok = ran and behaviour == sim.get("behaviour") and (x, y) == (sim["x"], sim["y"]) \
                and length == sim_length
            measured = "one 1274, behaviour %d length %d at %d,%d; the simulator: behaviour %s " \
                       "length %d at %d,%d" % (behaviour, length, x, y, sim.get("behaviour"),
                                               sim_length, sim["x"], sim["y"])
        else:
            ok = False
            measured = "%d messages 1274" % len(got)
        self.say(ok, 'a "GST_" window gets 1274', measured)

    def activate_at_run_time(self):
        outcomes, out, ran = self.play(self.scene("activate-at-run-time.scn"))
        pos = self.vscroll(out, "list")
        sim = [o.get("decision") for o in outcomes]
        _, after = self.sim_scroll(outcomes[-1])
        ok = ran and pos == after and after > 0 and sim == ["passed through", "handed over"]
        self.say(ok, '"Activate" written at run time',
                 "first flick with 0 then a flick after the write of 1: nPos 0 -> %s; the "
                 "simulator: %s, 0 -> %d" % (pos, ", ".join(sim), after))

    def browser_page(self):
        outcomes, out, ran = self.play(self.scene("browser-page.scn"), settle=1000)
        commands = re.findall(r"apps: ie command (\d+)", out)
        sim = outcomes[0]
        ok = ran and commands == ["2205"] and sim.get("behaviour") == 102
        self.say(ok, 'a stroke to the left over "PIEHTML"',
                 '"IExplore" got WM_COMMAND %s; the simulator: behaviour %s, %s' %
                 (", ".join(commands) or "none", sim.get("behaviour"), sim.get("did")))

    def settings_program(self):
        preset = os.path.join(self.prefix.windows, "preset.reg")
        with open(preset, "w") as f:
            f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Activate\"=-\n")
        self.prefix.install()
        corvane = self.prefix.start(["Corvane.exe"])
        try:
            code, out = self.prefix.run(["corvane-check.exe"], timeout=60)
            try:
                corvane.wait(timeout=20)
                ended = corvane.returncode
            except subprocess.TimeoutExpired:
                ended = None
        finally:
            if corvane.poll() is None:
                corvane.kill()
                corvane.wait()
        m = re.search(r'settings: dialog "(.*)" open, window (\d+)x(\d+), client (\d+)x(\d+), '
                      r'switches (\w+) (\w+)', out)
        tapped = re.search(r"settings: after a tap on each, switches (\w+) (\w+)", out)
        opened = re.search(r"settings: registry after opening: (.*)", out)
        saved = re.search(r"settings: registry after Done: (.*)", out)
        framed = m is not None and int(m.group(2)) > int(m.group(4))
        ok = (code == 0 and m is not None and tapped is not None and framed and
              (m.group(6), m.group(7)) == ("off", "off") and tapped.groups() == ("on", "on") and
              saved is not None and saved.group(1).split() == ["Activate=1", "Default=1", "Sound=1"]
              and ended is not None)
        self.say(ok, "the settings program",
                 "dialog %s%s, switches %s -> %s; after opening %s; after Done %s; exit %s" %
                 ('"%s" %sx%s' % m.group(1, 2, 3) if m else "not found",
                  " with its frame" if framed else " without a frame",
                  " ".join(m.group(6, 7)) if m else "?",
                  " ".join(tapped.groups()) if tapped else "?",
                  opened.group(1) if opened else "?", saved.group(1) if saved else "?", ended))
        version = re.search(r'settings: About box version "(.*)"', out)
        self.say(version is not None and version.group(1) == "1.0.0.19", "the About box",
                 'version "%s"' % (version.group(1) if version else "not shown"))
        os.remove(preset)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--windows", required=True, help="the desktop build's programs")
    parser.add_argument("--markdown", help="write the comparison's table to FILE (see "
                        "compare_wine.py)")
    parser.add_argument("--only", action="append", metavar="CHECK",
                        help="run only this check (flick_on_list, tap_on_list, ...), without "
                        "the comparison; may be given more than once")
    parser.add_argument("--one-process", action="store_true",
                        help="the broker in wsys.exe beside the applications, not in devmgr.exe")
    parser.add_argument("--verbose", action="store_true", help="print each play's output")
    args = parser.parse_args()
    # An interrupt or a time-out of the whole run still removes the prefix.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    work = tempfile.mkdtemp(prefix="vexori-wine-run-")
    prefix = Prefix()
    checks = None
    try:
        prefix.make()
        prefix.copy_programs(args.windows)
        checks = Checks(prefix, os.path.abspath(args.sim), work, args.one_process)
        checks.verbose = args.verbose
        every = (checks.flick_on_list, checks.tap_on_list, checks.gesture_aware,
                 checks.activate_at_run_time, checks.browser_page, checks.settings_program)
        unknown = set(args.only or []) - {c.__name__ for c in every}
        if unknown:
            parser.error("no check %s" % ", ".join(sorted(unknown)))
        for check in every:
            if args.only and check.__name__ not in args.only:
                continue
            try:
                check()
            except (RuntimeError, subprocess.SubprocessError, OSError, IndexError) as e:
                checks.say(False, check.__name__.replace("_", " "), "did not run: %s" % e)
        # Every example and the tour's steps on both platforms, a line per stroke.
        if not args.only:
            scenarios = sorted(glob.glob(os.path.join(ROOT, "scenarios", "*.scn")))
            comparison = compare_all(prefix, args.sim, work, scenarios, tour=True,
                                     one_process=args.one_process)
            checks.failed += comparison.failed()
            checks.passed += len(comparison.rows) - comparison.failed()
            if args.markdown:
                write_markdown(args.markdown, comparison.markdown())
    finally:
        prefix.remove()
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (checks.passed, checks.failed) if checks else
          "0 passed, 1 failed")
    return 0 if checks and checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
