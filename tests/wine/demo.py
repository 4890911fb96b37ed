#!/usr/bin/env python3
"""A short readable transcript of both programs at work under Wine.

Run through tests/wine/demo_transcript, which prepares the Wine session.
"""

import argparse
import sys

import winekit
from winekit import KitFolder, Programs

DAEMON_CALLS = ["CreateFileW", "DeviceIoControl", "WriteFile", "PostMessageW", "ExitProcess"]


def say(text=""):
    print(text)
    sys.stdout.flush()


def describe_call(call):
    shown = []
    for value, text in call.arguments:
        shown.append(winekit.relay_string((value, text)) if text else f"0x{value:x}")
    return f"{call.function}({', '.join(shown)})"


def daemon_part(programs, work):
    say("== Wirrelkin with the sample controller")
    relay_log = work / "demo-daemon-relay.log"
    winekit.configure_relay(DAEMON_CALLS, ["Wirrelkin.exe"])
    code, report = winekit.run_controller(programs, ["--end", "window", "--hold", "1200"],
                                          env={"WINEDEBUG": winekit.RELAY_DEBUG}, stderr_path=relay_log)
    if "announce_ms" not in report:
        say(f"   no announcement arrived: {report}")
        return False
    say(f"   controller window {report['controller_window']} created; daemon started as")
    say(f"     {report['daemon_command_line']}")
    say(f"   announcement after {report['announce_ms']} ms: window {report['daemon_window']}, "
        f"class {report['daemon_window_class']}, "
        f"{'hidden' if report['daemon_window_visible'] == '0' else 'VISIBLE'}")
    say(f"   controller keeps its window 1.2 s: daemon still running: "
        f"{'yes' if report.get('daemon_alive_after_hold') == '1' else 'NO'}")
    say(f"   controller destroys its window; the daemon exits with {report.get('daemon_exit')} "
        f"after {report.get('reaction_ms')} ms")
    calls = winekit.relay_calls(relay_log.read_text("utf-8", "replace"), int(report["daemon_pid"]))
    cleanup = [c for c in calls if c.function != "PostMessageW"]
    if cleanup:
        say("   its way out, as Wine traced it (Wine has neither filter driver):")
        for call in cleanup:
            say(f"     {describe_call(call)}")

    code, report = winekit.run_controller(programs, ["--end", "crash"])
    say(f"   a second controller is killed (exit code {report.get('controller_exit')}); its daemon exits "
        f"with {report.get('daemon_exit')} after {report.get('reaction_ms')} ms")
    return report.get("daemon_exit") == "0"


def installer_part(programs):
    kit = KitFolder(programs, "zelph demo/driver kit", numbered=False)
    kit.prepare()
    say()
    say(f"== Tolvane in {kit.win}\\ beside the stand-ins for devcon.exe and DIFxCmd.exe")
    healthy = True
    for label, suffix in (("install (no option)", ""), ("/Uninstall", " /Uninstall"),
                          ("/SmartUninstall", " /SmartUninstall")):
        before = len(kit.runs())
        report = winekit.launch(programs, kit.command_line(suffix))
        runs = [r for r in kit.runs()[before:] if r.event == "end"]
        say(f"   {label}: exit code {report.get('exit_code')} after {report.get('exit_ms')} ms")
        if not runs:
            say("     no tool ran (Wine has no virtual HID device)")
        begins = {r.pid: r for r in kit.runs()[before:] if r.event == "begin"}
        for run in runs:
            begun = begins.get(run.pid)
            seconds = (run.ticks - begun.ticks) / 1e7 if begun else 0
            say(f"     {run.tool} received: {run.command_line}")
            say(f"       in {run.cwd}, ran {seconds:.2f} s")
        healthy = healthy and report.get("exit_code") == "0"
    return healthy


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(winekit.REPO / "build" / "win64"))
    parser.add_argument("--dist", default=str(winekit.REPO / "dist" / "x64"))
    args = parser.parse_args()
    programs = Programs(args.build, args.dist)
    missing = programs.missing(programs.helpers() + [programs.tolvane, programs.wirrelkin])
    if missing:
        say("missing programs (build the win64 preset first):")
        for path in missing:
            say(f"  {path}")
        return 1
    work = winekit.prefix() / "demo-work"
    work.mkdir(exist_ok=True)
    healthy = daemon_part(programs, work)
    healthy = installer_part(programs) and healthy
    return 0 if healthy else 1


if __name__ == "__main__":
    sys.exit(main())
