// Name binding: types, variables, arrays, expressions and calls, procedures and their scopes.
#include "CheckerImpl.h"

namespace hexaloom::pbrun::checking {

namespace {

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

} // namespace

void Checker::AddPredefinedStructures()
{
    for (const PredefinedStructureInfo& p : PredefinedStructureTable()) {
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

Type Checker::NativeType(Suffix s, SourcePos pos) const
{
    const int v = target().version;
    if ((s == Suffix::A || s == Suffix::U) && v < Since::AsciiUnicodeTypes)
        Error(pos, QStringLiteral("the type .%1 exists from PureBasic 4.40 on")
                       .arg(QLatin1String(s == Suffix::A ? "a" : "u")));
    if (s == Suffix::I && v < Since::IntegerType)
        Error(pos, QStringLiteral("the type .i exists from PureBasic 4.30 on"));
    return s == Suffix::None || s == Suffix::Named ? Type::None : Type(int(s));
}

int Checker::StructByName(const QString& name, SourcePos pos) const
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

VarType Checker::ResolveType(const QString& name, const TypeName& tn, Type fallback, SourcePos pos) const
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

Cls Checker::VarCls(const VarInfo& v) const
{
    if (v.pointer)
        return target().pointerSize() == 8 ? Cls::Int64 : Cls::Int32;
    return ClsOf(v.type, target());
}

void Checker::CheckName(const QString& name, SourcePos pos) const
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
        Error(
            pos,
            QStringLiteral("%1 is a keyword from PureBasic %2 on and cannot be a name").arg(bare, VersionText(since)));
}

int Checker::NewVar(const QString& name, const VarType& vt, bool global, bool array, SourcePos pos)
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

int Checker::FindInScopes(const QString& name, QHash<QString, int> Scope::*kind) const
{
    // Inside a procedure its own names, then the globals; outside, the main level's.
    const QString k = Key(name);
    const Scope* const scopes[] = {m_proc >= 0 ? &m_local : &m_main, m_proc >= 0 ? &m_globals : nullptr};
    for (const Scope* scope : scopes) {
        if (!scope)
            break;
        if (auto it = (scope->*kind).constFind(k); it != (scope->*kind).constEnd())
            return *it;
    }
    return -1;
}

int Checker::FindVar(const QString& name) const
{
    return FindInScopes(name, &Scope::vars);
}

int Checker::FindArray(const QString& name) const
{
    return FindInScopes(name, &Scope::arrays);
}

// A variable used without a declaration: an error under EnableExplicit, else a new one in the
// current scope (a local inside a procedure).
int Checker::ImplicitVar(const Expr& e)
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
int Checker::VarRef(const Expr& e)
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

// An integer expression whose value is used only in its low 32 bits (stored in a long or narrower,
// passed as one): computed in 32 or in 64 bits it gives the same there. Marks the 32-bit operators
// it is made of, down through those whose low bits depend only on their operands' low bits; the
// evaluator refuses an unmarked one on a 64-bit target where the two widths disagree.
void Checker::LowBitsOnly(const Expr& e)
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
Cls Checker::ValueExpr(const Expr& e)
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
            Error(e.pos, QStringLiteral("pbrun does not support a whole structure (%1) as a value").arg(e.text));
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

QString Checker::OutsideCondition(const QString& what) const
{
    // 5.10: "Bool() compiler operator. Boolean operations are now forbidden without Bool()."
    if (target().version >= Since::BoolFunction)
        return QStringLiteral("%1 outside a condition needs Bool()").arg(what);
    return QStringLiteral("pbrun does not support %1 outside a condition before PureBasic 5.10: its value "
                          "there is not documented")
        .arg(what);
}

// Checks a condition (If, While, Until, Bool): comparisons and logic allowed.
void Checker::Condition(const Expr& e)
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
Cls Checker::Call(const Expr& e, bool valueWanted)
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
            Error(e.pos, QStringLiteral("%1() is not a function, array, list, map or macro (%2).").arg(e.text, why));
        if (!DefinedFurtherOn(StmtKind::Procedure, e.text))
            Error(e.pos, QStringLiteral("pbrun does not know %1(): it is not declared before this line nor among "
                                        "the PureBasic functions pbrun knows")
                             .arg(e.text));
        Error(e.pos, QStringLiteral("%1() is not a function, array, list, map or macro.").arg(e.text));
    }
    const ParamCounts counts = CountParams(info->params);
    const int given = int(e.args.size());
    if (counts.unconfirmedResult ? valueWanted : counts.unconfirmedFrom < 0 || given > counts.unconfirmedFrom)
        NoteFact(info->note, e.text + QStringLiteral("()"), e.pos);
    if (info->note && QLatin1String(info->note).startsWith(QLatin1String("refuse: ")))
        Error(e.pos, QStringLiteral("pbrun does not support %1() on PureBasic %2: %3")
                         .arg(e.text, VersionText(target().version), QLatin1String(info->note + 8)));
    if (given > counts.implemented && given <= counts.documented)
        Error(e.pos, QStringLiteral("pbrun does not know %1() with %2 parameters: it implements %3 of the %4 the "
                                    "manual documents")
                         .arg(e.text)
                         .arg(given)
                         .arg(counts.implemented)
                         .arg(counts.documented));
    // a count a later version takes: the compiler of this one refuses it, and the message says since when
    const int later = VersionTakingArgs(e.text, given);
    CheckArgCount(e, counts.required, counts.documented,
                  later > target().version
                      ? QStringLiteral(" (%1 from PureBasic %2)").arg(given).arg(VersionText(later))
                      : QString());
    const QString letters = counts.letters;
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

std::size_t Checker::RequiredParams(const ProcInfo& p)
{
    std::size_t n = 0;
    while (n < p.params.size() && p.params[n].defaultConst < 0)
        ++n;
    return n;
}

void Checker::CheckArgCount(const Expr& e, int required, int total, const QString& since) const
{
    const int n = int(e.args.size());
    if (n < required || n > total) {
        if (required == total)
            Error(e.pos, QStringLiteral("Incorrect number of parameters: %1() takes %2, not %3%4")
                             .arg(e.text)
                             .arg(total)
                             .arg(n)
                             .arg(since));
        Error(e.pos, QStringLiteral("Incorrect number of parameters: %1() takes %2 to %3, not %4%5")
                         .arg(e.text)
                         .arg(required)
                         .arg(total)
                         .arg(n)
                         .arg(since));
    }
}

void Checker::Argument(const Expr& arg, Cls want, const QString& function)
{
    const Cls got = ValueExpr(arg);
    if (want == Cls::Int32)
        LowBitsOnly(arg);
    if ((want == Cls::String) != (got == Cls::String))
        Error(arg.pos, QStringLiteral("%1(): a %2 parameter gets a %3")
                           .arg(function, QLatin1String(want == Cls::String ? "string" : "numeric"),
                                QLatin1String(got == Cls::String ? "string" : "number")));
}

void Checker::IntArg(const Expr& arg)
{
    const Cls c = ValueExpr(arg);
    if (c == Cls::String)
        Error(arg.pos, QStringLiteral("A number is expected here, not a string"));
}

// base\field or base\field[i]: binds the field's offset and type.
void Checker::FieldAccess(const Expr& e)
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

void Checker::AddressOf(const Expr& e)
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
Cls Checker::PlaceExpr(const Expr& e, bool declare)
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

void Checker::Assignable(Cls place, Cls value, SourcePos pos) const
{
    if ((place == Cls::String) != (value == Cls::String))
        Error(pos, place == Cls::String ? QStringLiteral("A string is expected here, not a number (use Str())")
                                        : QStringLiteral("A number is expected here, not a string (use Val())"));
}

int Checker::LabelIndex(const QString& name)
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
int Checker::LabelRef(const QString& name, SourcePos pos)
{
    const int index = LabelIndex(name);
    m_labelUses.emplace_back(index, pos);
    return index;
}

// `offset` in the data section, or -1 for a label in the code.
void Checker::DefineLabel(const Stmt& s, int offset)
{
    CheckName(s.name, s.pos);
    LabelInfo& l = m_prog->labels[std::size_t(LabelIndex(s.name))];
    if (l.pos.line > 0)
        Error(s.pos, QStringLiteral("Label already declared: %1 (at %2)").arg(s.name, m_cache.Place(l.pos)));
    l.pos = s.pos;
    l.offset = offset;
}

ProcInfo Checker::Prototype(const Stmt& s)
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

// A Declare's default and its procedure's: the compiler refuses them when they differ.
bool Checker::SameValue(const Value& a, const Value& b)
{
    return a.i == b.i && a.d == b.d && a.s == b.s;
}

bool Checker::SameSignature(const ProcInfo& a, const ProcInfo& b) const
{
    if (a.result != b.result || a.params.size() != b.params.size())
        return false;
    for (std::size_t i = 0; i < a.params.size(); ++i)
        if (a.params[i].cls != b.params[i].cls || (a.params[i].defaultConst < 0) != (b.params[i].defaultConst < 0) ||
            (a.params[i].defaultConst >= 0 && !SameValue(m_prog->constants[std::size_t(a.params[i].defaultConst)],
                                                         m_prog->constants[std::size_t(b.params[i].defaultConst)])))
            return false;
    return true;
}

void Checker::Declare(const Stmt& s)
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

void Checker::ClashCheck(const QString& name, SourcePos pos) const
{
    const QString k = Key(name);
    if (m_imports.contains(k))
        Error(pos, QStringLiteral("%1() is already declared as an imported function").arg(name));
    if (FindBuiltin(name, target()))
        Error(pos, QStringLiteral("%1() is a function of PureBasic and cannot be redefined").arg(name));
}

void Checker::Procedure(const Stmt& s, Ctx ctx)
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

void Checker::Variables(const Stmt& s)
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
    if (s.defaultType.suffix != Suffix::None && target().version < Since::TypedGlobal)
        Error(s.pos, QStringLiteral("Syntax error: a type after %1 exists from PureBasic 4.40 on")
                         .arg(s.varKeyword == VarKeyword::Global      ? "Global"
                              : s.varKeyword == VarKeyword::Protected ? "Protected"
                              : s.varKeyword == VarKeyword::Static    ? "Static"
                              : s.varKeyword == VarKeyword::Shared    ? "Shared"
                                                                      : "Define"));
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
        nb.type = m_prog->vars[std::size_t(v)].pointer ? (target().pointerSize() == 8 ? Type::Q : Type::L) : vt.type;
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

void Checker::Dim(const Stmt& s)
{
    for (const VarItem& item : s.vars)
        DimItem(item, VarKeyword::Define, Type::None, s.flag, s.pos);
}

void Checker::DimItem(const VarItem& item, VarKeyword kw, Type fallback, bool redim, SourcePos pos)
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

void Checker::Read(const Stmt& s)
{
    const int v = target().version;
    if (s.type.suffix == Suffix::None && v >= Since::TypedRead)
        Error(s.pos, QStringLiteral("pbrun does not support Read without a type from PureBasic 4.30 on: 4.30's "
                                    "history requires one (Read.l, Read.q, ...), today's manual reads the "
                                    "variable's type"));
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

} // namespace hexaloom::pbrun::checking
