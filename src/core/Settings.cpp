#include "Settings.h"

#include "FileListModel.h"
#include "Paths.h"
#include "PrefsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace hexaloom {

namespace {
const QString kPosition = QStringLiteral("Position");
const QString kLanguage = QStringLiteral("Language");
const QString kSettings = QStringLiteral("Settings");
} // namespace

QString DocumentsFolder()
{
    return WithSeparator(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

QString SettingsFilePath(const AppSettings& settings, const QString& programDir)
{
    const QString name = QStringLiteral("Hexaloom.prefs");
    const QString sub = QStringLiteral("Brannock/Hexaloom/");
    if (settings.portable)
        return QDir::toNativeSeparators(WithSeparator(programDir) + name);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        return QDir::toNativeSeparators(WithSeparator(programDir) + sub + name);
    return QDir::toNativeSeparators(WithSeparator(config) + sub + name);
}

void ForgetOffscreenPositions(AppSettings& s, const DisplayInfo& display)
{
    // A window left on a display that is gone would open out of reach.
    if (display.count == 1) {
        if (s.frmMain_x > display.width)
            s.frmMain_x = kUnsetPosition;
        if (s.frmHelp_x > display.width)
            s.frmHelp_x = kUnsetPosition;
    }
}

bool LoadSettings(AppSettings& s, const QString& path, const DisplayInfo& display, QString* error)
{
    if (!s.portable)
        QDir().mkpath(QFileInfo(path).absolutePath());
    PrefsFile prefs;
    bool readable = true;
    if (!prefs.Open(path)) {
        // Only a missing file is created: one that is there but unreadable (permissions) keeps every value.
        if (QFileInfo::exists(path)) {
            readable = false;
            if (error)
                *error = prefs.errorString();
        } else {
            prefs.Create(path);
        }
    }

    prefs.Group(kPosition);
    s.frmMain_x = prefs.ReadLong(QStringLiteral("frmMain_x"), kUnsetPosition);
    s.frmMain_y = prefs.ReadLong(QStringLiteral("frmMain_y"), kUnsetPosition);
    s.frmMain_h = prefs.ReadLong(QStringLiteral("frmMain_h"), 480);
    s.frmMain_w = prefs.ReadLong(QStringLiteral("frmMain_w"), 640);
    s.frmMain_s = prefs.ReadLong(QStringLiteral("frmMain_s"), 0);
    s.frmHelp_x = prefs.ReadLong(QStringLiteral("frmHelp_x"), kUnsetPosition);
    s.frmHelp_y = prefs.ReadLong(QStringLiteral("frmHelp_y"), kUnsetPosition);
    s.frmHelp_h = prefs.ReadLong(QStringLiteral("frmHelp_h"), 580);
    s.frmHelp_w = prefs.ReadLong(QStringLiteral("frmHelp_w"), 800);
    ForgetOffscreenPositions(s, display);

    prefs.Group(kLanguage);
    s.language = prefs.ReadString(QStringLiteral("language"), QString());

    prefs.Group(kSettings);
    s.calcsize = static_cast<std::uint8_t>(prefs.ReadLong(QStringLiteral("calcsize"), 0));
    s.ontop = static_cast<std::uint8_t>(prefs.ReadLong(QStringLiteral("ontop"), 0));
    s.packmax = static_cast<std::uint8_t>(prefs.ReadLong(QStringLiteral("packmax"), 0));
    s.lastdir = prefs.ReadString(QStringLiteral("lastdir"), DocumentsFolder());
    if (s.projectdir.isEmpty())
        s.projectdir = prefs.ReadString(QStringLiteral("projectdir"), s.lastdir);
    s.lastoutput = static_cast<std::int8_t>(ValidOutputFormat(prefs.ReadLong(QStringLiteral("lastoutput"), 0)));
    // Only for pointing the update check elsewhere by hand (a test server, a mirror); never written.
    s.updateurl = prefs.ReadString(QStringLiteral("updateurl"), QString());
    prefs.Close();
    return readable;
}

bool SaveSettings(const AppSettings& s, const QString& path, const DeviceWriter& writer)
{
    PrefsFile prefs;
    prefs.setWriter(writer);
    if (!prefs.Open(path) && QFileInfo::exists(path))
        return false;

    prefs.Group(kPosition);
    prefs.WriteLong(QStringLiteral("frmMain_s"), s.frmMain_s);
    prefs.WriteLong(QStringLiteral("frmMain_x"), s.frmMain_x);
    prefs.WriteLong(QStringLiteral("frmMain_y"), s.frmMain_y);
    prefs.WriteLong(QStringLiteral("frmMain_w"), s.frmMain_w);
    prefs.WriteLong(QStringLiteral("frmMain_h"), s.frmMain_h);
    prefs.WriteLong(QStringLiteral("frmHelp_x"), s.frmHelp_x);
    prefs.WriteLong(QStringLiteral("frmHelp_y"), s.frmHelp_y);
    prefs.WriteLong(QStringLiteral("frmHelp_w"), s.frmHelp_w);
    prefs.WriteLong(QStringLiteral("frmHelp_h"), s.frmHelp_h);

    prefs.Group(kLanguage);
    prefs.WriteString(QStringLiteral("language"), s.language);

    // The 8-bit fields are written sign-extended.
    prefs.Group(kSettings);
    prefs.WriteLong(QStringLiteral("calcsize"), static_cast<std::int8_t>(s.calcsize));
    prefs.WriteLong(QStringLiteral("ontop"), static_cast<std::int8_t>(s.ontop));
    prefs.WriteLong(QStringLiteral("packmax"), static_cast<std::int8_t>(s.packmax));
    prefs.WriteString(QStringLiteral("lastdir"), s.lastdir);
    prefs.WriteLong(QStringLiteral("lastoutput"), s.lastoutput);
    prefs.WriteString(QStringLiteral("projectdir"), s.projectdir);
    return prefs.Close();
}

} // namespace hexaloom
