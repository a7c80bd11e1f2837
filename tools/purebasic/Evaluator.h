#pragma once
// Walks the syntax tree with the checker's side table. Frames hold the cells of a call; numeric variables
// whose address may be taken, arrays and structures live in blocks of the simulated address space.
#include "Builtins.h"
#include "Program.h"
#include "Source.h"

#include <QStringList>

namespace hexaloom::pbrun {

struct EvalLimits
{
    std::int64_t steps = 0;
    int depth = 0;
};

struct EvalOutcome
{
    bool ok = true;
    std::int64_t endCode = 0;
    QStringList diagnostics;
};

// Runs the main program (or, with a DLL entry, AttachProcess and that procedure) in `rt`.
EvalOutcome Evaluate(const CompiledProgram& program, const SourceCache& cache, Runtime& rt, const EvalLimits& limits,
                     const QString& dllEntry);

} // namespace hexaloom::pbrun
