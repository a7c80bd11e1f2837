#include "Memory.h"

namespace hexaloom::pbrun {

namespace {

constexpr std::uint64_t kGap = 0x1000; // unmapped bytes between blocks
constexpr std::uint64_t kAlign = 16;
constexpr std::uint64_t kBase32 = 0x00400000; // 32-bit: the usual image base region and above
constexpr std::uint64_t kEnd32 = 0xFFFF0000;
constexpr std::uint64_t kBase64 = 0x0000000140000000ull; // 64-bit: above 4 GiB
constexpr std::uint64_t kEnd64 = 0x00007FF000000000ull;

QString KindName(BlockKind kind)
{
    switch (kind) {
    case BlockKind::Heap:
        return QStringLiteral("memory block");
    case BlockKind::Variable:
        return QStringLiteral("variable");
    case BlockKind::Array:
        return QStringLiteral("array");
    case BlockKind::Data:
        return QStringLiteral("data section");
    case BlockKind::Resource:
        return QStringLiteral("resource");
    }
    return {};
}

} // namespace

QString HexAddress(std::uint64_t address)
{
    return QStringLiteral("$%1").arg(address, 0, 16).toUpper();
}

Memory::Memory(int pointerSize, std::uint64_t limit)
    : m_next(pointerSize == 4 ? kBase32 : kBase64), m_end(pointerSize == 4 ? kEnd32 : kEnd64), m_limit(limit)
{
}

Block* Memory::Allocate(std::uint64_t size, BlockKind kind, SourcePos at, const QString& name)
{
    if (kind == BlockKind::Heap && (size > m_limit || m_heapBytes + size > m_limit))
        return nullptr;
    const std::uint64_t base = (m_next + kAlign - 1) / kAlign * kAlign;
    if (base + size + kGap > m_end || base + size < base)
        return nullptr;
    auto block = std::make_unique<Block>();
    block->base = base;
    block->size = size;
    block->kind = kind;
    block->allocatedAt = at;
    block->name = name;
    block->bytes.assign(size, 0);
    m_next = base + (size ? size : 1) + kGap;
    if (kind == BlockKind::Heap)
        m_heapBytes += size;
    Block* raw = block.get();
    m_blocks.emplace(base, std::move(block));
    return raw;
}

Block* Memory::Find(std::uint64_t address)
{
    if (m_last && address >= m_last->base && address < m_last->base + m_last->size)
        return m_last;
    auto it = m_blocks.upper_bound(address);
    if (it == m_blocks.begin())
        return nullptr;
    --it;
    Block* b = it->second.get();
    // a zero-length block is found only at its base
    if (address >= b->base + std::max<std::uint64_t>(b->size, 1))
        return nullptr;
    if (b->size > 0)
        m_last = b;
    return b;
}

QString Memory::Describe(const Block& block) const
{
    QString text = KindName(block.kind);
    if (!block.name.isEmpty())
        text += QLatin1Char(' ') + block.name;
    text += QStringLiteral(" of %1 bytes").arg(block.size);
    if (m_namer && block.allocatedAt.line > 0)
        text += QStringLiteral(" allocated at %1").arg(m_namer(block.allocatedAt));
    if (!block.live && m_namer && block.freedAt.line > 0)
        text += QStringLiteral(", freed at %1").arg(m_namer(block.freedAt));
    return text;
}

std::uint8_t* Memory::Access(std::uint64_t address, std::uint64_t length, bool write, MemoryFault& fault)
{
    const char* verb = write ? "writes" : "reads";
    if (address == 0) {
        fault.message =
            QStringLiteral("invalid memory access: %1 %2 bytes at address 0").arg(QLatin1String(verb)).arg(length);
        return nullptr;
    }
    Block* b = Find(address);
    if (!b) {
        fault.message = QStringLiteral("invalid memory access: %1 %2 bytes at %3, which is in no block")
                            .arg(QLatin1String(verb))
                            .arg(length)
                            .arg(HexAddress(address));
        return nullptr;
    }
    fault.block = b;
    const std::uint64_t offset = address - b->base;
    if (!b->live) {
        fault.message = QStringLiteral("invalid memory access: %1 %2 bytes at offset %3 of a freed %4")
                            .arg(QLatin1String(verb))
                            .arg(length)
                            .arg(offset)
                            .arg(Describe(*b));
        return nullptr;
    }
    if (length > b->size - offset) {
        fault.message = QStringLiteral("invalid memory access: %1 %2 bytes at offset %3 of the %4 (%5 past its end)")
                            .arg(QLatin1String(verb))
                            .arg(length)
                            .arg(offset)
                            .arg(Describe(*b))
                            .arg(offset + length - b->size);
        return nullptr;
    }
    if (write && b->readOnly) {
        fault.message = QStringLiteral("write to the read-only %1").arg(Describe(*b));
        return nullptr;
    }
    return b->bytes.data() + offset;
}

Block* Memory::HeapBlock(std::uint64_t address, const char* function, MemoryFault& fault)
{
    Block* b = address ? Find(address) : nullptr;
    if (!b || b->base != address || b->kind != BlockKind::Heap) {
        fault.block = b;
        fault.message = QStringLiteral("%1(): %2 is not the address of an allocated memory block%3")
                            .arg(QLatin1String(function), HexAddress(address),
                                 b ? QStringLiteral(" (it lies in the %1)").arg(Describe(*b)) : QString());
        return nullptr;
    }
    if (!b->live) {
        fault.block = b;
        fault.message = QStringLiteral("%1(): the %2 was already freed").arg(QLatin1String(function), Describe(*b));
        return nullptr;
    }
    return b;
}

bool Memory::Free(std::uint64_t address, SourcePos at, MemoryFault& fault)
{
    Block* b = HeapBlock(address, "FreeMemory", fault);
    if (!b)
        return false;
    Release(b, at);
    return true;
}

void Memory::Release(Block* block, SourcePos at)
{
    if (!block || !block->live)
        return;
    block->live = false;
    block->freedAt = at;
    if (block->kind == BlockKind::Heap)
        m_heapBytes -= block->size;
    // the bytes are gone; the entry stays so a stale pointer is still recognised
    std::vector<std::uint8_t>().swap(block->bytes);
    if (m_last == block)
        m_last = nullptr;
}

std::vector<const Block*> Memory::LiveHeapBlocks() const
{
    std::vector<const Block*> live;
    for (const auto& [base, block] : m_blocks) {
        if (block->live && block->kind == BlockKind::Heap)
            live.push_back(block.get());
    }
    return live;
}

} // namespace hexaloom::pbrun
