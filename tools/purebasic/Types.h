#pragma once
// PureBasic's native types, their sizes on a target, and the one place where values are wrapped to a
// type's width. Integers are held in 64 bits and computed on the unsigned type, so wraparound is defined.
#include "Target.h"

#include <QString>

#include <cstdint>

namespace hexaloom::pbrun {

enum class Type : std::uint8_t { None, B, A, C, W, U, L, I, Q, F, D, S, Struct };

// The class an expression is computed in: integers in 32 or 64 bits, floats, doubles, strings.
enum class Cls : std::uint8_t { None, Int32, Int64, Float, Double, String };

struct Value
{
    std::int64_t i = 0;
    double d = 0;
    QString s;
    bool text = false; // a Windows API argument given as a string
};

inline bool IsInteger(Type t)
{
    return t >= Type::B && t <= Type::Q;
}

inline bool IsIntCls(Cls c)
{
    return c == Cls::Int32 || c == Cls::Int64;
}

// Bytes a value of the type takes (strings and structures: 0, they are sized elsewhere).
inline int SizeOfType(Type t, const Target& target)
{
    switch (t) {
    case Type::B:
    case Type::A:
        return 1;
    case Type::C:
        return target.charSize();
    case Type::W:
    case Type::U:
        return 2;
    case Type::L:
    case Type::F:
        return 4;
    case Type::I:
        return target.pointerSize();
    case Type::Q:
    case Type::D:
        return 8;
    default:
        return 0;
    }
}

inline Cls ClsOf(Type t, const Target& target)
{
    switch (t) {
    case Type::B:
    case Type::A:
    case Type::C:
    case Type::W:
    case Type::U:
    case Type::L:
        return Cls::Int32;
    case Type::I:
        return target.pointerSize() == 8 ? Cls::Int64 : Cls::Int32;
    case Type::Q:
        return Cls::Int64;
    case Type::F:
        return Cls::Float;
    case Type::D:
        return Cls::Double;
    case Type::S:
        return Cls::String;
    default:
        return Cls::None;
    }
}

// Truncates to the type's width, then sign-extends (.b .w .l .q, .i) or zero-extends (.a .c .u).
inline std::int64_t Wrap(Type t, std::int64_t v, const Target& target)
{
    const std::uint64_t u = static_cast<std::uint64_t>(v);
    switch (t) {
    case Type::B:
        return static_cast<std::int8_t>(u & 0xFF);
    case Type::A:
        return static_cast<std::int64_t>(u & 0xFF);
    case Type::C:
        return target.charSize() == 1 ? static_cast<std::int64_t>(u & 0xFF) : static_cast<std::int64_t>(u & 0xFFFF);
    case Type::W:
        return static_cast<std::int16_t>(u & 0xFFFF);
    case Type::U:
        return static_cast<std::int64_t>(u & 0xFFFF);
    case Type::L:
        return static_cast<std::int32_t>(u & 0xFFFFFFFFu);
    case Type::I:
        return target.pointerSize() == 4 ? static_cast<std::int32_t>(u & 0xFFFFFFFFu) : v;
    default:
        return v;
    }
}

// An integer expression's result at its width: 32-bit expressions wrap like the machine's 32-bit
// registers, 64-bit ones at 64 bits. (The width is chosen by ExpressionCls in the checker.)
inline std::int64_t WrapCls(Cls c, std::uint64_t v)
{
    return c == Cls::Int32 ? static_cast<std::int32_t>(v & 0xFFFFFFFFu) : static_cast<std::int64_t>(v);
}

QString TypeLetter(Type t);

} // namespace hexaloom::pbrun
