#include "PureBasicCheck.h"

#include "Lexer.h"
#include "Parser.h"

#include <QStringDecoder>

namespace hexaloom::test {

namespace {

using pbrun::Tok;

// The expressions directly below `e`, and every expression of a statement (not of its body).
template <typename F> void EachExpr(const pbrun::Expr& e, const F& visit)
{
    visit(e);
    for (const pbrun::ExprPtr& a : e.args) {
        if (a)
            EachExpr(*a, visit);
    }
}

template <typename F> void EachExpr(const pbrun::Stmt& s, const F& visit)
{
    const auto one = [&](const pbrun::ExprPtr& e) {
        if (e)
            EachExpr(*e, visit);
    };
    for (const pbrun::ExprPtr& e : s.exprs)
        one(e);
    for (const pbrun::Param& p : s.params)
        one(p.defaultValue);
    for (const pbrun::VarItem& v : s.vars) {
        one(v.target);
        one(v.init);
        for (const pbrun::ExprPtr& d : v.dimensions)
            one(d);
    }
    for (const pbrun::Branch& b : s.branches) {
        one(b.condition);
        for (const pbrun::ExprPtr& v : b.values)
            one(v);
        for (const pbrun::ExprPtr& v : b.rangeEnds)
            one(v);
    }
}

} // namespace

PureBasicCheck::PureBasicCheck(const QByteArray& source, Bom bom)
{
    checkBytes(source, bom);
    QByteArray body = source;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    parse(QString::fromUtf8(body));
}

void PureBasicCheck::problem(int line, const QString& text)
{
    m_problems << QStringLiteral("line %1: %2").arg(line).arg(text);
}

void PureBasicCheck::checkBytes(const QByteArray& source, Bom bom)
{
    const bool hasBom = source.startsWith("\xEF\xBB\xBF");
    if (bom == Bom::Required && !hasBom)
        problem(1, QStringLiteral("no UTF-8 byte-order mark"));
    if (bom == Bom::Forbidden && hasBom)
        problem(1, QStringLiteral("unexpected UTF-8 byte-order mark"));

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(source);
    if (decoder.hasError())
        problem(1, QStringLiteral("not valid UTF-8"));

    // Line ends: CR LF only. A handful of reports per kind is enough to find the fault.
    int line = 1;
    int loneLf = 0;
    int loneCr = 0;
    for (qsizetype i = 0; i < source.size(); ++i) {
        const char c = source[i];
        if (c == '\r') {
            if (i + 1 < source.size() && source[i + 1] == '\n') {
                ++i;
            } else if (++loneCr <= 5) {
                problem(line, QStringLiteral("line ends with a lone CR"));
            }
            ++line;
        } else if (c == '\n') {
            if (++loneLf <= 5)
                problem(line, QStringLiteral("line ends with a lone LF"));
            ++line;
        }
    }
    const qsizetype start = hasBom ? 3 : 0;
    if (source.size() > start && !source.endsWith('\n') && !source.endsWith('\r'))
        problem(line, QStringLiteral("no line end after the last line"));
}

void PureBasicCheck::parse(const QString& text)
{
    // pbrun counts a lone CR as no line end; the byte check has reported it already.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    const std::vector<pbrun::Token> tokens = pbrun::Tokenize(lines);
    collectStatements(tokens);

    int nextId = 0;
    const pbrun::ParseResult parsed = pbrun::Parse(tokens, 0, nextId);
    if (!parsed.error.isEmpty())
        problem(parsed.errorLine, parsed.error);
    walk(parsed.body, 0, {});
    for (Statement& s : m_statements) {
        const auto place = m_places.constFind(s.line);
        if (place != m_places.cend()) {
            s.depth = place->depth;
            s.compilerBranches = place->branches;
        }
    }
    checkDuplicates();
}

// The statements as written, from pbrun's tokens: a ":" or a line end ends one, and a lone name before a
// ":" is a label (the parser lists it).
void PureBasicCheck::collectStatements(const std::vector<pbrun::Token>& tokens)
{
    Statement statement;
    bool lastIsName = false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const pbrun::Token& t = tokens[i];
        if (t.kind == Tok::Newline || t.kind == Tok::Colon || t.kind == Tok::EndOfFile) {
            const bool label = t.kind == Tok::Colon && statement.tokens.size() == 1 && lastIsName &&
                               !pbrun::IsReservedWord(statement.tokens.first());
            if (!statement.tokens.isEmpty() && !label)
                m_statements << statement;
            statement = Statement();
            continue;
        }
        if (t.kind == Tok::Error)
            continue; // the parser makes it an invalid statement, reported by walk()
        if (statement.tokens.isEmpty())
            statement.line = t.line;
        lastIsName = t.kind == Tok::Ident;
        // ".l", "\field" and "?Label" stay one token when nothing stands between the two parts.
        const bool joined = (t.kind == Tok::Dot || t.kind == Tok::Backslash || t.kind == Tok::Question) &&
                            i + 1 < tokens.size() && tokens[i + 1].kind == Tok::Ident && !tokens[i + 1].spaceBefore;
        if (joined) {
            statement.tokens << t.text + tokens[++i].text;
            lastIsName = false;
            continue;
        }
        if (t.kind == Tok::Const)
            statement.tokens << QLatin1Char('#') + t.text;
        else if (t.kind == Tok::String)
            statement.tokens << QLatin1Char('"') + t.text + QLatin1Char('"');
        else
            statement.tokens << t.text;
    }
}

// The parsed tree: how deep each line stands, in which compiler branches, and what it defines and uses.
void PureBasicCheck::walk(const pbrun::Body& body, int depth, const QList<CompilerBranch>& branches)
{
    const auto place = [&](int line, int d, const QList<CompilerBranch>& b) {
        if (line > 0 && !m_places.contains(line))
            m_places.insert(line, Place{d, b});
    };
    for (const pbrun::StmtPtr& stmt : body) {
        const pbrun::Stmt& s = *stmt;
        place(s.pos.line, depth, branches);
        EachExpr(s, [this](const pbrun::Expr& e) {
            if (e.kind == pbrun::ExprKind::LabelAddr)
                m_labelReferences << e.text;
        });
        switch (s.kind) {
        case pbrun::StmtKind::Invalid:
            problem(s.pos.line, s.name);
            break;
        case pbrun::StmtKind::Label:
            m_labels << s.name;
            break;
        case pbrun::StmtKind::Restore:
            m_labelReferences << s.name;
            break;
        case pbrun::StmtKind::Procedure: {
            if (m_openProcedure > 0)
                problem(s.pos.line,
                        QStringLiteral("Procedure inside a Procedure opened on line %1").arg(m_openProcedure));
            Definition definition{s.name, s.pos.line, {}, {}};
            for (const CompilerBranch& b : branches)
                definition.compilerPath << qMakePair(b.line, b.branch);
            for (const Statement& written : std::as_const(m_statements)) {
                if (written.line == s.pos.line &&
                    written.tokens.value(0).startsWith(u"procedure", Qt::CaseInsensitive)) {
                    definition.signature = written.tokens;
                    break;
                }
            }
            bool known = false;
            for (const QString& name : std::as_const(m_procedureOrder))
                known = known || name.compare(s.name, Qt::CaseInsensitive) == 0;
            if (!known)
                m_procedureOrder << s.name;
            m_definitions << definition;
            for (const pbrun::Param& p : s.params) {
                if (pbrun::IsReservedWord(p.name))
                    problem(p.pos.line, QStringLiteral("keyword %1 used as a name").arg(p.name));
            }
            break;
        }
        default:
            break;
        }
        const bool compiler = s.kind == pbrun::StmtKind::CompilerIf || s.kind == pbrun::StmtKind::CompilerSelect;
        QStringList condition;
        for (qsizetype w = 0; compiler && w < m_statements.size(); ++w) {
            if (m_statements[w].line == s.pos.line) {
                condition = m_statements[w].tokens.mid(1);
                break;
            }
        }
        for (std::size_t k = 0; k < s.branches.size(); ++k) {
            const pbrun::Branch& b = s.branches[k];
            QList<CompilerBranch> inner = branches;
            if (compiler)
                inner << CompilerBranch{s.pos.line, condition, int(k)};
            place(b.pos.line, depth, inner);
            walk(b.body, depth + 1, inner);
        }
        const int outer = m_openProcedure;
        if (s.kind == pbrun::StmtKind::Procedure)
            m_openProcedure = s.pos.line;
        walk(s.body, depth + 1, branches);
        m_openProcedure = outer;
        place(s.endPos.line, depth, branches);
    }
}

void PureBasicCheck::checkDuplicates()
{
    // Two definitions clash unless some CompilerIf/CompilerSelect holds them in different branches.
    const auto exclusive = [](const Definition& a, const Definition& b) {
        const qsizetype n = qMin(a.compilerPath.size(), b.compilerPath.size());
        for (qsizetype i = 0; i < n; ++i) {
            if (a.compilerPath[i].first != b.compilerPath[i].first)
                return false;
            if (a.compilerPath[i].second != b.compilerPath[i].second)
                return true;
        }
        return false;
    };
    for (qsizetype i = 0; i < m_definitions.size(); ++i) {
        for (qsizetype j = 0; j < i; ++j) {
            const Definition& a = m_definitions[j];
            const Definition& b = m_definitions[i];
            if (a.name.compare(b.name, Qt::CaseInsensitive) == 0 && !exclusive(a, b)) {
                problem(b.line, QStringLiteral("procedure %1 is already defined on line %2").arg(b.name).arg(a.line));
                break;
            }
        }
    }
}
int PureBasicCheck::procedureDefinitions(const QString& name) const
{
    int count = 0;
    for (const Definition& d : m_definitions)
        count += d.name.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
    return count;
}

int PureBasicCheck::procedureLine(const QString& name) const
{
    for (const Definition& d : m_definitions) {
        if (d.name.compare(name, Qt::CaseInsensitive) == 0)
            return d.line;
    }
    return 0;
}

QStringList PureBasicCheck::procedureSignature(const QString& name) const
{
    for (const Definition& d : m_definitions) {
        if (d.name.compare(name, Qt::CaseInsensitive) == 0)
            return d.signature;
    }
    return {};
}

bool PureBasicCheck::hasIdentifier(const QString& name) const
{
    for (const Statement& s : m_statements) {
        for (const QString& t : s.tokens) {
            if (t.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

QList<PureBasicCheck::Statement> PureBasicCheck::callsOf(const QString& name) const
{
    QList<Statement> result;
    for (const Statement& s : m_statements) {
        // A procedure's own definition or declaration is not a call of it.
        const QString first = s.tokens.first().toLower();
        const bool defines = first.startsWith(u"procedure") || first.startsWith(u"declare");
        for (qsizetype i = 0; i < s.tokens.size(); ++i) {
            if (s.tokens[i].compare(name, Qt::CaseInsensitive) != 0)
                continue;
            if (defines && !first.startsWith(u"procedurereturn"))
                continue;
            qsizetype next = i + 1;
            if (next < s.tokens.size() && s.tokens[next].startsWith(u'.'))
                ++next;
            if (next < s.tokens.size() && s.tokens[next] == u"(") {
                result << s;
                break;
            }
        }
    }
    return result;
}

QStringList PureBasicCheck::undefinedLabels() const
{
    QStringList result;
    for (const QString& reference : m_labelReferences) {
        bool found = false;
        for (const QString& label : m_labels)
            found = found || label.compare(reference, Qt::CaseInsensitive) == 0;
        if (!found && !result.contains(reference, Qt::CaseInsensitive))
            result << reference;
    }
    return result;
}

bool PureBasicCheck::hasCall(const QString& name) const
{
    return !callsOf(name).isEmpty();
}

int PureBasicCheck::findStatement(const QString& leading, int fromLine) const
{
    const QStringList wanted = leading.split(u' ', Qt::SkipEmptyParts);
    for (const Statement& s : m_statements) {
        if (s.line < fromLine || s.tokens.size() < wanted.size())
            continue;
        bool same = true;
        for (qsizetype i = 0; i < wanted.size() && same; ++i)
            same = s.tokens[i].compare(wanted[i], Qt::CaseInsensitive) == 0;
        if (same)
            return s.line;
    }
    return 0;
}

} // namespace hexaloom::test
