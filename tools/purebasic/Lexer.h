#pragma once
// Splits PureBasic source into tokens. Newline ends a statement; ":" is returned as its own token (the
// parser tells a label from a statement separator). Comments (";" to the line end) are dropped.
// A token that cannot be read becomes an Error token carrying its message, so a bad line in a branch
// that is never compiled does no harm.
#include <QString>

#include <cstdint>
#include <vector>

namespace hexaloom::pbrun {

enum class Tok : std::uint8_t {
    EndOfFile,
    Newline,
    Colon,
    Ident, // name, with a trailing "$" when written
    Const, // #Name (text without "#")
    Ptr,   // *Name (text with "*")
    Int,
    Float,
    String,
    Error, // text: the message
    LParen,
    RParen,
    LBracket,
    RBracket,
    Comma,
    Dot,
    Backslash,
    At,
    Question,
    Plus,
    Minus,
    Star,
    Slash,
    Percent,
    Amp,
    Pipe,
    Bang,
    Tilde,
    Shl,
    Shr,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
};

struct Token
{
    Tok kind = Tok::EndOfFile;
    bool spaceBefore = false; // whitespace directly before the token
    bool continued = false;   // the first token of a line joined to the one before (5.10's line continuation)
    int line = 0;
    std::int64_t intValue = 0;
    double floatValue = 0;
    QString text; // as written for names, numbers and operators ("=<" too); see Tok for the rest
};

std::vector<Token> Tokenize(const QString& source);

// True for the words every version reserves (If, Procedure, Data, ...), compared without case.
bool IsReservedWord(const QString& word);

} // namespace hexaloom::pbrun
