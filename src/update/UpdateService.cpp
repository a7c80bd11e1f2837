#include "UpdateService.h"

#include "LanguageTable.h"
#include "Paths.h"
#include "Platform.h"
#include "ProgramInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace hexaloom {

namespace {
const QString kTitle = QStringLiteral("Updatecheck");
// A server that stops sending for this long has failed the transfer.
constexpr int kStallTimeoutMs = 30000;

// http or https with a host; nothing for any other address (a server must not make us read local files).
std::optional<QUrl> WebAddress(const QString& url)
{
    const QUrl address(url, QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || address.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return address;
}

// A transfer that ended without error with a 2xx status and as many bytes as the server announced: a
// connection closed early is not always reported as an error.
bool HttpSucceeded(const QNetworkReply* reply, qint64 received)
{
    if (reply->error() != QNetworkReply::NoError)
        return false;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || status.toInt() < 200 || status.toInt() >= 300)
        return false;
    // Fewer bytes than announced: the answer was cut short. More cannot come from one answer, but after a
    // redirect Qt may still hold the redirect's own length (0) for the answer that followed it.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    return !length.isValid() || received >= length.toLongLong();
}

// The progress bar's position: the share of the expected size, rounded half to even as a float is; a
// size of 0 or less gives 0, more bytes than expected stay at 100.
int Percent(qint64 done, qint64 expected)
{
    if (expected <= 0)
        return 0;
    const float value = static_cast<float>(static_cast<double>(done) / static_cast<double>(expected) * 100.0);
    return static_cast<int>(std::clamp(std::nearbyint(value), 0.0f, 100.0f));
}

// The size and digests of the file; nothing when it cannot be read.
std::optional<FileDigests> FileDigestsOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ReadDigests(file);
}
} // namespace

struct UpdateService::Download
{
    QString path;
    bool tooLong = false;
    QString fingerprint;
    QString sha256;
    QFile file;
    QNetworkReply* reply = nullptr;
    qint64 expected = 0;
    qint64 written = 0;
    bool writeFailed = false;
};

UpdateService::UpdateService(Platform& platform, const LanguageTable& language, QObject* parent)
    : UpdateService(platform, language, ReleaseKeys(), parent)
{
}

UpdateService::UpdateService(Platform& platform, const LanguageTable& language, std::span<const UpdatePublicKey> keys,
                             QObject* parent)
    : QObject(parent), m_platform(platform), m_language(language), m_network(new QNetworkAccessManager(this)),
      m_keys(keys.begin(), keys.end()), m_downloadFolder(QDir::tempPath())
{
}

UpdateService::~UpdateService()
{
    if (m_download) {
        m_download->reply->disconnect(this);
        m_download->reply->abort();
        // Half a file is nothing to keep.
        m_download->file.close();
        QFile::remove(m_download->path);
        QDir().rmdir(QFileInfo(m_download->path).absolutePath());
    }
}

void UpdateService::setInfoUrl(const QString& url)
{
    m_infoUrl = url;
}

QString UpdateService::infoUrl() const
{
    return m_infoUrl.isEmpty() ? QString::fromLatin1(kUpdateInfoUrl) : m_infoUrl;
}

void UpdateService::setDownloadFolder(const QString& folder)
{
    m_downloadFolder = folder;
}

QString UpdateService::downloadPath(const UpdateInfo& info) const
{
    // The name comes from the server: only its last part is used, so it cannot point outside the folder.
    QString name = FileNamePart(info.FileName);
    name = name.mid(name.lastIndexOf(QLatin1Char(':')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return {};
    return WithSeparator(m_downloadFolder) + name;
}

QNetworkReply* UpdateService::get(const QUrl& address)
{
    QNetworkRequest request(address);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Mozilla/4.0 (compatible; QV)"));
    // Always the server's current file, never a cached one, and nothing kept in a cache.
    request.setRawHeader("Pragma", "no-cache");
    // The bytes as they are on the server, so their count can be checked against Content-Length.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Redirects stay on the same scheme or move to https, never from https down to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    request.setTransferTimeout(kStallTimeoutMs);
    return m_network->get(request);
}

void UpdateService::CheckForUpdate()
{
    const std::optional<QUrl> address = WebAddress(infoUrl());
    m_failure.clear();
    if (!address) {
        m_failure = QStringLiteral("%1 is no http or https address").arg(infoUrl());
        OnUpdateInfoArrived(std::nullopt);
        return;
    }
    QNetworkReply* reply = get(*address);
    Deadline(reply, m_checkDeadlineMs);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxInfoFileSize)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        std::optional<QByteArray> block;
        if (HttpSucceeded(reply, reply->bytesAvailable()) && reply->bytesAvailable() <= kMaxInfoFileSize)
            block = reply->readAll();
        else if (reply->error() == QNetworkReply::OperationCanceledError)
            m_failure = QStringLiteral("no answer in time, or an answer too large for an update information file");
        else if (reply->error() != QNetworkReply::NoError)
            m_failure = reply->errorString();
        else
            m_failure = QStringLiteral("the answer was cut short");
        OnUpdateInfoArrived(block);
    });
}

void UpdateService::OnUpdateInfoArrived(const std::optional<QByteArray>& block)
{
    std::optional<UpdateInfo> info = block ? ParseUpdateInfo(*block) : std::nullopt;
    if (!info) {
        if (m_failure.isEmpty())
            m_failure = QStringLiteral("the answer is no update information file");
        emit checkFinished(CheckResult::Failed);
        return;
    }
    // Whoever can change the file on the server, or the way to it, could offer any program: only what a
    // key of ours signed is looked at further.
    if (!IsSignedBy(*block, m_keys)) {
        m_failure = MessageText(&m_language, "NotSigned");
        m_platform.Message(kTitle, m_failure, MessageIcon::Warning);
        emit checkFinished(CheckResult::Refused);
        return;
    }
    m_info = std::move(*info);
    if (VersionNumber(m_info.Version) > VersionNumber(QString::fromLatin1(kOwnVersion))) {
        emit checkFinished(CheckResult::UpdateFound);
        return;
    }
    m_platform.Message(kTitle, m_language.LanguageText(QStringLiteral("Messages"), QStringLiteral("NoUpdate")),
                       MessageIcon::None);
    emit checkFinished(CheckResult::NoUpdate);
}

bool UpdateService::StartDownload()
{
    // One at a time: a second download of the same version would write into the same file.
    const QString name = downloadPath(m_info);
    const std::optional<QUrl> address = WebAddress(m_info.DownloadUrl);
    if (m_download || name.isEmpty() || !address)
        return false;
    // A folder of its own, made for this download with only its owner let in: in a shared temporary
    // folder a predictable name could be taken beforehand by a link to someone else's file.
    QTemporaryDir folder(WithSeparator(m_downloadFolder) + QLatin1String(kAppCommand) + QStringLiteral("-update-XXXXXX"));
    if (!folder.isValid())
        return false;
    folder.setAutoRemove(false);
    auto download = std::make_unique<Download>();
    download->path = WithSeparator(folder.path()) + FileNamePart(name);
    download->fingerprint = m_info.Fingerprint;
    download->sha256 = m_info.ReservedText[kSha256Field];
    download->expected = m_info.FileSize;
    download->file.setFileName(download->path);
    if (!download->file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        folder.remove();
        return false;
    }
    download->reply = get(*address);
    download->reply->setReadBufferSize(kDownloadChunk);
    connect(download->reply, &QNetworkReply::readyRead, this, &UpdateService::writeDownloadedChunks);
    connect(download->reply, &QNetworkReply::finished, this, &UpdateService::endDownload);
    Deadline(download->reply, m_downloadDeadlineMs);
    m_lastDownload = download->path;
    m_download = std::move(download);
    emit downloadProgress(0);
    return true;
}

void UpdateService::setDeadlines(int checkMs, int downloadMs)
{
    m_checkDeadlineMs = checkMs;
    m_downloadDeadlineMs = downloadMs;
}

void UpdateService::Deadline(QNetworkReply* reply, int ms)
{
    // The stall timer restarts with every byte, so a server that trickles would hold it forever.
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
    timer->start(ms);
}

void UpdateService::writeDownloadedChunks()
{
    Download& d = *m_download;
    if (d.writeFailed || d.tooLong)
        return;
    // An error page is no part of the file; the failed status ends the transfer as a failure.
    const QVariant status = d.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() >= 300)) {
        d.reply->skip(d.reply->bytesAvailable());
        return;
    }
    while (d.reply->bytesAvailable() > 0) {
        const QByteArray chunk = d.reply->read(kDownloadChunk);
        if (chunk.isEmpty())
            break;
        // More than the information file announced is not the file it describes.
        if (d.written + chunk.size() > d.expected) {
            d.tooLong = true;
            d.reply->abort();
            return;
        }
        if (d.file.write(chunk) != chunk.size()) {
            d.writeFailed = true;
            d.reply->abort();
            return;
        }
        d.written += chunk.size();
        emit downloadProgress(Percent(d.written, d.expected));
    }
}

void UpdateService::endDownload()
{
    writeDownloadedChunks();
    std::unique_ptr<Download> d = std::move(m_download);
    d->reply->deleteLater();
    const bool flushed = d->file.flush();
    d->file.close();
    // Fewer bytes than announced is a transfer cut short, also when the server announced no length.
    const bool ok = !d->writeFailed && !d->tooLong && flushed && HttpSucceeded(d->reply, d->written) &&
                    d->written == d->expected;
    emit downloadFinished(OnDownloadFinished(ok, *d));
}

bool UpdateService::OnDownloadFinished(bool ok, const Download& download)
{
    const QString& path = download.path;
    // Exact comparisons: a digest in capitals, or an empty one, does not vouch for the file. MD5 alone
    // can be matched by a file made for it; the signed SHA-256 cannot.
    const std::optional<FileDigests> digests = ok ? FileDigestsOf(path) : std::nullopt;
    const bool matches = digests && digests->size == download.expected && !digests->md5.isEmpty() &&
                         digests->md5 == download.fingerprint && digests->sha256 == download.sha256;
    if (!matches) {
        // Nothing that failed its checks stays on disk, where it could still be opened by hand.
        QFile::remove(path);
        QDir().rmdir(QFileInfo(path).absolutePath());
        m_platform.Message(kTitle,
                           m_language.LanguageText(QStringLiteral("Messages"),
                                                   ok ? QStringLiteral("FileCorrupted") : QStringLiteral("WrongDownload")),
                           MessageIcon::None);
        return false;
    }
#ifdef Q_OS_WIN
    const bool opened = m_platform.StartProgram(QStringLiteral("explorer"), {QDir::toNativeSeparators(path)});
#else
    const bool opened = m_platform.OpenUrl(QUrl::fromLocalFile(path).toString());
#endif
    if (!opened)
        m_platform.Message(kTitle, MessageText(&m_language, "DownloadNotOpened").arg(QDir::toNativeSeparators(path)),
                           MessageIcon::Warning);
    return true;
}

} // namespace hexaloom
