// The encryption job: size limits, skipped inputs, cancel and failures that
// must leave an earlier output file untouched.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "archive_support.h"
#include "engine/chunk_encoder.h"
#include "engine/task_pool.h"
#include "engine/temp_file.h"
#include "engine/writer.h"
#include "temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace korvane {
namespace {

using namespace test;

const unsigned char* bytes_of(const std::string& s, std::size_t at) {
    return reinterpret_cast<const unsigned char*>(s.data()) + at;
}

class Writer : public testing::Test {
  protected:
    TempFolder temp;
    fs::path dir() { return temp.path(); }

    void make_sparse(const fs::path& p, std::uintmax_t size) {
        write_bytes(p, "");
        fs::resize_file(p, size);
    }
    // Nothing but the given names may be left in the folder: no temporary
    // file survives a job.
    void expect_only(const std::vector<std::string>& names, const fs::path& folder = {}) {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(folder.empty() ? dir() : folder))
            found.push_back(e.path().filename().string());
        std::sort(found.begin(), found.end());
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }
};

TEST_F(Writer, InputsJustUnderTwoGigabytesAreAccepted) {
    make_sparse(dir() / "big", (1ull << 31) - 1);
    // Cancelled at its first block: the size pass let the job through.
    EXPECT_EQ(encrypt({(dir() / "big").string()}, dir() / "a.cry", "pw", 6, true),
              result_cancelled);
    expect_only({"big"});
}

// Past 4 GiB the sizes go to ZIP64 fields (the local header's is written
// before the data, so it holds both); the small entry beside it and the end
// record stay exactly as they always were.
TEST_F(Writer, FilesPastFourGigabytesGetZip64Sizes) {
    const std::uint64_t big = (1ull << 32) + 1;
    make_sparse(dir() / "big", big);
    write_bytes(dir() / "one", "x");
    JobCounters counters;
    CryptJob job = counters.job({(dir() / "big").string(), (dir() / "one").string()},
                                (dir() / "a.cry").string(), "pw", 1);
    ASSERT_EQ(encrypt_worker(job), result_ok);
    EXPECT_EQ(counters.total.load(), big + 1);
    EXPECT_EQ(counters.processed.load(), big + 1);
    const std::string a = read_bytes(dir() / "a.cry");
    auto u16_at = [&](std::size_t at) { return read_u16(bytes_of(a, at)); };
    auto u32_at = [&](std::size_t at) { return read_u32(bytes_of(a, at)); };
    auto u64_at = [&](std::size_t at) { return read_u64(bytes_of(a, at)); };
    const std::string ae_field(
        "\x01\x99\x07\x00\x02\x00"
        "AE\x01\x08\x00",
        11);

    // Local header: version 45, markers, the ZIP64 field, then the AE field.
    EXPECT_EQ(u16_at(4), 45);
    EXPECT_EQ(u32_at(18), 0xFFFFFFFFu);
    EXPECT_EQ(u32_at(22), 0xFFFFFFFFu);
    EXPECT_EQ(u16_at(28), 20 + 11);
    EXPECT_EQ(u16_at(33), 1);
    EXPECT_EQ(u16_at(35), 16);
    EXPECT_EQ(u64_at(37), big);
    const std::uint64_t compressed = u64_at(45);
    EXPECT_EQ(a.substr(53, 11), ae_field);
    const std::size_t second = 64 + static_cast<std::size_t>(compressed);
    ASSERT_LT(second, a.size());
    EXPECT_EQ(u32_at(second), local_header_signature);
    EXPECT_EQ(u16_at(second + 4), 20);
    EXPECT_EQ(u16_at(second + 28), 11);

    const std::size_t end = a.size() - end_record_size;
    ASSERT_EQ(u32_at(end), end_record_signature);
    EXPECT_EQ(u16_at(end + 10), 2);
    const std::size_t central = u32_at(end + 16);
    EXPECT_EQ(central + u32_at(end + 12), end);  // no ZIP64 end record between
    // The big entry's central record: only the size that does not fit is
    // in its ZIP64 field; the compressed size and the offset 0 fit.
    EXPECT_EQ(u16_at(central + 4), 45);
    EXPECT_EQ(u16_at(central + 6), 45);
    EXPECT_EQ(u32_at(central + 20), compressed);
    EXPECT_EQ(u32_at(central + 24), 0xFFFFFFFFu);
    EXPECT_EQ(u16_at(central + 30), 12 + 11);
    EXPECT_EQ(u32_at(central + 42), 0u);
    EXPECT_EQ(u16_at(central + 49), 1);
    EXPECT_EQ(u16_at(central + 51), 8);
    EXPECT_EQ(u64_at(central + 53), big);
    EXPECT_EQ(a.substr(central + 61, 11), ae_field);
    const std::size_t small = central + 72;
    EXPECT_EQ(u16_at(small + 6), 20);
    EXPECT_EQ(u16_at(small + 30), 11);
    EXPECT_EQ(u32_at(small + 42), second);

    std::atomic<std::uint64_t> processed{0};
    const std::atomic<bool> cancel{false};
    ArchiveReader reader;
    EXPECT_EQ(reader.test_all(utf8(dir() / "a.cry").c_str(), "pw", processed, cancel), result_ok);
}

// A file system that holds no file as large as the archive ends the job
// with its own code at the first byte past it, and nothing is left.
TEST_F(Writer, ArchiveOutgrowingTheFileSystemsLimitEndsWithNothingLeft) {
    write_bytes(dir() / "in" / "data.bin", noise(300000));
    const std::string input = (dir() / "in" / "data.bin").string();
    JobCounters counters;
    const CryptJob job = counters.job({}, "", "pw");
    auto lock = [&](std::uint64_t limit) {
        ArchiveWriter writer;
        EXPECT_EQ(writer.open((dir() / "a.cry").string().c_str()), result_ok);
        writer.set_file_limit(limit);
        ResultCode r = writer.add_file(input.c_str(), "data.bin", job);
        if (r == result_ok) r = writer.finish();
        if (r == result_ok) r = writer.commit();
        return r;
    };
    ASSERT_EQ(lock(UINT64_MAX), result_ok);
    const std::uint64_t size = fs::file_size(dir() / "a.cry");
    fs::remove(dir() / "a.cry");
    const struct {
        std::uint64_t limit;
        ResultCode expected;
    } cases[] = {
        {size, result_ok},
        {size - 1, result_file_system_limit},   // the end record's last byte
        {size - 23, result_file_system_limit},  // the central directory
        {1000, result_file_system_limit},       // the data
        {10, result_file_system_limit},         // the first header
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lock(c.limit), c.expected) << c.limit;
        expect_only(c.expected == result_ok ? std::vector<std::string>{"a.cry", "in"}
                                            : std::vector<std::string>{"in"});
        fs::remove(dir() / "a.cry");
    }
}

TEST_F(Writer, AMissingInputFailsTheJobAndNamesIt) {
    write_bytes(dir() / "real.txt", "content");
    const fs::path archive = dir() / "a.cry";
    for (const auto& inputs :
         {std::vector<std::string>{(dir() / "gone").string(), (dir() / "real.txt").string()},
          std::vector<std::string>{(dir() / "real.txt").string(), (dir() / "gone").string()}}) {
        std::atomic<std::uint64_t> processed{0}, total{0};
        std::atomic<bool> cancel{false};
        CryptJob job(inputs, archive.string(), "pw", 6, processed, total, cancel);
        EXPECT_EQ(encrypt_worker(job), result_input_missing);
        EXPECT_EQ(job.refused_path, (dir() / "gone").string());
        EXPECT_FALSE(fs::exists(archive));
    }
}

TEST_F(Writer, FailedOrCancelledJobLeavesAnEarlierOutputUntouched) {
    write_bytes(dir() / "data.txt", text(100000));
    // Files of one block each: cancel is tested after the last block too.
    for (int i = 0; i < 300; ++i)
        write_bytes(dir() / "small" / (std::string("f") += std::to_string(i)), noise(8000, i));
    const struct {
        const char* why;
        const char* input;
        int level;
        bool cancel;
        ResultCode expected;
    } cases[] = {
        {"cancel", "data.txt", 6, true, result_cancelled},
        {"cancel among small files", "small", 6, true, result_cancelled},
        {"level zlib refuses", "data.txt", 42, false, result_compression_error},
    };
    for (const auto& c : cases) {
        for (int workers : {1, 4}) {
            write_bytes(dir() / "out.cry", "earlier archive");
            EXPECT_EQ(encrypt({(dir() / c.input).string()}, dir() / "out.cry", "pw", c.level,
                              c.cancel, workers),
                      c.expected)
                << c.why << ", " << workers << " threads";
            EXPECT_EQ(read_bytes(dir() / "out.cry"), "earlier archive") << c.why;
            expect_only({"data.txt", "small", "out.cry"});
        }
    }
}

TEST_F(Writer, DiscardSparesAFileAnotherProgramRenamedOverTheTemporaryOne) {
    ArchiveWriter writer;
    ASSERT_EQ(writer.open((dir() / "out.cry").string().c_str()), result_ok);
    ASSERT_EQ(writer.finish(), result_ok);  // closed, as a program would find it
    const std::string temp = writer.temp_path();
    write_bytes(dir() / "theirs", "another program's file");
    ASSERT_TRUE(platform::replace_file((dir() / "theirs").string().c_str(), temp.c_str()));
    writer.discard();
    EXPECT_EQ(read_bytes(temp), "another program's file");
}

TEST_F(Writer, CancelWithoutEarlierOutputLeavesNoArchive) {
    write_bytes(dir() / "data.bin", noise(200000));
    EXPECT_EQ(encrypt({(dir() / "data.bin").string()}, dir() / "out.cry", "pw", 6, true),
              result_cancelled);
    expect_only({"data.bin"});
}

TEST_F(Writer, SuccessReplacesAnEarlierOutput) {
    write_bytes(dir() / "data.txt", "new content");
    write_bytes(dir() / "out.cry", "earlier archive");
    ASSERT_EQ(encrypt({(dir() / "data.txt").string()}, dir() / "out.cry", "pw"), result_ok);
    EXPECT_EQ(entry_count(dir() / "out.cry"), 1u);
    expect_only({"data.txt", "out.cry"});
}

TEST_F(Writer, MissingOutputFolderGivesOpenFailure) {
    write_bytes(dir() / "data.txt", "x");
    EXPECT_EQ(encrypt({(dir() / "data.txt").string()}, dir() / "no" / "such" / "out.cry", "pw"),
              result_open_output_failed);
}

TEST_F(Writer, FolderInputsAreStoredUnderTheFolderName) {
    write_bytes(dir() / "Reports" / "a.txt", "a");
    write_bytes(dir() / "Reports" / "sub" / "b.txt", "b");
    fs::create_directories(dir() / "Reports" / "empty");
    const fs::path archive = dir() / "r.cry";
    // A trailing separator names the same folder.
    const std::string input = (dir() / "Reports").string() + platform::separator;
    ASSERT_EQ(encrypt({input}, archive, "pw"), result_ok);
    const std::string a = read_bytes(archive);
    EXPECT_NE(a.find("Reports/a.txt"), std::string::npos);
    EXPECT_NE(a.find("Reports/sub/b.txt"), std::string::npos);
    EXPECT_NE(a.find("Reports/empty/"), std::string::npos);
    EXPECT_EQ(entry_count(archive), 3u);
}

// Neither the earlier output nor the temporary file beside it is read into
// the archive, however the input spells the folder: a growing temporary file
// read into itself never ends.
TEST_F(Writer, OutputInsideTheInputFolderIsNotTakenAsInput) {
    const fs::path src = dir() / "Source folder";
    write_bytes(src / "a.txt", text(50000));
#ifdef _WIN32
    char short_src[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(src.string().c_str(), short_src, MAX_PATH), 0u);
    ASSERT_NE(src.string(), short_src);
#else
    ASSERT_EQ(symlink(src.c_str(), (dir() / "link").c_str()), 0);
#endif
    const struct {
        const char* why;
        std::string input;
        fs::path output;
    } cases[] = {
        {"same spelling", src.string(), src / "out.cry"},
#ifdef _WIN32
        {"another case", (dir() / "SOURCE FOLDER").string(), src / "out.cry"},
        {"output in another case", src.string(), dir() / "source FOLDER" / "OUT.cry"},
        {"short name", short_src, src / "out.cry"},
#else
        {"through a folder link", (dir() / "link").string(), src / "out.cry"},
        {"output through a folder link", src.string(), dir() / "link" / "out.cry"},
#endif
    };
    for (const auto& c : cases) {
        write_bytes(c.output, "earlier");
        ASSERT_EQ(encrypt({c.input}, c.output, "pw"), result_ok) << c.why;
        EXPECT_EQ(entry_count(c.output), 1u) << c.why;
        SCOPED_TRACE(c.why);
        expect_only({"a.txt", c.output.filename().string()}, c.output.parent_path());
        fs::remove(c.output);
    }
}

// Every target the file system takes has a temporary file beside it: its name
// is never longer than the target's, in bytes or in characters.
TEST_F(Writer, TemporaryNamesAreNeverLongerThanTheTarget) {
#ifdef _WIN32
    const std::size_t longest = 259 - dir().string().size() - 1;  // the whole path counts
#else
    const std::size_t longest = 255;
#endif
    const struct {
        const char* why;
        std::string name;
        std::size_t temp_length;
    } cases[] = {
        {"one character", "a", 1},
        {"short", "ab.c", 4},
        {"eleven", "abcdefg.cry", 8},
        {"twelve: room for .tmp", "Quarterl.cry", 12},
        {"the longest name", std::string(longest, 'n'), 12},
#ifndef _WIN32
        {"characters, not bytes", "\xE8\xA1\xA8\xE8\xA1\xA8.c", 4},
#endif
    };
    for (const auto& c : cases) {
        const std::string target = (dir() / c.name).string();
        std::string temp;
        FilePtr file = create_temp_beside(target, temp);
        ASSERT_TRUE(file) << c.why;
        file.reset();
        const fs::path made(temp);
        EXPECT_TRUE(fs::is_regular_file(made)) << c.why;
        EXPECT_EQ(made.parent_path(), dir()) << c.why;
        const std::string name = made.filename().string();
        EXPECT_EQ(name.size(), c.temp_length) << c.why << ": " << name;
        EXPECT_EQ(name.find(".tmp") != std::string::npos, c.temp_length == 12) << c.why;
        fs::remove(made);
    }

    // A one-character name among all sixteen one-digit names: the target
    // itself is written, only while it does not exist, and never left half;
    // an earlier target is kept and replaced only by a finished archive.
    std::vector<std::string> digits;
    for (const char d : std::string("0123456789abcdef")) {
        digits.emplace_back(1, d);
        write_bytes(dir() / digits.back(), d == '0' ? noise(200000) : "keep");  // "0": cancellable
    }
    const std::string z = (dir() / "z").string();
    std::string temp;
    ASSERT_TRUE(create_temp_beside(z, temp));
    EXPECT_EQ(temp, z);
    fs::remove(z);
    EXPECT_EQ(encrypt({(dir() / "0").string()}, z, "pw", 6, true), result_cancelled);
    expect_only(digits);
    digits.push_back("z");
    write_bytes(z, "earlier");
    EXPECT_EQ(encrypt({(dir() / "0").string()}, z, "pw", 6, true), result_cancelled);
    EXPECT_EQ(read_bytes(z), "earlier");
    expect_only(digits);
    ASSERT_EQ(encrypt({(dir() / "0").string()}, z, "pw"), result_ok);
    EXPECT_EQ(entry_count(z), 1u);
    expect_only(digits);
}

#ifndef _WIN32
TEST_F(Writer, ReadErrorIsAFailureNotATruncatedEntry) {
    // The kernel refuses reads of this file's first page: fopen works, fread fails.
    JobCounters c;
    CryptJob job = c.job({"/proc/self/mem"}, utf8(dir() / "out.cry"), "pw");
    EXPECT_EQ(encrypt_worker(job), result_read_failed);
    EXPECT_EQ(job.refused_path, "/proc/self/mem");  // named, as a folder that cannot be listed
    expect_only({});
}
#endif

#ifndef _WIN32
TEST_F(Writer, FailureInALaterEntryLeavesNoArchiveWithAnyNumberOfThreads) {
    // Entry 6 of 12 cannot be read; the others, several chunks among them,
    // are ahead of it on other threads or behind it.
    std::vector<std::string> inputs, names;
    for (int i = 0; i < 12; ++i) {
        const std::string name = std::string("in") += std::to_string(i);
        write_bytes(dir() / name, i % 3 ? text(20000 * i) : noise(300000, i));
        inputs.push_back((dir() / name).string());
        names.push_back(name);
    }
    inputs[6] = "/proc/self/mem";
    names.push_back("out.cry");
    for (int workers : {1, 4}) {
        write_bytes(dir() / "out.cry", "earlier archive");
        EXPECT_EQ(encrypt(inputs, dir() / "out.cry", "pw", 6, false, workers), result_read_failed)
            << workers;
        EXPECT_EQ(read_bytes(dir() / "out.cry"), "earlier archive") << workers;
        expect_only(names);
    }
}
#endif

TEST_F(Writer, ChunksMakeOneDeflateStreamAsSmallAsOne) {
    // Several chunks of text, whose matches reach across the chunk borders,
    // then noise, whose whole chunk is stored, then text again, deflated with
    // the noise before it as its dictionary, with a short last chunk.
    const std::string content = text(3 * deflate_chunk_size + 5000) +
                                noise(2 * deflate_chunk_size) + text(deflate_chunk_size);
    write_bytes(dir() / "big", content);
    JobCounters c;
    const CryptJob job = c.job({}, "", "pw");
    ChunkWork work{(dir() / "big").string(), content.size(), 0, chunk_count(content.size())};
    ASSERT_EQ(work.chunks, 7u);
    ChunkScratch scratch;
    std::string stream;
    for (; work.chunk < work.chunks; ++work.chunk) {
        ChunkResult piece;
        encode_chunk(job, work, scratch, GiveUp{}, piece);
        ASSERT_EQ(piece.result, result_ok) << work.chunk;
        EXPECT_EQ(piece.aes != nullptr, work.chunk == 0);
        // Five stored blocks of at most 65535 bytes.
        if (work.chunk == 4) {
            EXPECT_EQ(piece.deflated.size(), deflate_chunk_size + 5 * 5);
        }
        stream.append(piece.deflated.begin(), piece.deflated.end());
    }
    EXPECT_EQ(c.processed.load(), content.size());

    // Plain zlib inflates it in one go.
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string back(content.size() + 1, '\0');
    z.next_in = reinterpret_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(back.data());
    z.avail_out = static_cast<uInt>(back.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u);
    back.resize(back.size() - z.avail_out);
    inflateEnd(&z);
    EXPECT_TRUE(back == content);

    // Within 1 % of one stream over the whole file.
    z_stream d{};
    ASSERT_EQ(deflateInit2(&d, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string one(deflateBound(&d, static_cast<uLong>(content.size())), '\0');
    d.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    d.avail_in = static_cast<uInt>(content.size());
    d.next_out = reinterpret_cast<Bytef*>(one.data());
    d.avail_out = static_cast<uInt>(one.size());
    ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
    const std::size_t single = one.size() - d.avail_out;
    deflateEnd(&d);
    EXPECT_LE(stream.size(), single + single / 100) << single;
}

// A file that grows or shrinks between the walk and its reading: the entry
// holds exactly the size the walk found and its header says (what was
// appended since is not read, so memory stays bounded), or the job fails
// when the file no longer has those bytes.
TEST_F(Writer, EntriesHoldExactlyTheSizeTheWalkFound) {
    const struct {
        std::uint64_t walked, now;
        ResultCode expected;
    } cases[] = {
        {100000, 3 * deflate_chunk_size, result_ok},
        {deflate_chunk_size + 7, 4 * deflate_chunk_size, result_ok},
        {0, 5000, result_ok},
        {2 * deflate_chunk_size, deflate_chunk_size + 10, result_read_failed},
        {100000, 99999, result_read_failed},
    };
    for (const auto& c : cases) {
        const std::string content = noise(static_cast<std::size_t>(c.now));
        const fs::path source = dir() / "changing.bin";
        write_bytes(source, content);
        ArchiveWriter writer;
        ASSERT_EQ(writer.open((dir() / "g.cry").string().c_str()), result_ok);
        JobCounters counters;
        const CryptJob job = counters.job({}, "", "pw");
        platform::FindData found;
        ASSERT_TRUE(platform::find_path(source.string().c_str(), found));
        found.size = c.walked;
        EntryInfo entry;
        ASSERT_EQ(ArchiveWriter::describe_entry("changing.bin", found, job, entry), result_ok);
        ChunkWork work{source.string(), c.walked, 0, chunk_count(c.walked)};
        ChunkScratch scratch;
        ResultCode r = result_ok;
        for (; r == result_ok && work.chunk < work.chunks; ++work.chunk) {
            ChunkResult piece;
            encode_chunk(job, work, scratch, GiveUp{}, piece);
            r = piece.result;
            if (r == result_ok) r = writer.add_chunk(entry, work.chunk, work.chunks, piece);
        }
        EXPECT_EQ(r, c.expected) << c.walked << " of " << c.now;
        if (r != result_ok) continue;
        EXPECT_EQ(counters.processed.load(), c.walked);
        ASSERT_EQ(writer.finish(), result_ok);
        ASSERT_EQ(writer.commit(), result_ok);
        const fs::path out = dir() / "out";
        fs::remove_all(out);
        ASSERT_EQ(decrypt(dir() / "g.cry", out, "pw"), result_ok) << c.walked << " of " << c.now;
        EXPECT_TRUE(read_bytes(out / "changing.bin") == content.substr(0, c.walked))
            << c.walked << " of " << c.now;
    }
}

// A task that throws must not leave the pool waiting for it forever: the
// exception becomes its code, and the tasks after it are given up on.
TEST(TaskPoolTest, AnExceptionBecomesTheTasksCode) {
    for (unsigned threads : {1u, 4u}) {
        TaskPool pool(threads, 8, [](std::size_t i, unsigned) -> ResultCode {
            if (i == 3) throw std::bad_alloc();
            if (i == 5) throw std::runtime_error("a fault");
            return i == 6 ? result_bad_data : result_ok;
        });
        pool.publish(8);
        const ResultCode expected[] = {0, 0, 0, 13, 0, 16, 2, 0};
        for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(pool.wait_for(i), expected[i]) << i;
        EXPECT_FALSE(pool.failures().given_up(3));
        EXPECT_TRUE(pool.failures().given_up(4));
    }
}

TEST_F(Writer, ProgressCountsEveryInputByte) {
    write_bytes(dir() / "a", noise(40000));
    write_bytes(dir() / "b", text(70000));
    JobCounters c;
    CryptJob job =
        c.job({(dir() / "a").string(), (dir() / "b").string()}, (dir() / "o.cry").string(), "pw");
    ASSERT_EQ(encrypt_worker(job), result_ok);
    EXPECT_EQ(c.total.load(), 110000u);
    EXPECT_EQ(c.processed.load(), 110000u);
}

}  // namespace
}  // namespace korvane
