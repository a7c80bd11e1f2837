#pragma once
// The platform seam of the window: Qt's requesters and message boxes, the desktop's program start and
// browser, and the Escape key as the application sees it.
#include "Platform.h"

#include <QFileIconProvider>
#include <QIdentityProxyModel>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace hexaloom {

// The seam's requester pattern ("shown|pattern;pattern|shown|pattern") as Qt name filters: each shown
// text followed by its patterns in parentheses, which the dialogs hide again; "*.*" becomes "*".
QStringList NameFilters(const QString& pattern);

// Where a requester opens for a start folder: the folder, or the nearest one above it that exists, or
// the home folder.
QString StartFolder(const QString& folder);

// The requesters' sizes and dates in the program's language (QLocale's default, set with the language)
// rather than the system's, which Qt's file list uses.
class LocalisedFileList : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override;
};

// The requesters' icons and type texts from the name and kind of an entry alone: reading a file's
// content to guess its type can block for good (a /proc file such as kmsg, a stalled network share).
class NameIconProvider : public QFileIconProvider
{
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;
};

class QtPlatform : public QObject, public Platform
{
    Q_OBJECT
public:
    explicit QtPlatform(QObject* parent = nullptr);

    // The window that owns the dialogs while no modal window is open.
    void setWindow(QWidget* window) { m_window = window; }

    QString OpenFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                              int patternIndex) override;
    QStringList OpenFilesRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                   int patternIndex) override;
    QString SaveFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                              int patternIndex) override;
    QString PathRequester(const QString& title, const QString& initialPath) override;
    void Message(const QString& title, const QString& text, MessageIcon icon) override;
    void MessageWithDetails(const QString& title, const QString& text, const QString& details,
                            MessageIcon icon) override;
    bool AskYesNo(const QString& title, const QString& text, bool defaultAnswer) override;
    SaveAnswer AskSaveChanges(const QString& title, const QString& text) override;
    bool WarnProceed(const QString& title, const QString& text, const QString& proceed) override;
    bool StartProgram(const QString& program, const QStringList& arguments) override;
    bool OpenUrl(const QString& url) override;
    bool EscapePressed() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* dialogParent() const;
    QStringList runFileDialog(int mode, const QString& title, const QString& defaultFile, const QString& pattern,
                              int patternIndex);

    QPointer<QWidget> m_window;
    NameIconProvider m_icons;
    bool m_escapeHeld = false;
};

} // namespace hexaloom
