// Statements, in source order, and the compiler directives that choose which of them are compiled.
#include "CheckerImpl.h"

#include <cmath>

namespace hexaloom::pbrun::checking {

void Checker::CheckBody(const Body& body, Ctx ctx)
{
    for (const StmtPtr& s : body)
        Statement(*s, ctx);
}

void Checker::Statement(const Stmt& s, Ctx ctx)
{
    Binding& b = B(s);
    b.kind = Bind::Stmt;
    if (s.continuedLine && target().version < Since::LineContinuation)
        Error(SourcePos{s.pos.file, s.continuedLine},
              QStringLiteral("Syntax error: a line continued from the one before needs PureBasic 5.10"));
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
                Error(s.pos,
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
        if (s.flag && target().version < Since::EnumerationBinary)
            Error(s.pos, QStringLiteral("EnumerationBinary exists from PureBasic 5.40 on"));
        m_enumBinary = s.flag;
        m_enumNext = m_enumBinary ? 1 : 0;
        m_enumStep = 1;
        if (!s.exprs.empty())
            m_enumNext = EnumConst(*s.exprs[0], "The start of an Enumeration");
        if (s.exprs.size() > 1) {
            // rounded once, or each constant computed with it and then rounded? the manual does not say
            const auto step = Fold(*s.exprs[1]);
            if (step && (step->cls == Cls::Float || step->cls == Cls::Double) &&
                step->value.d != std::floor(step->value.d))
                Error(s.exprs[1]->pos, QStringLiteral("pbrun does not know how an Enumeration steps by %1: whether "
                                                      "the step is rounded once or each value")
                                           .arg(step->value.d));
            m_enumStep = EnumConst(*s.exprs[1], "The step of an Enumeration");
        }
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

std::int64_t Checker::IntConst(const Expr& e, const char* what)
{
    const ConstEntry c = RequireConst(e, what);
    if (!IsIntCls(c.cls))
        Error(e.pos, QStringLiteral("%1 must be an integer constant").arg(QLatin1String(what)));
    return c.value.i;
}

// The manual's Enumerations page: "As Enumerations only accept integer numbers, floats will be rounded to
// the nearest integer." Which way a value halfway between goes it does not say.
std::int64_t Checker::EnumConst(const Expr& e, const char* what)
{
    const ConstEntry c = RequireConst(e, what);
    if (IsIntCls(c.cls))
        return c.value.i;
    if (c.cls == Cls::String)
        Error(e.pos, QStringLiteral("%1 must be a numeric constant").arg(QLatin1String(what)));
    const double d = c.value.d;
    QString error;
    const std::optional<std::int64_t> whole = FloatToInteger(std::round(d), error);
    if (!whole || std::abs(d - std::trunc(d)) == 0.5)
        Error(e.pos, QStringLiteral("pbrun does not know to which integer an Enumeration rounds %1").arg(d));
    return *whole;
}

void Checker::NotInBlock(const Stmt& s, const char* what) const
{
    if (m_blockDepth > 0)
        Error(s.pos, QStringLiteral("%1 is not allowed inside a block such as If or a loop").arg(QLatin1String(what)));
}

void Checker::CompilerIf(const Stmt& s, Ctx ctx)
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

void Checker::CompilerSelect(const Stmt& s, Ctx ctx)
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

void Checker::TakeBranch(const Stmt& s, int taken, Ctx ctx)
{
    B(s).kind = Bind::Branch;
    B(s).a = taken;
    if (taken < 0)
        return;
    const Branch& br = s.branches[std::size_t(taken)];
    m_prog->branchesTaken.insert({m_cache.file(br.pos.file).path, br.pos.line});
    CheckBody(br.body, ctx);
}

void Checker::For(const Stmt& s, Ctx ctx)
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

void Checker::Select(const Stmt& s, Ctx ctx)
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
                // a float Select value is compared as an integer (below), so its Case values must be whole
                const bool floatSelect = value == Cls::Float || value == Cls::Double;
                if (floatSelect && !IsIntCls(c->cls) && c->value.d != std::floor(c->value.d))
                    Error(v->pos, QStringLiteral("pbrun does not know how Select compares a float with the Case "
                                                 "value %1: the manual says only that it compares integer values")
                                      .arg(c->value.d));
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

} // namespace hexaloom::pbrun::checking
