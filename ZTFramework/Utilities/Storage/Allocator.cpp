#include "ZTFramework/Utilities/Storage/Allocator.h"

#include <cstdlib>

namespace ZT {

void* SystemAllocator::Allocate(std::size_t size) { return std::malloc(size); }
void* SystemAllocator::AllocateZeroed(std::size_t count, std::size_t size) { return std::calloc(count, size); }
void* SystemAllocator::Reallocate(void* memory, std::size_t size) { return std::realloc(memory, size); }
void SystemAllocator::Free(void* memory) { std::free(memory); }

IAllocator& GetSystemAllocator()
{
    // Never destroyed: buffers may be freed by static destructors that run after this one would.
    static SystemAllocator* const allocator = new SystemAllocator;
    return *allocator;
}

} // namespace ZT
