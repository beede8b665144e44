// Writes the seed corpora: real archives from our writer (several entries,
// folders, each strength, empty files), their damaged forms, raw deflate
// streams with names for the crafted target, and command lines.
// Usage: make_seeds CORPUS_DIR
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/crypt_job.h"
#include "fuzz_targets.h"

namespace fs = std::filesystem;
using namespace korvane;

namespace {

void write(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string lock(const std::vector<fs::path>& inputs, const fs::path& out, const char* pw, int level) {
    std::vector<std::string> paths;
    for (const auto& i : inputs) paths.push_back(i.string());
    std::atomic<std::uint32_t> processed{0}, total{0};
    std::atomic<bool> cancel{false};
    CryptJob job(paths, out.string(), pw, level, processed, total, cancel);
    if (encrypt_worker(job) != 0) {
        std::fprintf(stderr, "make_seeds: encryption failed\n");
        std::exit(1);
    }
    return read(out);
}

std::string raw_deflate(const std::string& text) {
    std::string out(compressBound(text.size()) + 64, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
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
    write(work / "Tree" / "a.txt", "alpha alpha alpha\n");
    write(work / "Tree" / "empty.txt", "");
    write(work / "Tree" / "sub" / "b.txt", std::string(3000, 'b'));
    write(work / "single.txt", "one file on its own");
    fs::create_directories(work / "Hollow" / "inner");

    std::vector<std::pair<std::string, std::string>> archives;
    for (int strength = 0; strength < 3; ++strength)
        archives.emplace_back("tree-strength" + std::to_string(strength + 1),
                              lock({work / "Tree"}, work / "t.cry", fuzz::passwords[strength], 6));
    archives.emplace_back("single-level0", lock({work / "single.txt"}, work / "s.cry", fuzz::password, 0));
    archives.emplace_back("two-tops", lock({work / "Tree" / "sub", work / "single.txt"}, work / "m.cry",
                                           fuzz::password, 9));
    archives.emplace_back("empty-folders", lock({work / "Hollow"}, work / "h.cry", fuzz::password, 6));

    for (const auto& [name, bytes] : archives) {
        for (const char* target : {"reader", "scan"}) {
            const fs::path dir = corpus / target;
            write(dir / name, bytes);
            write(dir / (name + "-cut"), bytes.substr(0, bytes.size() / 2));
            std::string flipped = bytes;
            if (flipped.size() > 60) flipped[60] = static_cast<char>(flipped[60] ^ 0x20);
            write(dir / (name + "-flipped"), flipped);
        }
    }
    write(corpus / "reader" / "not-an-archive", "plain text, not an archive");

    const std::string text = read(work / "Tree" / "sub" / "b.txt") + "tail";
    for (const auto& [name, stream] : std::vector<std::pair<std::string, std::string>>{
             {"a.txt", raw_deflate("hello hello hello")},
             {"dir/sub/file.bin", raw_deflate(text)},
             {"../up.txt", raw_deflate("x")},
             {"stored", raw_deflate("")}}) {
        write(corpus / "crafted" / ("seed-" + std::to_string(name.size())),
              std::string(1, static_cast<char>(name.size())) + name + stream);
    }

    int n = 0;
    for (const char* line : {"-c \"C:\\My Files\\a.txt\" D:\\b", "-d x.cry", "\"open", "-install",
                             "a\"b c  d", "- -x -V", ""})
        write(corpus / "command_line" / ("seed-" + std::to_string(n++)), line);
    fs::remove_all(work);
    return 0;
}
