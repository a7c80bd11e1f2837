// The String and FileSystem path functions. Where the manual leaves an edge open (a start before the
// first character, an empty delimiter, overlapping matches) pbrun refuses instead of picking an answer.
#include "Builtins.h"

#include <algorithm>

namespace hexaloom::pbrun {

namespace {

void NotNegative(Runtime& rt, std::int64_t v, const char* function, const char* what)
{
    if (v < 0)
        rt.Fail(QStringLiteral("pbrun does not support %1() with a negative %2: the manual does not say what it gives")
                    .arg(QLatin1String(function), QLatin1String(what)));
}

bool IsSeparator(const Runtime& rt, QChar c)
{
    return c == u'/' || (rt.target.os == Os::Windows && c == u'\\');
}

qsizetype LastSeparator(const Runtime& rt, const QString& path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i)
        if (IsSeparator(rt, path[i]))
            return i;
    return -1;
}

// Letter case, character by character (the manual: "a lower 'é' is found, it will be transformed into 'É'").
QString MapCase(const QString& s, bool upper)
{
    QString out = s;
    for (QChar& c : out)
        c = upper ? c.toUpper() : c.toLower();
    return out;
}

} // namespace

Value Bi_Str(Runtime&, std::vector<Value>& a)
{
    return Text(QString::number(a[0].i));
}

// The value as the unsigned Type of Hex() and StrU(): #PB_Byte and #PB_Ascii 0 to 255, #PB_Word and
// #PB_Unicode 0 to 65535, #PB_Long 0 to 4294967295, #PB_Quad (the default) the whole quad.
std::uint64_t AsUnsignedType(Runtime& rt, std::vector<Value>& a, const char* function)
{
    const std::uint64_t v = std::uint64_t(a[0].i);
    switch (a.size() > 1 ? a[1].i : 13) {
    case 1:
    case 24:
        return v & 0xFF;
    case 3:
    case 25:
        return v & 0xFFFF;
    case 5:
        return v & 0xFFFFFFFF;
    case 13:
        return v;
    default:
        rt.Fail(QStringLiteral("pbrun does not know %1() with the Type %2: the manual lists #PB_Byte, #PB_Ascii, "
                               "#PB_Word, #PB_Unicode, #PB_Long and #PB_Quad")
                    .arg(QLatin1String(function))
                    .arg(a[1].i));
    }
}

Value Bi_StrU(Runtime& rt, std::vector<Value>& a)
{
    return Text(QString::number(AsUnsignedType(rt, a, "StrU")));
}

Value Bi_StrD(Runtime& rt, std::vector<Value>& a)
{
    if (a.size() > 1) {
        NotNegative(rt, a[1].i, "StrD", "number of decimals");
        return Text(QString::number(a[0].d, 'f', int(std::min<std::int64_t>(a[1].i, 30))));
    }
    // 5.10: "StrF/D(), trailing zeros are now automatically removed if no decimals are specified"; the manual:
    // "it will be set to 10 decimal places, with removing the trailing zeros". What came before, and whether
    // the point goes when every decimal does, neither says.
    if (rt.target.version < Since::StrDTrimsZeros)
        rt.Fail(QStringLiteral("pbrun does not know what StrD() without NbDecimal gives before 5.10"));
    QString text = QString::number(a[0].d, 'f', 10);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        rt.Fail(QStringLiteral("pbrun does not know whether StrD(%1) keeps its point: the manual does not say")
                    .arg(text.chopped(1)));
    return Text(text);
}

Value Bi_Hex(Runtime& rt, std::vector<Value>& a)
{
    // Before 4.30 Hex() took a long (the quad form was HexQ()).
    if (rt.target.version < Since::IntegerType)
        a[0].i = std::int64_t(std::uint32_t(a[0].i));
    return Text(QString::number(AsUnsignedType(rt, a, "Hex"), 16).toUpper());
}

Value Bi_Val(Runtime& rt, std::vector<Value>& a)
{
    const QString& s = a[0].s;
    qsizetype i = 0;
    if (!s.isEmpty() && s[0].isSpace())
        rt.Fail(QStringLiteral("pbrun does not support Val() of text starting with a blank: not documented"));
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) {
        negative = s[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && (s[i] == u'$' || s[i] == u'%')) {
        if (rt.target.version < Since::HexVal)
            rt.Fail(QStringLiteral("pbrun does not support Val() of hexadecimal or binary text before 4.20"));
        base = s[i] == u'$' ? 16 : 2;
        ++i;
    }
    std::uint64_t v = 0;
    for (; i < s.size(); ++i) {
        const int digit = s[i].isDigit() && s[i].unicode() < 128 ? s[i].unicode() - '0'
                          : base == 16 && s[i].toLower() >= u'a' && s[i].toLower() <= u'f'
                              ? s[i].toLower().unicode() - 'a' + 10
                              : 99;
        if (digit >= base)
            break; // "The number parsing stops at the first non numeric character."
        if (v > (UINT64_MAX - std::uint64_t(digit)) / std::uint64_t(base))
            rt.Fail(QStringLiteral("pbrun does not support Val() of a number beyond the quad range"));
        v = v * std::uint64_t(base) + std::uint64_t(digit);
        if (base == 10 && v > std::uint64_t(INT64_MAX) + (negative ? 1 : 0))
            rt.Fail(QStringLiteral("pbrun does not support Val() of a number beyond the quad range"));
    }
    return Int(negative ? std::int64_t(0 - v) : std::int64_t(v));
}

Value Bi_Len(Runtime&, std::vector<Value>& a)
{
    return Int(a[0].s.size());
}

Value Bi_Mid(Runtime& rt, std::vector<Value>& a)
{
    if (a[1].i < 1)
        rt.Fail(QStringLiteral("pbrun does not support Mid() from position %1: the first character is 1").arg(a[1].i));
    const qsizetype start = qsizetype(std::min<std::int64_t>(a[1].i - 1, a[0].s.size()));
    if (a.size() > 2) {
        NotNegative(rt, a[2].i, "Mid", "length");
        return Text(a[0].s.mid(start, qsizetype(std::min<std::int64_t>(a[2].i, a[0].s.size()))));
    }
    return Text(a[0].s.mid(start));
}

Value Bi_Left(Runtime& rt, std::vector<Value>& a)
{
    NotNegative(rt, a[1].i, "Left", "length");
    return Text(a[0].s.left(qsizetype(std::min<std::int64_t>(a[1].i, a[0].s.size()))));
}

Value Bi_Right(Runtime& rt, std::vector<Value>& a)
{
    NotNegative(rt, a[1].i, "Right", "length");
    return Text(a[0].s.right(qsizetype(std::min<std::int64_t>(a[1].i, a[0].s.size()))));
}

Value Bi_UCase(Runtime& rt, std::vector<Value>& a)
{
    if (rt.target.unicode)
        return Text(MapCase(a[0].s, true));
    return Text(TextToBytes(rt, MapCase(BytesToText(rt, a[0].s, "UCase"), true), "UCase"));
}

Value Bi_LCase(Runtime& rt, std::vector<Value>& a)
{
    if (rt.target.unicode)
        return Text(MapCase(a[0].s, false));
    return Text(TextToBytes(rt, MapCase(BytesToText(rt, a[0].s, "LCase"), false), "LCase"));
}

Value Bi_Trim(Runtime& rt, std::vector<Value>& a)
{
    const QString& s = a[0].s;
    // the manual: "'Character$' has to be a one character length string"
    if (a.size() > 1 && a[1].s.size() != 1)
        rt.Fail(QStringLiteral("pbrun does not know what Trim() does with a Character$ of %1 characters: the manual "
                               "asks for one")
                    .arg(a[1].s.size()));
    const QChar c = a.size() > 1 ? a[1].s[0] : QChar(u' ');
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && s[from] == c)
        ++from;
    while (to > from && s[to - 1] == c)
        --to;
    return Text(s.mid(from, to - from));
}

Value Bi_StringField(Runtime& rt, std::vector<Value>& a)
{
    const QString& delimiter = a[2].s;
    if (delimiter.isEmpty())
        rt.Fail(QStringLiteral("pbrun does not support StringField() with an empty delimiter"));
    if (delimiter.size() > 1 && rt.target.version < Since::MultiCharStringField)
        rt.Fail(QStringLiteral("pbrun does not support StringField() with a delimiter of several characters before "
                               "5.10: what it did with them is not documented"));
    if (a[1].i < 1)
        return Text({});
    const QStringList fields = a[0].s.split(delimiter);
    return Text(a[1].i <= fields.size() ? fields[qsizetype(a[1].i - 1)] : QString());
}

Value Bi_CountString(Runtime& rt, std::vector<Value>& a)
{
    const QString& s = a[0].s;
    const QString& sub = a[1].s;
    if (sub.isEmpty())
        rt.Fail(QStringLiteral("pbrun does not support CountString() of an empty text"));
    qsizetype apart = 0;
    qsizetype overlapping = 0;
    for (qsizetype i = s.indexOf(sub); i >= 0; i = s.indexOf(sub, i + sub.size()))
        ++apart;
    for (qsizetype i = s.indexOf(sub); i >= 0; i = s.indexOf(sub, i + 1))
        ++overlapping;
    if (apart != overlapping)
        rt.Fail(QStringLiteral("pbrun does not support CountString() where matches overlap: whether they count is not "
                               "documented"));
    return Int(apart);
}

Value Bi_ReplaceString(Runtime& rt, std::vector<Value>& a)
{
    if (a[1].s.isEmpty())
        rt.Fail(QStringLiteral("pbrun does not support ReplaceString() of an empty text"));
    const std::int64_t mode = a.size() > 3 ? a[3].i : 0;
    if (mode != 0 && mode != 1) // #PB_String_CaseSensitive, #PB_String_NoCase
        rt.Fail(QStringLiteral("pbrun does not know ReplaceString() with the Mode %1").arg(mode));
    const Qt::CaseSensitivity cs = mode == 1 ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const auto beyondAscii = [](const QString& t) {
        return std::any_of(t.begin(), t.end(), [](QChar c) { return c.unicode() > 127; });
    };
    if (mode == 1 && (beyondAscii(a[0].s) || beyondAscii(a[1].s)))
        rt.Fail(QStringLiteral("pbrun does not know how ReplaceString() matches letters beyond ASCII without case"));
    const std::int64_t start = a.size() > 4 ? a[4].i : 1;
    if (start < 1)
        rt.Fail(QStringLiteral("pbrun does not know ReplaceString() from position %1: the first character is 1")
                    .arg(start));
    std::int64_t left = a.size() > 5 ? a[5].i : -1;
    if (a.size() > 5 && left < 1)
        rt.Fail(QStringLiteral("pbrun does not know ReplaceString() with %1 occurrences").arg(left));
    QString out = a[0].s;
    qsizetype at = qsizetype(std::min<std::int64_t>(start - 1, out.size()));
    while (left != 0 && (at = out.indexOf(a[1].s, at, cs)) >= 0) {
        out.replace(at, a[1].s.size(), a[2].s);
        at += a[2].s.size();
        if (left > 0)
            --left;
    }
    return Text(out);
}

Value Bi_Chr(Runtime& rt, std::vector<Value>& a)
{
    const std::int64_t v = a[0].i;
    // The manual since September 2023 (6.03): "between 0 and $D7FF or between $E000 and $FFFF. The range
    // between $D800 and $DFFF is reserved for surrogate characters ... If the value is invalid, it will
    // returns an empty string."
    if (rt.target.unicode && (v < 0 || (v >= 0xD800 && v <= 0xDFFF) || v > 0xFFFF)) {
        if (rt.target.version >= Since::ChrInvalidEmpty)
            return Text({});
        rt.Fail(QStringLiteral("pbrun does not know what Chr(%1) gives before 6.03: the manual says so from then on")
                    .arg(v));
    }
    const std::int64_t max = rt.target.unicode ? 0xFFFF : 0xFF; // ASCII mode: the byte
    if (v < 1 || v > max)
        rt.Fail(QStringLiteral("pbrun does not support Chr(%1) here").arg(v));
    return Text(QString(QChar(char16_t(a[0].i))));
}

Value Bi_Asc(Runtime&, std::vector<Value>& a)
{
    return Int(a[0].s.isEmpty() ? 0 : a[0].s[0].unicode());
}

Value Bi_Space(Runtime& rt, std::vector<Value>& a)
{
    NotNegative(rt, a[0].i, "Space", "length");
    if (a[0].i > (1 << 26))
        rt.Fail(QStringLiteral("Space(%1): not enough memory").arg(a[0].i));
    return Text(QString(qsizetype(a[0].i), u' '));
}

Value Bi_GetFilePart(Runtime& rt, std::vector<Value>& a)
{
    return Text(a[0].s.mid(LastSeparator(rt, a[0].s) + 1));
}

Value Bi_GetPathPart(Runtime& rt, std::vector<Value>& a)
{
    return Text(a[0].s.left(LastSeparator(rt, a[0].s) + 1));
}

Value Bi_GetExtensionPart(Runtime& rt, std::vector<Value>& a)
{
    const QString file = a[0].s.mid(LastSeparator(rt, a[0].s) + 1);
    const qsizetype dot = file.lastIndexOf(u'.');
    return Text(dot < 0 ? QString() : file.mid(dot + 1));
}

} // namespace hexaloom::pbrun

namespace hexaloom::pbrun {

// The bytes the string takes in a format, without its zero ("The number of bytes returned does not
// include the terminating Null-Character"). The program's own mode when no format is given.
Value Bi_StringByteLength(Runtime& rt, std::vector<Value>& a)
{
    constexpr std::int64_t utf8 = 2, ascii = 24, unicode = 25;
    const std::int64_t format = a.size() > 1 ? a[1].i : (rt.target.unicode ? unicode : ascii);
    const QString& text = a[0].s;
    if (format != ascii && format != utf8 && format != unicode)
        rt.Fail(QStringLiteral("pbrun does not support StringByteLength() with the format %1").arg(format));
    const QString chars = ProgramText(rt, text, "StringByteLength");
    if (format == utf8)
        return Int(chars.toUtf8().size());
    if (format == unicode)
        return Int(2 * chars.size());
    return Int(rt.target.unicode ? TextToBytes(rt, chars, "StringByteLength").size() : text.size());
}

} // namespace hexaloom::pbrun
