#pragma once

#include <cstddef>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace quelm {

// An allocator for one large array filled from its start, such as the bars of an input: on
// Linux a block of 4 MiB or more comes in huge pages where the system offers them, so that
// filling it takes one page fault per 2 MiB instead of one per 4 KiB. Elsewhere, and for
// smaller blocks, it is the ordinary allocator.
template <typename T> struct HugePageAllocator
{
    using value_type = T;

    HugePageAllocator() = default;
    template <typename U> HugePageAllocator(const HugePageAllocator<U> &) {}

    T *allocate(std::size_t count)
    {
        const std::size_t bytes = count * sizeof(T);
#ifdef __linux__
        if (bytes >= hugeFrom) {
            void *block =
                ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (block == MAP_FAILED) {
                throw std::bad_alloc();
            }
            // Only advice: without huge pages the block works all the same.
            (void)::madvise(block, bytes, MADV_HUGEPAGE);
            return static_cast<T *>(block);
        }
#endif
        return static_cast<T *>(::operator new(bytes));
    }

    void deallocate(T *block, std::size_t count) noexcept
    {
#ifdef __linux__
        if (count * sizeof(T) >= hugeFrom) {
            ::munmap(block, count * sizeof(T));
            return;
        }
#endif
        ::operator delete(block);
        (void)count;
    }

    friend bool operator==(const HugePageAllocator &, const HugePageAllocator &)
    {
        return true;
    }

private:
    static constexpr std::size_t hugeFrom = std::size_t{4} << 20;
};

} // namespace quelm
