// The access code of the four templates, the companion include for .res outputs and the two example
// programs, run by pbrun for every compiler family against outputs written by the program's own Create:
// every file fetched by number and by name, saved, caught, and compared with its source; damaged outputs
// must give 0 with nothing leaked. Faults the templates have today are expected failures, listed in
// kKnownFaults with the reason; once the templates are mended they pass and the entries must go.
#include "AppSettings.h"
#include "Checker.h"
#include "CreateOutput.h"
#include "Document.h"
#include "IncludeWriter.h"
#include "Interpreter.h"
#include "Jcalg.h"
#include "OutputNames.h"
#include "PackedBlock.h"
#include "Paths.h"
#include "ProjectFile.h"
#include "ResourceWriter.h"
#include "ScriptedPlatform.h"
#include "TestFiles.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <zlib.h>

#include <functional>
#include <memory>

using namespace hexaloom;
using namespace hexaloom::pbrun;

namespace {

// One target per compiler family, with the systems and string modes the templates claim.
const char* const kTargets[] = {
    "4.00-windows-x86-ascii",   "4.30-windows-x64-unicode", "4.20-linux-x86-ascii",     "4.30-macos-x86-unicode",
    "4.40-windows-x86-ascii",   "4.40-linux-x64-unicode",   "5.10-windows-x86-unicode", "5.11-linux-x64-ascii",
    "5.20-windows-x86-ascii",   "5.31-macos-x64-unicode",   "5.31-linux-x86-unicode",   "5.40-windows-x64-unicode",
    "5.73-linux-x64-unicode",   "6.00-windows-x86-unicode", "6.12-windows-x64-unicode", "6.12-linux-x64-unicode",
    "6.12-macos-arm64-unicode", "6.04-linux-arm64-unicode",
};

// The targets of the big files: 32 and 64 bits, the oldest and the newest compiler.
const QStringList kBigTargets = {"4.00-windows-x86-ascii", "6.12-linux-x64-unicode"};

struct InputFile
{
    QString name;
    QByteArray bytes;
};

enum class Road { Hexdata, Binpack, Resource };

// One output and the driver program that reads it.
struct Output
{
    QString name;
    Road road = Road::Hexdata;
    QStringList packers;                      // packer texts, cycled over the files
    bool dll = false;                         // the driver runs as a DLL
    QString damage;                           // how the damaged outputs were damaged
    QString fileName = QStringLiteral("out"); // the output's name without extension
    bool driverBeside = false;                // the driver stands in the output's folder
    int level = kPackLevelDefault;            // the packing level of Create
    QList<InputFile> files;
    QString path;            // the output written
    QString driver;          // the driver program
    std::vector<int> stored; // per file: the packer its stored bytes need (0 raw)
    QByteArray catalog;
    QSet<int> damaged; // numbers whose stored bytes were damaged on purpose

    bool usesJcalg1() const { return road == Road::Resource || packers.contains(QStringLiteral("jCalg1")); }
    bool usesZip() const { return road == Road::Resource || packers.contains(QStringLiteral("zip")); }
};

// A four-channel ProTracker module: title, 31 sample headers, order list, "M.K." at 1080, one pattern.
QByteArray TrackerModule()
{
    QByteArray mod(1084 + 1024, '\0');
    mod.replace(0, 4, "loom");
    mod[950] = 1; // song length
    mod.replace(1080, 4, "M.K.");
    return mod;
}

QByteArray DemoFile(const QString& name)
{
    return ReadBytes(QStringLiteral(HEXALOOM_SOURCE_DIR "/examples/demo/files/") + name);
}

// A file larger than jCalg1's window of 64 KiB: text, then noise.
QByteArray BigFile(int size)
{
    return Pattern(size / 2, 7, true) + Pattern(size - size / 2, 8, false);
}

// The mixed list: every kind of file the access code meets, with unique names. Its big file is just
// past 64 KiB; the output "big files" carries 300 KB ones on fewer targets, as the access code's
// decoder takes long there in pbrun and does the same on every version of one bitness.
QList<InputFile> MixedFiles()
{
    QByteArray big = BigFile(66000);
    return {{"text.txt", Pattern(5000, 1, true)},
            {"noise.bin", Pattern(3001, 2, false)},
            {"empty.bin", QByteArray()},
            {"ff.bin", QByteArray(777, '\xFF')},
            {"weave.bmp", DemoFile("weave.bmp")},
            {"hexaloom.ico", DemoFile("hexaloom.ico")},
            {"chime.wav", DemoFile("chime.wav")},
            {"tune.mod", TrackerModule()},
            {"big.bin", big}};
}

// Files that, stored as they are, would be taken for packed blocks: a packed block, a bare header, and
// a first name that puts "VORKEL" at bytes 17 to 22 of the catalog.
QList<InputFile> LookalikeFiles()
{
    const Bytes block = PackBlock(Bytes(4000, 'p'), PackerZip);
    const QByteArray packed(reinterpret_cast<const char*>(block.data()), qsizetype(block.size()));
    return {
        {"123456789012345VORKEL.bin", packed}, {"header.bin", packed.left(23)}, {"text.txt", Pattern(700, 9, true)}};
}

bool IsKind(const QString& name, std::initializer_list<const char*> extensions)
{
    for (const char* e : extensions)
        if (name.endsWith(QLatin1String(e), Qt::CaseInsensitive))
            return true;
    return false;
}

// ---- faults the templates are known to have today --------------------------------------------------------

struct KnownFault
{
    const char* id;
    const char* reason;
    const char* message; // a run fault: part of its message
    Phase phase;         // a run fault: the phase that stops the run
    // The whole run fails (a compile or link error), or only the files it names come back wrong.
    std::function<bool(const Target&, const Output&)> run;
    std::function<bool(const Target&, const Output&, int stored)> file;
};

const KnownFault kKnownFaults[] = {
    // Not a fault of the access code but a limit of those versions, stated in docs/access-code.md: they read a
    // relative IncludeBinary from the main source's folder and have no #PB_Compiler_FilePath to name the
    // pack file beside the include.
    {"includebinary-before-4.30",
     "PureBasic 4.00 to 4.20 look for the pack file beside the main source, and the drivers live elsewhere",
     "IncludeBinary: file not found", Phase::Compile,
     [](const Target& t, const Output& o) { return t.version < 430 && o.road == Road::Binpack && !o.driverBeside; },
     nullptr},
};

// The faults that stop a run; when several apply, the compiler meets one of them first.
std::vector<const KnownFault*> RunFaults(const Target& t, const Output& o)
{
    std::vector<const KnownFault*> faults;
    for (const KnownFault& k : kKnownFaults)
        if (k.run && k.run(t, o))
            faults.push_back(&k);
    return faults;
}

const KnownFault* FileFault(const Target& t, const Output& o, int stored)
{
    for (const KnownFault& k : kKnownFaults)
        if (k.file && k.file(t, o, stored))
            return &k;
    return nullptr;
}

// ---- the outputs and their drivers -----------------------------------------------------------------------

QString Relative(const QString& from, const QString& to)
{
    return QDir(QFileInfo(from).absolutePath()).relativeFilePath(to);
}

// The driver: for every number from one below the first to one past the last, fetch, look up by name,
// save, and hand pictures, sounds and music to the Catch functions that take them (each call unpacks
// the file again, which in pbrun takes its time). It lives in a folder of its own.
QString DriverText(const Output& o)
{
    // the numbers walked: one below the first to one past the last (the catalog included)
    const int last = o.road == Road::Resource ? int(o.files.size()) + 1 : int(o.files.size()) + 2;
    const bool res = o.road == Road::Resource;
    const QString p = res ? QStringLiteral("Zember_") : QStringLiteral("Vorkel_");
    QStringList lines{QStringLiteral("; driver for %1").arg(o.name), QStringLiteral("EnableExplicit")};
    if (res) {
        lines << QStringLiteral("Import \"%1\"").arg(Relative(o.driver, o.path)) << QStringLiteral("EndImport")
              << QStringLiteral("XIncludeFile \"%1\"")
                     .arg(Relative(o.driver, QStringLiteral(HEXALOOM_SOURCE_DIR "/include/Zember_Include.pbi")));
    } else {
        lines << QStringLiteral("XIncludeFile \"%1\"").arg(Relative(o.driver, o.path));
    }
    lines << QStringLiteral("ProcedureDLL Drive()") << QStringLiteral("  Protected Number, Found, *Data")
          << QStringLiteral("  Protected Name$") << QStringLiteral("  InitSound()") << QStringLiteral("  InitSprite()")
          << QStringLiteral("  CompilerIf #PB_Compiler_Version < 520") << QStringLiteral("    InitModule()")
          << QStringLiteral("  CompilerEndIf") << QStringLiteral("  If OpenWindow(0, 0, 0, 64, 64, \"pbrun\")")
          << QStringLiteral("    OpenWindowedScreen(WindowID(0), 0, 0, 64, 64, 0, 0, 0)") << QStringLiteral("  EndIf");
    lines << QStringLiteral("  For Number = 0 To %1").arg(last) << QStringLiteral("    *Data = %1Get(Number)").arg(p)
          << QStringLiteral("    If *Data")
          << QStringLiteral("      PrintN(\"get \" + Str(Number) + \" \" + Str(MemorySize(*Data)))")
          << QStringLiteral("      FreeMemory(*Data)") << QStringLiteral("    Else")
          << QStringLiteral("      PrintN(\"get \" + Str(Number) + \" 0\")") << QStringLiteral("    EndIf")
          << QStringLiteral("    Name$ = %1GetFileName(Number)").arg(p)
          << QStringLiteral("    Found = %1GetResNumber(UCase(Name$))").arg(p)
          << QStringLiteral("    PrintN(\"name \" + Str(Number) + \" \" + Str(Found) + \" \" + Name$)")
          << QStringLiteral("    PrintN(\"save \" + Str(Number) + \" \" + Str(%1Save(\"number\" + Str(Number) + "
                            "\".bin\", Number)))")
                 .arg(p)
          << QStringLiteral("    Select LCase(GetExtensionPart(Name$))")
          << QStringLiteral("      Case \"bmp\", \"ico\"")
          << QStringLiteral("        PrintN(\"image \" + Str(Number) + \" \" + Str(%1CatchImage(#PB_Any, Number)))")
                 .arg(p)
          << QStringLiteral("        PrintN(\"sprite \" + Str(Number) + \" \" + Str(%1CatchSprite(#PB_Any, Number)))")
                 .arg(p)
          << QStringLiteral("      Case \"wav\"")
          << QStringLiteral("        PrintN(\"sound \" + Str(Number) + \" \" + Str(%1CatchSound(#PB_Any, Number)))")
                 .arg(p)
          << QStringLiteral("      Case \"mod\"")
          << QStringLiteral("        PrintN(\"music \" + Str(Number) + \" \" + Str(%1CatchModule(#PB_Any, Number)))")
                 .arg(p)
          << QStringLiteral("    EndSelect") << QStringLiteral("  Next");
    // The size table as the globals hold it, read at start-up or, in a DLL, with the first call.
    if (!res)
        lines << QStringLiteral(
            "  PrintN(\"table \" + Str(Vorkel_Count) + \" \" + Str(VorkelArray(Vorkel_Count - 1)))");
    lines << QStringLiteral("EndProcedure");
    if (!o.dll)
        lines << QStringLiteral("Drive()");
    QByteArray text("\xEF\xBB\xBF");
    for (const QString& line : lines)
        text += line.toUtf8() + "\r\n";
    return QString::fromUtf8(text);
}

// Writes an output through Create, or, with damage, through the writers block by block.
void WriteOutput(Output& o, const QString& root, const std::function<void(int, Bytes&)>& damage = {})
{
    const QString folder = root + QStringLiteral("/out/") + QString(o.name).replace(u' ', u'_');
    const QStringList texts = [&] {
        QStringList t;
        for (int i = 0; i < o.files.size(); ++i)
            t << o.packers.value(i % o.packers.size());
        return t;
    }();
    const std::vector<int> kinds = RowPackerKinds(texts);
    QStringList names;
    for (const InputFile& f : o.files)
        names << f.name;
    o.catalog = [&] {
        const Bytes c = BuildCatalog(names);
        return QByteArray(reinterpret_cast<const char*>(c.data()), qsizetype(c.size()));
    }();
    o.path = folder + QLatin1Char('/') + o.fileName +
             (o.road == Road::Resource ? QStringLiteral(".res") : QStringLiteral(".pbi"));
    o.stored.clear();
    std::vector<Bytes> blocks;
    for (int i = 0; i < o.files.size(); ++i) {
        Bytes block = PackBlock(ToBytes(o.files[i].bytes), kinds[std::size_t(i)], o.level);
        o.stored.push_back(HasBlockMagic(block) ? block[16] : 0);
        blocks.push_back(std::move(block));
    }
    if (!damage) {
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(o.road == Road::Resource  ? OutputResource
                                 : o.road == Road::Hexdata ? OutputHexdata
                                                           : OutputBinpack);
        for (int i = 0; i < o.files.size(); ++i) {
            const QString path = QStringLiteral("%1/src/%2/%3").arg(folder).arg(i).arg(o.files[i].name);
            QVERIFY(WriteBytes(path, o.files[i].bytes));
            document.model().AddFileRow(path, PackerNone, QStringLiteral("1"));
            document.model().SetCellText(FileListModel::PackerColumn, i, texts[i]);
        }
        ScriptedPlatform platform;
        CreateOptions options;
        options.level = o.level;
        const CreateResult result = CreateOutput(document, platform, o.path, options);
        QVERIFY2(result.status == CreateStatus::Written, qPrintable(result.error));
    } else {
        QDir().mkpath(folder);
        for (int i = 0; i < o.files.size(); ++i)
            damage(i, blocks[std::size_t(i)]);
        if (o.road == Road::Resource) {
            ResourceWriter writer;
            QVERIFY(writer.Open(o.path));
            QVERIFY(writer.WriteEntry(ToBytes(o.catalog), 1));
            for (std::size_t i = 0; i < blocks.size(); ++i)
                QVERIFY(writer.WriteEntry(blocks[i], int(i) + 2));
            QVERIFY(writer.Finish());
        } else {
            IncludeWriter writer(o.road == Road::Hexdata ? IncludeFormat::Hexdata : IncludeFormat::Binpack,
                                 OwnTemplates());
            QVERIFY(writer.Open(o.path, o.usesJcalg1(), o.usesZip(), names));
            for (std::size_t i = 0; i < blocks.size(); ++i)
                QVERIFY(writer.WriteBlock(blocks[i], int(i) + 1));
            QVERIFY(writer.WriteBlock(ToBytes(o.catalog), int(blocks.size()) + 1));
            QVERIFY(writer.Finish());
        }
    }
    o.driver = o.driverBeside ? folder + QStringLiteral("/driver.pb")
                              : root + QStringLiteral("/drivers/") + QString(o.name).replace(u' ', u'_') +
                                    QStringLiteral("/driver.pb");
    QVERIFY(WriteBytes(o.driver, DriverText(o).toUtf8()));
}

// ---- reading a run back ----------------------------------------------------------------------------------

struct Fetch
{
    QString summary; // what came back, in a form that reads well in a failed comparison
    QString expected;
};

// The driver's lines for one number, the files it saved and what the Catch functions received, beside
// what the output should give.
class RunReader
{
public:
    RunReader(const RunResult& r, const Target& t, const Output& o, const QString& work)
        : m_result(r), m_target(t), m_output(o), m_work(work)
    {
        for (const QString& line : r.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList parts = line.split(QLatin1Char(' '));
            if (parts.size() >= 3)
                m_lines[parts[0] + QLatin1Char(' ') + parts[1]] = parts.mid(2).join(QLatin1Char(' '));
        }
    }

    int count() const { return int(m_output.files.size()) + 1; }
    QString line(const QString& key) const { return m_lines.value(key); }
    // Block or resource numbers the driver walks, and which of them is the catalog.
    int first() const { return 0; }
    int last() const { return m_output.road == Road::Resource ? count() : count() + 1; }
    int catalogNumber() const { return m_output.road == Road::Resource ? 0 : count(); }
    // The source file behind a number, or -1.
    int fileIndex(int number) const
    {
        const int i = number - 1;
        return i >= 0 && i < m_output.files.size() ? i : -1;
    }

    Fetch Read(int number)
    {
        Fetch f;
        const int index = fileIndex(number);
        const bool catalog = number == catalogNumber();
        QByteArray data;
        QString name;
        if (catalog)
            data = m_output.catalog;
        else if (index >= 0) {
            data = m_output.files[index].bytes;
            name = m_output.files[index].name;
        }
        const bool damaged = m_output.damaged.contains(number);
        const bool readable = !data.isEmpty() && !damaged;
        // An empty file: no memory block (PureBasic has none of 0 bytes), but saved as an empty file by
        // the includes; a .res file leaves its number out.
        const bool savable = readable || (index >= 0 && data.isEmpty() && !damaged && m_output.road != Road::Resource);
        const int found = index >= 0 ? number : 0;
        QStringList want{QStringLiteral("get=%1").arg(readable ? data.size() : 0),
                         QStringLiteral("name=%1 found=%2").arg(name).arg(found),
                         QStringLiteral("save=%1").arg(savable ? 1 : 0)};
        const bool music = readable && m_target.version >= 430;
        if (readable) {
            want << QStringLiteral("image=%1 sound=%2 sprite=%3 music=%4")
                        .arg(int(!catalog && IsKind(name, {".bmp", ".ico"})))
                        .arg(int(!catalog && IsKind(name, {".wav"})))
                        .arg(int(!catalog && IsKind(name, {".bmp"})))
                        .arg(int(!catalog && music && IsKind(name, {".mod"})))
                 << QStringLiteral("saved=same catches=%1").arg(CatchCalls(name));
        } else {
            want << QStringLiteral("image=0 sound=0 sprite=0 music=0 saved=%1 catches=0")
                        .arg(savable ? QStringLiteral("same") : QStringLiteral("none"));
        }
        f.expected = want.join(QLatin1Char(' '));

        const QString n = QString::number(number);
        const QString nameLine = m_lines.value(QStringLiteral("name ") + n);
        const int got = m_lines.value(QStringLiteral("get ") + n).toInt();
        QStringList have{
            QStringLiteral("get=%1").arg(m_lines.value(QStringLiteral("get ") + n)),
            QStringLiteral("name=%1 found=%2").arg(nameLine.section(u' ', 1), nameLine.section(u' ', 0, 0)),
            QStringLiteral("save=%1").arg(m_lines.value(QStringLiteral("save ") + n))};
        auto flag = [&](const char* kind) {
            return int(m_lines.value(QLatin1String(kind) + QLatin1Char(' ') + n, QStringLiteral("0")) != u"0");
        };
        have << QStringLiteral("image=%1 sound=%2 sprite=%3 music=%4")
                    .arg(flag("image"))
                    .arg(flag("sound"))
                    .arg(flag("sprite"))
                    .arg(flag("music"));
        const QString savedFile = m_work + QStringLiteral("/number%1.bin").arg(number);
        QString saved = QFile::exists(savedFile) ? QStringLiteral("differs") : QStringLiteral("none");
        if (QFile::exists(savedFile) && ReadBytes(savedFile) == data)
            saved = QStringLiteral("same");
        // The Catch functions reach their loader only when the data came back: one record per call.
        int catches = 0;
        if (got > 0) {
            for (int k = 0; k < CatchCalls(name) && m_next < m_result.catches.size(); ++k, ++m_next) {
                const CatchRecord& r = m_result.catches[m_next];
                const bool spriteHeaderOnly = r.function == u"CatchSprite" && r.bytes.isEmpty();
                if (r.bytes == data || spriteHeaderOnly)
                    ++catches;
            }
        }
        have << QStringLiteral("saved=%1 catches=%2").arg(saved).arg(catches);
        f.summary = have.join(QLatin1Char(' '));
        return f;
    }

private:
    // The loaders the driver calls for a file of this name: image and sprite, sound, or music (from 4.30).
    int CatchCalls(const QString& name) const
    {
        if (IsKind(name, {".bmp", ".ico"}))
            return 2;
        return IsKind(name, {".wav"}) || (IsKind(name, {".mod"}) && m_target.version >= 430) ? 1 : 0;
    }

    const RunResult& m_result;
    const Target& m_target;
    const Output& m_output;
    QString m_work;
    QHash<QString, QString> m_lines;
    std::size_t m_next = 0;
};

// The jCalg1 corpus and damaged copies of its streams, always the same.
QList<QByteArray> DecoderStreams()
{
    QList<QByteArray> streams;
    const QDir corpus(QStringLiteral(HEXALOOM_SOURCE_DIR "/fuzz/corpus/jcalg_decompress"));
    for (const QString& name : corpus.entryList(QDir::Files, QDir::Name))
        streams << ReadBytes(corpus.filePath(name));
    const qsizetype good = streams.size();
    QRandomGenerator random(11);
    for (qsizetype k = 0; k < good; ++k) {
        const QByteArray s = streams[k];
        for (int cut = 1; cut <= 6; ++cut)
            streams << s.left(s.size() * cut / 7);
        for (int flip = 0; flip < 24; ++flip) {
            QByteArray d = s;
            const int bit = 48 + int(random.bounded(quint32(d.size() * 8 - 48)));
            d[bit / 8] = char(d[bit / 8] ^ (1 << (bit % 8)));
            streams << d;
        }
        QByteArray garbage = s.left(10);
        for (int i = 0; i < 64; ++i)
            garbage += char(random.bounded(256));
        streams << garbage;
    }
    return streams;
}

// A jCalg1 stream written token by token, so each can sit at a boundary of the format.
class JcTokens
{
public:
    JcTokens()
    {
        Bits(0b001, 3); // 8-bit literals from base 0
        Bits(0, 4);
        Bits(0b01, 2);
    }
    void Literal(char c)
    {
        Bits(1, 1);
        Bits(std::uint8_t(c), 8);
        m_out += c;
    }
    // A match in gamma numbers at a new distance; the length is coded shorter by the distance's part.
    void Match(int distance, int coded)
    {
        Bits(0b01, 2);
        Gamma(std::uint32_t(distance >> m_indexBits) + 3);
        Bits(std::uint32_t(distance) & ((1u << m_indexBits) - 1), m_indexBits);
        Gamma(std::uint32_t(coded));
        m_last = distance;
        Copy(distance, coded + Extra(distance));
    }
    void Again(int length) // at the last distance
    {
        Bits(0b01, 2);
        Gamma(2);
        Gamma(std::uint32_t(length));
        Copy(m_last, length);
    }
    void Short(int distance, int length) // 1 to 127 back, 2 to 5 bytes
    {
        Bits(0, 3);
        Bits(std::uint32_t(distance), 7);
        Bits(std::uint32_t(length - 2), 2);
        m_last = distance;
        Copy(distance, length);
    }
    void IndexBits(int bits)
    {
        Bits(0, 3 + 7);
        Bits(1, 2);
        Bits(std::uint32_t(bits), 4);
        m_indexBits = bits;
    }
    // The stream with its end, stating `size` bytes (the output's own when negative).
    QByteArray Stream(qint64 size = -1) const
    {
        JcTokens t = *this;
        t.Bits(0, 3 + 7 + 2);
        while (t.m_used != 0)
            t.Bits(0, 1);
        const std::uint32_t n = std::uint32_t(size < 0 ? m_out.size() : size);
        QByteArray head("JC");
        for (int i = 0; i < 4; ++i)
            head += char(n >> (8 * i));
        return head + QByteArray(4, '\0') + t.m_words; // no checksum
    }
    qsizetype size() const { return m_out.size(); }
    static int Extra(int d) { return d < 128 ? 4 : d < 639 ? 0 : d < 14335 ? 1 : d < 65536 ? 2 : 3; }

private:
    void Bits(std::uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            m_word = m_word << 1 | ((value >> i) & 1);
            if (++m_used == 32) {
                for (int k = 0; k < 4; ++k)
                    m_words += char(m_word >> (8 * k));
                m_word = 0;
                m_used = 0;
            }
        }
    }
    void Gamma(std::uint32_t value) // the digits after the leading 1, each followed by "another follows"
    {
        int top = 31;
        while (!(value >> top))
            --top;
        for (int i = top - 1; i >= 0; --i) {
            Bits((value >> i) & 1, 1);
            Bits(i > 0 ? 1 : 0, 1);
        }
    }
    void Copy(int distance, int length)
    {
        for (int i = 0; i < length; ++i)
            m_out += m_out[m_out.size() - distance];
    }
    QByteArray m_out, m_words;
    std::uint32_t m_word = 0;
    int m_used = 0, m_indexBits = 8, m_last = 1;
};

// Streams at every boundary of the token format: a new distance on both sides of each change of its
// length part (127/128, 638/639/640, 14334/14335/14336, 65535/65536) with the shortest coded length,
// short matches of 2 and 5 bytes, the last distance again, new index bits; the longest match, filling
// the stated size exactly and one byte past it; a stream one byte short and one of the header alone.
// The output before each is built by doubling, so no two stretches of it repeat at the wrong distance.
QList<QByteArray> BoundaryStreams()
{
    QList<QByteArray> streams;
    for (int d : {1, 127, 128, 638, 639, 640, 14334, 14335, 14336, 65535, 65536}) {
        JcTokens t;
        for (char c = 'A'; c < 'I'; ++c)
            t.Literal(c);
        for (int k = 0; t.size() < d; ++k) {
            const int n = int(t.size());
            t.Literal(char('a' + k));
            t.Match(n + 1, n - JcTokens::Extra(n + 1));
        }
        if (d > 49152)
            t.IndexBits(9); // as the coder does past 48 KiB
        if (d <= 127) {
            t.Short(d, 2);
            t.Short(d, 5);
        }
        t.Match(d, 2);
        t.Again(2);
        streams << t.Stream();
        if (d == 639) {
            t.Match(d, int(t.size()) - JcTokens::Extra(d)); // the longest: all the output so far again
            streams << t.Stream() << t.Stream(t.size() - 1) << t.Stream().chopped(1) << t.Stream().left(10);
        }
    }
    return streams;
}

// zlib streams with the room given for them, at the boundaries of what uncompress takes: the exact size,
// one byte more and one byte less, the stream one byte short, and a stream of one byte.
QList<QPair<int, QByteArray>> ZipBoundaryStreams()
{
    const QByteArray data = Pattern(1000, 12, true);
    uLongf size = compressBound(uLong(data.size()));
    QByteArray z(qsizetype(size), '\0');
    compress2(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(data.constData()),
              uLong(data.size()), 9);
    z.resize(qsizetype(size));
    const QByteArray one = qCompress(QByteArray(1, 'x'), 9).mid(4); // qCompress: a 4-byte size, then zlib
    return {{1000, z}, {1001, z}, {999, z}, {1000, z.chopped(1)}, {1, one}, {1, one.chopped(1)}};
}

// The tests ask for strict memory: the access code frees all it allocates.
RunOptions Strict()
{
    RunOptions options;
    options.strictMemory = true;
    return options;
}

QString Describe(const RunResult& r)
{
    return (r.diagnostics + r.leaks).join(QLatin1Char('\n'));
}

} // namespace

class AccessCodeTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    SourceCache m_cache;
    std::vector<std::unique_ptr<Output>> m_outputs;
    std::vector<std::unique_ptr<Output>> m_damaged;
    QSet<QPair<QString, int>> m_branches;
    QStringList m_unconfirmed; // facts pbrun cannot confirm that generated code uses

    // The drivers and harnesses are the test's own code; everything else the program generated.
    void NoteUnconfirmed(const QStringList& warnings)
    {
        for (const QString& w : warnings)
            if (w.contains(QLatin1String("cannot confirm")) && !w.startsWith(QLatin1String("driver.pb:")) &&
                !m_unconfirmed.contains(w))
                m_unconfirmed << w;
    }

    Output* AddOutput(std::vector<std::unique_ptr<Output>>& list, const QString& name, Road road,
                      const QStringList& packers, const QList<InputFile>& files, bool dll = false)
    {
        auto o = std::make_unique<Output>();
        o->name = name;
        o->road = road;
        o->packers = packers;
        o->files = files;
        o->dll = dll;
        list.push_back(std::move(o));
        return list.back().get();
    }

    // Runs an output's driver for a target in a fresh work folder and checks every number it walks.
    void Drive(const Output& o, const QString& targetName)
    {
        const Target t = *Target::Parse(targetName);
        const QString work =
            m_root.filePath(QStringLiteral("work/%1/%2").arg(QString(o.name).replace(u' ', u'_'), targetName));
        QDir(work).removeRecursively();
        QVERIFY(QDir().mkpath(work));
        RunOptions options;
        options.workDir = work;
        options.strictMemory = true;
        if (o.dll)
            options.dllEntry = QStringLiteral("Drive");
        const RunResult r = Run(m_cache, o.driver, t, options);
        m_branches.unite(r.branchesTaken);
        NoteUnconfirmed(r.warnings);
        if (!ExpectRun(r, RunFaults(t, o)))
            return;
        RunReader reader(r, t, o, work);
        if (o.road != Road::Resource) {
            const Bytes catalog = PackBlock(ToBytes(o.catalog), PackerNone);
            QCOMPARE(reader.line(QStringLiteral("table %1").arg(reader.count())), QString::number(catalog.size()));
        }
        for (int number = reader.first(); number <= reader.last(); ++number) {
            const Fetch f = reader.Read(number);
            const int index = reader.fileIndex(number);
            const int stored = index >= 0 ? o.stored[std::size_t(index)] : 0;
            // a fault hides a file or the catalog, not what is damaged on purpose
            const bool hideable = (number == reader.catalogNumber() || index >= 0) && !o.damaged.contains(number);
            if (const KnownFault* fault = hideable ? FileFault(t, o, stored) : nullptr)
                QEXPECT_FAIL("", qPrintable(FaultText(*fault)), Continue);
            QVERIFY2(
                f.summary == f.expected,
                qPrintable(QStringLiteral("number %1\n   got: %2\n  want: %3").arg(number).arg(f.summary, f.expected)));
        }
    }

    static QString FaultText(const KnownFault& fault)
    {
        return QStringLiteral("[%1] %2").arg(QLatin1String(fault.id), QLatin1String(fault.reason));
    }

    // A run must end well; with known faults it must fail to compile, saying what one of them says, and is
    // an expected failure. Returns whether the caller goes on checking.
    static bool ExpectRun(const RunResult& r, const std::vector<const KnownFault*>& faults)
    {
        const KnownFault* fault = faults.empty() ? nullptr : faults.front();
        if (fault && r.phase != Phase::Ok) {
            const QString message = r.diagnostics.value(0);
            fault = nullptr;
            for (const KnownFault* k : faults)
                if (r.phase == k->phase && message.contains(QLatin1String(k->message)))
                    fault = k;
            if (!fault) {
                QTest::qFail(qPrintable(QStringLiteral("expected the known fault %1, got:\n%2")
                                            .arg(QLatin1String(faults.front()->id), Describe(r))),
                             __FILE__, __LINE__);
                return false;
            }
        }
        [&] {
            if (fault)
                QEXPECT_FAIL("", qPrintable(FaultText(*fault)), Abort);
            QVERIFY2(r.phase == Phase::Ok, qPrintable(Describe(r)));
        }();
        return !QTest::currentTestFailed() && r.phase == Phase::Ok;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // PBRUN_KEEP=1 keeps the outputs, drivers and work folders for a look by hand.
        if (qEnvironmentVariableIsSet("PBRUN_KEEP")) {
            m_root.setAutoRemove(false);
            qInfo("files kept in %s", qPrintable(m_root.path()));
        }
        const QString root = m_root.path();
        const QList<InputFile> mixed = MixedFiles();
        const QList<QPair<const char*, QStringList>> variants = {
            {"none", {"none"}}, {"jCalg1", {"jCalg1"}}, {"zip", {"zip"}}, {"all", {"none", "jCalg1", "zip"}}};
        for (const auto& [variant, packers] : variants) {
            AddOutput(m_outputs, QStringLiteral("hexdata %1").arg(QLatin1String(variant)), Road::Hexdata, packers,
                      mixed);
            AddOutput(m_outputs, QStringLiteral("binpack %1").arg(QLatin1String(variant)), Road::Binpack, packers,
                      mixed);
        }
        AddOutput(m_outputs, QStringLiteral("resource"), Road::Resource, {"none", "jCalg1", "zip"}, mixed);
        AddOutput(m_outputs, QStringLiteral("dll hexdata all"), Road::Hexdata, {"jCalg1", "zip", "none"}, mixed, true);
        AddOutput(m_outputs, QStringLiteral("duplicate names"), Road::Hexdata, {"none"},
                  {{"a-b.txt", "first"}, {"ab.txt", "second"}, {"1.png", "third"}, {"2.png", "fourth"}});
        // File names beyond ASCII travel as UTF-8 in the catalog (Unicode programs only).
        AddOutput(
            m_outputs, QStringLiteral("unicode names"), Road::Binpack, {"none", "zip"},
            {{QString::fromUtf8("Grüße.txt"), Pattern(700, 9, true)}, {QString::fromUtf8("日本.bin"), "\x01\x02"}});
        // ASCII programs on Windows read them through the code page (1252 in pbrun); elsewhere none is settled.
        AddOutput(m_outputs, QStringLiteral("code page names"), Road::Hexdata, {"none"},
                  {{QString::fromUtf8("ünïcödé.txt"), "accents"}, {"plain.txt", "plain"}});
        AddOutput(m_outputs, QStringLiteral("look like blocks none"), Road::Hexdata, {"none"}, LookalikeFiles());
        AddOutput(m_outputs, QStringLiteral("look like blocks all"), Road::Binpack, {"none", "jCalg1", "zip"},
                  LookalikeFiles());
        AddOutput(m_outputs, QStringLiteral("look like blocks resource"), Road::Resource, {"none", "zip", "none"},
                  LookalikeFiles());
        // PureBasic 4.00 to 4.20 find the pack file when the include stands beside the main source.
        AddOutput(m_outputs, QStringLiteral("binpack beside the main source"), Road::Binpack, {"jCalg1", "zip", "none"},
                  {{"a.txt", Pattern(2000, 12, true)}, {"weave.bmp", DemoFile("weave.bmp")}, {"b.bin", "b"}})
            ->driverBeside = true;
        AddOutput(m_outputs, QStringLiteral("big files"), Road::Hexdata, {"jCalg1", "zip"},
                  {{"big.txt", BigFile(300000)}, {"big.bin", BigFile(300001)}});
        // The max level's streams: the same decoders read them (the big file reaches index bits 10).
        // The max level's streams, of text past 64 KiB (index bits 10) too; the check makes sure they are not
        // level 9's.
        QList<InputFile> maxFiles = mixed;
        maxFiles.append({"words.txt", [] {
                             QByteArray words;
                             QRandomGenerator random(11);
                             while (words.size() < 100000)
                                 words += QByteArray::number(random.bounded(900)) + (random.bounded(6) ? " " : "\r\n");
                             return words;
                         }()});
        AddOutput(m_outputs, QStringLiteral("max level"), Road::Hexdata, {"jCalg1", "zip"}, maxFiles)->level =
            kPackLevelMax;
        for (const int kind : {int(PackerJcalg1), int(PackerZip)})
            QVERIFY(PackBlock(ToBytes(maxFiles.last().bytes), kind, kPackLevelMax).size() <
                    PackBlock(ToBytes(maxFiles.last().bytes), kind).size());
        // Outside Windows "\\" is part of a file name, and the include must name the pack file written.
        AddOutput(m_outputs, QStringLiteral("binpack backslash"), Road::Binpack, {"zip"}, {{"a.txt", "backslash"}})
            ->fileName = QStringLiteral("back\\slash");
        for (auto& o : m_outputs) {
            WriteOutput(*o, root);
            if (QTest::currentTestFailed())
                return;
        }
    }

    void fetchesEveryFile_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<QString>("target");
        for (std::size_t i = 0; i < m_outputs.size(); ++i) {
            for (const char* target : kTargets) {
                const Target t = *Target::Parse(QLatin1String(target));
                if (m_outputs[i]->road == Road::Resource && t.os != Os::Windows)
                    continue; // a .res file links on Windows only
                if (m_outputs[i]->name == u"unicode names" && !t.unicode)
                    continue; // ASCII programs hold such names in the system's code page, which lacks them
                if (m_outputs[i]->name == u"code page names" && !t.unicode && t.os != Os::Windows)
                    continue; // no source says which code page an ASCII program has there
                if (m_outputs[i]->fileName.contains(u'\\') && t.os == Os::Windows)
                    continue; // a backslash separates folders there
                if ((m_outputs[i]->name == u"big files" || m_outputs[i]->name == u"max level") &&
                    !kBigTargets.contains(QLatin1String(target)))
                    continue; // one target per bitness
                QTest::addRow("%s, %s", qPrintable(m_outputs[i]->name), target)
                    << int(i) << QString::fromLatin1(target);
            }
        }
    }
    void fetchesEveryFile()
    {
        QFETCH(int, output);
        QFETCH(QString, target);
        Drive(*m_outputs[std::size_t(output)], target);
    }

    // Damaged outputs: the damaged file must give 0 (and leave no saved file), the rest must read, and
    // nothing may stay allocated.
    void damagedOutputsGiveNothing_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("target");
        for (const char* road : {"hexdata", "resource"}) {
            for (const char* damage : {"zip payload byte", "jCalg1 payload byte", "zip CRC", "jCalg1 CRC",
                                       "zip truncated", "jCalg1 truncated", "size zero"}) {
                for (const char* target : {"4.40-windows-x86-ascii", "5.20-windows-x86-ascii",
                                           "6.12-windows-x64-unicode", "6.00-windows-x86-unicode"})
                    QTest::addRow("%s, %s, %s", road, damage, target) << road << damage << target;
            }
        }
    }
    void damagedOutputsGiveNothing()
    {
        QFETCH(QString, road);
        QFETCH(QString, damage);
        QFETCH(QString, target);
        const QString name = QStringLiteral("damaged %1 %2").arg(road, damage);
        Output* o = nullptr;
        for (auto& d : m_damaged)
            if (d->name == name)
                o = d.get();
        if (!o) {
            const QList<InputFile> files = {{"plain.txt", Pattern(900, 3, true)},
                                            {"zip.txt", Pattern(4000, 4, true)},
                                            {"jcalg1.txt", Pattern(4000, 5, true)}};
            o = AddOutput(m_damaged, name, road == u"resource" ? Road::Resource : Road::Hexdata,
                          {"none", "zip", "jCalg1"}, files);
            const int victim = damage.startsWith(u"zip") || damage == u"size zero" ? 1 : 2;
            o->damaged.insert(victim + 1);
            o->damage = damage;
            WriteOutput(*o, m_root.path(), [&](int index, Bytes& block) {
                if (index != victim)
                    return;
                QVERIFY(HasBlockMagic(block));
                if (damage.endsWith(u"payload byte"))
                    block[23 + (block.size() - 23) / 2] ^= 0x5A;
                else if (damage.endsWith(u"CRC"))
                    block[9] ^= 0x01;
                else if (damage.endsWith(u"truncated"))
                    block.resize(block.size() - 7);
                else
                    std::fill(block.begin(), block.begin() + 8, std::uint8_t(0));
            });
        }
        Drive(*o, target);
    }

    // The companion include reads Windows resources: elsewhere it stops the compiler with its message.
    void companionStopsOffWindows_data()
    {
        QTest::addColumn<QString>("target");
        for (const char* target : kTargets) {
            if (!QLatin1String(target).contains(QLatin1String("windows")))
                QTest::newRow(target) << QString::fromLatin1(target);
        }
    }
    void companionStopsOffWindows()
    {
        QFETCH(QString, target);
        const Output* resource = nullptr;
        for (const auto& o : m_outputs)
            if (o->road == Road::Resource)
                resource = o.get();
        QVERIFY(resource);
        const RunResult r = Run(m_cache, resource->driver, *Target::Parse(target), Strict());
        m_branches.unite(r.branchesTaken);
        NoteUnconfirmed(r.warnings);
        QCOMPARE(int(r.phase), int(Phase::Compile));
        QVERIFY2(r.diagnostics.value(0).contains(
                     QLatin1String("Zember_Include.pbi reads resources linked into a Windows program")),
                 qPrintable(Describe(r)));
    }

    // The jCalg1 decoder of the access code reads exactly what the program's own decoder reads: every
    // stream of the jCalg1 corpus and damaged copies of them (cut short, single bits flipped, garbage
    // after the header) give the same size and the same bytes, or 0 where it gives 0.
    // Every variant that unpacks reads the boundary streams of its packers, on an old and a new target.
    void unpackersReadWhatTheProgramReads_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("variant");
        for (const char* target : {"4.00-windows-x86-ascii", "5.11-linux-x64-ascii", "5.31-macos-x64-unicode",
                                   "6.12-windows-x64-unicode", "6.04-linux-arm64-unicode"})
            QTest::addRow("jCalg1, %s", target) << QString::fromLatin1(target) << QStringLiteral("jCalg1");
        for (const char* variant : {"all packers", "zip", "companion"}) // the companion include is Windows' only
            for (const char* target :
                 {"4.00-windows-x86-ascii", variant[0] == 'c' ? "6.12-windows-x64-unicode" : "6.12-linux-x64-unicode"})
                QTest::addRow("%s, %s", variant, target) << QString::fromLatin1(target) << QString::fromLatin1(variant);
    }
    void unpackersReadWhatTheProgramReads()
    {
        QFETCH(QString, target);
        QFETCH(QString, variant);
        const bool hasJcalg1 = variant != u"zip";
        const bool hasZip = variant != u"jCalg1";
        const QString folder = m_root.filePath(QStringLiteral("decoder/") + QString(variant).replace(u' ', u'_'));
        const QString work = folder + QStringLiteral("/work/") + target;
        QVERIFY(QDir().mkpath(work));
        if (!QFile::exists(folder + QStringLiteral("/harness.pb"))) {
            // An include of the jCalg1 variant brings the decoder; the harness runs it on s0.bin, s1.bin, ...
            // and writes what it unpacked to o<n>.bin.
            Output o;
            o.name = QStringLiteral("decoder");
            o.road = Road::Hexdata;
            o.packers = {variant == u"zip" ? "zip" : "jCalg1"};
            o.files = {{"a.txt", Pattern(300, 10, true)}};
            if (variant == u"all packers") {
                o.packers << QStringLiteral("zip");
                o.files << InputFile{"b.txt", Pattern(300, 11, true)};
            }
            if (variant == u"companion")
                o.path = QStringLiteral(HEXALOOM_SOURCE_DIR "/include/Zember_Include.pbi");
            else
                WriteOutput(o, folder);
            QStringList lines = {"XIncludeFile \"" + Relative(folder + QStringLiteral("/harness.pb"), o.path) + "\"",
                                 "EnableExplicit", "Define File, Length, *Stream, *Out, Room, Result, Index"};
            if (hasZip) // z<n>.bin: the room as a long, then a zlib stream
                lines << QStringList{
                    "Repeat",
                    "  File = ReadFile(#PB_Any, \"z\" + Str(Index) + \".bin\")",
                    "  If File = 0",
                    "    Break",
                    "  EndIf",
                    "  Length = Lof(File)",
                    "  *Stream = AllocateMemory(Length)",
                    "  ReadData(File, *Stream, Length)",
                    "  CloseFile(File)",
                    "  Room = PeekL(*Stream)",
                    "  *Out = AllocateMemory(Room)",
                    "  Result = _UnpackMemory(*Stream + 4, Length - 4, *Out, Room, #Zember_Packer_zip)",
                    "  PrintN(\"z\" + Str(Result) + \" \" + Str(PeekB(*Out + Room - 1) * Result))",
                    "  FreeMemory(*Out)",
                    "  FreeMemory(*Stream)",
                    "  Index = Index + 1",
                    "ForEver",
                    "Index = 0"};
            if (hasJcalg1)
                lines << QStringList{"Repeat",
                                     "  File = ReadFile(#PB_Any, \"s\" + Str(Index) + \".bin\")",
                                     "  If File = 0",
                                     "    Break",
                                     "  EndIf",
                                     "  Length = Lof(File)",
                                     "  *Stream = AllocateMemory(Length + 1)",
                                     "  ReadData(File, *Stream, Length)",
                                     "  CloseFile(File)",
                                     "  Room = 16",
                                     "  If Length >= 6 And PeekL(*Stream + 2) >= 0 And PeekL(*Stream + 2) <= 1048576",
                                     "    Room = PeekL(*Stream + 2) + 1",
                                     "  EndIf",
                                     "  *Out = AllocateMemory(Room)",
                                     "  Result = _Zember_Jcalg1Unpack(*Stream, Length, *Out, Room - 1)",
                                     "  PrintN(Str(Index) + \" \" + Str(Result))",
                                     "  If Result > 0",
                                     "    File = CreateFile(#PB_Any, \"o\" + Str(Index) + \".bin\")",
                                     "    WriteData(File, *Out, Result)",
                                     "    CloseFile(File)",
                                     "  EndIf",
                                     "  FreeMemory(*Out)",
                                     "  FreeMemory(*Stream)",
                                     "  Index = Index + 1",
                                     "ForEver"};
            QByteArray text("\xEF\xBB\xBF");
            for (const QString& line : lines)
                text += line.toUtf8() + "\r\n";
            QVERIFY(WriteBytes(folder + QStringLiteral("/harness.pb"), text));
        }
        const QList<QByteArray> streams = variant == u"jCalg1" ? DecoderStreams() + BoundaryStreams()
                                          : hasJcalg1          ? BoundaryStreams()
                                                               : QList<QByteArray>();
        for (int i = 0; i < streams.size(); ++i)
            QVERIFY(WriteBytes(work + QStringLiteral("/s%1.bin").arg(i), streams[i]));
        const auto zips = hasZip ? ZipBoundaryStreams() : QList<QPair<int, QByteArray>>();
        for (int i = 0; i < zips.size(); ++i) {
            QByteArray room(4, '\0');
            qToLittleEndian<qint32>(zips[i].first, room.data());
            QVERIFY(WriteBytes(work + QStringLiteral("/z%1.bin").arg(i), room + zips[i].second));
        }
        RunOptions options;
        options.workDir = work;
        options.strictMemory = true;
        const RunResult r = Run(m_cache, folder + QStringLiteral("/harness.pb"), *Target::Parse(target), options);
        QVERIFY2(r.phase == Phase::Ok, qPrintable(Describe(r)));
        QStringList results = r.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(results.size(), zips.size() + streams.size());
        for (const auto& [room, zip] : zips) { // true and the last byte in place, as zlib gives, or 0
            QByteArray out(room, '\0');
            uLongf length = uLongf(room);
            const bool ok = uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                                       reinterpret_cast<const Bytef*>(zip.constData()), uLong(zip.size())) == Z_OK;
            QCOMPARE(results.takeFirst(),
                     QStringLiteral("z%1 %2").arg(ok ? 1 : 0).arg(ok ? int(qint8(out[room - 1])) : 0));
        }
        int unpacked = 0;
        for (int i = 0; i < streams.size(); ++i) {
            const Bytes stream = ToBytes(streams[i]);
            const std::size_t size =
                stream.size() >= 6
                    ? std::size_t(stream[2] | stream[3] << 8 | stream[4] << 16 | std::uint32_t(stream[5]) << 24)
                    : 0;
            const std::size_t room = size <= (1u << 20) ? size : 15;
            Bytes out(room + 1);
            const std::size_t n = JcDecompress(stream.data(), stream.size(), out.data(), room);
            QCOMPARE(results[i], QStringLiteral("%1 %2").arg(i).arg(n));
            if (n > 0) {
                ++unpacked;
                QCOMPARE(ReadBytes(work + QStringLiteral("/o%1.bin").arg(i)),
                         QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(n)));
            }
        }
        QVERIFY(streams.isEmpty() ||
                unpacked >= 12); // every stream of the corpus or every boundary, and damaged ones that still read
    }

    // The examples, as they stand, over the demo project's outputs laid out as `make demo` lays them out.
    void runsTheExamples_data()
    {
        QTest::addColumn<QString>("example");
        QTest::addColumn<QString>("target");
        for (const char* target : kTargets) {
            QTest::addRow("UseInclude, %s", target) << "UseInclude.pb" << target;
            if (QLatin1String(target).contains(QLatin1String("windows")))
                QTest::addRow("UseResource, %s", target) << "UseResource.pb" << target;
        }
    }
    void runsTheExamples()
    {
        QFETCH(QString, example);
        QFETCH(QString, target);
        const QString root = m_root.filePath(QStringLiteral("examples"));
        const QString demo = QStringLiteral(HEXALOOM_SOURCE_DIR "/examples/demo");
        const ProjectParseResult project = ParseProject(ReadBytes(demo + QStringLiteral("/demo.hxlm")));
        QCOMPARE(int(project.status), int(ProjectParse::Ok));
        Output o;
        o.road = example == u"UseResource.pb" ? Road::Resource : Road::Hexdata;
        for (const ProjectRecord& r : project.content.records) {
            o.files.append({FileNamePart(r.path), ReadBytes(demo + QLatin1Char('/') + r.path)});
            o.packers << PackerText(r.packer);
        }
        if (!QFile::exists(root + QStringLiteral("/build/demo/demo.res"))) {
            QVERIFY(QDir().mkpath(root + QStringLiteral("/build/demo")));
            for (const auto& [format, file] :
                 {std::pair{OutputHexdata, "demo_hexdata.pbi"}, {OutputResource, "demo.res"}}) {
                AppSettings settings;
                Document document(settings);
                document.setOutputFormat(format);
                for (const ProjectRecord& r : project.content.records) {
                    const int row =
                        document.model().AddFileRow(demo + QLatin1Char('/') + r.path, PackerNone, QStringLiteral("1"));
                    document.model().SetCellText(FileListModel::PackerColumn, row, PackerText(r.packer));
                }
                ScriptedPlatform platform;
                QCOMPARE(
                    int(CreateOutput(document, platform, root + QStringLiteral("/build/demo/") + QLatin1String(file))
                            .status),
                    int(CreateStatus::Written));
            }
            for (const char* f : {"examples/UseInclude.pb", "examples/UseResource.pb", "include/Zember_Include.pbi"})
                QVERIFY(WriteBytes(root + QLatin1Char('/') + QLatin1String(f),
                                   ReadBytes(QStringLiteral(HEXALOOM_SOURCE_DIR "/") + QLatin1String(f))));
        }
        const Target t = *Target::Parse(target);
        const QString work = root + QStringLiteral("/work/") + example + QLatin1Char('/') + target;
        QVERIFY(QDir().mkpath(work));
        RunOptions options;
        options.workDir = work;
        options.strictMemory = true;
        const RunResult r = Run(m_cache, root + QStringLiteral("/examples/") + example, t, options);
        m_branches.unite(r.branchesTaken);
        NoteUnconfirmed(r.warnings);
        if (!ExpectRun(r, RunFaults(t, o)))
            return;
        QVERIFY(r.output.contains(QStringLiteral("Catalog: %1,").arg(o.files.size())));
        if (o.road == Road::Hexdata)
            QVERIFY(r.output.contains(QStringLiteral("Numbers out of range give 0, as they should.")));
        QVERIFY(!r.output.contains(QStringLiteral("another number")));
        for (int i = 0; i < o.files.size(); ++i) {
            const InputFile& f = o.files[i];
            int stored = 0;
            const Bytes block = PackBlock(ToBytes(f.bytes), PackerKindFromText(o.packers[i]));
            if (HasBlockMagic(block))
                stored = block[16];
            if (const KnownFault* fault = FileFault(t, o, stored))
                QEXPECT_FAIL("", qPrintable(FaultText(*fault)), Continue);
            QCOMPARE(ReadBytes(work + QStringLiteral("/restored_") + f.name), f.bytes);
        }
        // Every picture was taken as an image, a bitmap also as a sprite, the sound as a sound.
        QHash<QString, QString> results; // "name kind" -> 0 or not
        QString current;
        static const QRegularExpression entry(QStringLiteral("^\\d+: ([^,]+)"));
        static const QRegularExpression loaded(QStringLiteral("^  (image|sprite|sound|module): (\\d+)"));
        for (const QString& line : r.output.split(QLatin1Char('\n'))) {
            if (const auto m = entry.match(line); m.hasMatch())
                current = m.captured(1);
            else if (const auto m = loaded.match(line); m.hasMatch())
                results[current + QLatin1Char(' ') + m.captured(1)] =
                    m.captured(2) == u"0" ? QStringLiteral("0") : QStringLiteral("loaded");
        }
        for (int i = 0; i < o.files.size(); ++i) {
            const QString& name = o.files[i].name;
            QHash<QString, QString> want;
            if (IsKind(name, {".bmp", ".ico"})) {
                want[name + QStringLiteral(" image")] = QStringLiteral("loaded");
                want[name + QStringLiteral(" sprite")] =
                    IsKind(name, {".bmp"}) ? QStringLiteral("loaded") : QStringLiteral("0");
            }
            if (IsKind(name, {".wav"}))
                want[name + QStringLiteral(" sound")] = QStringLiteral("loaded");
            for (auto it = want.cbegin(); it != want.cend(); ++it) {
                const Bytes block = PackBlock(ToBytes(o.files[i].bytes), PackerKindFromText(o.packers[i]));
                const int stored = HasBlockMagic(block) ? block[16] : 0;
                if (const KnownFault* fault = FileFault(t, o, stored); fault && it.value() != u"0")
                    QEXPECT_FAIL("", qPrintable(FaultText(*fault)), Continue);
                QCOMPARE(results.value(it.key()), it.value());
            }
        }
    }

    // Every branch of every CompilerIf and CompilerSelect of the templates and the companion include was
    // compiled for some target.
    void everyTemplateBranchIsCompiled()
    {
        QSet<QPair<QString, int>> taken = m_branches;
        for (const auto& o : m_outputs) {
            for (const char* target : kTargets) {
                const Target t = *Target::Parse(QLatin1String(target));
                CheckOptions options;
                options.dll = o->dll;
                const CheckResult checked = Check(m_cache, o->driver, t, options);
                taken.unite(checked.branchesTaken);
                NoteUnconfirmed(checked.warnings);
            }
        }
        // An include starts with its template's bytes, so its lines are the template's.
        QSet<QPair<QString, int>> templateLines;
        for (const auto& [path, line] : taken) {
            const QString name = QFileInfo(path).fileName();
            if (name == u"out.pbi") {
                const QString variant = QFileInfo(path).dir().dirName();
                const char* templ =
                    variant.endsWith(u"_none") || variant == u"duplicate_names" || variant == u"code_page_names"
                        ? "Vorkel_Include_None.pbi"
                    : variant.endsWith(u"_jCalg1") ? "Vorkel_Include_jCalg1.pbi"
                    : variant.endsWith(u"_zip")    ? "Vorkel_Include_Zip.pbi"
                                                   : "Vorkel_Include.pbi";
                templateLines.insert({QLatin1String(templ), line});
            } else if (name == u"Zember_Include.pbi") {
                templateLines.insert({name, line});
            }
        }
        QStringList missing;
        const QStringList files = {"resources/Vorkel_Include.pbi", "resources/Vorkel_Include_None.pbi",
                                   "resources/Vorkel_Include_jCalg1.pbi", "resources/Vorkel_Include_Zip.pbi",
                                   "include/Zember_Include.pbi"};
        for (const QString& file : files) {
            const int index = m_cache.Load(QStringLiteral(HEXALOOM_SOURCE_DIR "/") + file);
            QVERIFY(m_cache.file(index).error.isEmpty());
            std::function<void(const Body&)> walk = [&](const Body& body) {
                for (const StmtPtr& s : body) {
                    if (s->kind == StmtKind::CompilerIf || s->kind == StmtKind::CompilerSelect) {
                        for (const Branch& b : s->branches) {
                            if (!templateLines.contains({QFileInfo(file).fileName(), b.pos.line}))
                                missing << QStringLiteral("%1:%2").arg(file).arg(b.pos.line);
                            walk(b.body);
                        }
                    }
                    walk(s->body);
                    for (const Branch& b : s->branches)
                        if (s->kind != StmtKind::CompilerIf && s->kind != StmtKind::CompilerSelect)
                            walk(b.body);
                }
            };
            walk(m_cache.file(index).body);
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
        // Nor does any of it rest on a fact pbrun's tables mark unconfirmed, on any target.
        QVERIFY2(m_unconfirmed.isEmpty(), qPrintable(m_unconfirmed.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(AccessCodeTest)
#include "AccessCodeTest.moc"
