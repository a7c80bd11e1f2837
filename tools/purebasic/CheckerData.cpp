// Layout: structures (packed), enumerations, and the DataSection as the compiler lays it out.
#include "CheckerImpl.h"

namespace hexaloom::pbrun::checking {

void Checker::Structure(const Stmt& s)
{
    NotInBlock(s, "Structure");
    B(s).kind = Bind::Skip;
    CheckName(s.name, s.pos);
    const QString k = Key(s.name);
    if (m_structs.contains(k))
        Error(s.pos, QStringLiteral("Structure already declared: %1").arg(s.name));
    StructInfo info;
    info.name = s.name;
    if (s.type.suffix == Suffix::Named) {
        info = m_prog->structs[std::size_t(StructByName(s.type.name, s.pos))];
        info.name = s.name;
    }
    // The name is known inside its own body, so a field may point to the structure it belongs to.
    const int index = int(m_prog->structs.size());
    m_prog->structs.emplace_back();
    m_structs.insert(k, index);
    m_building = index;
    m_struct = &info;
    CheckBody(s.body, Ctx::Structure);
    m_struct = nullptr;
    m_building = -1;
    m_prog->structs[std::size_t(index)] = std::move(info);
}

// Fields are packed: PureBasic aligns structures to 1 byte unless Align is given.
void Checker::StructureItem(const Stmt& s)
{
    if (s.kind != StmtKind::FieldDecl)
        Error(s.pos, QStringLiteral("Syntax error in a Structure"));
    FieldInfo f;
    f.name = s.name;
    f.pointer = s.pointer;
    if (FindField(*m_struct, s.name))
        Error(s.pos, QStringLiteral("Structure field already declared: %1").arg(s.name));
    int size;
    if (s.pointer) {
        f.type = Type::I;
        if (s.type.suffix == Suffix::Named)
            f.structId = StructByName(s.type.name, s.pos);
        size = target().pointerSize();
    } else if (s.type.suffix == Suffix::Named) {
        f.type = Type::Struct;
        f.structId = StructByName(s.type.name, s.pos);
        if (f.structId == m_building)
            Error(s.pos, QStringLiteral("A structure cannot contain itself (a pointer to it can stand there)"));
        size = m_prog->structs[std::size_t(f.structId)].size;
    } else {
        f.type = s.name.endsWith(u'$')           ? Type::S
                 : s.type.suffix == Suffix::None ? DefaultType()
                                                 : NativeType(s.type.suffix, s.pos);
        if (f.type == Type::S)
            Error(s.pos, QStringLiteral("pbrun does not support string fields"));
        size = SizeOfType(f.type, target());
    }
    if (!s.exprs.empty()) {
        const std::int64_t n = IntConst(*s.exprs[0], "A static array's size");
        if (n < 1 || n > 1 << 24)
            Error(s.pos, QStringLiteral("A static array field needs 1 or more elements"));
        f.count = int(n);
        size *= f.count;
    }
    f.offset = m_struct->size;
    m_struct->size += size;
    m_struct->fields.push_back(f);
}

void Checker::EnumerationItem(const Stmt& s)
{
    if (s.kind != StmtKind::EnumItem)
        Error(s.pos, QStringLiteral("Syntax error in an Enumeration"));
    if (!s.exprs.empty())
        m_enumNext = EnumConst(*s.exprs[0], "An enumeration value");
    ConstEntry c;
    c.value.i = m_enumNext;
    c.cls = (m_enumNext > INT32_MAX || m_enumNext < INT32_MIN) ? Cls::Int64 : Cls::Int32;
    DefineConstant(s.name, c, s.pos);
    if (m_enumBinary)
        m_enumNext = m_enumNext ? std::int64_t(std::uint64_t(m_enumNext) << 1) : 1;
    else
        m_enumNext = std::int64_t(std::uint64_t(m_enumNext) + std::uint64_t(m_enumStep));
}

void Checker::DataItem(const Stmt& s)
{
    QByteArray& data = m_prog->data;
    B(s).kind = Bind::Skip;
    switch (s.kind) {
    case StmtKind::Label:
        DefineLabel(s, int(data.size()));
        return;
    case StmtKind::Data: {
        if (s.type.suffix == Suffix::Named)
            Error(s.pos, QStringLiteral("Data takes a native type"));
        const Type type = NativeType(s.type.suffix, s.pos);
        const int size = SizeOfType(type, target());
        auto putInt = [&](std::int64_t v) {
            for (int i = 0; i < size; ++i)
                data.append(char(std::uint64_t(v) >> (8 * i)));
        };
        if (!s.ints.empty()) {
            if (type == Type::S || type == Type::F || type == Type::D) {
                for (std::int64_t v : s.ints)
                    PutTyped(type, double(v), {}, s.pos);
                return;
            }
            data.reserve(data.size() + qsizetype(s.ints.size()) * size);
            for (std::int64_t v : s.ints)
                putInt(v);
            return;
        }
        for (const ExprPtr& e : s.exprs) {
            if (e->kind == ExprKind::LabelAddr || e->kind == ExprKind::AddressOf)
                Error(e->pos, QStringLiteral("pbrun does not support addresses in Data"));
            const ConstEntry c = RequireConst(*e, "A Data value");
            if ((type == Type::S) != (c.cls == Cls::String))
                Error(e->pos, QStringLiteral("Data.%1 takes %2")
                                  .arg(TypeLetter(type), QLatin1String(type == Type::S ? "strings" : "numbers")));
            if (type == Type::S || type == Type::F || type == Type::D)
                PutTyped(type, IsIntCls(c.cls) ? double(c.value.i) : c.value.d, c.value.s, e->pos);
            else if (!IsIntCls(c.cls))
                Error(e->pos, QStringLiteral("Data.%1 takes integers").arg(TypeLetter(type)));
            else
                putInt(c.value.i);
        }
        return;
    }
    case StmtKind::IncludeBinary: {
        const ConstEntry name = RequireConst(*s.exprs[0], "IncludeBinary's file");
        if (name.cls != Cls::String)
            Error(s.pos, QStringLiteral("IncludeBinary takes a file name"));
        const QString path = Resolve(name.value.s, s.pos);
        QByteArray bytes;
        QString error;
        if (!m_cache.Binary(path, bytes, &error))
            Error(s.pos, QStringLiteral("IncludeBinary: %1").arg(error));
        data.append(bytes);
        return;
    }
    default:
        Error(s.pos, QStringLiteral("Only Data, IncludeBinary and labels are allowed in a DataSection"));
    }
}

// Data.s, Data.f, Data.d: strings are laid out in the program's character format with their zero
// (unconfirmed: the manual does not describe the layout).
void Checker::PutTyped(Type type, double d, const QString& text, SourcePos pos)
{
    QByteArray& data = m_prog->data;
    if (type == Type::F) {
        const float f = float(d);
        data.append(reinterpret_cast<const char*>(&f), 4);
    } else if (type == Type::D) {
        data.append(reinterpret_cast<const char*>(&d), 8);
    } else {
        if (!target().unicode) {
            CheckAsciiLiteral(text, pos);
            data.append(text.toLatin1());
            data.append('\0');
        } else {
            for (QChar ch : text) {
                data.append(char(ch.unicode() & 0xFF));
                data.append(char(ch.unicode() >> 8));
            }
            data.append(2, '\0');
        }
    }
}

} // namespace hexaloom::pbrun::checking
