#include "ProjectCommands.h"

#include "AppSettings.h"
#include "Document.h"
#include "LanguageTable.h"
#include "Platform.h"
#include "ProjectFile.h"
#include "Reasons.h"
#include "Version.h"

#include <QFile>
#include <QFileInfo>

namespace hexaloom {

namespace {
const QString kTitle = QLatin1String(kAppName);
QString ProjectPattern(const LanguageTable* language)
{
    return MessageText(language, "FilterProject") + QStringLiteral(" (*.hxlm)|*hxlm");
}
} // namespace

OpenProjectReport OpenProject(Document& document, Platform& platform, const QString& givenPath)
{
    OpenProjectReport report;
    QString path = givenPath;
    if (path.isEmpty()) {
        path = platform.OpenFileRequester(QString(), document.projectDir(), ProjectPattern(document.language()), 0);
        if (path.isEmpty())
            return report;
    }
    FileListModel& model = document.model();
    if (model.rowCount() > 0) {
        // Lists are never merged: the project opens in a second copy of the program.
        document.saveSettings();
        platform.StartProgram(document.programPath(), {QStringLiteral("/IGNOREPOS"), path});
        report.result = OpenProjectResult::SecondCopy;
        return report;
    }

    QFile file;
    QString why;
    if (!OpenRegularFile(file, path, std::numeric_limits<qint64>::max(), &why)) {
        report.result = OpenProjectResult::Unreadable;
        report.reason = why;
        platform.Message(
            kTitle,
            MessageText(document.language(), "ProjectUnreadable").arg(path, ReasonText(why, document.language())),
            MessageIcon::Error);
        return report;
    }
    if (file.size() > MaxProjectFileSize()) {
        report.reason = QString::fromLatin1(reason::kLargerThanProjects);
        platform.Message(kTitle, MessageText(document.language(), "ProjectDamaged").arg(path), MessageIcon::Error);
        report.result = OpenProjectResult::Damaged;
        return report;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    const ProjectParseResult parsed = ParseProject(bytes);
    if (parsed.status == ProjectParse::NotSupported) {
        platform.Message(kTitle, MessageText(document.language(), "ProjectNotSupported").arg(path), MessageIcon::None);
        report.result = OpenProjectResult::NotSupported;
        report.reason = QStringLiteral("Projectformat not supported");
        return report;
    }
    if (parsed.status == ProjectParse::Damaged) {
        platform.Message(kTitle, MessageText(document.language(), "ProjectDamaged").arg(path), MessageIcon::Error);
        report.result = OpenProjectResult::Damaged;
        report.reason = parsed.reason;
        return report;
    }

    if (parsed.content.format >= 0)
        document.setOutputFormat(parsed.content.format);
    QStringList missing;
    for (const ProjectRecord& record : parsed.content.records) {
        // An empty file is a file: left out, it would shift the numbers of every file after it.
        if (QFileInfo(record.path).isFile()) {
            model.AddFileRow(record.path, record.packer, record.size);
            ++report.added;
        } else {
            missing.append(record.path);
            ++report.missing;
        }
    }
    // One message for them all: a moved tree can miss thousands. The rest of the list is there, so it
    // is a warning.
    if (!missing.isEmpty())
        platform.MessageWithDetails(kTitle, MessageText(document.language(), "FilesNotFound").arg(missing.size()),
                                    missing.join(QLatin1Char('\n')), MessageIcon::Warning);
    document.setProjectPath(path);
    document.setWindowTitle(ProjectTitle(document.projectFile()));
    emit document.projectLoaded(path);
    report.result = OpenProjectResult::Loaded;
    return report;
}

SaveProjectResult SaveProject(Document& document, Platform& platform, const QString& givenPath,
                              const DeviceWriter& writer, const QString& overwriteQuestion)
{
    const FileListModel& model = document.model();
    const int rows = model.rowCount();
    if (rows > kProjectMaxRows) {
        // Asked before the requester: no name is worth choosing for a list the format cannot hold.
        platform.Message(kTitle,
                         FillMessage(MessageText(document.language(), "ProjectTooManyRows"),
                                     {QString::number(rows), QString::number(kProjectMaxRows)}),
                         MessageIcon::Error);
        return SaveProjectResult::TooManyRows;
    }
    if (const QList<int> tooLong = RowsWithLongPaths(model); !tooLong.isEmpty()) {
        constexpr int kListed = 10;
        QStringList lines;
        for (qsizetype i = 0; i < std::min<qsizetype>(tooLong.size(), kListed); ++i)
            lines << QStringLiteral("%1: %2")
                         .arg(tooLong[i] + 1)
                         .arg(model.CellText(FileListModel::PathColumn, tooLong[i]));
        if (tooLong.size() > kListed)
            lines << MessageText(document.language(), "ProjectMore").arg(tooLong.size() - kListed);
        platform.Message(kTitle,
                         MessageText(document.language(), "ProjectPathsTooLong")
                             .arg(kProjectPathUnits)
                             .arg(lines.join(QLatin1Char('\n'))),
                         MessageIcon::Error);
        return SaveProjectResult::PathsTooLong;
    }
    QString path = givenPath;
    if (path.isEmpty())
        path = platform.SaveFileRequester(QString(), document.projectDir(), ProjectPattern(document.language()), 0);
    if (rows == 0)
        return SaveProjectResult::EmptyList;
    if (path.isEmpty())
        return SaveProjectResult::Cancelled;
    if (path.right(5).toUpper() != QLatin1String(".HXLM")) {
        path += QStringLiteral(".hxlm");
        // The requester asked about the name it was given, not about the file that name becomes.
        const QFileInfo existing(path);
        if (givenPath.isEmpty() && existing.exists() && existing.size() > 0 &&
            !platform.AskYesNo(kTitle,
                               overwriteQuestion.isEmpty() ? QStringLiteral("File already exists. Overwrite?")
                                                           : overwriteQuestion,
                               false))
            return SaveProjectResult::Cancelled;
    }
    const QByteArray bytes = EncodeProject(model, document.outputFormat());
    QString error = QStringLiteral("the list could not be compressed");
    if (bytes.isEmpty() || !WriteFileAtomically(path, bytes, &error, writer)) {
        // The project keeps its name: Save goes on offering the file that was last saved or opened.
        platform.Message(
            kTitle, MessageText(document.language(), "SaveFailed").arg(path, ReasonText(error, document.language())),
            MessageIcon::Error);
        return SaveProjectResult::Failed;
    }
    document.setProjectPath(path);
    document.setWindowTitle(ProjectTitle(document.projectFile()));
    return SaveProjectResult::Saved;
}

} // namespace hexaloom
