#pragma once
// Memory for character buffers and arrays.

#include <cstddef>

namespace ZT {

class IAllocator {
public:
    virtual ~IAllocator() = default;
    // Each returns null when the memory cannot be had.
    virtual void* Allocate(std::size_t size) = 0;
    virtual void* AllocateZeroed(std::size_t count, std::size_t size) = 0;
    virtual void* Reallocate(void* memory, std::size_t size) = 0;
    virtual void Free(void* memory) = 0;
};

// malloc, calloc, realloc and free.
class SystemAllocator final : public IAllocator {
public:
    void* Allocate(std::size_t size) override;
    void* AllocateZeroed(std::size_t count, std::size_t size) override;
    void* Reallocate(void* memory, std::size_t size) override;
    void Free(void* memory) override;
};

// The one process-wide system allocator, created on first use.
IAllocator& GetSystemAllocator();

} // namespace ZT
