// The update information file, the version compare, the texts of the update window and the RTF reader.
#include "UpdateInfo.h"
#include "RtfReader.h"
#include "UpdateSignature.h"

#include <QTest>

#include <limits>

using namespace hexaloom;

namespace {
UpdateInfo SampleInfo()
{
    UpdateInfo info;
    info.Name = QStringLiteral("Hexaloom");
    info.Version = QStringLiteral("1.7.2");
    info.DownloadUrl = QStringLiteral("https://hexaloom.org/files/Hexaloom-1.7.2.zip");
    info.FileSize = 1536;
    info.ReleaseDate = 1262357100; // 01.01.2010 14:45
    info.Fingerprint = QStringLiteral("0123456789abcdef0123456789abcdef");
    info.FileName = QStringLiteral("Hexaloom-1.7.2.zip");
    info.InfoUrl = QStringLiteral("http://hexaloom.org/news");
    info.ReservedText = {QStringLiteral("r1"), QString(), QStringLiteral("r\xC3\xA9")};
    info.ReservedNumber = {1, 2, 0xFFFFFFFF};
    info.InfoText = QByteArray("{\\rtf1 New!\\par}");
    return info;
}

// A compact picture of read paragraphs: formatted runs as [biu:text], paragraphs separated by "|".
QString Describe(const QList<RtfParagraph>& paragraphs)
{
    QStringList out;
    for (const RtfParagraph& paragraph : paragraphs) {
        QString line;
        for (const RtfRun& run : paragraph) {
            QString flags;
            if (run.bold)
                flags += QLatin1Char('b');
            if (run.italic)
                flags += QLatin1Char('i');
            if (run.underline)
                flags += QLatin1Char('u');
            line +=
                flags.isEmpty() ? run.text : QLatin1Char('[') + flags + QLatin1Char(':') + run.text + QLatin1Char(']');
        }
        out.append(line);
    }
    return out.join(QLatin1Char('|'));
}
} // namespace

class UpdateInfoTest : public QObject
{
    Q_OBJECT
private slots:
    void versionNumber_data();
    void versionNumber();
    void formatByteSize_data();
    void formatByteSize();
    void windowTexts();
    void roundTrip();
    void parseCutBlocks_data();
    void parseCutBlocks();
    void signatureCoversEveryByte();
    void keyTexts();
    void readRtf_data();
    void readRtf();
    void rtfHtmlEscapesText();
};

void UpdateInfoTest::versionNumber_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("newer"); // than the program's own 1.6.6
    QTest::newRow("own") << "1.6.6" << 106006 << false;
    QTest::newRow("padded build") << "1.6.006" << 106006 << false;
    QTest::newRow("next build") << "1.6.7" << 106007 << true;
    QTest::newRow("no build field") << "1.7" << 107000 << true;
    QTest::newRow("two-digit minor") << "1.10.0" << 110000 << true;
    QTest::newRow("major") << "2.0" << 200000 << true;
    QTest::newRow("long build cut to its left") << "1.6.1234" << 106123 << true;
    QTest::newRow("letter stops the number") << "1.6.6b" << 10606 << false;
    QTest::newRow("empty") << "" << 0 << false;
    QTest::newRow("not a version") << "beta" << 0 << false;
    QTest::newRow("leading blank skipped") << " 2.0.0" << 200000 << true;
    QTest::newRow("sign") << "-1.0.0" << -100000 << false;
}

void UpdateInfoTest::versionNumber()
{
    QFETCH(QString, version);
    QFETCH(int, number);
    QFETCH(bool, newer);
    QCOMPARE(VersionNumber(version), number);
    QCOMPARE(VersionNumber(version) > VersionNumber(QStringLiteral("1.6.6")), newer);
}

void UpdateInfoTest::formatByteSize_data()
{
    QTest::addColumn<double>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative") << -5.0 << "0";
    QTest::newRow("bytes") << 512.0 << "512.00 Byte";
    QTest::newRow("1024 stays bytes") << 1024.0 << "1024.00 Byte";
    QTest::newRow("1025") << 1025.0 << "1.00 KByte";
    QTest::newRow("1536") << 1536.0 << "1.50 KByte";
    QTest::newRow("1024 K") << 1048576.0 << "1024.00 KByte";
    QTest::newRow("rounded") << 1572864.0 * 1.333 << "2.00 MByte";
    QTest::newRow("giga") << 3.25 * 1024 * 1024 * 1024 << "3.25 GByte";
    QTest::newRow("2^50") << std::ldexp(1.0, 50) << "1024.00 TByte";
    QTest::newRow("2^60, no unit past T") << std::ldexp(1.0, 60) << "1048576.00 TByte";
    QTest::newRow("largest 64-bit size") << double(std::numeric_limits<qint64>::max()) << "8388608.00 TByte";
}

void UpdateInfoTest::formatByteSize()
{
    QFETCH(double, size);
    QTEST(FormatByteSize(size), "text");
}

void UpdateInfoTest::windowTexts()
{
    QCOMPARE(FormatReleaseDate(0), QStringLiteral("01.01.1970 00:00"));
    QCOMPARE(FormatReleaseDate(1262357100), QStringLiteral("01.01.2010 14:45"));
    // Unsigned: a date past 2038 is still a date.
    QCOMPARE(FormatReleaseDate(0xFFFFFFFF), QStringLiteral("07.02.2106 06:28"));

    QVERIFY(HasInfoButton(QStringLiteral("http://hexaloom.org/")));
    QVERIFY(HasInfoButton(QStringLiteral("HTTP://HEXALOOM.ORG/")));
    QVERIFY(!HasInfoButton(QStringLiteral("https://hexaloom.org/")));
    QVERIFY(!HasInfoButton(QStringLiteral("ftp://hexaloom.org/")));
    QVERIFY(!HasInfoButton(QString()));
}

void UpdateInfoTest::roundTrip()
{
    const UpdateInfo info = SampleInfo();
    const QByteArray block = SerializeUpdateInfo(info);
    QVERIFY(block.startsWith("\x1A\xC3\x3B\x6F"));
    const std::optional<UpdateInfo> read = ParseUpdateInfo(block);
    QVERIFY(read.has_value());
    QCOMPARE(read->Name, info.Name);
    QCOMPARE(read->Version, info.Version);
    QCOMPARE(read->DownloadUrl, info.DownloadUrl);
    QCOMPARE(read->FileSize, info.FileSize);
    QCOMPARE(read->ReleaseDate, info.ReleaseDate);
    QCOMPARE(read->Fingerprint, info.Fingerprint);
    QCOMPARE(read->FileName, info.FileName);
    QCOMPARE(read->InfoUrl, info.InfoUrl);
    QCOMPARE(read->ReservedText, info.ReservedText);
    QCOMPARE(read->ReservedNumber, info.ReservedNumber);
    QCOMPARE(read->InfoText, info.InfoText);
    // The zero bytes a transfer may leave after the text belong to it.
    QCOMPARE(ParseUpdateInfo(block + QByteArray(8, '\0'))->InfoText, info.InfoText + QByteArray(8, '\0'));
}

void UpdateInfoTest::parseCutBlocks_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("infoText");

    const QByteArray magic("\x1A\xC3\x3B\x6F", 4);
    const QByteArray whole = SerializeUpdateInfo(SampleInfo());
    const qsizetype rtf = whole.indexOf("{\\rtf");
    QTest::newRow("empty") << QByteArray() << false << ""
                           << "" << qint64(0) << "" << QByteArray();
    QTest::newRow("three bytes of magic") << magic.left(3) << false << ""
                                          << "" << qint64(0) << "" << QByteArray();
    QTest::newRow("wrong magic") << QByteArray("\x1A\xC3\x3B\x6E", 4) + whole.mid(4) << false << ""
                                 << "" << qint64(0) << "" << QByteArray();
    QTest::newRow("magic only") << magic << true << ""
                                << "" << qint64(0) << "" << QByteArray();
    QTest::newRow("name without its 0 byte") << magic + "Hexa" << true << "Hexa"
                                             << "" << qint64(0) << "" << QByteArray();
    QTest::newRow("size cut after three bytes") << magic +
                                                       QByteArray("N\0"
                                                                  "1.7\0"
                                                                  "u\0",
                                                                  8) +
                                                       QByteArray("\x01\x02\x03", 3)
                                                << true << "N"
                                                << "1.7" << qint64(0x030201) << "" << QByteArray();
    QTest::newRow("huge claimed size") << magic +
                                              QByteArray("N\0"
                                                         "2.0\0"
                                                         "u\0",
                                                         8) +
                                              QByteArray(7, '\xFF') + QByteArray("\x7F", 1)
                                       << true << "N"
                                       << "2.0" << std::numeric_limits<qint64>::max() << "" << QByteArray();
    QTest::newRow("negative size") << magic +
                                          QByteArray("N\0"
                                                     "2.0\0"
                                                     "u\0",
                                                     8) +
                                          QByteArray(8, '\xFF')
                                   << true << "N"
                                   << "2.0" << qint64(-1) << "" << QByteArray();
    QTest::newRow("ends after the reserved numbers") << whole.left(rtf) << true << "Hexaloom"
                                                     << "1.7.2" << qint64(1536) << "Hexaloom-1.7.2.zip" << QByteArray();
    QTest::newRow("last reserved number cut") << whole.left(rtf - 2) << true << "Hexaloom"
                                              << "1.7.2" << qint64(1536) << "Hexaloom-1.7.2.zip" << QByteArray();
    QTest::newRow("no terminators at all")
        << magic + QByteArray(5000, 'x') << true << QString(5000, 'x') << "" << qint64(0) << "" << QByteArray();
}

void UpdateInfoTest::parseCutBlocks()
{
    QFETCH(QByteArray, block);
    // An exactly sized copy, so a read past the end would be a read outside the allocation.
    const std::unique_ptr<char[]> exact(new char[std::size_t(block.size()) + 1]);
    std::copy(block.begin(), block.end(), exact.get());
    const std::optional<UpdateInfo> info = ParseUpdateInfo(QByteArrayView(exact.get(), block.size()));
    QTEST(info.has_value(), "parsed");
    if (!info)
        return;
    QTEST(info->Name, "name");
    QTEST(info->Version, "version");
    QTEST(qint64(info->FileSize), "fileSize");
    QTEST(info->FileName, "fileName");
    QTEST(info->InfoText, "infoText");
}

void UpdateInfoTest::signatureCoversEveryByte()
{
    const std::optional<UpdateKeyPair> team = NewUpdateKeyPair();
    const std::optional<UpdateKeyPair> stranger = NewUpdateKeyPair();
    QVERIFY(team && stranger);
    UpdateInfo sample = SampleInfo();
    sample.ReservedText[kSignatureField].clear();
    const QByteArray plain = SerializeUpdateInfo(sample);
    const std::optional<QByteArray> file = SignUpdateInfo(plain, team->secretKey);
    QVERIFY(file);
    // Any of the keys a build carries may have signed it, so a new key can take over from an old one.
    const std::array keys{stranger->publicKey, team->publicKey};
    QVERIFY(IsSignedBy(*file, keys));
    QVERIFY(!IsSignedBy(*file, std::span(keys).first(1)));
    QVERIFY(!SignUpdateInfo(*file, team->secretKey)); // a signature is never signed over

    // What a reader that knows nothing of signatures reads is unchanged.
    std::optional<UpdateInfo> read = ParseUpdateInfo(*file);
    QVERIFY(read);
    QCOMPARE(read->InfoText, sample.InfoText);
    QCOMPARE(read->ReservedNumber, sample.ReservedNumber);
    QCOMPARE(read->ReservedText[kSignatureField].size(), 128);
    read->ReservedText[kSignatureField].clear();
    QCOMPARE(SerializeUpdateInfo(*read), plain);

    // Every byte is covered: no change to any of them, nor a byte more or less, keeps the signature.
    for (qsizetype i = 0; i < file->size(); ++i) {
        for (const char flip : {'\x01', '\x20', '\x80'}) {
            QByteArray changed = *file;
            changed[i] = static_cast<char>(changed[i] ^ flip);
            if (IsSignedBy(changed, keys))
                QFAIL(qPrintable(QStringLiteral("byte %1 ^ %2 still verifies").arg(i).arg(int(uchar(flip)))));
        }
    }
    QVERIFY(!IsSignedBy(file->chopped(1), keys));
    QVERIFY(!IsSignedBy(*file + '\0', keys));
    QVERIFY(!IsSignedBy(plain, keys));
}

void UpdateInfoTest::keyTexts()
{
    const std::optional<UpdateKeyPair> pair = NewUpdateKeyPair();
    QVERIFY(pair);
    QVERIFY(SecretKeyFromText(KeyText(pair->secretKey)) == pair->secretKey);
    QVERIFY(PublicKeyFromText(" " + KeyText(pair->publicKey) + "\r\n") == pair->publicKey);
    QVERIFY(PublicHalf(pair->secretKey) == pair->publicKey);
    // A secret key whose public half is not its seed's would sign for nobody; upper case is another
    // spelling, a public key is no secret one.
    QByteArray damaged = KeyText(pair->secretKey);
    damaged[100] = damaged[100] == '0' ? '1' : '0';
    for (const QByteArray& text : {damaged, KeyText(pair->secretKey).toUpper(), KeyText(pair->publicKey),
                                   KeyText(pair->secretKey).left(127)})
        QVERIFY(!SecretKeyFromText(text));
    QVERIFY(!PublicKeyFromText(KeyText(pair->secretKey)));
    QVERIFY(!ReleaseKeys().empty());
}

void UpdateInfoTest::readRtf_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("read");
    QTest::newRow("paragraphs and formats")
        << QByteArray("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}\\f0 "
                      "Plain \\b bold\\b0  \\i italic\\i0  \\ul under\\ulnone\\par Next\\par}")
        << "Plain [b:bold] [i:italic] [u:under]|Next";
    QTest::newRow("group ends a format") << QByteArray("{\\rtf1 a{\\b b}c}") << "a[b:b]c";
    QTest::newRow("plain resets") << QByteArray("{\\rtf1\\b\\i x\\plain y}") << "[bi:x]y";
    QTest::newRow("hex in Windows-1252") << QByteArray("{\\rtf1\\ansi\\ansicpg1252 Gr\\'fc\\'dfe \\'80}")
                                         << QString::fromUtf8("Grüße €");
    QTest::newRow("hex no-break space") << QByteArray("{\\rtf1 a\\'a0b}") << QString::fromUtf8("a\u00A0b");
    QTest::newRow("hex in Windows-1251") << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}")
                                         << QString::fromUtf8("При");
    QTest::newRow("unicode skips its stand-in")
        << QByteArray("{\\rtf1 Caf\\u233?s \\u8364\\'80!}") << QString::fromUtf8("Cafés €!");
    QTest::newRow("unicode with uc2 and a negative value")
        << QByteArray("{\\rtf1\\uc2 \\u-10179\\'3f\\'3f\\u-8704??x}") << QString::fromUtf8("\xF0\x9F\x98\x80x");
    QTest::newRow("ignorable destination")
        << QByteArray("{\\rtf1{\\*\\generator Writer;}{\\*\\foo bar}Text}") << "Text";
    QTest::newRow("escaped braces and backslash") << QByteArray("{\\rtf1 \\{a\\}\\\\b}") << "{a}\\b";
    QTest::newRow("line and tab") << QByteArray("{\\rtf1 a\\line b\\tab c}") << "a\nb\tc";
    QTest::newRow("binary data skipped") << QByteArray("{\\rtf1 a{\\pict\\bin4 }}{x}b}") << "ab";
    QTest::newRow("empty paragraph kept, trailing ones dropped")
        << QByteArray("{\\rtf1 a\\par\\par b\\par\\par}") << "a||b";
    QTest::newRow("stops at the first 0 byte") << QByteArray("{\\rtf1 a\\par}\0\0garbage", 21) << "a";
    QTest::newRow("unbalanced braces") << QByteArray("{\\rtf1 a}}}b{{") << "ab";
    QTest::newRow("cut inside a control word") << QByteArray("{\\rtf1 a\\'4") << "a";
    QTest::newRow("plain UTF-8 text") << QByteArray("Line one\r\nLine \xC3\xBC\nthree\n") << "Line one|Line ü|three";
    QTest::newRow("plain Windows-1252 text") << QByteArray("Gr\xFC\xDF"
                                                           "e")
                                             << QString::fromUtf8("Grüße");
    QTest::newRow("nothing") << QByteArray() << "";
}

void UpdateInfoTest::readRtf()
{
    QFETCH(QByteArray, data);
    QTEST(Describe(ReadRtf(data)), "read");
}

void UpdateInfoTest::rtfHtmlEscapesText()
{
    const QString html = RtfToHtml("{\\rtf1 \\b <script>&\\b0\\par x}");
    QVERIFY(html.contains(QStringLiteral("<b>&lt;script&gt;&amp;</b>")));
    QVERIFY(!html.contains(QStringLiteral("<script>")));
    QCOMPARE(html.count(QStringLiteral("<p ")), 2);
}

QTEST_GUILESS_MAIN(UpdateInfoTest)
#include "UpdateInfoTest.moc"
