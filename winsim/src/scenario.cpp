// Scenario files: a world for a whole host program, one setting per line.
//
//   command_line <text to the end of the line>
//   module_path <path to the end of the line>
//   module_path_unterminated <path>    cut paths are not terminated (older systems)
//   string <id> <text>                 string resource
//   no_accelerators
//   fail_window_creation
//   dialog_answer <command>            what the About box is answered with
//   hid <path> vid=<hex> pid=<hex> page=<hex> usage=<hex> [open_fails]
//       [preparsed_fails] [attributes_fail] [caps_fail] [held=<access>/<share>]...
//   fail_device_info_set
//   fail_interface_data <index> <error> [and_all_after]
//   detail_size <index> <bytes>
//   fail_detail_read <index>
//   control_device <name>
//   foreign_window <handle> [lifetime_ms=<n>] [lifetime_tests=<n>]
//   post_at <ms> <message> [wParam] [lParam]    message: WM_CLOSE, WM_COMMAND, WM_SYSCHAR or a number
//   child_run_time <ms>
//   screen <left> <top> <width> <height>
//   fail <Function> <nth> [error]
//   fail_nth_call <n>
//   stall <Function> <nth> <ms>       the calling thread is held back after that call
// Numbers may be decimal or 0x-prefixed hexadecimal; '#' starts a comment line.

#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace winsim {

namespace {

uint64_t Number(const std::string& text, int base = 0) { return strtoull(text.c_str(), nullptr, base); }

std::string Rest(const std::string& line, const std::string& key) {
    std::string rest = line.substr(key.size());
    size_t start = rest.find_first_not_of(' ');
    return start == std::string::npos ? "" : rest.substr(start);
}

bool HidLine(std::istringstream& words) {
    HidInterface hid;
    std::string path;
    words >> path;
    hid.path = Utf16(path);
    std::vector<std::pair<DWORD, DWORD>> held;
    for (std::string word; words >> word;) {
        size_t eq = word.find('=');
        std::string key = word.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
        if (key == "vid") hid.vendorId = static_cast<USHORT>(Number(value, 16));
        else if (key == "pid") hid.productId = static_cast<USHORT>(Number(value, 16));
        else if (key == "page") hid.usagePage = static_cast<USHORT>(Number(value, 16));
        else if (key == "usage") hid.usage = static_cast<USHORT>(Number(value, 16));
        else if (key == "open_fails") hid.openFails = true;
        else if (key == "preparsed_fails") hid.preparsedFails = true;
        else if (key == "attributes_fail") hid.attributesFail = true;
        else if (key == "caps_fail") hid.capsFail = true;
        else if (key == "held") {
            size_t slash = value.find('/');
            if (slash == std::string::npos) return false;
            held.push_back({static_cast<DWORD>(Number(value.substr(0, slash))), static_cast<DWORD>(Number(value.substr(slash + 1)))});
        } else {
            return false;
        }
    }
    size_t index = AddHidInterface(hid);
    for (const auto& [access, share] : held) HoldHidInterface(index, access, share);
    return !path.empty();
}

UINT MessageNumber(const std::string& name) {
    if (name == "WM_CLOSE") return WM_CLOSE;
    if (name == "WM_COMMAND") return WM_COMMAND;
    if (name == "WM_SYSCHAR") return WM_SYSCHAR;
    return static_cast<UINT>(Number(name));
}

bool ApplyLine(const std::string& line) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    std::string a, b, c, d;
    if (key == "command_line") SetCommandLine(Utf16(Rest(line, key)));
    else if (key == "module_path") SetModulePath(Utf16(Rest(line, key)), true);
    else if (key == "module_path_unterminated") SetModulePath(Utf16(Rest(line, key)), false);
    else if (key == "string") {
        words >> a;
        std::string text = Rest(Rest(line, key), a);
        AddString(static_cast<UINT>(Number(a)), Utf16(text));
    } else if (key == "no_accelerators") SetAcceleratorTable(false);
    else if (key == "fail_window_creation") FailWindowCreation();
    else if (key == "dialog_answer" && words >> a) SetDialogAnswer(static_cast<int>(Number(a)));
    else if (key == "hid") return HidLine(words);
    else if (key == "fail_device_info_set") FailDeviceInfoSet();
    else if (key == "fail_interface_data" && words >> a >> b) {
        words >> c;
        FailInterfaceData(static_cast<DWORD>(Number(a)), static_cast<DWORD>(Number(b)), c == "and_all_after");
    } else if (key == "detail_size" && words >> a >> b) ReportDetailSize(static_cast<DWORD>(Number(a)), static_cast<DWORD>(Number(b)));
    else if (key == "fail_detail_read" && words >> a) FailDetailRead(static_cast<DWORD>(Number(a)));
    else if (key == "control_device" && words >> a) AddControlDevice(Utf16(a));
    else if (key == "foreign_window" && words >> a) {
        uint64_t lifetime = UINT64_MAX;
        unsigned tests = 0;
        for (std::string word; words >> word;) {
            if (word.rfind("lifetime_ms=", 0) == 0) lifetime = Number(word.substr(12));
            else if (word.rfind("lifetime_tests=", 0) == 0) tests = static_cast<unsigned>(Number(word.substr(15)));
            else return false;
        }
        AddForeignWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(Number(a))), lifetime, tests);
    } else if (key == "post_at" && words >> a >> b) {
        words >> c >> d;
        PostToMainWindowAt(Number(a), MessageNumber(b), static_cast<WPARAM>(Number(c)), static_cast<LPARAM>(Number(d)));
    } else if (key == "child_run_time" && words >> a) SetChildRunTime(static_cast<DWORD>(Number(a)));
    else if (key == "screen" && words >> a >> b >> c >> d)
        SetVirtualScreen(static_cast<int>(strtol(a.c_str(), nullptr, 0)), static_cast<int>(strtol(b.c_str(), nullptr, 0)),
                         static_cast<int>(strtol(c.c_str(), nullptr, 0)), static_cast<int>(strtol(d.c_str(), nullptr, 0)));
    else if (key == "fail" && words >> a >> b) {
        DWORD error = ERROR_GEN_FAILURE;
        if (words >> c) error = static_cast<DWORD>(Number(c));
        FailCall(a, static_cast<unsigned>(Number(b)), error);
    } else if (key == "fail_nth_call" && words >> a) FailNthCall(static_cast<unsigned>(Number(a)));
    else if (key == "stall" && words >> a >> b >> c)
        StallAfter(a, static_cast<unsigned>(Number(b)), static_cast<DWORD>(Number(c)));
    else return false;
    return true;
}

}  // namespace

bool LoadScenario(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        fprintf(stderr, "winsim: cannot read scenario %s\n", path.c_str());
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        if (!ApplyLine(line.substr(start))) {
            fprintf(stderr, "winsim: %s:%d: cannot read '%s'\n", path.c_str(), number, line.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace winsim
