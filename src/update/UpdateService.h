#pragma once
// The Updatecheck command and the download of a new version, without blocking the window: fetches the
// update information file, refuses it unless a key this build carries signed it, says "no update" or
// reports the newer version, downloads its file straight to disk, checks its size, MD5 and SHA-256 and
// opens the file. Messages go through the platform seam; windows only show what this object reports.
#include "UpdateInfo.h"
#include "UpdateSignature.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <span>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace hexaloom {

class LanguageTable;
class Platform;

class UpdateService : public QObject
{
    Q_OBJECT
public:
    enum class CheckResult {
        Failed,     // no answer, an HTTP error, or not an update information file: nothing is shown
        Refused,    // not signed by a key this build carries: the message was shown, nothing is offered
        NoUpdate,   // the server's version is not newer: the message was shown
        UpdateFound // updateInfo() holds the newer version
    };
    Q_ENUM(CheckResult)

    // The information file holds a few texts; anything larger is not one.
    static constexpr qint64 kMaxInfoFileSize = 1 << 20;
    // The download is read and written in pieces of this size, so memory use stays one piece.
    static constexpr qint64 kDownloadChunk = 65536;

    // Trusts the keys the program was built with (ReleaseKeys()).
    UpdateService(Platform& platform, const LanguageTable& language, QObject* parent = nullptr);
    // Trusts `keys` instead: for tests, which sign with keys of their own.
    UpdateService(Platform& platform, const LanguageTable& language, std::span<const UpdatePublicKey> keys,
                  QObject* parent = nullptr);
    ~UpdateService() override;

    // The address of the information file; empty means the program's own (kUpdateInfoUrl). http and
    // https only.
    void setInfoUrl(const QString& url);
    QString infoUrl() const;
    // Where downloads go; the system's temporary folder unless set.
    void setDownloadFolder(const QString& folder);

    // Starts fetching the information file and returns at once; checkFinished reports the outcome.
    void CheckForUpdate();
    // Starts downloading the file of the last update found into a new folder of its own inside the
    // download folder (downloadedPath() names the file). False (and nothing started) when the file
    // cannot be created, the address is not http or https, or a download is already running.
    // downloadFinished reports the end; a body longer than the announced FileSize fails it at once.
    bool StartDownload();
    // The file the last download started was written to.
    QString downloadedPath() const { return m_lastDownload; }
    // How long a check and a download may take in all, however steadily the server sends.
    void setDeadlines(int checkMs, int downloadMs);
    bool isDownloading() const { return m_download != nullptr; }
    // The last update found.
    const UpdateInfo& updateInfo() const { return m_info; }
    // Why the last check failed or was refused, in a few words (the network's reason where it gave one).
    QString failure() const { return m_failure; }
    // The download folder and the file name a download of `info` gets (the download itself goes into a
    // folder of its own there); empty when its file name is unusable.
    QString downloadPath(const UpdateInfo& info) const;

signals:
    void checkFinished(hexaloom::UpdateService::CheckResult result);
    void downloadProgress(int percent);
    // After the messages: true when the file arrived, matched its size, MD5 and SHA-256 and was offered
    // to the desktop. On false nothing of it is left on disk.
    void downloadFinished(bool ok);

private:
    struct Download;

    QNetworkReply* get(const QUrl& address);
    static void Deadline(QNetworkReply* reply, int ms);
    void OnUpdateInfoArrived(const std::optional<QByteArray>& block);
    void writeDownloadedChunks();
    void endDownload();
    bool OnDownloadFinished(bool ok, const Download& download);

    Platform& m_platform;
    const LanguageTable& m_language;
    QNetworkAccessManager* m_network;
    std::vector<UpdatePublicKey> m_keys;
    QString m_infoUrl;
    QString m_downloadFolder;
    UpdateInfo m_info;
    QString m_failure;
    std::unique_ptr<Download> m_download;
    QString m_lastDownload;
    int m_checkDeadlineMs = 60000;
    int m_downloadDeadlineMs = 30 * 60000;
};

} // namespace hexaloom
