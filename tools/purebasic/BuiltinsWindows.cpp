// The Windows API functions the companion include calls, served from the .res files linked into the
// program. Resources live in read-only blocks, mapped once, as in a loaded image.
#include "Builtins.h"

#include <cstring>

namespace hexaloom::pbrun {

namespace {

constexpr std::int64_t kResourceHandleBase = 0x00010000;

// The module that holds the program's resources: the DLL when the program runs as one, else the executable.
std::uint64_t ResourceModule(const Runtime& rt)
{
    return rt.dllInstance ? rt.dllInstance : rt.moduleHandle;
}

// Windows: "If the first character of the string is a pound sign (#), the remaining characters represent a
// decimal number that specifies the integer identifier of the resource."
bool Matches(const Value& id, bool isNumber, int number, const QString& name)
{
    if (!id.text)
        return isNumber && id.i == number;
    if (id.s.startsWith(u'#')) {
        bool ok = false;
        const int n = id.s.mid(1).toInt(&ok);
        return ok && isNumber && n == number;
    }
    return !isNumber && id.s.toUpper() == name;
}

int ResourceIndex(Runtime& rt, std::int64_t handle, const char* function)
{
    const std::int64_t index = handle - kResourceHandleBase;
    if (index < 0 || index >= std::int64_t(rt.resources.size()))
        rt.Fail(QStringLiteral("%1(): %2 is not a resource handle").arg(QLatin1String(function)).arg(handle));
    return int(index);
}

void CheckModule(Runtime& rt, std::int64_t module, const char* function)
{
    if (module != 0 && std::uint64_t(module) != rt.moduleHandle && std::uint64_t(module) != rt.dllInstance)
        rt.Fail(QStringLiteral("pbrun does not support %1() on a module other than the program's own")
                    .arg(QLatin1String(function)));
}

} // namespace

Value Bi_GetModuleHandle_(Runtime& rt, std::vector<Value>& a)
{
    if (a[0].i != 0)
        rt.Fail(QStringLiteral("pbrun does not support GetModuleHandle_() with a module name"));
    return Int(std::int64_t(rt.moduleHandle));
}

Value Bi_FindResource_(Runtime& rt, std::vector<Value>& a)
{
    CheckModule(rt, a[0].i, "FindResource_");
    // A null module is the executable, whatever runs (the Windows documentation of FindResource).
    const std::uint64_t module = a[0].i == 0 ? rt.moduleHandle : std::uint64_t(a[0].i);
    if (module != ResourceModule(rt))
        return Int(0);
    for (std::size_t i = 0; i < rt.resources.size(); ++i) {
        const ResEntry& e = rt.resources[i];
        if (Matches(a[1], e.nameIsNumber, e.nameNumber, e.name) &&
            Matches(a[2], e.typeIsNumber, e.typeNumber, e.typeName))
            return Int(kResourceHandleBase + std::int64_t(i));
    }
    return Int(0);
}

Value Bi_SizeofResource_(Runtime& rt, std::vector<Value>& a)
{
    CheckModule(rt, a[0].i, "SizeofResource_");
    return Int(rt.resources[std::size_t(ResourceIndex(rt, a[1].i, "SizeofResource_"))].data.size());
}

Value Bi_LoadResource_(Runtime& rt, std::vector<Value>& a)
{
    CheckModule(rt, a[0].i, "LoadResource_");
    const int index = ResourceIndex(rt, a[1].i, "LoadResource_");
    Block*& block = rt.mappedResources[index];
    if (!block) {
        const QByteArray& data = rt.resources[std::size_t(index)].data;
        block = rt.memory.Allocate(std::uint64_t(data.size()), BlockKind::Resource, {},
                                   QString::number(rt.resources[std::size_t(index)].nameNumber));
        if (!block)
            return Int(0);
        if (!data.isEmpty())
            std::memcpy(block->bytes.data(), data.constData(), std::size_t(data.size()));
        block->readOnly = true;
    }
    return Int(std::int64_t(block->base));
}

Value Bi_LockResource_(Runtime& rt, std::vector<Value>& a)
{
    for (const auto& [index, block] : rt.mappedResources)
        if (block && std::int64_t(block->base) == a[0].i)
            return Int(a[0].i);
    rt.Fail(QStringLiteral("LockResource_(): %1 is not a loaded resource").arg(HexAddress(std::uint64_t(a[0].i))));
}

} // namespace hexaloom::pbrun
