#include "WindowsStart.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
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

void AttachParentConsole()
{
    const auto handed = [](DWORD which) {
        const HANDLE handle = GetStdHandle(which);
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    };
    const bool out = handed(STD_OUTPUT_HANDLE);
    const bool err = handed(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
}

#endif

} // namespace hexaloom
