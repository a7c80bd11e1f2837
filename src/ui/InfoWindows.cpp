#include "InfoWindows.h"

#include "AboutWindow.h"
#include "AppSettings.h"
#include "HelpWindow.h"
#include "LanguageTable.h"
#include "Paths.h"
#include "Platform.h"
#include "ScreenFit.h"
#include "UpdateWindow.h"
#include "Version.h"

#include <QDir>
#include <QFileInfo>

namespace hexaloom {

namespace {
// A command that opens its window anew first removes the one that is open.
template <typename Window> void CloseOld(QPointer<Window>& window)
{
    delete window.data();
}
} // namespace

InfoWindows::InfoWindows(QWidget* mainWindow, Platform& platform, AppSettings& settings, const LanguageTable& language,
                         const QString& programDir, const QPixmap& logo, const QPixmap& donate,
                         std::span<const UpdatePublicKey> updateKeys)
    : QObject(mainWindow), m_mainWindow(mainWindow), m_platform(platform), m_settings(settings), m_language(language),
      m_programDir(programDir), m_logo(logo), m_donate(donate), m_updates(platform, language, updateKeys)
{
    connect(&m_updates, &UpdateService::checkFinished, this, &InfoWindows::showUpdate);
}

InfoWindows::~InfoWindows()
{
    // The Help window has no parent: it goes with the main window all the same.
    delete m_help.data();
}

HelpWindow* InfoWindows::helpWindow() const
{
    return m_help;
}

AboutWindow* InfoWindows::aboutWindow() const
{
    return m_about;
}

UpdateWindow* InfoWindows::updateWindow() const
{
    return m_update;
}

QString InfoWindows::helpPagePath() const
{
    if (m_settings.language.isEmpty())
        return {};
    const QString page = WithSeparator(m_programDir) + QStringLiteral("lang") + QDir::separator() +
                         m_settings.language + QStringLiteral(".html");
    return QFileInfo(page).size() > 0 ? page : QString();
}

void InfoWindows::showHelp()
{
    CloseOld(m_help);
    m_help = new HelpWindow(m_settings, helpPagePath(), &m_language);
    m_help->setWindowIcon(m_mainWindow->windowIcon());
    // Without a stored place the window opens over the main window, wholly on its screen (a window
    // manager's own placement may put its foot below the screen's edge).
    if (m_settings.frmHelp_x == kUnsetPosition || m_settings.frmHelp_y == kUnsetPosition) {
        QRect frame(QPoint(), m_help->size().grownBy(kAssumedFrame));
        frame.moveCenter(m_mainWindow->frameGeometry().center());
        const QRect fitted = FitStoredGeometry(QRect(frame.topLeft(), m_help->size()));
        m_help->resize(fitted.size());
        m_help->move(fitted.topLeft());
    }
    // Above a main window that stays on top, or it would open behind it.
    m_help->setWindowFlag(Qt::WindowStaysOnTopHint, m_settings.ontop != 0);
    m_help->show();
}

void InfoWindows::showAbout()
{
    CloseOld(m_about);
    m_about = new AboutWindow(m_mainWindow, m_platform, m_language, m_logo, m_donate);
    m_about->show();
}

void InfoWindows::checkForUpdate()
{
    m_updates.setInfoUrl(m_settings.updateurl);
    m_updates.CheckForUpdate();
}

void InfoWindows::showUpdate(UpdateService::CheckResult result)
{
    // The user asked: a check that got no answer says so and why.
    if (result == UpdateService::CheckResult::Failed)
        m_platform.Message(QLatin1String(kAppName),
                           MessageText(&m_language, "UpdateFailed").arg(m_updates.infoUrl(), m_updates.failure()),
                           MessageIcon::Warning);
    if (result != UpdateService::CheckResult::UpdateFound)
        return;
    CloseOld(m_update);
    m_update = new UpdateWindow(m_mainWindow, m_updates, m_platform, m_language, m_updates.updateInfo());
    m_update->show();
}

} // namespace hexaloom
