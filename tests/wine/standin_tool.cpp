// Stand-in for devcon.exe and DIFxCmd.exe in the end-to-end tests.
//
// One binary serves both names: the tests copy it beside the installer under
// the tool's name. Each run appends two lines to "standin.log" in its own
// folder, one when it starts and one when it ends, so that a test can read
// which command lines arrived, in which working directory, and whether two
// runs ever overlapped. Files beside the binary steer it:
//   <name>.exitcode  decimal exit code (default 0)
//   <name>.hold      while this file exists the tool keeps running
//   <name>.delay     milliseconds to stay alive after starting (default 150),
//                    so that an overlapping start would land between our two
//                    log lines
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

const DWORD DEFAULT_DELAY_MS = 150;
const DWORD HOLD_POLL_MS = 20;

struct ToolContext {
    wchar_t folder[MAX_PATH];  // ends in a backslash
    wchar_t name[MAX_PATH];    // file name without ".exe"
};

bool FindOwnLocation(ToolContext& tool)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash == nullptr)
        return false;
    lstrcpynW(tool.name, slash + 1, MAX_PATH);
    slash[1] = L'\0';
    lstrcpynW(tool.folder, path, MAX_PATH);
    wchar_t* dot = wcsrchr(tool.name, L'.');
    if (dot != nullptr)
        *dot = L'\0';
    return true;
}

void SiblingPath(const ToolContext& tool, const wchar_t* suffix, wchar_t* out)
{
    _snwprintf(out, MAX_PATH, L"%ls%ls%ls", tool.folder, tool.name, suffix);
    out[MAX_PATH - 1] = L'\0';
}

bool FileExists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Reads a small decimal number from a control file; fallback when the file
// is missing or holds no number.
DWORD ReadNumberFile(const wchar_t* path, DWORD fallback)
{
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr)
        return fallback;
    unsigned long value = 0;
    int fields = fscanf(file, "%lu", &value);
    fclose(file);
    return fields == 1 ? static_cast<DWORD>(value) : fallback;
}

// Appends one line in a single write, so that lines from different processes
// never interleave. The log is UTF-8.
void AppendLogLine(const ToolContext& tool, const wchar_t* event)
{
    wchar_t logPath[MAX_PATH];
    _snwprintf(logPath, MAX_PATH, L"%lsstandin.log", tool.folder);
    logPath[MAX_PATH - 1] = L'\0';

    wchar_t cwd[MAX_PATH];
    DWORD cwdLength = GetCurrentDirectoryW(MAX_PATH, cwd);
    if (cwdLength == 0 || cwdLength >= MAX_PATH)
        lstrcpynW(cwd, L"?", MAX_PATH);

    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;

    static wchar_t line[4096];
    int length = _snwprintf(line, 4096, L"%ls\t%ls\t%lu\t%llu\t%ls\t%ls\n", event, tool.name,
                            GetCurrentProcessId(), ticks, cwd, GetCommandLineW());
    if (length < 0)
        length = 4095;
    line[4095] = L'\0';

    static char utf8[4 * 4096];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, length, utf8, sizeof utf8, nullptr, nullptr);
    if (bytes <= 0)
        return;

    // Another stand-in may hold the log for a moment; retry instead of
    // dropping the line.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (log != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(log, utf8, static_cast<DWORD>(bytes), &written, nullptr);
            CloseHandle(log);
            return;
        }
        Sleep(10);
    }
}

}  // namespace

int wmain()
{
    ToolContext tool;
    if (!FindOwnLocation(tool))
        return 250;

    AppendLogLine(tool, L"begin");

    wchar_t controlPath[MAX_PATH];
    SiblingPath(tool, L".delay", controlPath);
    Sleep(ReadNumberFile(controlPath, DEFAULT_DELAY_MS));

    SiblingPath(tool, L".hold", controlPath);
    while (FileExists(controlPath))
        Sleep(HOLD_POLL_MS);

    SiblingPath(tool, L".exitcode", controlPath);
    DWORD exitCode = ReadNumberFile(controlPath, 0);

    AppendLogLine(tool, L"end");
    return static_cast<int>(exitCode);
}
