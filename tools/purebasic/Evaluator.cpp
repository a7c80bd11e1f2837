#include "Evaluator.h"

#include "Arith.h"

#include <cstring>
#include <deque>

namespace hexaloom::pbrun {

namespace {

struct Cell
{
    std::int64_t i = 0;
    double d = 0;
    QString s;
    Block* mem = nullptr; // the variable's block (memory variables, arrays)
};

struct Frame
{
    std::vector<Cell> cells;
    int proc = -1;
    SourcePos callPos;
};

enum class Flow { Normal, Break, Continue, Return };

// End, wherever it stands, ends the program.
struct ProgramEnd
{
    std::int64_t code;
};

std::int64_t LoadInt(Type t, const std::uint8_t* p, const Target& target)
{
    std::uint64_t v = 0;
    std::memcpy(&v, p, std::size_t(SizeOfType(t, target))); // little-endian, as every target is
    return Wrap(t, std::int64_t(v), target);
}

void StoreInt(Type t, std::uint8_t* p, std::int64_t v, const Target& target)
{
    std::memcpy(p, &v, std::size_t(SizeOfType(t, target)));
}

class Eval
{
public:
    Eval(const CompiledProgram& prog, const SourceCache& cache, Runtime& rt, const EvalLimits& limits)
        : m_prog(prog), m_cache(cache), m_rt(rt), m_target(prog.target), m_stepLimit(limits.steps),
          m_depthLimit(limits.depth)
    {
        for (const BuiltinInfo& info : BuiltinTable())
            m_letters.push_back(CountParams(info.params).letters.toStdString());
        m_staticDone.assign(prog.vars.size(), false);
    }

    EvalOutcome Run(const QString& dllEntry)
    {
        EvalOutcome out;
        try {
            Start();
            if (dllEntry.isEmpty()) {
                Exec(m_cache.file(m_prog.mainFile).body);
            } else {
                out.endCode = RunDll(dllEntry);
            }
        } catch (const ProgramEnd& end) {
            out.endCode = end.code;
        } catch (const RuntimeFailure& f) {
            out.ok = false;
            out.diagnostics << QStringLiteral("%1: error: %2").arg(m_cache.Place(m_rt.pos), f.message);
            out.diagnostics << CallStack();
        }
        return out;
    }

private:
    const CompiledProgram& m_prog;
    const SourceCache& m_cache;
    Runtime& m_rt;
    const Target& m_target;
    std::vector<Cell> m_globals;
    std::deque<Frame> m_stack; // a deque: cells stay put while calls come and go
    Frame* m_frame = nullptr;
    Block* m_data = nullptr;
    std::size_t m_cursor = 0;
    std::vector<std::string> m_letters;
    bool m_returnGiven = false;   // the last ProcedureReturn had a value
    bool m_returnedValue = false; // the last procedure to end ended with one
    std::vector<bool> m_staticDone;
    Value m_return;
    int m_breakLevels = 0;
    std::int64_t m_steps = 0;
    std::int64_t m_stepLimit;
    int m_depthLimit;

    [[noreturn]] void Fail(const QString& message) const { throw RuntimeFailure{message}; }

    // One line per frame, innermost first; a run of the same call (recursion) is one line with its count.
    QStringList CallStack() const
    {
        QStringList lines;
        QString last;
        int repeats = 0;
        auto flush = [&] {
            if (!last.isEmpty())
                lines << (repeats > 1 ? QStringLiteral("%1 (%2 times)").arg(last).arg(repeats) : last);
        };
        for (auto it = m_stack.rbegin(); it != m_stack.rend(); ++it) {
            const QString line = QStringLiteral("  in %1() called from %2")
                                     .arg(m_prog.procs[std::size_t(it->proc)].name, m_cache.Place(it->callPos));
            if (line == last) {
                ++repeats;
                continue;
            }
            flush();
            last = line;
            repeats = 1;
        }
        flush();
        return lines;
    }

    const Binding& At(const Expr& e) const { return m_prog.bindings[std::size_t(e.id)]; }
    const Binding& At(const Stmt& s) const { return m_prog.bindings[std::size_t(s.id)]; }

    void Start()
    {
        m_globals.resize(std::size_t(m_prog.globalCells));
        m_data = m_rt.memory.Allocate(std::uint64_t(m_prog.data.size()), BlockKind::Data, {m_prog.mainFile, 1},
                                      QStringLiteral("(the DataSection)"));
        if (!m_data)
            Fail(QStringLiteral("the data section does not fit the address space"));
        if (!m_prog.data.isEmpty())
            std::memcpy(m_data->bytes.data(), m_prog.data.constData(), std::size_t(m_prog.data.size()));
        m_data->readOnly = true;
        for (const VarInfo& v : m_prog.vars) {
            if (v.global && v.memory && !v.array)
                m_globals[std::size_t(v.cell)].mem = NewVarBlock(v);
        }
    }

    Block* NewVarBlock(const VarInfo& v)
    {
        Block* b = m_rt.memory.Allocate(std::uint64_t(v.size), BlockKind::Variable, v.pos, v.name);
        if (!b)
            Fail(QStringLiteral("no address space left for the variable %1").arg(v.name));
        return b;
    }

    std::int64_t RunDll(const QString& entry)
    {
        auto find = [&](const QString& name) -> int {
            for (std::size_t i = 0; i < m_prog.procs.size(); ++i)
                if (m_prog.procs[i].name.compare(name, Qt::CaseInsensitive) == 0 && m_prog.procs[i].definition)
                    return int(i);
            return -1;
        };
        const int attach = find(QStringLiteral("AttachProcess"));
        const int detach = find(QStringLiteral("DetachProcess"));
        const int main = find(entry);
        if (main < 0 || !m_prog.procs[std::size_t(main)].dll)
            Fail(QStringLiteral("the DLL exports no ProcedureDLL %1()").arg(entry));
        auto call = [&](int proc, bool instance) {
            std::vector<Value> args;
            if (instance) {
                args.resize(1);
                args[0].i = std::int64_t(m_rt.dllInstance);
            }
            return Invoke(proc, args, {m_prog.mainFile, 0});
        };
        if (attach >= 0)
            call(attach, true);
        const std::int64_t result = call(main, false).i;
        if (detach >= 0)
            call(detach, true);
        return result;
    }

    // ---- variables ----------------------------------------------------------------------------------------

    Cell& CellOf(const VarInfo& v)
    {
        return v.global ? m_globals[std::size_t(v.cell)] : m_frame->cells[std::size_t(v.cell)];
    }

    std::int64_t LoadVar(int index)
    {
        const VarInfo& v = m_prog.vars[std::size_t(index)];
        Cell& c = CellOf(v);
        return v.memory ? LoadInt(v.type, c.mem->bytes.data(), m_target) : c.i;
    }

    double LoadVarDouble(int index)
    {
        const VarInfo& v = m_prog.vars[std::size_t(index)];
        Cell& c = CellOf(v);
        if (!v.memory)
            return c.d;
        if (v.type == Type::F) {
            float f;
            std::memcpy(&f, c.mem->bytes.data(), 4);
            return f;
        }
        double d;
        std::memcpy(&d, c.mem->bytes.data(), 8);
        return d;
    }

    void StoreVarInt(int index, std::int64_t value)
    {
        const VarInfo& v = m_prog.vars[std::size_t(index)];
        Cell& c = CellOf(v);
        if (v.type == Type::F || v.type == Type::D)
            return StoreVarDouble(index, double(value));
        if (v.memory)
            StoreInt(v.type, c.mem->bytes.data(), value, m_target);
        else
            c.i = Wrap(v.type, value, m_target);
    }

    void StoreVarDouble(int index, double value)
    {
        const VarInfo& v = m_prog.vars[std::size_t(index)];
        Cell& c = CellOf(v);
        if (IsInteger(v.type))
            return StoreVarInt(index, ToInt(value));
        const float f = float(value);
        if (!v.memory)
            c.d = v.type == Type::F ? double(f) : value;
        else if (v.type == Type::F)
            std::memcpy(c.mem->bytes.data(), &f, 4);
        else
            std::memcpy(c.mem->bytes.data(), &value, 8);
    }

    std::int64_t ToInt(double d) const
    {
        QString error;
        const auto v = FloatToInteger(d, error);
        if (!v)
            Fail(error);
        return *v;
    }

    // ---- places: array elements and fields ---------------------------------------------------------------

    int ElemSize(const VarInfo& v) const { return v.size; }

    std::uint64_t ElemAddr(const Expr& e)
    {
        const VarInfo& v = m_prog.vars[std::size_t(At(e).a)];
        const std::int64_t index = AsInt(*e.args[0]);
        const Cell& c = CellOf(v);
        if (!c.mem || !c.mem->live)
            Fail(QStringLiteral("the array %1() has no elements: it was not dimensioned with Dim").arg(v.name));
        const std::int64_t count = std::int64_t(c.mem->size) / ElemSize(v);
        if (index < 0 || index >= count)
            Fail(QStringLiteral("Array index out of bounds: %1(%2), the array holds 0 to %3")
                     .arg(v.name)
                     .arg(index)
                     .arg(count - 1));
        return c.mem->base + std::uint64_t(index) * std::uint64_t(ElemSize(v));
    }

    // The address of a structured place: a structure variable, an array element or a field.
    std::uint64_t PlaceAddr(const Expr& e)
    {
        const Binding& b = At(e);
        switch (b.kind) {
        case Bind::Var:
            return CellOf(m_prog.vars[std::size_t(b.a)]).mem->base;
        case Bind::ArrayElem:
            return ElemAddr(e);
        case Bind::Field:
            return FieldAddr(e);
        default:
            Fail(QStringLiteral("internal: no address for this place"));
        }
    }

    std::uint64_t FieldAddr(const Expr& e)
    {
        const Binding& b = At(e);
        const Expr& base = *e.args[0];
        // through a pointer (a pointer variable or pointer field) or inside a structured place
        std::uint64_t address = b.operandCls == Cls::Int64 ? std::uint64_t(AsInt(base)) : PlaceAddr(base);
        address += std::uint64_t(std::int64_t(b.a));
        if (e.bracketIndex)
            address += std::uint64_t(AsInt(*e.args[1]) * b.b);
        return address;
    }

    // Where an integer, float or double place keeps its bytes (null for a cell variable).
    std::uint8_t* PlaceBytes(const Expr& e, Type t, bool write)
    {
        const Binding& b = At(e);
        const int size = SizeOfType(t, m_target);
        if (b.kind == Bind::ArrayElem)
            return m_rt.Bytes(ElemAddr(e), std::uint64_t(size), write);
        return m_rt.Bytes(FieldAddr(e), std::uint64_t(size), write);
    }

    // ---- expressions ----------------------------------------------------------------------------------------

    std::int64_t AsInt(const Expr& e)
    {
        const Cls c = At(e).cls;
        if (IsIntCls(c))
            return I(e);
        if (c == Cls::Float || c == Cls::Double)
            return ToInt(D(e));
        Fail(QStringLiteral("internal: a number was expected"));
    }

    double AsDouble(const Expr& e)
    {
        const Cls c = At(e).cls;
        if (IsIntCls(c))
            return double(I(e));
        return D(e);
    }

    std::int64_t I(const Expr& e)
    {
        const Binding& b = At(e);
        switch (b.kind) {
        case Bind::Const:
            return m_prog.constants[std::size_t(b.a)].i;
        case Bind::Var:
            return LoadVar(b.a);
        case Bind::ArrayElem:
        case Bind::Field:
            return LoadInt(b.type, PlaceBytes(e, b.type, false), m_target);
        case Bind::Proc:
            return CallProc(e).i;
        case Bind::Builtin:
            return CallBuiltin(e).i;
        case Bind::Import:
            return CallImport(e).i;
        case Bind::AddrVar:
            return std::int64_t(CellOf(m_prog.vars[std::size_t(b.a)]).mem->base);
        case Bind::AddrArray:
            return std::int64_t(ElemAddr(*e.args[0]));
        case Bind::AddrField:
            return std::int64_t(FieldAddr(*e.args[0]));
        case Bind::LabelAddr:
            return std::int64_t(m_data->base + std::uint64_t(m_prog.labels[std::size_t(b.a)].offset));
        case Bind::Bool:
            return Cond(*e.args[0]) ? 1 : 0;
        case Bind::Op: {
            if (b.cls == Cls::Int32 && b.b == 0 && m_target.pointerSize() == 8) {
                const auto [narrow, wide] = Widths(e);
                if (narrow != wide)
                    Fail(QStringLiteral("pbrun does not support this expression on a 64-bit target: its 32-bit "
                                        "operands give %1 computed in 32 bits and %2 in 64 bits, and which PureBasic "
                                        "computes there is not documented (store it in a .l, or make an operand "
                                        ".i or .q)")
                             .arg(narrow)
                             .arg(wide));
                return narrow;
            }
            if (e.kind == ExprKind::Unary) {
                const std::int64_t x = AsInt(*e.args[0]);
                return e.op == Op::Neg ? WrapCls(b.cls, 0 - std::uint64_t(x)) : WrapCls(b.cls, ~std::uint64_t(x));
            }
            const std::int64_t x = AsInt(*e.args[0]);
            const std::int64_t y = AsInt(*e.args[1]);
            QString error;
            const auto r = IntOp(e.op, x, y, b.cls, error);
            if (!r)
                Fail(error);
            return *r;
        }
        default:
            Fail(QStringLiteral("internal: no integer value"));
        }
    }

    // A 32-bit integer expression computed in 32 bits and in 64 bits, from the same leaves.
    std::pair<std::int64_t, std::int64_t> Widths(const Expr& e)
    {
        const Binding& b = At(e);
        if (b.kind != Bind::Op || b.cls != Cls::Int32) {
            const std::int64_t v = I(e);
            return {v, v};
        }
        if (e.kind == ExprKind::Unary) {
            const auto [x32, x64] = Widths(*e.args[0]);
            if (e.op == Op::Neg)
                return {WrapCls(Cls::Int32, 0 - std::uint64_t(x32)), WrapCls(Cls::Int64, 0 - std::uint64_t(x64))};
            return {WrapCls(Cls::Int32, ~std::uint64_t(x32)), WrapCls(Cls::Int64, ~std::uint64_t(x64))};
        }
        const auto [x32, x64] = Widths(*e.args[0]);
        const auto [y32, y64] = Widths(*e.args[1]);
        QString error;
        const auto r32 = IntOp(e.op, x32, y32, Cls::Int32, error);
        if (!r32)
            Fail(error);
        const auto r64 = IntOp(e.op, x64, y64, Cls::Int64, error);
        if (!r64)
            Fail(error);
        return {*r32, *r64};
    }

    double D(const Expr& e)
    {
        const Binding& b = At(e);
        switch (b.kind) {
        case Bind::Const:
            return m_prog.constants[std::size_t(b.a)].d;
        case Bind::Var:
            return LoadVarDouble(b.a);
        case Bind::ArrayElem:
        case Bind::Field: {
            const std::uint8_t* p = PlaceBytes(e, b.type, false);
            if (b.type == Type::F) {
                float f;
                std::memcpy(&f, p, 4);
                return f;
            }
            double d;
            std::memcpy(&d, p, 8);
            return d;
        }
        case Bind::Proc:
            return CallProc(e).d;
        case Bind::Builtin:
            return CallBuiltin(e).d;
        case Bind::Op:
            if (e.kind == ExprKind::Unary)
                return -AsDouble(*e.args[0]);
            {
                const double x = AsDouble(*e.args[0]); // operands left to right, as written
                return FloatOp(e.op, x, AsDouble(*e.args[1]));
            }
        default:
            Fail(QStringLiteral("internal: no floating point value"));
        }
    }

    QString S(const Expr& e)
    {
        const Binding& b = At(e);
        switch (b.kind) {
        case Bind::Const:
            return m_prog.constants[std::size_t(b.a)].s;
        case Bind::Var:
            return CellOf(m_prog.vars[std::size_t(b.a)]).s;
        case Bind::Proc:
            return CallProc(e).s;
        case Bind::Builtin:
            return CallBuiltin(e).s;
        case Bind::Op: {
            const QString x = S(*e.args[0]);
            return x + S(*e.args[1]);
        }
        default:
            Fail(QStringLiteral("internal: no string value"));
        }
    }

    // And and Or stop at the first operand that decides (unconfirmed: the manual does not say).
    bool Cond(const Expr& e)
    {
        const Binding& b = At(e);
        if (b.kind == Bind::Op && e.kind == ExprKind::Unary && e.op == Op::Not)
            return !Cond(*e.args[0]);
        if (b.kind == Bind::Op && e.kind == ExprKind::Binary) {
            switch (e.op) {
            case Op::And:
                return Cond(*e.args[0]) && Cond(*e.args[1]);
            case Op::Or:
                return Cond(*e.args[0]) || Cond(*e.args[1]);
            case Op::XOr:
                return Cond(*e.args[0]) != Cond(*e.args[1]);
            case Op::Eq:
            case Op::Ne:
            case Op::Lt:
            case Op::Le:
            case Op::Gt:
            case Op::Ge: {
                int cmp;
                if (b.operandCls == Cls::String) {
                    const QString x = S(*e.args[0]);
                    cmp = ThreeWay(QString::compare(x, S(*e.args[1])), 0);
                } else if (IsIntCls(b.operandCls)) {
                    const std::int64_t x = AsInt(*e.args[0]);
                    cmp = ThreeWay(x, AsInt(*e.args[1]));
                } else {
                    const double x = AsDouble(*e.args[0]);
                    cmp = ThreeWay(x, AsDouble(*e.args[1]));
                }
                return Compared(e.op, cmp);
            }
            default:
                break;
            }
        }
        if (IsIntCls(b.cls))
            return I(e) != 0;
        return AsDouble(e) != 0;
    }

    // ---- calls --------------------------------------------------------------------------------------------

    Value ArgValue(const Expr& e, Cls cls)
    {
        Value v;
        if (cls == Cls::String)
            v.s = S(e);
        else if (cls == Cls::Float || cls == Cls::Double)
            v.d = AsDouble(e);
        else
            v.i = AsInt(e);
        return v;
    }

    // A call whose value is used: a procedure that ended without giving ProcedureReturn a value returns
    // "the content of the 'eax' register ... if the compiler uses the ASM back-end" (the manual's Procedures
    // page), zero on the C back end, the only one on arm64.
    Value CallProc(const Expr& e, bool valueWanted = true)
    {
        const ProcInfo& p = m_prog.procs[std::size_t(At(e).a)];
        std::vector<Value> args(p.params.size());
        for (std::size_t i = 0; i < p.params.size(); ++i) {
            if (i < e.args.size())
                args[i] = ArgValue(*e.args[i], p.params[i].cls);
            else
                args[i] = m_prog.constants[std::size_t(p.params[i].defaultConst)];
        }
        Value result = Invoke(At(e).a, args, m_rt.pos);
        if (valueWanted && !m_returnedValue) {
            const ProcInfo& p = m_prog.procs[std::size_t(At(e).a)];
            if (m_target.cpu != Cpu::Arm64)
                Fail(QStringLiteral("pbrun does not know what %1() returns: it ended without a value for "
                                    "ProcedureReturn, which gives what a register held on the assembler back end")
                         .arg(p.name));
            if (p.result == Type::S)
                Fail(QStringLiteral("pbrun does not know what %1() returns: it ended without a value for "
                                    "ProcedureReturn, which the manual calls zero on the C back end, for a string")
                         .arg(p.name));
        }
        return result;
    }

    Value Invoke(int index, std::vector<Value>& args, SourcePos callPos)
    {
        const ProcInfo& p = m_prog.procs[std::size_t(index)];
        if (int(m_stack.size()) >= m_depthLimit)
            Fail(QStringLiteral("procedure calls nested deeper than %1").arg(m_depthLimit));
        Frame frame;
        frame.cells.resize(std::size_t(p.cells));
        frame.proc = index;
        frame.callPos = callPos;
        for (int var : p.locals) {
            const VarInfo& v = m_prog.vars[std::size_t(var)];
            if (v.memory && !v.array)
                frame.cells[std::size_t(v.cell)].mem = NewVarBlock(v);
        }
        m_stack.push_back(std::move(frame));
        m_frame = &m_stack.back();
        for (std::size_t i = 0; i < p.params.size(); ++i) {
            const int var = p.params[i].var;
            const Type t = m_prog.vars[std::size_t(var)].type;
            if (t == Type::S)
                CellOf(m_prog.vars[std::size_t(var)]).s = args[i].s;
            else if (t == Type::F || t == Type::D)
                StoreVarDouble(var, p.params[i].cls == Cls::Float || p.params[i].cls == Cls::Double
                                        ? args[i].d
                                        : double(args[i].i));
            else
                StoreVarInt(var, args[i].i);
        }
        const SourcePos saved = m_rt.pos;
        m_return = Value();
        const Flow flow = Exec(p.definition->body);
        Value result = flow == Flow::Return ? m_return : Value();
        m_returnedValue = flow == Flow::Return && m_returnGiven;
        for (int var : p.locals) {
            const VarInfo& v = m_prog.vars[std::size_t(var)];
            if (v.memory)
                m_rt.memory.Release(m_frame->cells[std::size_t(v.cell)].mem, p.definition->endPos);
        }
        m_stack.pop_back();
        m_frame = m_stack.empty() ? nullptr : &m_stack.back();
        m_rt.pos = saved;
        if (IsInteger(p.result))
            result.i = Wrap(p.result, result.i, m_target);
        else if (p.result == Type::F)
            result.d = double(float(result.d));
        return result;
    }

    Value CallBuiltin(const Expr& e)
    {
        const int index = At(e).a;
        const BuiltinInfo& info = BuiltinTable()[std::size_t(index)];
        const std::string& letters = m_letters[std::size_t(index)];
        std::vector<Value> args(e.args.size());
        for (std::size_t i = 0; i < e.args.size(); ++i) {
            const Expr& a = *e.args[i];
            switch (letters[i]) {
            case 's':
                args[i].s = S(a);
                break;
            case 'd':
                args[i].d = AsDouble(a);
                break;
            case 'l':
                args[i].i = Wrap(Type::L, AsInt(a), m_target);
                break;
            case 'x':
                if (At(a).cls == Cls::String) {
                    args[i].s = S(a);
                    args[i].text = true;
                } else {
                    args[i].i = AsInt(a);
                }
                break;
            default:
                args[i].i = AsInt(a);
                break;
            }
        }
        Value r = info.handler(m_rt, args);
        if (IsInteger(info.result))
            r.i = Wrap(info.result, r.i, m_target);
        else if (info.result == Type::F)
            r.d = double(float(r.d));
        return r;
    }

    Value CallImport(const Expr& e)
    {
        const ImportInfo& imp = m_prog.imports[std::size_t(At(e).a)];
        std::vector<Value> args(e.args.size());
        for (std::size_t i = 0; i < e.args.size(); ++i)
            args[i].i = AsInt(*e.args[i]);
        Value r = imp.handler(m_rt, args);
        r.i = Wrap(imp.result, r.i, m_target);
        return r;
    }

    // ---- assignment ---------------------------------------------------------------------------------------

    void StorePlaceInt(const Expr& place, std::int64_t v)
    {
        const Binding& b = At(place);
        if (b.kind == Bind::Var)
            return StoreVarInt(b.a, v);
        if (b.type == Type::F || b.type == Type::D)
            return StorePlaceDouble(place, double(v));
        StoreInt(b.type, PlaceBytes(place, b.type, true), v, m_target);
    }

    void StorePlaceDouble(const Expr& place, double v)
    {
        const Binding& b = At(place);
        if (b.kind == Bind::Var)
            return StoreVarDouble(b.a, v);
        if (IsInteger(b.type))
            return StorePlaceInt(place, ToInt(v));
        std::uint8_t* p = PlaceBytes(place, b.type, true);
        if (b.type == Type::F) {
            const float f = float(v);
            std::memcpy(p, &f, 4);
        } else {
            std::memcpy(p, &v, 8);
        }
    }

    void StorePlaceString(const Expr& place, const QString& v) { CellOf(m_prog.vars[std::size_t(At(place).a)]).s = v; }

    void Assign(const Expr& place, const Expr& value)
    {
        const Type t = At(place).type;
        if (t == Type::S)
            StorePlaceString(place, S(value));
        else if (t == Type::F || t == Type::D)
            StorePlaceDouble(place, AsDouble(value));
        else
            StorePlaceInt(place, AsInt(value));
    }

    void OpAssign(const Stmt& s)
    {
        const Expr& place = *s.exprs[0];
        const Expr& value = *s.exprs[1];
        const Cls cls = At(s).cls;
        if (cls == Cls::String) {
            const QString x = S(place);
            StorePlaceString(place, x + S(value));
        } else if (IsIntCls(cls)) {
            QString error;
            const std::int64_t x = AsInt(place);
            const auto r = IntOp(s.op, x, AsInt(value), cls, error);
            if (!r)
                Fail(error);
            StorePlaceInt(place, *r);
        } else {
            const double x = AsDouble(place);
            StorePlaceDouble(place, FloatOp(s.op, x, AsDouble(value)));
        }
    }

    // ---- statements ---------------------------------------------------------------------------------------

    Flow Exec(const Body& body)
    {
        for (const StmtPtr& ptr : body) {
            const Flow f = Step(*ptr);
            if (f != Flow::Normal)
                return f;
        }
        return Flow::Normal;
    }

    Flow Loop(Flow f, bool& stop)
    {
        stop = false;
        if (f == Flow::Break) {
            stop = true;
            if (--m_breakLevels > 0)
                return Flow::Break;
            return Flow::Normal;
        }
        if (f == Flow::Return) {
            stop = true;
            return f;
        }
        return Flow::Normal; // Normal or Continue: on with the next round
    }

    // Every statement and every round of a loop counts, so no program runs on without end.
    void Tick()
    {
        if (++m_steps > m_stepLimit)
            Fail(QStringLiteral("the program ran more than %1 statements and was stopped as endless").arg(m_stepLimit));
    }

    Flow Step(const Stmt& s)
    {
        const Binding& b = At(s);
        if (b.kind == Bind::Skip)
            return Flow::Normal;
        m_rt.pos = s.pos;
        Tick();
        switch (s.kind) {
        case StmtKind::Expression: {
            const Expr& e = *s.exprs[0];
            const Binding& cb = At(e);
            if (cb.kind == Bind::Proc)
                CallProc(e, false);
            else if (cb.kind == Bind::Import)
                CallImport(e);
            else
                CallBuiltin(e);
            return Flow::Normal;
        }
        case StmtKind::Assign:
            Assign(*s.exprs[0], *s.exprs[1]);
            return Flow::Normal;
        case StmtKind::OpAssign:
            OpAssign(s);
            return Flow::Normal;
        case StmtKind::If:
            for (const Branch& br : s.branches) {
                if (!br.condition || Cond(*br.condition))
                    return Exec(br.body);
            }
            return Flow::Normal;
        case StmtKind::While:
            for (;;) {
                m_rt.pos = s.pos;
                Tick();
                if (!Cond(*s.exprs[0]))
                    return Flow::Normal;
                bool stop;
                const Flow f = Loop(Exec(s.body), stop);
                if (stop)
                    return f;
            }
        case StmtKind::Repeat:
            for (;;) {
                bool stop;
                const Flow f = Loop(Exec(s.body), stop);
                if (stop)
                    return f;
                m_rt.pos = s.endPos;
                Tick();
                if (!s.flag && Cond(*s.exprs[0]))
                    return Flow::Normal;
            }
        case StmtKind::For:
            return For(s);
        case StmtKind::Select:
            return Select(s);
        case StmtKind::Break:
            m_breakLevels = b.a;
            return Flow::Break;
        case StmtKind::Continue:
            return Flow::Continue;
        case StmtKind::ProcedureReturn: {
            if (!s.exprs.empty()) {
                const ProcInfo& p = m_prog.procs[std::size_t(m_frame->proc)];
                m_return = ArgValue(*s.exprs[0], p.resultCls);
            } else {
                m_return = Value();
            }
            m_returnGiven = !s.exprs.empty();
            return Flow::Return;
        }
        case StmtKind::End:
            throw ProgramEnd{s.exprs.empty() ? 0 : AsInt(*s.exprs[0])};
        case StmtKind::Debug: {
            const Expr& e = *s.exprs[0];
            const Cls c = At(e).cls;
            if (c == Cls::String)
                m_rt.output += ProgramText(m_rt, S(e), "Debug");
            else if (IsIntCls(c))
                m_rt.output += QString::number(I(e));
            else
                Fail(QStringLiteral("pbrun does not support Debug of a floating point value: its format is not "
                                    "documented; use StrD()"));
            m_rt.output += QLatin1Char('\n');
            return Flow::Normal;
        }
        case StmtKind::Variables:
            return Variables(s);
        case StmtKind::Dim:
            for (const VarItem& item : s.vars)
                Dim(item, s.flag);
            return Flow::Normal;
        case StmtKind::Read:
            Read(s);
            return Flow::Normal;
        case StmtKind::Restore:
            m_cursor = std::size_t(m_prog.labels[std::size_t(b.a)].offset);
            return Flow::Normal;
        case StmtKind::CompilerIf:
        case StmtKind::CompilerSelect:
            return b.a < 0 ? Flow::Normal : Exec(s.branches[std::size_t(b.a)].body);
        case StmtKind::Include:
            return b.a < 0 ? Flow::Normal : Exec(m_cache.file(b.a).body);
        default:
            return Flow::Normal;
        }
    }

    Flow For(const Stmt& s)
    {
        const Expr& var = *s.exprs[0];
        const std::int64_t step = m_prog.constants[std::size_t(At(s).a)].i;
        StorePlaceInt(var, AsInt(*s.exprs[1]));
        const std::int64_t end = AsInt(*s.exprs[2]);
        for (;;) {
            m_rt.pos = s.pos;
            Tick();
            const std::int64_t now = AsInt(var);
            // The manual leaves open whether the end is evaluated once or every round: a loop whose end
            // changes is refused.
            if (AsInt(*s.exprs[2]) != end)
                Fail(QStringLiteral("pbrun does not support a For loop whose end value changes while it runs"));
            if (step > 0 ? now > end : now < end)
                return Flow::Normal;
            bool stop;
            const Flow f = Loop(Exec(s.body), stop);
            if (stop)
                return f;
            m_rt.pos = s.endPos;
            QString error;
            const Cls cls = At(var).cls;
            StorePlaceInt(var, *IntOp(Op::Add, AsInt(var), step, cls, error));
        }
    }

    Flow Select(const Stmt& s)
    {
        const Cls cls = At(s).operandCls;
        const bool text = cls == Cls::String;
        const QString sv = text ? S(*s.exprs[0]) : QString();
        // The manual: "Select will accept floats as <expression1> but will round them down to the nearest
        // integer (comparisons will be done only with integer values)".
        std::int64_t iv = 0;
        if (IsIntCls(cls)) {
            iv = AsInt(*s.exprs[0]);
        } else if (!text) {
            QString error;
            const std::optional<std::int64_t> down = FloatToInteger(std::floor(AsDouble(*s.exprs[0])), error);
            if (!down)
                Fail(error);
            iv = *down;
        }
        for (const Branch& br : s.branches) {
            bool match = br.values.empty();
            for (std::size_t i = 0; i < br.values.size() && !match; ++i) {
                const Value& lo = m_prog.constants[std::size_t(At(*br.values[i]).a)];
                const Cls loCls = At(*br.values[i]).cls;
                const Expr* hiExpr = br.rangeEnds[i].get();
                if (text) {
                    match = sv == lo.s;
                    continue;
                }
                const double loD = IsIntCls(loCls) ? double(lo.i) : lo.d;
                if (!hiExpr) {
                    match = IsIntCls(loCls) ? iv == lo.i : double(iv) == loD;
                    continue;
                }
                const Value& hi = m_prog.constants[std::size_t(At(*hiExpr).a)];
                const double hiD = IsIntCls(At(*hiExpr).cls) ? double(hi.i) : hi.d;
                if (IsIntCls(loCls) && IsIntCls(At(*hiExpr).cls))
                    match = iv >= lo.i && iv <= hi.i;
                else
                    match = double(iv) >= loD && double(iv) <= hiD;
            }
            if (match)
                return Exec(br.body);
        }
        return Flow::Normal;
    }

    Flow Variables(const Stmt& s)
    {
        if (s.varKeyword == VarKeyword::Shared)
            return Flow::Normal;
        for (const VarItem& item : s.vars) {
            if (item.dim) {
                Dim(item, false);
                continue;
            }
            if (!item.init)
                continue;
            const int var = At(*item.target).a;
            if (s.varKeyword == VarKeyword::Static) {
                // a Static's value is set once, the first time the statement runs
                if (m_staticDone[std::size_t(var)])
                    continue;
                m_staticDone[std::size_t(var)] = true;
            }
            Assign(*item.target, *item.init);
        }
        return Flow::Normal;
    }

    void Dim(const VarItem& item, bool redim)
    {
        const VarInfo& v = m_prog.vars[std::size_t(At(*item.target).a)];
        const std::int64_t last = AsInt(*item.dimensions[0]);
        if (last < -1)
            Fail(QStringLiteral("Dim %1(%2): an array cannot have fewer than 0 elements").arg(v.name).arg(last));
        const std::uint64_t bytes = std::uint64_t(last + 1) * std::uint64_t(v.size);
        Block* block = m_rt.memory.Allocate(bytes, BlockKind::Array, m_rt.pos, v.name + QStringLiteral("()"));
        if (!block)
            Fail(QStringLiteral("Dim %1(%2): not enough memory").arg(v.name).arg(last));
        Cell& c = CellOf(v);
        if (c.mem) {
            if (redim && c.mem->live && std::min(bytes, c.mem->size) > 0)
                std::memcpy(block->bytes.data(), c.mem->bytes.data(), std::size_t(std::min(bytes, c.mem->size)));
            m_rt.memory.Release(c.mem, m_rt.pos);
        } else if (redim) {
            Fail(QStringLiteral("ReDim of %1(), which was never dimensioned").arg(v.name));
        }
        c.mem = block;
    }

    void Read(const Stmt& s)
    {
        for (const ExprPtr& t : s.exprs) {
            const Binding& tb = At(*t);
            const Type type = At(s).type != Type::None ? At(s).type : tb.type;
            if (type == Type::S) {
                const int unit = m_target.charSize();
                QString text;
                for (;;) {
                    if (m_cursor + std::size_t(unit) > std::size_t(m_data->size))
                        Fail(QStringLiteral("Read.s past the end of the DataSection"));
                    const std::uint8_t* p = m_data->bytes.data() + m_cursor;
                    const char16_t ch = unit == 1 ? char16_t(p[0]) : char16_t(p[0] | p[1] << 8);
                    m_cursor += std::size_t(unit);
                    if (ch == 0)
                        break;
                    text += QChar(ch);
                }
                StorePlaceString(*t, text);
                continue;
            }
            const int size = SizeOfType(type, m_target);
            if (m_cursor + std::size_t(size) > std::size_t(m_data->size))
                Fail(QStringLiteral("Read.%1 past the end of the DataSection (at offset %2 of %3 bytes)")
                         .arg(TypeLetter(type))
                         .arg(m_cursor)
                         .arg(m_data->size));
            const std::uint8_t* p = m_data->bytes.data() + m_cursor;
            m_cursor += std::size_t(size);
            if (type == Type::F) {
                float f;
                std::memcpy(&f, p, 4);
                StorePlaceDouble(*t, f);
            } else if (type == Type::D) {
                double d;
                std::memcpy(&d, p, 8);
                StorePlaceDouble(*t, d);
            } else {
                StorePlaceInt(*t, LoadInt(type, p, m_target));
            }
        }
    }
};

} // namespace

EvalOutcome Evaluate(const CompiledProgram& program, const SourceCache& cache, Runtime& rt, const EvalLimits& limits,
                     const QString& dllEntry)
{
    Eval eval(program, cache, rt, limits);
    return eval.Run(dllEntry);
}

} // namespace hexaloom::pbrun
