#include "LanguageTable.h"

#include "PrefsFile.h"
#include "Reasons.h"

#include <algorithm>
#include <numeric>

namespace hexaloom {

namespace {
// The texts are kept exactly: "\\n" in FileToBig is a backslash and an "n"; its caller turns it into a
// line break after putting in the file name.
constexpr BuiltinText kBuiltin[] = {
    {"_GROUP_", "MenuTitle"},
    {"File", "&File"},
    {"Lang", "Language"},
    {"Help", "&Help"},
    {"_GROUP_", "MenuItem"},
    {"New", "&New"},
    {"Open", "&Open ..."},
    {"Save", "&Save"},
    {"SaveAs", "Save &As ..."},
    {"Quit", "&Quit"},
    {"AddFiles", "Add Files ..."},
    {"AddDir", "Add Directory (recursive) ..."},
    {"About", "&About"},
    {"Updatecheck", "&Updatecheck"},
    {"_GROUP_", "Grid"},
    {"Number", "No.:"},
    {"Packer", "Packformat:"},
    {"Size", "Datasize:"},
    {"File", "Filename:"},
    {"_GROUP_", "Buttons"},
    {"chkCalc", "Calculate Datasize"},
    {"chkOnTop", "Always on top"},
    {"btnUp", "Move selected row up"},
    {"btnDown", "Move selected row down"},
    {"btnDelete", "Delete selected row"},
    {"lblOutput", "Select Output format:"},
    {"btnCreate", "Create..."},
    {"_GROUP_", "Messages"},
    {"WaitWindow", "Please wait ..."},
    {"OverWrite", "File already exists. Overwrite?"},
    {"FileToBig", "The file '{FILE}' is very big!\\nShould it be added anyway?"},
    {"NoUpdate", "No Update available"},
    {"FileCorrupted", "File seems to be corrupted!"},
    {"WrongDownload", "Something went wrong with the download!"},
    {"NewUpdate", "New update found!"},
    {"_END_", ""},
};

// The messages beyond the built-in table, group "Messages". %1, %2 ... are filled in by their callers
// (a limit through FillMessage, as older language files state it themselves).
constexpr BuiltinText kMessages[] = {
    {"SaveChanges", "The list has changed since it was opened or saved. Save it?"},
    {"SaveFailed", "The project could not be saved as %1:\n%2"},
    {"CreateFailed", "The output could not be written; the old files were left as they were.\n%1"},
    {"IncludeNotReplaced", "The pack file %1 was replaced, but its include could not be:\n%2\nThe include there "
                           "does not fit the new pack file; create the output again."},
    {"FilesMissing", "These files could not be read; the output lacks them:\n%1"},
    {"NotAllRead", "These files could not be read:\n%1"},
    {"CommaInName", "The catalog separates the file names with \",\", so these files cannot be put in the output; "
                    "rename them. Nothing was written:\n%1"},
    {"NameNotExtractable", "These file names could not be written back as files everywhere (a control character, "
                           "\"/\", \"\\\", \":\" or only dots); rename them. Nothing was written:\n%1"},
    {"NotEnoughMemory", reason::kNotEnoughMemory},
    // The program's own reasons (Reasons.h), each after a file's name and ": ".
    {"ReasonNotFound", reason::kNotFound},
    {"ReasonNoRegularFile", reason::kNoRegularFile},
    {"ReasonNotRegularFile", reason::kNotRegularFile},
    {"ReasonNotReplaced", reason::kNotReplaced},
    {"ReasonLinkStandsThere", reason::kLinkStandsThere},
    {"ReasonLinkToNothing", reason::kLinkToNothing},
    {"ReasonCannotBeListed", reason::kCannotBeListed},
    {"ReasonNameNotInEncoding", reason::kNameNotInEncoding},
    {"ReasonChangedWhileRead", reason::kChangedWhileRead},
    {"ReasonLargerThanProjects", reason::kLargerThanProjects},
    {"TooManyFiles", "A resource file holds at most %1 files; nothing was written."},
    {"FileTooBig", "%1 is larger than %2 GiB - 1 bytes; nothing was written."},
    {"ControlInOutputName", "%1: an output's name cannot hold a control character; nothing was written."},
    {"PackIsInclude", "%1 would be both the include and its pack file; nothing was written."},
    {"QuoteInPackName", "%1: the include names its pack file in a PureBasic string, which cannot hold a double "
                        "quote; nothing was written."},
    {"ProjectDamaged", "The project \"%1\" is damaged and was not loaded."},
    {"ProjectUnreadable", "The project \"%1\" could not be read: %2"},
    {"ProjectNotSupported", "Projectformat not supported: %1"},
    {"ProjectTooManyRows", "The list has %1 files; a project can hold at most %2. Nothing was saved."},
    {"ProjectPathsTooLong", "A project holds paths of at most %1 characters. These rows have longer ones; nothing "
                            "was saved.\n%2"},
    {"ProjectMore", "and %1 more"},
    {"NameClash", "Files of the same name are all written, but a lookup by name finds only the first of them, and "
                  "extracting by name writes one over the other."},
    {"NameClashSame", "The same name:"},
    {"NameClashCase", "The same name apart from letter case:"},
    {"NameClashAnd", "and"},
    {"NameClashMore", "(and %1 more names)"},
    {"CreateAnyway", "Create anyway"},
    {"UpdateFailed", "The update server could not be reached (%1):\n%2"},
    {"DownloadSaved", "Saved as %1"},
    {"DownloadNotOpened", "The new version was saved as %1, but it could not be opened."},
    {"NotSigned", "the update information is not signed by the Hexaloom team"},
    {"CreateDone", "%1 written: %2 files, %3 bytes"},
    {"HelpTitle", "Hexaloom - Help"},
    {"AboutVersion", "Version %1"},
    {"AboutText", "Packs the files a PureBasic program needs at run time<br>into one include or resource file."},
    {"AboutDonate", "Feel free To donate to say thanks."},
    {"AboutOk", "Ok"},
    {"AboutSubtitle", "files packed into PureBasic programs"},
    {"AboutDonateButton", "Donate"},
    {"UpdateName", "Name:"},
    {"UpdateVersion", "Version:"},
    {"UpdateDate", "ReleaseDate:"},
    {"UpdateSize", "FileSize:"},
    {"UpdateDownload", "Download"},
    {"UpdateClose", "Close"},
    {"UpdateInfo", "Info"},
    {"UpdateInfoText", "Info:"},
    {"QtLanguage", "en"},
    {"SmallestPacker", "Smallest packer for every file"},
    {"PackHarder", "Pack harder (slower)"},
    {"FilesNotFound", "%1 of the project's files were not found; they were left out:"},
    {"FilterPureBasic", "PureBasic Files"},
    {"FilterAll", "All Files"},
    {"FilterResource", "Resource Files"},
    {"FilterProject", "Hexaloom Projects"},
    {"AlreadyListed", "%1 of these files are in the list already and were not added again:"},
    {"LeftOut", "%1 entries could not be added and were left out:"},
};

bool IsMarker(const char* name, const char* marker)
{
    return QString::fromLatin1(name).toUpper() == QLatin1String(marker);
}

bool KeyLess(const QString& a, const QString& b)
{
    // UTF-16 code units compared as unsigned numbers.
    return std::lexicographical_compare(a.utf16(), a.utf16() + a.size(), b.utf16(), b.utf16() + b.size());
}
} // namespace

std::span<const BuiltinText> BuiltinTexts()
{
    return kBuiltin;
}

QString MessageText(const LanguageTable* language, const char* key)
{
    for (const BuiltinText& pair : kMessages) {
        if (qstrcmp(pair.name, key) != 0)
            continue;
        const QString text = language ? language->messageText(key) : QString();
        return text.isEmpty() ? QString::fromUtf8(pair.text) : text;
    }
    if (language) {
        const QString text = language->LanguageText(QStringLiteral("Messages"), QString::fromLatin1(key));
        if (text != QLatin1String(kStringNotFound))
            return text;
    }
    // Without a language: the built-in English of that group.
    bool messages = false;
    for (const BuiltinText& pair : kBuiltin) {
        if (IsMarker(pair.name, "_GROUP_"))
            messages = qstrcmp(pair.text, "Messages") == 0;
        else if (messages && QString::fromLatin1(pair.name).compare(QLatin1String(key), Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(pair.text);
    }
    return {};
}

QString ReasonText(const QString& text, const LanguageTable* language)
{
    // A reason's message has the reason as its English text.
    const auto saysAReason = [](const char* key) {
        return qstrncmp(key, "Reason", 6) == 0 || qstrcmp(key, "NotEnoughMemory") == 0;
    };
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        for (const BuiltinText& pair : kMessages) {
            const QLatin1String said(pair.text);
            if (saysAReason(pair.name) &&
                (line == said || (line.endsWith(said) && QStringView(line).chopped(said.size()).endsWith(u": ")))) {
                line = line.chopped(said.size()) + MessageText(language, pair.name);
                break;
            }
        }
    }
    return lines.join(QLatin1Char('\n'));
}

QString FillMessage(const QString& text, const QStringList& values)
{
    QString filled;
    filled.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int n = i + 1 < text.size() && text.at(i) == QLatin1Char('%') ? text.at(i + 1).digitValue() : -1;
        if (n >= 1 && n <= values.size()) {
            filled += values.at(n - 1);
            ++i;
        } else {
            filled += text.at(i);
        }
    }
    return filled;
}

QList<QByteArray> MessageKeys()
{
    QList<QByteArray> keys;
    for (const BuiltinText& pair : kMessages)
        keys.append(QByteArray(pair.name));
    return keys;
}

LanguageTable::LanguageTable()
{
    build();
}

void LanguageTable::build()
{
    int groups = 0;
    int entries = 0;
    for (const BuiltinText& pair : kBuiltin) {
        if (IsMarker(pair.name, "_END_"))
            break;
        if (IsMarker(pair.name, "_GROUP_"))
            ++groups;
        else
            ++entries;
    }
    m_groups = QList<Group>(groups + 1);
    m_keys = QList<QString>(entries + 1);
    m_texts = QList<QString>(entries + 1);
    m_lastGroup = 0;
    m_messages.clear();

    int g = 0;
    int e = 0;
    for (const BuiltinText& pair : kBuiltin) {
        if (IsMarker(pair.name, "_END_"))
            break;
        if (IsMarker(pair.name, "_GROUP_")) {
            m_groups[g].last = e;
            ++g;
            m_groups[g].name = QString::fromLatin1(pair.text).toUpper();
            m_groups[g].first = e + 1;
            m_groups[g].index.fill(0);
        } else {
            ++e;
            m_keys[e] = QString::fromLatin1(pair.name).toUpper();
            m_texts[e] = QString::fromUtf8(pair.text);
        }
    }
    m_groups[g].last = e;
    // Group 0 only collects entries before the first group marker; the table has none.
    m_groups[0].first = 1;
    m_groups[0].last = 0;

    for (int gi = 1; gi <= groups; ++gi) {
        Group& group = m_groups[gi];
        if (group.first > group.last)
            continue;
        const int count = group.last - group.first + 1;
        QList<int> order(count);
        std::iota(order.begin(), order.end(), group.first);
        std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return KeyLess(m_keys[a], m_keys[b]); });
        QList<QString> keys;
        QList<QString> texts;
        for (int i : order) {
            keys.append(m_keys[i]);
            texts.append(m_texts[i]);
        }
        char16_t previous = 0;
        for (int i = 0; i < count; ++i) {
            const int entry = group.first + i;
            m_keys[entry] = keys[i];
            m_texts[entry] = texts[i];
            const char16_t first = m_keys[entry].isEmpty() ? 0 : m_keys[entry].at(0).unicode();
            if (first != previous && first < 256)
                group.index[first] = entry;
            previous = first;
        }
    }
}

void LanguageTable::apply(PrefsFile& prefs)
{
    for (int g = 1; g <= groupCount(); ++g) {
        const Group& group = m_groups[g];
        if (group.first > group.last)
            continue;
        prefs.Group(group.name);
        for (int e = group.first; e <= group.last; ++e)
            m_texts[e] = prefs.ReadString(m_keys[e], m_texts[e]);
    }
    if (prefs.Group(QStringLiteral("Messages"))) {
        for (const BuiltinText& pair : kMessages) {
            // A file writes a line break as \n.
            const QString text = prefs.ReadString(QString::fromLatin1(pair.name), QString())
                                     .replace(QLatin1String("\\n"), QLatin1String("\n"));
            if (!text.isEmpty())
                m_messages.insert(QByteArray(pair.name), text);
        }
    }
}

int LanguageTable::LoadLanguage(const QString& file)
{
    build();
    if (!file.isEmpty()) {
        PrefsFile prefs;
        if (prefs.Open(file))
            apply(prefs);
        prefs.Close();
    }
    return 1;
}

int LanguageTable::LoadLanguageBytes(const QByteArray& bytes)
{
    build();
    PrefsFile prefs;
    prefs.Parse(bytes);
    apply(prefs);
    return 1;
}

QString LanguageTable::LanguageText(const QString& groupName, const QString& keyName) const
{
    const QString group = groupName.toUpper();
    const QString key = keyName.toUpper();
    const QString notFound = QString::fromLatin1(kStringNotFound);
    if (m_groups.at(m_lastGroup).name != group) {
        m_lastGroup = 0;
        for (int g = 1; g <= groupCount(); ++g) {
            if (m_groups.at(g).name == group) {
                m_lastGroup = g;
                break;
            }
        }
    }
    if (m_lastGroup == 0 || key.isEmpty() || key.at(0).unicode() >= 256)
        return notFound;
    const Group& found = m_groups.at(m_lastGroup);
    const int start = found.index.at(key.at(0).unicode());
    if (start == 0)
        return notFound;
    for (int e = start; e <= found.last; ++e) {
        if (m_keys.at(e) == key)
            return m_texts.at(e);
        if (KeyLess(key, m_keys.at(e)))
            break;
    }
    return notFound;
}

} // namespace hexaloom
