#pragma once
// The Help, About and update windows of the main window: each command opens its window anew (closing
// the one that is open), and the update check reports through the UpdateService it owns.
#include "UpdateService.h"

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>

class QWidget;

namespace hexaloom {

class AboutWindow;
class HelpWindow;
class LanguageTable;
class Platform;
class UpdateWindow;
struct AppSettings;

class InfoWindows : public QObject
{
public:
    // `mainWindow` is the parent of About and the update window; `programDir` holds lang/. The update
    // check trusts `updateKeys` (the build's own unless a test signs with its own).
    InfoWindows(QWidget* mainWindow, Platform& platform, AppSettings& settings, const LanguageTable& language,
                const QString& programDir, const QPixmap& logo, const QPixmap& donate,
                std::span<const UpdatePublicKey> updateKeys = ReleaseKeys());
    ~InfoWindows() override;

    // F1: the current language's help page when lang/<language>.html is not empty, else the built-in one.
    void showHelp();
    void showAbout();
    // Updatecheck: asks the update server (the "updateurl" setting, when given, names the file).
    void checkForUpdate();

    UpdateService& updates() { return m_updates; }
    // The open windows, or null.
    HelpWindow* helpWindow() const;
    AboutWindow* aboutWindow() const;
    UpdateWindow* updateWindow() const;
    // The help page F1 shows now; empty for the built-in one.
    QString helpPagePath() const;

private:
    void showUpdate(UpdateService::CheckResult result);

    QWidget* m_mainWindow;
    Platform& m_platform;
    AppSettings& m_settings;
    const LanguageTable& m_language;
    QString m_programDir;
    QPixmap m_logo;
    QPixmap m_donate;
    UpdateService m_updates;
    QPointer<HelpWindow> m_help;
    QPointer<AboutWindow> m_about;
    QPointer<UpdateWindow> m_update;
};

} // namespace hexaloom
