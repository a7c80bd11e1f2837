#include "Checker.h"

#include "Arith.h"
#include "Builtins.h"
#include "Lexer.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <cmath>
#include <functional>

namespace hexaloom::pbrun {

namespace {

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

QString Key(const QString& name)
{
    return name.toLower();
}

Cls Wider(Cls a, Cls b)
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

// Which names have their address taken (@name) in a procedure body: those locals live in memory.
void CollectAddressed(const Expr& e, QSet<QString>& out)
{
    if (e.kind == ExprKind::AddressOf && !e.args.empty() && e.args[0]->kind == ExprKind::Name)
        out.insert(Key(e.args[0]->text));
    for (const ExprPtr& a : e.args)
        if (a)
            CollectAddressed(*a, out);
}

void CollectAddressed(const Body& body, QSet<QString>& out)
{
    for (const StmtPtr& s : body) {
        for (const ExprPtr& e : s->exprs)
            if (e)
                CollectAddressed(*e, out);
        for (const VarItem& v : s->vars) {
            if (v.init)
                CollectAddressed(*v.init, out);
            for (const ExprPtr& d : v.dimensions)
                CollectAddressed(*d, out);
        }
        for (const Branch& b : s->branches) {
            if (b.condition)
                CollectAddressed(*b.condition, out);
            CollectAddressed(b.body, out);
        }
        CollectAddressed(s->body, out);
    }
}

class Checker
{
public:
    Checker(SourceCache& cache, const Target& target, const CheckOptions& options)
        : m_cache(cache), m_options(options), m_prog(std::make_unique<CompiledProgram>())
    {
        m_prog->target = target;
        AddPredefinedStructures();
    }

    CheckResult Run(const QString& mainPath)
    {
        CheckResult result;
        try {
            const int main = LoadFile(mainPath, {});
            m_prog->mainFile = main;
            m_mainFolder = QFileInfo(mainPath).absolutePath();
            m_fileStack.push_back(main);
            CheckBody(m_cache.file(main).body, Ctx::Main);
            m_fileStack.pop_back();
            Link();
            m_prog->globalCells = m_globalCells;
            result.branchesTaken = m_prog->branchesTaken;
            result.warnings = m_warnings;
            result.program = std::move(m_prog);
        } catch (const CompileError& e) {
            result.branchesTaken = m_prog->branchesTaken;
            result.warnings = m_warnings;
            result.diagnostics << QStringLiteral("%1: error: %2").arg(m_cache.Place(e.pos), e.message);
            for (auto it = m_includeStack.rbegin(); it != m_includeStack.rend(); ++it)
                result.diagnostics << QStringLiteral("  included from %1").arg(m_cache.Place(*it));
        }
        return result;
    }

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
    bool m_importZlib = false;

    QStringList m_warnings;
    QString m_foldRefusal; // why the last folding gave no constant, when pbrun refuses to pick one

    [[noreturn]] void Error(SourcePos pos, const QString& message) const { throw CompileError{pos, message}; }

    // A table row whose fact the sources do not settle for this version: the program compiles, and the
    // use is reported once per place, so what the run proves is read with it.
    void NoteFact(const char* note, const QString& what, SourcePos pos)
    {
        static const QLatin1String unconfirmed("unconfirmed: ");
        if (!note || !QLatin1String(note).startsWith(unconfirmed))
            return;
        const QString line =
            QStringLiteral("%1: warning: pbrun cannot confirm %2 on PureBasic %3: %4")
                .arg(m_cache.Place(pos), what, VersionText(target().version), QLatin1String(note + unconfirmed.size()));
        if (!m_warnings.contains(line))
            m_warnings << line;
    }

    // Whether the files being compiled define `name` as a `kind` further on: then a use before it is
    // the compiler's own error; otherwise the name is one of PureBasic's that pbrun's tables lack.
    bool DefinedFurtherOn(StmtKind kind, const QString& name) const
    {
        std::function<bool(const Body&)> walk = [&](const Body& body) {
            for (const StmtPtr& st : body) {
                if ((st->kind == kind || (kind == StmtKind::Procedure && st->kind == StmtKind::Declare) ||
                     (kind == StmtKind::ConstantDef && st->kind == StmtKind::EnumItem)) &&
                    st->name.compare(name, Qt::CaseInsensitive) == 0)
                    return true;
                if (walk(st->body))
                    return true;
                for (const Branch& br : st->branches)
                    if (walk(br.body))
                        return true;
            }
            return false;
        };
        for (const int file : m_fileStack)
            if (walk(m_cache.file(file).body))
                return true;
        return false;
    }

    Binding& B(int id)
    {
        if (std::size_t(id) >= m_prog->bindings.size())
            m_prog->bindings.resize(std::size_t(m_cache.nodeCount()));
        return m_prog->bindings[std::size_t(id)];
    }
    Binding& B(const Expr& e) { return B(e.id); }
    Binding& B(const Stmt& s) { return B(s.id); }

    int AddConst(const Value& v)
    {
        m_prog->constants.push_back(v);
        return int(m_prog->constants.size()) - 1;
    }

    // ---- files ------------------------------------------------------------------------------------------

    int LoadFile(const QString& path, SourcePos from)
    {
        const int index = m_cache.Load(path);
        const SourceFile& f = m_cache.file(index);
        if (!f.error.isEmpty())
            Error(f.errorLine > 0 ? SourcePos{index, f.errorLine} : from, f.error);
        if (m_prog->bindings.size() < std::size_t(m_cache.nodeCount()))
            m_prog->bindings.resize(std::size_t(m_cache.nodeCount()));
        return index;
    }

    // Where a relative include or binary file is looked up: from 5.30 the folder of the file holding the
    // statement; before, the main source's folder (history 5.30: "(X)IncludeFile and IncludeBinary ...
    // now relative to the file which contains these statements").
    QString Resolve(const QString& name, SourcePos pos) const
    {
        QString n = name;
        if (target().os == Os::Windows)
            n.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (QDir::isAbsolutePath(n))
            return QDir::cleanPath(n);
        const QString base = target().version >= Since::RelativeIncludes
                                 ? QFileInfo(m_cache.file(pos.file).path).absolutePath()
                                 : m_mainFolder;
        return QDir::cleanPath(QDir(base).filePath(n));
    }

    // ---- types ------------------------------------------------------------------------------------------

    void AddPredefinedStructures()
    {
        // Residents/Common.pb: one-field structures named after the native types.
        const struct
        {
            const char* name;
            const char* field;
            Type type;
            int since;
        } predefined[] = {{"Byte", "b", Type::B, 400},      {"Ascii", "a", Type::A, 440},
                          {"Character", "c", Type::C, 400}, {"Word", "w", Type::W, 400},
                          {"Unicode", "u", Type::U, 440},   {"Long", "l", Type::L, 400},
                          {"Integer", "i", Type::I, 430},   {"Quad", "q", Type::Q, 400},
                          {"Float", "f", Type::F, 400},     {"Double", "d", Type::D, 400}};
        for (const auto& p : predefined) {
            if (target().version < p.since)
                continue;
            StructInfo s;
            s.name = QString::fromLatin1(p.name);
            FieldInfo f;
            f.name = QString::fromLatin1(p.field);
            f.type = p.type;
            s.fields.push_back(f);
            s.size = SizeOfType(p.type, target());
            m_structs.insert(Key(s.name), int(m_prog->structs.size()));
            m_prog->structs.push_back(std::move(s));
        }
    }

    // Suffix and Type list the native types in the same order.
    static_assert(int(Suffix::B) == int(Type::B) && int(Suffix::S) == int(Type::S));
    Type NativeType(Suffix s, SourcePos pos) const
    {
        const int v = target().version;
        if ((s == Suffix::A || s == Suffix::U) && v < Since::AsciiUnicodeTypes)
            Error(pos, QStringLiteral("the type .%1 exists from PureBasic 4.40 on")
                           .arg(QLatin1String(s == Suffix::A ? "a" : "u")));
        if (s == Suffix::I && v < Since::IntegerType)
            Error(pos, QStringLiteral("the type .i exists from PureBasic 4.30 on"));
        return s == Suffix::None || s == Suffix::Named ? Type::None : Type(int(s));
    }

    Type DefaultType() const { return target().version >= Since::IntegerType ? Type::I : Type::L; }

    int StructByName(const QString& name, SourcePos pos) const
    {
        const auto it = m_structs.constFind(Key(name));
        if (it == m_structs.constEnd()) {
            if (!DefinedFurtherOn(StmtKind::Structure, name))
                Error(pos, QStringLiteral("pbrun does not know the structure %1: it is not declared before this line "
                                          "nor among the PureBasic structures pbrun knows")
                               .arg(name));
            Error(pos, QStringLiteral("Structure not found: %1").arg(name));
        }
        return *it;
    }

    VarType ResolveType(const QString& name, const TypeName& tn, Type fallback, SourcePos pos) const
    {
        VarType vt;
        if (name.startsWith(u'*')) {
            vt.pointer = true;
            vt.type = Type::I;
            if (tn.suffix == Suffix::Named)
                vt.structId = StructByName(tn.name, pos);
            else if (tn.suffix != Suffix::None)
                Error(pos, QStringLiteral("pbrun does not support a pointer typed with a native type (%1)").arg(name));
            if (target().version < Since::IntegerType)
                vt.type = Type::L;
            return vt;
        }
        if (name.endsWith(u'$')) {
            if (tn.suffix != Suffix::None && tn.suffix != Suffix::S)
                Error(pos, QStringLiteral("%1 is a string variable: it cannot have another type").arg(name));
            vt.type = Type::S;
            return vt;
        }
        if (tn.suffix == Suffix::Named) {
            vt.type = Type::Struct;
            vt.structId = StructByName(tn.name, pos);
            return vt;
        }
        if (tn.suffix != Suffix::None) {
            vt.type = NativeType(tn.suffix, pos);
            return vt;
        }
        vt.type = fallback == Type::None ? DefaultType() : fallback;
        return vt;
    }

    Cls VarCls(const VarInfo& v) const
    {
        if (v.pointer)
            return target().pointerSize() == 8 ? Cls::Int64 : Cls::Int32;
        return ClsOf(v.type, target());
    }

    // ---- names ------------------------------------------------------------------------------------------

    void CheckName(const QString& name, SourcePos pos) const
    {
        if (name.startsWith(u'*'))
            return; // "*Data": the star makes it a name of its own
        QString bare = name;
        if (bare.startsWith(u'*') || bare.startsWith(u'#'))
            bare.remove(0, 1);
        if (bare.endsWith(u'$'))
            bare.chop(1);
        if (IsReservedWord(bare))
            Error(pos, QStringLiteral("%1 is a keyword and cannot be a name").arg(bare));
        if (const int since = KeywordSince(bare, target()))
            Error(pos, QStringLiteral("%1 is a keyword from PureBasic %2 on and cannot be a name")
                           .arg(bare, VersionText(since)));
    }

    int NewVar(const QString& name, const VarType& vt, bool global, bool array, SourcePos pos)
    {
        CheckName(name, pos);
        VarInfo v;
        v.name = name;
        v.type = vt.type;
        v.structId = vt.structId;
        v.pointer = vt.pointer;
        v.array = array;
        v.global = global;
        v.pos = pos;
        if (v.type == Type::Struct)
            v.size = m_prog->structs[std::size_t(v.structId)].size;
        else if (v.type != Type::S)
            v.size = v.pointer ? target().pointerSize() : SizeOfType(v.type, target());
        if (array && v.type == Type::S)
            Error(pos, QStringLiteral("pbrun does not support string arrays"));
        // Numeric globals, arrays, structures and locals whose address is taken live in the address space.
        v.memory = v.type != Type::S && (global || array || v.type == Type::Struct || m_addressed.contains(Key(name)));
        if (global) {
            v.cell = m_globalCells++;
        } else {
            ProcInfo& p = m_prog->procs[std::size_t(m_proc)];
            v.cell = p.cells++;
            p.locals.push_back(int(m_prog->vars.size()));
        }
        m_prog->vars.push_back(std::move(v));
        return int(m_prog->vars.size()) - 1;
    }

    int FindVar(const QString& name) const
    {
        const QString k = Key(name);
        if (m_proc >= 0) {
            if (auto it = m_local.vars.constFind(k); it != m_local.vars.constEnd())
                return *it;
            if (auto it = m_globals.vars.constFind(k); it != m_globals.vars.constEnd())
                return *it;
            return -1;
        }
        if (auto it = m_main.vars.constFind(k); it != m_main.vars.constEnd())
            return *it;
        return -1;
    }

    int FindArray(const QString& name) const
    {
        const QString k = Key(name);
        if (m_proc >= 0) {
            if (auto it = m_local.arrays.constFind(k); it != m_local.arrays.constEnd())
                return *it;
            if (auto it = m_globals.arrays.constFind(k); it != m_globals.arrays.constEnd())
                return *it;
            return -1;
        }
        if (auto it = m_main.arrays.constFind(k); it != m_main.arrays.constEnd())
            return *it;
        return -1;
    }

    // A variable used without a declaration: an error under EnableExplicit, else a new one in the
    // current scope (a local inside a procedure).
    int ImplicitVar(const Expr& e)
    {
        if (m_explicit)
            Error(e.pos, QStringLiteral("Variable not declared: %1").arg(e.text));
        const VarType vt = ResolveType(e.text, e.type, Type::None, e.pos);
        const bool global = m_proc < 0;
        const int v = NewVar(e.text, vt, global, false, e.pos);
        (global ? m_main : m_local).vars.insert(Key(e.text), v);
        return v;
    }

    // A variable reference: the variable, declared on first use where that is allowed.
    int VarRef(const Expr& e)
    {
        int v = FindVar(e.text);
        if (v < 0)
            return ImplicitVar(e);
        const VarInfo& info = m_prog->vars[std::size_t(v)];
        if (e.type.suffix != Suffix::None) {
            const VarType vt = ResolveType(e.text, e.type, Type::None, e.pos);
            if (vt.type != info.type || vt.structId != info.structId)
                Error(e.pos, QStringLiteral("Variable already declared with another type: %1").arg(e.text));
        }
        return v;
    }

    // ---- constants ----------------------------------------------------------------------------------------

    // #PB_Compiler_* by their first versions in the history: FilePath 4.30, Procedure 4.20, Filename and
    // ExecutableFormat 5.10, 64Bit and 32Bit 6.00; the others came with 4.00 (Processor: unconfirmed).
    std::optional<ConstEntry> CompilerConstant(const QString& name, SourcePos pos, QString* why = nullptr) const
    {
        const QString k = Key(name);
        if (!k.startsWith(u"pb_compiler_"))
            return std::nullopt;
        const Target& t = target();
        const QString file = m_cache.file(pos.file).path;
        const QString home = !m_options.compilerHome.isEmpty() ? m_options.compilerHome
                             : t.os == Os::Windows             ? QStringLiteral("C:\\Program Files\\PureBasic\\")
                             : t.os == Os::Linux               ? QStringLiteral("/usr/share/purebasic/")
                                                 : QStringLiteral("/Applications/PureBasic.app/Contents/Resources/");
        const struct
        {
            const char* name;
            int since;
            std::int64_t number;
            QString text;
            bool isText;
        } constants[] = {
            {"pb_compiler_os", 400, int(t.os), {}, false},
            {"pb_compiler_processor", 400, int(t.cpu), {}, false},
            {"pb_compiler_version", 400, t.version, {}, false},
            {"pb_compiler_unicode", 400, t.unicode ? 1 : 0, {}, false},
            {"pb_compiler_debugger", 400, 1, {}, false}, // pbrun checks like the debugger
            {"pb_compiler_line", 400, pos.line, {}, false},
            {"pb_compiler_home", 400, 0, home, true},
            {"pb_compiler_file", 400, 0, file, true},
            {"pb_compiler_procedure", 420, 0, m_proc >= 0 ? m_prog->procs[std::size_t(m_proc)].name : QString(), true},
            {"pb_compiler_filepath", 430, 0, QFileInfo(file).absolutePath() + QLatin1Char('/'), true},
            {"pb_compiler_filename", 510, 0, QFileInfo(file).fileName(), true},
            {"pb_compiler_executableformat", 510, m_options.dll ? 1 : 0, {}, false},
            {"pb_compiler_64bit", 600, t.pointerSize() == 8 ? 1 : 0, {}, false},
            {"pb_compiler_32bit", 600, t.pointerSize() == 4 ? 1 : 0, {}, false},
        };
        for (const auto& c : constants) {
            if (k != QLatin1String(c.name))
                continue;
            if (t.version < c.since) {
                if (why)
                    *why = QStringLiteral("it came with PureBasic %1").arg(VersionText(c.since));
                return std::nullopt;
            }
            ConstEntry e;
            e.cls = c.isText ? Cls::String : Cls::Int32;
            e.value.i = c.number;
            e.value.s = c.text;
            return e;
        }
        return std::nullopt;
    }

    std::optional<ConstEntry> LookupConstant(const QString& name, SourcePos pos, QString* why)
    {
        if (auto it = m_constants.constFind(Key(name)); it != m_constants.constEnd())
            return *it;
        if (auto c = CompilerConstant(name, pos, why))
            return c;
        if (why && !why->isEmpty())
            return std::nullopt;
        if (const ConstantInfo* info = FindConstant(name, target(), why)) {
            NoteFact(info->note, QLatin1Char('#') + name, pos);
            ConstEntry c;
            c.value.i = info->value;
            c.cls = Cls::Int32;
            if (info->value > INT32_MAX || info->value < INT32_MIN)
                c.cls = Cls::Int64;
            return c;
        }
        return std::nullopt;
    }

    // Defines #name (without "#"): a second definition with another value is an error.
    void DefineConstant(const QString& name, const ConstEntry& c, SourcePos pos)
    {
        CheckName(name, pos);
        const QString k = Key(name);
        QString why;
        const bool builtin =
            k.startsWith(u"pb_") && (FindConstant(name, target(), &why) || CompilerConstant(name, pos));
        if (builtin)
            Error(pos, QStringLiteral("Constant already declared: #%1").arg(name));
        if (auto it = m_constants.constFind(k); it != m_constants.constEnd()) {
            const bool same = it->cls == c.cls && (c.cls == Cls::String ? it->value.s == c.value.s
                                                   : IsIntCls(c.cls)    ? it->value.i == c.value.i
                                                                        : it->value.d == c.value.d);
            if (!same)
                Error(pos, QStringLiteral("Constant already declared: #%1 (at %2)").arg(name, m_cache.Place(it->pos)));
            return;
        }
        ConstEntry entry = c;
        entry.pos = pos;
        m_constants.insert(k, entry);
    }

    // The value of a constant expression, or nothing when it is not one (it may still be a valid
    // run-time expression). Errors in it are reported.
    std::optional<ConstEntry> Fold(const Expr& e)
    {
        ConstEntry c;
        switch (e.kind) {
        case ExprKind::Int:
            c.value.i = e.intValue;
            c.cls = (e.intValue > INT32_MAX || e.intValue < INT32_MIN) ? Cls::Int64 : Cls::Int32;
            return c;
        case ExprKind::Float:
            c.value.d = e.floatValue;
            c.cls = Cls::Double;
            return c;
        case ExprKind::String:
            if (!target().unicode)
                CheckAsciiLiteral(e.text, e.pos);
            c.value.s = e.text;
            c.cls = Cls::String;
            return c;
        case ExprKind::Constant: {
            QString why;
            if (auto found = LookupConstant(e.text, e.pos, &why))
                return found;
            if (!why.isEmpty())
                Error(e.pos, QStringLiteral("Constant not found: #%1 (%2)").arg(e.text, why));
            if (!DefinedFurtherOn(StmtKind::ConstantDef, e.text))
                Error(e.pos, QStringLiteral("pbrun does not know the constant #%1: it is not declared before this "
                                            "line nor among the PureBasic constants pbrun knows")
                                 .arg(e.text));
            Error(e.pos, QStringLiteral("Constant not found: #%1").arg(e.text));
        }
        case ExprKind::Defined:
            c.value.i = DefinedValue(e) ? 1 : 0;
            c.cls = Cls::Int32;
            return c;
        case ExprKind::SizeOf:
            c.value.i = SizeOfValue(e);
            c.cls = Cls::Int32;
            return c;
        case ExprKind::OffsetOf: {
            const StructInfo& s = m_prog->structs[std::size_t(StructByName(e.text, e.pos))];
            const FieldInfo* f = FindField(s, e.type.name);
            if (!f)
                Error(e.pos, QStringLiteral("Structure field not found: %1\\%2").arg(e.text, e.type.name));
            c.value.i = f->offset;
            c.cls = Cls::Int32;
            return c;
        }
        case ExprKind::Bool: {
            if (target().version < Since::BoolFunction)
                Error(e.pos, QStringLiteral("Bool() is not a function here: it exists from PureBasic 5.10 on"));
            auto inner = FoldCondition(*e.args[0]);
            if (!inner)
                return std::nullopt;
            c.value.i = *inner ? 1 : 0;
            c.cls = Cls::Int32;
            return c;
        }
        case ExprKind::Unary: {
            if (e.op == Op::Not)
                return std::nullopt;
            auto a = Fold(*e.args[0]);
            if (!a)
                return std::nullopt;
            if (a->cls == Cls::String)
                Error(e.pos, QStringLiteral("This operator cannot be used with strings"));
            if (e.op == Op::Neg) {
                if (IsIntCls(a->cls))
                    a->value.i = WrapCls(a->cls, 0 - std::uint64_t(a->value.i));
                else
                    a->value.d = -a->value.d;
            } else {
                if (!IsIntCls(a->cls))
                    Error(e.pos, QStringLiteral("~ cannot be used with floats"));
                a->value.i = WrapCls(a->cls, ~std::uint64_t(a->value.i));
            }
            return a;
        }
        case ExprKind::Binary: {
            if (e.op >= Op::Eq)
                return std::nullopt; // comparisons and logic: conditions only
            auto a = Fold(*e.args[0]);
            auto b = Fold(*e.args[1]);
            if (!a || !b)
                return std::nullopt;
            const Cls cls = BinaryCls(e, a->cls, b->cls);
            ConstEntry r;
            r.cls = cls;
            if (cls == Cls::String) {
                r.value.s = a->value.s + b->value.s;
                return r;
            }
            if (IsIntCls(cls)) {
                r.value.i = FoldIntOp(e, a->value.i, b->value.i, cls);
                // Whether the compiler computes constants of 32-bit operands in 32 or in 64 bits is not
                // documented: where the two differ the expression is left to run time (which knows what is
                // done with it) or, where a constant is needed, refused.
                if (cls == Cls::Int32 && r.value.i != FoldIntOp(e, a->value.i, b->value.i, Cls::Int64)) {
                    m_foldRefusal = QStringLiteral("pbrun does not support a constant expression that overflows 32 "
                                                   "bits: whether PureBasic computes it in 32 or 64 bits is not "
                                                   "documented");
                    return std::nullopt;
                }
                return r;
            }
            const double x = IsIntCls(a->cls) ? double(a->value.i) : a->value.d;
            const double y = IsIntCls(b->cls) ? double(b->value.i) : b->value.d;
            r.value.d = FloatOp(e.op, x, y);
            return r;
        }
        default:
            return std::nullopt;
        }
    }

    // A constant condition (CompilerIf, Bool of constants): true/false, or nothing when not constant.
    std::optional<bool> FoldCondition(const Expr& e)
    {
        if (e.kind == ExprKind::Unary && e.op == Op::Not) {
            auto a = FoldCondition(*e.args[0]);
            return a ? std::optional<bool>(!*a) : std::nullopt;
        }
        if (e.kind == ExprKind::Binary && (e.op == Op::And || e.op == Op::Or || e.op == Op::XOr)) {
            auto a = FoldCondition(*e.args[0]);
            auto b = FoldCondition(*e.args[1]);
            if (!a || !b)
                return std::nullopt;
            return e.op == Op::And ? (*a && *b) : e.op == Op::Or ? (*a || *b) : (*a != *b);
        }
        if (e.kind == ExprKind::Binary && e.op >= Op::Eq && e.op <= Op::Ge) {
            auto a = Fold(*e.args[0]);
            auto b = Fold(*e.args[1]);
            if (!a || !b)
                return std::nullopt;
            if ((a->cls == Cls::String) != (b->cls == Cls::String))
                Error(e.pos, QStringLiteral("Can't compare a string with a number"));
            int cmp;
            if (a->cls == Cls::String)
                cmp = ThreeWay(QString::compare(a->value.s, b->value.s), 0);
            else if (IsIntCls(a->cls) && IsIntCls(b->cls))
                cmp = ThreeWay(a->value.i, b->value.i);
            else
                cmp = ThreeWay(IsIntCls(a->cls) ? double(a->value.i) : a->value.d,
                               IsIntCls(b->cls) ? double(b->value.i) : b->value.d);
            return Compared(e.op, cmp);
        }
        auto v = Fold(e);
        if (!v)
            return std::nullopt;
        if (v->cls == Cls::String)
            Error(e.pos, QStringLiteral("A string cannot stand alone as a condition"));
        return IsIntCls(v->cls) ? v->value.i != 0 : v->value.d != 0;
    }

    ConstEntry RequireConst(const Expr& e, const char* what)
    {
        m_foldRefusal.clear();
        auto c = Fold(e);
        if (!c && !m_foldRefusal.isEmpty())
            Error(e.pos, m_foldRefusal);
        if (!c)
            Error(e.pos, QStringLiteral("%1 must be a constant expression").arg(QLatin1String(what)));
        return *c;
    }

    bool RequireCondition(const Expr& e)
    {
        if (target().version < Since::CompilerIfLogic) {
            std::function<void(const Expr&)> logic = [&](const Expr& x) {
                if (x.kind == ExprKind::Binary && (x.op == Op::And || x.op == Op::Or || x.op == Op::XOr))
                    Error(x.pos, QStringLiteral("And and Or in a compiler directive exist from PureBasic 4.30 on: "
                                                "nest CompilerIf"));
                for (const ExprPtr& a : x.args)
                    if (a)
                        logic(*a);
            };
            logic(e);
        }
        m_foldRefusal.clear();
        auto c = FoldCondition(e);
        if (!c && !m_foldRefusal.isEmpty())
            Error(e.pos, m_foldRefusal);
        if (!c)
            Error(e.pos, QStringLiteral("The condition of a compiler directive must be constant"));
        return *c;
    }

    void CheckAsciiLiteral(const QString& text, SourcePos pos) const
    {
        for (QChar ch : text) {
            if (ch.unicode() > 127)
                Error(pos, QStringLiteral("pbrun does not support non-ASCII text in ASCII mode: the system's code "
                                          "page decides what it becomes"));
        }
    }

    bool DefinedValue(const Expr& e)
    {
        const ConstEntry kind = RequireConst(*e.args[0], "The type of Defined()");
        const QString k = Key(e.text);
        switch (kind.value.i) {
        case 50: { // #PB_Constant
            QString why;
            return LookupConstant(e.text, e.pos, &why).has_value();
        }
        case 51: // #PB_Variable
            return FindVar(e.text) >= 0;
        case 15: // #PB_Array
            return FindArray(e.text) >= 0;
        case 7: // #PB_Structure
            return m_structs.contains(k);
        case 53: // #PB_Procedure
            if (m_imports.contains(k))
                Error(e.pos, QStringLiteral("pbrun does not support Defined(%1, #PB_Procedure) for an imported "
                                            "function: whether it counts is not documented")
                                 .arg(e.text));
            return m_procs.contains(k);
        case 54: // #PB_Function
            return FindBuiltin(e.text, target()) != nullptr;
        case 56: // #PB_Label
            return m_labels.contains(k) && m_prog->labels[std::size_t(m_labels[k])].pos.line > 0;
        case 14:
        case 22:
        case 52:
        case 57:
        case 58:
        case 59: // lists, maps, interfaces, ... pbrun has none
            return false;
        default:
            Error(e.pos, QStringLiteral("Defined(): unknown type %1").arg(kind.value.i));
        }
    }

    std::int64_t SizeOfValue(const Expr& e)
    {
        if (auto it = m_structs.constFind(Key(e.text)); it != m_structs.constEnd())
            return m_prog->structs[std::size_t(*it)].size;
        const int v = FindVar(e.text);
        if (v < 0)
            Error(e.pos, QStringLiteral("SizeOf(): no structure or variable %1").arg(e.text));
        const VarInfo& info = m_prog->vars[std::size_t(v)];
        if (info.type == Type::S)
            Error(e.pos, QStringLiteral("pbrun does not support SizeOf() of a string"));
        return info.size;
    }

    static const FieldInfo* FindField(const StructInfo& s, const QString& name)
    {
        for (const FieldInfo& f : s.fields)
            if (f.name.compare(name, Qt::CaseInsensitive) == 0)
                return &f;
        return nullptr;
    }

    // ---- arithmetic (shared by constant folding and the evaluator's rules) -------------------------------

    Cls BinaryCls(const Expr& e, Cls a, Cls b) const
    {
        const bool aString = a == Cls::String;
        const bool bString = b == Cls::String;
        if (aString || bString) {
            if (aString && bString && e.op == Op::Add)
                return Cls::String;
            if (aString != bString && e.op == Op::Add)
                Error(e.pos, QStringLiteral("pbrun does not support adding a number to a string: use Str()"));
            Error(e.pos, QStringLiteral("This operator cannot be used with strings"));
        }
        const Cls cls = Wider(a, b);
        const bool intOnly = e.op == Op::Mod || e.op == Op::BitAnd || e.op == Op::BitOr || e.op == Op::BitXor ||
                             e.op == Op::Shl || e.op == Op::Shr;
        if (intOnly && !IsIntCls(cls))
            Error(e.pos, QStringLiteral("This operator cannot be used with floats"));
        return cls;
    }

    std::int64_t FoldIntOp(const Expr& e, std::int64_t x, std::int64_t y, Cls cls) const
    {
        QString error;
        const auto r = IntOp(e.op, x, y, cls, error);
        if (!r)
            Error(e.pos, error);
        return *r;
    }

    // ---- expressions ---------------------------------------------------------------------------------------

    // An integer expression whose value is used only in its low 32 bits (stored in a long or narrower,
    // passed as one): computed in 32 or in 64 bits it gives the same there. Marks the 32-bit operators
    // it is made of, down through those whose low bits depend only on their operands' low bits; the
    // evaluator refuses an unmarked one on a 64-bit target where the two widths disagree.
    void LowBitsOnly(const Expr& e)
    {
        Binding& b = B(e);
        if (b.kind != Bind::Op || b.cls != Cls::Int32)
            return;
        b.b = 1;
        if (e.kind == ExprKind::Unary) {
            LowBitsOnly(*e.args[0]);
        } else if (e.kind == ExprKind::Binary) {
            switch (e.op) {
            case Op::Add:
            case Op::Sub:
            case Op::Mul:
            case Op::BitAnd:
            case Op::BitOr:
            case Op::BitXor:
                LowBitsOnly(*e.args[1]);
                [[fallthrough]];
            case Op::Shl: // the count is used whole
                LowBitsOnly(*e.args[0]);
                break;
            default:
                break;
            }
        }
    }

    // Checks a value expression; returns its class. Comparisons and logic are refused here.
    Cls ValueExpr(const Expr& e)
    {
        Binding& b = B(e);
        if (e.kind != ExprKind::Name && e.kind != ExprKind::Call && e.kind != ExprKind::Field &&
            e.kind != ExprKind::AddressOf && e.kind != ExprKind::LabelAddr) {
            if (auto c = Fold(e)) {
                Binding& bc = B(e);
                bc.kind = Bind::Const;
                bc.cls = c->cls;
                bc.a = AddConst(c->value);
                return c->cls;
            }
        }
        switch (e.kind) {
        case ExprKind::Name: {
            const int v = VarRef(e);
            const VarInfo& info = m_prog->vars[std::size_t(v)];
            if (info.type == Type::Struct)
                Error(e.pos, QStringLiteral("A structured variable (%1) cannot be used as a value").arg(e.text));
            b.kind = Bind::Var;
            b.a = v;
            b.type = info.pointer ? (target().pointerSize() == 8 ? Type::Q : Type::L) : info.type;
            b.cls = VarCls(info);
            return b.cls;
        }
        case ExprKind::Call:
            return Call(e, true);
        case ExprKind::Field: {
            FieldAccess(e);
            Binding& fb = B(e);
            if (fb.type == Type::Struct)
                Error(e.pos, QStringLiteral("A structured field (%1) cannot be used as a value").arg(e.text));
            return fb.cls;
        }
        case ExprKind::AddressOf:
            AddressOf(e);
            return B(e).cls;
        case ExprKind::LabelAddr: {
            Binding& lb = B(e);
            lb.kind = Bind::LabelAddr;
            lb.a = LabelRef(e.text, e.pos);
            lb.cls = target().pointerSize() == 8 ? Cls::Int64 : Cls::Int32;
            return lb.cls;
        }
        case ExprKind::Bool: {
            if (target().version < Since::BoolFunction)
                Error(e.pos, QStringLiteral("Bool() is not a function here: it exists from PureBasic 5.10 on"));
            Condition(*e.args[0]);
            Binding& bb = B(e);
            bb.kind = Bind::Bool;
            bb.cls = Cls::Int32;
            return Cls::Int32;
        }
        case ExprKind::Unary: {
            if (e.op == Op::Not)
                Error(e.pos, OutsideCondition(QStringLiteral("Not")));
            const Cls a = ValueExpr(*e.args[0]);
            if (a == Cls::String)
                Error(e.pos, QStringLiteral("This operator cannot be used with strings"));
            if (e.op == Op::BitNot && !IsIntCls(a))
                Error(e.pos, QStringLiteral("~ cannot be used with floats"));
            Binding& ub = B(e);
            ub.kind = Bind::Op;
            ub.cls = ub.operandCls = a;
            return a;
        }
        case ExprKind::Binary: {
            if (e.op >= Op::Eq)
                Error(e.pos, OutsideCondition(e.op >= Op::And ? QStringLiteral("And, Or and XOr")
                                                              : QStringLiteral("a comparison")));
            const Cls l = ValueExpr(*e.args[0]);
            const Cls r = ValueExpr(*e.args[1]);
            const Cls cls = BinaryCls(e, l, r);
            Binding& ob = B(e);
            ob.kind = Bind::Op;
            ob.cls = ob.operandCls = cls;
            return cls;
        }
        default:
            Error(e.pos, QStringLiteral("Syntax error"));
        }
    }

    QString OutsideCondition(const QString& what) const
    {
        // 5.10: "Bool() compiler operator. Boolean operations are now forbidden without Bool()."
        if (target().version >= Since::BoolFunction)
            return QStringLiteral("%1 outside a condition needs Bool()").arg(what);
        return QStringLiteral("pbrun does not support %1 outside a condition before PureBasic 5.10: its value "
                              "there is not documented")
            .arg(what);
    }

    // Checks a condition (If, While, Until, Bool): comparisons and logic allowed.
    void Condition(const Expr& e)
    {
        Binding& b = B(e);
        if (e.kind == ExprKind::Unary && e.op == Op::Not) {
            Condition(*e.args[0]);
            b.kind = Bind::Op;
            b.cls = Cls::Int32;
            return;
        }
        if (e.kind == ExprKind::Binary && (e.op == Op::And || e.op == Op::Or || e.op == Op::XOr)) {
            Condition(*e.args[0]);
            Condition(*e.args[1]);
            B(e).kind = Bind::Op;
            B(e).cls = Cls::Int32;
            return;
        }
        if (e.kind == ExprKind::Binary && e.op >= Op::Eq && e.op <= Op::Ge) {
            const Cls l = ValueExpr(*e.args[0]);
            const Cls r = ValueExpr(*e.args[1]);
            if ((l == Cls::String) != (r == Cls::String))
                Error(e.pos, QStringLiteral("Can't compare a string with a number"));
            Binding& cb = B(e);
            cb.kind = Bind::Op;
            cb.cls = Cls::Int32;
            cb.operandCls = Wider(l, r);
            return;
        }
        const Cls c = ValueExpr(e);
        if (c == Cls::String)
            Error(e.pos, QStringLiteral("A string cannot stand alone as a condition"));
    }

    // name(args): an array element, a procedure, an imported function or a built-in.
    Cls Call(const Expr& e, bool valueWanted)
    {
        const QString k = Key(e.text);
        if (const int arr = FindArray(e.text); arr >= 0) {
            const VarInfo& info = m_prog->vars[std::size_t(arr)];
            if (int(e.args.size()) != info.dimensions)
                Error(e.pos, QStringLiteral("Array %1() has %2 dimensions").arg(e.text).arg(info.dimensions));
            for (const ExprPtr& a : e.args)
                IntArg(*a);
            Binding& ab = B(e);
            ab.kind = Bind::ArrayElem;
            ab.a = arr;
            ab.type = info.type;
            ab.structId = info.structId;
            ab.cls = info.type == Type::Struct ? Cls::None : ClsOf(info.type, target());
            if (valueWanted && info.type == Type::Struct)
                Error(e.pos, QStringLiteral("A structured array element cannot be used as a value"));
            return ab.cls;
        }
        if (auto it = m_procs.constFind(k); it != m_procs.constEnd()) {
            const ProcInfo& p = m_prog->procs[std::size_t(*it)];
            CheckArgCount(e, int(RequiredParams(p)), int(p.params.size()));
            for (std::size_t i = 0; i < e.args.size(); ++i)
                Argument(*e.args[i], p.params[i].cls, e.text);
            Binding& pb = B(e);
            pb.kind = Bind::Proc;
            pb.a = *it;
            pb.cls = p.resultCls;
            pb.type = p.result;
            m_calledProcs.emplace_back(*it, e.pos);
            return pb.cls;
        }
        if (auto it = m_imports.constFind(k); it != m_imports.constEnd()) {
            const ImportInfo& imp = m_prog->imports[std::size_t(*it)];
            CheckArgCount(e, int(imp.params.size()), int(imp.params.size()));
            for (std::size_t i = 0; i < e.args.size(); ++i)
                Argument(*e.args[i], imp.params[i], e.text);
            Binding& ib = B(e);
            ib.kind = Bind::Import;
            ib.a = *it;
            ib.cls = imp.resultCls;
            ib.type = imp.result;
            return ib.cls;
        }
        QString why;
        const BuiltinInfo* info = FindBuiltin(e.text, target(), &why);
        if (!info) {
            if (!why.isEmpty())
                Error(e.pos,
                      QStringLiteral("%1() is not a function, array, list, map or macro (%2).").arg(e.text, why));
            if (!DefinedFurtherOn(StmtKind::Procedure, e.text))
                Error(e.pos, QStringLiteral("pbrun does not know %1(): it is not declared before this line nor among "
                                            "the PureBasic functions pbrun knows")
                                 .arg(e.text));
            Error(e.pos, QStringLiteral("%1() is not a function, array, list, map or macro.").arg(e.text));
        }
        NoteFact(info->note, e.text + QStringLiteral("()"), e.pos);
        if (info->note && QLatin1String(info->note).startsWith(QLatin1String("refuse: ")))
            Error(e.pos, QStringLiteral("pbrun does not support %1() on PureBasic %2: %3")
                             .arg(e.text, VersionText(target().version), QLatin1String(info->note + 8)));
        const QString params = QLatin1String(info->params);
        const qsizetype bar = params.indexOf(u'|');
        const QString letters = QString(params).remove(u'|');
        CheckArgCount(e, int(bar < 0 ? params.size() : bar), int(letters.size()));
        for (std::size_t i = 0; i < e.args.size(); ++i) {
            const QChar letter = letters[qsizetype(i)];
            if (letter == u'x') {
                ValueExpr(*e.args[i]);
                continue;
            }
            const Cls want = letter == u's' ? Cls::String : letter == u'd' ? Cls::Double : Cls::Int64;
            Argument(*e.args[i], want, e.text);
            // a long parameter, and the value a Poke of a long or narrower writes
            static const QStringList narrowPokes = {"pokeb", "pokea", "pokew", "pokeu", "pokec", "pokel"};
            if (letter == u'l' || (i == 1 && narrowPokes.contains(k)))
                LowBitsOnly(*e.args[i]);
        }
        Binding& fb = B(e);
        fb.kind = Bind::Builtin;
        fb.a = int(info - BuiltinTable().data());
        fb.type = info->result;
        fb.cls = ClsOf(info->result, target());
        return fb.cls;
    }

    static std::size_t RequiredParams(const ProcInfo& p)
    {
        std::size_t n = 0;
        while (n < p.params.size() && p.params[n].defaultConst < 0)
            ++n;
        return n;
    }

    void CheckArgCount(const Expr& e, int required, int total) const
    {
        const int n = int(e.args.size());
        if (n < required || n > total) {
            if (required == total)
                Error(e.pos, QStringLiteral("Incorrect number of parameters: %1() takes %2, not %3")
                                 .arg(e.text)
                                 .arg(total)
                                 .arg(n));
            Error(e.pos, QStringLiteral("Incorrect number of parameters: %1() takes %2 to %3, not %4")
                             .arg(e.text)
                             .arg(required)
                             .arg(total)
                             .arg(n));
        }
    }

    void Argument(const Expr& arg, Cls want, const QString& function)
    {
        const Cls got = ValueExpr(arg);
        if (want == Cls::Int32)
            LowBitsOnly(arg);
        if ((want == Cls::String) != (got == Cls::String))
            Error(arg.pos, QStringLiteral("%1(): a %2 parameter gets a %3")
                               .arg(function, QLatin1String(want == Cls::String ? "string" : "numeric"),
                                    QLatin1String(got == Cls::String ? "string" : "number")));
    }

    void IntArg(const Expr& arg)
    {
        const Cls c = ValueExpr(arg);
        if (c == Cls::String)
            Error(arg.pos, QStringLiteral("A number is expected here, not a string"));
    }

    // base\field or base\field[i]: binds the field's offset and type.
    void FieldAccess(const Expr& e)
    {
        const Expr& base = *e.args[0];
        int structId = -1;
        bool viaPointer = false;
        switch (base.kind) {
        case ExprKind::Name: {
            const int v = VarRef(base);
            const VarInfo& info = m_prog->vars[std::size_t(v)];
            Binding& bb = B(base);
            bb.kind = Bind::Var;
            bb.a = v;
            bb.cls = VarCls(info);
            bb.type = info.pointer ? (target().pointerSize() == 8 ? Type::Q : Type::L) : info.type;
            structId = info.structId;
            viaPointer = info.pointer;
            if (structId < 0)
                Error(base.pos, QStringLiteral("%1 is not a structure or a pointer to one").arg(base.text));
            break;
        }
        case ExprKind::Call: {
            Call(base, false);
            const Binding& cb = B(base);
            if (cb.kind != Bind::ArrayElem || cb.type != Type::Struct)
                Error(base.pos, QStringLiteral("pbrun does not support '\\' after %1()").arg(base.text));
            structId = cb.structId;
            break;
        }
        case ExprKind::Field: {
            FieldAccess(base);
            const Binding& fb = B(base);
            structId = fb.structId;
            viaPointer = fb.type != Type::Struct; // a pointer field
            if (structId < 0)
                Error(base.pos, QStringLiteral("%1 is not a structure or a pointer to one").arg(base.text));
            break;
        }
        default:
            Error(e.pos, QStringLiteral("Syntax error before '\\'"));
        }
        const StructInfo& s = m_prog->structs[std::size_t(structId)];
        const FieldInfo* f = FindField(s, e.text);
        if (!f)
            Error(e.pos, QStringLiteral("Structure field not found: %1\\%2").arg(s.name, e.text));
        Binding& b = B(e);
        b.kind = Bind::Field;
        b.a = f->offset;
        b.b = 0;
        b.structId = f->structId;
        b.operandCls = viaPointer ? Cls::Int64 : Cls::None; // how the base gives its address
        if (e.bracketIndex) {
            if (f->count == 0)
                Error(e.pos, QStringLiteral("%1 is not a static array field").arg(e.text));
            IntArg(*e.args[1]);
            b.b = f->pointer                ? target().pointerSize()
                  : f->type == Type::Struct ? m_prog->structs[std::size_t(f->structId)].size
                                            : SizeOfType(f->type, target());
        } else if (f->count > 0) {
            Error(e.pos, QStringLiteral("%1 is a static array field: an index [i] is needed").arg(e.text));
        }
        if (f->pointer) {
            b.type = target().pointerSize() == 8 ? Type::Q : Type::L;
            b.cls = target().pointerSize() == 8 ? Cls::Int64 : Cls::Int32;
        } else {
            b.type = f->type;
            b.cls = f->type == Type::Struct ? Cls::None : ClsOf(f->type, target());
        }
    }

    void AddressOf(const Expr& e)
    {
        const Expr& t = *e.args[0];
        Binding& b = B(e);
        b.cls = target().pointerSize() == 8 ? Cls::Int64 : Cls::Int32;
        switch (t.kind) {
        case ExprKind::Name: {
            const int v = VarRef(t);
            const VarInfo& info = m_prog->vars[std::size_t(v)];
            if (info.type == Type::S)
                Error(e.pos, QStringLiteral("pbrun does not support the address of a string"));
            if (!info.memory)
                Error(e.pos, QStringLiteral("internal: %1 is not in memory").arg(t.text));
            B(e).kind = Bind::AddrVar;
            B(e).a = v;
            return;
        }
        case ExprKind::Call: {
            if (FindArray(t.text) < 0)
                Error(e.pos, QStringLiteral("pbrun does not support the address of a procedure"));
            Call(t, false);
            B(e).kind = Bind::AddrArray;
            return;
        }
        case ExprKind::Field:
            FieldAccess(t);
            B(e).kind = Bind::AddrField;
            return;
        default:
            Error(e.pos, QStringLiteral("Syntax error after '@'"));
        }
    }

    // An assignable place: a variable (declared on first use), an array element or a field.
    Cls PlaceExpr(const Expr& e, bool declare)
    {
        switch (e.kind) {
        case ExprKind::Name: {
            int v = FindVar(e.text);
            if (v < 0) {
                if (!declare && m_explicit)
                    Error(e.pos, QStringLiteral("Variable not declared: %1").arg(e.text));
                v = ImplicitVar(e);
            } else {
                v = VarRef(e);
            }
            const VarInfo& info = m_prog->vars[std::size_t(v)];
            if (info.type == Type::Struct)
                Error(e.pos, QStringLiteral("pbrun does not support assigning a whole structure"));
            Binding& b = B(e);
            b.kind = Bind::Var;
            b.a = v;
            b.type = info.pointer ? (target().pointerSize() == 8 ? Type::Q : Type::L) : info.type;
            b.cls = VarCls(info);
            return b.cls;
        }
        case ExprKind::Call: {
            if (FindArray(e.text) < 0)
                Error(e.pos, QStringLiteral("%1() is not an array: a value cannot be stored there").arg(e.text));
            return Call(e, true);
        }
        case ExprKind::Field: {
            FieldAccess(e);
            const Binding& b = B(e);
            if (b.type == Type::Struct)
                Error(e.pos, QStringLiteral("pbrun does not support assigning a whole structure"));
            return b.cls;
        }
        default:
            Error(e.pos, QStringLiteral("Syntax error: a variable is expected here"));
        }
    }

    void Assignable(Cls place, Cls value, SourcePos pos) const
    {
        if ((place == Cls::String) != (value == Cls::String))
            Error(pos, place == Cls::String ? QStringLiteral("A string is expected here, not a number (use Str())")
                                            : QStringLiteral("A number is expected here, not a string (use Val())"));
    }

    int LabelIndex(const QString& name)
    {
        const QString k = Key(name);
        if (auto it = m_labels.constFind(k); it != m_labels.constEnd())
            return *it;
        const int index = int(m_prog->labels.size());
        LabelInfo l;
        l.name = name;
        m_prog->labels.push_back(l);
        m_labels.insert(k, index);
        return index;
    }

    // A use of a label; labels may be used before they are defined, so uses are checked at the link step.
    int LabelRef(const QString& name, SourcePos pos)
    {
        const int index = LabelIndex(name);
        m_labelUses.emplace_back(index, pos);
        return index;
    }

    // `offset` in the data section, or -1 for a label in the code.
    void DefineLabel(const Stmt& s, int offset)
    {
        CheckName(s.name, s.pos);
        LabelInfo& l = m_prog->labels[std::size_t(LabelIndex(s.name))];
        if (l.pos.line > 0)
            Error(s.pos, QStringLiteral("Label already declared: %1 (at %2)").arg(s.name, m_cache.Place(l.pos)));
        l.pos = s.pos;
        l.offset = offset;
    }

    // ---- statements ---------------------------------------------------------------------------------------

    void CheckBody(const Body& body, Ctx ctx)
    {
        for (const StmtPtr& s : body)
            Statement(*s, ctx);
    }

    void Statement(const Stmt& s, Ctx ctx)
    {
        Binding& b = B(s);
        b.kind = Bind::Stmt;
        switch (s.kind) {
        case StmtKind::Unsupported:
            Error(s.pos, QStringLiteral("pbrun does not support %1").arg(s.name));
        case StmtKind::Invalid:
            Error(s.pos, s.name);
        case StmtKind::CompilerIf:
            CompilerIf(s, ctx);
            return;
        case StmtKind::CompilerSelect:
            CompilerSelect(s, ctx);
            return;
        case StmtKind::CompilerError: {
            const ConstEntry msg = RequireConst(*s.exprs[0], "CompilerError's message");
            Error(s.pos, msg.cls == Cls::String ? msg.value.s : QString::number(msg.value.i));
        }
        default:
            break;
        }
        switch (ctx) {
        case Ctx::Structure:
            return StructureItem(s);
        case Ctx::Enumeration:
            return EnumerationItem(s);
        case Ctx::Import:
            return ImportItem(s);
        case Ctx::Data:
            return DataItem(s);
        default:
            break;
        }
        switch (s.kind) {
        case StmtKind::Expression: {
            const Expr& e = *s.exprs[0];
            if (e.kind != ExprKind::Call)
                Error(s.pos, QStringLiteral("Syntax error"));
            if (FindArray(e.text) >= 0)
                Error(s.pos, QStringLiteral("An array element cannot stand alone"));
            Call(e, false);
            return;
        }
        case StmtKind::Assign: {
            const Cls value = ValueExpr(*s.exprs[1]);
            const Cls place = PlaceExpr(*s.exprs[0], true);
            Assignable(place, value, s.pos);
            if (place == Cls::Int32)
                LowBitsOnly(*s.exprs[1]);
            return;
        }
        case StmtKind::OpAssign: {
            const Cls place = PlaceExpr(*s.exprs[0], true);
            const Cls value = ValueExpr(*s.exprs[1]);
            if (place == Cls::String && (s.op != Op::Add || value != Cls::String))
                Error(s.pos, QStringLiteral("This operator cannot be used with strings"));
            Assignable(place, value, s.pos);
            if (place == Cls::Int32 && (s.op == Op::Add || s.op == Op::Sub || s.op == Op::Mul || s.op == Op::BitAnd ||
                                        s.op == Op::BitOr || s.op == Op::BitXor))
                LowBitsOnly(*s.exprs[1]);
            Expr probe;
            probe.op = s.op;
            probe.pos = s.pos;
            B(s).cls = BinaryCls(probe, place, value);
            return;
        }
        case StmtKind::If:
            ++m_blockDepth;
            for (const Branch& br : s.branches) {
                if (br.condition)
                    Condition(*br.condition);
                CheckBody(br.body, ctx);
            }
            --m_blockDepth;
            return;
        case StmtKind::While:
        case StmtKind::Repeat:
            ++m_blockDepth;
            ++m_loopDepth;
            if (s.kind == StmtKind::While)
                Condition(*s.exprs[0]);
            CheckBody(s.body, ctx);
            if (s.kind == StmtKind::Repeat && !s.exprs.empty())
                Condition(*s.exprs[0]);
            --m_loopDepth;
            --m_blockDepth;
            return;
        case StmtKind::For:
            return For(s, ctx);
        case StmtKind::Select:
            return Select(s, ctx);
        case StmtKind::Break:
        case StmtKind::Continue: {
            if (m_loopDepth == 0)
                Error(s.pos, QStringLiteral("%1 is only allowed in a loop")
                                 .arg(QLatin1String(s.kind == StmtKind::Break ? "Break" : "Continue")));
            B(s).a = 1;
            if (!s.exprs.empty()) {
                if (s.kind == StmtKind::Continue)
                    Error(s.pos, QStringLiteral("Syntax error: Continue takes no level"));
                const ConstEntry levels = RequireConst(*s.exprs[0], "Break's level");
                if (!IsIntCls(levels.cls) || levels.value.i < 1 || levels.value.i > m_loopDepth)
                    Error(
                        s.pos,
                        QStringLiteral("Break level %1 is not between 1 and %2").arg(levels.value.i).arg(m_loopDepth));
                B(s).a = int(levels.value.i);
            }
            return;
        }
        case StmtKind::ProcedureReturn: {
            if (m_proc < 0)
                Error(s.pos, QStringLiteral("ProcedureReturn outside a procedure"));
            const ProcInfo& p = m_prog->procs[std::size_t(m_proc)];
            if (!s.exprs.empty()) {
                const Cls c = ValueExpr(*s.exprs[0]);
                Assignable(p.resultCls, c, s.pos);
                if (p.resultCls == Cls::Int32)
                    LowBitsOnly(*s.exprs[0]);
            }
            return;
        }
        case StmtKind::End:
            if (!s.exprs.empty())
                IntArg(*s.exprs[0]);
            return;
        case StmtKind::Debug:
            ValueExpr(*s.exprs[0]);
            return;
        case StmtKind::Declare:
            return Declare(s);
        case StmtKind::Procedure:
            return Procedure(s, ctx);
        case StmtKind::Variables:
            return Variables(s);
        case StmtKind::Dim:
            return Dim(s);
        case StmtKind::ConstantDef: {
            const ConstEntry c = RequireConst(*s.exprs[0], "A constant's value");
            DefineConstant(s.name, c, s.pos);
            B(s).kind = Bind::Skip;
            return;
        }
        case StmtKind::Enumeration: {
            NotInBlock(s, "Enumeration");
            if (s.flag && target().version < 540)
                Error(s.pos, QStringLiteral("EnumerationBinary exists from PureBasic 5.40 on"));
            m_enumBinary = s.flag;
            m_enumNext = m_enumBinary ? 1 : 0;
            m_enumStep = 1;
            if (!s.exprs.empty())
                m_enumNext = IntConst(*s.exprs[0], "The start of an Enumeration");
            if (s.exprs.size() > 1)
                m_enumStep = IntConst(*s.exprs[1], "The step of an Enumeration");
            CheckBody(s.body, Ctx::Enumeration);
            B(s).kind = Bind::Skip;
            return;
        }
        case StmtKind::Structure:
            return Structure(s);
        case StmtKind::Import:
            return Import(s);
        case StmtKind::Explicit:
            m_explicit = s.flag;
            B(s).kind = Bind::Skip;
            return;
        case StmtKind::DataSection:
            NotInBlock(s, "DataSection");
            CheckBody(s.body, Ctx::Data);
            B(s).kind = Bind::Skip;
            return;
        case StmtKind::Label:
            DefineLabel(s, -1); // a code label
            B(s).kind = Bind::Skip;
            return;
        case StmtKind::Restore:
            B(s).kind = Bind::Restore;
            B(s).a = LabelRef(s.name, s.pos);
            return;
        case StmtKind::Read:
            return Read(s);
        case StmtKind::Include:
            return Include(s, ctx);
        case StmtKind::Data:
        case StmtKind::IncludeBinary:
            Error(s.pos, QStringLiteral("%1 is only allowed in a DataSection")
                             .arg(QLatin1String(s.kind == StmtKind::Data ? "Data" : "IncludeBinary")));
        default:
            Error(s.pos, QStringLiteral("Syntax error"));
        }
    }

    std::int64_t IntConst(const Expr& e, const char* what)
    {
        const ConstEntry c = RequireConst(e, what);
        if (!IsIntCls(c.cls))
            Error(e.pos, QStringLiteral("%1 must be an integer constant").arg(QLatin1String(what)));
        return c.value.i;
    }

    void NotInBlock(const Stmt& s, const char* what) const
    {
        if (m_blockDepth > 0)
            Error(s.pos,
                  QStringLiteral("%1 is not allowed inside a block such as If or a loop").arg(QLatin1String(what)));
    }

    void CompilerIf(const Stmt& s, Ctx ctx)
    {
        int taken = -1;
        for (std::size_t i = 0; i < s.branches.size(); ++i) {
            const Branch& br = s.branches[i];
            if (i > 0 && br.condition && target().version < Since::CompilerElseIf)
                Error(br.pos, QStringLiteral("CompilerElseIf exists from PureBasic 5.10 on: nest CompilerIf or use "
                                             "CompilerSelect"));
            if (!br.condition || RequireCondition(*br.condition)) {
                taken = int(i);
                break;
            }
        }
        // every CompilerElseIf line is checked for the version even after the taken branch
        for (std::size_t i = std::size_t(std::max(taken, 0)) + 1; i < s.branches.size(); ++i) {
            if (s.branches[i].condition && target().version < Since::CompilerElseIf)
                Error(s.branches[i].pos, QStringLiteral("CompilerElseIf exists from PureBasic 5.10 on: nest "
                                                        "CompilerIf or use CompilerSelect"));
        }
        TakeBranch(s, taken, ctx);
    }

    void CompilerSelect(const Stmt& s, Ctx ctx)
    {
        const ConstEntry value = RequireConst(*s.exprs[0], "CompilerSelect's value");
        if (!IsIntCls(value.cls))
            Error(s.pos, QStringLiteral("CompilerSelect takes a numeric constant"));
        int taken = -1;
        for (std::size_t i = 0; i < s.branches.size() && taken < 0; ++i) {
            const Branch& br = s.branches[i];
            if (br.values.empty()) {
                taken = int(i);
                break;
            }
            for (const ExprPtr& v : br.values) {
                if (IntConst(*v, "A CompilerCase value") == value.value.i) {
                    taken = int(i);
                    break;
                }
            }
        }
        TakeBranch(s, taken, ctx);
    }

    void TakeBranch(const Stmt& s, int taken, Ctx ctx)
    {
        B(s).kind = Bind::Branch;
        B(s).a = taken;
        if (taken < 0)
            return;
        const Branch& br = s.branches[std::size_t(taken)];
        m_prog->branchesTaken.insert({m_cache.file(br.pos.file).path, br.pos.line});
        CheckBody(br.body, ctx);
    }

    void For(const Stmt& s, Ctx ctx)
    {
        const Cls place = PlaceExpr(*s.exprs[0], true);
        if (!IsIntCls(place))
            Error(s.pos, QStringLiteral("pbrun does not support For with a %1 variable")
                             .arg(QLatin1String(place == Cls::String ? "string" : "floating point")));
        IntArg(*s.exprs[1]);
        IntArg(*s.exprs[2]);
        std::int64_t step = 1;
        if (s.exprs.size() > 3)
            step = IntConst(*s.exprs[3], "Step");
        if (step == 0)
            Error(s.pos, QStringLiteral("Step 0 never ends the loop"));
        Binding& b = B(s);
        b.kind = Bind::ForLoop;
        pbrun::Value v;
        v.i = step;
        b.a = AddConst(v);
        ++m_blockDepth;
        ++m_loopDepth;
        CheckBody(s.body, ctx);
        --m_loopDepth;
        --m_blockDepth;
    }

    void Select(const Stmt& s, Ctx ctx)
    {
        const Cls value = ValueExpr(*s.exprs[0]);
        B(s).operandCls = value;
        ++m_blockDepth;
        for (const Branch& br : s.branches) {
            for (std::size_t i = 0; i < br.values.size(); ++i) {
                for (const Expr* v : {br.values[i].get(), br.rangeEnds[i].get()}) {
                    if (!v)
                        continue;
                    auto c = Fold(*v);
                    if (!c)
                        Error(v->pos, QStringLiteral("pbrun does not support Case values that are not constants"));
                    if ((c->cls == Cls::String) != (value == Cls::String))
                        Error(v->pos, QStringLiteral("Case value and Select value differ in type"));
                    Binding& cb = B(*v);
                    cb.kind = Bind::Const;
                    cb.cls = c->cls;
                    cb.a = AddConst(c->value);
                }
                if (br.rangeEnds[i] && value == Cls::String)
                    Error(br.pos, QStringLiteral("pbrun does not support string ranges in Case"));
            }
            CheckBody(br.body, ctx);
        }
        --m_blockDepth;
    }

    // ---- procedures ---------------------------------------------------------------------------------------

    ProcInfo Prototype(const Stmt& s)
    {
        CheckName(s.name, s.pos);
        ProcInfo p;
        p.name = s.name;
        p.dll = s.flag;
        p.declaredAt = s.pos;
        if (s.type.suffix == Suffix::Named)
            Error(s.pos, QStringLiteral("pbrun does not support procedures returning a structure"));
        p.result = s.type.suffix == Suffix::None ? DefaultType() : NativeType(s.type.suffix, s.pos);
        p.resultCls = ClsOf(p.result, target());
        bool defaults = false;
        for (const Param& param : s.params) {
            if (!param.keyword.isEmpty()) {
                const int since = param.keyword.compare(QLatin1String("map"), Qt::CaseInsensitive) == 0
                                      ? Since::MapParameters
                                      : Since::ArrayListParameters;
                if (target().version < since)
                    Error(param.pos, QStringLiteral("Syntax error: the %1 keyword before a parameter exists from "
                                                    "PureBasic %2 on")
                                         .arg(param.keyword, VersionText(since)));
                Error(param.pos, QStringLiteral("pbrun does not support %1 parameters").arg(param.keyword));
            }
            ParamInfo info;
            const VarType vt = ResolveType(param.name, param.type, Type::None, param.pos);
            if (vt.type == Type::Struct)
                Error(param.pos, QStringLiteral("pbrun does not support structure parameters"));
            info.cls = vt.pointer ? (target().pointerSize() == 8 ? Cls::Int64 : Cls::Int32) : ClsOf(vt.type, target());
            if (param.defaultValue) {
                const ConstEntry c = RequireConst(*param.defaultValue, "A parameter's default");
                Assignable(info.cls, c.cls, param.pos);
                info.defaultConst = AddConst(c.value);
                defaults = true;
            } else if (defaults) {
                Error(param.pos, QStringLiteral("Only the last parameters can have a default value"));
            }
            p.params.push_back(info);
        }
        return p;
    }

    bool SameSignature(const ProcInfo& a, const ProcInfo& b) const
    {
        if (a.result != b.result || a.params.size() != b.params.size())
            return false;
        for (std::size_t i = 0; i < a.params.size(); ++i)
            if (a.params[i].cls != b.params[i].cls || (a.params[i].defaultConst < 0) != (b.params[i].defaultConst < 0))
                return false;
        return true;
    }

    void Declare(const Stmt& s)
    {
        NotInBlock(s, "Declare");
        ProcInfo p = Prototype(s);
        B(s).kind = Bind::Skip;
        const QString k = Key(s.name);
        if (auto it = m_procs.constFind(k); it != m_procs.constEnd()) {
            if (!SameSignature(m_prog->procs[std::size_t(*it)], p))
                Error(s.pos, QStringLiteral("Declare does not match the procedure %1()").arg(s.name));
            return;
        }
        ClashCheck(s.name, s.pos);
        m_procs.insert(k, int(m_prog->procs.size()));
        m_prog->procs.push_back(std::move(p));
    }

    void ClashCheck(const QString& name, SourcePos pos) const
    {
        const QString k = Key(name);
        if (m_imports.contains(k))
            Error(pos, QStringLiteral("%1() is already declared as an imported function").arg(name));
        if (FindBuiltin(name, target()))
            Error(pos, QStringLiteral("%1() is a function of PureBasic and cannot be redefined").arg(name));
    }

    void Procedure(const Stmt& s, Ctx ctx)
    {
        if (ctx == Ctx::Procedure)
            Error(s.pos, QStringLiteral("A procedure cannot be defined inside another one"));
        NotInBlock(s, "Procedure");
        ProcInfo proto = Prototype(s);
        const QString k = Key(s.name);
        int index;
        if (auto it = m_procs.constFind(k); it != m_procs.constEnd()) {
            index = *it;
            if (m_definedProcs.contains(index))
                Error(s.pos, QStringLiteral("Procedure already declared: %1()").arg(s.name));
            if (!SameSignature(m_prog->procs[std::size_t(index)], proto))
                Error(s.pos, QStringLiteral("The procedure %1() does not match its Declare").arg(s.name));
            // the definition's defaults are the ones used
            m_prog->procs[std::size_t(index)].params = proto.params;
            m_prog->procs[std::size_t(index)].dll = proto.dll;
        } else {
            ClashCheck(s.name, s.pos);
            index = int(m_prog->procs.size());
            m_prog->procs.push_back(std::move(proto));
            m_procs.insert(k, index);
        }
        m_definedProcs.insert(index);
        m_prog->procs[std::size_t(index)].definition = &s;
        B(s).kind = Bind::Skip;
        B(s).a = index;

        // The body, in a scope of its own.
        m_proc = index;
        m_local = Scope();
        m_addressed.clear();
        CollectAddressed(s.body, m_addressed);
        for (std::size_t i = 0; i < s.params.size(); ++i) {
            const Param& param = s.params[i];
            const VarType vt = ResolveType(param.name, param.type, Type::None, param.pos);
            if (m_local.vars.contains(Key(param.name)))
                Error(param.pos, QStringLiteral("Parameter declared twice: %1").arg(param.name));
            const int v = NewVar(param.name, vt, false, false, param.pos);
            m_local.vars.insert(Key(param.name), v);
            m_prog->procs[std::size_t(index)].params[i].var = v;
        }
        CheckBody(s.body, Ctx::Procedure);
        m_proc = -1;
        m_local = Scope();
        m_addressed.clear();
    }

    // ---- variables ----------------------------------------------------------------------------------------

    void Variables(const Stmt& s)
    {
        const VarKeyword kw = s.varKeyword;
        const bool inProc = m_proc >= 0;
        if ((kw == VarKeyword::Protected || kw == VarKeyword::Static || kw == VarKeyword::Shared) && !inProc)
            Error(s.pos, QStringLiteral("%1 is only allowed in a procedure")
                             .arg(kw == VarKeyword::Protected ? "Protected"
                                  : kw == VarKeyword::Static  ? "Static"
                                                              : "Shared"));
        if (kw == VarKeyword::Global && inProc)
            Error(s.pos, QStringLiteral("pbrun does not support Global inside a procedure"));
        Type fallback = Type::None;
        if (s.defaultType.suffix != Suffix::None) {
            if (s.defaultType.suffix == Suffix::Named)
                Error(s.pos, QStringLiteral("pbrun does not support a structure as a default type"));
            fallback = NativeType(s.defaultType.suffix, s.pos);
        }
        for (const VarItem& item : s.vars) {
            const Expr& name = *item.target;
            if (kw == VarKeyword::Shared) {
                const QString k = Key(name.text);
                const bool isArray = item.dim;
                const auto& from = isArray ? m_main.arrays : m_main.vars;
                auto it = from.constFind(k);
                if (it == from.constEnd())
                    Error(name.pos, QStringLiteral("Shared: no main-level variable %1").arg(name.text));
                (isArray ? m_local.arrays : m_local.vars).insert(k, *it);
                continue;
            }
            if (item.dim) {
                DimItem(item, kw, fallback, false, s.pos);
                continue;
            }
            const VarType vt = ResolveType(name.text, name.type, fallback, name.pos);
            const bool global = !inProc || kw == VarKeyword::Static;
            Scope& scope = inProc ? m_local : m_main;
            const QString k = Key(name.text);
            int v;
            if (auto it = scope.vars.constFind(k);
                it != scope.vars.constEnd() && (!inProc || m_prog->vars[std::size_t(*it)].global == global)) {
                v = *it;
                const VarInfo& old = m_prog->vars[std::size_t(v)];
                if (old.type != vt.type || old.structId != vt.structId)
                    Error(name.pos, QStringLiteral("Variable already declared with another type: %1").arg(name.text));
                if (kw == VarKeyword::Protected)
                    Error(name.pos, QStringLiteral("Variable already declared: %1").arg(name.text));
            } else {
                v = NewVar(name.text, vt, global, false, name.pos);
                scope.vars.insert(k, v);
            }
            if (kw == VarKeyword::Global)
                m_globals.vars.insert(k, v);
            Binding& nb = B(name);
            nb.kind = Bind::Var;
            nb.a = v;
            nb.type =
                m_prog->vars[std::size_t(v)].pointer ? (target().pointerSize() == 8 ? Type::Q : Type::L) : vt.type;
            nb.cls = VarCls(m_prog->vars[std::size_t(v)]);
            if (item.init) {
                if (vt.type == Type::Struct)
                    Error(name.pos, QStringLiteral("pbrun does not support initialising a structure"));
                const Cls c = ValueExpr(*item.init);
                Assignable(nb.cls, c, name.pos);
                if (nb.cls == Cls::Int32)
                    LowBitsOnly(*item.init);
            }
        }
    }

    void Dim(const Stmt& s)
    {
        for (const VarItem& item : s.vars)
            DimItem(item, VarKeyword::Define, Type::None, s.flag, s.pos);
    }

    void DimItem(const VarItem& item, VarKeyword kw, Type fallback, bool redim, SourcePos pos)
    {
        const Expr& name = *item.target;
        for (const ExprPtr& d : item.dimensions)
            IntArg(*d);
        if (item.dimensions.size() != 1)
            Error(pos, QStringLiteral("pbrun does not support arrays of more than one dimension"));
        const QString k = Key(name.text);
        const bool inProc = m_proc >= 0;
        if (redim) {
            const int arr = FindArray(name.text);
            if (arr < 0)
                Error(pos, QStringLiteral("ReDim of an array that was never Dim'ed: %1()").arg(name.text));
            const VarInfo& info = m_prog->vars[std::size_t(arr)];
            if (int(item.dimensions.size()) != 1 || info.dimensions != 1)
                Error(pos, QStringLiteral("pbrun does not support ReDim of arrays with more than one dimension"));
            B(name).kind = Bind::Var;
            B(name).a = arr;
            return;
        }
        const VarType vt = ResolveType(name.text, name.type, fallback, name.pos);
        if (vt.pointer)
            Error(name.pos, QStringLiteral("pbrun does not support arrays of pointers"));
        // A plain Dim inside a procedure of an array declared Global dimensions that global array: the
        // IDE's own LoadPreferences() does so with Common.pb's Global Dim IndentKeywords(), and the DLL
        // manual has global arrays dimensioned inside AttachProcess().
        const bool globalArray =
            inProc && kw == VarKeyword::Define && !m_local.arrays.contains(k) && m_globals.arrays.contains(k);
        Scope& scope = globalArray ? m_globals : inProc && kw != VarKeyword::Static ? m_local : m_main;
        int v;
        if (auto it = scope.arrays.constFind(k); it != scope.arrays.constEnd()) {
            v = *it; // Dim again: a new array of the same name
            const VarInfo& old = m_prog->vars[std::size_t(v)];
            if (old.type != vt.type || old.structId != vt.structId || old.dimensions != int(item.dimensions.size()))
                Error(name.pos, QStringLiteral("Array already declared with another type: %1()").arg(name.text));
        } else {
            v = NewVar(name.text, vt, !inProc || kw == VarKeyword::Static, true, name.pos);
            m_prog->vars[std::size_t(v)].dimensions = int(item.dimensions.size());
            scope.arrays.insert(k, v);
        }
        if (kw == VarKeyword::Global)
            m_globals.arrays.insert(k, v);
        B(name).kind = Bind::Var;
        B(name).a = v;
    }

    void Read(const Stmt& s)
    {
        const int v = target().version;
        if (s.type.suffix == Suffix::None && v >= Since::TypedRead)
            Error(s.pos, QStringLiteral("Read needs a type from PureBasic 4.30 on (Read.l, Read.q, ...)"));
        if (s.type.suffix != Suffix::None && v < Since::TypedRead)
            Error(s.pos, QStringLiteral("Read takes a type from PureBasic 4.30 on; before, it reads the "
                                        "variable's type"));
        Type type = Type::None;
        if (s.type.suffix != Suffix::None) {
            if (s.type.suffix == Suffix::Named)
                Error(s.pos, QStringLiteral("Read takes a native type"));
            type = NativeType(s.type.suffix, s.pos);
        }
        for (const ExprPtr& t : s.exprs) {
            const Cls cls = PlaceExpr(*t, true);
            Type dataType = type;
            if (dataType == Type::None) {
                const Binding& tb = B(*t);
                dataType = tb.type;
            }
            if ((dataType == Type::S) != (cls == Cls::String))
                Error(s.pos, QStringLiteral("Read.%1 into a %2 variable")
                                 .arg(TypeLetter(dataType), QLatin1String(cls == Cls::String ? "string" : "numeric")));
        }
        B(s).kind = Bind::ReadData;
        B(s).type = type;
    }

    // ---- structures, enumerations, imports, data ----------------------------------------------------------

    void Structure(const Stmt& s)
    {
        NotInBlock(s, "Structure");
        B(s).kind = Bind::Skip;
        CheckName(s.name, s.pos);
        const QString k = Key(s.name);
        if (m_structs.contains(k))
            Error(s.pos, QStringLiteral("Structure already declared: %1").arg(s.name));
        StructInfo info;
        info.name = s.name;
        if (s.type.suffix == Suffix::Named) {
            info = m_prog->structs[std::size_t(StructByName(s.type.name, s.pos))];
            info.name = s.name;
        }
        // The name is known inside its own body, so a field may point to the structure it belongs to.
        const int index = int(m_prog->structs.size());
        m_prog->structs.emplace_back();
        m_structs.insert(k, index);
        m_building = index;
        m_struct = &info;
        CheckBody(s.body, Ctx::Structure);
        m_struct = nullptr;
        m_building = -1;
        m_prog->structs[std::size_t(index)] = std::move(info);
    }

    // Fields are packed: PureBasic aligns structures to 1 byte unless Align is given.
    void StructureItem(const Stmt& s)
    {
        if (s.kind != StmtKind::FieldDecl)
            Error(s.pos, QStringLiteral("Syntax error in a Structure"));
        FieldInfo f;
        f.name = s.name;
        f.pointer = s.pointer;
        if (FindField(*m_struct, s.name))
            Error(s.pos, QStringLiteral("Structure field already declared: %1").arg(s.name));
        int size;
        if (s.pointer) {
            f.type = Type::I;
            if (s.type.suffix == Suffix::Named)
                f.structId = StructByName(s.type.name, s.pos);
            size = target().pointerSize();
        } else if (s.type.suffix == Suffix::Named) {
            f.type = Type::Struct;
            f.structId = StructByName(s.type.name, s.pos);
            if (f.structId == m_building)
                Error(s.pos, QStringLiteral("A structure cannot contain itself (a pointer to it can stand there)"));
            size = m_prog->structs[std::size_t(f.structId)].size;
        } else {
            f.type = s.type.suffix == Suffix::None ? DefaultType() : NativeType(s.type.suffix, s.pos);
            if (f.type == Type::S)
                Error(s.pos, QStringLiteral("pbrun does not support string fields"));
            size = SizeOfType(f.type, target());
        }
        if (!s.exprs.empty()) {
            const std::int64_t n = IntConst(*s.exprs[0], "A static array's size");
            if (n < 1 || n > 1 << 24)
                Error(s.pos, QStringLiteral("A static array field needs 1 or more elements"));
            f.count = int(n);
            size *= f.count;
        }
        f.offset = m_struct->size;
        m_struct->size += size;
        m_struct->fields.push_back(f);
    }

    void EnumerationItem(const Stmt& s)
    {
        if (s.kind != StmtKind::EnumItem)
            Error(s.pos, QStringLiteral("Syntax error in an Enumeration"));
        if (!s.exprs.empty())
            m_enumNext = IntConst(*s.exprs[0], "An enumeration value");
        ConstEntry c;
        c.value.i = m_enumNext;
        c.cls = (m_enumNext > INT32_MAX || m_enumNext < INT32_MIN) ? Cls::Int64 : Cls::Int32;
        DefineConstant(s.name, c, s.pos);
        if (m_enumBinary)
            m_enumNext = m_enumNext ? std::int64_t(std::uint64_t(m_enumNext) << 1) : 1;
        else
            m_enumNext = std::int64_t(std::uint64_t(m_enumNext) + std::uint64_t(m_enumStep));
    }

    void Import(const Stmt& s)
    {
        NotInBlock(s, "Import");
        B(s).kind = Bind::Skip;
        const ConstEntry lib = RequireConst(*s.exprs[0], "The library of an Import");
        if (lib.cls != Cls::String)
            Error(s.pos, QStringLiteral("Import takes the library's name as a string"));
        const QString name = lib.value.s;
        if (name.endsWith(QLatin1String(".res"), Qt::CaseInsensitive)) {
            if (s.flag)
                Error(s.pos, QStringLiteral("pbrun does not support a .res file in ImportC"));
            if (!s.body.empty())
                Error(s.pos, QStringLiteral("pbrun does not support functions imported from a .res file"));
            if (target().os != Os::Windows) {
                m_linkErrors.emplace_back(QStringLiteral("a .res file can be linked on Windows only (%1)").arg(name),
                                          s.pos);
                return;
            }
            // Import paths go to the linker, which runs from the main source's folder.
            QString path = name;
            path.replace(QLatin1Char('\\'), QLatin1Char('/'));
            if (!QDir::isAbsolutePath(path))
                path = QDir::cleanPath(QDir(m_mainFolder).filePath(path));
            LinkResFile(path, s.pos);
            return;
        }
        m_importC = s.flag;
        const bool windows = target().os == Os::Windows;
        // PureBasic's own IDE imports zlib as "zlib.lib" on Windows and "-lz" elsewhere (PureBasicIDE/ZLib.pb).
        m_importZlib =
            windows ? name.compare(QLatin1String("zlib.lib"), Qt::CaseInsensitive) == 0 : name == QLatin1String("-lz");
        if (!m_importZlib)
            m_linkErrors.emplace_back(
                QStringLiteral("pbrun does not know the library \"%1\" on %2: PureBasic's documentation does not "
                               "confirm it is there")
                    .arg(name, QLatin1String(windows                    ? "Windows"
                                             : target().os == Os::Linux ? "Linux"
                                                                        : "macOS")),
                s.pos);
        CheckBody(s.body, Ctx::Import);
    }

    void ImportItem(const Stmt& s)
    {
        if (s.kind != StmtKind::ImportDecl)
            Error(s.pos, QStringLiteral("Syntax error in an Import block"));
        CheckName(s.name, s.pos);
        const QString k = Key(s.name);
        if (m_imports.contains(k) || m_procs.contains(k))
            Error(s.pos, QStringLiteral("%1() is already declared").arg(s.name));
        if (k != u"uncompress")
            Error(s.pos, QStringLiteral("pbrun does not support importing %1()").arg(s.name));
        if (m_importZlib && !m_importC && target().cpu == Cpu::X86)
            Error(s.pos, QStringLiteral("zlib's functions use the C calling convention: on x86 they need ImportC"));
        // uncompress(Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen) returns an int.
        if (s.params.size() != 4)
            Error(s.pos, QStringLiteral("zlib's uncompress() takes 4 parameters"));
        ImportInfo info;
        info.name = s.name;
        info.handler = &NativeUncompress;
        info.result = s.type.suffix == Suffix::None ? DefaultType() : NativeType(s.type.suffix, s.pos);
        if (SizeOfType(info.result, target()) < 4)
            Error(s.pos, QStringLiteral("uncompress() returns a C int: its result type is too narrow"));
        info.resultCls = ClsOf(info.result, target());
        const int cLong = target().cLongSize();
        for (std::size_t i = 0; i < s.params.size(); ++i) {
            const Param& p = s.params[i];
            const VarType vt = ResolveType(p.name, p.type, Type::None, p.pos);
            if (vt.type == Type::S || vt.type == Type::Struct || vt.type == Type::F || vt.type == Type::D)
                Error(p.pos, QStringLiteral("uncompress(): %1 must be an integer or a pointer").arg(p.name));
            const int width = vt.pointer ? target().pointerSize() : SizeOfType(vt.type, target());
            const bool wantPointer = i != 3;
            if (wantPointer && width != target().pointerSize())
                Error(p.pos, QStringLiteral("uncompress(): %1 is %2 bytes here, but a C pointer is %3 bytes on %4")
                                 .arg(p.name)
                                 .arg(width)
                                 .arg(target().pointerSize())
                                 .arg(target().name()));
            if (!wantPointer && width != cLong)
                Error(p.pos, QStringLiteral("uncompress(): %1 is %2 bytes here, but zlib's uLong is %3 bytes on %4")
                                 .arg(p.name)
                                 .arg(width)
                                 .arg(cLong)
                                 .arg(target().name()));
            info.params.push_back(target().pointerSize() == 8 ? Cls::Int64 : Cls::Int32);
        }
        B(s).kind = Bind::Skip;
        m_imports.insert(k, int(m_prog->imports.size()));
        m_prog->imports.push_back(std::move(info));
    }

    void LinkResFile(const QString& path, SourcePos pos)
    {
        QByteArray bytes;
        QString error;
        if (!m_cache.Binary(path, bytes, &error)) {
            m_linkErrors.emplace_back(QStringLiteral("the linker cannot read it: %1").arg(error), pos);
            return;
        }
        std::vector<ResEntry> entries = ReadResFile(bytes, &error);
        if (!error.isEmpty()) {
            m_linkErrors.emplace_back(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), error), pos);
            return;
        }
        for (ResEntry& e : entries) {
            for (const ResEntry& old : m_prog->resources) {
                if (old.typeIsNumber == e.typeIsNumber && old.typeNumber == e.typeNumber &&
                    old.typeName == e.typeName && old.nameIsNumber == e.nameIsNumber &&
                    old.nameNumber == e.nameNumber && old.name == e.name && old.language == e.language)
                    m_linkErrors.emplace_back(
                        QStringLiteral("duplicate resource in %1").arg(QFileInfo(path).fileName()), pos);
            }
            m_prog->resources.push_back(std::move(e));
        }
    }

    void DataItem(const Stmt& s)
    {
        QByteArray& data = m_prog->data;
        B(s).kind = Bind::Skip;
        switch (s.kind) {
        case StmtKind::Label:
            DefineLabel(s, int(data.size()));
            return;
        case StmtKind::Data: {
            if (s.type.suffix == Suffix::Named)
                Error(s.pos, QStringLiteral("Data takes a native type"));
            const Type type = NativeType(s.type.suffix, s.pos);
            const int size = SizeOfType(type, target());
            auto putInt = [&](std::int64_t v) {
                for (int i = 0; i < size; ++i)
                    data.append(char(std::uint64_t(v) >> (8 * i)));
            };
            if (!s.ints.empty()) {
                if (type == Type::S || type == Type::F || type == Type::D) {
                    for (std::int64_t v : s.ints)
                        PutTyped(type, double(v), {}, s.pos);
                    return;
                }
                data.reserve(data.size() + qsizetype(s.ints.size()) * size);
                for (std::int64_t v : s.ints)
                    putInt(v);
                return;
            }
            for (const ExprPtr& e : s.exprs) {
                if (e->kind == ExprKind::LabelAddr || e->kind == ExprKind::AddressOf)
                    Error(e->pos, QStringLiteral("pbrun does not support addresses in Data"));
                const ConstEntry c = RequireConst(*e, "A Data value");
                if ((type == Type::S) != (c.cls == Cls::String))
                    Error(e->pos, QStringLiteral("Data.%1 takes %2")
                                      .arg(TypeLetter(type), QLatin1String(type == Type::S ? "strings" : "numbers")));
                if (type == Type::S || type == Type::F || type == Type::D)
                    PutTyped(type, IsIntCls(c.cls) ? double(c.value.i) : c.value.d, c.value.s, e->pos);
                else if (!IsIntCls(c.cls))
                    Error(e->pos, QStringLiteral("Data.%1 takes integers").arg(TypeLetter(type)));
                else
                    putInt(c.value.i);
            }
            return;
        }
        case StmtKind::IncludeBinary: {
            const ConstEntry name = RequireConst(*s.exprs[0], "IncludeBinary's file");
            if (name.cls != Cls::String)
                Error(s.pos, QStringLiteral("IncludeBinary takes a file name"));
            const QString path = Resolve(name.value.s, s.pos);
            QByteArray bytes;
            QString error;
            if (!m_cache.Binary(path, bytes, &error))
                Error(s.pos, QStringLiteral("IncludeBinary: %1").arg(error));
            data.append(bytes);
            return;
        }
        default:
            Error(s.pos, QStringLiteral("Only Data, IncludeBinary and labels are allowed in a DataSection"));
        }
    }

    // Data.s, Data.f, Data.d: strings are laid out in the program's character format with their zero
    // (unconfirmed: the manual does not describe the layout).
    void PutTyped(Type type, double d, const QString& text, SourcePos pos)
    {
        QByteArray& data = m_prog->data;
        if (type == Type::F) {
            const float f = float(d);
            data.append(reinterpret_cast<const char*>(&f), 4);
        } else if (type == Type::D) {
            data.append(reinterpret_cast<const char*>(&d), 8);
        } else {
            if (!target().unicode) {
                CheckAsciiLiteral(text, pos);
                data.append(text.toLatin1());
                data.append('\0');
            } else {
                for (QChar ch : text) {
                    data.append(char(ch.unicode() & 0xFF));
                    data.append(char(ch.unicode() >> 8));
                }
                data.append(2, '\0');
            }
        }
    }

    void Include(const Stmt& s, Ctx ctx)
    {
        const ConstEntry name = RequireConst(*s.exprs[0], "The file of an include");
        if (name.cls != Cls::String)
            Error(s.pos, QStringLiteral("An include takes a file name"));
        const QString path = Resolve(name.value.s, s.pos);
        Binding& b = B(s);
        b.kind = Bind::Include;
        if (s.flag && m_xincluded.contains(path)) {
            b.a = -1;
            return;
        }
        m_xincluded.insert(path);
        if (std::find(m_fileStack.begin(), m_fileStack.end(), m_cache.Load(path)) != m_fileStack.end())
            Error(s.pos, QStringLiteral("The file includes itself: %1").arg(path));
        m_includeStack.push_back(s.pos);
        const int file = LoadFile(path, s.pos);
        B(s).a = file;
        m_fileStack.push_back(file);
        CheckBody(m_cache.file(file).body, ctx);
        m_fileStack.pop_back();
        m_includeStack.pop_back();
    }

    // ---- the link step ------------------------------------------------------------------------------------

    void Link()
    {
        for (const auto& [index, pos] : m_labelUses) {
            const LabelInfo& l = m_prog->labels[std::size_t(index)];
            if (l.pos.line == 0)
                Error(pos, QStringLiteral("Label not found: %1").arg(l.name));
            if (l.offset < 0)
                Error(pos, QStringLiteral("pbrun does not support the label %1 outside a DataSection").arg(l.name));
        }
        for (const auto& [index, pos] : m_calledProcs) {
            if (!m_definedProcs.contains(index))
                Error(pos, QStringLiteral("The procedure %1() is declared but never defined")
                               .arg(m_prog->procs[std::size_t(index)].name));
        }
        if (!m_linkErrors.empty())
            Error(m_linkErrors.front().second, m_linkErrors.front().first);
        for (const QString& res : m_options.resFiles) {
            if (target().os != Os::Windows)
                Error({m_prog->mainFile, 1}, QStringLiteral("a .res file can be linked on Windows only (%1)").arg(res));
            LinkResFile(QFileInfo(res).absoluteFilePath(), {m_prog->mainFile, 1});
            if (!m_linkErrors.empty())
                Error(m_linkErrors.front().second, m_linkErrors.front().first);
        }
    }
};

} // namespace

QString TypeLetter(Type t)
{
    switch (t) {
    case Type::B:
        return QStringLiteral("b");
    case Type::A:
        return QStringLiteral("a");
    case Type::C:
        return QStringLiteral("c");
    case Type::W:
        return QStringLiteral("w");
    case Type::U:
        return QStringLiteral("u");
    case Type::L:
        return QStringLiteral("l");
    case Type::I:
        return QStringLiteral("i");
    case Type::Q:
        return QStringLiteral("q");
    case Type::F:
        return QStringLiteral("f");
    case Type::D:
        return QStringLiteral("d");
    case Type::S:
        return QStringLiteral("s");
    default:
        return QStringLiteral("?");
    }
}

CheckResult Check(SourceCache& cache, const QString& mainPath, const Target& target, const CheckOptions& options)
{
    Checker checker(cache, target, options);
    return checker.Run(QFileInfo(mainPath).absoluteFilePath());
}

} // namespace hexaloom::pbrun
