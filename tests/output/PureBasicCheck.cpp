#include "PureBasicCheck.h"

#include <QStringDecoder>

namespace hexaloom::test {

namespace {

enum TokenKind { Identifier, Constant, Pointer, Number, String, TypeSuffix, Field, LabelRef, Operator };

enum BlockKind {
    NoBlock,
    ProcedureBlock,
    IfBlock,
    CompilerIfBlock,
    CompilerSelectBlock,
    SelectBlock,
    StructureBlock,
    StructureUnionBlock,
    DataSectionBlock,
    EnumerationBlock,
    ImportBlock,
    ForBlock,
    WhileBlock,
    RepeatBlock,
    MacroBlock,
    InterfaceBlock,
    DeclareModuleBlock,
    ModuleBlock,
    WithBlock,
};

enum Role { Open, Middle, Close };

struct Keyword
{
    BlockKind kind;
    Role role;
    const char* name; // as written in messages
};

const QHash<QString, Keyword>& keywords()
{
    static const QHash<QString, Keyword> table = {
        {"procedure", {ProcedureBlock, Open, "Procedure"}},
        {"procedurec", {ProcedureBlock, Open, "ProcedureC"}},
        {"proceduredll", {ProcedureBlock, Open, "ProcedureDLL"}},
        {"procedurecdll", {ProcedureBlock, Open, "ProcedureCDLL"}},
        {"endprocedure", {ProcedureBlock, Close, "EndProcedure"}},
        {"if", {IfBlock, Open, "If"}},
        {"elseif", {IfBlock, Middle, "ElseIf"}},
        {"else", {IfBlock, Middle, "Else"}},
        {"endif", {IfBlock, Close, "EndIf"}},
        {"compilerif", {CompilerIfBlock, Open, "CompilerIf"}},
        {"compilerelseif", {CompilerIfBlock, Middle, "CompilerElseIf"}},
        {"compilerelse", {CompilerIfBlock, Middle, "CompilerElse"}},
        {"compilerendif", {CompilerIfBlock, Close, "CompilerEndIf"}},
        {"compilerselect", {CompilerSelectBlock, Open, "CompilerSelect"}},
        {"compilercase", {CompilerSelectBlock, Middle, "CompilerCase"}},
        {"compilerdefault", {CompilerSelectBlock, Middle, "CompilerDefault"}},
        {"compilerendselect", {CompilerSelectBlock, Close, "CompilerEndSelect"}},
        {"select", {SelectBlock, Open, "Select"}},
        {"case", {SelectBlock, Middle, "Case"}},
        {"default", {SelectBlock, Middle, "Default"}},
        {"endselect", {SelectBlock, Close, "EndSelect"}},
        {"structure", {StructureBlock, Open, "Structure"}},
        {"endstructure", {StructureBlock, Close, "EndStructure"}},
        {"structureunion", {StructureUnionBlock, Open, "StructureUnion"}},
        {"endstructureunion", {StructureUnionBlock, Close, "EndStructureUnion"}},
        {"datasection", {DataSectionBlock, Open, "DataSection"}},
        {"enddatasection", {DataSectionBlock, Close, "EndDataSection"}},
        {"enumeration", {EnumerationBlock, Open, "Enumeration"}},
        {"enumerationbinary", {EnumerationBlock, Open, "EnumerationBinary"}},
        {"endenumeration", {EnumerationBlock, Close, "EndEnumeration"}},
        {"import", {ImportBlock, Open, "Import"}},
        {"importc", {ImportBlock, Open, "ImportC"}},
        {"endimport", {ImportBlock, Close, "EndImport"}},
        {"for", {ForBlock, Open, "For"}},
        {"foreach", {ForBlock, Open, "ForEach"}},
        {"next", {ForBlock, Close, "Next"}},
        {"while", {WhileBlock, Open, "While"}},
        {"wend", {WhileBlock, Close, "Wend"}},
        {"repeat", {RepeatBlock, Open, "Repeat"}},
        {"until", {RepeatBlock, Close, "Until"}},
        {"forever", {RepeatBlock, Close, "ForEver"}},
        {"macro", {MacroBlock, Open, "Macro"}},
        {"endmacro", {MacroBlock, Close, "EndMacro"}},
        {"interface", {InterfaceBlock, Open, "Interface"}},
        {"endinterface", {InterfaceBlock, Close, "EndInterface"}},
        {"declaremodule", {DeclareModuleBlock, Open, "DeclareModule"}},
        {"enddeclaremodule", {DeclareModuleBlock, Close, "EndDeclareModule"}},
        {"module", {ModuleBlock, Open, "Module"}},
        {"endmodule", {ModuleBlock, Close, "EndModule"}},
        {"with", {WithBlock, Open, "With"}},
        {"endwith", {WithBlock, Close, "EndWith"}},
    };
    return table;
}

QString blockName(int kind)
{
    // indexed by BlockKind
    static const char* const names[] = {
        "block",     "Procedure",      "If",          "CompilerIf",  "CompilerSelect", "Select",
        "Structure", "StructureUnion", "DataSection", "Enumeration", "Import",         "For",
        "While",     "Repeat",         "Macro",       "Interface",   "DeclareModule",  "Module",
        "With",
    };
    static_assert(sizeof(names) / sizeof(names[0]) == WithBlock + 1);
    return QString::fromLatin1(kind >= 0 && kind <= WithBlock ? names[kind] : names[0]);
}

bool isIdentStart(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}

bool isIdentChar(QChar c)
{
    return isIdentStart(c) || (c >= u'0' && c <= u'9');
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(QChar c)
{
    return isDigit(c) || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
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
    // Lines as the byte check counted them: CR LF, a lone LF and a lone CR each end one.
    int lineNumber = 1;
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        if (!end && text[i] != u'\r' && text[i] != u'\n')
            continue;
        if (!(end && begin == i))
            tokenizeLine(text.mid(begin, i - begin), lineNumber);
        if (end)
            break;
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        begin = i + 1;
        ++lineNumber;
    }

    for (int index : std::as_const(m_stack)) {
        const Frame& f = m_frames[index];
        problem(f.line, QStringLiteral("%1 is never closed").arg(blockName(f.kind)));
    }
    m_stack.clear();
    checkDuplicates();
}

void PureBasicCheck::tokenizeLine(const QString& line, int lineNumber)
{
    QStringList tokens;
    QList<int> kinds;
    qsizetype i = 0;
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t'))
        ++i;
    if (i < line.size() && line[i] == u'!')
        return; // inline assembler or C, passed through untouched

    while (i < line.size()) {
        const QChar c = line[i];
        if (c == u' ' || c == u'\t') {
            ++i;
            continue;
        }
        if (c == u';')
            break;
        const int previous = kinds.isEmpty() ? -1 : kinds.last();
        const bool afterValue = previous == Identifier || previous == Pointer || previous == Number ||
                                previous == String || previous == Constant || previous == Field ||
                                (previous == Operator && (tokens.last() == u")" || tokens.last() == u"]"));
        if (c == u'"' || (c == u'~' && i + 1 < line.size() && line[i + 1] == u'"')) {
            const bool escaped = c == u'~';
            qsizetype j = i + (escaped ? 2 : 1);
            bool closed = false;
            while (j < line.size()) {
                if (escaped && line[j] == u'\\') {
                    j += 2;
                    continue;
                }
                if (line[j] == u'"') {
                    closed = true;
                    break;
                }
                ++j;
            }
            if (!closed) {
                problem(lineNumber, QStringLiteral("string is not closed on its line"));
                tokens << line.mid(i);
                kinds << String;
                break;
            }
            tokens << line.mid(i, j + 1 - i);
            kinds << String;
            i = j + 1;
            continue;
        }
        if (c == u'\'') {
            const qsizetype j = line.indexOf(u'\'', i + 1);
            if (j < 0) {
                problem(lineNumber, QStringLiteral("character constant is not closed on its line"));
                break;
            }
            tokens << line.mid(i, j + 1 - i);
            kinds << Number;
            i = j + 1;
            continue;
        }
        if (c == u':') {
            if (i + 1 < line.size() && line[i + 1] == u':') { // Module::Name
                tokens << QStringLiteral("::");
                kinds << Operator;
                i += 2;
                continue;
            }
            finishStatement(tokens, kinds, lineNumber, true);
            ++i;
            continue;
        }
        if (isIdentStart(c)) {
            qsizetype j = i;
            while (j < line.size() && isIdentChar(line[j]))
                ++j;
            if (j < line.size() && line[j] == u'$')
                ++j;
            tokens << line.mid(i, j - i);
            kinds << Identifier;
            i = j;
            continue;
        }
        if (c == u'#' && i + 1 < line.size() && isIdentStart(line[i + 1])) {
            qsizetype j = i + 1;
            while (j < line.size() && isIdentChar(line[j]))
                ++j;
            if (j < line.size() && line[j] == u'$')
                ++j;
            tokens << line.mid(i, j - i);
            kinds << Constant;
            i = j;
            continue;
        }
        if (c == u'*' && !afterValue && i + 1 < line.size() && isIdentStart(line[i + 1])) {
            qsizetype j = i + 1;
            while (j < line.size() && isIdentChar(line[j]))
                ++j;
            tokens << line.mid(i, j - i);
            kinds << Pointer;
            i = j;
            continue;
        }
        if ((c == u'.' || c == u'\\' || c == u'?') && i + 1 < line.size() && isIdentStart(line[i + 1])) {
            qsizetype j = i + 1;
            while (j < line.size() && isIdentChar(line[j]))
                ++j;
            tokens << line.mid(i, j - i);
            kinds << (c == u'.' ? TypeSuffix : c == u'\\' ? Field : LabelRef);
            if (c == u'?')
                m_labelReferences << line.mid(i + 1, j - i - 1);
            i = j;
            continue;
        }
        if (isDigit(c) || (c == u'$' && i + 1 < line.size() && isHexDigit(line[i + 1])) ||
            (c == u'%' && !afterValue && i + 1 < line.size() && isDigit(line[i + 1]))) {
            qsizetype j = i + 1;
            while (j < line.size() && (isHexDigit(line[j]) || line[j] == u'.'))
                ++j;
            tokens << line.mid(i, j - i);
            kinds << Number;
            i = j;
            continue;
        }
        static const QStringList pairs = {QStringLiteral("<>"), QStringLiteral("<="), QStringLiteral(">="),
                                          QStringLiteral("<<"), QStringLiteral(">>"), QStringLiteral("=<"),
                                          QStringLiteral("=>")};
        const QString two = line.mid(i, 2);
        if (pairs.contains(two)) {
            tokens << two;
            i += 2;
        } else {
            tokens << QString(c);
            ++i;
        }
        kinds << Operator;
    }
    finishStatement(tokens, kinds, lineNumber, false);
}

void PureBasicCheck::finishStatement(QStringList& tokens, QList<int>& kinds, int lineNumber, bool endedByColon)
{
    if (tokens.isEmpty())
        return;
    if (endedByColon && tokens.size() == 1 && kinds.first() == Identifier &&
        !keywords().contains(tokens.first().toLower())) {
        m_labels << tokens.first();
    } else {
        handleStatement(tokens, kinds, lineNumber);
    }
    tokens.clear();
    kinds.clear();
}

void PureBasicCheck::handleStatement(const QStringList& tokens, const QList<int>& kinds, int lineNumber)
{
    Statement statement;
    statement.line = lineNumber;
    statement.tokens = tokens;
    statement.depth = int(m_stack.size());
    for (int index : std::as_const(m_stack)) {
        const Frame& f = m_frames[index];
        if (f.kind == CompilerIfBlock || f.kind == CompilerSelectBlock)
            statement.compilerBranches << CompilerBranch{f.line, f.condition, f.branch};
    }

    // A block keyword anywhere but at the start of a statement is a keyword used as a name.
    for (qsizetype i = 1; i < tokens.size(); ++i) {
        if (kinds[i] == Identifier && keywords().contains(tokens[i].toLower()))
            problem(lineNumber, QStringLiteral("keyword %1 used as a name").arg(tokens[i]));
    }

    const QString first = tokens.first().toLower();
    if (kinds.first() == Identifier && first == u"restore" && tokens.size() >= 2 && kinds[1] == Identifier)
        m_labelReferences << tokens[1];

    const auto found = keywords().constFind(first);
    if (kinds.first() != Identifier || found == keywords().cend()) {
        m_statements << statement;
        return;
    }
    const Keyword keyword = *found;
    const QString word = QString::fromLatin1(keyword.name);

    if (keyword.role == Open) {
        if (keyword.kind == ProcedureBlock || keyword.kind == MacroBlock) {
            for (int index : std::as_const(m_stack)) {
                const int kind = m_frames[index].kind;
                if (kind == ProcedureBlock || kind == MacroBlock)
                    problem(lineNumber, QStringLiteral("%1 inside a %2 opened on line %3")
                                            .arg(word, blockName(kind))
                                            .arg(m_frames[index].line));
            }
        }
        if (keyword.kind == ProcedureBlock) {
            Definition definition;
            definition.line = lineNumber;
            definition.signature = tokens;
            for (qsizetype i = 1; i < tokens.size(); ++i) {
                if (kinds[i] == Identifier) {
                    definition.name = tokens[i];
                    break;
                }
                if (kinds[i] != TypeSuffix)
                    break;
            }
            if (definition.name.isEmpty())
                problem(lineNumber, QStringLiteral("%1 without a name").arg(word));
            for (int index : std::as_const(m_stack)) {
                const Frame& f = m_frames[index];
                if (f.kind == CompilerIfBlock || f.kind == CompilerSelectBlock)
                    definition.compilerPath << qMakePair(index, f.branch);
            }
            if (!definition.name.isEmpty()) {
                bool known = false;
                for (const QString& name : std::as_const(m_procedureOrder))
                    known = known || name.compare(definition.name, Qt::CaseInsensitive) == 0;
                if (!known)
                    m_procedureOrder << definition.name;
                m_definitions << definition;
            }
        }
        Frame frame;
        frame.kind = keyword.kind;
        frame.line = lineNumber;
        frame.condition = tokens.mid(1);
        m_frames << frame;
        m_stack << int(m_frames.size() - 1);
        m_statements << statement;
        return;
    }

    // Middle and closing keywords belong to the innermost open block.
    statement.depth = qMax(0, statement.depth - 1);
    if (keyword.role == Middle) {
        if (m_stack.isEmpty() || m_frames[m_stack.last()].kind != keyword.kind) {
            problem(lineNumber, QStringLiteral("%1 is not directly inside a %2").arg(word, blockName(keyword.kind)));
        } else {
            Frame& frame = m_frames[m_stack.last()];
            const bool closing =
                first == u"else" || first == u"compilerelse" || first == u"default" || first == u"compilerdefault";
            if (frame.sawElse)
                problem(lineNumber, QStringLiteral("%1 after the last branch of the %2 opened on line %3")
                                        .arg(word, blockName(frame.kind))
                                        .arg(frame.line));
            frame.sawElse = frame.sawElse || closing;
            ++frame.branch;
            // the statement itself belongs to the new branch
            if (!statement.compilerBranches.isEmpty() &&
                (keyword.kind == CompilerIfBlock || keyword.kind == CompilerSelectBlock))
                statement.compilerBranches.last().branch = frame.branch;
        }
        m_statements << statement;
        return;
    }

    // Close
    if (!statement.compilerBranches.isEmpty() && !m_stack.isEmpty() &&
        (keyword.kind == CompilerIfBlock || keyword.kind == CompilerSelectBlock) &&
        m_frames[m_stack.last()].kind == keyword.kind)
        statement.compilerBranches.removeLast();
    qsizetype match = -1;
    for (qsizetype i = m_stack.size() - 1; i >= 0; --i) {
        if (m_frames[m_stack[i]].kind == keyword.kind) {
            match = i;
            break;
        }
    }
    if (match < 0) {
        problem(lineNumber, QStringLiteral("%1 without an open %2").arg(word, blockName(keyword.kind)));
    } else {
        for (qsizetype i = m_stack.size() - 1; i > match; --i) {
            const Frame& inner = m_frames[m_stack[i]];
            problem(inner.line, QStringLiteral("%1 is not closed before %2 on line %3")
                                    .arg(blockName(inner.kind), word)
                                    .arg(lineNumber));
        }
        m_stack.resize(match);
    }
    m_statements << statement;
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
