#include "Lexer.h"

#include <utility>

#include <QSet>

namespace hexaloom::pbrun {

namespace {

// Words reserved by every version from 4.00 on. Keywords that came later (Module 5.20, Threaded 4.40,
// EnumerationBinary 5.40, ...) are names to the lexer; the checker refuses them where the version has them.
const QSet<QString>& ReservedWords()
{
    static const QSet<QString> words = [] {
        QSet<QString> set;
        for (const char* w : {"and",
                              "break",
                              "case",
                              "compilercase",
                              "compilerdefault",
                              "compilerelse",
                              "compilerelseif",
                              "compilerendif",
                              "compilerendselect",
                              "compilererror",
                              "compilerif",
                              "compilerselect",
                              "compilerwarning",
                              "continue",
                              "data",
                              "datasection",
                              "debug",
                              "debuglevel",
                              "declare",
                              "declarec",
                              "declarecdll",
                              "declaredll",
                              "default",
                              "define",
                              "dim",
                              "disableasm",
                              "disabledebugger",
                              "disableexplicit",
                              "else",
                              "elseif",
                              "enableasm",
                              "enabledebugger",
                              "enableexplicit",
                              "end",
                              "enddatasection",
                              "endenumeration",
                              "endif",
                              "endimport",
                              "endinterface",
                              "endmacro",
                              "endprocedure",
                              "endselect",
                              "endstructure",
                              "endstructureunion",
                              "endwith",
                              "enumeration",
                              "extends",
                              "fakereturn",
                              "for",
                              "foreach",
                              "forever",
                              "global",
                              "gosub",
                              "goto",
                              "if",
                              "import",
                              "importc",
                              "includebinary",
                              "includefile",
                              "includepath",
                              "interface",
                              "macro",
                              "newlist",
                              "next",
                              "not",
                              "or",
                              "procedure",
                              "procedurec",
                              "procedurecdll",
                              "proceduredll",
                              "procedurereturn",
                              "protected",
                              "prototype",
                              "prototypec",
                              "read",
                              "redim",
                              "repeat",
                              "restore",
                              "return",
                              "select",
                              "shared",
                              "static",
                              "step",
                              "structure",
                              "structureunion",
                              "to",
                              "until",
                              "wend",
                              "while",
                              "with",
                              "xincludefile",
                              "xor"})
            set.insert(QString::fromLatin1(w));
        return set;
    }();
    return words;
}

bool IsIdentStart(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

bool IsIdentChar(QChar c)
{
    return IsIdentStart(c) || (c >= u'0' && c <= u'9');
}

int HexDigit(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - '0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - 'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - 'A' + 10;
    return -1;
}

// After such a token a "*", "%" or "$" continues an expression (multiply, modulo) rather than
// starting an operand (pointer name, binary or hexadecimal number).
bool EndsOperand(const std::vector<Token>& tokens)
{
    if (tokens.empty())
        return false;
    const Token& t = tokens.back();
    switch (t.kind) {
    case Tok::Ident:
        // a type suffix ("Data.b $FF") ends no operand
        if (tokens.size() > 1 && tokens[tokens.size() - 2].kind == Tok::Dot && !t.spaceBefore)
            return false;
        return !ReservedWords().contains(t.text.toLower());
    case Tok::Const:
    case Tok::Ptr:
    case Tok::Int:
    case Tok::Float:
    case Tok::String:
    case Tok::RParen:
    case Tok::RBracket:
        return true;
    default:
        return false;
    }
}

} // namespace

bool IsReservedWord(const QString& word)
{
    return ReservedWords().contains(word.toLower());
}

std::vector<Token> Tokenize(const QString& source)
{
    std::vector<Token> out;
    const qsizetype n = source.size();
    qsizetype i = 0;
    int line = 1;
    bool space = false;
    bool joined = false;
    auto push = [&](Tok kind, QString text = {}) -> Token& {
        Token t;
        t.kind = kind;
        t.line = line;
        t.spaceBefore = space;
        t.continued = std::exchange(joined, false);
        t.text = std::move(text);
        out.push_back(std::move(t));
        space = false;
        return out.back();
    };
    auto error = [&](const QString& message) {
        push(Tok::Error, message);
        // the rest of the line cannot be trusted
        while (i < n && source[i] != u'\n')
            ++i;
    };
    if (n > 0 && source[0] == QChar(0xFEFF))
        i = 1;
    while (i < n) {
        const QChar c = source[i];
        if (c == u' ' || c == u'\t' || c == u'\r') {
            space = true;
            ++i;
            continue;
        }
        if (c == u'\n') {
            // 5.10: "Line continuation feature, with the following operands: ',' '|' '+' And Or XOr"
            const Token* last = out.empty() ? nullptr : &out.back();
            const bool continues =
                last && (last->kind == Tok::Comma || last->kind == Tok::Pipe || last->kind == Tok::Plus ||
                         (last->kind == Tok::Ident && (last->text.compare(u"And", Qt::CaseInsensitive) == 0 ||
                                                       last->text.compare(u"Or", Qt::CaseInsensitive) == 0 ||
                                                       last->text.compare(u"XOr", Qt::CaseInsensitive) == 0)));
            if (continues)
                joined = true;
            else
                push(Tok::Newline);
            ++line;
            ++i;
            continue;
        }
        if (c == u';') {
            while (i < n && source[i] != u'\n')
                ++i;
            continue;
        }
        if (IsIdentStart(c)) {
            const qsizetype start = i;
            while (i < n && IsIdentChar(source[i]))
                ++i;
            if (i < n && source[i] == u'$')
                ++i;
            push(Tok::Ident, source.mid(start, i - start));
            continue;
        }
        if (c.isDigit() && c.unicode() < 128) {
            const qsizetype start = i;
            while (i < n && source[i].isDigit() && source[i].unicode() < 128)
                ++i;
            bool isFloat = false;
            if (i + 1 < n && source[i] == u'.' && source[i + 1].isDigit()) {
                isFloat = true;
                ++i;
                while (i < n && source[i].isDigit())
                    ++i;
            }
            if (i < n && (source[i] == u'e' || source[i] == u'E')) {
                qsizetype j = i + 1;
                if (j < n && (source[j] == u'+' || source[j] == u'-'))
                    ++j;
                if (j < n && source[j].isDigit()) {
                    isFloat = true;
                    i = j;
                    while (i < n && source[i].isDigit())
                        ++i;
                }
            }
            const QString text = source.mid(start, i - start);
            if (isFloat) {
                push(Tok::Float, text).floatValue = text.toDouble();
            } else {
                bool ok = false;
                const qlonglong v = text.toLongLong(&ok);
                if (!ok)
                    error(QStringLiteral("Numeric constant too big: %1").arg(text));
                else
                    push(Tok::Int, text).intValue = v;
            }
            continue;
        }
        if (c == u'$' && !EndsOperand(out)) {
            qsizetype j = i + 1;
            std::uint64_t v = 0;
            int digits = 0;
            while (j < n && HexDigit(source[j]) >= 0) {
                v = (v << 4) | std::uint64_t(HexDigit(source[j]));
                ++digits;
                ++j;
            }
            if (digits == 0 || digits > 16) {
                i = j;
                error(digits == 0 ? QStringLiteral("Syntax error: $ without hexadecimal digits")
                                  : QStringLiteral("Numeric constant too big"));
                continue;
            }
            push(Tok::Int, source.mid(i, j - i)).intValue = std::int64_t(v);
            i = j;
            continue;
        }
        if (c == u'%' && !EndsOperand(out) && i + 1 < n && (source[i + 1] == u'0' || source[i + 1] == u'1')) {
            qsizetype j = i + 1;
            std::uint64_t v = 0;
            int digits = 0;
            while (j < n && (source[j] == u'0' || source[j] == u'1')) {
                v = (v << 1) | std::uint64_t(source[j] == u'1');
                ++digits;
                ++j;
            }
            if (digits > 64) {
                i = j;
                error(QStringLiteral("Numeric constant too big"));
                continue;
            }
            push(Tok::Int, source.mid(i, j - i)).intValue = std::int64_t(v);
            i = j;
            continue;
        }
        if (c == u'"') {
            const qsizetype start = i + 1;
            qsizetype j = start;
            while (j < n && source[j] != u'"' && source[j] != u'\n')
                ++j;
            if (j >= n || source[j] != u'"') {
                i = j;
                error(QStringLiteral("Syntax error: string without its closing quote"));
                continue;
            }
            push(Tok::String, source.mid(start, j - start));
            i = j + 1;
            continue;
        }
        if (c == u'\'') {
            const qsizetype j = source.indexOf(u'\'', i + 1);
            if (j < 0 || j - i != 2 || source.mid(i + 1, 1).contains(u'\n')) {
                error(QStringLiteral("pbrun does not support character constants of other than one character"));
                continue;
            }
            push(Tok::Int, source.mid(i, 3)).intValue = source[i + 1].unicode();
            i = j + 1;
            continue;
        }
        if (c == u'~' && i + 1 < n && source[i + 1] == u'"') {
            error(QStringLiteral("pbrun does not support escaped strings (~\"...\")"));
            continue;
        }
        if (c == u'#' && i + 1 < n && IsIdentStart(source[i + 1])) {
            qsizetype j = i + 1;
            while (j < n && IsIdentChar(source[j]))
                ++j;
            if (j < n && source[j] == u'$')
                ++j;
            push(Tok::Const, source.mid(i + 1, j - i - 1));
            i = j;
            continue;
        }
        if (c == u'*' && i + 1 < n && IsIdentStart(source[i + 1]) && !EndsOperand(out)) {
            qsizetype j = i + 1;
            while (j < n && IsIdentChar(source[j]))
                ++j;
            push(Tok::Ptr, source.mid(i, j - i));
            i = j;
            continue;
        }
        const QChar next = i + 1 < n ? source[i + 1] : QChar();
        auto two = [&](Tok kind) {
            push(kind, source.mid(i, 2));
            i += 2;
        };
        auto one = [&](Tok kind) {
            push(kind, source.mid(i, 1));
            i += 1;
        };
        switch (c.unicode()) {
        case ':':
            if (i + 1 < n && source[i + 1] == u':') // Module::Name, 5.20's modules
                error(QStringLiteral("pbrun does not support modules (::)"));
            else
                one(Tok::Colon);
            break;
        case '(':
            one(Tok::LParen);
            break;
        case ')':
            one(Tok::RParen);
            break;
        case '[':
            one(Tok::LBracket);
            break;
        case ']':
            one(Tok::RBracket);
            break;
        case ',':
            one(Tok::Comma);
            break;
        case '.':
            one(Tok::Dot);
            break;
        case '\\':
            one(Tok::Backslash);
            break;
        case '@':
            one(Tok::At);
            break;
        case '?':
            one(Tok::Question);
            break;
        case '+':
            one(Tok::Plus);
            break;
        case '-':
            one(Tok::Minus);
            break;
        case '*':
            one(Tok::Star);
            break;
        case '/':
            one(Tok::Slash);
            break;
        case '%':
            one(Tok::Percent);
            break;
        case '&':
            one(Tok::Amp);
            break;
        case '|':
            one(Tok::Pipe);
            break;
        case '!':
            one(Tok::Bang);
            break;
        case '~':
            one(Tok::Tilde);
            break;
        case '=':
            if (next == u'<')
                two(Tok::Le);
            else if (next == u'>')
                two(Tok::Ge);
            else
                one(Tok::Eq);
            break;
        case '<':
            if (next == u'<')
                two(Tok::Shl);
            else if (next == u'>')
                two(Tok::Ne);
            else if (next == u'=')
                two(Tok::Le);
            else
                one(Tok::Lt);
            break;
        case '>':
            if (next == u'>')
                two(Tok::Shr);
            else if (next == u'=')
                two(Tok::Ge);
            else
                one(Tok::Gt);
            break;
        case '{':
            // fixed-length strings (.s{10}) and Align in structures
            error(QStringLiteral("pbrun does not support '{' (fixed-length strings)"));
            break;
        case 0xA0:
            // a no-break space: whether PureBasic takes it as a blank is not documented
            error(QStringLiteral("pbrun does not support the no-break space outside strings"));
            break;
        default:
            error(QStringLiteral("Syntax error: unexpected character '%1'").arg(c));
            break;
        }
    }
    push(Tok::Newline);
    push(Tok::EndOfFile);
    return out;
}

} // namespace hexaloom::pbrun
