#include "FileAdder.h"

#include "Document.h"
#include "FileListModel.h"
#include "LanguageTable.h"
#include "Paths.h"
#include "Platform.h"
#include "ProjectCommands.h"
#include "Reasons.h"
#include "Version.h"

#include <QFileInfo>

#include <utility>

namespace hexaloom {

namespace {
bool IsProjectFile(const QString& path)
{
    const QString name = FileNamePart(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && name.mid(dot + 1).toUpper() == QLatin1String("HXLM");
}
} // namespace

QString BigFileQuestion(const LanguageTable& language, const QString& path)
{
    QString text = language.LanguageText(QStringLiteral("Messages"), QStringLiteral("FileToBig"));
    text.replace(QStringLiteral("'{FILE}'"), FileNamePart(path));
    text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    return text;
}

FileAdder::FileAdder(Document& document, Platform& platform, const LanguageTable& language, QObject* parent)
    : QObject(parent), m_document(document), m_platform(platform), m_language(language)
{
}

void FileAdder::AddWithSizeCheck(const QString& path, qint64 size)
{
    FileListModel& model = m_document.model();
    if (m_listed.isEmpty()) {
        for (int row = 0; row < model.rowCount(); ++row)
            m_listed.insert(model.CellText(FileListModel::PathColumn, row));
    }
    // Twice in the list is twice in the output under one name, which a lookup by name cannot tell apart.
    if (m_listed.contains(path)) {
        m_alreadyListed.append(path);
        return;
    }
    if (size > kBigFileLimit && !m_platform.AskYesNo(QLatin1String(kAppName), BigFileQuestion(m_language, path), false))
        return;
    model.AddFileRow(path, 0, QString::number(size));
    m_listed.insert(path);
}

void FileAdder::TellNotAdded()
{
    m_listed.clear();
    const auto tell = [this](QStringList& lines, const char* key, MessageIcon icon) {
        if (lines.isEmpty())
            return;
        const QStringList told = std::exchange(lines, {});
        m_platform.MessageWithDetails(QLatin1String(kAppName), MessageText(&m_language, key).arg(told.size()),
                                      told.join(QLatin1Char('\n')), icon);
    };
    tell(m_alreadyListed, "AlreadyListed", MessageIcon::Information);
    tell(m_leftOut, "LeftOut", MessageIcon::Warning);
}

void FileAdder::NoteLeftOut(const ScanEntry& entry)
{
    if (entry.kind != ScanEntry::File && entry.kind != ScanEntry::Folder)
        m_leftOut.append(entry.path + QStringLiteral(": ") + ReasonText(entry.why, &m_language));
}

void FileAdder::openProjectOrAdd(const QString& path, qint64 size)
{
    if (IsProjectFile(path))
        OpenProject(m_document, m_platform, path);
    else
        AddWithSizeCheck(path, size);
}

void FileAdder::DropFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isFile()) {
            openProjectOrAdd(path, info.size());
        } else if (info.isDir()) {
            ScanDirectory(path, false, [this](const ScanEntry& entry) {
                if (entry.kind == ScanEntry::File)
                    openProjectOrAdd(entry.path, entry.size);
                else
                    NoteLeftOut(entry);
                return true;
            });
        } else {
            m_leftOut.append(path + QStringLiteral(": ") +
                             ReasonText(QString::fromLatin1(info.exists() ? reason::kNoRegularFile : reason::kNotFound),
                                        &m_language));
        }
    }
}

void FileAdder::BeginWalk(std::shared_ptr<std::atomic_bool> stop)
{
    m_stop = std::move(stop);
    m_walkStopped = false;
    m_pending.clear();
    m_next = 0;
}

void FileAdder::StopWalk()
{
    m_walkStopped = true;
    if (m_stop)
        *m_stop = true;
}

void FileAdder::TakeWalkEntries(const QList<ScanEntry>& entries)
{
    if (m_walkStopped)
        return;
    m_pending.append(entries);
    // A question below lets events through, and with them further entries: they queue up behind.
    if (m_draining)
        return;
    m_draining = true;
    while (m_next < m_pending.size() && !m_walkStopped) {
        const ScanEntry entry = m_pending[m_next++];
        if (m_platform.EscapePressed()) {
            StopWalk();
            break;
        }
        if (entry.kind == ScanEntry::File)
            AddWithSizeCheck(entry.path, entry.size);
        else
            NoteLeftOut(entry);
    }
    m_pending.clear();
    m_next = 0;
    m_draining = false;
    emit drained();
}

} // namespace hexaloom
