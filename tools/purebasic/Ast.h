#pragma once
// Every node of the syntax tree, in one place. The parser builds the union grammar of all PureBasic
// versions (every CompilerIf branch is parsed); what a version does not allow is the checker's concern.
// Nodes are immutable once parsed and carry a dense id, so that the checker's results for one target live
// in a side table indexed by it and one parse serves every target.
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace hexaloom::pbrun {

struct SourcePos
{
    int file = -1; // index into the source cache
    int line = 0;
};

// A type suffix as written: ".l", ".s", ".ZemberPack". The native ones in the order of Type.
enum class Suffix : std::uint8_t { None, B, A, C, W, U, L, I, Q, F, D, S, Named };

struct TypeName
{
    Suffix suffix = Suffix::None;
    QString name; // the structure's name for Suffix::Named
};

struct Expr;
struct Stmt;
using ExprPtr = std::unique_ptr<Expr>;
using StmtPtr = std::unique_ptr<Stmt>;
using Body = std::vector<StmtPtr>;

enum class ExprKind : std::uint8_t {
    Int,       // integer literal (also 'c' character constants)
    Float,     // floating point literal
    String,    // string literal
    Constant,  // #Name
    Name,      // a variable or pointer: name (with "$" or "*"), optional type suffix
    Call,      // name(args): procedure, built-in, imported function or array element
    Field,     // base\name or base\name[index]
    Unary,     // -x, ~x, Not x
    Binary,    // x op y
    AddressOf, // @name, @name(), @base\field
    LabelAddr, // ?Label
    Defined,   // Defined(name, kind)
    SizeOf,    // SizeOf(type or variable)
    OffsetOf,  // OffsetOf(Structure\Field)
    Bool,      // Bool(condition)
};

enum class Op : std::uint8_t {
    Add,
    Sub,
    Mul,
    Div,
    Mod,
    BitAnd,
    BitOr,
    BitXor,
    Shl,
    Shr,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    And,
    Or,
    XOr,
    Neg,
    BitNot,
    Not,
};

struct Expr
{
    ExprKind kind;
    Op op = Op::Add;
    int id = 0;
    SourcePos pos;
    std::int64_t intValue = 0;
    double floatValue = 0;
    QString text;              // literal text, constant/variable/procedure/field/label name (as written)
    TypeName type;             // Name with a suffix; SizeOf's type
    std::vector<ExprPtr> args; // Call arguments; Unary: [0]; Binary: [0], [1]; Field: [0] base, [1] index
    bool bracketIndex = false; // Field: a static array element "name[i]"
};

enum class StmtKind : std::uint8_t {
    Expression, // a call standing alone
    Assign,     // target = value
    OpAssign,   // target op value ("a + 1" adds to a)
    If,         // branches; elseBody
    For,        // For target = from To to [Step step]
    While,
    Repeat, // Until cond, or ForEver (no condition)
    Select,
    Break,
    Continue,
    ProcedureReturn,
    End,
    Declare, // Procedure prototype before use
    Procedure,
    Variables,   // Define / Global / Protected / Static / Shared, with or without Dim
    Dim,         // Dim / ReDim
    ConstantDef, // #Name = value
    Enumeration,
    EnumItem, // inside Enumeration: #Name [= value]
    Structure,
    FieldDecl,  // inside Structure
    Import,     // Import / ImportC "lib" ... EndImport
    ImportDecl, // inside Import: name.type(params)
    CompilerIf,
    CompilerSelect,
    CompilerError,
    Explicit, // EnableExplicit / DisableExplicit
    DataSection,
    Label,
    Data,
    IncludeBinary,
    Restore,
    Read,
    Include, // IncludeFile / XIncludeFile
    Debug,
    Unsupported, // a construct pbrun refuses when it is compiled
    Invalid,     // a line that could not be parsed; an error when it is compiled
};

enum class VarKeyword : std::uint8_t { Define, Global, Protected, Static, Shared };

struct Param
{
    QString keyword; // "Array", "List" or "Map" before an array, list or map parameter; empty otherwise
    QString name;    // with "*" or "$" as written
    TypeName type;
    ExprPtr defaultValue;
    SourcePos pos;
};

struct VarItem
{
    ExprPtr target;                  // the Name (possibly typed)
    std::vector<ExprPtr> dimensions; // Dim items: the sizes
    ExprPtr init;                    // "= value"
    bool dim = false;
};

// One branch of If/CompilerIf (condition null for Else), one Case of Select/CompilerSelect
// (values empty for Default).
struct Branch
{
    ExprPtr condition;
    std::vector<ExprPtr> values;    // Case values
    std::vector<ExprPtr> rangeEnds; // parallel to values: the end of a range "a To b", or null
    Body body;
    SourcePos pos;
};

struct Stmt
{
    StmtKind kind;
    int id = 0;
    SourcePos pos;
    SourcePos endPos;      // the closing keyword's line for blocks
    int continuedLine = 0; // a line of its first line's statements joined to the line before, or 0
    QString name;          // procedure, constant, structure, label, field, import lib text, message
    TypeName type;         // procedure result, Data/Read type, field type, Enumeration default
    Op op = Op::Add;       // OpAssign
    bool flag = false;     // XIncludeFile, ImportC, EnableExplicit, ProcedureDLL, ReDim, ForEver, binary enum
    VarKeyword varKeyword = VarKeyword::Define;
    TypeName defaultType;       // "Global.l a, b"
    std::vector<ExprPtr> exprs; // Assign: target, value; For: target, from, to, step; While/Repeat: cond;
                                // ProcedureReturn/End/Debug/CompilerError/Include/IncludeBinary/Restore/Read:
                                // [0]; Data: values; Enumeration: start, step; Select: [0]; Import: lib;
                                // EnumItem/ConstantDef: value; FieldDecl: array size
    std::vector<Param> params;
    std::vector<VarItem> vars;
    std::vector<Branch> branches;   // If, Select, CompilerIf, CompilerSelect (Else/Default: condition and
                                    // values empty, last)
    Body body;                      // Procedure, While, Repeat, For, Structure, Enumeration, Import, DataSection
    std::vector<std::int64_t> ints; // Data: the values when all are integer literals (exprs then empty)
    int arraySize = 0;              // FieldDecl: "Magic.b[6]" gives 6; 0 when no array
    bool pointer = false;           // FieldDecl, ImportDecl: "*name"
};

inline ExprPtr MakeExpr(ExprKind kind, SourcePos pos)
{
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->pos = pos;
    return e;
}

inline StmtPtr MakeStmt(StmtKind kind, SourcePos pos)
{
    auto s = std::make_unique<Stmt>();
    s->kind = kind;
    s->pos = pos;
    return s;
}

} // namespace hexaloom::pbrun
