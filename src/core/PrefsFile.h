#pragma once
// The grouped text store of the settings and language files: "[group]" lines, "key = value" entries and
// "; comment" lines. An existing file keeps its order, comments, unknown keys and the spelling of its
// keys when values are written back; blank lines are dropped.
#include "AtomicFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace hexaloom {

class PrefsFile
{
public:
    PrefsFile() = default;
    PrefsFile(const PrefsFile&) = delete;
    PrefsFile& operator=(const PrefsFile&) = delete;
    // Closes the store, writing it back when it was changed.
    ~PrefsFile();

    // Reads and parses the whole file. When it cannot be opened the store is empty and false is
    // returned (errorString() says why); the path is remembered, so a later write and Close create the file.
    bool Open(const QString& path);
    // Creates the file at once as an empty file (replacing an existing one) and starts an empty store.
    bool Create(const QString& path);
    // Selects the first group of that name (ASCII letters in any case). An unknown name is kept as
    // pending: reads find nothing and the first write appends the group. An empty name selects the
    // entries before the first group. True when the group exists.
    bool Group(const QString& name);
    // A decimal value (leading blanks, optional sign, digits up to the first non-digit; no digits give
    // 0), or `defaultValue` when the key is missing. Values beyond 32 bits are clamped.
    std::int32_t ReadLong(const QString& key, std::int32_t defaultValue) const;
    // The value without leading and trailing spaces and tabs, or `defaultValue` when the key is missing.
    QString ReadString(const QString& key, const QString& defaultValue) const;
    void WriteLong(const QString& key, std::int32_t value);
    // A value with a CR or LF is not stored (false; the entry keeps what it had): the line break would
    // end the entry there and the rest could read as a group line of its own.
    bool WriteString(const QString& key, const QString& value);
    // Writes the store back when anything was written since Open or Create, then empties it. False when
    // that write failed (the old file is then left as it was).
    bool Close();

    // The store without a file, for the parsers' tests and fuzzing.
    void Parse(const QByteArray& bytes);
    // The file the store would write: UTF-8 with byte-order mark, an empty first line, CR LF endings.
    QByteArray Serialize() const;
    bool isChanged() const { return m_changed; }
    QString errorString() const { return m_error; }
    // Replaces the way Close writes into the file (tests make it fail midway).
    void setWriter(DeviceWriter writer) { m_writer = std::move(writer); }

    // UTF-8 when the bytes begin with its byte-order mark (which is dropped), else Latin-1.
    static QString Decode(const QByteArray& bytes);

private:
    enum class Kind { Group, Comment, Entry, Other };
    struct Line
    {
        Kind kind = Kind::Other;
        QString name;  // group name, comment text, entry key or the untouched line
        QString value; // entry value
    };

    // Index range [first, end) of the current group's lines, after its group line.
    void currentRange(qsizetype& first, qsizetype& end) const;
    qsizetype findEntry(const QString& key) const;
    void write(const QString& key, const QString& value);
    void reset();

    QList<Line> m_lines;
    QString m_path;
    qsizetype m_group = -1; // line index of the current group line; -1 before the first group
    QString m_pendingGroup;
    bool m_pending = false;
    bool m_open = false;
    bool m_changed = false;
    QString m_error;
    DeviceWriter m_writer;
};

// ASCII letters compared without regard to case; every other character must be equal.
bool EqualsAsciiNoCase(const QString& a, const QString& b);

} // namespace hexaloom
