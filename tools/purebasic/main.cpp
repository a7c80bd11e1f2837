// pbrun: runs a PureBasic program with the interpreter, for one target.
//   pbrun --target 6.12-windows-x64-unicode [--res file.res] [--dll Entry] [--work DIR] [--strict-memory]
//         [--check] program.pb
// Exit code 0 ok, 1 compile error, 2 runtime error, 3 memory left allocated (with --strict-memory), 64 bad
// command line. Warnings (facts pbrun cannot confirm, memory left allocated) go to stderr and keep the exit code.
#include "Checker.h"
#include "Interpreter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace hexaloom::pbrun;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pbrun"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs a PureBasic program for one compiler version and target."));
    parser.addHelpOption();
    const QCommandLineOption targetOption(QStringLiteral("target"),
                                          QStringLiteral("Compiler and target, e.g. 6.12-windows-x64-unicode."),
                                          QStringLiteral("target"), QStringLiteral("6.12-windows-x64-unicode"));
    const QCommandLineOption resOption(QStringLiteral("res"), QStringLiteral("Link a .res file (Windows targets)."),
                                       QStringLiteral("file"));
    const QCommandLineOption dllOption(
        QStringLiteral("dll"), QStringLiteral("Compile as a DLL and call this ProcedureDLL."), QStringLiteral("entry"));
    const QCommandLineOption workOption(QStringLiteral("work"),
                                        QStringLiteral("Folder for the program's files (default: the current one)."),
                                        QStringLiteral("dir"));
    const QCommandLineOption strictOption(
        QStringLiteral("strict-memory"),
        QStringLiteral("Memory left allocated at the end is an error (exit code 3), not a warning."));
    const QCommandLineOption checkOption(
        QStringLiteral("check"), QStringLiteral("Compile only: print \"parsed\" when the program's own file parses, "
                                                "then the compile errors; run nothing."));
    parser.addOptions({targetOption, resOption, dllOption, workOption, strictOption, checkOption});
    parser.addPositionalArgument(QStringLiteral("program"), QStringLiteral("The main source file."));
    parser.process(app);

    auto fail = [](const QString& message) {
        std::fprintf(stderr, "pbrun: %s\n", qPrintable(message));
        return 64;
    };
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return fail(QStringLiteral("one program file expected"));
    QString error;
    const std::optional<Target> target = Target::Parse(parser.value(targetOption), &error);
    if (!target)
        return fail(error);
    RunOptions options;
    options.resFiles = parser.values(resOption);
    options.dllEntry = parser.value(dllOption);
    options.workDir = parser.value(workOption);
    options.strictMemory = parser.isSet(strictOption);
    if (!options.workDir.isEmpty() && !QFileInfo(options.workDir).isDir())
        return fail(QStringLiteral("no folder %1").arg(options.workDir));
    if (!options.workDir.isEmpty())
        options.workDir = QFileInfo(options.workDir).absoluteFilePath(); // the program's names resolve from there
#ifdef Q_OS_UNIX
    // Input() reads the lines of standard input, when it is not a terminal.
    if (!isatty(fileno(stdin))) {
        QFile in;
        if (in.open(stdin, QIODevice::ReadOnly))
            options.input = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'));
    }
#endif

    SourceCache cache;
    if (parser.isSet(checkOption)) {
        const QString path = QFileInfo(files.first()).absoluteFilePath();
        if (cache.file(cache.Load(path)).error.isEmpty())
            std::puts("parsed");
        CheckOptions check;
        check.dll = !options.dllEntry.isEmpty();
        check.resFiles = options.resFiles;
        const CheckResult checked = Check(cache, path, *target, check);
        for (const QString& line : checked.warnings + checked.diagnostics)
            std::fprintf(stderr, "%s\n", qPrintable(line));
        return checked.program ? 0 : 1;
    }
    const RunResult result = Run(cache, files.first(), *target, options);
    std::fputs(result.output.toUtf8().constData(), stdout);
    std::fflush(stdout);
    for (const QString& line : result.warnings + result.diagnostics + result.leaks)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    return int(result.phase);
}
