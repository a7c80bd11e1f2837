// Release tool: writes the update information file that the Updatecheck command reads, for one file
// of a new version, signed with the team's Ed25519 key. Its size, MD5 and SHA-256 are taken from the
// file itself.
//
//   hexaloom_mkupdate --out hexaloom.dat --sign-key release.key --name Hexaloom --version 1.7.0
//                     --url https://hexaloom.org/files/Hexaloom-1.7.0.zip --file Hexaloom-1.7.0.zip
//                     [--filename NAME] [--date 2010-01-01T14:45 | --date SECONDS]
//                     [--info-url http://hexaloom.org/news] [--rtf news.rtf]
//   hexaloom_mkupdate --new-key DIR      a key pair: DIR/hexaloom-update.key (secret, owner only) and
//                                        DIR/hexaloom-update.pub; prints the public key
//
// The file name defaults to that of --file, the release date to the file's modification time (UTC).
// Publish the output as /u_versions/hexaloom.dat on the update server. On a fault: one line on stderr,
// exit code 1, and an existing output stays as it was. docs/update.md tells the whole release.
#include "AtomicFile.h"
#include "UpdateInfo.h"
#include "UpdateService.h"
#include "UpdateSignature.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
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

// The same file, also through links; false when either does not exist.
bool SameFile(const QString& a, const QString& b)
{
    const QFileInfo first(a);
    const QFileInfo second(b);
    return first.exists() && second.exists() && first.canonicalFilePath() == second.canonicalFilePath();
}

// Writes a new file that has `permissions` from its creation on; an existing one is never replaced.
bool WriteNewKeyFile(const QString& path, const QByteArray& text, QFileDevice::Permissions permissions, QString* why)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissions)) {
        *why = QFileInfo::exists(path) ? QStringLiteral("it exists already") : file.errorString();
        return false;
    }
    if (file.write(text) != text.size() || !file.flush()) {
        *why = file.errorString();
        file.remove();
        return false;
    }
    return true;
}

int NewKeyPair(const QString& folder)
{
    const std::optional<UpdateKeyPair> pair = NewUpdateKeyPair();
    if (!pair)
        return Fail(QStringLiteral("the random source could not be started"));
    if (!QDir().mkpath(folder))
        return Fail(QStringLiteral("cannot make the folder \"%1\"").arg(folder));
    const QString secretPath = QDir(folder).filePath(QStringLiteral("hexaloom-update.key"));
    const QString publicPath = QDir(folder).filePath(QStringLiteral("hexaloom-update.pub"));
    QString why;
    // Neither file is replaced: a secret key written over is a key lost.
    if (QFileInfo::exists(publicPath))
        return Fail(QStringLiteral("cannot write \"%1\": it exists already").arg(publicPath));
    if (!WriteNewKeyFile(secretPath, KeyText(pair->secretKey), QFileDevice::ReadOwner | QFileDevice::WriteOwner, &why))
        return Fail(QStringLiteral("cannot write \"%1\": %2").arg(secretPath, why));
    const QFileDevice::Permissions readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!WriteNewKeyFile(publicPath, KeyText(pair->publicKey), readable, &why)) {
        QFile::remove(secretPath);
        return Fail(QStringLiteral("cannot write \"%1\": %2").arg(publicPath, why));
    }
    std::fputs(KeyText(pair->publicKey).constData(), stdout);
    return 0;
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
    const QCommandLineOption signKey(QStringLiteral("sign-key"), QStringLiteral("The secret key that signs."),
                                     QStringLiteral("file"));
    const QCommandLineOption newKey(QStringLiteral("new-key"),
                                    QStringLiteral("Make a key pair in the folder and do nothing else."),
                                    QStringLiteral("folder"));
    parser.addOptions({out, name, version, url, file, fileName, date, infoUrl, rtf, signKey, newKey});
    if (!parser.parse(QCoreApplication::arguments()))
        return Fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return Fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    if (parser.isSet(newKey)) {
        if (parser.optionNames().size() != 1)
            return Fail(QStringLiteral("--new-key goes alone"));
        return NewKeyPair(parser.value(newKey));
    }
    for (const QCommandLineOption* required : {&out, &signKey, &name, &version, &url, &file})
        if (parser.value(*required).isEmpty())
            return Fail(QStringLiteral("--%1 is required").arg(required->names().first()));

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

    // The output replaces a regular file (or what a link leads to) and nothing else: never a device, a
    // FIFO or a folder, and never one of the files it is made from.
    const QString outPath = parser.value(out);
    const QFileInfo outInfo(outPath);
    if ((outInfo.exists() || outInfo.isSymLink()) && !outInfo.isFile())
        return Fail(QStringLiteral("--out \"%1\" is not a regular file").arg(outPath));
    for (const QCommandLineOption* input : {&file, &rtf, &signKey})
        if (parser.isSet(*input) && SameFile(outPath, parser.value(*input)))
            return Fail(QStringLiteral("--out \"%1\" is the file of --%2").arg(outPath, input->names().first()));

    QString why;
    const std::optional<QByteArray> keyText = ReadRegularFile(parser.value(signKey), 4096, &why);
    if (!keyText)
        return Fail(QStringLiteral("cannot read \"%1\": %2").arg(parser.value(signKey), why));
    const std::optional<UpdateSecretKey> key = SecretKeyFromText(*keyText);
    if (!key)
        return Fail(QStringLiteral("\"%1\" is no secret key of hexaloom_mkupdate --new-key").arg(parser.value(signKey)));

    const QFileInfo fileInfo(parser.value(file));
    QFile offered;
    if (!OpenRegularFile(offered, parser.value(file), std::numeric_limits<qint64>::max(), &why))
        return Fail(QStringLiteral("cannot read \"%1\": %2").arg(parser.value(file), why));
    const std::optional<FileDigests> digests = ReadDigests(offered);
    if (!digests)
        return Fail(QStringLiteral("cannot read \"%1\": %2").arg(parser.value(file), offered.errorString()));
    info.FileSize = digests->size;
    info.Fingerprint = digests->md5;
    info.ReservedText[kSha256Field] = digests->sha256;
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

    // Signed last, over every other byte; checked as a client checks it before it is written.
    const std::optional<QByteArray> signedBytes = SignUpdateInfo(SerializeUpdateInfo(info), *key);
    const UpdatePublicKey publicKey = PublicHalf(*key);
    if (!signedBytes || !IsSignedBy(*signedBytes, std::span(&publicKey, 1)))
        return Fail(QStringLiteral("the information could not be signed"));
    const QByteArray& bytes = *signedBytes;
    // Clients take a larger file for no answer at all.
    if (bytes.size() > UpdateService::kMaxInfoFileSize)
        return Fail(QStringLiteral("the information file would hold %1 bytes; clients read at most %2")
                        .arg(bytes.size())
                        .arg(UpdateService::kMaxInfoFileSize));
    QSaveFile target(outPath);
    if (!target.open(QIODevice::WriteOnly) || target.write(bytes) < 0 || !target.commit())
        return Fail(QStringLiteral("cannot write \"%1\": %2").arg(target.fileName(), target.errorString()));
    return 0;
}
