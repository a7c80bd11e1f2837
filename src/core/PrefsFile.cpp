#include "PrefsFile.h"

#include "AtomicFile.h"

#include <QFile>

#include <limits>

namespace hexaloom {

namespace {
bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString TrimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype end = text.size();
    while (first < end && IsBlank(text.at(first)))
        ++first;
    while (end > first && IsBlank(text.at(end - 1)))
        --end;
    return text.mid(first, end - first);
}

char16_t AsciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}
} // namespace

bool EqualsAsciiNoCase(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (AsciiLower(a.at(i).unicode()) != AsciiLower(b.at(i).unicode()))
            return false;
    return true;
}

PrefsFile::~PrefsFile()
{
    Close();
}

QString PrefsFile::Decode(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    return QString::fromLatin1(bytes);
}

void PrefsFile::reset()
{
    m_lines.clear();
    m_path.clear();
    m_group = -1;
    m_pendingGroup.clear();
    m_pending = false;
    m_open = false;
    m_changed = false;
    m_error.clear();
}

void PrefsFile::Parse(const QByteArray& bytes)
{
    m_lines.clear();
    m_group = -1;
    m_pending = false;
    const QString text = Decode(bytes);
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text.at(end) != QLatin1Char('\r') && text.at(end) != QLatin1Char('\n'))
            ++end;
        const QString raw = text.mid(pos, end - pos);
        // CR LF ends a line as one; a lone CR or LF ends it alone.
        if (end + 1 < text.size() && text.at(end) == QLatin1Char('\r') && text.at(end + 1) == QLatin1Char('\n'))
            pos = end + 2;
        else
            pos = std::min(end + 1, text.size());

        qsizetype start = 0;
        while (start < raw.size() && IsBlank(raw.at(start)))
            ++start;
        if (start == raw.size())
            continue; // blank lines are not kept
        Line line;
        const QChar first = raw.at(start);
        if (first == QLatin1Char('[')) {
            line.kind = Kind::Group;
            const qsizetype close = raw.indexOf(QLatin1Char(']'), start + 1);
            line.name = close < 0 ? raw.mid(start + 1) : raw.mid(start + 1, close - start - 1);
        } else if (first == QLatin1Char(';')) {
            line.kind = Kind::Comment;
            qsizetype from = start + 1;
            if (from < raw.size() && raw.at(from) == QLatin1Char(' '))
                ++from;
            line.name = raw.mid(from);
        } else if (const qsizetype eq = raw.indexOf(QLatin1Char('='), start); eq >= 0) {
            line.kind = Kind::Entry;
            qsizetype keyEnd = eq;
            while (keyEnd > start && IsBlank(raw.at(keyEnd - 1)))
                --keyEnd;
            line.name = raw.mid(start, keyEnd - start);
            qsizetype valueStart = eq + 1;
            while (valueStart < raw.size() && IsBlank(raw.at(valueStart)))
                ++valueStart;
            line.value = raw.mid(valueStart);
        } else {
            // Neither a group nor an entry: kept exactly as it was found.
            line.kind = Kind::Other;
            line.name = raw;
        }
        m_lines.append(line);
    }
}

QByteArray PrefsFile::Serialize() const
{
    QString text = QStringLiteral("\r\n");
    for (const Line& line : m_lines) {
        switch (line.kind) {
        case Kind::Group:
            text += QLatin1Char('[') + line.name + QLatin1Char(']');
            break;
        case Kind::Comment:
            text += QStringLiteral("; ") + line.name;
            break;
        case Kind::Entry:
            text += line.name + QStringLiteral(" = ") + line.value;
            break;
        case Kind::Other:
            text += line.name;
            break;
        }
        text += QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool PrefsFile::Open(const QString& path)
{
    Close();
    m_path = path;
    m_open = true;
    // Settings and language files are a few KiB; a FIFO or a device in their place must not hang or
    // swamp the start-up.
    constexpr qint64 kMaxPrefsFile = 16 << 20;
    const std::optional<QByteArray> bytes = ReadRegularFile(path, kMaxPrefsFile, &m_error);
    if (!bytes)
        return false;
    Parse(*bytes);
    return true;
}

bool PrefsFile::Create(const QString& path)
{
    Close();
    m_path = path;
    m_open = true;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

bool PrefsFile::Group(const QString& name)
{
    m_pending = false;
    if (name.isEmpty()) {
        m_group = -1;
        return true;
    }
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).kind == Kind::Group && EqualsAsciiNoCase(m_lines.at(i).name, name)) {
            m_group = i;
            return true;
        }
    }
    m_pending = true;
    m_pendingGroup = name;
    return false;
}

void PrefsFile::currentRange(qsizetype& first, qsizetype& end) const
{
    first = m_group + 1;
    end = first;
    while (end < m_lines.size() && m_lines.at(end).kind != Kind::Group)
        ++end;
}

qsizetype PrefsFile::findEntry(const QString& key) const
{
    if (m_pending)
        return -1;
    qsizetype first = 0;
    qsizetype end = 0;
    currentRange(first, end);
    for (qsizetype i = first; i < end; ++i)
        if (m_lines.at(i).kind == Kind::Entry && EqualsAsciiNoCase(m_lines.at(i).name, key))
            return i;
    return -1;
}

std::int32_t PrefsFile::ReadLong(const QString& key, std::int32_t defaultValue) const
{
    const qsizetype i = findEntry(key);
    if (i < 0)
        return defaultValue;
    const QString& value = m_lines.at(i).value;
    qsizetype pos = 0;
    while (pos < value.size() && IsBlank(value.at(pos)))
        ++pos;
    bool negative = false;
    if (pos < value.size() && (value.at(pos) == QLatin1Char('-') || value.at(pos) == QLatin1Char('+'))) {
        negative = value.at(pos) == QLatin1Char('-');
        ++pos;
    }
    std::int64_t number = 0;
    constexpr std::int64_t limit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    for (; pos < value.size() && value.at(pos) >= QLatin1Char('0') && value.at(pos) <= QLatin1Char('9'); ++pos)
        number = std::min(limit, number * 10 + (value.at(pos).unicode() - u'0'));
    if (negative)
        number = -number;
    return static_cast<std::int32_t>(std::min<std::int64_t>(number, std::numeric_limits<std::int32_t>::max()));
}

QString PrefsFile::ReadString(const QString& key, const QString& defaultValue) const
{
    const qsizetype i = findEntry(key);
    return i < 0 ? defaultValue : TrimBlanks(m_lines.at(i).value);
}

void PrefsFile::write(const QString& key, const QString& value)
{
    m_changed = true;
    if (m_pending) {
        Line group;
        group.kind = Kind::Group;
        group.name = m_pendingGroup;
        m_lines.append(group);
        m_group = m_lines.size() - 1;
        m_pending = false;
    }
    if (const qsizetype i = findEntry(key); i >= 0) {
        m_lines[i].value = value;
        return;
    }
    qsizetype first = 0;
    qsizetype end = 0;
    currentRange(first, end);
    Line entry;
    entry.kind = Kind::Entry;
    entry.name = key;
    entry.value = value;
    m_lines.insert(end, entry);
}

void PrefsFile::WriteLong(const QString& key, std::int32_t value)
{
    write(key, QString::number(value));
}

bool PrefsFile::WriteString(const QString& key, const QString& value)
{
    if (value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n')))
        return false;
    write(key, value);
    return true;
}

bool PrefsFile::Close()
{
    bool ok = true;
    if (m_open && m_changed)
        ok = !m_path.isEmpty() && WriteFileAtomically(m_path, Serialize(), nullptr, m_writer);
    reset();
    return ok;
}

} // namespace hexaloom
