// One big entry on two threads: the thread that decodes it reads,
// authenticates and decrypts its stream block by block and writes what comes
// out, while a thread lent from the job's budget inflates in between. Blocks
// pass through two small rings, so memory stays bounded whatever the size;
// the result, the bytes written and every failure are those of one thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "archive/result_code.h"

namespace korvane {

class CAesEnc;
struct DecodeState;

// Input blocks handed to the inflating thread (cancel is noticed within one)
// and windows it inflates into, in rings of pipeline_blocks each.
inline constexpr unsigned int pipeline_block_size = 65536;
inline constexpr unsigned int pipeline_window_size = 262144;
inline constexpr unsigned int pipeline_blocks = 4;
// Streams shorter than this are inflated on one thread: a thread costs more
// than it saves for them.
inline constexpr std::uint64_t pipeline_threshold = 1 << 20;

// Inflates the stream of remaining bytes at the archive's position as
// inflate_exact does, into output and crc, when it is at least
// pipeline_threshold long and s.pool lends a thread; nothing (and nothing
// read) otherwise. Allocation failure may throw std::bad_alloc.
std::optional<ResultCode> inflate_pipelined(DecodeState& s, std::FILE* output,
                                            std::uint64_t remaining,
                                            std::optional<std::uint64_t> size, CAesEnc& aes,
                                            std::uint32_t* crc);

}  // namespace korvane
