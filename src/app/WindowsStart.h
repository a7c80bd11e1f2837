#pragma once
// What only the Windows program does at start: check the system it runs on, and let a window program
// talk on the console it was started from for the command lines.

namespace hexaloom {

// True for the Windows versions this program's Qt runs on: Windows 10 version 1809 (build 17763) and later.
bool WindowsVersionSupported(unsigned major, unsigned minor, unsigned build);

#ifdef _WIN32
// True when the running Windows is one WindowsVersionSupported accepts; asks the system for its real
// version, which a program without a compatibility manifest is otherwise not told.
bool RunningOnSupportedWindows();

// Shows "Your OS isn't supported" in a message box with an error icon.
void ShowUnsupportedSystem();

// A window program has no console: standard output and error that the parent did not hand over (a pipe,
// a file) go to the console of the parent (cmd, PowerShell), when there is one.
void AttachParentConsole();
#endif

} // namespace hexaloom
