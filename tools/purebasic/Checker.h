#pragma once
// The compile step for one target, single pass in source order like the real compiler: CompilerIf and
// CompilerSelect decided from what is known at that point, names declared before use, types, constants,
// structures, procedures, built-ins and keywords by version, includes and the data section. It stops at
// the first error. Its result is the side table the evaluator runs from.
#include "Program.h"
#include "Source.h"

#include <QStringList>

#include <memory>

namespace hexaloom::pbrun {

struct CheckOptions
{
    bool dll = false;     // compile as a DLL: no code outside procedures runs
    QStringList resFiles; // .res files linked besides those the program imports
    QString compilerHome; // #PB_Compiler_Home; a default per system when empty
};

struct CheckResult
{
    std::unique_ptr<CompiledProgram> program; // null after an error
    QStringList diagnostics;                  // "file:line: error: message" and its context lines
    QSet<QPair<QString, int>> branchesTaken;  // compiler branches compiled, up to an error too
    QStringList warnings; // "file:line: warning: ...": facts used that pbrun's tables mark unconfirmed
};

CheckResult Check(SourceCache& cache, const QString& mainPath, const Target& target, const CheckOptions& options);

} // namespace hexaloom::pbrun
