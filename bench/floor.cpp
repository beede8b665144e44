// The floor for the benchmark: only the work no encrypting archiver can
// avoid, in one process. Per file: read in 16384-byte blocks, raw deflate (or
// inflate), one PBKDF2-HMAC-SHA1 derivation (korvane's own, the fastest
// vetted one), AES in counter mode (ECB over little-endian counter blocks)
// and HMAC-SHA1 over the encrypted bytes with libgcrypt, zlib. Lock writes no
// archive; unlock creates each file (and its folders, each once), writes it
// and sets its modification time, as any extractor must.
//
//   floor lock LEVEL PASSWORD PATH...   files, and the regular files below folders
//   floor unlock PASSWORD ARCHIVE DEST  the entries of a .cry archive, under DEST
//
// Prints "entries N kdf_ms_per_entry X" on stdout (unlock adds "inflate_ms
// M", the time spent in inflate alone); exits non-zero on any
// failure (a failed authentication included).
#include <gcrypt.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/cipher/key_derivation.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t block = 16384;
constexpr unsigned iterations = 1000;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct CipherCloser {
    void operator()(gcry_cipher_hd_t h) const { gcry_cipher_close(h); }
};
struct MdCloser {
    void operator()(gcry_md_hd_t h) const { gcry_md_close(h); }
};

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "floor: %s\n", what);
    std::exit(1);
}

std::uint16_t u16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t u32(const unsigned char* p) {
    return u16(p) | std::uint32_t{u16(p + 2)} << 16;
}

// One entry's cipher state; the handles live for the whole run, as an
// archiver would keep them.
class Crypt {
  public:
    explicit Crypt(const std::string& password) : password_(password) {
        gcry_cipher_hd_t c = nullptr;
        gcry_md_hd_t m = nullptr;
        if (gcry_cipher_open(&c, GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_ECB, 0) ||
            gcry_md_open(&m, GCRY_MD_SHA1, GCRY_MD_FLAG_HMAC))
            die("no cipher handles");
        aes_.reset(c);
        hmac_.reset(m);
    }

    // Derives the keys; returns the 2-byte verifier.
    std::uint16_t start(const unsigned char* salt) {
        unsigned char keys[34];
        const auto t0 = Clock::now();
        if (!korvane::pbkdf2_sha1(reinterpret_cast<const unsigned char*>(password_.data()),
                                  password_.size(), salt, 8, iterations, keys, sizeof keys))
            die("key derivation failed");
        kdf_seconds += std::chrono::duration<double>(Clock::now() - t0).count();
        if (gcry_cipher_setkey(aes_.get(), keys, 16) || gcry_md_setkey(hmac_.get(), keys + 16, 16))
            die("setkey failed");
        counter_ = 0;
        used_ = 16;
        return u16(keys + 32);
    }

    void encrypt(unsigned char* data, std::size_t n) {
        crypt(data, n);
        gcry_md_write(hmac_.get(), data, n);
    }
    void decrypt(unsigned char* data, std::size_t n) {
        gcry_md_write(hmac_.get(), data, n);
        crypt(data, n);
    }
    const unsigned char* code() { return gcry_md_read(hmac_.get(), GCRY_MD_SHA1); }
    void reset_mac() { gcry_md_reset(hmac_.get()); }

    double kdf_seconds = 0;

  private:
    // Counter blocks for the whole piece in one ECB call.
    void crypt(unsigned char* data, std::size_t n) {
        std::size_t at = 0;
        while (at < n && used_ < 16) data[at++] ^= pad_[used_++];
        const std::size_t blocks = (n - at + 15) / 16;
        if (blocks == 0) return;
        for (std::size_t b = 0; b < blocks; ++b) {
            ++counter_;
            std::memset(stream_ + 16 * b, 0, 16);
            for (int i = 0; i < 8; ++i)
                stream_[16 * b + i] = static_cast<unsigned char>(counter_ >> (8 * i));
        }
        if (gcry_cipher_encrypt(aes_.get(), stream_, 16 * blocks, nullptr, 0)) die("AES failed");
        const std::size_t rest = n - at;
        for (std::size_t i = 0; i < rest; ++i) data[at + i] ^= stream_[i];
        // The unused end of the last block serves the next piece.
        std::memcpy(pad_, stream_ + 16 * (blocks - 1), 16);
        used_ = rest - 16 * (blocks - 1);
    }

    std::string password_;
    std::unique_ptr<gcry_cipher_handle, CipherCloser> aes_;
    std::unique_ptr<gcry_md_handle, MdCloser> hmac_;
    std::uint64_t counter_ = 0;
    unsigned char stream_[block + 16];
    unsigned char pad_[16];
    std::size_t used_ = 16;
};

int lock(int level, const std::string& password, const std::vector<std::string>& roots) {
    std::vector<fs::path> files;
    for (const auto& root : roots) {
        if (fs::is_directory(fs::symlink_status(root))) {
            for (const auto& e : fs::recursive_directory_iterator(root))
                if (e.is_regular_file() && !e.is_symlink()) files.push_back(e.path());
        } else {
            files.push_back(root);
        }
    }
    Crypt crypt(password);
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) die("deflate");
    std::vector<unsigned char> in(block), out(block);
    for (const fs::path& path : files) {
        FilePtr f(std::fopen(path.c_str(), "rb"));
        if (!f) die("cannot open an input");
        unsigned char salt[8];
        gcry_create_nonce(salt, sizeof salt);
        crypt.start(salt);
        crypt.reset_mac();
        deflateReset(&z);
        bool finishing = false;
        z.next_out = out.data();
        z.avail_out = block;
        for (;;) {
            if (!finishing && z.avail_in == 0) {
                const std::size_t got = std::fread(in.data(), 1, block, f.get());
                if (std::ferror(f.get())) die("read failed");
                z.next_in = in.data();
                z.avail_in = static_cast<uInt>(got);
                finishing = got < block;
            }
            const int status = deflate(&z, finishing ? Z_FINISH : Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END) die("deflate failed");
            if (z.avail_out == 0 || status == Z_STREAM_END) {
                crypt.encrypt(out.data(), block - z.avail_out);
                z.next_out = out.data();
                z.avail_out = block;
            }
            if (status == Z_STREAM_END) break;
        }
        if (!crypt.code()) die("no code");
    }
    deflateEnd(&z);
    std::printf("entries %zu kdf_ms_per_entry %.4f\n", files.size(),
                files.empty() ? 0.0 : 1000 * crypt.kdf_seconds / files.size());
    return 0;
}

// The place of an entry's file below dest, its folders made once each.
class Destination {
  public:
    explicit Destination(const std::string& dest) : dest_(dest) {}

    fs::path file(const std::string& name) {
        if (name.empty() || name.front() == '/' || name.back() == '/' ||
            name.find("..") != std::string::npos)
            die("an entry name the floor does not take");
        const fs::path path = dest_ / name;
        const fs::path folder = path.parent_path();
        if (made_.insert(folder.native()).second) fs::create_directories(folder);
        return path;
    }

  private:
    fs::path dest_;
    std::unordered_set<std::string> made_;
};

int unlock(const std::string& password, const std::string& archive, const std::string& dest) {
    FilePtr f(std::fopen(archive.c_str(), "rb"));
    if (!f) die("cannot open the archive");
    Crypt crypt(password);
    Destination destination(dest);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) die("inflate");
    std::vector<unsigned char> in(block), out(block);
    std::string name;
    std::size_t entries = 0;
    Clock::duration inflating{};  // inflate alone, the bar a threaded unlock is held to
    for (;;) {
        unsigned char h[30];
        if (std::fread(h, 1, 30, f.get()) != 30) die("truncated archive");
        if (u32(h) != 0x04034B50) break;  // the central directory
        const std::uint32_t compressed = u32(h + 18);
        // Name and extra field are read, not skipped: a seek would drop the
        // stream's buffer.
        name.resize(u16(h + 26) + u16(h + 28));
        if (std::fread(name.data(), 1, name.size(), f.get()) != name.size())
            die("truncated header");
        name.resize(u16(h + 26));
        const fs::path path = destination.file(name);
        FilePtr file(korvane::platform::create_new_file(path.c_str()));
        if (!file) die("cannot create a file");

        unsigned char salt[8], verifier[2];
        if (std::fread(salt, 1, 8, f.get()) != 8 || std::fread(verifier, 1, 2, f.get()) != 2)
            die("truncated entry");
        if (crypt.start(salt) != u16(verifier)) die("wrong password");
        crypt.reset_mac();
        inflateReset(&z);
        std::uint32_t remaining = compressed - 20;
        int status = Z_OK;
        while (remaining > 0) {
            const std::size_t piece = remaining < block ? remaining : block;
            if (std::fread(in.data(), 1, piece, f.get()) != piece) die("truncated stream");
            remaining -= static_cast<std::uint32_t>(piece);
            crypt.decrypt(in.data(), piece);
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(piece);
            do {
                z.next_out = out.data();
                z.avail_out = block;
                const auto start = Clock::now();
                status = inflate(&z, Z_NO_FLUSH);
                inflating += Clock::now() - start;
                if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                    die("inflate failed");
                const std::size_t produced = block - z.avail_out;
                if (std::fwrite(out.data(), 1, produced, file.get()) != produced)
                    die("write failed");
            } while (z.avail_out == 0 && status != Z_STREAM_END);
        }
        if (status != Z_STREAM_END) die("stream did not end");
        unsigned char code[10];
        if (std::fread(code, 1, 10, f.get()) != 10 || std::memcmp(code, crypt.code(), 10) != 0)
            die("authentication failed");
        if (std::fclose(file.release()) != 0) die("write failed");
        const korvane::platform::DosTime when{u16(h + 10), u16(h + 12)};
        if (!korvane::platform::set_file_times(path.c_str(),
                                               korvane::platform::to_local_time(when)))
            die("cannot set a file time");
        ++entries;
    }
    inflateEnd(&z);
    std::printf("entries %zu kdf_ms_per_entry %.4f inflate_ms %.1f\n", entries,
                entries == 0 ? 0.0 : 1000 * crypt.kdf_seconds / entries,
                std::chrono::duration<double, std::milli>(inflating).count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!gcry_check_version(GCRYPT_VERSION)) die("libgcrypt mismatch");
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "lock" && argc >= 5)
            return lock(std::atoi(argv[2]), argv[3],
                        std::vector<std::string>(argv + 4, argv + argc));
        if (command == "unlock" && argc == 5) return unlock(argv[2], argv[3], argv[4]);
    } catch (const std::exception& e) {
        die(e.what());
    }
    std::fprintf(stderr,
                 "usage: floor lock LEVEL PASSWORD PATH... | floor unlock PASSWORD ARCHIVE DEST\n");
    return 64;
}
