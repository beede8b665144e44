// Writes the seed corpora: real archives from our writer (several entries,
// folders, each strength, empty files), their damaged forms, raw deflate
// streams with names for the crafted target, and command lines.
// Usage: make_seeds CORPUS_DIR
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_targets.h"
#include "tests/unit/archive_support.h"

namespace fs = std::filesystem;
using namespace korvane;

namespace {

using test::read_bytes;
using test::write_bytes;

std::string lock(const std::vector<fs::path>& inputs, const fs::path& out, const char* pw, int level) {
    std::vector<std::string> paths;
    for (const auto& i : inputs) paths.push_back(i.string());
    if (test::encrypt(paths, out, pw, level) != 0) {
        std::fprintf(stderr, "make_seeds: encryption failed\n");
        std::exit(1);
    }
    return read_bytes(out);
}

// The AE field's actual method set to stored in both headers: the deflate
// blocks' own headers would pass for file content if the size went unchecked.
std::string claiming_stored(std::string archive) {
    auto* p = reinterpret_cast<unsigned char*>(archive.data());
    const std::size_t central = archive.find(std::string("PK\x01\x02", 4));
    for (const std::size_t field : {local_header_size + read_u16(p + 26),
                                    central + central_record_size + read_u16(p + central + 28)})
        put_u16(p + field + 9, method_stored);
    return archive;
}

// The same archive with its end record's values in a ZIP64 end record and
// locator, the end record holding only markers: what a writer does past the
// 32-bit and 16-bit limits.
std::string with_zip64_end(const std::string& archive) {
    const std::size_t end = archive.size() - end_record_size;
    EndRecord e;
    if (!read_end_record(reinterpret_cast<const unsigned char*>(archive.data()) + end, e)) {
        std::fprintf(stderr, "make_seeds: no end record\n");
        std::exit(1);
    }
    unsigned char records[zip64_end_record_size + zip64_locator_size + end_record_size] = {};
    unsigned char* r = records;
    put_u32(r, zip64_end_record_signature);
    put_u32(r + 4, zip64_end_record_size - 12);
    put_u16(r + 12, version_needed_zip64);
    put_u16(r + 14, version_needed_zip64);
    put_u16(r + 24, e.entries);
    put_u16(r + 32, e.entries);
    put_u32(r + 40, e.directory_size);
    put_u32(r + 48, e.directory_offset);
    unsigned char* l = r + zip64_end_record_size;
    put_u32(l, zip64_locator_signature);
    put_u32(l + 8, static_cast<std::uint32_t>(end));
    put_u32(l + 16, 1);
    unsigned char* x = l + zip64_locator_size;
    put_u32(x, end_record_signature);
    put_u16(x + 8, zip64_count_marker);
    put_u16(x + 10, zip64_count_marker);
    put_u32(x + 12, zip64_marker);
    put_u32(x + 16, zip64_marker);
    return archive.substr(0, end) + std::string(reinterpret_cast<char*>(records), sizeof records);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR\n");
        return 64;
    }
    const fs::path corpus = argv[1];
    const fs::path work = fs::temp_directory_path() / "korvane-seeds";
    fs::remove_all(work);
    write_bytes(work / "Tree" / "a.txt", "alpha alpha alpha\n");
    write_bytes(work / "Tree" / "empty.txt", "");
    write_bytes(work / "Tree" / "sub" / "b.txt", std::string(3000, 'b'));
    write_bytes(work / "single.txt", "one file on its own");
    fs::create_directories(work / "Hollow" / "inner");

    std::vector<std::pair<std::string, std::string>> archives;
    for (int strength = 0; strength < 3; ++strength)
        archives.emplace_back("tree-strength" + std::to_string(strength + 1),
                              lock({work / "Tree"}, work / "t.cry", fuzz::passwords[strength], 6));
    const std::string level0 = lock({work / "single.txt"}, work / "s.cry", fuzz::password, 0);
    archives.emplace_back("single-level0", level0);
    archives.emplace_back("two-tops", lock({work / "Tree" / "sub", work / "single.txt"}, work / "m.cry",
                                           fuzz::password, 9));
    archives.emplace_back("empty-folders", lock({work / "Hollow"}, work / "h.cry", fuzz::password, 6));
    archives.emplace_back("tree-zip64-end", with_zip64_end(archives.front().second));

    for (const auto& [name, bytes] : archives) {
        for (const char* target : {"reader", "scan"}) {
            const fs::path dir = corpus / target;
            write_bytes(dir / name, bytes);
            write_bytes(dir / (name + "-cut"), bytes.substr(0, bytes.size() / 2));
            std::string flipped = bytes;
            if (flipped.size() > 60) flipped[60] = static_cast<char>(flipped[60] ^ 0x20);
            write_bytes(dir / (name + "-flipped"), flipped);
        }
    }
    write_bytes(corpus / "reader" / "not-an-archive", "plain text, not an archive");
    write_bytes(corpus / "reader" / "single-level0-claiming-stored", claiming_stored(level0));

    const std::string text = read_bytes(work / "Tree" / "sub" / "b.txt") + "tail";
    for (const auto& [name, stream] : std::vector<std::pair<std::string, std::string>>{
             {"a.txt", test::raw_deflate("hello hello hello", 9)},
             {"dir/sub/file.bin", test::raw_deflate(text, 9)},
             {"../up.txt", test::raw_deflate("x", 9)},
             {"stored", test::raw_deflate("", 9)}}) {
        write_bytes(corpus / "crafted" / ("seed-" + std::to_string(name.size())),
                    std::string(1, static_cast<char>(name.size())) + name + stream);
    }

    int n = 0;
    for (const char* line : {"-c \"C:\\My Files\\a.txt\" D:\\b", "-d x.cry", "\"open", "-install",
                             "a\"b c  d", "- -x -V", ""})
        write_bytes(corpus / "command_line" / ("seed-" + std::to_string(n++)), line);
    fs::remove_all(work);
    return 0;
}
