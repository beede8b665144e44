// The release zip as a user gets it: packed from this build by the release
// packer, unpacked by another tool. Every program in it carries the configured
// version, korvane-cli reports it, and korvane.exe starts from the unpacked
// folder, shows its window and the same version in its About box.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "e2e/e2e_support.h"
#include "resources/resource_ids.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

struct VersionResource {
    bool found = false;
    std::string fixed_file, fixed_product;  // "1.2.3.0" from VS_FIXEDFILEINFO
    std::string file, product, original_name;
};

std::string dotted(DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
           std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

std::string string_value(const std::vector<BYTE>& data, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(data.data(), key.c_str(), &value, &length) || length == 0) return {};
    return static_cast<const char*>(value);
}

VersionResource read_version(const std::string& path) {
    VersionResource version;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return version;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return version;
    void* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return version;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    version.found = true;
    version.fixed_file = dotted(info->dwFileVersionMS, info->dwFileVersionLS);
    version.fixed_product = dotted(info->dwProductVersionMS, info->dwProductVersionLS);
    version.file = string_value(data, "FileVersion");
    version.product = string_value(data, "ProductVersion");
    version.original_name = string_value(data, "OriginalFilename");
    return version;
}

std::vector<std::string> unpacked_handlers() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    const HANDLE search =
        FindFirstFileA(test::beside_tests("release/unpacked/kvnmenu*.dll").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.emplace_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

const std::string version = KORVANE_VERSION_TEXT;
// The tests are built with the programs they check, so they share their width.
const std::string width = sizeof(void*) == 8 ? "64-bit" : "32-bit";
const std::string zip_arch = sizeof(void*) == 8 ? "x64" : "x86";

TEST(ReleaseZip, CarriesTheConfiguredVersionInNameResourcesAndCli) {
    const std::string zip = "release/korvane-file-" + version + "-windows-" + zip_arch + ".zip";
    EXPECT_NE(GetFileAttributesA(test::beside_tests(zip).c_str()), INVALID_FILE_ATTRIBUTES) << zip;

    std::vector<std::string> files = {"korvane.exe", "korvane-cli.exe"};
    const std::vector<std::string> handlers = unpacked_handlers();
    EXPECT_EQ(handlers, (std::vector<std::string>{"kvnmenu.dll", "kvnmenu64.dll"}));
    files.insert(files.end(), handlers.begin(), handlers.end());
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        const VersionResource resource =
            read_version(test::beside_tests("release/unpacked/" + name));
        ASSERT_TRUE(resource.found);
        EXPECT_EQ(resource.fixed_file, version + ".0");
        EXPECT_EQ(resource.fixed_product, version + ".0");
        EXPECT_EQ(resource.file, version);
        EXPECT_EQ(resource.product, version);
        // Each file carries its own resource, not one borrowed from another.
        EXPECT_EQ(resource.original_name, name);
    }

    test::TempFolder temp;
    const test::CliResult cli = test::run_cli({"--version"}, temp.path());
    EXPECT_EQ(cli.status, 0);
    EXPECT_EQ(cli.out, "korvane-cli " + version + " (" + width + ")\n");
}

TEST(ReleaseZip, KorvaneStartsFromTheUnpackedFolderAndShowsItsVersion) {
    test::ProductProcess product(test::product_path(), "");
    ASSERT_TRUE(product.started()) << test::product_path();
    const HWND window = product.wait_for_window("Korvane File");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(test::control_text(window, IDC_HEADING),
              "Select the file for Encryption /Decryption");

    PostMessageA(window, WM_SYSCOMMAND, ID_VERSION_INFORMATION, 0);
    const HWND about = product.wait_for_window("Version Information");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(test::control_text(about, IDC_VERSION_LINE), "Korvane File  Version " + version + " (" + width + ")");
    test::press_button(about, IDOK);
    EXPECT_TRUE(test::wait_until_gone(about));

    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(product.wait_for_exit(30000), 0);
}

}  // namespace
}  // namespace korvane
