// Imports, linked .res files and the link step: labels, called procedures, libraries.
#include "CheckerImpl.h"

namespace hexaloom::pbrun::checking {

void Checker::Import(const Stmt& s)
{
    NotInBlock(s, "Import");
    B(s).kind = Bind::Skip;
    const ConstEntry lib = RequireConst(*s.exprs[0], "The library of an Import");
    if (lib.cls != Cls::String)
        Error(s.pos, QStringLiteral("Import takes the library's name as a string"));
    const QString name = lib.value.s;
    if (name.endsWith(QLatin1String(".res"), Qt::CaseInsensitive)) {
        if (s.flag)
            Error(s.pos, QStringLiteral("pbrun does not support a .res file in ImportC"));
        if (!s.body.empty())
            Error(s.pos, QStringLiteral("pbrun does not support functions imported from a .res file"));
        if (target().os != Os::Windows) {
            m_linkErrors.emplace_back(QStringLiteral("a .res file can be linked on Windows only (%1)").arg(name),
                                      s.pos);
            return;
        }
        // Import paths go to the linker, which runs from the main source's folder.
        QString path = name;
        path.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (!QDir::isAbsolutePath(path))
            path = QDir::cleanPath(QDir(m_mainFolder).filePath(path));
        LinkResFile(path, s.pos);
        return;
    }
    m_importC = s.flag;
    const bool windows = target().os == Os::Windows;
    // a library PureBasic's own IDE links a function pbrun knows from
    bool known = false;
    for (const ImportedFunctionInfo& f : ImportedFunctionTable())
        known = known || (windows ? name.compare(QLatin1String(f.library), Qt::CaseInsensitive) == 0
                                  : name == QLatin1String(f.libraryElsewhere));
    if (!known)
        m_linkErrors.emplace_back(
            QStringLiteral("pbrun does not know the library \"%1\" on %2: PureBasic's documentation does not "
                           "confirm it is there")
                .arg(name, QLatin1String(windows                    ? "Windows"
                                         : target().os == Os::Linux ? "Linux"
                                                                    : "macOS")),
            s.pos);
    CheckBody(s.body, Ctx::Import);
}

void Checker::ImportItem(const Stmt& s)
{
    if (s.kind != StmtKind::ImportDecl)
        Error(s.pos, QStringLiteral("Syntax error in an Import block"));
    CheckName(s.name, s.pos);
    const QString k = Key(s.name);
    if (m_imports.contains(k) || m_procs.contains(k))
        Error(s.pos, QStringLiteral("%1() is already declared").arg(s.name));
    const ImportedFunctionInfo* known = FindImportedFunction(s.name);
    if (!known)
        Error(s.pos, QStringLiteral("pbrun does not support importing %1()").arg(s.name));
    if (known->cCall && !m_importC && target().cpu == Cpu::X86)
        Error(s.pos, QStringLiteral("%1() uses the C calling convention: on x86 it needs ImportC").arg(s.name));
    const QString letters = QLatin1String(known->params);
    if (s.params.size() != std::size_t(letters.size()))
        Error(s.pos, QStringLiteral("%1() takes %2 parameters").arg(s.name).arg(letters.size()));
    ImportInfo info;
    info.name = s.name;
    info.handler = known->handler;
    info.result = s.type.suffix == Suffix::None ? DefaultType() : NativeType(s.type.suffix, s.pos);
    if (known->result == 'i' && SizeOfType(info.result, target()) < 4)
        Error(s.pos, QStringLiteral("%1() returns a C int: its result type is too narrow").arg(s.name));
    info.resultCls = ClsOf(info.result, target());
    const int cLong = target().cLongSize();
    for (std::size_t i = 0; i < s.params.size(); ++i) {
        const Param& p = s.params[i];
        const VarType vt = ResolveType(p.name, p.type, Type::None, p.pos);
        if (vt.type == Type::S || vt.type == Type::Struct || vt.type == Type::F || vt.type == Type::D)
            Error(p.pos, QStringLiteral("%1(): %2 must be an integer or a pointer").arg(s.name, p.name));
        const int width = vt.pointer ? target().pointerSize() : SizeOfType(vt.type, target());
        const bool wantPointer = letters[qsizetype(i)] == u'p';
        if (wantPointer && width != target().pointerSize())
            Error(p.pos, QStringLiteral("%1(): %2 is %3 bytes here, but a C pointer is %4 bytes on %5")
                             .arg(s.name, p.name)
                             .arg(width)
                             .arg(target().pointerSize())
                             .arg(target().name()));
        if (!wantPointer && width != cLong)
            Error(p.pos, QStringLiteral("%1(): %2 is %3 bytes here, but C's unsigned long is %4 bytes on %5")
                             .arg(s.name, p.name)
                             .arg(width)
                             .arg(cLong)
                             .arg(target().name()));
        info.params.push_back(target().pointerSize() == 8 ? Cls::Int64 : Cls::Int32);
    }
    B(s).kind = Bind::Skip;
    m_imports.insert(k, int(m_prog->imports.size()));
    m_prog->imports.push_back(std::move(info));
}

void Checker::LinkResFile(const QString& path, SourcePos pos)
{
    QByteArray bytes;
    QString error;
    if (!m_cache.Binary(path, bytes, &error)) {
        m_linkErrors.emplace_back(QStringLiteral("the linker cannot read it: %1").arg(error), pos);
        return;
    }
    std::vector<ResEntry> entries = ReadResFile(bytes, &error);
    if (!error.isEmpty()) {
        m_linkErrors.emplace_back(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), error), pos);
        return;
    }
    for (ResEntry& e : entries) {
        for (const ResEntry& old : m_prog->resources) {
            if (old.typeIsNumber == e.typeIsNumber && old.typeNumber == e.typeNumber && old.typeName == e.typeName &&
                old.nameIsNumber == e.nameIsNumber && old.nameNumber == e.nameNumber && old.name == e.name &&
                old.language == e.language)
                m_linkErrors.emplace_back(QStringLiteral("duplicate resource in %1").arg(QFileInfo(path).fileName()),
                                          pos);
        }
        m_prog->resources.push_back(std::move(e));
    }
}

void Checker::Link()
{
    for (const auto& [index, pos] : m_labelUses) {
        const LabelInfo& l = m_prog->labels[std::size_t(index)];
        if (l.pos.line == 0)
            Error(pos, QStringLiteral("Label not found: %1").arg(l.name));
        if (l.offset < 0)
            Error(pos, QStringLiteral("pbrun does not support the label %1 outside a DataSection").arg(l.name));
    }
    for (const auto& [index, pos] : m_calledProcs) {
        if (!m_definedProcs.contains(index))
            Error(pos, QStringLiteral("The procedure %1() is declared but never defined")
                           .arg(m_prog->procs[std::size_t(index)].name));
    }
    if (!m_linkErrors.empty())
        Error(m_linkErrors.front().second, m_linkErrors.front().first);
    for (const QString& res : m_options.resFiles) {
        if (target().os != Os::Windows)
            Error({m_prog->mainFile, 1}, QStringLiteral("a .res file can be linked on Windows only (%1)").arg(res));
        LinkResFile(QFileInfo(res).absoluteFilePath(), {m_prog->mainFile, 1});
        if (!m_linkErrors.empty())
            Error(m_linkErrors.front().second, m_linkErrors.front().first);
    }
}

} // namespace hexaloom::pbrun::checking
