#pragma once
// The road for build scripts (options beginning with "--", see BuildOptions.h): --create from files and
// folders or a project, --list, --verify and --extract of an output, --help and --version. No window and
// no display are needed, the settings are neither read nor written, and relative names are taken from
// the current folder.
#include "UpdateSignature.h"

#include <QStringList>

#include <cstdio>
#include <span>

namespace hexaloom {

// Exit codes of the road.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // failed, or a file missing or damaged
inline constexpr int kExitUsage = 2;  // the command line is wrong

// How the progress line is drawn on `err`: redrawn in place, so the next message or result clears it.
enum class ProgressLine {
    None,    // not at all: a pipe or a file reads only the messages
    Escapes, // "\033[K" clears what the longer line before left (a terminal)
    Plain,   // spaces clear it (a Windows console that takes no escape sequences)
};

// True when the program's arguments (argv[0] being its path) are for this road.
bool WantsBuildRoad(int argc, char** argv);
// The road as the whole program: it makes its own QCoreApplication and returns the exit code. Results
// go to `out`, messages and a progress line (when `err` is a terminal or a console) to `err`.
int RunBuildRoad(int argc, char** argv, std::FILE* out = stdout, std::FILE* err = stderr);
// The road on the parameters (the program's own path dropped): results go to `out`, messages to `err`,
// and a progress line to `err` as well, drawn as `progress` says.
int RunBuildCommand(const QStringList& parameters, std::FILE* out, std::FILE* err, ProgressLine progress);
// --check-update: fetches the update information at `url` as the Updatecheck command does, trusting
// `keys` (the road passes ReleaseKeys()), and prints the decision and its reason as one line on `out`.
// kExitOk only when an update would be offered.
int CheckUpdateCommand(const QString& url, std::span<const UpdatePublicKey> keys, std::FILE* out);

} // namespace hexaloom
