#pragma once
// What the checker hands the evaluator for one target: the side table of bindings (one per syntax node,
// indexed by the node's id), the variables, procedures, structures, imports, labels and the data section.
// The syntax tree itself stays shared and untouched, so one parse serves every target.
#include "Ast.h"
#include "ResFile.h"
#include "Target.h"
#include "Types.h"
#include "VersionTable.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <utility>
#include <vector>

namespace hexaloom::pbrun {

enum class Bind : std::uint8_t {
    None,
    Const,     // a: index into constants
    Var,       // a: variable index
    ArrayElem, // a: variable index (the array)
    Field,     // a: offset, b: element size for name[i] (0 otherwise), type/structId: the field's
    Proc,      // a: procedure index
    Builtin,   // a: index into BuiltinTable()
    Import,    // a: import index
    AddrVar,   // @var: a: variable index
    AddrArray, // @array(i): a: variable index
    AddrField, // @x\field: the Field binding is on the child
    LabelAddr, // a: label index
    Op,        // unary/binary operator: cls is the result's, operandCls the operands'
    Bool,      // Bool(cond)
    Branch,    // CompilerIf/CompilerSelect: a: the branch taken, -1 for none
    Include,   // a: the included file's index, -1 for an XIncludeFile already included
    ReadData,  // Read: type of the data read
    Restore,   // a: label index
    Stmt,      // a statement that runs (kind tells what)
    ForLoop,   // For: a: step constant index
    Skip,      // compile-time only: nothing to run
};

struct Binding
{
    Bind kind = Bind::None;
    Cls cls = Cls::None;        // the value class of an expression
    Cls operandCls = Cls::None; // operators: the class the operands are computed in
    Type type = Type::None;     // the storage type (variables, fields, reads)
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::int32_t structId = -1;
};

struct VarInfo
{
    QString name;
    Type type = Type::None;
    int structId = -1; // a structure variable, or a pointer to a structure
    bool pointer = false;
    bool array = false;
    bool global = true;  // main-level, Global, Static and Shared variables; otherwise a procedure's local
    bool memory = false; // kept in a block of the address space (its address may be taken)
    int cell = 0;        // index in the global or local cells
    int size = 0;        // bytes of a memory variable (an array: one element)
    int dimensions = 0;
    SourcePos pos;
};

struct ParamInfo
{
    int var = 0; // the local variable that receives it
    Cls cls = Cls::None;
    int defaultConst = -1; // constant index, or -1 when the parameter has no default
};

struct ProcInfo
{
    QString name;
    Type result = Type::None;
    Cls resultCls = Cls::None;
    std::vector<ParamInfo> params;
    const Stmt* definition = nullptr;
    int cells = 0;           // local cells
    std::vector<int> locals; // every local variable (parameters first)
    bool dll = false;
    SourcePos declaredAt;
};

struct FieldInfo
{
    QString name;
    Type type = Type::None;
    int structId = -1;
    bool pointer = false;
    int offset = 0;
    int count = 0; // static array "name.T[count]"; 0 when none
};

struct StructInfo
{
    QString name;
    int size = 0;
    std::vector<FieldInfo> fields;
};

struct ImportInfo
{
    QString name;
    BuiltinFn handler = nullptr;
    Cls resultCls = Cls::None;
    Type result = Type::None;
    std::vector<Cls> params;
};

struct LabelInfo
{
    QString name;
    int offset = -1; // in the data section; -1 for a label outside it
    SourcePos pos;
};

struct CompiledProgram
{
    Target target;
    std::vector<Binding> bindings; // by node id
    std::vector<Value> constants;
    std::vector<VarInfo> vars;
    std::vector<ProcInfo> procs;
    std::vector<StructInfo> structs;
    std::vector<ImportInfo> imports;
    std::vector<LabelInfo> labels;
    QByteArray data; // the data section, as laid out
    int globalCells = 0;
    int mainFile = 0;
    std::vector<ResEntry> resources;         // from imported .res files
    QSet<QPair<QString, int>> branchesTaken; // (file path, line of the branch keyword)

    const Binding& at(const Expr& e) const { return bindings[std::size_t(e.id)]; }
    const Binding& at(const Stmt& s) const { return bindings[std::size_t(s.id)]; }
};

} // namespace hexaloom::pbrun
