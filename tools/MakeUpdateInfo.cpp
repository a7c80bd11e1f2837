// Release tool: writes the update information file that the Updatecheck command reads, for one file
// of a new version. Its size and MD5 are taken from the file itself.
//
//   hexaloom_mkupdate --out hexaloom.dat --name Hexaloom --version 1.7.0
//                     --url https://hexaloom.org/files/Hexaloom-1.7.0.zip --file Hexaloom-1.7.0.zip
//                     [--filename NAME] [--date 2010-01-01T14:45 | --date SECONDS]
//                     [--info-url http://hexaloom.org/news] [--rtf news.rtf]
//
// The file name defaults to that of --file, the release date to the file's modification time (UTC).
// Publish the output as /u_versions/hexaloom.dat on the update server. On a fault: one line on stderr,
// exit code 1, and an existing output stays as it was.
#include "AtomicFile.h"
#include "UpdateInfo.h"
#include "UpdateService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>

using namespace hexaloom;

namespace {

int Fail(const QString& message)
{
    std::fprintf(stderr, "hexaloom_mkupdate: %s\n", qPrintable(message));
    return 1;
}

bool IsWebAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// Seconds since 1970 (UTC) from a number or an ISO date; nothing when it is neither or does not fit.
std::optional<std::uint32_t> ReleaseDate(const QString& text)
{
    bool number = false;
    const qlonglong seconds = text.toLongLong(&number);
    if (!number) {
        QDateTime date = QDateTime::fromString(text, Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        date.setTimeSpec(Qt::UTC);
        return ReleaseDate(QString::number(date.toSecsSinceEpoch()));
    }
    if (seconds < 0 || seconds > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::uint32_t>(seconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes an update information file for a release."));
    parser.addHelpOption();
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("The file to write."), QStringLiteral("file"));
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("Name shown."), QStringLiteral("text"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("major.minor.build"),
                                     QStringLiteral("version"));
    const QCommandLineOption url(QStringLiteral("url"), QStringLiteral("Download address (http or https)."),
                                 QStringLiteral("url"));
    const QCommandLineOption file(QStringLiteral("file"), QStringLiteral("The file offered."), QStringLiteral("path"));
    const QCommandLineOption fileName(QStringLiteral("filename"), QStringLiteral("Name it is saved under."),
                                      QStringLiteral("name"));
    const QCommandLineOption date(QStringLiteral("date"), QStringLiteral("Release date: ISO date or seconds (UTC)."),
                                  QStringLiteral("date"));
    const QCommandLineOption infoUrl(QStringLiteral("info-url"), QStringLiteral("Web page of the release."),
                                     QStringLiteral("url"));
    const QCommandLineOption rtf(QStringLiteral("rtf"), QStringLiteral("What is new, as RTF."), QStringLiteral("file"));
    parser.addOptions({out, name, version, url, file, fileName, date, infoUrl, rtf});
    if (!parser.parse(QCoreApplication::arguments()))
        return Fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    for (const QCommandLineOption* required : {&out, &name, &version, &url, &file})
        if (parser.value(*required).isEmpty())
            return Fail(QStringLiteral("--%1 is required").arg(required->names().first()));
    if (!parser.positionalArguments().isEmpty())
        return Fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    UpdateInfo info;
    info.Name = parser.value(name);
    info.Version = parser.value(version);
    if (VersionNumber(info.Version) <= 0)
        return Fail(QStringLiteral("\"%1\" is no version (major.minor.build)").arg(info.Version));
    info.DownloadUrl = parser.value(url);
    if (!IsWebAddress(info.DownloadUrl))
        return Fail(QStringLiteral("--url \"%1\" is no http or https address").arg(info.DownloadUrl));
    info.InfoUrl = parser.value(infoUrl);
    if (!info.InfoUrl.isEmpty() && !IsWebAddress(info.InfoUrl))
        return Fail(QStringLiteral("--info-url \"%1\" is no http or https address").arg(info.InfoUrl));

    // The information file must not be written over the file it describes.
    const QFileInfo outInfo(parser.value(out));
    const QFileInfo fileInfo(parser.value(file));
    if (outInfo.exists() && outInfo.canonicalFilePath() == fileInfo.canonicalFilePath())
        return Fail(QStringLiteral("--out \"%1\" is the file offered").arg(parser.value(out)));
    QFile offered;
    QString why;
    if (!OpenRegularFile(offered, parser.value(file), std::numeric_limits<qint64>::max(), &why))
        return Fail(QStringLiteral("cannot read \"%1\": %2").arg(parser.value(file), why));
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (!md5.addData(&offered))
        return Fail(QStringLiteral("cannot read \"%1\": %2").arg(parser.value(file), offered.errorString()));
    info.FileSize = offered.size();
    info.Fingerprint = QString::fromLatin1(md5.result().toHex());
    info.FileName = parser.isSet(fileName) ? parser.value(fileName) : fileInfo.fileName();
    // Clients keep only what follows the last separator or ":", and refuse "." and "..": a name they
    // would change or refuse is no name to publish.
    const bool control =
        std::any_of(info.FileName.begin(), info.FileName.end(), [](QChar c) { return c.unicode() < 0x20; });
    if (info.FileName.isEmpty() || info.FileName.contains(QLatin1Char('/')) ||
        info.FileName.contains(QLatin1Char('\\')) || info.FileName.contains(QLatin1Char(':')) || control ||
        info.FileName == QLatin1String(".") || info.FileName == QLatin1String(".."))
        return Fail(QStringLiteral("--filename \"%1\" must be a plain file name").arg(info.FileName));

    const std::optional<std::uint32_t> released =
        parser.isSet(date) ? ReleaseDate(parser.value(date))
                           : ReleaseDate(QString::number(fileInfo.lastModified().toSecsSinceEpoch()));
    if (!released)
        return Fail(QStringLiteral("--date \"%1\" is no date from 1970 to 2106").arg(parser.value(date)));
    info.ReleaseDate = *released;

    if (parser.isSet(rtf)) {
        const std::optional<QByteArray> text =
            ReadRegularFile(parser.value(rtf), UpdateService::kMaxInfoFileSize, &why);
        if (!text)
            return Fail(QStringLiteral("cannot read \"%1\": %2").arg(parser.value(rtf), why));
        info.InfoText = *text;
    }

    // Clients take a larger file for no answer at all.
    const QByteArray bytes = SerializeUpdateInfo(info);
    if (bytes.size() > UpdateService::kMaxInfoFileSize)
        return Fail(QStringLiteral("the information file would hold %1 bytes; clients read at most %2")
                        .arg(bytes.size())
                        .arg(UpdateService::kMaxInfoFileSize));
    QSaveFile target(parser.value(out));
    if (!target.open(QIODevice::WriteOnly) || target.write(bytes) < 0 || !target.commit())
        return Fail(QStringLiteral("cannot write \"%1\": %2").arg(target.fileName(), target.errorString()));
    return 0;
}
