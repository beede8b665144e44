#include "failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace korvane::test {
namespace {

std::atomic<std::size_t> failing_size{0};

}  // namespace

FailingAllocation::FailingAllocation(std::size_t size) {
    failing_size = size;
}
FailingAllocation::~FailingAllocation() {
    failing_size = 0;
}

}  // namespace korvane::test

// The array, nothrow and sized forms of the library all come down to these.
void* operator new(std::size_t size) {
    if (size != 0 && size == korvane::test::failing_size.load()) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
