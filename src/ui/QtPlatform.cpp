#include "QtPlatform.h"

#include "Paths.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

#include <utility>
#include <vector>

namespace hexaloom {

namespace {

// Each type of a requester pattern: its shown text and its patterns, trimmed.
std::vector<std::pair<QString, QStringList>> FileTypes(const QString& pattern)
{
    std::vector<std::pair<QString, QStringList>> types;
    const QStringList parts = pattern.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        types.emplace_back(parts[i], patterns);
    }
    return types;
}

} // namespace

QStringList NameFilters(const QString& pattern)
{
    QStringList filters;
    for (auto [shown, patterns] : FileTypes(pattern)) {
        for (QString& p : patterns) {
            // "*.*" means every file, as on Windows, also names without a dot.
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        filters.append(shown + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    }
    return filters;
}

QString StartFolder(const QString& folder)
{
    // A folder that is not there (a documents folder never made) would leave the requester in the
    // current folder, which is the program's: the nearest folder above that is there, else home.
    if (folder.isEmpty() || QDir::isRelativePath(folder))
        return QDir::homePath();
    for (QString dir = QDir::cleanPath(QDir::fromNativeSeparators(folder));;) {
        if (QFileInfo(dir).isDir())
            return dir;
        const QString up = QFileInfo(dir).path();
        if (up == dir)
            return QDir::homePath();
        dir = up;
    }
}

QVariant LocalisedFileList::data(const QModelIndex& index, int role) const
{
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || (index.column() != 1 && index.column() != 3))
        return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    if (index.column() == 3)
        return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
    // Folders have no size.
    return files->isDir(source) ? QString() : QLocale().formattedDataSize(files->size(source));
}

QIcon NameIconProvider::icon(const QFileInfo& info) const
{
    if (info.isRoot())
        return icon(Drive);
    return icon(info.isDir() ? Folder : File);
}

QString NameIconProvider::type(const QFileInfo& info) const
{
    if (info.isDir())
        return QCoreApplication::translate("QAbstractFileIconProvider", "Folder");
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    return mime.isDefault() ? QCoreApplication::translate("QAbstractFileIconProvider", "File") : mime.comment();
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
    // While work runs the window is disabled, and a dialog of a disabled window is disabled too: the
    // wait window in front of it owns the question then.
    if (m_window && !m_window->isEnabled()) {
        for (QDialog* shown : m_window->findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (shown->isVisible() && shown->isEnabled())
                return shown;
        }
    }
    return m_window;
}

QStringList QtPlatform::runFileDialog(int mode, const QString& title, const QString& defaultFile,
                                      const QString& pattern, int patternIndex)
{
    QFileDialog dialog(dialogParent(), title);
    dialog.setIconProvider(&m_icons);
    dialog.setProxyModel(new LocalisedFileList(&dialog));
    const QStringList filters = NameFilters(pattern);
    dialog.setNameFilters(filters);
    if (patternIndex >= 0 && patternIndex < filters.size())
        dialog.selectNameFilter(filters[patternIndex]);
    // The shown texts already name their patterns.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    const QFileInfo start(defaultFile);
    if (defaultFile.isEmpty() || start.isDir() || defaultFile.endsWith(QLatin1Char('/')) ||
        defaultFile.endsWith(QLatin1Char('\\'))) {
        dialog.setDirectory(StartFolder(defaultFile));
    } else {
        dialog.setDirectory(StartFolder(start.absolutePath()));
        dialog.selectFile(start.fileName());
    }
    if (mode == SaveOne) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The program asks before replacing a file itself, once it knows the name's extension.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        // A name typed without extension gets the chosen type's first one (hd -> hd.pbi); a typed
        // extension stands.
        // The extension comes from the patterns, never from the shown text, which may name them too
        // ("PureBasic Files (*.pbi, *.pb)").
        QStringList extensions;
        for (const auto& [shown, patterns] : FileTypes(pattern)) {
            const QString first = patterns.value(0);
            const bool plain = first.startsWith(QLatin1String("*.")) && !first.mid(2).contains(QLatin1Char('*')) &&
                               !first.mid(2).contains(QLatin1Char('?'));
            extensions.append(plain ? first.mid(2) : QString());
        }
        auto suffix = [&dialog, filters, extensions](const QString& shown) {
            // The dialog names the chosen type without its patterns.
            QString extension;
            for (qsizetype i = 0; i < filters.size(); ++i) {
                if (filters[i] == shown || filters[i].startsWith(shown + QStringLiteral(" (")))
                    extension = extensions.value(i);
            }
            dialog.setDefaultSuffix(extension);
        };
        suffix(dialog.selectedNameFilter());
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, suffix);
    } else {
        dialog.setFileMode(mode == OpenMany ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList files = dialog.selectedFiles();
    // Qt's own requester reads double quotes in the typed name as a list of names (q"t becomes t):
    // the name is taken as typed, for the caller to judge.
    if (mode == SaveOne) {
        if (const auto* typed = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            typed && typed->text().contains(QLatin1Char('"')))
            files = QStringList{dialog.directory().absoluteFilePath(typed->text())};
    }
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
    QFileDialog dialog(dialogParent(), title, StartFolder(initialPath));
    dialog.setIconProvider(&m_icons);
    dialog.setProxyModel(new LocalisedFileList(&dialog));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QString folder = dialog.selectedFiles().value(0);
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

void QtPlatform::MessageWithDetails(const QString& title, const QString& text, const QString& details, MessageIcon icon)
{
    // The first lines in the text; all of them, scrollable, behind the box's details button.
    constexpr int kShown = 10;
    const QStringList lines = details.split(QLatin1Char('\n'));
    QString shown = text + QLatin1Char('\n') + lines.mid(0, kShown).join(QLatin1Char('\n'));
    if (lines.size() > kShown)
        shown += QStringLiteral("\n...");
    QMessageBox box(QMessageBox::NoIcon, title, shown, QMessageBox::Ok, dialogParent());
    box.setObjectName(QStringLiteral("detailsMessage"));
    box.setIcon(icon == MessageIcon::Error     ? QMessageBox::Critical
                : icon == MessageIcon::Warning ? QMessageBox::Warning
                                               : QMessageBox::Information);
    box.setDetailedText(details);
    box.exec();
}

bool QtPlatform::AskYesNo(const QString& title, const QString& text, bool defaultAnswer)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, dialogParent());
    box.setDefaultButton(defaultAnswer ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

SaveAnswer QtPlatform::AskSaveChanges(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                    dialogParent());
    box.setObjectName(QStringLiteral("saveChangesQuestion"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveAnswer::Save;
    case QMessageBox::Discard:
        return SaveAnswer::Discard;
    default:
        return SaveAnswer::Cancel;
    }
}

bool QtPlatform::WarnProceed(const QString& title, const QString& text, const QString& proceed)
{
    // The first line says what is wrong; the rest (a list that can run to many long paths) goes into a
    // scrollable details area, open from the start, so the buttons stay on the screen.
    const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
    QMessageBox box(QMessageBox::Warning, title, text.left(lineEnd), QMessageBox::Cancel, dialogParent());
    box.setObjectName(QStringLiteral("proceedQuestion"));
    if (lineEnd >= 0) {
        box.setDetailedText(text.mid(lineEnd + 1));
        for (QAbstractButton* button : box.buttons()) {
            if (box.buttonRole(button) == QMessageBox::ActionRole)
                button->click();
        }
    }
    QPushButton* goOn = box.addButton(proceed, QMessageBox::AcceptRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == goOn;
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
