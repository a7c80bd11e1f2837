// hexaloom_mkproject: writes project files. Project files hold full paths, so the demo keeps its project
// with paths relative to the project's folder and has this tool write a copy with full paths wherever the
// checkout lies. (How an output stored its files: hexaloom --list.)
//   hexaloom_mkproject <project.hxlm> <format 0|1|2> <packer>:<file>...   a project of these files
//   hexaloom_mkproject --rebase <in.hxlm> <out.hxlm> <format 0|1|2>      relative paths made full
#include "AppSettings.h"
#include "Document.h"
#include "ProjectFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <optional>

using namespace hexaloom;

namespace {

struct Listed
{
    QString packer;
    QString path;
};

// The rows of a project file; relative paths resolved against the project's folder.
std::optional<QList<Listed>> ReadProject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const ProjectParseResult parsed = ParseProject(file.readAll());
    if (parsed.status != ProjectParse::Ok)
        return std::nullopt;
    QList<Listed> files;
    for (const ProjectRecord& record : parsed.content.records) {
        const QString full = QFileInfo(record.path).isAbsolute()
                                 ? record.path
                                 : QFileInfo(path).absolutePath() + QLatin1Char('/') + record.path;
        files.append({PackerText(record.packer), QDir::cleanPath(full)});
    }
    return files;
}

bool WriteProject(const QString& path, const QList<Listed>& files, int format)
{
    AppSettings settings;
    Document document(settings);
    for (const Listed& file : files) {
        const int row = document.model().AddFileRow(file.path, 0, QString());
        document.model().SetCellText(FileListModel::PackerColumn, row, file.packer);
    }
    const QByteArray project = EncodeProject(document.model(), format);
    QSaveFile out(path);
    if (project.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(project) != project.size() ||
        !out.commit()) {
        std::fprintf(stderr, "hexaloom_mkproject: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--rebase")) {
        const std::optional<QList<Listed>> files = ReadProject(args[2]);
        if (!files) {
            std::fprintf(stderr, "hexaloom_mkproject: cannot read %s\n", qPrintable(args[2]));
            return 1;
        }
        return WriteProject(args[3], *files, args[4].toInt()) ? 0 : 1;
    }
    if (args.size() < 3 || args[1].startsWith(QLatin1String("--"))) {
        std::fprintf(stderr, "usage: hexaloom_mkproject <project.hxlm> <format 0|1|2> <packer>:<file>...\n"
                             "       hexaloom_mkproject --rebase <in.hxlm> <out.hxlm> <format 0|1|2>\n");
        return 2;
    }
    // Paths are stored as given, so a project of relative paths can be made for --rebase.
    QList<Listed> files;
    for (const QString& item : args.mid(3)) {
        const qsizetype colon = item.indexOf(QLatin1Char(':'));
        files.append({item.left(colon), item.mid(colon + 1)});
    }
    return WriteProject(args[1], files, args[2].toInt()) ? 0 : 1;
}
