// Helpers for the shell tests: scratch folders, registry read-back, the Wine
// session's pending renames, and a lock for state that every test process
// shares (the fixed ".cry" registration, PendingFileRenameOperations).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "unit/test_support.h"

namespace korvane::shell_test {

namespace fs = std::filesystem;

// The handler library that install registers in the registry view of the
// tests' own width, which their reads see.
inline constexpr const char* own_width_library = sizeof(void*) == 8 ? "kvnmenu64.dll" : "kvnmenu.dll";

inline std::string unique_suffix() {
    return std::to_string(GetCurrentProcessId()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A fresh folder per test; removed afterwards.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& tag)
        : path_(fs::temp_directory_path() / ("kvn-" + tag + "-" + unique_suffix())) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

using test::write_file;

inline std::vector<unsigned char> read_file(const std::string& path) {
    const std::string bytes = test::read_file(path);
    return {bytes.begin(), bytes.end()};
}

inline std::vector<std::string> folder_names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// --- Registry ---------------------------------------------------------------

struct RegValue {
    DWORD type = 0;
    std::vector<unsigned char> data;
    bool operator==(const RegValue&) const = default;
};

// A string value's bytes as written: the text and its terminator.
inline RegValue sz(const std::string& text) {
    RegValue v{REG_SZ, {text.begin(), text.end()}};
    v.data.push_back(0);
    return v;
}
inline RegValue binary(std::vector<unsigned char> bytes) {
    return {REG_BINARY, std::move(bytes)};
}

inline std::ostream& operator<<(std::ostream& out, const RegValue& v) {
    out << "type " << v.type << ", " << v.data.size() << " bytes:";
    for (unsigned char c : v.data) out << ' ' << static_cast<int>(c);
    return out;
}

class Key {
  public:
    // view: 0 (the process's own), KEY_WOW64_32KEY or KEY_WOW64_64KEY.
    Key(HKEY root, const std::string& name, REGSAM view = 0) {
        if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ | view, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

inline bool key_exists(const std::string& name, HKEY root = HKEY_CLASSES_ROOT, REGSAM view = 0) {
    return static_cast<bool>(Key(root, name, view));
}

// nullopt when the key or the value is missing. name nullptr: the default value.
inline std::optional<RegValue> read_value(const std::string& key_name, const char* name,
                                          HKEY root = HKEY_CLASSES_ROOT, REGSAM view = 0) {
    const Key key(root, key_name, view);
    if (!key) return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    RegValue v{type, std::vector<unsigned char>(size)};
    if (RegQueryValueExA(key.get(), name, nullptr, &type, v.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    v.data.resize(size);
    return v;
}

// Every value below a key, by "key path|value name" (the default value has
// an empty name), and every key by its path alone.
using RegDump = std::map<std::string, RegValue>;

inline void dump_into(HKEY root, const std::string& name, RegDump& out) {
    const Key key(root, name);
    if (!key) return;
    out[name] = RegValue{};
    for (DWORD i = 0;; ++i) {
        char value_name[16384];
        DWORD name_size = sizeof value_name;
        DWORD type = 0;
        BYTE data[4096];
        DWORD data_size = sizeof data;
        if (RegEnumValueA(key.get(), i, value_name, &name_size, nullptr, &type, data, &data_size) !=
            ERROR_SUCCESS)
            break;
        out[name + "|" + value_name] = RegValue{type, {data, data + data_size}};
    }
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char child[256];
        DWORD size = sizeof child;
        if (RegEnumKeyExA(key.get(), i, child, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.emplace_back(child);
    }
    for (const std::string& child : children) dump_into(root, name + "\\" + child, out);
}

inline RegDump dump(const std::vector<std::string>& keys, HKEY root = HKEY_CLASSES_ROOT) {
    RegDump out;
    for (const std::string& k : keys) dump_into(root, k, out);
    return out;
}

inline DWORD value_count(const std::string& name, HKEY root = HKEY_CLASSES_ROOT) {
    const Key key(root, name);
    DWORD values = 0;
    if (!key || RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return values;
}

inline void delete_tree(const std::string& name, HKEY root = HKEY_CLASSES_ROOT) {
    RegDeleteTreeA(root, name.c_str());
    RegDeleteKeyA(root, name.c_str());
}

inline bool create_key(const std::string& name, HKEY root = HKEY_CLASSES_ROOT) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// --- Shared state ------------------------------------------------------------

// CTest runs test processes in parallel; the ones that touch the fixed
// registration or the pending renames take this machine-wide mutex.
class SharedStateLock {
  public:
    SharedStateLock() : mutex_(CreateMutexA(nullptr, FALSE, "korvane-tests-shell-state")) {
        if (!mutex_) return;
        const DWORD got = WaitForSingleObject(mutex_, 90000);
        owned_ = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
    }
    ~SharedStateLock() {
        if (owned_) ReleaseMutex(mutex_);
        if (mutex_) CloseHandle(mutex_);
    }
    SharedStateLock(const SharedStateLock&) = delete;
    SharedStateLock& operator=(const SharedStateLock&) = delete;
    bool owned() const { return owned_; }

  private:
    HANDLE mutex_;
    bool owned_ = false;
};

inline constexpr const char* session_manager_key =
    "System\\CurrentControlSet\\Control\\Session Manager";

// Wine carries out delayed deletions at its next start: whatever a test
// schedules is taken back before the session ends.
class PendingRenamesGuard {
  public:
    PendingRenamesGuard()
        : saved_(
              read_value(session_manager_key, "PendingFileRenameOperations", HKEY_LOCAL_MACHINE)) {}
    ~PendingRenamesGuard() { restore(); }
    PendingRenamesGuard(const PendingRenamesGuard&) = delete;
    PendingRenamesGuard& operator=(const PendingRenamesGuard&) = delete;

    void restore() const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, session_manager_key, 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            return;
        if (saved_)
            RegSetValueExA(key, "PendingFileRenameOperations", 0, saved_->type, saved_->data.data(),
                           static_cast<DWORD>(saved_->data.size()));
        else
            RegDeleteValueA(key, "PendingFileRenameOperations");
        RegCloseKey(key);
    }

  private:
    std::optional<RegValue> saved_;
};

// The value as (source, target) pairs; an empty target means deletion.
inline std::vector<std::pair<std::string, std::string>> pending_renames() {
    std::vector<std::pair<std::string, std::string>> pairs;
    const auto value =
        read_value(session_manager_key, "PendingFileRenameOperations", HKEY_LOCAL_MACHINE);
    if (!value) return pairs;
    // Read through the ANSI function, so the strings arrive in the code page.
    std::vector<std::string> strings;
    std::string current;
    for (unsigned char c : value->data) {
        if (c == 0) {
            strings.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(c);
        }
    }
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i].empty()) break;  // the closing terminator
        pairs.emplace_back(strings[i], strings[i + 1]);
    }
    return pairs;
}

}  // namespace korvane::shell_test
