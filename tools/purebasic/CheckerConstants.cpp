// Constant folding: literals, constants of the program and of PureBasic, compiler constants, Defined(),
// SizeOf(), OffsetOf() and the conditions of compiler directives.
#include "CheckerImpl.h"

namespace hexaloom::pbrun::checking {

// #PB_Compiler_*: the value from the target and the source, the versions from the table.
std::optional<ConstEntry> Checker::CompilerConstant(const QString& name, SourcePos pos, QString* why)
{
    const CompilerConstantInfo* info = FindCompilerConstant(name);
    if (!info)
        return std::nullopt;
    const Target& t = target();
    if (t.version < info->since) {
        if (why)
            *why = QStringLiteral("it came with PureBasic %1").arg(VersionText(info->since));
        return std::nullopt;
    }
    if (why && (info->confirmedFrom == 0 || t.version < info->confirmedFrom))
        NoteFact(info->note, QLatin1Char('#') + name, pos);
    const QString k = Key(name);
    const QString file = m_cache.file(pos.file).path;
    ConstEntry e;
    e.cls = Cls::String;
    if (k == u"pb_compiler_home")
        e.value.s = !m_options.compilerHome.isEmpty() ? m_options.compilerHome
                    : t.os == Os::Windows             ? QStringLiteral("C:\\Program Files\\PureBasic\\")
                    : t.os == Os::Linux               ? QStringLiteral("/usr/share/purebasic/")
                                        : QStringLiteral("/Applications/PureBasic.app/Contents/Resources/");
    else if (k == u"pb_compiler_file")
        e.value.s = file;
    else if (k == u"pb_compiler_procedure")
        e.value.s = m_proc >= 0 ? m_prog->procs[std::size_t(m_proc)].name : QString();
    else if (k == u"pb_compiler_filepath")
        e.value.s = QFileInfo(file).absolutePath() + QLatin1Char('/');
    else if (k == u"pb_compiler_filename")
        e.value.s = QFileInfo(file).fileName();
    else
        e.cls = Cls::Int32;
    e.value.i = k == u"pb_compiler_os"                 ? int(t.os)
                : k == u"pb_compiler_processor"        ? int(t.cpu)
                : k == u"pb_compiler_version"          ? t.version
                : k == u"pb_compiler_unicode"          ? (t.unicode ? 1 : 0)
                : k == u"pb_compiler_debugger"         ? 1 // pbrun checks like the debugger
                : k == u"pb_compiler_line"             ? pos.line
                : k == u"pb_compiler_executableformat" ? (m_options.dll ? 1 : 0)
                : k == u"pb_compiler_64bit"            ? (t.pointerSize() == 8 ? 1 : 0)
                : k == u"pb_compiler_32bit"            ? (t.pointerSize() == 4 ? 1 : 0)
                                                       : 0;
    return e;
}

std::optional<ConstEntry> Checker::LookupConstant(const QString& name, SourcePos pos, QString* why)
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
void Checker::DefineConstant(const QString& name, const ConstEntry& c, SourcePos pos)
{
    CheckName(name, pos);
    const QString k = Key(name);
    QString why;
    const bool builtin = k.startsWith(u"pb_") && (FindConstant(name, target(), &why) || CompilerConstant(name, pos));
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
std::optional<ConstEntry> Checker::Fold(const Expr& e)
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
std::optional<bool> Checker::FoldCondition(const Expr& e)
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

namespace {

// The first function call in an expression, or null: compile-time functions beyond Defined(), SizeOf(),
// OffsetOf() and Bool() (Subsystem(), ...) are not among what pbrun folds.
const Expr* FirstCall(const Expr& e)
{
    if (e.kind == ExprKind::Call)
        return &e;
    for (const ExprPtr& a : e.args)
        if (const Expr* c = a ? FirstCall(*a) : nullptr)
            return c;
    return nullptr;
}

} // namespace

ConstEntry Checker::RequireConst(const Expr& e, const char* what)
{
    m_foldRefusal.clear();
    auto c = Fold(e);
    if (!c && !m_foldRefusal.isEmpty())
        Error(e.pos, m_foldRefusal);
    if (const Expr* call = c ? nullptr : FirstCall(e))
        Error(call->pos, QStringLiteral("pbrun does not support %1() in a constant expression").arg(call->text));
    if (!c)
        Error(e.pos, QStringLiteral("%1 must be a constant expression").arg(QLatin1String(what)));
    return *c;
}

bool Checker::RequireCondition(const Expr& e)
{
    // What a directive's condition may hold: 4.30 "Support for 'And/Or' in CompilerIf statements", 5.10
    // "Constant string comparisons are now handled at compile time, allowing use in CompilerIf".
    const bool logicLater = target().version < Since::CompilerIfLogic;
    const bool stringsLater = target().version < Since::CompilerIfStrings;
    std::function<void(const Expr&)> walk = [&](const Expr& x) {
        if (x.kind == ExprKind::Binary && logicLater && (x.op == Op::And || x.op == Op::Or || x.op == Op::XOr))
            Error(x.pos, QStringLiteral("And and Or in a compiler directive exist from PureBasic 4.30 on: "
                                        "nest CompilerIf"));
        if (x.kind == ExprKind::Binary && stringsLater && x.op >= Op::Eq && x.op <= Op::Ge && x.args[0]) {
            const auto left = Fold(*x.args[0]);
            if (left && left->cls == Cls::String)
                Error(x.pos, QStringLiteral("A string comparison in a compiler directive exists from PureBasic "
                                            "5.10 on"));
        }
        for (const ExprPtr& a : x.args)
            if (a)
                walk(*a);
    };
    if (stringsLater) // logicLater implies it
        walk(e);
    m_foldRefusal.clear();
    auto c = FoldCondition(e);
    if (!c && !m_foldRefusal.isEmpty())
        Error(e.pos, m_foldRefusal);
    if (const Expr* call = c ? nullptr : FirstCall(e))
        Error(call->pos, QStringLiteral("pbrun does not support %1() in a constant expression").arg(call->text));
    if (!c)
        Error(e.pos, QStringLiteral("The condition of a compiler directive must be constant"));
    return *c;
}

void Checker::CheckAsciiLiteral(const QString& text, SourcePos pos) const
{
    for (QChar ch : text) {
        if (ch.unicode() > 127)
            Error(pos, QStringLiteral("pbrun does not support non-ASCII text in ASCII mode: the system's code "
                                      "page decides what it becomes"));
    }
}

bool Checker::DefinedValue(const Expr& e)
{
    const ConstEntry kind = RequireConst(*e.args[0], "The type of Defined()");
    const QString k = Key(e.text);
    switch (kind.value.i) {
    case DefinedType::Constant: {
        QString why;
        return LookupConstant(e.text, e.pos, &why).has_value();
    }
    case DefinedType::Variable:
        return FindVar(e.text) >= 0;
    case DefinedType::Array:
        return FindArray(e.text) >= 0;
    case DefinedType::Structure:
        return m_structs.contains(k);
    case DefinedType::Procedure:
        if (m_imports.contains(k))
            Error(e.pos, QStringLiteral("pbrun does not support Defined(%1, #PB_Procedure) for an imported "
                                        "function: whether it counts is not documented")
                             .arg(e.text));
        return m_procs.contains(k);
    case DefinedType::Function:
        return FindBuiltin(e.text, target()) != nullptr;
    case DefinedType::Label:
        return m_labels.contains(k) && m_prog->labels[std::size_t(m_labels[k])].pos.line > 0;
    case DefinedType::List:
    case DefinedType::Map:
    case DefinedType::Interface:
    case DefinedType::Prototype:
    case DefinedType::Module:
    case DefinedType::Enumeration: // pbrun has none of these
        return false;
    default:
        Error(e.pos, QStringLiteral("Defined(): unknown type %1").arg(kind.value.i));
    }
}

std::int64_t Checker::SizeOfValue(const Expr& e)
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

const FieldInfo* Checker::FindField(const StructInfo& s, const QString& name)
{
    for (const FieldInfo& f : s.fields)
        if (f.name.compare(name, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

Cls Checker::BinaryCls(const Expr& e, Cls a, Cls b) const
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

std::int64_t Checker::FoldIntOp(const Expr& e, std::int64_t x, std::int64_t y, Cls cls) const
{
    QString error;
    const auto r = IntOp(e.op, x, y, cls, error);
    if (!r)
        Error(e.pos, error);
    return *r;
}

} // namespace hexaloom::pbrun::checking
