#pragma once
// The program's simulated address space. Every allocation, variable, array, structure, the data section and
// every resource is a block of its own; every access must fall inside one live block, or it is an error
// naming the block. Bases only grow, with gaps between blocks, and freed ranges are never reused, so a
// stale pointer or an overrun lands in no block instead of in a neighbour. On 64-bit targets every base
// lies above 4 GiB, so a pointer squeezed through a long faults.
#include "Ast.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace hexaloom::pbrun {

enum class BlockKind : std::uint8_t { Heap, Variable, Array, Data, Resource };

struct Block
{
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    BlockKind kind = BlockKind::Heap;
    bool live = true;
    bool readOnly = false;
    SourcePos allocatedAt;
    SourcePos freedAt;
    QString name; // variable or array name, "data section", "resource 3"
    std::vector<std::uint8_t> bytes;
};

// A failed access: the message says what and where; `block` is the block concerned, if any.
struct MemoryFault
{
    QString message;
    const Block* block = nullptr;
};

class Memory
{
public:
    // `pointerSize` 4 puts the address space below 4 GiB, 8 above it. `limit` caps the bytes of live
    // heap blocks: an allocation beyond it fails (returns null) as it would on a machine out of memory.
    Memory(int pointerSize, std::uint64_t limit);
    // How messages name a source position ("Vorkel_Include.pbi:12").
    void SetPlaceNamer(std::function<QString(SourcePos)> namer) { m_namer = std::move(namer); }

    Block* Allocate(std::uint64_t size, BlockKind kind, SourcePos at, const QString& name = {});
    // Marks a heap block freed. Fails for an address that is not the base of a live heap block.
    bool Free(std::uint64_t address, SourcePos at, MemoryFault& fault);
    // Releases a variable or array block (a procedure's local going out of scope, a ReDim).
    void Release(Block* block, SourcePos at);

    // The bytes at [address, address + length) inside one live block, or null with a fault.
    std::uint8_t* Access(std::uint64_t address, std::uint64_t length, bool write, MemoryFault& fault);
    // The live heap block starting exactly at `address`, or null with a fault (MemorySize, FreeMemory).
    Block* HeapBlock(std::uint64_t address, const char* function, MemoryFault& fault);

    std::vector<const Block*> LiveHeapBlocks() const;

private:
    Block* Find(std::uint64_t address);
    QString Describe(const Block& block) const;

    std::map<std::uint64_t, std::unique_ptr<Block>> m_blocks;
    std::uint64_t m_next;
    std::uint64_t m_end;
    std::uint64_t m_limit;
    std::uint64_t m_heapBytes = 0;
    Block* m_last = nullptr;
    std::function<QString(SourcePos)> m_namer;
};

QString HexAddress(std::uint64_t address);

} // namespace hexaloom::pbrun
