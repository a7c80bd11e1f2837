#include "Interpreter.h"

#include "Checker.h"
#include "Evaluator.h"

namespace hexaloom::pbrun {

RunResult Run(SourceCache& cache, const QString& mainPath, const Target& target, const RunOptions& options)
{
    RunResult result;
    CheckOptions check;
    check.dll = !options.dllEntry.isEmpty();
    check.resFiles = options.resFiles;
    check.compilerHome = options.compilerHome;
    CheckResult checked = Check(cache, mainPath, target, check);
    result.branchesTaken = checked.branchesTaken;
    result.warnings = checked.warnings;
    if (!checked.program) {
        result.phase = Phase::Compile;
        result.diagnostics = checked.diagnostics;
        return result;
    }
    const CompiledProgram& program = *checked.program;

    Runtime rt(program.target, options.memoryLimit);
    rt.workDir = QDir(options.workDir.isEmpty() ? QDir::currentPath() : options.workDir);
    rt.input = options.input;
    rt.resources = program.resources;
    rt.namer = [&cache](SourcePos pos) { return cache.Place(pos); };
    rt.memory.SetPlaceNamer(rt.namer);
    // The program's own module and, for a DLL, its instance: small blocks that nothing reads.
    rt.moduleHandle = rt.memory.Allocate(64, BlockKind::Resource, {}, QStringLiteral("(module image)"))->base;
    if (check.dll)
        rt.dllInstance = rt.memory.Allocate(64, BlockKind::Resource, {}, QStringLiteral("(DLL image)"))->base;

    EvalLimits limits;
    limits.steps = options.stepLimit;
    limits.depth = options.depthLimit;
    const EvalOutcome outcome = Evaluate(program, cache, rt, limits, options.dllEntry);
    rt.files.clear(); // closes and flushes what the program left open, as its end does
    result.output = rt.output;
    result.catches = std::move(rt.catches);
    result.endCode = outcome.endCode;
    if (!outcome.ok) {
        result.phase = Phase::Runtime;
        result.diagnostics = outcome.diagnostics;
        return result;
    }
    for (const Block* b : rt.memory.LiveHeapBlocks()) {
        if (options.strictMemory)
            result.leaks << QStringLiteral("leak: memory block of %1 bytes allocated at %2 was never freed")
                                .arg(b->size)
                                .arg(cache.Place(b->allocatedAt));
        else
            result.warnings << QStringLiteral("%1: warning: memory block of %2 bytes allocated here was not freed "
                                              "before the end (PureBasic frees it then)")
                                   .arg(cache.Place(b->allocatedAt))
                                   .arg(b->size);
    }
    if (!result.leaks.isEmpty())
        result.phase = Phase::Leak;
    return result;
}

} // namespace hexaloom::pbrun
