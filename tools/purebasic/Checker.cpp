#include "CheckerImpl.h"

namespace hexaloom::pbrun::checking {

Checker::Checker(SourceCache& cache, const Target& target, const CheckOptions& options)
    : m_cache(cache), m_options(options), m_prog(std::make_unique<CompiledProgram>())
{
    m_prog->target = target;
    AddPredefinedStructures();
}

CheckResult Checker::Run(const QString& mainPath)
{
    CheckResult result;
    try {
        const int main = LoadFile(mainPath, {});
        m_prog->mainFile = main;
        m_mainFolder = QFileInfo(mainPath).absolutePath();
        m_fileStack.push_back(main);
        CheckBody(m_cache.file(main).body, Ctx::Main);
        m_fileStack.pop_back();
        Link();
        m_prog->globalCells = m_globalCells;
        result.branchesTaken = m_prog->branchesTaken;
        result.warnings = m_warnings;
        result.program = std::move(m_prog);
    } catch (const CompileError& e) {
        result.branchesTaken = m_prog->branchesTaken;
        result.warnings = m_warnings;
        result.diagnostics << QStringLiteral("%1: error: %2").arg(m_cache.Place(e.pos), e.message);
        for (auto it = m_includeStack.rbegin(); it != m_includeStack.rend(); ++it)
            result.diagnostics << QStringLiteral("  included from %1").arg(m_cache.Place(*it));
    }
    return result;
}

// A table row whose fact the sources do not settle for this version: the program compiles, and the
// use is reported once per place, so what the run proves is read with it.
void Checker::NoteFact(const char* note, const QString& what, SourcePos pos)
{
    static const QLatin1String unconfirmed("unconfirmed: ");
    if (!note || !QLatin1String(note).startsWith(unconfirmed))
        return;
    const QString line =
        QStringLiteral("%1: warning: pbrun cannot confirm %2 on PureBasic %3: %4")
            .arg(m_cache.Place(pos), what, VersionText(target().version), QLatin1String(note + unconfirmed.size()));
    if (!m_warnings.contains(line))
        m_warnings << line;
}

// Whether the files being compiled define `name` as a `kind` further on: then a use before it is
// the compiler's own error; otherwise the name is one of PureBasic's that pbrun's tables lack.
bool Checker::DefinedFurtherOn(StmtKind kind, const QString& name) const
{
    std::function<bool(const Body&)> walk = [&](const Body& body) {
        for (const StmtPtr& st : body) {
            if ((st->kind == kind || (kind == StmtKind::Procedure && st->kind == StmtKind::Declare) ||
                 (kind == StmtKind::ConstantDef && st->kind == StmtKind::EnumItem)) &&
                st->name.compare(name, Qt::CaseInsensitive) == 0)
                return true;
            if (walk(st->body))
                return true;
            for (const Branch& br : st->branches)
                if (walk(br.body))
                    return true;
        }
        return false;
    };
    for (const int file : m_fileStack)
        if (walk(m_cache.file(file).body))
            return true;
    return false;
}

Binding& Checker::B(int id)
{
    if (std::size_t(id) >= m_prog->bindings.size())
        m_prog->bindings.resize(std::size_t(m_cache.nodeCount()));
    return m_prog->bindings[std::size_t(id)];
}

int Checker::AddConst(const Value& v)
{
    m_prog->constants.push_back(v);
    return int(m_prog->constants.size()) - 1;
}

int Checker::LoadFile(const QString& path, SourcePos from)
{
    const int index = m_cache.Load(path);
    const SourceFile& f = m_cache.file(index);
    if (!f.error.isEmpty())
        Error(f.errorLine > 0 ? SourcePos{index, f.errorLine} : from, f.error);
    if (m_prog->bindings.size() < std::size_t(m_cache.nodeCount()))
        m_prog->bindings.resize(std::size_t(m_cache.nodeCount()));
    return index;
}

// Where a relative include or binary file is looked up: from 5.30 the folder of the file holding the
// statement; before, the main source's folder (history 5.30: "(X)IncludeFile and IncludeBinary ...
// now relative to the file which contains these statements").
QString Checker::Resolve(const QString& name, SourcePos pos) const
{
    QString n = name;
    if (target().os == Os::Windows)
        n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(n))
        return QDir::cleanPath(n);
    const QString base = target().version >= Since::RelativeIncludes
                             ? QFileInfo(m_cache.file(pos.file).path).absolutePath()
                             : m_mainFolder;
    return QDir::cleanPath(QDir(base).filePath(n));
}

void Checker::Include(const Stmt& s, Ctx ctx)
{
    const ConstEntry name = RequireConst(*s.exprs[0], "The file of an include");
    if (name.cls != Cls::String)
        Error(s.pos, QStringLiteral("An include takes a file name"));
    const QString path = Resolve(name.value.s, s.pos);
    Binding& b = B(s);
    b.kind = Bind::Include;
    if (s.flag && m_xincluded.contains(path)) {
        b.a = -1;
        return;
    }
    m_xincluded.insert(path);
    if (std::find(m_fileStack.begin(), m_fileStack.end(), m_cache.Load(path)) != m_fileStack.end())
        Error(s.pos, QStringLiteral("The file includes itself: %1").arg(path));
    m_includeStack.push_back(s.pos);
    const int file = LoadFile(path, s.pos);
    B(s).a = file;
    m_fileStack.push_back(file);
    CheckBody(m_cache.file(file).body, ctx);
    m_fileStack.pop_back();
    m_includeStack.pop_back();
}

} // namespace hexaloom::pbrun::checking

namespace hexaloom::pbrun {

QString TypeLetter(Type t)
{
    switch (t) {
    case Type::B:
        return QStringLiteral("b");
    case Type::A:
        return QStringLiteral("a");
    case Type::C:
        return QStringLiteral("c");
    case Type::W:
        return QStringLiteral("w");
    case Type::U:
        return QStringLiteral("u");
    case Type::L:
        return QStringLiteral("l");
    case Type::I:
        return QStringLiteral("i");
    case Type::Q:
        return QStringLiteral("q");
    case Type::F:
        return QStringLiteral("f");
    case Type::D:
        return QStringLiteral("d");
    case Type::S:
        return QStringLiteral("s");
    default:
        return QStringLiteral("?");
    }
}

CheckResult Check(SourceCache& cache, const QString& mainPath, const Target& target, const CheckOptions& options)
{
    checking::Checker checker(cache, target, options);
    return checker.Run(QFileInfo(mainPath).absoluteFilePath());
}

} // namespace hexaloom::pbrun
