#pragma once
// Integer and floating point operators, shared by constant folding and the evaluator so both compute alike.
#include "Ast.h"
#include "Types.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <optional>

namespace hexaloom::pbrun {

// x op y in the class `cls` (32 or 64 bits, wrapping at that width: the machine's arithmetic). Division
// truncates toward zero. Returns nothing with `error` set for a division by zero or a shift count the
// machine does not define.
inline std::optional<std::int64_t> IntOp(Op op, std::int64_t x, std::int64_t y, Cls cls, QString& error)
{
    const std::uint64_t ux = std::uint64_t(x);
    const std::uint64_t uy = std::uint64_t(y);
    const int width = cls == Cls::Int32 ? 32 : 64;
    switch (op) {
    case Op::Add:
        return WrapCls(cls, ux + uy);
    case Op::Sub:
        return WrapCls(cls, ux - uy);
    case Op::Mul:
        return WrapCls(cls, ux * uy);
    case Op::Div:
    case Op::Mod:
        if (y == 0) {
            error = QStringLiteral("Division by zero");
            return std::nullopt;
        }
        if (y == -1) // the one quotient that overflows (MIN / -1) wraps like the rest
            return op == Op::Div ? WrapCls(cls, 0 - ux) : 0;
        return op == Op::Div ? WrapCls(cls, std::uint64_t(x / y)) : WrapCls(cls, std::uint64_t(x % y));
    case Op::BitAnd:
        return WrapCls(cls, ux & uy);
    case Op::BitOr:
        return WrapCls(cls, ux | uy);
    case Op::BitXor:
        return WrapCls(cls, ux ^ uy);
    case Op::Shl:
    case Op::Shr:
        if (y < 0 || y >= width) {
            error = QStringLiteral("pbrun does not support shifting by %1 bits in a %2-bit expression: the result "
                                   "depends on the processor")
                        .arg(y)
                        .arg(width);
            return std::nullopt;
        }
        // >> is an arithmetic shift (the manual: "Arithmetic shift right")
        return op == Op::Shl ? WrapCls(cls, ux << y) : WrapCls(cls, std::uint64_t(x >> y));
    default:
        error = QStringLiteral("internal: not an integer operator");
        return std::nullopt;
    }
}

// -1, 0 or 1 as x is below, equal to or above y; 2 when they are unordered (a NaN).
template <typename T> int ThreeWay(const T& x, const T& y)
{
    return x < y ? -1 : y < x ? 1 : x == y ? 0 : 2;
}

// The outcome of a comparison operator, given ThreeWay of its operands.
inline bool Compared(Op op, int cmp)
{
    if (cmp == 2)
        return op == Op::Ne;
    switch (op) {
    case Op::Eq:
        return cmp == 0;
    case Op::Ne:
        return cmp != 0;
    case Op::Lt:
        return cmp < 0;
    case Op::Le:
        return cmp <= 0;
    case Op::Gt:
        return cmp > 0;
    default:
        return cmp >= 0;
    }
}

inline double FloatOp(Op op, double x, double y)
{
    switch (op) {
    case Op::Add:
        return x + y;
    case Op::Sub:
        return x - y;
    case Op::Mul:
        return x * y;
    default:
        return x / y;
    }
}

// A floating point value stored into an integer. PureBasic rounds there, but whether to nearest or to
// even and how out-of-range values end depends on the version and backend, which the manual does not
// settle: only integral values in range are accepted.
inline std::optional<std::int64_t> FloatToInteger(double d, QString& error)
{
    if (std::isfinite(d) && d == std::floor(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
        return static_cast<std::int64_t>(d);
    error = QStringLiteral("pbrun does not support storing %1 in an integer: how PureBasic rounds it is not "
                           "documented")
                .arg(d);
    return std::nullopt;
}

} // namespace hexaloom::pbrun
