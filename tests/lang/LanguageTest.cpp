#include "LanguageTable.h"
#include "PrefsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom;

namespace {
QString Lng(const char* name)
{
    return QStringLiteral(HEXALOOM_TEST_DATA "/lang/") + QLatin1String(name);
}

const QString kNotFound = QStringLiteral("##### String not found! #####");
} // namespace

class LanguageTest : public QObject
{
    Q_OBJECT
private slots:
    void builtInTexts_data();
    void builtInTexts();
    void tableShape();
    void lookups_data();
    void lookups();
    void fileReplacesOnlyItsTexts_data();
    void fileReplacesOnlyItsTexts();
    void nextLanguageStartsFromEnglish();
    void latin1AndUtf8Agree();
    void missingFileKeepsEnglish();
    void fillsMessages_data();
    void fillsMessages();
    void reasonsInTheChosenLanguage_data();
    void reasonsInTheChosenLanguage();
    void shippedTranslationsAreComplete_data();
    void shippedTranslationsAreComplete();
    void windowTextsComeFromTheTable_data();
    void windowTextsComeFromTheTable();
};

void LanguageTest::builtInTexts_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    const char* rows[][3] = {
        {"MenuTitle", "File", "&File"},
        {"MenuTitle", "Lang", "Language"},
        {"MenuTitle", "Help", "&Help"},
        {"MenuItem", "New", "&New"},
        {"MenuItem", "Open", "&Open ..."},
        {"MenuItem", "Save", "&Save"},
        {"MenuItem", "SaveAs", "Save &As ..."},
        {"MenuItem", "Quit", "&Quit"},
        {"MenuItem", "AddFiles", "Add Files ..."},
        {"MenuItem", "AddDir", "Add Directory (recursive) ..."},
        {"MenuItem", "About", "&About"},
        {"MenuItem", "Updatecheck", "&Updatecheck"},
        {"Grid", "Number", "No.:"},
        {"Grid", "Packer", "Packformat:"},
        {"Grid", "Size", "Datasize:"},
        {"Grid", "File", "Filename:"},
        {"Buttons", "chkCalc", "Calculate Datasize"},
        {"Buttons", "chkOnTop", "Always on top"},
        {"Buttons", "btnUp", "Move selected row up"},
        {"Buttons", "btnDown", "Move selected row down"},
        {"Buttons", "btnDelete", "Delete selected row"},
        {"Buttons", "lblOutput", "Select Output format:"},
        {"Buttons", "btnCreate", "Create..."},
        {"Messages", "WaitWindow", "Please wait ..."},
        {"Messages", "OverWrite", "File already exists. Overwrite?"},
        {"Messages", "FileToBig", "The file '{FILE}' is very big!\\nShould it be added anyway?"},
        {"Messages", "NoUpdate", "No Update available"},
        {"Messages", "FileCorrupted", "File seems to be corrupted!"},
        {"Messages", "WrongDownload", "Something went wrong with the download!"},
        {"Messages", "NewUpdate", "New update found!"},
    };
    for (const auto& row : rows)
        QTest::addRow("%s/%s", row[0], row[1]) << row[0] << row[1] << row[2];
}

void LanguageTest::builtInTexts()
{
    QFETCH(QString, group);
    QFETCH(QString, key);
    LanguageTable table;
    table.LoadLanguage(QString());
    QTEST(table.LanguageText(group, key), "text");
}

void LanguageTest::tableShape()
{
    LanguageTable table;
    QCOMPARE(table.LoadLanguage(QString()), 1);
    QCOMPARE(table.groupCount(), 5);
    QCOMPARE(table.entryCount(), 30);
    // The FileToBig text holds a backslash and an "n", not a line break.
    QVERIFY(table.LanguageText("Messages", "FileToBig").contains(QStringLiteral("!\\nShould")));
}

void LanguageTest::lookups_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::newRow("lower case") << "messages"
                                << "overwrite"
                                << "File already exists. Overwrite?";
    QTest::newRow("upper case") << "MESSAGES"
                                << "OVERWRITE"
                                << "File already exists. Overwrite?";
    QTest::newRow("mixed case") << "mEsSaGeS"
                                << "oVeRwRiTe"
                                << "File already exists. Overwrite?";
    QTest::newRow("same key in two groups, menu") << "menutitle"
                                                  << "file"
                                                  << "&File";
    QTest::newRow("same key in two groups, grid") << "grid"
                                                  << "file"
                                                  << "Filename:";
    QTest::newRow("first key of a letter run") << "MenuItem"
                                               << "AddDir"
                                               << "Add Directory (recursive) ...";
    QTest::newRow("later key of a letter run") << "MenuItem"
                                               << "About"
                                               << "&About";
    QTest::newRow("unknown key") << "Messages"
                                 << "NoSuchKey" << kNotFound;
    QTest::newRow("unknown key between known ones") << "MenuItem"
                                                    << "Opem" << kNotFound;
    QTest::newRow("key beyond the last of its letter") << "MenuItem"
                                                       << "Sz" << kNotFound;
    QTest::newRow("unknown group") << "Nowhere"
                                   << "File" << kNotFound;
    QTest::newRow("empty group") << ""
                                 << "File" << kNotFound;
    QTest::newRow("empty key") << "Grid"
                               << "" << kNotFound;
    QTest::newRow("key starting just past Latin-1") << "Grid" << QString::fromUtf8("\xC4\x80x") << kNotFound;
    QTest::newRow("key starting beyond Latin-1") << "Grid" << QString::fromUtf8("\xE2\x82\xACuro") << kNotFound;
    QTest::newRow("prefix of a key") << "Grid"
                                     << "Siz" << kNotFound;
}

void LanguageTest::lookups()
{
    QFETCH(QString, group);
    QFETCH(QString, key);
    LanguageTable table;
    // A lookup in another group first, so the remembered group has to change.
    QCOMPARE(table.LanguageText("Buttons", "btnUp"), QStringLiteral("Move selected row up"));
    QTEST(table.LanguageText(group, key), "text");
    // And again, now with the remembered group.
    QTEST(table.LanguageText(group, key), "text");
}

void LanguageTest::fileReplacesOnlyItsTexts_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::newRow("Grid/Size only: replaced") << Lng("GridSizeOnly.lng") << "Grid"
                                              << "Size"
                                              << QString::fromUtf8("Datengr\xC3\xB6\xC3\x9F"
                                                                   "e:");
    QTest::newRow("Grid/Size only: neighbour stays") << Lng("GridSizeOnly.lng") << "Grid"
                                                     << "File"
                                                     << "Filename:";
    QTest::newRow("Grid/Size only: other group stays") << Lng("GridSizeOnly.lng") << "MenuItem"
                                                       << "Quit"
                                                       << "&Quit";
    QTest::newRow("unknown group ignored") << Lng("Unknown.lng") << "Grid"
                                           << "File"
                                           << "Filename:";
    QTest::newRow("known key in capitals") << Lng("Unknown.lng") << "MenuTitle"
                                           << "File"
                                           << "Datei";
    QTest::newRow("unknown key not added") << Lng("Unknown.lng") << "MenuTitle"
                                           << "MissingKey" << kNotFound;
    QTest::newRow("empty text taken") << Lng("Unknown.lng") << "MenuTitle"
                                      << "Help"
                                      << "";
    QTest::newRow("text trimmed") << Lng("Utf8.lng") << "Buttons"
                                  << "chkOnTop"
                                  << "Immer im Vordergrund";
}

void LanguageTest::fileReplacesOnlyItsTexts()
{
    QFETCH(QString, file);
    QFETCH(QString, group);
    QFETCH(QString, key);
    LanguageTable table;
    QCOMPARE(table.LoadLanguage(file), 1);
    QTEST(table.LanguageText(group, key), "text");
}

void LanguageTest::nextLanguageStartsFromEnglish()
{
    LanguageTable table;
    table.LoadLanguage(Lng("A.lng"));
    QCOMPARE(table.LanguageText("Messages", "OverWrite"), QStringLiteral("A overwrite"));
    QCOMPARE(table.LanguageText("Messages", "NoUpdate"), QStringLiteral("A no update"));
    QCOMPARE(table.LanguageText("Buttons", "btnCreate"), QStringLiteral("A create"));
    table.LoadLanguage(Lng("B.lng"));
    QCOMPARE(table.LanguageText("Messages", "OverWrite"), QStringLiteral("B overwrite"));
    QCOMPARE(table.LanguageText("Messages", "NoUpdate"), QStringLiteral("No Update available"));
    QCOMPARE(table.LanguageText("Buttons", "btnCreate"), QStringLiteral("Create..."));
}

void LanguageTest::latin1AndUtf8Agree()
{
    LanguageTable latin1;
    latin1.LoadLanguage(Lng("Latin1.lng"));
    LanguageTable utf8;
    utf8.LoadLanguage(Lng("Utf8.lng"));
    QCOMPARE(latin1.LanguageText("MenuItem", "About"), QString::fromUtf8("\xC3\x9C"
                                                                         "ber ..."));
    for (const char* key : {"Quit", "About", "New"})
        QCOMPARE(latin1.LanguageText("MenuItem", key), utf8.LanguageText("MenuItem", key));
    QCOMPARE(latin1.LanguageText("Buttons", "chkOnTop"), utf8.LanguageText("Buttons", "chkOnTop"));
}

void LanguageTest::missingFileKeepsEnglish()
{
    // Looked for in a folder of its own: a test run never touches the checkout.
    QTemporaryDir dir;
    LanguageTable table;
    table.LoadLanguage(Lng("A.lng"));
    QCOMPARE(table.LoadLanguage(dir.filePath("NoSuchLanguage.lng")), 1);
    QCOMPARE(table.LanguageText("Messages", "OverWrite"), QStringLiteral("File already exists. Overwrite?"));
    QCOMPARE(table.LoadLanguage(dir.path()), 1); // a folder, not a file
    QVERIFY(QDir(dir.path()).isEmpty());
    QCOMPARE(table.LanguageText("Buttons", "btnCreate"), QStringLiteral("Create..."));
}

void LanguageTest::fillsMessages_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("filled");
    QTest::newRow("limit in its place") << "at most %1 files" << QStringList{"65534"} << "at most 65534 files";
    // A language file written before the limits became places states them itself.
    QTest::newRow("older text states the limit") << QString::fromUtf8("höchstens 65534 Dateien") << QStringList{"65534"}
                                                 << QString::fromUtf8("höchstens 65534 Dateien");
    QTest::newRow("older text, fewer places") << "%1 > 2 Gio - 1" << QStringList{"a.bin", "2"} << "a.bin > 2 Gio - 1";
    QTest::newRow("a value is not filled again") << "%2: %1" << QStringList{"x%2", "y"} << "y: x%2";
}

void LanguageTest::fillsMessages()
{
    QFETCH(QString, text);
    QFETCH(QStringList, values);
    QFETCH(QString, filled);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    QCOMPARE(FillMessage(text, values), filled);
}

void LanguageTest::reasonsInTheChosenLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("after a name") << "Deutsch" << "/in/pipe: no regular file"
                                  << QString::fromUtf8("/in/pipe: keine gewöhnliche Datei");
    QTest::newRow("line by line; the system's words stay")
        << QString::fromUtf8("Français") << "a: not found\nb: Permission denied\nc: a link to nothing"
        << QString::fromUtf8("a: introuvable\nb: Permission denied\nc: un lien qui ne mène nulle part");
    QTest::newRow("the longer reason") << "Deutsch" << "out.pbi: not a regular file; left as it is"
                                       << QString::fromUtf8("out.pbi: keine gewöhnliche Datei; unverändert gelassen");
    QTest::newRow("alone") << "Deutsch" << "not enough memory" << "nicht genug Speicher";
    QTest::newRow("only at the end, after a colon")
        << "Deutsch" << "the folder \"x\" cannot be listed\nx: not found here\nnot found: x"
        << "the folder \"x\" cannot be listed\nx: not found here\nnot found: x";
    QTest::newRow("no language: English") << QString() << "a: not found" << "a: not found";
}

void LanguageTest::reasonsInTheChosenLanguage()
{
    QFETCH(QString, language);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    LanguageTable table;
    table.LoadLanguage(QStringLiteral(HEXALOOM_SOURCE_DIR "/translations/") + language + QStringLiteral(".lng"));
    QCOMPARE(ReasonText(text, language.isEmpty() ? nullptr : &table), shown);
}

void LanguageTest::shippedTranslationsAreComplete_data()
{
    QTest::addColumn<QString>("file");
    const QDir dir(QStringLiteral(HEXALOOM_SOURCE_DIR "/translations"));
    const QStringList files = dir.entryList({QStringLiteral("*.lng")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

void LanguageTest::shippedTranslationsAreComplete()
{
    // A misspelt key in a shipped file would be ignored without a word, leaving English in its place.
    QFETCH(QString, file);
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QVERIFY2(bytes.startsWith("\xEF\xBB\xBF"), "shipped language files are UTF-8 with the mark");
    PrefsFile prefs;
    prefs.Parse(bytes);
    LanguageTable table;
    table.LoadLanguage(file);
    QString group;
    int translated = 0;
    for (const BuiltinText& pair : BuiltinTexts()) {
        const QString name = QString::fromLatin1(pair.name);
        if (name == QLatin1String("_END_"))
            break;
        if (name == QLatin1String("_GROUP_")) {
            group = QString::fromLatin1(pair.text);
            QVERIFY2(prefs.Group(group), qPrintable(group));
            continue;
        }
        const QString missing = QStringLiteral("\x01missing");
        QVERIFY2(prefs.ReadString(name, missing) != missing, qPrintable(group + "/" + name));
        QCOMPARE(table.LanguageText(group, name), prefs.ReadString(name, QString()));
        ++translated;
    }
    QCOMPARE(translated, 30);
    // The messages beyond the built-in table, each translated.
    QVERIFY(prefs.Group(QStringLiteral("Messages")));
    for (const QByteArray& key : MessageKeys()) {
        const QString text = prefs.ReadString(QString::fromLatin1(key), QString());
        QVERIFY2(!text.isEmpty(), key.constData());
        QCOMPARE(MessageText(&table, key.constData()),
                 QString(text).replace(QStringLiteral("\\n"), QStringLiteral("\n")));
        // As many places to fill as the English text has.
        for (int n = 1; n <= 3; ++n)
            QCOMPARE(text.contains(QStringLiteral("%") + QString::number(n)),
                     MessageText(nullptr, key.constData()).contains(QStringLiteral("%") + QString::number(n)));
    }
    QVERIFY(table.LanguageText("Messages", "FileToBig").contains(QStringLiteral("'{FILE}'")));

    // Nothing the table does not know (it would be ignored), spelt as the table spells it.
    QSet<QString> known;
    for (const BuiltinText& pair : BuiltinTexts()) {
        if (QLatin1String(pair.name) == QLatin1String("_GROUP_"))
            group = QString::fromLatin1(pair.text);
        else
            known.insert(group + QLatin1Char('/') + QString::fromLatin1(pair.name));
    }
    for (const QByteArray& key : MessageKeys())
        known.insert(QStringLiteral("Messages/") + QString::fromLatin1(key));
    group.clear();
    for (const QString& line : PrefsFile::Decode(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('[')))
            group = line.mid(1, line.indexOf(QLatin1Char(']')) - 1);
        else if (!line.startsWith(QLatin1Char(';')))
            QVERIFY2(known.contains(group + QLatin1Char('/') + line.section(QLatin1Char('='), 0, 0).trimmed()),
                     qPrintable(line));
    }
    // Each language brings its help page and its menu icon.
    for (const char* extension : {".html", ".ico"})
        QVERIFY2(QFileInfo(file.chopped(4) + QLatin1String(extension)).size() > 0, extension);
}

// A text shown in a window comes from the language table: no literal is handed to a call that shows it.
// The product name, the built-in language's own name and the output formats' names are the same in
// every language.
void LanguageTest::windowTextsComeFromTheTable_data()
{
    QTest::addColumn<QString>("file");
    const QDir dir(QStringLiteral(HEXALOOM_SOURCE_DIR "/src/ui"));
    for (const QString& name : dir.entryList({QStringLiteral("*.cpp")}, QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

void LanguageTest::windowTextsComeFromTheTable()
{
    QFETCH(QString, file);
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QString source = QString::fromUtf8(in.readAll());
    // A call that shows its text, its argument a literal (possibly wrapped).
    static const QRegularExpression shown(
        QStringLiteral("\\b(setText|setWindowTitle|setToolTip|setStatusTip|setPlaceholderText|setDetailedText|"
                       "addMenu|addButton|showMessage|Message|MessageWithDetails|AskYesNo|AskSaveChanges|"
                       "WarnProceed|QPushButton|QLabel|QCheckBox|QMessageBox|addItems?)\\s*\\(\\s*\\{?\\s*"
                       "(?:QStringLiteral|QLatin1String|QString::fromLatin1|QString::fromUtf8|tr)?\\s*\\(?\\s*"
                       "\"([^\"]*)\""));
    const QStringList allowed{QStringLiteral("Hexaloom"), QStringLiteral("English"), QString(),
                              QStringLiteral("resource (*.res)")};
    QStringList found;
    for (auto match = shown.globalMatch(source); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        if (!allowed.contains(m.captured(2)))
            found << m.captured(0).simplified();
    }
    QCOMPARE(found, QStringList());
}

QTEST_GUILESS_MAIN(LanguageTest)
#include "LanguageTest.moc"
