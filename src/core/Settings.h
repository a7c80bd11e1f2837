#pragma once
// Where the settings file lives, and reading and writing the settings record through PrefsFile.
#include "AppSettings.h"
#include "AtomicFile.h"

#include <QString>

namespace hexaloom {

// What the start-up knows about the displays. A count of 0 means unknown (no display at all on the
// command-line road): stored positions are then not checked.
struct DisplayInfo
{
    int count = 0;
    int width = 0; // width of the only display when count is 1
};

// The user's documents folder with a trailing native separator; empty when the system cannot tell.
QString DocumentsFolder();
// Portable: "Hexaloom.prefs" in `programDir`. Otherwise the per-user configuration folder followed by
// "Brannock/Hexaloom/Hexaloom.prefs", or that relative path under `programDir` when the system names no
// such folder. Native separators.
QString SettingsFilePath(const AppSettings& settings, const QString& programDir);

// Fills the stored fields from the file at `path` (creating its folder when not portable, and an empty
// file when there is none). `projectdir` is only read while it is still empty. A file that exists but
// cannot be read is left alone and gives the defaults: false, and `error` says why.
// Stored window positions beyond the only display become "not stored", so the system places the window.
void ForgetOffscreenPositions(AppSettings& settings, const DisplayInfo& display);
bool LoadSettings(AppSettings& settings, const QString& path, const DisplayInfo& display = {},
                  QString* error = nullptr);
// Writes the stored fields back into the file, keeping its other content. False when writing failed, or
// when the file exists but cannot be read (rewriting it would lose what it holds); the old file is then
// unchanged.
bool SaveSettings(const AppSettings& settings, const QString& path, const DeviceWriter& writer = {});

} // namespace hexaloom
