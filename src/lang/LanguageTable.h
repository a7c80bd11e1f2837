#pragma once
// Every shown text is looked up by group and key: the built-in English table, with any text replaced
// by the chosen language file (PrefsFile format, groups and keys in any letter case).
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <span>

namespace hexaloom {

// One pair of the built-in table: "_GROUP_" starts the group named by the value, "_END_" ends the table.
struct BuiltinText
{
    const char* name;
    const char* text;
};

// The built-in English table, in its order, with its group and end markers.
std::span<const BuiltinText> BuiltinTexts();

// Shown in place of a text that the table does not have, so a gap is visible rather than empty.
inline constexpr char kStringNotFound[] = "##### String not found! #####";

class PrefsFile;
class LanguageTable;

// Texts of group "Messages" beyond the built-in table: the language's text when its file has the key,
// else the English kept here (or the built-in table's). An unknown key gives an empty text.
QString MessageText(const LanguageTable* language, const char* key);
// `text` with each of the program's own reasons (Reasons.h) in the chosen language: a line that is one,
// or ends in ": " and one. Anything else, such as the system's own words, stays as it is.
QString ReasonText(const QString& text, const LanguageTable* language);
// `text` with %1 .. %9 replaced by `values` in one pass, each only where the text has it: a language file
// written before a limit became a placeholder states the limit itself and reads as it did (no warning, no
// value put in the wrong place), and a value that holds "%2" is not filled again.
QString FillMessage(const QString& text, const QStringList& values);
// Every key of those texts, each language file translates them all.
QList<QByteArray> MessageKeys();

class LanguageTable
{
public:
    // Starts with the built-in texts.
    LanguageTable();

    // Rebuilds the table from the built-in texts, then applies `file` when it is not empty and can be
    // opened. A missing file is not an error. Always 1.
    int LoadLanguage(const QString& file);
    // The same with the language file's bytes.
    int LoadLanguageBytes(const QByteArray& bytes);
    // The text of a group and key in any letter case, or kStringNotFound.
    QString LanguageText(const QString& group, const QString& key) const;

    // The language file's text for a key of MessageKeys(); empty when the file has none.
    QString messageText(const char* key) const { return m_messages.value(QByteArray(key)); }

    int groupCount() const { return static_cast<int>(m_groups.size()) - 1; }
    int entryCount() const { return static_cast<int>(m_keys.size()) - 1; }

private:
    struct Group
    {
        QString name;                 // upper-cased
        int first = 0;                // first entry index
        int last = -1;                // last entry index; first > last for a group without entries
        std::array<int, 256> index{}; // first entry whose key starts with that character, or 0
    };

    void build();
    void apply(PrefsFile& prefs);

    // Element 0 of each array stays empty, so that 0 can mean "none".
    QList<Group> m_groups;
    QList<QString> m_keys;
    QList<QString> m_texts;
    mutable int m_lastGroup = 0;
    QHash<QByteArray, QString> m_messages; // the file's texts of MessageKeys()
};

} // namespace hexaloom
