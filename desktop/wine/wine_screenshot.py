"""The settings dialog as Wine draws it: Corvane.exe from the desktop build in a Wine prefix of its
own, on an Xvfb display of its own, its dialog grabbed once it has painted and written as a PNG.

usage: wine_screenshot.py --windows BUILD-WIN32/windows --out docs/img/wine-settings.png

The X server picks a free display itself. The program, the wineserver and the X server are ended
and the prefix removed at the end, also when the dialog never shows or the run is interrupted.
Needs Xvfb, xwininfo (x11-utils), xwd (x11-apps) and xwdtopnm, pnmtopng (netpbm).
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

from prefix import Prefix

CAPTION = "Dialog"  # the settings dialog's caption in its template


class Display:
    """An Xvfb server on the first free display, the size of Wine's usual desktop."""

    def __init__(self):
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            self.end()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    def tool(self, args, timeout=10):
        done = subprocess.run(args, env=dict(os.environ, DISPLAY=self.name),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=timeout)
        return done.returncode, done.stdout

    def window(self, caption):
        """The id and the geometry ("WxH+X+Y") of the window with this name that has a size,
        or None."""
        code, out = self.tool(["xwininfo", "-root", "-tree"])
        if code != 0:
            return None
        for line in out.decode("utf-8", "replace").splitlines():
            m = re.match(r'\s*(0x[0-9a-f]+) "(.*)": .*\s((\d+)x(\d+)[+-]\d+[+-]\d+)', line)
            if m and m.group(2) == caption and int(m.group(4)) > 1 and int(m.group(5)) > 1:
                return m.group(1), m.group(3)
        return None

    def grab(self, window):
        """The window's pixels as an XWD image (its frame included: Wine draws it)."""
        code, out = self.tool(["xwd", "-silent", "-id", window])
        return out if code == 0 else None

    def end(self):
        if self.server.poll() is None:
            self.server.terminate()
            try:
                self.server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()


def painted(display, window, timeout):
    """The window's image once two grabs a moment apart agree (the dialog and its controls have
    painted), or None when it keeps changing until the time-out."""
    last = None
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        image = display.grab(window)
        if image is not None and image == last:
            return image
        last = image
        time.sleep(0.3)
    return None


def to_png(xwd, out):
    pnm = subprocess.run(["xwdtopnm"], input=xwd, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, check=True, timeout=30).stdout
    png = subprocess.run(["pnmtopng", "-compression", "9"], input=pnm, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, check=True, timeout=30).stdout
    with open(out, "wb") as f:
        f.write(png)


def shoot(prefix, display, windows, out, timeout):
    prefix.make()
    prefix.copy_programs(windows)
    # Both switches on, as the simulator's picture of the dialog shows them.
    with open(os.path.join(prefix.windows, "preset.reg"), "w") as f:
        f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n"
                "\"Activate\"=dword:00000001\n\"Sound\"=dword:00000001\n")
    prefix.install()
    corvane = prefix.start(["Corvane.exe"])
    try:
        window = None
        end = time.monotonic() + timeout
        while window is None and time.monotonic() < end and corvane.poll() is None:
            window = display.window(CAPTION)
            if window is None:
                time.sleep(0.2)
        if window is None:
            raise RuntimeError("the dialog did not show within %d s%s" %
                               (timeout, "" if corvane.poll() is None else
                                " (Corvane.exe exited %d)" % corvane.returncode))
        image = painted(display, window[0], timeout=20)
        if image is None:
            raise RuntimeError("the dialog kept changing; no steady picture")
        to_png(image, out)
        return window[1]
    finally:
        if corvane.poll() is None:
            corvane.kill()
            corvane.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows", required=True, help="the desktop build's programs")
    parser.add_argument("--out", required=True, help="the PNG to write")
    parser.add_argument("--timeout", type=int, default=60,
                        help="seconds to wait for the dialog to show")
    args = parser.parse_args()
    # An interrupt or a time-out of the whole run still ends the servers and removes the prefix.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    display = prefix = None
    try:
        display = Display()
        prefix = Prefix(display=display.name)
        geometry = shoot(prefix, display, args.windows, args.out, args.timeout)
    except (RuntimeError, subprocess.SubprocessError, OSError) as e:
        print("wine-screenshot: %s" % e, file=sys.stderr)
        return 1
    finally:
        if prefix is not None:
            prefix.remove()
        if display is not None:
            display.end()
    print("wine-screenshot: wrote %s (the dialog %s on the screen)" % (args.out, geometry))
    return 0


if __name__ == "__main__":
    sys.exit(main())
