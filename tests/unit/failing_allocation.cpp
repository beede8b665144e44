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

// Every form but the aligned ones, so that no block is freed by another
// allocator than the one that gave it (a sanitizer brings its own).
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
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept {
    return ::operator new(size, nothrow);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
