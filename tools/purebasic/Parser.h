#pragma once
// Recursive descent over the union grammar of every PureBasic version pbrun knows. Block structure is
// checked here (an unclosed block names its opener); a line that cannot be parsed becomes an Invalid
// statement, reported only when the checker compiles it, as the real compiler ignores what stands in a
// branch it does not take.
#include "Ast.h"
#include "Lexer.h"

namespace hexaloom::pbrun {

struct ParseResult
{
    Body body;
    QString error; // a block-structure error; empty when the file parsed
    int errorLine = 0;
};

// `nextId` numbers the nodes; it is shared by every file of a source cache so ids stay unique.
ParseResult Parse(const std::vector<Token>& tokens, int file, int& nextId);

} // namespace hexaloom::pbrun
