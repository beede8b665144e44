// Helpers for tests that write and read whole archives on disk.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "archive/format.h"
#include "engine/crypt_job.h"
#include "engine/reader.h"
#include "test_support.h"

namespace korvane::test {

namespace fs = std::filesystem;

// The program's spelling of a path, UTF-8 in both builds (string() would
// give the ANSI code page's bytes on Windows).
inline std::string plain(const std::u8string& s) {
    return std::string(s.begin(), s.end());
}

inline std::string utf8(const fs::path& p) {
    return plain(p.u8string());
}

inline fs::path from_utf8(const std::string& s) {
    return fs::path(std::u8string(s.begin(), s.end()));
}

inline std::string read_bytes(const fs::path& p) {
    return read_file(utf8(p));
}

// Creates the missing folders above p first.
inline void write_bytes(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    write_file(utf8(p), bytes);
}

// Pseudo-random bytes that deflate cannot shrink, reproducible by seed.
inline std::string noise(std::size_t n, std::uint32_t seed = 1) {
    std::string s(n, '\0');
    for (auto& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return s;
}

// Text that compresses well.
inline std::string text(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i) + " of text\n";
    s.resize(n);
    return s;
}

struct JobCounters {
    std::atomic<std::uint64_t> processed{0}, total{0};
    std::atomic<bool> cancel{false};

    // A job over these counters.
    CryptJob job(std::vector<std::string> inputs, const std::string& output,
                 const std::string& password, int level = 6) {
        return CryptJob(std::move(inputs), output, password, level, processed, total, cancel);
    }
};

inline ResultCode encrypt(const std::vector<std::string>& inputs, const fs::path& archive,
                          const std::string& password, int level = 6, bool cancel = false,
                          int workers = 0) {
    JobCounters c;
    c.cancel = cancel;
    CryptJob job = c.job(inputs, utf8(archive), password, level);
    job.workers = workers;
    return encrypt_worker(job);
}

inline ResultCode decrypt(const fs::path& archive, const fs::path& destination,
                          const std::string& password) {
    JobCounters c;
    CryptJob job = c.job({utf8(archive)}, utf8(destination), password);
    return decrypt_worker(job);
}

// Every regular file below root, as relative '/' paths with contents.
inline std::vector<std::pair<std::string, std::string>> tree(const fs::path& root) {
    std::vector<std::pair<std::string, std::string>> files;
    if (!fs::exists(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files.emplace_back(plain(fs::relative(e.path(), root).generic_u8string()),
                               read_bytes(e.path()));
    std::sort(files.begin(), files.end());
    return files;
}

// Every file and folder below root with its content: what "nothing was
// touched" compares, and what two extractions must agree on.
inline std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> all;
    if (!fs::exists(root)) return all;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(e.path(), root).generic_string();
        all[name] = e.is_directory() ? "<folder>" : read_bytes(e.path());
    }
    return all;
}

inline std::size_t entry_count(const fs::path& path) {
    const std::string a = read_bytes(path);
    if (a.size() < end_record_size) return 0;
    return read_u16(reinterpret_cast<const unsigned char*>(a.data()) + a.size() - 12);
}

}  // namespace korvane::test
