#include "RtfReader.h"

#include <QStringDecoder>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <algorithm>
#include <vector>

namespace hexaloom {

namespace {

// Windows-1252, the code page of nearly every RTF text; 0x80..0x9F differ from Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString DecodeCp1252(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        text.append(QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b)));
    }
    return text;
}

// Destinations whose text is not part of what the document shows.
bool SkippedDestination(QByteArrayView word)
{
    static const char* const names[] = {
        "fonttbl",
        "colortbl",
        "stylesheet",
        "info",
        "pict",
        "object",
        "header",
        "headerl",
        "headerr",
        "headerf",
        "footer",
        "footerl",
        "footerr",
        "footerf",
        "fldinst",
        "listtable",
        "listoverridetable",
        "rsidtbl",
        "generator",
        "xmlnstbl",
        "themedata",
        "datastore",
        "latentstyles",
        "colorschememapping",
        "filetbl",
        "revtbl",
        "bkmkstart",
        "bkmkend",
        "footnote",
        "private",
    };
    for (const char* name : names)
        if (word == QByteArrayView(name))
            return true;
    return false;
}

struct GroupState
{
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool skip = false; // inside a destination that is not shown
    int ucSkip = 1;    // characters after \uN that stand in for readers without Unicode
};

class Reader
{
public:
    explicit Reader(QByteArrayView data) : m_data(data) {}

    QList<RtfParagraph> read()
    {
        m_stack.push_back(GroupState{});
        while (m_at < m_data.size()) {
            const char c = m_data[m_at++];
            if (c == '{') {
                flushBytes();
                m_stack.push_back(state());
                m_pendingSkip = 0;
            } else if (c == '}') {
                flushBytes();
                if (m_stack.size() > 1)
                    m_stack.pop_back();
                m_pendingSkip = 0;
            } else if (c == '\\') {
                control();
            } else if (c != '\r' && c != '\n') {
                byte(c);
            }
        }
        flushBytes();
        return finish();
    }

private:
    GroupState& state() { return m_stack.back(); }

    // One byte of text in the document's code page; \'xx comes here too.
    void byte(char c)
    {
        if (consumeSkip() || state().skip)
            return;
        m_bytes.append(c);
    }

    bool consumeSkip()
    {
        if (m_pendingSkip <= 0)
            return false;
        --m_pendingSkip;
        return true;
    }

    void control()
    {
        if (m_at >= m_data.size())
            return;
        const char c = m_data[m_at];
        if (!IsLetter(c)) {
            ++m_at;
            symbol(c);
            return;
        }
        const qsizetype start = m_at;
        while (m_at < m_data.size() && IsLetter(m_data[m_at]) && m_at - start < 32)
            ++m_at;
        const QByteArrayView word = m_data.sliced(start, m_at - start);
        bool hasParam = false;
        bool negative = false;
        long long param = 0;
        if (m_at < m_data.size() && m_data[m_at] == '-' && m_at + 1 < m_data.size() && IsDigit(m_data[m_at + 1])) {
            negative = true;
            ++m_at;
        }
        for (int digits = 0; m_at < m_data.size() && IsDigit(m_data[m_at]); ++m_at, ++digits) {
            hasParam = true;
            if (digits < 10)
                param = param * 10 + (m_data[m_at] - '0');
        }
        if (negative)
            param = -param;
        if (m_at < m_data.size() && m_data[m_at] == ' ')
            ++m_at;
        if (word == "bin") {
            // Binary data follows, to be skipped whatever it holds.
            m_at += std::min<qsizetype>(hasParam && param > 0 ? param : 0, m_data.size() - m_at);
            return;
        }
        if (word == "u" && hasParam) {
            flushBytes();
            const auto unit = static_cast<char16_t>(param < 0 ? param + 65536 : param);
            if (!state().skip && unit != 0)
                appendText(QChar(unit));
            m_pendingSkip = state().ucSkip;
            return;
        }
        if (consumeSkip())
            return;
        applyWord(word, hasParam, static_cast<int>(std::clamp<long long>(param, -65536, 65536)));
    }

    void applyWord(QByteArrayView word, bool hasParam, int param)
    {
        GroupState& s = state();
        const bool on = !hasParam || param != 0;
        if (SkippedDestination(word)) {
            s.skip = true;
        } else if (word == "uc") {
            s.ucSkip = std::max(0, param);
        } else if (word == "ansicpg") {
            flushBytes();
            setCodePage(param);
        } else if (word == "b") {
            setFormat(&GroupState::bold, on);
        } else if (word == "i") {
            setFormat(&GroupState::italic, on);
        } else if (word == "ul" || word == "uld" || word == "uldb" || word == "ulw" || word == "uldash" ||
                   word == "ulth" || word == "ulwave") {
            setFormat(&GroupState::underline, on);
        } else if (word == "ulnone") {
            setFormat(&GroupState::underline, false);
        } else if (word == "plain") {
            setFormat(&GroupState::bold, false);
            setFormat(&GroupState::italic, false);
            setFormat(&GroupState::underline, false);
        } else if (word == "par" || word == "sect" || word == "page") {
            paragraph();
        } else if (word == "line") {
            special(u'\n');
        } else if (word == "tab") {
            special(u'\t');
        } else if (word == "emdash") {
            special(u'\u2014');
        } else if (word == "endash") {
            special(u'\u2013');
        } else if (word == "bullet") {
            special(u'\u2022');
        } else if (word == "lquote") {
            special(u'\u2018');
        } else if (word == "rquote") {
            special(u'\u2019');
        } else if (word == "ldblquote") {
            special(u'\u201C');
        } else if (word == "rdblquote") {
            special(u'\u201D');
        }
    }

    void symbol(char c)
    {
        if (c == '\'') {
            // Two hex digits; an escape cut short is dropped with the digits it has.
            int value = 0;
            for (int digit = 0; digit < 2; ++digit) {
                const int nibble = m_at < m_data.size() ? HexValue(m_data[m_at]) : -1;
                if (nibble < 0)
                    return;
                value = value * 16 + nibble;
                ++m_at;
            }
            byte(static_cast<char>(value));
            return;
        }
        if (c == '\\' || c == '{' || c == '}') {
            byte(c);
            return;
        }
        if (consumeSkip())
            return;
        if (c == '*')
            state().skip = true;
        else if (c == '~')
            special(u'\u00A0');
        else if (c == '_')
            special(u'\u2011');
        else if (c == '\r' || c == '\n')
            paragraph();
    }

    void setFormat(bool GroupState::*field, bool on)
    {
        flushBytes();
        state().*field = on;
    }

    void special(char16_t c)
    {
        flushBytes();
        if (!state().skip)
            appendText(QChar(c));
    }

    void paragraph()
    {
        flushBytes();
        if (state().skip)
            return;
        m_paragraphs.append(m_current);
        m_current.clear();
    }

    void setCodePage(int codePage)
    {
        m_decoder = QStringDecoder();
        m_codePage = codePage;
        if (codePage != 1252 && codePage > 0)
            m_decoder = QStringDecoder(QByteArray("windows-") + QByteArray::number(codePage));
    }

    void flushBytes()
    {
        if (m_bytes.isEmpty())
            return;
        QString text;
#ifdef Q_OS_WIN
        // Qt for Windows converts no code pages of its own (no ICU); the system knows them all.
        if (!m_decoder.isValid() && m_codePage != 1252 && m_codePage > 0) {
            const int size = static_cast<int>(m_bytes.size());
            const int n = MultiByteToWideChar(UINT(m_codePage), 0, m_bytes.constData(), size, nullptr, 0);
            if (n > 0) {
                text.resize(n);
                MultiByteToWideChar(UINT(m_codePage), 0, m_bytes.constData(), size,
                                    reinterpret_cast<wchar_t*>(text.data()), n);
            }
        }
        if (text.isEmpty())
#endif
            text = m_decoder.isValid() ? m_decoder.decode(m_bytes) : DecodeCp1252(m_bytes);
        m_bytes.clear();
        appendText(text);
    }

    void appendText(const QString& text)
    {
        if (text.isEmpty())
            return;
        const GroupState& s = state();
        RtfRun run{text, s.bold, s.italic, s.underline};
        if (!m_current.isEmpty() && m_current.last().sameFormat(run))
            m_current.last().text += text;
        else
            m_current.append(run);
    }

    QList<RtfParagraph> finish()
    {
        m_paragraphs.append(m_current);
        while (!m_paragraphs.isEmpty() && m_paragraphs.last().isEmpty())
            m_paragraphs.removeLast();
        return m_paragraphs;
    }

    static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static int HexValue(char c)
    {
        if (IsDigit(c))
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    QByteArrayView m_data;
    qsizetype m_at = 0;
    std::vector<GroupState> m_stack;
    int m_pendingSkip = 0;
    QByteArray m_bytes;       // text bytes not yet decoded, so multi-byte code pages decode whole characters
    QStringDecoder m_decoder; // invalid: Windows-1252
    int m_codePage = 1252;
    RtfParagraph m_current;
    QList<RtfParagraph> m_paragraphs;
};

QList<RtfParagraph> ReadPlain(QByteArrayView data)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(data);
    if (utf8.hasError())
        text = DecodeCp1252(data);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QList<RtfParagraph> paragraphs;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        RtfParagraph paragraph;
        if (!line.isEmpty())
            paragraph.append(RtfRun{line});
        paragraphs.append(paragraph);
    }
    while (!paragraphs.isEmpty() && paragraphs.last().isEmpty())
        paragraphs.removeLast();
    return paragraphs;
}

} // namespace

QList<RtfParagraph> ReadRtf(QByteArrayView data)
{
    const qsizetype end = data.indexOf('\0');
    if (end >= 0)
        data = data.first(end);
    qsizetype start = 0;
    while (start < data.size() &&
           (data[start] == ' ' || data[start] == '\t' || data[start] == '\r' || data[start] == '\n'))
        ++start;
    if (data.sliced(start).startsWith("{\\rtf"))
        return Reader(data.sliced(start)).read();
    return ReadPlain(data);
}

QString RtfToHtml(QByteArrayView data)
{
    // pre-wrap keeps runs of blanks and tabs as the text has them, and still wraps long lines.
    QString html = QStringLiteral("<div style=\"white-space: pre-wrap\">");
    for (const RtfParagraph& paragraph : ReadRtf(data)) {
        html += QStringLiteral("<p style=\"margin: 0\">");
        if (paragraph.isEmpty())
            html += QStringLiteral("&nbsp;");
        for (const RtfRun& run : paragraph) {
            QString text = run.text.toHtmlEscaped();
            text.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
            if (run.underline)
                text = QStringLiteral("<u>") + text + QStringLiteral("</u>");
            if (run.italic)
                text = QStringLiteral("<i>") + text + QStringLiteral("</i>");
            if (run.bold)
                text = QStringLiteral("<b>") + text + QStringLiteral("</b>");
            html += text;
        }
        html += QStringLiteral("</p>");
    }
    return html + QStringLiteral("</div>");
}

} // namespace hexaloom
