// A scratch folder for one fuzzing process: the archive goes at its top and
// the destination several levels down, so that an entry escaping the
// destination by "..", an absolute name or a drive would show up inside.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/result_code.h"
#include "fuzz_targets.h"

namespace korvane::fuzz {

class Scratch {
public:
    Scratch() {
        namespace fs = std::filesystem;
        root_ = fs::temp_directory_path() / ("korvane-fuzz-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "a" / "b" / "c");
        archive_ = (root_ / "input.cry").string();
        destination_ = (root_ / "a" / "b" / "c" / "dest").string();
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    const std::string& archive() const { return archive_; }
    const std::string& destination() const { return destination_; }

    void write_archive(const void* data, std::size_t size) {
        std::ofstream out(archive_, std::ios::binary | std::ios::trunc);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        check(out.good(), "cannot write the scratch archive");
    }

    // Every result is one of the codes, and nothing exists outside the
    // destination but the archive and the empty folders above it.
    void check_after(ResultCode result) {
        namespace fs = std::filesystem;
        check(result >= 0 && result < result_code_count, "result not a result code");
        const fs::path dest(destination_);
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            const fs::path& p = entry.path();
            if (p == archive_ || p == root_ / "a" || p == root_ / "a" / "b" ||
                p == root_ / "a" / "b" / "c" || p == dest)
                continue;
            const auto rel = p.lexically_relative(dest);
            check(!rel.empty() && *rel.begin() != "..", "a file was written outside the destination");
        }
        fs::remove_all(dest);
    }

private:
    std::filesystem::path root_;
    std::string archive_, destination_;
};

// One scratch folder for the whole process.
inline Scratch& scratch() {
    static Scratch s;
    return s;
}

}  // namespace korvane::fuzz
