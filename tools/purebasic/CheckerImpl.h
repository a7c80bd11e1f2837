#pragma once
// The checker's parts: one class, its members defined by what they do: includes and the run
// (Checker.cpp), constant folding (CheckerConstants.cpp), name binding of types, variables,
// expressions and procedures (CheckerNames.cpp), statements and compiler directives
// (CheckerStatements.cpp), structure and DataSection layout (CheckerData.cpp), imports and the link
// step (CheckerLink.cpp). Only those files include this one.
#include "Arith.h"
#include "Builtins.h"
#include "Checker.h"
#include "Lexer.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <cmath>
#include <functional>

namespace hexaloom::pbrun::checking {

struct CompileError
{
    SourcePos pos;
    QString message;
};

struct VarType
{
    Type type = Type::None;
    int structId = -1;
    bool pointer = false;
};

struct ConstEntry
{
    Value value;
    Cls cls = Cls::None;
    SourcePos pos;
};

struct Scope
{
    QHash<QString, int> vars;
    QHash<QString, int> arrays;
};

inline QString Key(const QString& name)
{
    return name.toLower();
}

inline Cls Wider(Cls a, Cls b)
{
    if (a == Cls::String || b == Cls::String)
        return Cls::String;
    if (a == Cls::Double || b == Cls::Double)
        return Cls::Double;
    if (a == Cls::Float || b == Cls::Float)
        return Cls::Float;
    if (a == Cls::Int64 || b == Cls::Int64)
        return Cls::Int64;
    return Cls::Int32;
}

class Checker
{
public:
    Checker(SourceCache& cache, const Target& target, const CheckOptions& options);

    CheckResult Run(const QString& mainPath);

private:
    enum class Ctx { Main, Procedure, Structure, Enumeration, Import, Data };

    SourceCache& m_cache;
    const CheckOptions& m_options;
    std::unique_ptr<CompiledProgram> m_prog;
    const Target& target() const { return m_prog->target; }

    QString m_mainFolder;
    std::vector<SourcePos> m_includeStack;
    std::vector<int> m_fileStack;
    QSet<QString> m_xincluded;

    Scope m_main;    // main-level names (globals among them)
    Scope m_globals; // Global: visible in procedures too
    Scope m_local;
    int m_proc = -1; // the procedure being checked
    QSet<QString> m_addressed;
    int m_globalCells = 0;
    int m_loopDepth = 0;
    int m_blockDepth = 0; // If/loops/Select around the statement
    bool m_explicit = false;

    QHash<QString, ConstEntry> m_constants;
    QHash<QString, int> m_structs;
    QHash<QString, int> m_procs;
    QHash<QString, int> m_imports;
    QHash<QString, int> m_labels;
    QSet<int> m_definedProcs;
    std::vector<std::pair<int, SourcePos>> m_calledProcs;
    std::vector<std::pair<int, SourcePos>> m_labelUses;
    std::vector<std::pair<QString, SourcePos>> m_linkErrors;

    // Enumeration state
    std::int64_t m_enumNext = 0;
    std::int64_t m_enumStep = 1;
    bool m_enumBinary = false;
    // Structure being laid out
    StructInfo* m_struct = nullptr;
    int m_building = -1;
    // Import being read
    bool m_importC = false;

    QStringList m_warnings;
    QString m_foldRefusal; // why the last folding gave no constant, when pbrun refuses to pick one

    [[noreturn]] void Error(SourcePos pos, const QString& message) const { throw CompileError{pos, message}; }

    // A table row whose fact the sources do not settle for this version: the program compiles, and the
    // use is reported once per place, so what the run proves is read with it.
    void NoteFact(const char* note, const QString& what, SourcePos pos);

    // Whether the files being compiled define `name` as a `kind` further on: then a use before it is
    // the compiler's own error; otherwise the name is one of PureBasic's that pbrun's tables lack.
    bool DefinedFurtherOn(StmtKind kind, const QString& name) const;

    Binding& B(int id);
    Binding& B(const Expr& e) { return B(e.id); }
    Binding& B(const Stmt& s) { return B(s.id); }

    int AddConst(const Value& v);

    // ---- files ------------------------------------------------------------------------------------------

    int LoadFile(const QString& path, SourcePos from);

    // Where a relative include or binary file is looked up: from 5.30 the folder of the file holding the
    // statement; before, the main source's folder (history 5.30: "(X)IncludeFile and IncludeBinary ...
    // now relative to the file which contains these statements").
    QString Resolve(const QString& name, SourcePos pos) const;

    // ---- types ------------------------------------------------------------------------------------------

    void AddPredefinedStructures();

    // Suffix and Type list the native types in the same order.
    static_assert(int(Suffix::B) == int(Type::B) && int(Suffix::S) == int(Type::S));
    Type NativeType(Suffix s, SourcePos pos) const;

    Type DefaultType() const { return target().version >= Since::IntegerType ? Type::I : Type::L; }

    int StructByName(const QString& name, SourcePos pos) const;

    VarType ResolveType(const QString& name, const TypeName& tn, Type fallback, SourcePos pos) const;

    Cls VarCls(const VarInfo& v) const;

    // ---- names ------------------------------------------------------------------------------------------

    void CheckName(const QString& name, SourcePos pos) const;

    int NewVar(const QString& name, const VarType& vt, bool global, bool array, SourcePos pos);

    int FindInScopes(const QString& name, QHash<QString, int> Scope::*kind) const;
    int FindVar(const QString& name) const;

    int FindArray(const QString& name) const;

    // A variable used without a declaration: an error under EnableExplicit, else a new one in the
    // current scope (a local inside a procedure).
    int ImplicitVar(const Expr& e);

    // A variable reference: the variable, declared on first use where that is allowed.
    int VarRef(const Expr& e);

    // ---- constants ----------------------------------------------------------------------------------------

    // #PB_Compiler_*: the value from the target and the source, the versions from the table.
    std::optional<ConstEntry> CompilerConstant(const QString& name, SourcePos pos, QString* why = nullptr);

    std::optional<ConstEntry> LookupConstant(const QString& name, SourcePos pos, QString* why);

    // Defines #name (without "#"): a second definition with another value is an error.
    void DefineConstant(const QString& name, const ConstEntry& c, SourcePos pos);

    // The value of a constant expression, or nothing when it is not one (it may still be a valid
    // run-time expression). Errors in it are reported.
    std::optional<ConstEntry> Fold(const Expr& e);

    // A constant condition (CompilerIf, Bool of constants): true/false, or nothing when not constant.
    std::optional<bool> FoldCondition(const Expr& e);

    ConstEntry RequireConst(const Expr& e, const char* what);

    bool RequireCondition(const Expr& e);

    void CheckAsciiLiteral(const QString& text, SourcePos pos) const;

    bool DefinedValue(const Expr& e);

    std::int64_t SizeOfValue(const Expr& e);

    static const FieldInfo* FindField(const StructInfo& s, const QString& name);

    // ---- arithmetic (shared by constant folding and the evaluator's rules) -------------------------------

    Cls BinaryCls(const Expr& e, Cls a, Cls b) const;

    std::int64_t FoldIntOp(const Expr& e, std::int64_t x, std::int64_t y, Cls cls) const;

    // ---- expressions ---------------------------------------------------------------------------------------

    // An integer expression whose value is used only in its low 32 bits (stored in a long or narrower,
    // passed as one): computed in 32 or in 64 bits it gives the same there. Marks the 32-bit operators
    // it is made of, down through those whose low bits depend only on their operands' low bits; the
    // evaluator refuses an unmarked one on a 64-bit target where the two widths disagree.
    void LowBitsOnly(const Expr& e);

    // Checks a value expression; returns its class. Comparisons and logic are refused here.
    Cls ValueExpr(const Expr& e);

    QString OutsideCondition(const QString& what) const;

    // Checks a condition (If, While, Until, Bool): comparisons and logic allowed.
    void Condition(const Expr& e);

    // name(args): an array element, a procedure, an imported function or a built-in.
    Cls Call(const Expr& e, bool valueWanted);

    static std::size_t RequiredParams(const ProcInfo& p);

    void CheckArgCount(const Expr& e, int required, int total, const QString& since = {}) const;

    void Argument(const Expr& arg, Cls want, const QString& function);

    void IntArg(const Expr& arg);

    // base\field or base\field[i]: binds the field's offset and type.
    void FieldAccess(const Expr& e);

    void AddressOf(const Expr& e);

    // An assignable place: a variable (declared on first use), an array element or a field.
    Cls PlaceExpr(const Expr& e, bool declare);

    void Assignable(Cls place, Cls value, SourcePos pos) const;

    int LabelIndex(const QString& name);

    // A use of a label; labels may be used before they are defined, so uses are checked at the link step.
    int LabelRef(const QString& name, SourcePos pos);

    // `offset` in the data section, or -1 for a label in the code.
    void DefineLabel(const Stmt& s, int offset);

    // ---- statements ---------------------------------------------------------------------------------------

    void CheckBody(const Body& body, Ctx ctx);

    void Statement(const Stmt& s, Ctx ctx);

    std::int64_t IntConst(const Expr& e, const char* what);

    std::int64_t EnumConst(const Expr& e, const char* what);

    void NotInBlock(const Stmt& s, const char* what) const;

    void CompilerIf(const Stmt& s, Ctx ctx);

    void CompilerSelect(const Stmt& s, Ctx ctx);

    void TakeBranch(const Stmt& s, int taken, Ctx ctx);

    void For(const Stmt& s, Ctx ctx);

    void Select(const Stmt& s, Ctx ctx);

    // ---- procedures ---------------------------------------------------------------------------------------

    ProcInfo Prototype(const Stmt& s);

    static bool SameValue(const Value& a, const Value& b);

    bool SameSignature(const ProcInfo& a, const ProcInfo& b) const;

    void Declare(const Stmt& s);

    void ClashCheck(const QString& name, SourcePos pos) const;

    void Procedure(const Stmt& s, Ctx ctx);

    // ---- variables ----------------------------------------------------------------------------------------

    void Variables(const Stmt& s);

    void Dim(const Stmt& s);

    void DimItem(const VarItem& item, VarKeyword kw, Type fallback, bool redim, SourcePos pos);

    void Read(const Stmt& s);

    // ---- structures, enumerations, imports, data ----------------------------------------------------------

    void Structure(const Stmt& s);

    // Fields are packed: PureBasic aligns structures to 1 byte unless Align is given.
    void StructureItem(const Stmt& s);

    void EnumerationItem(const Stmt& s);

    void Import(const Stmt& s);

    void ImportItem(const Stmt& s);

    void LinkResFile(const QString& path, SourcePos pos);

    void DataItem(const Stmt& s);

    // Data.s, Data.f, Data.d: strings are laid out in the program's character format with their zero
    // (unconfirmed: the manual does not describe the layout).
    void PutTyped(Type type, double d, const QString& text, SourcePos pos);

    void Include(const Stmt& s, Ctx ctx);

    // ---- the link step ------------------------------------------------------------------------------------

    void Link();
};

} // namespace hexaloom::pbrun::checking
