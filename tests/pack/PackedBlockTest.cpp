#include "PackedBlock.h"
#include "Crc32.h"
#include "OwnResourceStore.h"
#include "OwnResources.h"

#include <QFile>
#include <QTest>

#include <random>

using namespace hexaloom;

const ResourceStore& TestResourceStore();

namespace {

constexpr int kMaxLevel = kPackLevelMax;

Bytes bytesOf(const QByteArray& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

Bytes fixture(const char* name)
{
    QFile f(QStringLiteral(HEXALOOM_TEST_DATA "/store/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return bytesOf(f.readAll());
}

} // namespace

class PackedBlockTest : public QObject
{
    Q_OBJECT
private slots:
    void crcOfKnownTexts_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<uint>("crc");
        QTest::newRow("abc") << QByteArray("abc") << 0x352441C2u;
        QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0xD202EF8Du;
        QTest::newRow("check string") << QByteArray("123456789") << 0xCBF43926u;
    }
    void crcOfKnownTexts()
    {
        QFETCH(QByteArray, text);
        QFETCH(uint, crc);
        QCOMPARE(Crc32(bytesOf(text)), crc);
    }

    // Blocks of both packers carry the header fields and read back to the original bytes.
    void blockRoundTrip_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("data");
        const QByteArray text = QByteArray("Hexaloom packs files for PureBasic programs. ").repeated(200);
        QTest::addColumn<int>("level");
        QTest::newRow("zip text") << int(PackerZip) << text << 9;
        QTest::newRow("jcalg1 text") << int(PackerJcalg1) << text << 9;
        QTest::newRow("zip one byte") << int(PackerZip) << QByteArray("x") << 9;
        QTest::newRow("jcalg1 one byte") << int(PackerJcalg1) << QByteArray("x") << 9;
        QTest::newRow("zip zeros") << int(PackerZip) << QByteArray(100000, '\0') << 9;
        QTest::newRow("jcalg1 zeros") << int(PackerJcalg1) << QByteArray(100000, '\0') << 9;
        // The max level: the same decoders (JcDecompress, zlib's uncompress) read its streams.
        QByteArray words;
        std::mt19937 rng(5);
        for (int i = 0; i < 40000; ++i)
            words += QByteArray::number(rng() % 700) + (rng() % 5 ? " " : "\r\n");
        for (const int kind : {int(PackerZip), int(PackerJcalg1)}) {
            const char* name = kind == PackerZip ? "zip" : "jcalg1";
            QTest::addRow("%s max text", name) << kind << text << kMaxLevel;
            QTest::addRow("%s max numbers", name) << kind << words << kMaxLevel;
            QTest::addRow("%s max one byte", name) << kind << QByteArray("x") << kMaxLevel;
            QTest::addRow("%s max zeros", name) << kind << QByteArray(100000, '\0') << kMaxLevel;
            QTest::addRow("%s max short period", name) << kind << QByteArray("abc").repeated(30000) << kMaxLevel;
        }
    }
    void blockRoundTrip()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, data);
        QFETCH(int, level);
        const Bytes original = bytesOf(data);
        const Bytes block = PackBlock(original, kind, level);
        QVERIFY(HasBlockMagic(block));
        if (level == kMaxLevel) {
            const std::size_t level9 = PackBlock(original, kind).size();
            QVERIFY2(block.size() <= level9, qPrintable(QString("%1 against %2").arg(block.size()).arg(level9)));
            if (data.size() > 100000 && data != QByteArray(data.size(), '\0'))
                QVERIFY(block.size() < level9);
        }
        QCOMPARE(le32(block, 0), std::uint32_t(original.size()));
        QCOMPARE(le32(block, 4), 0u);
        QCOMPARE(le32(block, 8), Crc32(original));
        QCOMPARE(int(block[16]), kind);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(block.data()) + 17, 6), QByteArray("VORKEL"));
        const auto back = ReadPackedBlock(block);
        QVERIFY(back.has_value());
        QVERIFY(*back == original);
    }

    // A set stop flag ends the max level's packing with nothing.
    void maxLevelStops()
    {
        const Bytes data = bytesOf(QByteArray("stop me, stop me ").repeated(5000));
        Bytes out(PayloadCapacity(data.size()));
        const std::atomic<bool> stop{true};
        for (const int kind : {int(PackerZip), int(PackerJcalg1)})
            QCOMPARE(PackPayload(data.data(), data.size(), out.data(), out.size(), kMaxLevel, kind, &stop), 0u);
    }

    // The upper half of the CRC field is the sign extension of bit 31.
    void crcSignExtension_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<uint>("upper");
        QTest::newRow("abc: bit 31 clear") << QByteArray("abc") << 0u;                       // 0x352441C2
        QTest::newRow("check string: bit 31 set") << QByteArray("123456789") << 0xFFFFFFFFu; // 0xCBF43926
    }
    void crcSignExtension()
    {
        QFETCH(QByteArray, data);
        QFETCH(uint, upper);
        const Bytes block = PackBlock(bytesOf(data), PackerZip);
        QVERIFY(HasBlockMagic(block));
        QCOMPARE(le32(block, 12), upper);
    }

    // Kind none, empty data and data jCalg1 cannot shrink come back raw; zip keeps even a longer block.
    void rawFallbacks_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("block");
        const Bytes noise = randomBytes(20000, 7);
        const QByteArray random(reinterpret_cast<const char*>(noise.data()), int(noise.size()));
        QTest::newRow("kind none") << int(PackerNone) << QByteArray("aaaaaaaaaaaaaaaaaaaaaaaaaaaa") << false;
        QTest::newRow("empty zip") << int(PackerZip) << QByteArray() << false;
        QTest::newRow("empty jcalg1") << int(PackerJcalg1) << QByteArray() << false;
        QTest::newRow("unknown kind") << 7 << QByteArray("aaaaaaaaaaaaaaaaaaaaaaaaaaaa") << false;
        QTest::newRow("random jcalg1") << int(PackerJcalg1) << random << false;
        QTest::newRow("random zip kept") << int(PackerZip) << random << true;
        QTest::newRow("one byte zip kept") << int(PackerZip) << QByteArray("z") << true;
        QTest::newRow("two bytes jcalg1") << int(PackerJcalg1) << QByteArray("zz") << false;
    }
    void rawFallbacks()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, data);
        QFETCH(bool, block);
        const Bytes original = bytesOf(data);
        const Bytes result = PackBlock(original, kind);
        QCOMPARE(HasBlockMagic(result), block);
        if (!block)
            QVERIFY(result == original);
        else
            QVERIFY(result.size() > original.size());
    }

    // Raw bytes that would read as a block (an output or pack file stored again) go into a block of kind
    // none and come back as they were; so do such bytes when their packer gives up.
    void storesLookalikesAsKindNone_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("data");
        const QByteArray lookalike = QByteArray(17, 'a') + "VORKEL" + "and more";
        Bytes noise = randomBytes(5000, 9);
        std::copy_n("VORKEL", 6, noise.begin() + 17);
        QTest::newRow("kind none") << int(PackerNone) << lookalike;
        QTest::newRow("just a header") << int(PackerNone) << lookalike.left(23);
        QTest::newRow("jcalg1 cannot shrink it")
            << int(PackerJcalg1) << QByteArray(reinterpret_cast<const char*>(noise.data()), 5000);
    }
    void storesLookalikesAsKindNone()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, data);
        const Bytes original = bytesOf(data);
        const Bytes block = PackBlock(original, kind);
        QCOMPARE(block.size(), original.size() + 23);
        QCOMPARE(le32(block, 0), std::uint32_t(original.size()));
        QCOMPARE(le32(block, 8), Crc32(original));
        QCOMPARE(int(block[16]), int(PackerNone));
        QVERIFY(HasBlockMagic(block));
        QVERIFY(std::equal(original.begin(), original.end(), block.begin() + 23));
        QCOMPARE(ReadPackedBlock(block), std::optional<Bytes>(original));
    }

    // Damaged blocks read as nothing, never as wrong data.
    void damagedBlocks_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("value");
        QTest::newRow("crc changed") << 8 << 0x5A;
        QTest::newRow("size zero") << -1 << 0;
        QTest::newRow("size larger") << 0 << 0x7F;
        QTest::newRow("packer 0") << 16 << 0;
        QTest::newRow("packer 3") << 16 << 3;
        QTest::newRow("payload byte") << 30 << 0x00;
        QTest::newRow("payload truncated") << -2 << 0;
        QTest::newRow("header alone") << -3 << 0; // 23 bytes with the magic: a block, not raw data
        QTest::newRow("header alone, size and crc 0 (the crc of nothing)") << -4 << 0;
    }
    void damagedBlocks()
    {
        QFETCH(int, offset);
        QFETCH(int, value);
        for (int kind : {int(PackerZip), int(PackerJcalg1), int(PackerNone)}) {
            QByteArray data = QByteArray("damage me, damage me, damage me ").repeated(20);
            if (kind == PackerNone)
                data.replace(17, 6, "VORKEL");
            Bytes block = PackBlock(bytesOf(data), kind);
            QVERIFY(HasBlockMagic(block));
            QCOMPARE(int(block[16]), kind);
            if (offset == -1)
                std::fill(block.begin(), block.begin() + 8, 0);
            else if (offset == -2)
                block.resize(block.size() - 6);
            else if (offset <= -3)
                block.resize(kBlockHeaderSize);
            else
                block[std::size_t(offset)] ^= std::uint8_t(value ? value : 0xFF);
            if (offset == -4)
                std::fill(block.begin(), block.begin() + 16, 0);
            QVERIFY2(!ReadPackedBlock(block).has_value(), qPrintable(QString::number(kind)));
        }
    }

    void unpackDispatchRejectsOtherKinds()
    {
        const Bytes data = bytesOf("abcabcabcabcabcabcabc");
        Bytes out(data.size());
        for (int kind : {0, 3, -1})
            QCOMPARE(UnpackPayload(data.data(), data.size(), out.data(), out.size(), kind), std::size_t(0));
        Bytes packed(100);
        QCOMPARE(PackPayload(data.data(), data.size(), packed.data(), packed.size(), 9, 0), std::size_t(0));
    }

    // The store tool's entries read back as the reader of the tool's own data must see them.
    void ownResourceStore_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("expected"); // fixture name, "" for nothing, "=catalog"
        QTest::newRow("negative index") << -1 << QString();
        QTest::newRow("catalog") << 0 << QStringLiteral("=catalog");
        QTest::newRow("raw entry") << 1 << QStringLiteral("plain.txt");
        QTest::newRow("zip block") << 2 << QStringLiteral("zipped.txt");
        QTest::newRow("jcalg1 block") << 3 << QStringLiteral("jcalg.txt");
        // Files that look like blocks are stored as blocks of kind none, so they come back as they are.
        QTest::newRow("a block with a bad crc, stored raw") << 4 << QStringLiteral("badcrc.block");
        QTest::newRow("shorter than a header") << 5 << QStringLiteral("short.bin");
        QTest::newRow("magic in raw data") << 6 << QStringLiteral("fakemagic.bin");
        QTest::newRow("absent resource") << 7 << QString();
        QTest::newRow("empty file") << 8 << QStringLiteral("empty.bin");
        QTest::newRow("past the end") << 9 << QString();
    }
    void ownResourceStore()
    {
        QFETCH(int, index);
        QFETCH(QString, expected);
        const auto bytes = ReadOwnResource(index, TestResourceStore());
        if (expected.isEmpty()) {
            QVERIFY(!bytes.has_value());
        } else if (expected == QLatin1String("=catalog")) {
            QVERIFY(bytes.has_value());
            static const char catalog[] = "8,plain.txt,zipped.txt,jcalg.txt,badcrc.block,short.bin,"
                                          "fakemagic.bin,absent.bin,empty.bin";
            const QByteArray text(catalog, sizeof catalog); // with its trailing zero byte
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes->data()), int(bytes->size())), text);
        } else {
            QVERIFY(bytes.has_value());
            QVERIFY(*bytes == fixture(expected.toLatin1().constData()));
        }
    }

    // Packed entries are stored as blocks of the packer named for them.
    void storeEntriesArePacked()
    {
        const auto& entries = TestResourceStore().entries;
        QCOMPARE(entries.size(), std::size_t(9));
        QVERIFY(!HasBlockMagic({entries[1].data, entries[1].size}));
        QCOMPARE(int(entries[2].data[16]), int(PackerZip));
        QCOMPARE(int(entries[3].data[16]), int(PackerJcalg1));
        QCOMPARE(int(entries[4].data[16]), int(PackerNone));
        QCOMPARE(int(entries[6].data[16]), int(PackerNone));
        QVERIFY(entries[7].data == nullptr);
        // One past a store's end is nothing, whatever lies beyond it.
        QVERIFY(!ReadOwnResource(2, ResourceStore{entries.first(2)}).has_value());
    }

    // The program's own store: the catalog of all 22 names, and every file of resources/ that exists
    // comes back byte for byte from a zip block at its fixed index.
    void programStore()
    {
        static const char* const names[] = {"New.ico",
                                            "Open.ico",
                                            "Save.ico",
                                            "SaveAs.ico",
                                            "ExitDoor.ico",
                                            "FileNew.ico",
                                            "DirNew.ico",
                                            "Book.ico",
                                            "Information.ico",
                                            "Reload.ico",
                                            "GoUp.ico",
                                            "GoDown.ico",
                                            "Refresh.ico",
                                            "Delete.ico",
                                            "Run.ico",
                                            "logo.bmp",
                                            "Vorkel_Include.pbi",
                                            "Vorkel_Include_None.pbi",
                                            "Vorkel_Include_jCalg1.pbi",
                                            "Vorkel_Include_Zip.pbi",
                                            "about.html",
                                            "btn_donate.bmp"};
        QByteArray catalog("22");
        for (const char* name : names)
            catalog += ',' + QByteArray(name);
        catalog += '\0';
        const auto first = ReadOwnResource(0, OwnResourceStore());
        QVERIFY(first.has_value());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(first->data()), int(first->size())), catalog);

        int present = 0;
        for (int index = 1; index <= 22; ++index) {
            QFile file(QStringLiteral(HEXALOOM_SOURCE_DIR "/resources/") + QLatin1String(names[index - 1]));
            const auto bytes = ReadOwnResource(index, OwnResourceStore());
            if (!file.open(QIODevice::ReadOnly)) {
                QVERIFY2(!bytes.has_value(), names[index - 1]);
                continue;
            }
            ++present;
            QVERIFY2(bytes.has_value(), names[index - 1]);
            QVERIFY2(*bytes == bytesOf(file.readAll()), names[index - 1]);
            const ResourceEntry& entry = OwnResourceStore().entries[std::size_t(index)];
            QCOMPARE(int(entry.data[16]), int(PackerZip));
        }
        QVERIFY(present >= 4); // the four access-code templates at least
        QVERIFY(!ReadOwnResource(23, OwnResourceStore()).has_value());
    }
};

QTEST_GUILESS_MAIN(PackedBlockTest)
#include "PackedBlockTest.moc"
