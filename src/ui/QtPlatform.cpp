#include "QtPlatform.h"

#include "Paths.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

namespace hexaloom {

QStringList NameFilters(const QString& pattern)
{
    QStringList filters;
    const QStringList parts = pattern.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            p = p.trimmed();
            // "*.*" means every file, as on Windows, also names without a dot.
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        filters.append(parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    }
    return filters;
}

namespace {
enum DialogMode { OpenOne, OpenMany, SaveOne };
} // namespace

QtPlatform::QtPlatform(QObject* parent) : QObject(parent)
{
    if (qApp)
        qApp->installEventFilter(this);
}

QWidget* QtPlatform::dialogParent() const
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return m_window;
}

QStringList QtPlatform::runFileDialog(int mode, const QString& title, const QString& defaultFile,
                                      const QString& pattern, int patternIndex)
{
    QFileDialog dialog(dialogParent(), title);
    const QStringList filters = NameFilters(pattern);
    dialog.setNameFilters(filters);
    if (patternIndex >= 0 && patternIndex < filters.size())
        dialog.selectNameFilter(filters[patternIndex]);
    // The shown texts already name their patterns.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    const QFileInfo start(defaultFile);
    if (defaultFile.isEmpty() || start.isDir() || defaultFile.endsWith(QLatin1Char('/')) ||
        defaultFile.endsWith(QLatin1Char('\\'))) {
        dialog.setDirectory(defaultFile);
    } else {
        dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
    }
    if (mode == SaveOne) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The program asks before replacing a file itself, once it knows the name's extension.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setFileMode(mode == OpenMany ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList files = dialog.selectedFiles();
    for (QString& file : files)
        file = QDir::toNativeSeparators(file);
    return files;
}

QString QtPlatform::OpenFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                      int patternIndex)
{
    return runFileDialog(OpenOne, title, defaultFile, pattern, patternIndex).value(0);
}

QStringList QtPlatform::OpenFilesRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                           int patternIndex)
{
    return runFileDialog(OpenMany, title, defaultFile, pattern, patternIndex);
}

QString QtPlatform::SaveFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                      int patternIndex)
{
    return runFileDialog(SaveOne, title, defaultFile, pattern, patternIndex).value(0);
}

QString QtPlatform::PathRequester(const QString& title, const QString& initialPath)
{
    const QString folder =
        QFileDialog::getExistingDirectory(dialogParent(), title, initialPath, QFileDialog::ShowDirsOnly);
    return QFileInfo(folder).isDir() ? WithSeparator(folder) : QString();
}

void QtPlatform::Message(const QString& title, const QString& text, MessageIcon icon)
{
    QMessageBox::Icon shown = QMessageBox::NoIcon;
    switch (icon) {
    case MessageIcon::Information:
        shown = QMessageBox::Information;
        break;
    case MessageIcon::Warning:
        shown = QMessageBox::Warning;
        break;
    case MessageIcon::Error:
        shown = QMessageBox::Critical;
        break;
    case MessageIcon::None:
        break;
    }
    QMessageBox box(shown, title, text, QMessageBox::Ok, dialogParent());
    box.exec();
}

bool QtPlatform::AskYesNo(const QString& title, const QString& text, bool defaultAnswer)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Yes | QMessageBox::No, dialogParent());
    box.setDefaultButton(defaultAnswer ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool QtPlatform::StartProgram(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool QtPlatform::OpenUrl(const QString& url)
{
    return QDesktopServices::openUrl(QUrl::fromUserInput(url));
}

bool QtPlatform::EscapePressed()
{
    return m_escapeHeld;
}

bool QtPlatform::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && !key->isAutoRepeat())
            m_escapeHeld = event->type() == QEvent::KeyPress;
        break;
    }
    case QEvent::ApplicationDeactivate:
        // A release outside the program is never seen.
        m_escapeHeld = false;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace hexaloom
