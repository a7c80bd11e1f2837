#pragma once
// Runs a PureBasic program for one target: parse (shared through the source cache), check, run.
// Nothing thrown inside leaves it; the result says which phase ended the run and why.
#include "Builtins.h"
#include "Source.h"
#include "Target.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace hexaloom::pbrun {

struct RunOptions
{
    QString workDir;      // where the program's relative file names point; must exist
    QStringList resFiles; // .res files linked into the program (Windows targets)
    QString dllEntry;     // not empty: compile as a DLL and call this ProcedureDLL (after AttachProcess)
    QStringList input;    // the lines Input() returns
    QString compilerHome; // #PB_Compiler_Home; a default per system when empty
    std::uint64_t memoryLimit = 512ull << 20; // heap bytes the program may hold at once
    std::int64_t stepLimit = 1'000'000'000;   // statements and loop rounds before the run counts as endless
    int depthLimit = 2000;                    // nested procedure calls
    // Memory left allocated at the end: PureBasic frees it then (the manual, AllocateMemory()), so by
    // default it is a warning; strict, it ends the run as a leak, as the access code's tests ask.
    bool strictMemory = false;
};

// Exit codes of pbrun, and the phase that ended a run (a leak only with strict memory).
enum class Phase : int { Ok = 0, Compile = 1, Runtime = 2, Leak = 3 };

struct RunResult
{
    Phase phase = Phase::Ok;
    std::int64_t endCode = 0; // End's value, or the DLL entry's result
    QString output;           // Debug, Print and PrintN
    QStringList diagnostics;  // "file:line: error: ...", with context lines
    QStringList leaks;        // memory blocks still allocated at the end (strict memory)
    QStringList warnings;     // "file:line: warning: ...": unconfirmed facts used, memory left allocated
    std::vector<CatchRecord> catches;
    QSet<QPair<QString, int>> branchesTaken; // compiler branches compiled: (file, line)
};

RunResult Run(SourceCache& cache, const QString& mainPath, const Target& target, const RunOptions& options);

} // namespace hexaloom::pbrun
