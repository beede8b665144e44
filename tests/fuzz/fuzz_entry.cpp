// libFuzzer entry point; KORVANE_FUZZ_TARGET names the target function.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return korvane::fuzz::KORVANE_FUZZ_TARGET(data, size);
}
