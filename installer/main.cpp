// Tolvane: installs or removes the virtual keyboard-and-mouse device's
// driver packages, silently, from an elevated process.

#include "common/app_shell.h"
#include "installer/installer.h"

namespace {
const ShellSteps INSTALLER_STEPS = {NULL, InstallerStartStep};
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR, int show) {
    // Our own reading of the command line, not the C runtime's.
    return RunApplicationShell(instance, previous, CommandLineTail(GetCommandLineW()), show, &INSTALLER_STEPS);
}
