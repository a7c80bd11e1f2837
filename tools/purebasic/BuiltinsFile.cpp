// The File library, confined to the run's work folder: a relative name is taken from there, and a name
// that leaves it (absolute, or through "..") is refused, so a program under test writes nowhere else.
#include "Builtins.h"

#include <QFileInfo>

namespace hexaloom::pbrun {

namespace {

QString HostPath(Runtime& rt, const QString& name, const char* function)
{
    QString n = ProgramText(rt, name, function);
    if (rt.target.os == Os::Windows)
        n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool absolute = n.startsWith(u'/') || (n.size() > 1 && n[1] == u':');
    const QString path = QDir::cleanPath(rt.workDir.filePath(n));
    const QString root = QDir::cleanPath(rt.workDir.absolutePath());
    if (n.isEmpty() || absolute || !(path.startsWith(root + QLatin1Char('/'))))
        rt.Fail(QStringLiteral("pbrun keeps files inside its work folder: %1(\"%2\") is refused")
                    .arg(QLatin1String(function), name));
    return path;
}

QFile* OpenedFile(Runtime& rt, std::int64_t number, const char* function)
{
    auto it = rt.files.find(number);
    if (it == rt.files.end())
        rt.Fail(QStringLiteral("%1(): the file #%2 is not open").arg(QLatin1String(function)).arg(number));
    return it->second.get();
}

Value Open(Runtime& rt, std::vector<Value>& a, QIODevice::OpenMode mode, const char* function)
{
    rt.CheckObjectNumber(a[0].i, function);
    const QString path = HostPath(rt, a[1].s, function);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(mode))
        return Int(0);
    const std::int64_t result = rt.ObjectResult(a[0].i);
    const std::int64_t number = a[0].i == -1 ? result : a[0].i;
    rt.files[number] = std::move(file); // a number in use is closed first
    return Int(result);
}

} // namespace

Value Bi_CreateFile(Runtime& rt, std::vector<Value>& a)
{
    return Open(rt, a, QIODevice::WriteOnly | QIODevice::Truncate, "CreateFile");
}

Value Bi_OpenFile(Runtime& rt, std::vector<Value>& a)
{
    return Open(rt, a, QIODevice::ReadWrite, "OpenFile");
}

Value Bi_ReadFile(Runtime& rt, std::vector<Value>& a)
{
    return Open(rt, a, QIODevice::ReadOnly, "ReadFile");
}

Value Bi_WriteData(Runtime& rt, std::vector<Value>& a)
{
    QFile* f = OpenedFile(rt, a[0].i, "WriteData");
    if (a[2].i < 0)
        rt.Fail(QStringLiteral("WriteData(): a negative length"));
    if (a[2].i == 0)
        return Int(0);
    const std::uint8_t* p = rt.Bytes(std::uint64_t(a[1].i), std::uint64_t(a[2].i), false);
    const qint64 n = f->write(reinterpret_cast<const char*>(p), a[2].i);
    return Int(n < 0 ? 0 : n);
}

Value Bi_ReadData(Runtime& rt, std::vector<Value>& a)
{
    QFile* f = OpenedFile(rt, a[0].i, "ReadData");
    if (a[2].i < 0)
        rt.Fail(QStringLiteral("ReadData(): a negative length"));
    if (a[2].i == 0)
        return Int(0);
    std::uint8_t* p = rt.Bytes(std::uint64_t(a[1].i), std::uint64_t(a[2].i), true);
    const qint64 n = f->read(reinterpret_cast<char*>(p), a[2].i);
    return Int(n < 0 ? 0 : n);
}

Value Bi_CloseFile(Runtime& rt, std::vector<Value>& a)
{
    OpenedFile(rt, a[0].i, "CloseFile");
    rt.files.erase(a[0].i);
    return {};
}

Value Bi_Lof(Runtime& rt, std::vector<Value>& a)
{
    return Int(OpenedFile(rt, a[0].i, "Lof")->size());
}

Value Bi_DeleteFile(Runtime& rt, std::vector<Value>& a)
{
    return Int(QFile::remove(HostPath(rt, a[0].s, "DeleteFile")) ? 1 : 0);
}

Value Bi_FileSize(Runtime& rt, std::vector<Value>& a)
{
    // The manual: -1 when the file was not found, -2 for a directory.
    const QFileInfo info(HostPath(rt, a[0].s, "FileSize"));
    for (const auto& [number, file] : rt.files)
        if (QFileInfo(file->fileName()).absoluteFilePath() == info.absoluteFilePath())
            file->flush();
    if (!info.exists())
        return Int(-1);
    if (info.isDir())
        return Int(-2);
    return Int(info.size());
}

} // namespace hexaloom::pbrun
