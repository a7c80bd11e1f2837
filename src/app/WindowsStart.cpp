#include "WindowsStart.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace hexaloom {

bool WindowsVersionSupported(unsigned major, unsigned minor, unsigned build)
{
    // Qt 6 supports Windows 10 from version 1809 on; Windows 11 still says 10.0, with a higher build.
    constexpr unsigned kOldestBuild = 17763;
    if (major != 10)
        return major > 10;
    return minor > 0 || build >= kOldestBuild;
}

#ifdef _WIN32

bool RunningOnSupportedWindows()
{
    // RtlGetVersion tells the truth; GetVersionEx answers 6.2 to programs without a manifest.
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto getVersion =
        ntdll ? reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    if (!getVersion)
        return true; // a system we do not recognise passes
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (getVersion(&info) != 0)
        return true;
    return WindowsVersionSupported(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
}

void ShowUnsupportedSystem()
{
    MessageBoxW(nullptr, L"Your OS isn't supported", L"Hexaloom", MB_OK | MB_ICONERROR);
}

namespace {

// A handle the parent handed over: a console, a pipe, a file. A window program started from a console
// may be given the values of the parent's console handles, which mean nothing in a process without one.
bool Handed(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    SetLastError(NO_ERROR);
    return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

std::FILE* ConsoleOutput(std::FILE* fallback)
{
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return fallback;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(console), _O_TEXT);
    if (descriptor < 0) {
        CloseHandle(console);
        return fallback;
    }
    std::FILE* stream = _fdopen(descriptor, "w");
    if (!stream)
        _close(descriptor);
    return stream ? stream : fallback;
}

} // namespace

ConsoleStreams AttachParentConsole()
{
    ConsoleStreams streams{stdout, stderr};
    const bool out = Handed(STD_OUTPUT_HANDLE);
    const bool err = Handed(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return streams;
    if (!out)
        streams.out = ConsoleOutput(stdout);
    if (!err)
        streams.err = ConsoleOutput(stderr);
    return streams;
}

ProgressLine ConsoleProgressLine(std::FILE* stream)
{
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
    constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;
#endif
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return ProgressLine::None;
    const bool escapes = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                         SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    return escapes ? ProgressLine::Escapes : ProgressLine::Plain;
}

#endif

} // namespace hexaloom
