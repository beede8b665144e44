// A scratch folder under the system's temporary folder, removed with all it
// holds when the test ends.
#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/platform.h"
#include "test_support.h"

namespace korvane::test {

class TempFolder {
public:
    TempFolder() {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        if (ec) throw std::runtime_error("no temporary folder: " + ec.message());
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate = base / ("korvane-test-" + std::to_string(random()));
            if (fs::create_directory(candidate, ec)) {
                path_ = candidate.string();
                return;
            }
        }
        throw std::runtime_error("cannot create a folder in " + base.string());
    }
    ~TempFolder() {
        std::error_code ec;  // best effort: a failure must not end the test run
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }

    // A path inside, with relative_path's '/' turned into the platform's separator.
    std::string operator/(std::string_view relative_path) const {
        return path_ + platform::separator + native_path(std::string(relative_path));
    }

private:
    std::string path_;
};

// The process's current folder, set for as long as this lives.
class CurrentFolder {
  public:
    explicit CurrentFolder(const std::string& path) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~CurrentFolder() {
        std::error_code ec;
        std::filesystem::current_path(saved_, ec);
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

  private:
    std::filesystem::path saved_;
};

}  // namespace korvane::test
