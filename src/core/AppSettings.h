#pragma once
// The program-wide settings record, kept in "Hexaloom.prefs".
#include "PackedBlock.h"

#include <QString>
#include <cstdint>

namespace hexaloom {

inline constexpr int kUnsetPosition = -65535; // a window edge that is not stored: the system places it

struct AppSettings
{
    bool portable = false; // /PORTABLE: the settings file lives beside the program
    std::uint8_t calcsize = 0;
    std::uint8_t ontop = 0;
    std::uint8_t packmax = 0; // "Pack harder (slower)": Create, the sizes and the smallest packer at the max level
    bool ignorepos = false; // /IGNOREPOS
    std::int32_t frmMain_x = kUnsetPosition;
    std::int32_t frmMain_y = kUnsetPosition;
    std::int32_t frmMain_h = 480;
    std::int32_t frmMain_w = 640;
    std::int32_t frmMain_s = 0; // 16777216 maximised, 0 normal
    QString language;           // language file name in lang/ without ".lng"; empty for English
    QString lastdir;            // starting folder of the add and output requesters
    std::int8_t lastoutput = 0; // output format chooser index
    QString projectdir;         // folder of the current or last project, with a trailing separator
    QString projectfile;        // file name of the current project (not stored)
    std::int32_t frmHelp_x = kUnsetPosition;
    std::int32_t frmHelp_y = kUnsetPosition;
    std::int32_t frmHelp_h = 580;
    std::int32_t frmHelp_w = 800;
    QString updateurl; // [Settings] updateurl: the update information file's address; read, never written
};

// The packing level the settings choose for Create, the sizes and the smallest packer.
inline int PackLevel(const AppSettings& settings)
{
    return settings.packmax ? kPackLevelMax : kPackLevelDefault;
}

} // namespace hexaloom
