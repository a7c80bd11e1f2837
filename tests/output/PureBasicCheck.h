#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace hexaloom::test {

// A static reading of PureBasic source, for tests: no PureBasic compiler runs here, so the generated
// code and the access-code templates are checked for what can be checked without one — the bytes
// (byte-order mark, CR LF line ends, final line end, UTF-8), the block structure (every block keyword
// balanced and properly nested, middle keywords inside their block), procedures defined once, and
// keywords used as names. Strings, character constants and ";" comments are skipped and ":" splits
// statements. The query helpers let tests ask what the code declares and calls, and where.
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
    struct Frame
    {
        int kind = 0;
        int line = 0;
        int branch = 0;
        bool sawElse = false; // Else, CompilerElse, Default or CompilerDefault seen
        QStringList condition;
    };
    struct Definition
    {
        QString name;
        int line = 0;
        QList<QPair<int, int>> compilerPath; // (frame index, branch) of the compiler blocks around it
        QStringList signature;
    };

    void checkBytes(const QByteArray& source, Bom bom);
    void parse(const QString& text);
    void tokenizeLine(const QString& line, int lineNumber);
    void finishStatement(QStringList& tokens, QList<int>& kinds, int lineNumber, bool endedByColon);
    void handleStatement(const QStringList& tokens, const QList<int>& kinds, int lineNumber);
    void checkDuplicates();
    void problem(int line, const QString& text);

    QStringList m_problems;
    QList<Statement> m_statements;
    QList<Frame> m_frames; // every block opened, in order
    QList<int> m_stack;    // indexes into m_frames of the blocks open now
    QList<Definition> m_definitions;
    QStringList m_procedureOrder;
    QStringList m_labels;
    QStringList m_labelReferences;
};

} // namespace hexaloom::test
