#pragma once

#include "Ast.h"
#include "Lexer.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace hexaloom::test {

// A static reading of PureBasic source, for tests: the generated code and the access-code templates are
// checked for what can be checked without running them — the bytes (byte-order mark, CR LF line ends,
// final line end, UTF-8), then what pbrun's lexer and parser find (block structure, lines they cannot
// read), procedures defined once, and keywords used as parameter names. The query helpers let tests ask
// what the code declares and calls, and where: statements as pbrun's lexer splits them, depth, compiler
// branches, procedures and labels from its syntax tree.
class PureBasicCheck
{
public:
    enum class Bom { Required, Forbidden, Optional };

    // One CompilerIf / CompilerSelect around a statement: where it opens, its condition tokens and which
    // branch the statement is in (0 = the first, 1 = after the first CompilerElse/CompilerCase, ...).
    struct CompilerBranch
    {
        int line = 0;
        QStringList condition;
        int branch = 0;
    };

    struct Statement
    {
        int line = 0;
        QStringList tokens; // as written: identifiers, #constants, *pointers, .types, \fields, "strings", operators
        int depth = 0;      // blocks open around it
        QList<CompilerBranch> compilerBranches; // outermost first
    };

    explicit PureBasicCheck(const QByteArray& source, Bom bom = Bom::Required);

    // Every problem found, as "line N: what", in source order within each kind of check.
    QStringList problems() const { return m_problems; }
    bool isClean() const { return m_problems.isEmpty(); }

    // Procedure names in order of first definition, as written.
    QStringList procedures() const { return m_procedureOrder; }
    int procedureDefinitions(const QString& name) const;
    // The line of the first definition of `name`, or 0.
    int procedureLine(const QString& name) const;
    // The tokens of that definition's statement (keyword, type, name, parameter list).
    QStringList procedureSignature(const QString& name) const;

    // `name` (case-insensitive, whole identifier) somewhere in the code, outside strings and comments.
    bool hasIdentifier(const QString& name) const;
    // `name` followed by "(" (a type suffix may stand between): a call, or a function's import
    // declaration; a Procedure or Declare statement does not call the procedure it names.
    bool hasCall(const QString& name) const;
    // The statements that call `name`.
    QList<Statement> callsOf(const QString& name) const;

    // Labels defined ("Name:") and labels used (?Name, Restore Name), as written.
    QStringList labels() const { return m_labels; }
    QStringList labelReferences() const { return m_labelReferences; }
    // Labels used but not defined in this source (a template alone uses the labels its include defines).
    QStringList undefinedLabels() const;

    const QList<Statement>& statements() const { return m_statements; }
    // The line of the first statement at or after `fromLine` whose leading tokens equal `leading`
    // (blank-separated, case-insensitive; e.g. "Structure ZemberPack"), or 0.
    int findStatement(const QString& leading, int fromLine = 1) const;

private:
    struct Definition
    {
        QString name;
        int line = 0;
        QList<QPair<int, int>> compilerPath; // (opening line, branch) of the compiler blocks around it
        QStringList signature;
    };
    // Where a line stands in the syntax tree: blocks open around it and the compiler branches it is in.
    struct Place
    {
        int depth = 0;
        QList<CompilerBranch> branches;
    };

    void checkBytes(const QByteArray& source, Bom bom);
    void parse(const QString& text);
    void collectStatements(const std::vector<pbrun::Token>& tokens);
    void walk(const pbrun::Body& body, int depth, const QList<CompilerBranch>& branches);
    void checkDuplicates();
    void problem(int line, const QString& text);

    QStringList m_problems;
    QList<Statement> m_statements;
    QHash<int, Place> m_places; // by line
    int m_openProcedure = 0;    // the line of the procedure walk() is in, or 0
    QList<Definition> m_definitions;
    QStringList m_procedureOrder;
    QStringList m_labels;
    QStringList m_labelReferences;
};

} // namespace hexaloom::test
