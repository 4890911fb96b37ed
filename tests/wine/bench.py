#!/usr/bin/env python3
"""Performance figures of the daemon under Wine and the size of the shipped programs.

Run through tools/bench, which prepares the Wine session. Prints each figure
with its target; a missed target is marked but does not fail the run.
"""

import argparse
import statistics
import subprocess
import sys
from pathlib import Path

import winekit
from winekit import Programs

POLL_INTERVAL_MS = 1000
REACTION_TARGET_MS = 1100
WAIT_CPU_TARGET_MS = 20
START_RATIO_TARGET = 1.2
SIZE_TARGET_BYTES = 32 * 1024


def say(text=""):
    print(text)
    sys.stdout.flush()


def row(name, median, maximum, target, met):
    verdict = "" if met is None else ("met" if met else "MISSED")
    say(f"  {name:<44} {median:>12} {maximum:>12}   {target:<14} {verdict}")


def ms(value):
    return f"{value:.1f} ms"


def run_checked(programs, args, daemon=None):
    code, report = winekit.run_controller(programs, args, daemon=daemon)
    if "announce_ms" not in report or report.get("daemon_exit") != "0":
        raise RuntimeError(f"controller run {args} failed (exit {code}): {report}")
    return report


def measure_reaction(programs, runs):
    """Reaction after the window is destroyed and after a kill."""
    reaction, crash_reaction = [], []
    for index in range(runs):
        # Spread the moment of the window's end over one poll interval; no
        # hold at all is the worst case (the daemon has just tested).
        hold = index * POLL_INTERVAL_MS // runs
        args = ["--end", "window"] + (["--hold", str(hold)] if hold else [])
        reaction.append(float(run_checked(programs, args)["reaction_ms"]))
        crash_reaction.append(float(run_checked(programs, ["--end", "crash"])["reaction_ms"]))
    return reaction, crash_reaction


def measure_start(programs, runs):
    """Start to announcement of the daemon and of the minimal program,
    interleaved so that a change in the machine's load hits both alike. Both
    are closed through their window right after, which ends them at once."""
    announce, minimal_announce = [], []
    for _ in range(runs):
        announce.append(float(run_checked(programs, ["--end", "close"])["announce_ms"]))
        minimal_announce.append(float(run_checked(programs, ["--end", "close"], daemon=programs.minimal)
                                      ["announce_ms"]))
    return announce, minimal_announce


def measure_wait_cpu(programs, wait_s):
    report = run_checked(programs, ["--end", "window", "--hold", str(wait_s * 1000)])
    return float(report["daemon_cpu_start_ms"]), float(report["daemon_cpu_hold_ms"])


def image_sizes(path):
    """Whole file size and the size without the resource section."""
    import pefile  # Debian's python3-pefile

    image = pefile.PE(str(path), fast_load=True)
    size = path.stat().st_size
    directory = image.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]]
    resources = 0
    if directory.VirtualAddress:
        for section in image.sections:
            if section.contains_rva(directory.VirtualAddress):
                resources = section.SizeOfRawData
    machine = {0x14C: "x86", 0x8664: "x64"}.get(image.FILE_HEADER.Machine, hex(image.FILE_HEADER.Machine))
    image.close()
    return size, size - resources, machine


def find_minimal32(build32, explicit):
    if explicit:
        return Path(explicit)
    candidate = Path(build32) / "tests" / "wine" / "minimal_hidden.exe"
    if not candidate.is_file() and (Path(build32) / "CMakeCache.txt").is_file():
        subprocess.run(["cmake", "--build", str(build32), "--target", "minimal_hidden"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, check=False)
    return candidate


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(winekit.REPO / "build" / "win64"))
    parser.add_argument("--dist", default=str(winekit.REPO / "dist" / "x64"))
    parser.add_argument("--build32", default=str(winekit.REPO / "build" / "win32"))
    parser.add_argument("--dist32", default=str(winekit.REPO / "dist" / "x86"))
    parser.add_argument("--minimal32", help="32-bit build of the minimal program (default: from --build32)")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--start-runs", type=int, default=30, help="runs of each program for the start figures")
    parser.add_argument("--wait", type=int, default=30, help="seconds of the CPU measurement")
    args = parser.parse_args()

    programs = Programs(args.build, args.dist)
    missing = programs.missing([programs.controller, programs.minimal, programs.wirrelkin])
    healthy = True
    say(f"  {'figure':<44} {'median':>12} {'maximum':>12}   {'target':<14}")
    if missing:
        say("  daemon figures: missing " + ", ".join(missing))
        healthy = False
    else:
        reaction, crash_reaction = measure_reaction(programs, args.runs)
        announce, minimal_announce = measure_start(programs, args.start_runs)
        say(f"  daemon under Wine (64-bit build), {args.runs} runs each, {args.start_runs} for the start")
        row("reaction: window destroyed -> daemon exit", ms(statistics.median(reaction)), ms(max(reaction)),
            f"max <= {REACTION_TARGET_MS} ms", max(reaction) <= REACTION_TARGET_MS)
        row("reaction: controller killed -> daemon exit", ms(statistics.median(crash_reaction)),
            ms(max(crash_reaction)), f"max <= {REACTION_TARGET_MS} ms", max(crash_reaction) <= REACTION_TARGET_MS)
        row("start -> announcement, Wirrelkin", ms(statistics.median(announce)), ms(max(announce)), "", None)
        row("start -> announcement, minimal program", ms(statistics.median(minimal_announce)),
            ms(max(minimal_announce)), "", None)
        ratio = statistics.median(announce) / statistics.median(minimal_announce)
        row("start -> announcement, ratio of medians", f"{ratio:.2f}", "", f"<= {START_RATIO_TARGET}",
            ratio <= START_RATIO_TARGET)
        start_cpu, wait_cpu = measure_wait_cpu(programs, args.wait)
        row("daemon CPU time up to its announcement", ms(start_cpu), "", "", None)
        row(f"daemon CPU time over {args.wait} s of waiting", ms(wait_cpu), "", f"< {WAIT_CPU_TARGET_MS} ms",
            wait_cpu < WAIT_CPU_TARGET_MS)
        say("  (Wine reports process times in 10 ms steps)")

    say()
    say(f"  {'program size':<44} {'whole':>12} {'no resources':>12}   target")
    shipped = sorted(Path(args.dist32).glob("*.exe"))
    if not shipped:
        say(f"  no 32-bit programs in {args.dist32}")
        healthy = False
    for path in shipped:
        whole, code_only, machine = image_sizes(path)
        row(f"{path.name} ({machine})", f"{whole} B", f"{code_only} B", f"<= {SIZE_TARGET_BYTES} B",
            code_only <= SIZE_TARGET_BYTES)
    minimal32 = find_minimal32(args.build32, args.minimal32)
    if minimal32.is_file():
        whole, code_only, machine = image_sizes(minimal32)
        row(f"minimal hidden-window program ({machine})", f"{whole} B", f"{code_only} B", "", None)
    else:
        say(f"  minimal program: no 32-bit build at {minimal32}")
    return 0 if healthy else 1


if __name__ == "__main__":
    sys.exit(main())
