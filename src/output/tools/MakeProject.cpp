// hexaloom_mkproject: writes project files and shows how an output stored its files. Project files hold
// full paths, so the demo keeps its project with paths relative to the project's folder and has this
// tool write a copy with full paths wherever the checkout lies.
//   hexaloom_mkproject <project.hxlm> <format 0|1|2> <packer>:<file>...   a project of these files
//   hexaloom_mkproject --rebase <in.hxlm> <out.hxlm> <format 0|1|2>      relative paths made full
//   hexaloom_mkproject --show <output> <project.hxlm>                    how each file was stored
#include "AppSettings.h"
#include "Document.h"
#include "PackedBlock.h"
#include "ProjectFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <optional>

using namespace hexaloom;

namespace {

struct Listed
{
    QString packer;
    QString path;
};

std::uint32_t Le32(const QByteArray& bytes, qsizetype at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return v;
}

// The stored bytes of every block or resource in order, from an output's own layout.
QList<QByteArray> StoredBlocks(const QString& output)
{
    QFile file(output);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    QList<QByteArray> blocks;
    if (output.endsWith(QLatin1String(".res"), Qt::CaseInsensitive)) {
        for (qsizetype at = 32; at + 44 <= all.size();) {
            const qsizetype size = Le32(all, at);
            blocks.append(all.mid(at + 44, size));
            at += 44 + (size + 3) / 4 * 4;
        }
        return blocks;
    }
    // Includes: the size table after Vorkel_CatchInfo; the bytes from the pack file beside a binpack
    // include, or from the data lines of a hexdata one.
    const QList<QByteArray> lines = all.split('\n');
    QByteArray data;
    QList<qsizetype> sizes;
    bool inData = false;
    bool inTable = false;
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line == "Vorkel_CatchStart:") {
            inData = true;
        } else if (line == "Vorkel_CatchInfo:") {
            inData = false;
            inTable = true;
        } else if (inTable && line.startsWith("Data.l ")) {
            sizes.append(line.mid(7).toLongLong());
        } else if (inData && line.startsWith("IncludeBinary \"")) {
            QFile pack(QFileInfo(output).absolutePath() + QLatin1Char('/') +
                       QString::fromUtf8(line.mid(15, line.size() - 16)));
            if (pack.open(QIODevice::ReadOnly))
                data += pack.readAll();
        } else if (inData && (line.startsWith("Data.l ") || line.startsWith("Data.b "))) {
            const int width = line[5] == 'l' ? 4 : 1;
            for (const QByteArray& value : line.mid(7).split(',')) {
                const quint32 v = value.mid(1).toUInt(nullptr, 16);
                for (int b = 0; b < width; ++b)
                    data += static_cast<char>(v >> (8 * b));
            }
        }
    }
    qsizetype at = 0;
    for (qsizetype i = 1; i < sizes.size(); ++i) {
        blocks.append(data.mid(at, sizes[i]));
        at += sizes[i];
    }
    return blocks;
}

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

int Show(const QString& output, const QList<Listed>& files)
{
    QList<QByteArray> blocks = StoredBlocks(output);
    const bool resource = output.endsWith(QLatin1String(".res"), Qt::CaseInsensitive);
    if (resource && !blocks.isEmpty())
        blocks.removeFirst(); // the catalog comes first there, last in the includes
    QTextStream out(stdout);
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QByteArray stored = blocks.value(i);
        const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(stored.constData()),
                                                 static_cast<std::size_t>(stored.size()));
        QString how;
        if (HasBlockMagic(view))
            how = QStringLiteral("%1 block of %2 bytes").arg(PackerText(static_cast<std::int8_t>(view[16])))
                      .arg(stored.size());
        else
            how = QStringLiteral("raw, %1 bytes").arg(stored.size());
        out << QStringLiteral("  %1  %2 %3 %4 bytes -> %5\n")
                   .arg(i + 1, 2)
                   .arg(QFileInfo(files[i].path).fileName(), -14)
                   .arg(files[i].packer, -6)
                   .arg(QFileInfo(files[i].path).size(), 8)
                   .arg(how);
    }
    return blocks.size() == files.size() + (resource ? 0 : 1) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--show")) {
        const std::optional<QList<Listed>> files = ReadProject(args[3]);
        return files ? Show(args[2], *files) : 2;
    }
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
                             "       hexaloom_mkproject --rebase <in.hxlm> <out.hxlm> <format 0|1|2>\n"
                             "       hexaloom_mkproject --show <output> <project.hxlm>\n");
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
