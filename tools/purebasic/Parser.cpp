#include "Parser.h"

#include <QStringList>

namespace hexaloom::pbrun {

namespace {

// A block-structure error: ends the parse of the file.
struct Failure
{
    QString message;
    int line;
};

// A statement that cannot be parsed: becomes an Invalid statement.
struct LineError
{
    QString message;
};

enum class Ctx { Code, Structure, Enumeration, Import, Data };

// The blocks pbrun refuses, skipped to their end keyword so what follows still parses.
struct SkippedBlock
{
    const char* open;
    const char* close;
    const char* what;
};
const SkippedBlock kSkipped[] = {
    {"macro", "endmacro", "Macro"},
    {"module", "endmodule", "Module"},
    {"declaremodule", "enddeclaremodule", "DeclareModule"},
    {"interface", "endinterface", "Interface"},
    {"with", "endwith", "With"},
    {"structureunion", "endstructureunion", "StructureUnion"},
};

// Keywords that close or continue a block; met where no open block expects them they are an error.
const QStringList kClosers = {"endif",
                              "else",
                              "elseif",
                              "wend",
                              "next",
                              "until",
                              "forever",
                              "endprocedure",
                              "endselect",
                              "case",
                              "default",
                              "endstructure",
                              "endenumeration",
                              "endimport",
                              "enddatasection",
                              "compilerelse",
                              "compilerelseif",
                              "compilerendif",
                              "compilercase",
                              "compilerdefault",
                              "compilerendselect"};

Suffix SuffixOf(const QString& letter)
{
    // in the order of Suffix, from B on
    static const QString letters = QStringLiteral("bacwuliqfds");
    const qsizetype at = letter.size() == 1 ? letters.indexOf(letter[0].toLower()) : -1;
    return at < 0 ? Suffix::Named : Suffix(int(Suffix::B) + at);
}

class P
{
public:
    P(const std::vector<Token>& tokens, int file, int& nextId) : t(tokens), m_file(file), m_nextId(nextId) {}

    Body File()
    {
        Body body = Block(Ctx::Code, {}, nullptr, nullptr);
        return body;
    }

private:
    const std::vector<Token>& t;
    std::size_t i = 0;
    int m_file;
    int& m_nextId;
    int m_depth = 0;

    // Nesting is bounded, so no source can exhaust the stack (no real program comes near).
    struct Nest
    {
        P& p;
        explicit Nest(P& parser) : p(parser)
        {
            if (++p.m_depth > 200)
                throw Failure{QStringLiteral("pbrun does not support nesting deeper than 200 levels"), p.Peek().line};
        }
        ~Nest() { --p.m_depth; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;
    };

    const Token& Peek(std::size_t k = 0) const
    {
        const std::size_t j = i + k;
        return j < t.size() ? t[j] : t.back();
    }
    SourcePos Pos() const { return {m_file, Peek().line}; }
    bool AtStatementEnd() const
    {
        const Tok k = Peek().kind;
        return k == Tok::Newline || k == Tok::Colon || k == Tok::EndOfFile;
    }
    static bool IsWord(const Token& token, const char* word)
    {
        return token.kind == Tok::Ident && token.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool Word(const char* word, std::size_t k = 0) const { return IsWord(Peek(k), word); }
    bool Accept(Tok kind)
    {
        if (Peek().kind != kind)
            return false;
        ++i;
        return true;
    }
    bool AcceptWord(const char* word)
    {
        if (!Word(word))
            return false;
        ++i;
        return true;
    }
    [[noreturn]] void Fail(const QString& message) const
    {
        if (Peek().kind == Tok::Error)
            throw LineError{Peek().text};
        throw LineError{message};
    }
    void Expect(Tok kind, const char* what)
    {
        if (!Accept(kind))
            Fail(QStringLiteral("Syntax error: %1 expected").arg(QLatin1String(what)));
    }
    void ExpectEnd()
    {
        if (!AtStatementEnd())
            Fail(QStringLiteral("Syntax error: garbage at the end of the statement"));
    }
    void SkipToStatementEnd()
    {
        while (!AtStatementEnd())
            ++i;
    }
    ExprPtr NewExpr(ExprKind kind, SourcePos pos)
    {
        ExprPtr e = MakeExpr(kind, pos);
        e->id = m_nextId++;
        return e;
    }
    StmtPtr NewStmt(StmtKind kind, SourcePos pos)
    {
        StmtPtr s = MakeStmt(kind, pos);
        s->id = m_nextId++;
        return s;
    }
    StmtPtr Invalid(SourcePos pos, const QString& message)
    {
        StmtPtr s = NewStmt(StmtKind::Invalid, pos);
        s->name = message;
        return s;
    }
    StmtPtr Unsupported(SourcePos pos, const QString& what)
    {
        StmtPtr s = NewStmt(StmtKind::Unsupported, pos);
        s->name = what;
        return s;
    }

    // ---- blocks -------------------------------------------------------------------------------------

    // Statements up to one whose first word is in `ends` (left unread). `opener` names the block for the
    // message when the file ends first.
    Body Block(Ctx ctx, const QStringList& ends, const char* opener, const char* expected, int openLine = 0)
    {
        const Nest nest(*this);
        Body body;
        for (;;) {
            while (Peek().kind == Tok::Newline || Peek().kind == Tok::Colon)
                ++i;
            const Token& tok = Peek();
            if (tok.kind == Tok::EndOfFile) {
                if (opener)
                    throw Failure{QStringLiteral("%1 expected (%2 at line %3)")
                                      .arg(QLatin1String(expected), QLatin1String(opener))
                                      .arg(openLine),
                                  tok.line};
                return body;
            }
            if (tok.kind == Tok::Ident) {
                const QString word = tok.text.toLower();
                if (ends.contains(word))
                    return body;
                if (kClosers.contains(word)) {
                    // PureBasic's directives are textual: "CompilerIf ... Case ... CompilerEndIf" is valid
                    // there, and a block cut by one is beyond pbrun's tree of nested blocks
                    if (opener &&
                        (QLatin1String(opener).startsWith(QLatin1String("Compiler")) || word.startsWith(u"compiler")))
                        throw Failure{QStringLiteral("pbrun does not support a compiler directive that cuts across a "
                                                     "block (%1 at line %2, then %3)")
                                          .arg(QLatin1String(opener))
                                          .arg(openLine)
                                          .arg(tok.text),
                                      tok.line};
                    if (opener)
                        throw Failure{QStringLiteral("%1 expected (%2 at line %3), found %4")
                                          .arg(QLatin1String(expected), QLatin1String(opener))
                                          .arg(openLine)
                                          .arg(tok.text),
                                      tok.line};
                    throw Failure{QStringLiteral("%1 without its opening keyword").arg(tok.text), tok.line};
                }
            }
            body.push_back(Statement(ctx));
        }
    }

    void ExpectWord(const char* word, const char* opener, int openLine)
    {
        if (!AcceptWord(word))
            throw Failure{QStringLiteral("%1 expected (%2 at line %3)")
                              .arg(QLatin1String(word), QLatin1String(opener))
                              .arg(openLine),
                          Peek().line};
    }

    // Parses a block header; a header that does not parse leaves its message and skips the line.
    template <typename F> QString Header(F&& parse)
    {
        try {
            parse();
            ExpectEnd();
            return {};
        } catch (const LineError& e) {
            SkipToStatementEnd();
            return e.message;
        }
    }

    StmtPtr Statement(Ctx ctx)
    {
        const std::size_t first = i;
        StmtPtr s = StatementOnly(ctx);
        // line continuation came with 5.10: the checker refuses it before, where the statement is compiled
        for (std::size_t j = first; s && j < t.size() && t[j].kind != Tok::Newline && t[j].kind != Tok::EndOfFile;
             ++j) {
            if (t[j].continued) {
                s->continuedLine = t[j].line;
                break;
            }
        }
        return s;
    }

    StmtPtr StatementOnly(Ctx ctx)
    {
        const Token& tok = Peek();
        const SourcePos pos = Pos();
        if (tok.kind == Tok::Ident) {
            const QString word = tok.text.toLower();
            if (StmtPtr s = BlockStatement(word, ctx))
                return s;
        }
        try {
            StmtPtr s = SimpleStatement(ctx);
            ExpectEnd();
            return s;
        } catch (const LineError& e) {
            SkipToStatementEnd();
            return Invalid(pos, e.message);
        }
    }

    StmtPtr BlockStatement(const QString& word, Ctx ctx)
    {
        const SourcePos pos = Pos();
        const int line = pos.line;
        for (const SkippedBlock& b : kSkipped) {
            if (word != QLatin1String(b.open))
                continue;
            ++i;
            int depth = 1;
            while (Peek().kind != Tok::EndOfFile) {
                const bool statementStart = i == 0 || t[i - 1].kind == Tok::Newline || t[i - 1].kind == Tok::Colon;
                if (statementStart && Word(b.open))
                    ++depth;
                if (statementStart && Word(b.close) && --depth == 0)
                    break;
                ++i;
            }
            ExpectWord(b.close, b.open, line);
            SkipToStatementEnd();
            return Unsupported(pos, QLatin1String(b.what));
        }
        if (word == u"if")
            return Conditional(kIf, Ctx::Code);
        if (word == u"compilerif")
            return Conditional(kCompilerIf, ctx);
        if (word == u"compilerselect")
            return Selection(kCompilerSelect, ctx);
        if (ctx != Ctx::Code && word != u"datasection")
            return nullptr;
        if (word == u"while" || word == u"repeat" || word == u"for" || word == u"foreach")
            return Loop(word);
        if (word == u"select")
            return Selection(kSelect, Ctx::Code);
        if (word == u"procedure" || word == u"proceduredll" || word == u"procedurec" || word == u"procedurecdll")
            return Procedure(); // and not "ProcedureList()" or "ProcedureFound = 1"
        if (word == u"structure")
            return Container(StmtKind::Structure, Ctx::Structure, "endstructure", "Structure");
        if (word == u"enumeration" || word == u"enumerationbinary")
            return Container(StmtKind::Enumeration, Ctx::Enumeration, "endenumeration", "Enumeration");
        if (word == u"import" || word == u"importc")
            return Container(StmtKind::Import, Ctx::Import, "endimport", "Import");
        if (word == u"datasection")
            return Container(StmtKind::DataSection, Ctx::Data, "enddatasection", "DataSection");
        return nullptr;
    }

    // The keywords of a conditional block (If, CompilerIf) or a selection (Select, CompilerSelect).
    struct Words
    {
        StmtKind kind;
        const char* open;
        const char* middle; // ElseIf / Case
        const char* last;   // Else / Default
        const char* end;
    };
    static constexpr Words kIf{StmtKind::If, "If", "ElseIf", "Else", "EndIf"};
    static constexpr Words kCompilerIf{StmtKind::CompilerIf, "CompilerIf", "CompilerElseIf", "CompilerElse",
                                       "CompilerEndIf"};
    static constexpr Words kSelect{StmtKind::Select, "Select", "Case", "Default", "EndSelect"};
    static constexpr Words kCompilerSelect{StmtKind::CompilerSelect, "CompilerSelect", "CompilerCase",
                                           "CompilerDefault", "CompilerEndSelect"};

    static QString Lower(const char* word) { return QString::fromLatin1(word).toLower(); }

    // If / CompilerIf: branches with conditions, an optional last one without.
    StmtPtr Conditional(const Words& w, Ctx ctx)
    {
        StmtPtr s = NewStmt(w.kind, Pos());
        const int line = s->pos.line;
        const QStringList ends{Lower(w.middle), Lower(w.last), Lower(w.end)};
        ++i;
        QString bad;
        for (bool first = true;; first = false) {
            Branch b;
            b.pos = Pos();
            const bool last = !first && Word(w.last);
            if (!first)
                ++i;
            const QString e = last ? Header([] {}) : Header([&] { b.condition = Expression(); });
            if (bad.isEmpty())
                bad = e;
            b.body = Block(ctx, last ? QStringList{Lower(w.end)} : ends, w.open, w.end, line);
            s->branches.push_back(std::move(b));
            if (last || Word(w.end))
                break;
        }
        s->endPos = Pos();
        ExpectWord(w.end, w.open, line);
        const QString e = Header([] {});
        if (bad.isEmpty())
            bad = e;
        return bad.isEmpty() ? std::move(s) : Invalid(s->pos, bad);
    }

    // Select / CompilerSelect: a value, then cases of values (ranges "a To b" in Select only) and an
    // optional default.
    StmtPtr Selection(const Words& w, Ctx ctx)
    {
        StmtPtr s = NewStmt(w.kind, Pos());
        const int line = s->pos.line;
        const QStringList ends{Lower(w.middle), Lower(w.last), Lower(w.end)};
        ++i;
        QString bad = Header([&] { s->exprs.push_back(Expression()); });
        const Body before = Block(ctx, ends, w.open, w.end, line);
        if (!before.empty() && bad.isEmpty())
            bad = QStringLiteral("Syntax error: statement between %1 and its first %2")
                      .arg(QLatin1String(w.open), QLatin1String(w.middle));
        bool sawDefault = false;
        while (!Word(w.end)) {
            Branch b;
            b.pos = Pos();
            const bool isDefault = Word(w.last);
            ++i;
            QString e;
            if (sawDefault) {
                e = QStringLiteral("Syntax error: %1 after %2")
                        .arg(QLatin1String(isDefault ? w.last : w.middle), QLatin1String(w.last));
                SkipToStatementEnd();
            } else if (isDefault) {
                e = Header([] {});
            } else {
                e = Header([&] {
                    do {
                        b.values.push_back(Expression());
                        b.rangeEnds.push_back(w.kind == StmtKind::Select && AcceptWord("to") ? Expression() : nullptr);
                    } while (Accept(Tok::Comma));
                });
            }
            sawDefault = sawDefault || isDefault;
            if (bad.isEmpty())
                bad = e;
            b.body = Block(ctx, ends, w.open, w.end, line);
            s->branches.push_back(std::move(b));
        }
        s->endPos = Pos();
        ++i;
        const QString e = Header([] {});
        if (bad.isEmpty())
            bad = e;
        return bad.isEmpty() ? std::move(s) : Invalid(s->pos, bad);
    }

    StmtPtr Loop(const QString& word)
    {
        const SourcePos pos = Pos();
        const int line = pos.line;
        ++i;
        if (word == u"while") {
            StmtPtr s = NewStmt(StmtKind::While, pos);
            const QString bad = Header([&] { s->exprs.push_back(Expression()); });
            s->body = Block(Ctx::Code, {"wend"}, "While", "Wend", line);
            s->endPos = Pos();
            ++i;
            const QString e = Header([] {});
            return bad.isEmpty() && e.isEmpty() ? std::move(s) : Invalid(pos, bad.isEmpty() ? e : bad);
        }
        if (word == u"repeat") {
            StmtPtr s = NewStmt(StmtKind::Repeat, pos);
            QString bad = Header([] {});
            s->body = Block(Ctx::Code, {"until", "forever"}, "Repeat", "Until", line);
            s->endPos = Pos();
            if (AcceptWord("forever")) {
                s->flag = true;
                const QString e = Header([] {});
                if (bad.isEmpty())
                    bad = e;
            } else {
                ++i;
                const QString e = Header([&] { s->exprs.push_back(Expression()); });
                if (bad.isEmpty())
                    bad = e;
            }
            return bad.isEmpty() ? std::move(s) : Invalid(pos, bad);
        }
        const bool forEach = word == u"foreach";
        StmtPtr s = NewStmt(StmtKind::For, pos);
        const QString bad = forEach ? QString() : Header([&] {
            s->exprs.push_back(Postfix());
            Expect(Tok::Eq, "=");
            s->exprs.push_back(Expression());
            if (!AcceptWord("to"))
                Fail(QStringLiteral("Syntax error: To expected"));
            s->exprs.push_back(Expression());
            if (AcceptWord("step"))
                s->exprs.push_back(Expression());
        });
        if (forEach)
            SkipToStatementEnd();
        s->body = Block(Ctx::Code, {"next"}, forEach ? "ForEach" : "For", "Next", line);
        s->endPos = Pos();
        ++i;
        // "Next i" may name the variable, and then it must be the For's own
        const Token& named = Peek();
        const bool mismatch = !forEach && bad.isEmpty() && named.kind == Tok::Ident && !AtStatementEnd() &&
                              s->exprs[0]->kind == ExprKind::Name &&
                              named.text.compare(s->exprs[0]->text, Qt::CaseInsensitive) != 0;
        const QString nextName = named.text;
        SkipToStatementEnd();
        if (forEach)
            return Unsupported(pos, QStringLiteral("ForEach"));
        if (mismatch)
            return Invalid(s->endPos,
                           QStringLiteral("Next names %1, not the For's variable %2").arg(nextName, s->exprs[0]->text));
        return bad.isEmpty() ? std::move(s) : Invalid(pos, bad);
    }

    // Procedure[C][DLL][.type] Name(params) ... EndProcedure
    StmtPtr Procedure()
    {
        StmtPtr s = NewStmt(StmtKind::Procedure, Pos());
        const int line = s->pos.line;
        const QString keyword = Peek().text.toLower();
        ++i;
        s->flag = keyword.endsWith(u"dll");
        QString bad;
        if (keyword != u"procedure" && keyword != u"proceduredll" && keyword != u"procedurec" &&
            keyword != u"procedurecdll")
            bad = QStringLiteral("Syntax error: %1").arg(keyword);
        const QString e = Header([&] { Signature(*s); });
        if (bad.isEmpty())
            bad = e;
        if (keyword.startsWith(u"procedurec") && bad.isEmpty())
            bad = QStringLiteral("pbrun does not support ProcedureC");
        s->body = Block(Ctx::Code, {"endprocedure"}, "Procedure", "EndProcedure", line);
        s->endPos = Pos();
        ++i;
        return bad.isEmpty() ? std::move(s) : Invalid(s->pos, bad);
    }

    // [.type] Name(params): the part shared by Procedure, Declare and import declarations.
    void Signature(Stmt& s)
    {
        if (Peek().kind == Tok::Dot)
            s.type = TypeSuffix();
        if (Peek().kind != Tok::Ident)
            Fail(QStringLiteral("Syntax error: procedure name expected"));
        s.name = Peek().text;
        ++i;
        if (Peek().kind == Tok::Dot && !Peek().spaceBefore)
            s.type = TypeSuffix();
        Expect(Tok::LParen, "(");
        if (!Accept(Tok::RParen)) {
            do {
                Param p;
                p.pos = Pos();
                // "Array a.l(1)": the keyword is followed by a name; "Array" alone is a parameter's name
                if ((Word("array") || Word("list") || Word("map")) && Peek(1).kind == Tok::Ident) {
                    p.keyword = Peek().text;
                    ++i;
                }
                if (Peek().kind != Tok::Ident && Peek().kind != Tok::Ptr)
                    Fail(QStringLiteral("Syntax error: parameter name expected"));
                p.name = Peek().text;
                ++i;
                if (Peek().kind == Tok::Dot && !Peek().spaceBefore)
                    p.type = TypeSuffix();
                if (!p.keyword.isEmpty() && Accept(Tok::LParen)) {
                    // the dimensions of an array parameter, or "()" of a list: the checker refuses it
                    for (int depth = 1; depth > 0 && Peek().kind != Tok::EndOfFile && Peek().kind != Tok::Newline; ++i)
                        depth += Peek().kind == Tok::LParen ? 1 : Peek().kind == Tok::RParen ? -1 : 0;
                }
                if (Accept(Tok::Eq))
                    p.defaultValue = Expression();
                s.params.push_back(std::move(p));
            } while (Accept(Tok::Comma));
            Expect(Tok::RParen, ")");
        }
    }

    TypeName TypeSuffix()
    {
        Expect(Tok::Dot, ".");
        if (Peek().kind != Tok::Ident || Peek().spaceBefore)
            Fail(QStringLiteral("Syntax error: type expected after '.'"));
        TypeName type;
        type.suffix = SuffixOf(Peek().text);
        if (type.suffix == Suffix::Named)
            type.name = Peek().text;
        ++i;
        if (type.name.compare(QLatin1String("p"), Qt::CaseInsensitive) == 0 && Peek().kind == Tok::Minus &&
            !Peek().spaceBefore)
            Fail(QStringLiteral("pbrun does not support pseudo-types (.p-ascii, ...)"));
        return type;
    }

    // Structure / Enumeration / Import / DataSection: a header, a body in its own context, an end word.
    StmtPtr Container(StmtKind kind, Ctx ctx, const char* end, const char* opener)
    {
        StmtPtr s = NewStmt(kind, Pos());
        const int line = s->pos.line;
        const QString keyword = Peek().text.toLower();
        ++i;
        QString bad = Header([&] {
            switch (kind) {
            case StmtKind::Structure:
                if (Peek().kind != Tok::Ident)
                    Fail(QStringLiteral("Syntax error: structure name expected"));
                s->name = Peek().text;
                ++i;
                if (AcceptWord("extends")) {
                    if (Peek().kind != Tok::Ident)
                        Fail(QStringLiteral("Syntax error: structure name expected after Extends"));
                    s->type.suffix = Suffix::Named;
                    s->type.name = Peek().text;
                    ++i;
                }
                if (Word("align"))
                    Fail(QStringLiteral("pbrun does not support Align"));
                break;
            case StmtKind::Enumeration:
                s->flag = keyword == u"enumerationbinary";
                if (Peek().kind == Tok::Ident && !Word("step"))
                    Fail(QStringLiteral("pbrun does not support named enumerations"));
                if (!AtStatementEnd() && !Word("step"))
                    s->exprs.push_back(Expression());
                if (AcceptWord("step")) {
                    if (s->exprs.empty())
                        Fail(QStringLiteral("Syntax error: Step needs a start value"));
                    s->exprs.push_back(Expression());
                }
                break;
            case StmtKind::Import:
                s->flag = keyword == u"importc";
                s->exprs.push_back(Expression());
                break;
            default:
                break;
            }
        });
        s->body = Block(ctx, {QString::fromLatin1(end)}, opener, end, line);
        s->endPos = Pos();
        ++i;
        const QString e = Header([] {});
        if (bad.isEmpty())
            bad = e;
        return bad.isEmpty() ? std::move(s) : Invalid(s->pos, bad);
    }

    // ---- simple statements ---------------------------------------------------------------------------

    StmtPtr SimpleStatement(Ctx ctx)
    {
        const Token& tok = Peek();
        const SourcePos pos = Pos();
        if (tok.kind == Tok::Error)
            Fail(tok.text);
        // Labels: "Name:" at the start of a statement.
        if (tok.kind == Tok::Ident && Peek(1).kind == Tok::Colon && !IsReservedWord(tok.text)) {
            StmtPtr s = NewStmt(StmtKind::Label, pos);
            s->name = tok.text;
            ++i;
            return s;
        }
        switch (ctx) {
        case Ctx::Structure:
            return FieldDecl();
        case Ctx::Enumeration:
            return EnumItem();
        case Ctx::Import:
            return ImportDecl();
        case Ctx::Data:
            if (!Word("data") && !Word("includebinary"))
                Fail(QStringLiteral("Syntax error: only Data, IncludeBinary and labels in a DataSection"));
            break;
        case Ctx::Code:
            break;
        }
        if (tok.kind == Tok::Const) {
            StmtPtr s = NewStmt(StmtKind::ConstantDef, pos);
            s->name = tok.text;
            ++i;
            Expect(Tok::Eq, "=");
            s->exprs.push_back(Expression());
            return s;
        }
        if (tok.kind == Tok::Ident) {
            const QString word = tok.text.toLower();
            if (IsReservedWord(word) || word == u"compilerelseif")
                return KeywordStatement(word, pos);
            // keywords of later versions that pbrun does not take, before a name: "Threaded Counter"
            if ((word == u"newmap" || word == u"threaded" || word == u"swap") && Peek(1).kind == Tok::Ident)
                Fail(QStringLiteral("pbrun does not support %1").arg(tok.text));
            // "Runtime Procedure ...": what follows is parsed, the whole refused where it is compiled
            if (word == u"runtime" && Peek(1).kind == Tok::Ident) {
                ++i;
                Statement(ctx);
                return Unsupported(pos, tok.text);
            }
        }
        if (tok.kind == Tok::Bang) {
            SkipToStatementEnd();
            return Unsupported(pos, QStringLiteral("inline assembly"));
        }
        return ExpressionStatement(pos);
    }

    StmtPtr KeywordStatement(const QString& word, SourcePos pos)
    {
        const QString written = Peek().text;
        ++i;
        if (word == u"break" || word == u"continue") {
            StmtPtr s = NewStmt(word == u"break" ? StmtKind::Break : StmtKind::Continue, pos);
            if (!AtStatementEnd())
                s->exprs.push_back(Expression());
            return s;
        }
        if (word == u"procedurereturn" || word == u"end" || word == u"debug") {
            StmtPtr s = NewStmt(word == u"procedurereturn" ? StmtKind::ProcedureReturn
                                : word == u"end"           ? StmtKind::End
                                                           : StmtKind::Debug,
                                pos);
            if (!AtStatementEnd())
                s->exprs.push_back(Expression());
            if (s->kind == StmtKind::Debug && Accept(Tok::Comma))
                Fail(QStringLiteral("pbrun does not support debug levels"));
            return s;
        }
        if (word == u"compilererror") {
            StmtPtr s = NewStmt(StmtKind::CompilerError, pos);
            s->exprs.push_back(Expression());
            return s;
        }
        if (word == u"enableexplicit" || word == u"disableexplicit") {
            StmtPtr s = NewStmt(StmtKind::Explicit, pos);
            s->flag = word == u"enableexplicit";
            return s;
        }
        if (word == u"declare" || word == u"declaredll" || word == u"declarec" || word == u"declarecdll") {
            StmtPtr s = NewStmt(StmtKind::Declare, pos);
            if (word != u"declare" && word != u"declaredll")
                Fail(QStringLiteral("pbrun does not support %1").arg(written));
            s->flag = word == u"declaredll";
            Signature(*s);
            return s;
        }
        if (word == u"define" || word == u"global" || word == u"protected" || word == u"static" || word == u"shared")
            return Variables(word, pos);
        if (word == u"dim" || word == u"redim") {
            StmtPtr s = NewStmt(StmtKind::Dim, pos);
            s->flag = word == u"redim";
            do {
                s->vars.push_back(DimItem());
            } while (!s->flag && Accept(Tok::Comma));
            return s;
        }
        if (word == u"data") {
            StmtPtr s = NewStmt(StmtKind::Data, pos);
            if (Peek().kind != Tok::Dot)
                Fail(QStringLiteral("pbrun does not support Data without a type"));
            s->type = TypeSuffix();
            // Long hexdata lines hold nothing but numbers: keep them as numbers, not nodes.
            bool plain = true;
            const std::size_t start = i;
            do {
                const bool negative = Peek().kind == Tok::Minus;
                const Token& value = Peek(negative ? 1 : 0);
                const Tok after = Peek(negative ? 2 : 1).kind;
                if (value.kind != Tok::Int ||
                    (after != Tok::Comma && after != Tok::Newline && after != Tok::Colon && after != Tok::EndOfFile)) {
                    plain = false;
                    break;
                }
                s->ints.push_back(negative ? std::int64_t(0 - std::uint64_t(value.intValue)) : value.intValue);
                i += negative ? 2 : 1;
            } while (Accept(Tok::Comma));
            if (!plain) {
                i = start;
                s->ints.clear();
                do {
                    s->exprs.push_back(Expression());
                } while (Accept(Tok::Comma));
            }
            return s;
        }
        if (word == u"includebinary" || word == u"includefile" || word == u"xincludefile" || word == u"restore") {
            StmtPtr s = NewStmt(word == u"includebinary" ? StmtKind::IncludeBinary
                                : word == u"restore"     ? StmtKind::Restore
                                                         : StmtKind::Include,
                                pos);
            s->flag = word == u"xincludefile";
            if (word == u"restore") {
                if (Peek().kind != Tok::Ident)
                    Fail(QStringLiteral("Syntax error: label expected after Restore"));
                s->name = Peek().text;
                ++i;
            } else {
                s->exprs.push_back(Expression());
            }
            return s;
        }
        if (word == u"read") {
            StmtPtr s = NewStmt(StmtKind::Read, pos);
            if (Peek().kind == Tok::Dot && !Peek().spaceBefore)
                s->type = TypeSuffix();
            do {
                s->exprs.push_back(Postfix());
            } while (Accept(Tok::Comma));
            return s;
        }
        if (word == u"newlist" || word == u"goto" || word == u"gosub" || word == u"return" || word == u"fakereturn" ||
            word == u"prototype" || word == u"prototypec" || word == u"includepath" || word == u"enableasm" ||
            word == u"disableasm" || word == u"compilerwarning" || word == u"debuglevel" || word == u"enabledebugger" ||
            word == u"disabledebugger") {
            SkipToStatementEnd();
            return Unsupported(pos, written);
        }
        Fail(QStringLiteral("Syntax error: unexpected %1").arg(written));
    }

    StmtPtr Variables(const QString& word, SourcePos pos)
    {
        StmtPtr s = NewStmt(StmtKind::Variables, pos);
        s->varKeyword = word == u"define"      ? VarKeyword::Define
                        : word == u"global"    ? VarKeyword::Global
                        : word == u"protected" ? VarKeyword::Protected
                        : word == u"static"    ? VarKeyword::Static
                                               : VarKeyword::Shared;
        if (Peek().kind == Tok::Dot && !Peek().spaceBefore)
            s->defaultType = TypeSuffix();
        if (AtStatementEnd())
            Fail(QStringLiteral("pbrun does not support %1 without a variable").arg(t[i - 1].text));
        do {
            if (Word("newlist") || Word("newmap"))
                Fail(QStringLiteral("pbrun does not support %1").arg(Peek().text));
            if (AcceptWord("dim")) {
                s->vars.push_back(DimItem());
                continue;
            }
            VarItem item;
            item.target = NameExpr();
            // Shared names an array by its name and "()"
            if (s->varKeyword == VarKeyword::Shared && Accept(Tok::LParen)) {
                Expect(Tok::RParen, ")");
                item.dim = true;
            }
            if (s->varKeyword != VarKeyword::Shared && Accept(Tok::Eq))
                item.init = Expression();
            s->vars.push_back(std::move(item));
        } while (Accept(Tok::Comma));
        return s;
    }

    VarItem DimItem()
    {
        VarItem item;
        item.dim = true;
        item.target = NameExpr();
        Expect(Tok::LParen, "(");
        do {
            item.dimensions.push_back(Expression());
        } while (Accept(Tok::Comma));
        Expect(Tok::RParen, ")");
        return item;
    }

    // A variable or pointer name with an optional type: "a", "a$", "a.l", "*p.ZemberPack".
    ExprPtr NameExpr()
    {
        if (Peek().kind != Tok::Ident && Peek().kind != Tok::Ptr)
            Fail(QStringLiteral("Syntax error: variable name expected"));
        ExprPtr e = NewExpr(ExprKind::Name, Pos());
        e->text = Peek().text;
        ++i;
        if (Peek().kind == Tok::Dot && !Peek().spaceBefore)
            e->type = TypeSuffix();
        return e;
    }

    StmtPtr FieldDecl()
    {
        const SourcePos pos = Pos();
        if (Word("array") || Word("list") || Word("map"))
            Fail(QStringLiteral("pbrun does not support %1 fields").arg(Peek().text));
        StmtPtr s = NewStmt(StmtKind::FieldDecl, pos);
        if (Peek().kind != Tok::Ident && Peek().kind != Tok::Ptr)
            Fail(QStringLiteral("Syntax error: field name expected"));
        s->pointer = Peek().kind == Tok::Ptr;
        s->name = s->pointer ? Peek().text.mid(1) : Peek().text;
        ++i;
        if (Peek().kind == Tok::Dot && !Peek().spaceBefore)
            s->type = TypeSuffix();
        if (Accept(Tok::LBracket)) {
            s->exprs.push_back(Expression());
            Expect(Tok::RBracket, "]");
        }
        return s;
    }

    StmtPtr EnumItem()
    {
        StmtPtr s = NewStmt(StmtKind::EnumItem, Pos());
        if (Peek().kind != Tok::Const)
            Fail(QStringLiteral("Syntax error: constant expected in Enumeration"));
        s->name = Peek().text;
        ++i;
        if (Accept(Tok::Eq))
            s->exprs.push_back(Expression());
        return s;
    }

    StmtPtr ImportDecl()
    {
        StmtPtr s = NewStmt(StmtKind::ImportDecl, Pos());
        Signature(*s);
        if (AcceptWord("as"))
            Fail(QStringLiteral("pbrun does not support As in imports"));
        return s;
    }

    StmtPtr ExpressionStatement(SourcePos pos)
    {
        ExprPtr target = Postfix();
        if (Accept(Tok::Eq)) {
            StmtPtr s = NewStmt(StmtKind::Assign, pos);
            s->exprs.push_back(std::move(target));
            s->exprs.push_back(Expression());
            return s;
        }
        static const std::pair<Tok, Op> opAssign[] = {
            {Tok::Plus, Op::Add},   {Tok::Minus, Op::Sub},  {Tok::Star, Op::Mul},    {Tok::Slash, Op::Div},
            {Tok::Amp, Op::BitAnd}, {Tok::Pipe, Op::BitOr}, {Tok::Bang, Op::BitXor}, {Tok::Shl, Op::Shl},
            {Tok::Shr, Op::Shr},    {Tok::Percent, Op::Mod}};
        for (const auto& [tok, op] : opAssign) {
            if (Peek().kind == tok) {
                ++i;
                StmtPtr s = NewStmt(StmtKind::OpAssign, pos);
                s->op = op;
                s->exprs.push_back(std::move(target));
                s->exprs.push_back(Expression());
                return s;
            }
        }
        // "a.b" alone declares the variable, as Define does (the manual's Variables page)
        if (target->kind == ExprKind::Name && target->type.suffix != Suffix::None && AtStatementEnd()) {
            StmtPtr s = NewStmt(StmtKind::Variables, pos);
            s->varKeyword = VarKeyword::Define;
            VarItem item;
            item.target = std::move(target);
            s->vars.push_back(std::move(item));
            return s;
        }
        if (target->kind != ExprKind::Call)
            Fail(QStringLiteral("Syntax error"));
        StmtPtr s = NewStmt(StmtKind::Expression, pos);
        s->exprs.push_back(std::move(target));
        return s;
    }

    // ---- expressions, by PureBasic's operator priorities ------------------------------------------------

    ExprPtr Binary(Op op, ExprPtr l, ExprPtr r, SourcePos pos)
    {
        ExprPtr e = NewExpr(ExprKind::Binary, pos);
        e->op = op;
        e->args.push_back(std::move(l));
        e->args.push_back(std::move(r));
        return e;
    }

    ExprPtr Expression()
    {
        ExprPtr l = NotLevel();
        for (;;) {
            const SourcePos pos = Pos();
            Op op;
            if (Word("and"))
                op = Op::And;
            else if (Word("or"))
                op = Op::Or;
            else if (Word("xor"))
                op = Op::XOr;
            else
                return l;
            ++i;
            l = Binary(op, std::move(l), NotLevel(), pos);
        }
    }

    ExprPtr NotLevel()
    {
        const Nest nest(*this);
        if (Word("not")) {
            const SourcePos pos = Pos();
            ++i;
            ExprPtr e = NewExpr(ExprKind::Unary, pos);
            e->op = Op::Not;
            e->args.push_back(NotLevel());
            return e;
        }
        return Comparison();
    }

    template <typename Next> ExprPtr Level(std::initializer_list<std::pair<Tok, Op>> ops, Next next)
    {
        ExprPtr l = (this->*next)();
        for (;;) {
            const SourcePos pos = Pos();
            const Tok k = Peek().kind;
            bool found = false;
            for (const auto& [tok, op] : ops) {
                if (k == tok) {
                    ++i;
                    l = Binary(op, std::move(l), (this->*next)(), pos);
                    found = true;
                    break;
                }
            }
            if (!found)
                return l;
        }
    }

    ExprPtr Comparison()
    {
        return Level({{Tok::Eq, Op::Eq},
                      {Tok::Ne, Op::Ne},
                      {Tok::Lt, Op::Lt},
                      {Tok::Le, Op::Le},
                      {Tok::Gt, Op::Gt},
                      {Tok::Ge, Op::Ge}},
                     &P::Additive);
    }
    ExprPtr Additive() { return Level({{Tok::Plus, Op::Add}, {Tok::Minus, Op::Sub}}, &P::Multiplicative); }
    ExprPtr Multiplicative() { return Level({{Tok::Star, Op::Mul}, {Tok::Slash, Op::Div}}, &P::Bitwise); }
    ExprPtr Bitwise() { return Level({{Tok::Amp, Op::BitAnd}, {Tok::Pipe, Op::BitOr}}, &P::Shift); }
    ExprPtr Shift()
    {
        return Level({{Tok::Shl, Op::Shl}, {Tok::Shr, Op::Shr}, {Tok::Percent, Op::Mod}, {Tok::Bang, Op::BitXor}},
                     &P::Unary);
    }

    ExprPtr Unary()
    {
        const Nest nest(*this);
        const SourcePos pos = Pos();
        if (Peek().kind == Tok::Minus || Peek().kind == Tok::Tilde) {
            ExprPtr e = NewExpr(ExprKind::Unary, pos);
            e->op = Peek().kind == Tok::Minus ? Op::Neg : Op::BitNot;
            ++i;
            e->args.push_back(Unary());
            return e;
        }
        return Postfix();
    }

    ExprPtr Postfix()
    {
        ExprPtr e = Primary();
        while (Peek().kind == Tok::Backslash) {
            const SourcePos pos = Pos();
            ++i;
            if (Peek().kind != Tok::Ident)
                Fail(QStringLiteral("Syntax error: field name expected after '\\'"));
            ExprPtr f = NewExpr(ExprKind::Field, pos);
            f->text = Peek().text;
            ++i;
            f->args.push_back(std::move(e));
            if (Accept(Tok::LBracket)) {
                f->bracketIndex = true;
                f->args.push_back(Expression());
                Expect(Tok::RBracket, "]");
            }
            e = std::move(f);
        }
        return e;
    }

    std::vector<ExprPtr> Arguments()
    {
        std::vector<ExprPtr> args;
        Expect(Tok::LParen, "(");
        if (Accept(Tok::RParen))
            return args;
        do {
            args.push_back(Expression());
        } while (Accept(Tok::Comma));
        Expect(Tok::RParen, ")");
        return args;
    }

    ExprPtr Primary()
    {
        const Token& tok = Peek();
        const SourcePos pos = Pos();
        switch (tok.kind) {
        case Tok::Int: {
            ExprPtr e = NewExpr(ExprKind::Int, pos);
            e->intValue = tok.intValue;
            e->text = tok.text;
            ++i;
            return e;
        }
        case Tok::Float: {
            ExprPtr e = NewExpr(ExprKind::Float, pos);
            e->floatValue = tok.floatValue;
            e->text = tok.text;
            ++i;
            return e;
        }
        case Tok::String: {
            ExprPtr e = NewExpr(ExprKind::String, pos);
            e->text = tok.text;
            ++i;
            return e;
        }
        case Tok::Const: {
            ExprPtr e = NewExpr(ExprKind::Constant, pos);
            e->text = tok.text;
            ++i;
            return e;
        }
        case Tok::LParen: {
            ++i;
            ExprPtr e = Expression();
            Expect(Tok::RParen, ")");
            return e;
        }
        case Tok::At: {
            ++i;
            ExprPtr e = NewExpr(ExprKind::AddressOf, pos);
            if (Peek().kind == Tok::String)
                Fail(QStringLiteral("pbrun does not support the address of a string"));
            if (Peek().kind != Tok::Ident && Peek().kind != Tok::Ptr)
                Fail(QStringLiteral("Syntax error: name expected after '@'"));
            e->args.push_back(Postfix());
            return e;
        }
        case Tok::Question: {
            ++i;
            if (Peek().kind != Tok::Ident)
                Fail(QStringLiteral("Syntax error: label expected after '?'"));
            ExprPtr e = NewExpr(ExprKind::LabelAddr, pos);
            e->text = Peek().text;
            ++i;
            return e;
        }
        case Tok::Ptr:
            return NameExpr();
        case Tok::Ident: {
            if (IsReservedWord(tok.text))
                Fail(QStringLiteral("Syntax error: unexpected %1").arg(tok.text));
            if (Peek(1).kind == Tok::LParen)
                return CallOrSpecial();
            return NameExpr();
        }
        default:
            Fail(QStringLiteral("Syntax error"));
        }
    }

    ExprPtr CallOrSpecial()
    {
        const SourcePos pos = Pos();
        const QString name = Peek().text;
        const QString lower = name.toLower();
        if (lower == u"defined") {
            i += 2;
            ExprPtr e = NewExpr(ExprKind::Defined, pos);
            if (Peek().kind == Tok::Const || Peek().kind == Tok::Ptr)
                Fail(QStringLiteral("Syntax error: Defined() takes the name without decoration"));
            if (Peek().kind != Tok::Ident)
                Fail(QStringLiteral("Syntax error: name expected in Defined()"));
            e->text = Peek().text;
            ++i;
            Expect(Tok::Comma, ",");
            e->args.push_back(Expression());
            Expect(Tok::RParen, ")");
            return e;
        }
        if (lower == u"sizeof") {
            i += 2;
            ExprPtr e = NewExpr(ExprKind::SizeOf, pos);
            if (Peek().kind != Tok::Ident && Peek().kind != Tok::Ptr)
                Fail(QStringLiteral("Syntax error: type or variable expected in SizeOf()"));
            e->text = Peek().text;
            ++i;
            Expect(Tok::RParen, ")");
            return e;
        }
        if (lower == u"offsetof") {
            i += 2;
            ExprPtr e = NewExpr(ExprKind::OffsetOf, pos);
            if (Peek().kind != Tok::Ident)
                Fail(QStringLiteral("Syntax error: structure expected in OffsetOf()"));
            e->text = Peek().text;
            ++i;
            Expect(Tok::Backslash, "\\");
            if (Peek().kind != Tok::Ident)
                Fail(QStringLiteral("Syntax error: field expected in OffsetOf()"));
            e->type.name = Peek().text;
            ++i;
            Expect(Tok::RParen, ")");
            return e;
        }
        if (lower == u"bool") {
            ++i;
            ExprPtr e = NewExpr(ExprKind::Bool, pos);
            e->text = name;
            e->args = Arguments();
            if (e->args.size() != 1)
                Fail(QStringLiteral("Bool() takes one expression"));
            return e;
        }
        ExprPtr e = NewExpr(ExprKind::Call, pos);
        e->text = name;
        ++i;
        e->args = Arguments();
        return e;
    }
};

} // namespace

ParseResult Parse(const std::vector<Token>& tokens, int file, int& nextId)
{
    ParseResult result;
    P parser(tokens, file, nextId);
    try {
        result.body = parser.File();
    } catch (const Failure& f) {
        result.body.clear();
        result.error = f.message;
        result.errorLine = f.line;
    } catch (const LineError& e) {
        result.body.clear();
        result.error = e.message;
    }
    return result;
}

} // namespace hexaloom::pbrun
