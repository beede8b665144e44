#include "engine/entry_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "archive/zstreams.h"
#include "engine/decode_state.h"
#include "engine/task_pool.h"

namespace korvane {

namespace {

constexpr unsigned int in_blocks = pipeline_blocks, out_blocks = pipeline_blocks;
// Large windows keep the handoffs few and zlib's copies into its own window
// short.
constexpr unsigned int out_block_size = pipeline_window_size;

// Blocks one thread fills and the other uses, in order: the filler fills
// block filled % count while fewer than count are filled and not yet freed;
// the user frees each once done with it. over, with a non-zero end, says the
// filler stopped there.
template <unsigned int count>
struct Ring {
    std::unique_ptr<unsigned char[]> bytes;
    unsigned int lengths[count] = {};
    std::size_t filled = 0, freed = 0;
    bool over = false;
    ResultCode end = result_ok;

    bool has_room() const { return filled - freed < count; }
    bool has_block() const { return filled > freed; }
};

struct Pipeline {
    std::mutex mutex;
    std::condition_variable changed;
    Ring<in_blocks> in;    // decrypted input, filled by the decoding thread
    Ring<out_blocks> out;  // inflated windows, filled by the inflating thread
    // The decoding thread left early: the inflating thread stops at its next handoff.
    bool abandoned = false;
};

// The inflating thread: takes input blocks as they come and hands full
// windows on; its result ends the output ring.
ResultCode inflate_blocks(Pipeline& p, DecodeState& s, std::uint64_t remaining,
                          std::optional<std::uint64_t> size) {
    auto windows = std::make_unique_for_overwrite<unsigned char[]>(
        std::size_t{out_block_size} * out_blocks);
    unsigned char* const first = windows.get();
    {
        std::lock_guard lock(p.mutex);
        p.out.bytes = std::move(windows);
    }
    bool holding = false;  // an input block zlib may still read from
    auto read = [&](std::uint64_t, unsigned char*& data, unsigned int& length) -> ResultCode {
        std::unique_lock lock(p.mutex);
        if (holding) {
            ++p.in.freed;
            holding = false;
            p.changed.notify_all();
        }
        p.changed.wait(lock, [&] { return p.abandoned || p.in.has_block() || p.in.over; });
        if (p.abandoned) return result_cancelled;
        // Blocks before a failure are inflated first, as on one thread.
        if (!p.in.has_block()) return p.in.end;
        const std::size_t slot = p.in.freed % in_blocks;
        data = p.in.bytes.get() + slot * pipeline_block_size;
        length = p.in.lengths[slot];
        holding = true;
        return result_ok;
    };
    auto emit = [&](unsigned char*& out, unsigned int filled, bool last) -> ResultCode {
        std::unique_lock lock(p.mutex);
        p.out.lengths[p.out.filled % out_blocks] = filled;
        ++p.out.filled;
        p.changed.notify_all();
        if (last) return result_ok;
        p.changed.wait(lock, [&] { return p.abandoned || p.out.has_room(); });
        if (p.abandoned) return result_cancelled;
        out = p.out.bytes.get() + (p.out.filled % out_blocks) * std::size_t{out_block_size};
        return result_ok;
    };
    return inflate_exact(s.inflater, remaining, size, first, out_block_size, read, emit,
                         [&] { return s.stopping(); });
}

void inflating_thread(Pipeline& p, DecodeState& s, std::uint64_t remaining,
                      std::optional<std::uint64_t> size) {
    ResultCode result;
    try {
        result = inflate_blocks(p, s, remaining, size);
    } catch (const std::bad_alloc&) {
        result = result_out_of_memory;
    } catch (...) {
        result = result_internal_error;
    }
    std::lock_guard lock(p.mutex);
    p.out.over = true;
    p.out.end = result;
    p.changed.notify_all();
}

// The decoding thread: reads and decrypts input while the ring has room,
// writes inflated windows as they come, and ends with the inflating thread's
// result once every window before it is written, or at its own failure.
ResultCode read_and_write(Pipeline& p, DecodeState& s, std::FILE* output,
                          std::uint64_t remaining, CAesEnc& aes, std::uint32_t* crc) {
    unsigned char* const blocks = p.in.bytes.get();
    std::unique_lock lock(p.mutex);
    while (true) {
        if (remaining > 0 && !p.in.over && p.in.has_room()) {
            const std::size_t slot = p.in.filled % in_blocks;
            const auto piece =
                static_cast<unsigned int>(std::min<std::uint64_t>(remaining, pipeline_block_size));
            lock.unlock();
            ResultCode r = s.read_block(aes, blocks + slot * pipeline_block_size, piece);
            remaining -= piece;
            const bool stop = r == result_ok && s.stopping();
            lock.lock();
            if (r == result_ok) {
                p.in.lengths[slot] = piece;
                ++p.in.filled;
            }
            if (r != result_ok || stop) {
                p.in.over = true;
                p.in.end = stop ? result_cancelled : r;
            }
            p.changed.notify_all();
        } else if (p.out.has_block()) {
            const std::size_t slot = p.out.freed % out_blocks;
            const unsigned char* block = p.out.bytes.get() + slot * std::size_t{out_block_size};
            const unsigned int length = p.out.lengths[slot];
            lock.unlock();
            if (ResultCode r = DecodeState::write_block(output, crc, block, length)) return r;
            if (s.stopping()) return result_cancelled;
            lock.lock();
            ++p.out.freed;
            p.changed.notify_all();
        } else if (p.out.over) {
            return p.out.end;
        } else {
            p.changed.wait(lock);
        }
    }
}

}  // namespace

std::optional<ResultCode> inflate_pipelined(DecodeState& s, std::FILE* output,
                                            std::uint64_t remaining,
                                            std::optional<std::uint64_t> size, CAesEnc& aes,
                                            std::uint32_t* crc) {
    if (!s.pool || remaining < pipeline_threshold || !s.pool->lend()) return std::nullopt;
    struct GiveBack {
        TaskPool& pool;
        ~GiveBack() { pool.give_back(); }
    } give_back{*s.pool};
    Pipeline p;
    p.in.bytes = std::make_unique_for_overwrite<unsigned char[]>(std::size_t{pipeline_block_size} *
                                                                 in_blocks);
    std::thread inflating;
    // No thread to be had: the one-thread path does the same work.
    try {
        inflating = std::thread(inflating_thread, std::ref(p), std::ref(s), remaining, size);
    } catch (const std::system_error&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    // However this thread leaves, the other one stops and is joined first.
    struct Join {
        Pipeline& p;
        std::thread& thread;
        ~Join() {
            {
                std::lock_guard lock(p.mutex);
                p.abandoned = true;
            }
            p.changed.notify_all();
            thread.join();
        }
    } join{p, inflating};
    return read_and_write(p, s, output, remaining, aes, crc);
}

}  // namespace korvane
