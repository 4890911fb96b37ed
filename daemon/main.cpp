// Wirrelkin: started by the controller application with the controller's
// window handle; releases every key and mouse button of the virtual device
// once the controller is gone, however it ended.

#include "common/app_shell.h"
#include "daemon/daemon.h"
#include "daemon/encoder.h"

// Constructed in this order before the entry runs, destroyed in reverse
// order by the runtime's exit: the binding opens vendorDevice and closes it.
HidDevice vendorDevice;
static VendorBinding vendorBinding;

namespace {
const ShellSteps DAEMON_STEPS = {DaemonEarlyStep, DaemonStartStep};
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR, int show) {
    return RunApplicationShell(instance, previous, CommandLineTail(GetCommandLineW()), show, &DAEMON_STEPS);
}
