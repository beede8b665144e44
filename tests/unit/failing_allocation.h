// Makes allocations of one size fail while a FailingAllocation lives, so a
// test reaches the paths behind std::bad_alloc. The unit test program
// replaces the global allocation functions for this; every other size is
// allocated as usual.
#pragma once

#include <cstddef>

namespace korvane::test {

class FailingAllocation {
public:
    explicit FailingAllocation(std::size_t size);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;
};

}  // namespace korvane::test
