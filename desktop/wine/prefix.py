"""A Wine prefix of its own for the desktop build's programs: made fresh in a temporary folder,
a crash never reported as a clean exit, a persistent wineserver while it is used, and everything
removed again by remove().

Headless by default (Graphics = "null"). Given an X display, the programs draw on it instead, with
windows the X server shows as they are (Managed = "N": a window manager's hand-over would stall
every window close by 2 s, and there is none).
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))


def first_of(*paths):
    for p in paths:
        found = shutil.which(p) if not os.path.isabs(p) else (p if os.path.exists(p) else None)
        if found:
            return found
    sys.exit("wine: no program found (%s)" % ", ".join(paths))


class Prefix:
    """A fresh Wine prefix, headless unless given a display, with a persistent server."""

    def __init__(self, display=None):
        self.wine = first_of("/usr/lib/wine/wine64", "wine64", "wine")
        self.server = first_of("/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver",
                               "wineserver")
        self.display = display
        self.path = tempfile.mkdtemp(prefix="vexori-wine-")
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=display or "")
        self.windows = os.path.join(self.path, "drive_c", "windows")
        self.persistent = None

    def run(self, args, timeout, cwd=None, check=False):
        try:
            done = subprocess.run([self.wine] + args, env=self.env, cwd=cwd or self.windows,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, timeout=timeout)
            out = done.stdout.decode("utf-8", "replace")
            if check and done.returncode != 0:
                raise RuntimeError("%s exited %d: %s" % (args[0], done.returncode, out[-400:]))
            return done.returncode, out
        except subprocess.TimeoutExpired as e:
            out = (e.stdout or b"").decode("utf-8", "replace")
            return None, out

    def start(self, args, cwd=None):
        return subprocess.Popen([self.wine] + args, env=self.env, cwd=cwd or self.windows,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)

    def play(self, wsys_args, timeout, one_process=False):
        """The window system's host with WSYS_ARGS, and the device manager's broker in devmgr.exe,
        a process of its own as on the phone (wsys.exe waits for the broker's window; devmgr.exe
        ends when wsys.exe's scene does). With one_process the broker runs in wsys.exe instead.
        Both write into one file opened for appending, so that their lines stay in the order they
        were written. Answers wsys.exe's exit code (None on a time-out), the output, and whether
        both hosts ran to their end."""
        if one_process:
            code, out = self.run(["wsys.exe"] + wsys_args + ["--device-manager"], timeout)
            ran = code == 0 and "no broker window" not in out
            if code != 0:
                out += "\n(wsys.exe %s)" % ("timed out" if code is None else "exited %d" % code)
            return code, out, ran
        with tempfile.TemporaryFile() as shared:
            fd = os.open("/proc/self/fd/%d" % shared.fileno(), os.O_WRONLY | os.O_APPEND)
            hosts = []
            try:
                for args in (["devmgr.exe", "--timeout", str(int(timeout * 1000) + 30000)],
                             ["wsys.exe"] + wsys_args):
                    hosts.append(subprocess.Popen([self.wine] + args, env=self.env,
                                                  cwd=self.windows, stdin=subprocess.DEVNULL,
                                                  stdout=fd, stderr=fd))
                codes = []
                for host, wait in zip(reversed(hosts), (timeout, 20)):
                    try:
                        codes.append(host.wait(timeout=wait))
                    except subprocess.TimeoutExpired:
                        codes.append(None)
            finally:
                os.close(fd)
                for host in hosts:
                    if host.poll() is None:
                        host.kill()
                        host.wait()
            shared.seek(0)
            out = shared.read().decode("utf-8", "replace")
        code, broker_code = codes
        for name, c in (("wsys.exe", code), ("devmgr.exe", broker_code)):
            if c != 0:
                out += "\n(%s %s)" % (name, "did not end" if c is None else "exited %d" % c)
        ran = code == 0 and broker_code == 0 and "no broker window" not in out
        return code, out, ran

    def reg(self, *args):
        self.run(["reg"] + list(args) + ["/f"], timeout=60, check=True)

    def make(self):
        code, out = self.run(["wineboot", "-i"], timeout=180, cwd=self.path)
        if code is None:
            raise RuntimeError("wineboot did not finish")
        if self.display:
            self.reg("add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N")
        else:
            self.reg("add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null")
        self.reg("add", r"HKCU\Software\Wine\Drivers", "/v", "Audio", "/d", "")
        # A crash must not be reported as a clean exit, nor open a dialog that waits.
        self.reg("add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "/v",
                 "Debugger", "/d", "vexori-no-debugger.exe")
        self.reg("add", r"HKLM\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t",
                 "REG_DWORD", "/d", "0")
        # The settings take effect only in a server started after them.
        subprocess.run([self.server, "-w"], env=self.env, timeout=120)
        self.persistent = subprocess.Popen([self.server, "-p", "-f"], env=self.env,
                                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)

    def copy_programs(self, folder):
        for name in os.listdir(folder):
            shutil.copy(os.path.join(folder, name), self.windows)

    def install(self):
        """The device's registry and the system's, a preset.reg in C:\\windows over them, on a
        registry cleared of what an earlier run left."""
        for key in (r"HKLM\Software\Quob", r"HKLM\SOFTWARE\QUOB", r"HKLM\DebugZones"):
            self.run(["reg", "delete", key, "/f"], timeout=60)
        w = self.windows
        shutil.copy(os.path.join(ROOT, "platform", "registry", "device.reg"), w)
        shutil.copy(os.path.join(ROOT, "install", "vexori.reg"), w)
        files = ["device.reg", "vexori.reg"]
        if os.path.exists(os.path.join(w, "preset.reg")):
            files.append("preset.reg")
        code, out = self.run(["reginstall.exe"] + files, timeout=60)
        if code != 0:
            raise RuntimeError("reginstall.exe: %s %s" % (code, out))

    def remove(self):
        try:
            subprocess.run([self.server, "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (subprocess.TimeoutExpired, OSError):
            pass
        if self.persistent is not None:
            try:
                self.persistent.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.persistent.kill()
                self.persistent.wait()
        shutil.rmtree(self.path, ignore_errors=True)
