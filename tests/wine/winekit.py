"""Shared pieces of the checks that run the Windows programs under Wine.

The end-to-end tests (e2e.py), the demo transcript and the benchmark all use
these: where the programs and the test helpers are, how to run a Windows
program and read its "key=value" report, the installer's kit folder with the
stand-in tools, and Wine's relay trace.

Everything here expects a Wine session prepared by tools/lib/wine.sh
(WINEPREFIX and friends in the environment).
"""

import os
import re
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINE_LOADER = os.environ.get("WINE_LOADER", "/usr/lib/wine/wine64")

# What the two stand-ins must receive in install mode, in this order: the
# text after "/c" of each command line the installer gives to "cmd".
INSTALL_COMMANDS = [
    ("devcon", 'devcon.exe install ZelphHid_0.inf "{8FBC4165-480D-4230-B1DF-7B86F3E5A3CC}\\HID_DEVICE"'),
    ("DIFxCmd", "DIFxCmd.exe /i ZelphMouFiltr_0.inf"),
]
STANDIN_TOOLS = ("devcon", "DIFxCmd")
DRIVER_PACKAGES = ("ZelphHid_0.inf", "ZelphMouFiltr_0.inf")

WM_DAEMON_ANNOUNCE = 0x4854


class Programs:
    """The programs under test (dist) and the helpers (build tree)."""

    def __init__(self, build_dir, dist_dir):
        self.build_dir = Path(build_dir).resolve()
        self.dist_dir = Path(dist_dir).resolve()
        self.tolvane = self.dist_dir / "Tolvane.exe"
        self.wirrelkin = self.dist_dir / "Wirrelkin.exe"
        helpers = self.build_dir / "tests" / "wine"
        self.standin = helpers / "standin_tool.exe"
        self.launcher = helpers / "launch.exe"
        self.hid_list = helpers / "hid_list.exe"
        self.minimal = helpers / "minimal_hidden.exe"
        self.controller = self.build_dir / "examples" / "controller" / "controller.exe"

    def helpers(self):
        return [self.standin, self.launcher, self.hid_list, self.minimal, self.controller]

    def missing(self, paths):
        return [str(p) for p in paths if not p.is_file()]


def prefix():
    return Path(os.environ["WINEPREFIX"])


def win_path(path):
    """The Windows name of a Unix path (C: is the prefix's drive_c, Z: is /)."""
    path = Path(os.path.abspath(path))
    drive_c = Path(os.path.abspath(prefix() / "drive_c"))
    try:
        rest = path.relative_to(drive_c)
        return "C:\\" + str(rest).replace("/", "\\") if str(rest) != "." else "C:\\"
    except ValueError:
        return "Z:" + str(path).replace("/", "\\")


def quoted(path):
    return '"' + win_path(path) + '"'


def run_wine(exe, args=(), env=None, timeout=60, stderr_path=None):
    """Runs a Windows program; returns (exit code, stdout text)."""
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    # A neutral working directory, so that no test passes only because the
    # program happened to start in the right folder.
    cwd = prefix() / "drive_c"
    stderr = open(stderr_path, "wb") if stderr_path else subprocess.DEVNULL
    try:
        done = subprocess.run([WINE_LOADER, str(exe), *args], cwd=cwd, env=full_env, stdout=subprocess.PIPE,
                              stderr=stderr, timeout=timeout)
    finally:
        if stderr_path:
            stderr.close()
    return done.returncode, done.stdout.decode("utf-8", "replace")


def parse_report(text):
    """The "key=value" lines of a helper's output as a dict (last one wins)."""
    report = {}
    for line in text.splitlines():
        key, sep, value = line.strip().partition("=")
        if sep:
            report[key] = value
    return report


def launch(programs, command_line, options=(), timeout_ms=30000, env=None, stderr_path=None):
    """Starts a program with an exact command line through launch.exe."""
    launch_env = {"LAUNCH_CMDLINE": command_line}
    if env:
        launch_env.update(env)
    code, out = run_wine(programs.launcher, ["--timeout", str(timeout_ms), *options], env=launch_env,
                         timeout=timeout_ms / 1000 + 30, stderr_path=stderr_path)
    report = parse_report(out)
    report["launch_exit"] = str(code)
    return report


def run_controller(programs, args=(), daemon=None, env=None, stderr_path=None, timeout=120):
    """Runs the sample controller against the daemon; returns (exit code, report)."""
    daemon = programs.wirrelkin if daemon is None else daemon
    code, out = run_wine(programs.controller, ["--daemon", win_path(daemon), *args], env=env, timeout=timeout,
                         stderr_path=stderr_path)
    return code, parse_report(out)


@dataclass
class ToolRun:
    event: str      # "begin" or "end"
    tool: str       # "devcon" or "DIFxCmd"
    pid: int
    ticks: int      # FILETIME, 100 ns units
    cwd: str
    command_line: str


class KitFolder:
    """The installer's folder: Tolvane.exe beside the stand-in tools.

    Each kit gets a folder of its own, so that a tool still running from an
    earlier case cannot write into a later case's log."""

    count = 0

    def __init__(self, programs, relative="zelph e2e/kit folder", numbered=True):
        KitFolder.count += 1
        self.programs = programs
        self.path = prefix() / "drive_c" / (f"{relative} {KitFolder.count}" if numbered else relative)
        self.log = self.path / "standin.log"

    @property
    def win(self):
        return win_path(self.path)

    @property
    def installer(self):
        return self.path / "Tolvane.exe"

    def prepare(self):
        """A fresh folder: the installer, both stand-ins, both package files."""
        if self.path.exists():
            shutil.rmtree(self.path)
        self.path.mkdir(parents=True)
        shutil.copy(self.programs.tolvane, self.installer)
        for tool in STANDIN_TOOLS:
            shutil.copy(self.programs.standin, self.path / (tool + ".exe"))
        for package in DRIVER_PACKAGES:
            (self.path / package).write_text("; placeholder package\n")

    def set_exit_code(self, tool, code):
        (self.path / (tool + ".exitcode")).write_text(str(code))

    def hold(self, tool):
        (self.path / (tool + ".hold")).write_text("")

    def release(self, tool):
        (self.path / (tool + ".hold")).unlink(missing_ok=True)

    def remove_tool(self, tool):
        (self.path / (tool + ".exe")).unlink()

    def command_line(self, suffix=""):
        """The installer's quoted path followed by suffix, byte for byte."""
        return quoted(self.installer) + suffix

    def runs(self):
        if not self.log.exists():
            return []
        records = []
        for line in self.log.read_text("utf-8").splitlines():
            event, tool, pid, ticks, cwd, command_line = line.split("\t", 5)
            records.append(ToolRun(event, tool, int(pid), int(ticks), cwd, command_line))
        return records

    def wait_for(self, predicate, timeout_s):
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            if predicate(self.runs()):
                return True
            time.sleep(0.05)
        return predicate(self.runs())


# Wine's relay trace. A process started with WINEDEBUG=+relay logs every call
# into the functions named in HKCU\Software\Wine\Debug\RelayInclude, made from
# the modules in RelayFromInclude, to its standard error.

RELAY_DEBUG = "+relay,+pid,+tid"
RELAY_KEY = "HKCU\\Software\\Wine\\Debug"

_CALL = re.compile(r"^([0-9a-f]+):([0-9a-f]+):Call ([\w.-]+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
_ARGUMENT = re.compile(r'\s*([0-9a-fA-F]+)(?:\s+(L?"(?:[^"\\]|\\.)*"))?\s*(?:,|$)')


@dataclass
class RelayCall:
    pid: int
    tid: int
    module: str
    function: str
    arguments: list   # (low 32 bits of the slot, string shown beside it or None)
    caller: int


def configure_relay(functions, from_modules):
    """Sets which functions are traced (all when empty) and from which modules.

    Wine ignores an include list while the matching exclude list exists, and
    a new prefix comes with default exclude lists, so those go first."""
    for name in ("RelayExclude", "RelayFromExclude", "RelayInclude"):
        run_wine("reg", ["delete", RELAY_KEY, "/v", name, "/f"])
    settings = [("RelayFromInclude", ";".join(from_modules))]
    if functions:
        settings.append(("RelayInclude", ";".join(functions)))
    for name, value in settings:
        code, _ = run_wine("reg", ["add", RELAY_KEY, "/v", name, "/d", value, "/f"])
        if code != 0:
            raise RuntimeError("cannot set " + name)


def parse_relay_arguments(text):
    arguments = []
    position = 0
    while position < len(text):
        match = _ARGUMENT.match(text, position)
        if not match or match.end() == position:
            break
        # A 32-bit program's arguments sit in 64-bit slots here; only the
        # low half carries the value.
        arguments.append((int(match.group(1), 16) & 0xFFFFFFFF, match.group(2)))
        position = match.end()
    return arguments


def relay_calls(log_text, pid=None):
    """The traced calls in log order, of one process when pid is given."""
    calls = []
    for line in log_text.splitlines():
        match = _CALL.match(line)
        if not match:
            continue
        call_pid = int(match.group(1), 16)
        if pid is not None and call_pid != pid:
            continue
        calls.append(RelayCall(call_pid, int(match.group(2), 16), match.group(3), match.group(4),
                               parse_relay_arguments(match.group(5)), int(match.group(6), 16)))
    return calls


def relay_string(argument):
    """The text of a string argument as the trace shows it, unescaped."""
    shown = argument[1]
    if shown is None:
        return None
    body = shown[2:-1] if shown.startswith("L") else shown[1:-1]
    return re.sub(r"\\(.)", r"\1", body)
