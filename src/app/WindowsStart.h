#pragma once
// What only the Windows program does at start: check the system it runs on, and let a window program
// talk on the console it was started from for the command lines.
#include "BuildRoad.h"

#include <cstdio>

namespace hexaloom {

// Where the command lines write: stdout and stderr, except where the Windows program attached a console.
struct ConsoleStreams
{
    std::FILE* out;
    std::FILE* err;
};

// True for the Windows versions this program's Qt runs on: Windows 10 version 1809 (build 17763) and later.
bool WindowsVersionSupported(unsigned major, unsigned minor, unsigned build);

#ifdef _WIN32
// True when the running Windows is one WindowsVersionSupported accepts; asks the system for its real
// version, which a program without a compatibility manifest is otherwise not told.
bool RunningOnSupportedWindows();

// Shows "Your OS isn't supported" in a message box with an error icon.
void ShowUnsupportedSystem();

// A window program has no console: standard output and error that the parent did not hand over (a pipe,
// a file) go to the console of the parent (cmd, PowerShell), when there is one. The C runtime's stdout
// and stderr cannot be pointed there afresh everywhere (wine refuses to reopen a stream that started
// without a handle), so the streams to write to are returned: stdout and stderr where they were handed over.
ConsoleStreams AttachParentConsole();

// How a progress line is drawn on `stream`: with a terminal's escape sequences on a console that takes
// them (asked to where it has them off), with spaces on a console too old for them, not at all on a file,
// a pipe or NUL (a character device too).
ProgressLine ConsoleProgressLine(std::FILE* stream);
#endif

} // namespace hexaloom
