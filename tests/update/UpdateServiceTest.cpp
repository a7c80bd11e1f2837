// The update check and download against a real HTTP(S) server on loopback.
#include "UpdateService.h"
#include "BuildRoad.h"
#include "HttpTestServer.h"
#include "LanguageTable.h"
#include "ScriptedPlatform.h"
#include "SignedUpdate.h"
#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

using namespace hexaloom;

namespace {
const QString kNoUpdate = QStringLiteral("Message(\"Updatecheck\", \"No Update available\", None)");
const QString kWrongDownload =
    QStringLiteral("Message(\"Updatecheck\", \"Something went wrong with the download!\", None)");
const QString kCorrupted = QStringLiteral("Message(\"Updatecheck\", \"File seems to be corrupted!\", None)");
const QString kNotSigned = QStringLiteral(
    "Message(\"Updatecheck\", \"the update information is not signed by the Hexaloom team\", Warning)");

QByteArray Body()
{
    // Several download pieces, not a multiple of the piece size.
    QByteArray body;
    for (int i = 0; body.size() < 300000; ++i)
        body += QByteArray::number(i) + ' ';
    return body;
}

QString Md5(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

UpdateInfo Offer(const QString& version, const QString& downloadUrl, const QString& fingerprint,
                 const QString& sha256 = Sha256Hex(Body()))
{
    UpdateInfo info;
    info.Name = QStringLiteral("Hexaloom");
    info.Version = version;
    info.DownloadUrl = downloadUrl;
    info.FileSize = Body().size();
    info.Fingerprint = fingerprint;
    info.FileName = QStringLiteral("Hexaloom-1.7.0.bin");
    info.InfoText = "{\\rtf1 New\\par}";
    info.ReservedText[kSha256Field] = sha256;
    return info;
}

// An offer signed by the team.
QByteArray Info(const QString& version, const QString& downloadUrl, const QString& fingerprint,
                const QString& sha256 = Sha256Hex(Body()))
{
    return SignedInfo(Offer(version, downloadUrl, fingerprint, sha256));
}
} // namespace

class UpdateServiceTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void check_data();
    void check();
    void download_data();
    void download();
    void refusedDownloads();
    void serviceGoneDuringDownload();
    void releaseToolOutputIsServed();
    void checkUpdateCommand_data();
    void checkUpdateCommand();

private:
    // Runs a check of `url` and returns its result.
    UpdateService::CheckResult runCheck(const QString& url);
    bool serveOverTls();

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<HttpTestServer> m_server;
    std::unique_ptr<HttpTestServer> m_tlsServer;
    ScriptedPlatform m_platform;
    LanguageTable m_language;
    std::unique_ptr<UpdateService> m_service;
};

void UpdateServiceTest::initTestCase()
{
    // The test server's certificate is its own authority; trusting it here is what a real server's
    // chain gives.
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromPath(QStringLiteral(HEXALOOM_TEST_DATA "/update/loopback.crt"));
    QCOMPARE(certificates.size(), 1);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

void UpdateServiceTest::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_server = std::make_unique<HttpTestServer>();
    QVERIFY(m_server->listen());
    m_platform.clear();
    m_service = std::make_unique<UpdateService>(m_platform, m_language, std::span(&TestUpdateKey().publicKey, 1));
    m_service->setDownloadFolder(m_folder->path());
}

void UpdateServiceTest::cleanup()
{
    m_service.reset();
    m_tlsServer.reset();
    m_server.reset();
    m_folder.reset();
}

bool UpdateServiceTest::serveOverTls()
{
    QFile key(QStringLiteral(HEXALOOM_TEST_DATA "/update/loopback.key"));
    if (!key.open(QIODevice::ReadOnly))
        return false;
    m_tlsServer = std::make_unique<HttpTestServer>(
        QSslCertificate::fromPath(QStringLiteral(HEXALOOM_TEST_DATA "/update/loopback.crt")).first(),
        QSslKey(&key, QSsl::Rsa));
    return m_tlsServer->listen();
}

UpdateService::CheckResult UpdateServiceTest::runCheck(const QString& url)
{
    QSignalSpy finished(m_service.get(), &UpdateService::checkFinished);
    m_service->setInfoUrl(url);
    m_service->CheckForUpdate();
    if (finished.isEmpty() && !finished.wait(20000))
        return UpdateService::CheckResult(-1);
    return finished.first().first().value<UpdateService::CheckResult>();
}

void UpdateServiceTest::check_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<UpdateService::CheckResult>("result");
    QTest::addColumn<QStringList>("calls");
    using R = UpdateService::CheckResult;
    QTest::newRow("newer version") << "1.7.0" << R::UpdateFound << QStringList();
    QTest::newRow("same version") << "1.6.6" << R::NoUpdate << QStringList{kNoUpdate};
    QTest::newRow("same version, padded") << "1.6.006" << R::NoUpdate << QStringList{kNoUpdate};
    QTest::newRow("bad magic") << "bad magic" << R::Failed << QStringList();
    QTest::newRow("HTTP 404") << "404" << R::Failed << QStringList();
    QTest::newRow("HTTP 500") << "500" << R::Failed << QStringList();
    QTest::newRow("redirect on http") << "redirect" << R::UpdateFound << QStringList();
    QTest::newRow("far too large for an information file") << "huge" << R::Failed << QStringList();
    QTest::newRow("exactly as large as an information file may be") << "1 MiB" << R::UpdateFound << QStringList();
    QTest::newRow("one byte larger") << "1 MiB + 1" << R::Failed << QStringList();
    QTest::newRow("not a web address") << "file" << R::Failed << QStringList();
    QTest::newRow("https") << "https" << R::UpdateFound << QStringList();
    QTest::newRow("http redirected to https") << "to https" << R::UpdateFound << QStringList();
    QTest::newRow("https redirected down to http") << "to http" << R::Failed << QStringList();
    // One byte now and then restarts the stall timer; the whole check still has its deadline.
    QTest::newRow("trickles past the deadline") << "trickle" << R::Failed << QStringList();
    // Only what the team signed is offered, and only a newer version.
    QTest::newRow("one byte changed") << "one byte changed" << R::Refused << QStringList{kNotSigned};
    QTest::newRow("signed by another key") << "another key" << R::Refused << QStringList{kNotSigned};
    QTest::newRow("no signature") << "no signature" << R::Refused << QStringList{kNotSigned};
    QTest::newRow("signature of a different file") << "other file" << R::Refused << QStringList{kNotSigned};
    QTest::newRow("signature in capitals") << "capitals" << R::Refused << QStringList{kNotSigned};
    QTest::newRow("older signed version") << "1.5.0" << R::NoUpdate << QStringList{kNoUpdate};
}

void UpdateServiceTest::check()
{
    QFETCH(QString, setup);
#ifdef Q_OS_WIN
    if (setup.contains(QLatin1String("https")))
        QSKIP("the loopback https server needs a TLS backend that serves; Schannel under wine does not");
#endif
    const QString path = QStringLiteral("/u_versions/hexaloom.dat");
    const QByteArray newer = Info(QStringLiteral("1.7.0"), m_server->url("/f"), Md5(Body()));
    QString url = m_server->url(path);
    if (setup.startsWith(QLatin1String("1.")))
        m_server->serve(path, Info(setup, m_server->url("/f"), Md5(Body())));
    else if (setup == QLatin1String("bad magic"))
        m_server->serve(path, "\x1B" + newer.mid(1));
    else if (setup == QLatin1String("404"))
        m_server->serveStatus(path, 404);
    else if (setup == QLatin1String("500"))
        m_server->serveStatus(path, 500);
    else if (setup == QLatin1String("huge"))
        m_server->serve(path, newer + QByteArray(UpdateService::kMaxInfoFileSize, ' '));
    else if (setup.startsWith(QLatin1String("1 MiB"))) { // signed with its padding: only the size can refuse it
        const QByteArray plain = SerializeUpdateInfo(Offer(QStringLiteral("1.7.0"), m_server->url("/f"), Md5(Body())));
        const qsizetype padding = UpdateService::kMaxInfoFileSize - newer.size() + setup.endsWith('1');
        m_server->serve(path, SignUpdateInfo(plain + QByteArray(padding, '\0'), TestUpdateKey().secretKey).value());
    } else if (setup == QLatin1String("trickle"))
        m_server->trickle(path, newer, 100);
    else if (setup == QLatin1String("file"))
        url = QUrl::fromLocalFile(m_folder->filePath("hexaloom.dat")).toString();
    const UpdateInfo offer = Offer(QStringLiteral("1.7.0"), m_server->url("/f"), Md5(Body()));
    const SignedParts parts = SplitSignature(newer).value();
    QByteArray refused;
    if (setup == QLatin1String("one byte changed")) {
        refused = newer;
        refused[refused.indexOf("1.7.0") + 4] = '1';
    } else if (setup == QLatin1String("another key")) {
        refused = SignedInfo(offer, StrangerUpdateKey());
    } else if (setup == QLatin1String("no signature")) {
        refused = SerializeUpdateInfo(offer);
    } else if (setup == QLatin1String("other file")) {
        // A genuine signature, of the team's file for 1.8.0.
        UpdateInfo other = offer;
        other.Version = QStringLiteral("1.8.0");
        refused = SerializeUpdateInfo(offer).insert(parts.signatureAt, SplitSignature(SignedInfo(other))->signature);
    } else if (setup == QLatin1String("capitals")) {
        refused = parts.message;
        refused.insert(parts.signatureAt, parts.signature.toUpper());
    }
    if (!refused.isEmpty())
        m_server->serve(path, refused);
    if (setup == QLatin1String("file"))
        QVERIFY(WriteBytes(m_folder->filePath("hexaloom.dat"), newer));
    if (setup == QLatin1String("redirect")) {
        m_server->serve(path, newer);
        m_server->redirect("/old", path, 301);
        url = m_server->url("/old");
    }
    if (setup == QLatin1String("https") || setup.startsWith(QLatin1String("to "))) {
        QVERIFY(serveOverTls());
        m_tlsServer->serve(path, newer);
        m_server->serve(path, newer);
        url = m_tlsServer->url(path);
        if (setup == QLatin1String("to https")) {
            m_server->redirect("/moved", m_tlsServer->url(path));
            url = m_server->url("/moved");
        } else if (setup == QLatin1String("to http")) {
            m_tlsServer->redirect("/moved", m_server->url(path));
            url = m_tlsServer->url("/moved");
        }
    }

    m_service->setDeadlines(1500, 1500);
    QTEST(runCheck(url), "result");
    QTEST(m_platform.calls(), "calls");
    QFETCH(UpdateService::CheckResult, result);
    // A failed or refused check knows why, for the window to tell.
    QCOMPARE(m_service->failure().isEmpty(),
             result != UpdateService::CheckResult::Failed && result != UpdateService::CheckResult::Refused);
    if (result == UpdateService::CheckResult::Refused) {
        // Nothing of it is kept to offer or fetch.
        QVERIFY(m_service->updateInfo().Version.isEmpty());
        QVERIFY(!m_service->StartDownload());
        QCOMPARE(m_server->requests(), QStringList{"GET " + path});
    }
    if (setup == QLatin1String("1.7.0")) {
        QCOMPARE(m_service->updateInfo().Version, QStringLiteral("1.7.0"));
        QCOMPARE(m_service->updateInfo().InfoText, QByteArray("{\\rtf1 New\\par}"));
        QCOMPARE(m_server->requests(), QStringList{"GET " + path});
        const auto& headers = m_server->requestHeaders().first();
        QCOMPARE(headers.value("user-agent"), QByteArray("Mozilla/4.0 (compatible; QV)"));
        QCOMPARE(headers.value("pragma"), QByteArray("no-cache"));
    }
    if (setup == QLatin1String("to http"))
        QVERIFY(m_server->requests().isEmpty());
}

void UpdateServiceTest::download_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("call");
    // DOWNLOADED: the download's place as handed over, SAVED: as the message names it.
#ifdef Q_OS_WIN
    const QString opened = QStringLiteral("StartProgram(\"explorer\", [DOWNLOADED])");
#else
    const QString opened = QStringLiteral("OpenUrl(DOWNLOADED)");
#endif
    QTest::newRow("fingerprint matches") << "good" << true << opened;
    QTest::newRow("cannot be opened") << "not opened" << true
                                      << opened + "\nMessage(\"Updatecheck\", \"The new version was saved as "
                                                  "SAVED, but it could not be opened.\", Warning)";
    QTest::newRow("after a redirect") << "redirect" << true << opened;
    QTest::newRow("fingerprint in capitals") << "capitals" << false << kCorrupted;
    QTest::newRow("empty fingerprint") << "no fingerprint" << false << kCorrupted;
    QTest::newRow("damaged file") << "damaged" << false << kCorrupted;
    QTest::newRow("server closes midway") << "closed" << false << kWrongDownload;
    QTest::newRow("HTTP 404") << "404" << false << kWrongDownload;
    QTest::newRow("longer than announced") << "longer" << false << kWrongDownload;
    QTest::newRow("trickles past the deadline") << "trickle" << false << kWrongDownload;
    // A link standing at the name in the shared folder leads nowhere near the download.
    QTest::newRow("a link waits at the name") << "link" << true << opened;
    // A file made to match the MD5 still fails the signed SHA-256; nothing refused stays on disk.
    QTest::newRow("MD5 matches, SHA-256 does not") << "sha256 differs" << false << kCorrupted;
    QTest::newRow("no SHA-256 in the information") << "no sha256" << false << kCorrupted;
    QTest::newRow("shorter than announced") << "shorter" << false << kWrongDownload;
    QTest::newRow("redirect loop") << "loop" << false << kWrongDownload;
}

void UpdateServiceTest::download()
{
    QFETCH(QString, setup);
    QFETCH(QString, call);
    const QByteArray body = Body();
    QString fingerprint = Md5(body);
    if (setup == QLatin1String("capitals"))
        fingerprint = fingerprint.toUpper();
    else if (setup == QLatin1String("no fingerprint"))
        fingerprint.clear();
    QString sha256 = Sha256Hex(body);
    if (setup == QLatin1String("sha256 differs"))
        sha256 = Sha256Hex(body + ' ');
    else if (setup == QLatin1String("no sha256"))
        sha256.clear();
    m_server->serve("/u", Info(QStringLiteral("1.7.0"), m_server->url("/file"), fingerprint, sha256));
    if (setup == QLatin1String("shorter")) {
        m_server->serve("/file", body.left(100000));
    } else if (setup == QLatin1String("loop")) {
        m_server->redirect("/file", m_server->url("/file"));
    } else if (setup == QLatin1String("damaged")) {
        QByteArray damaged = body;
        damaged[1000] = '#';
        m_server->serve("/file", damaged);
    } else if (setup == QLatin1String("closed")) {
        m_server->closeMidway("/file", body, 100000);
    } else if (setup == QLatin1String("404")) {
        m_server->serveStatus("/file", 404);
    } else if (setup == QLatin1String("longer")) {
        m_server->serve("/file", body + QByteArray(2 << 20, 'x'));
    } else if (setup == QLatin1String("trickle")) {
        m_server->trickle("/file", body, 100);
    } else if (setup == QLatin1String("link")) {
        QVERIFY(WriteBytes(m_folder->filePath("victim"), "precious"));
        QVERIFY(QFile::link(m_folder->filePath("victim"), m_folder->filePath("Hexaloom-1.7.0.bin")));
        m_server->serve("/file", body);
    } else if (setup == QLatin1String("redirect")) {
        m_server->serve("/u", Info(QStringLiteral("1.7.0"), m_server->url("/elsewhere"), fingerprint));
        m_server->redirect("/elsewhere", m_server->url("/file"));
        m_server->serve("/file", body);
    } else {
        m_server->serve("/file", body);
    }
    QCOMPARE(runCheck(m_server->url("/u")), UpdateService::CheckResult::UpdateFound);

    m_platform.SetOpenResult(setup != QLatin1String("not opened"));
    m_platform.SetStartResult(setup != QLatin1String("not opened"));
    QSignalSpy progress(m_service.get(), &UpdateService::downloadProgress);
    QSignalSpy finished(m_service.get(), &UpdateService::downloadFinished);
    m_service->setDeadlines(20000, 3000);
    QVERIFY(m_service->StartDownload());
    QVERIFY(m_service->isDownloading());
    QVERIFY(finished.wait(20000));
    QVERIFY(!m_service->isDownloading());
    QTEST(finished.first().first().toBool(), "ok");
    // Into a folder of its own, made for this download and closed to others (checked while it stands).
    const QString path = m_service->downloadedPath();
    const QFileInfo folder(QFileInfo(path).absolutePath());
    QCOMPARE(folder.absolutePath(), m_folder->path());
    QVERIFY(folder.fileName().startsWith("hexaloom-update-"));
#ifndef Q_OS_WIN // POSIX modes
    QCOMPARE(int(folder.permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup)), 0);
#endif
    const QString native = QDir::toNativeSeparators(path);
#ifdef Q_OS_WIN
    call.replace(QStringLiteral("DOWNLOADED"), Quoted(native));
#else
    call.replace(QStringLiteral("DOWNLOADED"), Quoted(QUrl::fromLocalFile(path).toString()));
#endif
    call.replace(QStringLiteral("SAVED"), Quoted(native).mid(1).chopped(1));
    QCOMPARE(m_platform.calls(), call.split('\n'));

    QFETCH(bool, ok);
    if (ok) {
        QCOMPARE(ReadBytes(path), body);
        // Pieces of at most 64 KiB, so the bar moves several times, and ends full.
        QVERIFY(progress.size() >= 5);
        QCOMPARE(progress.last().first().toInt(), 100);
    } else {
        // Neither the file nor its folder: what failed cannot be opened by hand either.
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!QFileInfo::exists(folder.absoluteFilePath()));
    }
    QCOMPARE(ReadBytes(m_folder->filePath("victim")), setup == QLatin1String("link") ? "precious" : "");
}

void UpdateServiceTest::refusedDownloads()
{
    UpdateInfo info;
    info.FileName = QStringLiteral("../../evil.bin");
    QCOMPARE(m_service->downloadPath(info), QDir::toNativeSeparators(m_folder->filePath("evil.bin")));
    info.FileName = QStringLiteral("C:evil.bin");
    QCOMPARE(m_service->downloadPath(info), QDir::toNativeSeparators(m_folder->filePath("evil.bin")));
    info.FileName = QStringLiteral("..");
    QCOMPARE(m_service->downloadPath(info), QString());

    // Nothing starts without a usable name, a web address or a folder to write to.
    const auto offer = [this](const QString& fileName, const QString& url) {
        UpdateInfo offered;
        offered.Version = QStringLiteral("2.0");
        offered.DownloadUrl = url;
        offered.FileName = fileName;
        m_server->serve("/u", SignedInfo(offered));
        return runCheck(m_server->url("/u")) == UpdateService::CheckResult::UpdateFound;
    };
    QVERIFY(offer("..", m_server->url("/file")));
    QVERIFY(!m_service->StartDownload());
    QVERIFY(offer("x.bin", QUrl::fromLocalFile(m_folder->filePath("y.bin")).toString()));
    QVERIFY(!m_service->StartDownload());
    QVERIFY(offer("x.bin", "ftp://127.0.0.1/x.bin"));
    QVERIFY(!m_service->StartDownload());
    QVERIFY(offer("x.bin", "http:///x.bin"));
    QVERIFY(!m_service->StartDownload());
    QVERIFY(!QFile::exists(m_folder->filePath("x.bin")));
    QVERIFY(offer("x.bin", m_server->url("/file")));
    m_service->setDownloadFolder(m_folder->filePath("no/such/folder"));
    QVERIFY(!m_service->StartDownload());
    QVERIFY(m_server->requests().filter("/file").isEmpty());

    // One download at a time: a second one would write into the same file.
    const QByteArray body = Body();
    m_service->setDownloadFolder(m_folder->path());
    m_server->holdMidway("/file", body, 1000);
    m_server->serve("/u", Info(QStringLiteral("2.0"), m_server->url("/file"), Md5(body)));
    QCOMPARE(runCheck(m_server->url("/u")), UpdateService::CheckResult::UpdateFound);
    QVERIFY(m_service->StartDownload());
    QVERIFY(!m_service->StartDownload());
    QTRY_VERIFY(m_server->holding());
    QSignalSpy finished(m_service.get(), &UpdateService::downloadFinished);
    m_server->release();
    QVERIFY(finished.wait(20000));
    QVERIFY(finished.first().first().toBool());
}

void UpdateServiceTest::serviceGoneDuringDownload()
{
    const QByteArray body = Body();
    m_server->serve("/u", Info(QStringLiteral("2.0"), m_server->url("/file"), Md5(body)));
    m_server->holdMidway("/file", body, 70000);
    QCOMPARE(runCheck(m_server->url("/u")), UpdateService::CheckResult::UpdateFound);
    QVERIFY(m_service->StartDownload());
    QTRY_VERIFY(m_server->holding());
    // The transfer is dropped with the service, and nothing of it reaches the platform or stays on disk.
    const QString path = m_service->downloadedPath();
    QVERIFY(QFileInfo::exists(path));
    m_service.reset();
    QTRY_COMPARE(m_server->openConnections(), 0);
    QVERIFY(m_platform.calls().isEmpty());
    QVERIFY(!QFileInfo::exists(QFileInfo(path).absolutePath()));
}

void UpdateServiceTest::releaseToolOutputIsServed()
{
    const QString offered = m_folder->filePath("release/Hexaloom-2.0.zip");
    const QString dat = m_folder->filePath("hexaloom.dat");
    QVERIFY(WriteBytes(offered, Body()));
    QVERIFY(WriteBytes(m_folder->filePath("news.rtf"), "{\\rtf1 {\\b 2.0}\\par}"));
    QByteArray printed;
    const auto run = [&](const QStringList& arguments) {
        QProcess tool;
        tool.start(QStringLiteral(HEXALOOM_MKUPDATE), arguments);
        const bool ended = tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit;
        printed = tool.readAllStandardOutput();
        return ended ? std::make_pair(tool.exitCode(), tool.readAllStandardError()) : std::make_pair(-1, QByteArray());
    };
    // A key pair of its own: the secret half for its owner only, and never made over an existing one.
    const QString keys = m_folder->filePath("keys");
    const QString secret = keys + QStringLiteral("/hexaloom-update.key");
    const QString publicFile = keys + QStringLiteral("/hexaloom-update.pub");
    QCOMPARE(run({"--new-key", keys}), std::make_pair(0, QByteArray()));
    // The console's line end is the system's (CR LF on Windows); the file's is LF everywhere.
    QCOMPARE(printed.replace("\r\n", "\n"), ReadBytes(publicFile));
    const QByteArray secretText = ReadBytes(secret);
#ifndef Q_OS_WIN // POSIX modes
    QCOMPARE(QFileInfo(secret).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner);
#endif
    QCOMPARE(run({"--new-key", keys}).first, 1);
    QCOMPARE(ReadBytes(secret), secretText);
    const UpdatePublicKey key = PublicKeyFromText(ReadBytes(publicFile)).value();
    m_service = std::make_unique<UpdateService>(m_platform, m_language, std::span(&key, 1));
    m_service->setDownloadFolder(m_folder->path());

    const QStringList arguments = {"--out",      dat,
                                   "--sign-key", secret,
                                   "--name",     "Hexaloom",
                                   "--version",  "2.0.0",
                                   "--url",      m_server->url("/files/new.zip"),
                                   "--file",     offered,
                                   "--date",     "2010-01-01T14:45",
                                   "--info-url", "http://hexaloom.org/news",
                                   "--rtf",      m_folder->filePath("news.rtf")};
    QCOMPARE(run(arguments), std::make_pair(0, QByteArray()));

    m_server->serve("/u", ReadBytes(dat));
    m_server->serve("/files/new.zip", Body());
    QCOMPARE(runCheck(m_server->url("/u")), UpdateService::CheckResult::UpdateFound);
    const UpdateInfo& info = m_service->updateInfo();
    QCOMPARE(info.FileName, QStringLiteral("Hexaloom-2.0.zip"));
    QCOMPARE(info.FileSize, Body().size());
    QCOMPARE(info.ReleaseDate, 1262357100u);
    QCOMPARE(info.InfoText, QByteArray("{\\rtf1 {\\b 2.0}\\par}"));
    QSignalSpy finished(m_service.get(), &UpdateService::downloadFinished);
    QVERIFY(m_service->StartDownload());
    QVERIFY(finished.wait(20000));
    QVERIFY(finished.first().first().toBool());

    // A fault is one line on stderr, and the file written before stays, as do the files it is made from
    // and whatever else stands at --out.
    const QByteArray before = ReadBytes(dat);
    QVERIFY(WriteBytes(m_folder->filePath("big.rtf"), QByteArray(UpdateService::kMaxInfoFileSize, 'x')));
    std::vector<std::pair<const char*, QString>> faults = {
        {"--file", "missing.zip"}, {"--url", "ftp://x/y"}, {"--version", "beta"}, {"--date", "1969-12-31"},
        {"--file", "/dev/zero"}, {"--file", dat}, {"--filename", "."}, {"--filename", "C:new.zip"},
        {"--rtf", m_folder->filePath("big.rtf")}, {"--rtf", dat}, {"--sign-key", dat}, {"--sign-key", publicFile},
        {"--sign-key", QString()}, {"--out", keys}};
    const QString fifo = m_folder->filePath("fifo");
#ifndef Q_OS_WIN
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    faults.emplace_back("--out", fifo);
#endif
    for (const auto& [option, value] : faults) {
        QStringList bad = arguments;
        const qsizetype at = bad.indexOf(QLatin1String(option));
        if (at < 0)
            bad << option << value;
        else
            bad[at + 1] = value;
        const auto [code, error] = run(bad);
        QCOMPARE(code, 1);
        QVERIFY2(error.startsWith("hexaloom_mkupdate: ") && error.count('\n') == 1, error.constData());
    }
    QCOMPARE(ReadBytes(dat), before);
    QCOMPARE(ReadBytes(secret), secretText);
#ifndef Q_OS_WIN
    struct stat status = {};
    QVERIFY(lstat(QFile::encodeName(fifo).constData(), &status) == 0 && S_ISFIFO(status.st_mode));
#endif
}

void UpdateServiceTest::checkUpdateCommand_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");
    QTest::newRow("offered") << "1.7.0" << 0 << "offered: Hexaloom 1.7.0 (this is 1.6.6), SIZE bytes from URL/f";
    QTest::newRow("not newer") << "1.6.6" << 1
                               << "not offered: the server's version 1.6.6 is not newer than this program's 1.6.6";
    QTest::newRow("signed by another key")
        << "another key" << 1 << "refused: the update information is not signed by the Hexaloom team";
    QTest::newRow("no answer") << "404" << 1 << "failed: ";
    // The program itself trusts its release keys only, never a test's.
    QTest::newRow("the program's own keys")
        << "own keys" << 1 << "refused: the update information is not signed by the Hexaloom team";
}

void UpdateServiceTest::checkUpdateCommand()
{
    QFETCH(QString, setup);
    QFETCH(QString, line);
    const QString url = m_server->url("/u");
    const UpdateInfo offer = Offer(setup.startsWith(QLatin1String("1.")) ? setup : QStringLiteral("1.7.0"),
                                   url.chopped(2) + "/f", Md5(Body()));
    if (setup == QLatin1String("404"))
        m_server->serveStatus("/u", 404);
    else
        m_server->serve("/u", SignedInfo(offer, setup == QLatin1String("another key") ? StrangerUpdateKey() : TestUpdateKey()));
    std::FILE* out = std::fopen(QFile::encodeName(m_folder->filePath("out.txt")).constData(), "w+");
    QVERIFY(out);
    const int code = setup == QLatin1String("own keys")
                         ? RunBuildCommand({"--check-update", url}, out, out, ProgressLine::None)
                         : CheckUpdateCommand(url, std::span(&TestUpdateKey().publicKey, 1), out);
    QTEST(code, "exitCode");
    std::rewind(out);
    char text[512] = {};
    const QString printed = QString::fromLocal8Bit(std::fgets(text, sizeof text, out));
    std::fclose(out);
    line.replace(QLatin1String("URL"), url.chopped(2)).replace(QLatin1String("SIZE"), QString::number(Body().size()));
    QVERIFY2(printed.startsWith(line), qPrintable(printed));
    QVERIFY(printed.endsWith(QLatin1Char('\n')));
}

QTEST_GUILESS_MAIN(UpdateServiceTest)
#include "UpdateServiceTest.moc"
