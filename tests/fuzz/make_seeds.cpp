// Writes the seed corpora: real archives from our writer (several entries,
// folders, each strength, empty files), their damaged forms, raw deflate
// streams with names for the crafted target, and command lines.
// Usage: make_seeds CORPUS_DIR
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/writer.h"
#include "fuzz_targets.h"
#include "tests/unit/archive_support.h"

namespace fs = std::filesystem;
using namespace korvane;

namespace {

using test::read_bytes;
using test::write_bytes;

std::string lock(const std::vector<fs::path>& inputs, const fs::path& out, const char* pw,
                 int level) {
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

// Archives whose directory lies, each from a real one of three or more
// entries: what the reader must refuse before it extracts anything.
std::vector<std::pair<std::string, std::string>> lying(const std::string& archive) {
    const std::string pk12("PK\x01\x02", 4);
    const std::size_t end = archive.size() - end_record_size;
    auto central = [&](const std::string& a, int k) {
        std::size_t at = a.find(pk12);
        while (k-- > 0) at = a.find(pk12, at + 4);
        return at;
    };
    auto bytes = [](std::string& a) { return reinterpret_cast<unsigned char*>(a.data()); };
    const std::size_t first = central(archive, 0), second = central(archive, 1);
    const std::uint32_t size =
        read_u32(reinterpret_cast<const unsigned char*>(archive.data()) + end + 12);
    std::vector<std::pair<std::string, std::string>> lies;

    std::string dropped = archive;
    dropped.erase(second, central(archive, 2) - second);
    put_u32(bytes(dropped) + dropped.size() - end_record_size + 12,
            size - static_cast<std::uint32_t>(central(archive, 2) - second));
    lies.emplace_back("lie-record-missing", dropped);

    std::string stray = archive;
    stray.replace(second, 4, "PK\x06\x06", 4);
    lies.emplace_back("lie-stray-zip64-signature", stray);

    // The ZIP64 end record counts one entry fewer, from the second record.
    std::string disagree = with_zip64_end(archive);
    const std::size_t end64 = disagree.find(std::string("PK\x06\x06", 4));
    std::string classic = archive.substr(end);
    disagree.replace(disagree.size() - end_record_size, end_record_size, classic);
    auto* z = bytes(disagree) + end64;
    put_u16(z + 24, static_cast<std::uint16_t>(read_u16(z + 24) - 1));
    put_u16(z + 32, static_cast<std::uint16_t>(read_u16(z + 32) - 1));
    put_u32(z + 40, static_cast<std::uint32_t>(end64 - second));
    put_u32(z + 48, static_cast<std::uint32_t>(second));
    lies.emplace_back("lie-end-records-disagree", disagree);

    // Twenty central records for the first entry's bytes.
    std::string overlapping = archive.substr(0, end);
    const std::string record = archive.substr(first, second - first);
    for (int i = 0; i < 19; ++i) overlapping += record;
    overlapping += archive.substr(end);
    auto* o = bytes(overlapping) + overlapping.size() - end_record_size;
    put_u16(o + 8, static_cast<std::uint16_t>(read_u16(o + 8) + 19));
    put_u16(o + 10, static_cast<std::uint16_t>(read_u16(o + 10) + 19));
    put_u32(o + 12, static_cast<std::uint32_t>(size + 19 * record.size()));
    lies.emplace_back("lie-overlapping-entries", overlapping);

    std::string claimed = archive;
    put_u32(bytes(claimed) + first + 24, 0x7FFFFFFF);
    lies.emplace_back("lie-size-in-directory", claimed);
    put_u32(bytes(claimed) + 22, 0x7FFFFFFF);
    lies.emplace_back("lie-size-in-both-headers", claimed);

    std::string renamed = archive;
    renamed[second + central_record_size] = 'X';
    lies.emplace_back("lie-central-name", renamed);

    lies.emplace_back("empty-archive", archive.substr(end, 4) + std::string(18, '\0'));
    return lies;
}

// An archive of the given entries, each a stored name and the file whose
// data it holds (none: a folder entry): names no lock of a file system would
// give, as hostile archives have them.
std::string named(const std::vector<std::pair<std::string, fs::path>>& entries,
                  const fs::path& out) {
    ArchiveWriter writer;
    test::JobCounters counters;
    const CryptJob job = counters.job({}, out.string(), fuzz::password);
    bool written = writer.open(out.string().c_str()) == result_ok;
    platform::FindData folder;
    folder.is_folder = true;
    for (const auto& [name, file] : entries) {
        if (!written) break;
        if (!file.empty()) {
            written = writer.add_file(file.string().c_str(), name.c_str(), job) == result_ok;
            continue;
        }
        EntryInfo entry;
        written = ArchiveWriter::describe_entry(name.c_str(), folder, job, entry) == result_ok &&
                  writer.add_folder(entry) == result_ok;
    }
    if (!written || writer.finish() != result_ok || writer.commit() != result_ok) {
        std::fprintf(stderr, "make_seeds: a named archive failed\n");
        std::exit(1);
    }
    return read_bytes(out);
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
    // Bytes that look random are stored, the text beside them deflated.
    write_bytes(work / "Mixed" / "noise.bin", test::noise(6000));
    write_bytes(work / "Mixed" / "notes.txt", test::text(6000));
    fs::create_directories(work / "Hollow" / "inner");

    std::vector<std::pair<std::string, std::string>> archives;
    for (int strength = 0; strength < 3; ++strength)
        archives.emplace_back("tree-strength" + std::to_string(strength + 1),
                              lock({work / "Tree"}, work / "t.cry", fuzz::passwords[strength], 6));
    const std::string level0 = lock({work / "single.txt"}, work / "s.cry", fuzz::password, 0);
    archives.emplace_back("single-level0", level0);
    archives.emplace_back("two-tops", lock({work / "Tree" / "sub", work / "single.txt"},
                                           work / "m.cry", fuzz::password, 9));
    archives.emplace_back("empty-folders",
                          lock({work / "Hollow"}, work / "h.cry", fuzz::password, 6));
    archives.emplace_back("stored-and-deflated",
                          lock({work / "Mixed"}, work / "x.cry", fuzz::password, 6));
    archives.emplace_back("tree-zip64-end", with_zip64_end(archives.front().second));
    std::vector<std::pair<std::string, std::string>> lies = lying(archives.front().second);
    // Names one file system keeps apart and another takes for one; a name
    // deeper than any path.
    const fs::path a = work / "Tree" / "a.txt", b = work / "Tree" / "sub" / "b.txt";
    lies.emplace_back("names-case-only", named({{"A.txt", a}, {"a.txt", b}}, work / "n.cry"));
    lies.emplace_back("names-trailing-dot-space",
                      named({{"x", a}, {"x.", b}, {"x ", a}, {"dir./f.txt", b}}, work / "n.cry"));
    lies.emplace_back("names-repeated",
                      named({{"f.txt", a}, {"d/", {}}, {"f.txt", b}}, work / "n.cry"));
    std::string deepest;
    for (int i = 0; i < 32767; ++i) deepest += "a/";
    lies.emplace_back("name-deepest", named({{deepest, {}}}, work / "n.cry"));

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
    for (const auto& [name, bytes] : lies) {
        for (const char* target : {"reader", "scan"}) write_bytes(corpus / target / name, bytes);
    }
    write_bytes(corpus / "reader" / "not-an-archive", "plain text, not an archive");
    write_bytes(corpus / "reader" / "single-level0-claiming-stored", claiming_stored(level0));

    const std::string text = read_bytes(work / "Tree" / "sub" / "b.txt") + "tail";
    for (const auto& [name, stream] : std::vector<std::pair<std::string, std::string>>{
             {"a.txt", test::raw_deflate("hello hello hello", 9)},
             {"dir/sub/file.bin", test::raw_deflate(text, 9)},
             {"../up.txt", test::raw_deflate("x", 9)},
             {"data after.txt", test::raw_deflate("the stream ends", 9) + "before the data"},
             {"x.", test::raw_deflate("a trailing dot", 9)},
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
