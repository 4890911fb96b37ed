#!/usr/bin/env python3
"""Platform-call sequences of the real programs under Wine, from its relay trace.

  relay.py extract LOG [--pid PID] [--thread main|worker|all] [--args]
      The ordered function names that one process's own code called, one a
      line (with --args: thread, name and each argument's low 32 bits).
  relay.py run SCENARIO... --out DIR [--functions simulated|all] [--host BUILD]
      Runs scenarios under Wine with the relay trace on (needs the Wine
      session of tests/wine/relay_scenario) and writes DIR/<scenario>.relay
      (the raw trace), DIR/<scenario>.calls (the extracted names) and
      DIR/<scenario>.detail (with threads and arguments). With --host, each
      is then simulated and compared as below.
  relay.py simulate SCENARIO... --out DIR [--host BUILD]
      Runs the host build of the same program in the simulated world of
      sim_scenarios/<scenario>.scenario (Wine's view: no virtual device, Wine's
      own two HID interfaces, no filter driver) and writes DIR/<scenario>.journal.
  relay.py compare CALLS JOURNAL
      Sets the names of a .calls file beside the names of a simulated run's
      journal (first word of each line) and prints where they part. Names
      that only one side holds are listed apart (the journal does not log
      every call, and the C runtime's calls are not in the simulation), and
      the two orders are compared over the names both hold. --ignore leaves
      names out on both sides, for instance GetMessageW: the trace shows a
      blocking call when it starts, the journal when it returns.

Only calls made from Tolvane.exe or Wirrelkin.exe themselves are traced
(RelayFromInclude), so calls that the system DLLs make on the program's
behalf do not appear. "simulated" traces the functions that the simulated
layer declares (winsim/include), which is what its journal can hold; "all"
traces every import, the C runtime's included, to find calls the simulation
does not model.
"""

import argparse
import difflib
import os
import re
import subprocess
import sys
import time
from collections import Counter
from pathlib import Path

import winekit
from winekit import KitFolder, Programs

PROGRAM_MODULES = ["Tolvane.exe", "Wirrelkin.exe"]
# Declared in the simulated headers but not imported from a DLL by the real
# programs (compiler intrinsics and the entry point).
NOT_IMPORTED = {"wWinMain", "InterlockedCompareExchange"}
# Wine's kernel32 forwards these to ntdll; the trace shows the ntdll name.
FORWARDED = {
    "HeapAlloc": "RtlAllocateHeap",
    "HeapReAlloc": "RtlReAllocateHeap",
    "SetLastError": "RtlSetLastWin32Error",
}
TRACE_NAMES = {ntdll: kernel32 for kernel32, ntdll in FORWARDED.items()}


def simulated_functions():
    names = set()
    for header in (winekit.REPO / "winsim" / "include").glob("*.h"):
        names.update(re.findall(r"\bWINAPI\s+(\w+)\s*\(", header.read_text()))
    names -= NOT_IMPORTED
    return sorted(names | {FORWARDED[n] for n in names if n in FORWARDED})


def thread_labels(calls):
    """main for the first thread that calls, worker, worker2... for later ones."""
    labels = {}
    for call in calls:
        if call.tid not in labels:
            labels[call.tid] = "main" if not labels else ("worker" if len(labels) == 1 else f"worker{len(labels)}")
    return labels


def program_pid(log_text):
    """The one process whose own calls are in the trace."""
    pids = {call.pid for call in winekit.relay_calls(log_text)}
    if len(pids) != 1:
        raise SystemExit(f"the trace holds calls of {len(pids)} processes; name one with --pid")
    return pids.pop()


def extract(log_text, pid=None, thread="all", with_args=False):
    pid = program_pid(log_text) if pid is None else pid
    calls = winekit.relay_calls(log_text, pid)
    labels = thread_labels(calls)
    lines = []
    for call in calls:
        label = labels[call.tid]
        if thread != "all" and label != thread:
            continue
        name = TRACE_NAMES.get(call.function, call.function)
        if with_args:
            shown = " ".join(winekit.relay_string(a) if a[1] else f"{a[0]:x}" for a in call.arguments)
            lines.append(f"{label} {name} {shown}".rstrip())
        else:
            lines.append(name)
    return lines


# Scenarios: each runs one program once and returns its pid.

def installer_scenario(suffix, post=None):
    def run(programs):
        kit = KitFolder(programs, "zelph relay/kit folder")
        kit.prepare()
        options = []
        if post:
            kit.hold("devcon")
            options = ["--wait-file", winekit.win_path(kit.log), "begin\tdevcon", "--post", "TOLVANE", post]
        report = winekit.launch(programs, kit.command_line(suffix), options,
                                env={"WINEDEBUG": winekit.RELAY_DEBUG}, stderr_path=run.log)
        kit.release("devcon")
        if post:
            kit.wait_for(lambda runs: any(r.event == "end" for r in runs), 10)
        return int(report["pid"])
    return run


def daemon_scenario(controller_args=None, tail=None):
    def run(programs):
        if tail is not None:
            report = winekit.launch(programs, winekit.quoted(programs.wirrelkin) + tail,
                                    env={"WINEDEBUG": winekit.RELAY_DEBUG}, stderr_path=run.log)
            return int(report["pid"])
        _, report = winekit.run_controller(programs, controller_args, env={"WINEDEBUG": winekit.RELAY_DEBUG},
                                           stderr_path=run.log)
        # The crash watcher reports after the controller has gone.
        time.sleep(0.2)
        return int(report["daemon_pid"])
    return run


SCENARIOS = {
    "installer-install": installer_scenario(""),
    "installer-uninstall": installer_scenario(" /Uninstall"),
    "installer-smart-uninstall": installer_scenario(" /SmartUninstall"),
    "installer-close": installer_scenario("", post="close"),
    "installer-command-105": installer_scenario("", post="105"),
    "daemon-window-destroyed": daemon_scenario(["--end", "window"]),
    "daemon-controller-killed": daemon_scenario(["--end", "crash"]),
    "daemon-close": daemon_scenario(["--end", "close"]),
    "daemon-command-105": daemon_scenario(["--end", "command"]),
    "daemon-about": daemon_scenario(["--about", "--end", "window"]),
    "daemon-empty-command-line": daemon_scenario(tail=""),
}


def run_scenarios(names, out_dir, functions, build, dist, host=None, ignore=()):
    programs = Programs(build, dist)
    missing = programs.missing(programs.helpers() + [programs.tolvane, programs.wirrelkin])
    if missing:
        raise SystemExit("missing programs: " + ", ".join(missing))
    traced = simulated_functions() if functions == "simulated" else []
    winekit.configure_relay(traced, PROGRAM_MODULES)
    out_dir.mkdir(parents=True, exist_ok=True)
    for name in names:
        scenario = SCENARIOS[name]
        scenario.log = out_dir / f"{name}.relay"
        pid = scenario(programs)
        log_text = scenario.log.read_text("utf-8", "replace")
        (out_dir / f"{name}.calls").write_text("\n".join(extract(log_text, pid)) + "\n")
        (out_dir / f"{name}.detail").write_text("\n".join(extract(log_text, pid, with_args=True)) + "\n")
        print(f"{name}: {len(extract(log_text, pid))} calls")
    if host is None:
        return 0
    differing = 0
    for name in names:
        if not (SIM_SCENARIOS / f"{name}.scenario").is_file():
            continue
        print(f"== {name}")
        simulate([name], out_dir, host)
        differing += compare(out_dir / f"{name}.calls", out_dir / f"{name}.journal", ignore)
    return 1 if differing else 0


SIM_SCENARIOS = Path(__file__).resolve().parent / "sim_scenarios"


def simulate(names, out_dir, host_build):
    out_dir.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ)
    for name in names:
        scenario = SIM_SCENARIOS / f"{name}.scenario"
        if not scenario.is_file():
            print(f"{name}: no simulated scenario")
            continue
        program = Path(host_build) / ("installer/Tolvane" if name.startswith("installer") else "daemon/Wirrelkin")
        journal = out_dir / f"{name}.journal"
        journal.unlink(missing_ok=True)
        env.update(WINSIM_SCENARIO=str(scenario), WINSIM_JOURNAL=str(journal))
        done = subprocess.run([str(program)], env=env, timeout=60, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        print(f"{name}: exit code {done.returncode}, {len(journal_names(journal.read_text()))} calls")


def journal_names(journal_text):
    names = []
    for line in journal_text.splitlines():
        word = line.split(" ", 1)[0]
        if re.fullmatch(r"[A-Za-z_]\w*", word):
            names.append(word)
    return names


def compare(calls_path, journal_path, ignore=()):
    relay = [line.strip() for line in Path(calls_path).read_text().splitlines() if line.strip()]
    simulated = journal_names(Path(journal_path).read_text("utf-8", "replace"))
    relay = [n for n in relay if n not in ignore]
    simulated = [n for n in simulated if n not in ignore]
    for label, names, other in (("only in the Wine trace", relay, simulated),
                                ("only in the simulated journal", simulated, relay)):
        apart = Counter(n for n in names if n not in set(other))
        if apart:
            print(f"{label}: " + ", ".join(f"{n} x{c}" for n, c in sorted(apart.items())))
    common = set(relay) & set(simulated)
    relay = [n for n in relay if n in common]
    simulated = [n for n in simulated if n in common]
    if relay == simulated:
        print(f"same order of the {len(relay)} calls of the {len(common)} functions both hold")
        return 0
    sys.stdout.writelines(difflib.unified_diff([n + "\n" for n in relay], [n + "\n" for n in simulated],
                                               "wine relay", "simulated journal", n=2))
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    p_extract = commands.add_parser("extract")
    p_extract.add_argument("log")
    p_extract.add_argument("--pid", help="process id, decimal or 0x-hexadecimal (default: the only one)")
    p_extract.add_argument("--thread", choices=["main", "worker", "all"], default="all")
    p_extract.add_argument("--args", action="store_true")
    p_run = commands.add_parser("run")
    p_run.add_argument("scenarios", nargs="+", help="names, or all: " + ", ".join(SCENARIOS))
    p_run.add_argument("--out", required=True)
    p_run.add_argument("--functions", choices=["simulated", "all"], default="simulated")
    p_run.add_argument("--build", default=str(winekit.REPO / "build" / "win64"))
    p_run.add_argument("--dist", default=str(winekit.REPO / "dist" / "x64"))
    p_run.add_argument("--host", help="host build to simulate and compare with (e.g. build/host)")
    p_run.add_argument("--ignore", default="", help="comma-separated names left out of the comparison")
    p_simulate = commands.add_parser("simulate")
    p_simulate.add_argument("scenarios", nargs="+")
    p_simulate.add_argument("--out", required=True)
    p_simulate.add_argument("--host", default=str(winekit.REPO / "build" / "host"))
    p_compare = commands.add_parser("compare")
    p_compare.add_argument("calls")
    p_compare.add_argument("journal")
    p_compare.add_argument("--ignore", default="", help="comma-separated names left out of the comparison")
    args = parser.parse_args()

    if args.command == "extract":
        pid = int(args.pid, 0) if args.pid else None
        text = Path(args.log).read_text("utf-8", "replace")
        print("\n".join(extract(text, pid, args.thread, args.args)))
        return 0
    if args.command == "run":
        names = list(SCENARIOS) if args.scenarios == ["all"] else args.scenarios
        unknown = [n for n in names if n not in SCENARIOS]
        if unknown:
            raise SystemExit("unknown scenarios: " + ", ".join(unknown))
        return run_scenarios(names, Path(args.out).resolve(), args.functions, args.build, args.dist, args.host,
                             set(filter(None, args.ignore.split(","))))
    if args.command == "simulate":
        names = list(SCENARIOS) if args.scenarios == ["all"] else args.scenarios
        simulate(names, Path(args.out).resolve(), args.host)
        return 0
    return compare(args.calls, args.journal, set(filter(None, args.ignore.split(","))))


if __name__ == "__main__":
    sys.exit(main())
