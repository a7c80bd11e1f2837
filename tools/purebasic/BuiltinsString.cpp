// The String and FileSystem path functions. Where the manual leaves an edge open (a start before the
// first character, an empty delimiter, overlapping matches) pbrun refuses instead of picking an answer.
#include "Builtins.h"

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

Value Bi_StrU(Runtime& rt, std::vector<Value>& a)
{
    if (a.size() > 1)
        rt.Fail(QStringLiteral("pbrun does not support StrU()'s Type parameter"));
    return Text(QString::number(std::uint64_t(a[0].i)));
}

Value Bi_StrD(Runtime& rt, std::vector<Value>& a)
{
    if (a.size() < 2)
        rt.Fail(QStringLiteral("pbrun does not support StrD() without NbDecimal: the default precision is not "
                               "documented"));
    NotNegative(rt, a[1].i, "StrD", "number of decimals");
    return Text(QString::number(a[0].d, 'f', int(std::min<std::int64_t>(a[1].i, 30))));
}

Value Bi_Hex(Runtime& rt, std::vector<Value>& a)
{
    // Before 4.30 Hex() took a long (the quad form was HexQ()).
    const std::uint64_t v =
        rt.target.version < Since::IntegerType ? std::uint64_t(std::uint32_t(a[0].i)) : std::uint64_t(a[0].i);
    return Text(QString::number(v, 16).toUpper());
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

Value Bi_Trim(Runtime&, std::vector<Value>& a)
{
    const QString& s = a[0].s;
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && s[from] == u' ')
        ++from;
    while (to > from && s[to - 1] == u' ')
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
    return Text(QString(a[0].s).replace(a[1].s, a[2].s));
}

Value Bi_Chr(Runtime& rt, std::vector<Value>& a)
{
    const std::int64_t max = rt.target.unicode ? 0xFFFF : 0xFF; // ASCII mode: the byte
    if (a[0].i < 1 || a[0].i > max)
        rt.Fail(QStringLiteral("pbrun does not support Chr(%1) here").arg(a[0].i));
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
