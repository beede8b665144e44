// Restores the entries of ".cry" archives into a destination folder.
//
// A new file is made under its own name and removed again if its entry
// fails; a file that is already there is replaced only by a temporary file
// beside it whose authentication code matched, so a failing entry never
// damages it. Entries are decoded on several threads and finished in
// directory order: after a failure the destination holds what entry-by-entry
// extraction would have left.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/result_code.h"
#include "archive/stdio_file.h"
#include "engine/decode_state.h"
#include "platform/platform.h"

namespace korvane {

class CAesEnc;

// One entry as its central record describes it.
struct EntrySummary {
    std::string name;  // UTF-8 (decoded as the flags say), '/' separated, unchecked
    std::uint64_t size = 0;
    std::uint64_t compressed_size = 0;  // salt, verifier and code included
    platform::DosTime time;
    int strength = 0;          // 1, 2 or 3 from the AE extra field; 0 without one
    bool encrypted = false;    // general-purpose flag bit 0
    std::uint16_t method = 0;  // actual compression: the AE field's, else the header's
    int ae_version = 0;        // 1 (CRC kept) or 2 from the AE extra field; 0 without one
};

// How one entry's data is decoded. The defaults are those of our own
// archives: the password's length picks the key strength, the data is a
// deflate stream and only the authentication code is checked.
struct EntryCoding {
    int strength = 0;          // 1..3 from the AE extra field; 0: from the password
    std::uint16_t method = 8;  // 0 stored, 8 deflate, anything else fails with 5
    bool check_crc = false;    // AE-1 also keeps the CRC-32 of the plain data
    std::uint32_t crc = 0;
    // The uncompressed size the headers declare: the data must come to
    // exactly this many bytes, or decoding fails with 5. Unset only where the
    // caller has no headers.
    std::optional<std::uint64_t> size;
};

struct DirectoryEntry;
struct DirectoryLayout;
struct Extracted;

class CurrentItem;

// Each public call catches allocation failure itself and returns 13 for it.
class ArchiveReader {
  public:
    // Reads and checks one archive's directory (read_archive_directory),
    // then extracts every entry in central-directory order. The first
    // failure ends it; entries extracted before it stay.
    ResultCode extract_all(const char* archive_path, const char* destination, const char* password,
                           std::atomic<std::uint64_t>& processed, const std::atomic<bool>& cancel);

    // Threads for extract_all and test_all: 0 one per processor. One by
    // default.
    void set_workers(int workers) { workers_ = workers; }
    // The code page names without the UTF-8 flag are read in (932 for
    // Shift-JIS); 0, the default, as the platform reads them.
    void set_name_code_page(unsigned code_page) { name_code_page_ = code_page; }

    // Scans like extract_all and calls visit for every central record
    // instead of extracting; a non-zero result from visit ends the scan.
    ResultCode list_all(const char* archive_path,
                        const std::function<ResultCode(const EntrySummary&)>& visit);

    // Runs every check extract_all runs (names, password, inflate,
    // authentication) and writes nothing.
    ResultCode test_all(const char* archive_path, const char* password,
                        std::atomic<std::uint64_t>& processed, const std::atomic<bool>& cancel);

    // Decodes the entry data at the archive's current position into
    // output_path, or into nothing when output_path is nullptr. Public for
    // tests and peers' archives; extract_all is the normal way in.
    ResultCode decode_entry(const char* password, const char* output_path,
                            std::uint64_t compressed_size, std::atomic<std::uint64_t>& processed,
                            const std::atomic<bool>& cancel);
    ResultCode decode_entry(const char* password, const char* output_path,
                            std::uint64_t compressed_size, const EntryCoding& coding,
                            std::atomic<std::uint64_t>& processed, const std::atomic<bool>& cancel);

    // Why the last call failed, in words, where its code alone does not say
    // it (see ArchiveFault); empty after a success.
    const ArchiveFault& fault() const { return fault_; }

    // The archive that decode_entry reads from (set by extract_all).
    void attach(FilePtr archive) { state_.archive = std::move(archive); }

    // Called with an entry's index as a thread starts on it, before anything
    // is made for it: lets tests change the destination between entries.
    void set_entry_start(std::function<void(std::size_t)> hook) { entry_start_ = std::move(hook); }
    // Told each entry's name as extract_all waits for it, in directory order.
    void set_current_item(CurrentItem* current) { current_ = current; }

    // After extract_all failed: the link (symbolic link, junction) below the
    // destination that stood where the failed entry's file or folder goes,
    // or empty. Such a link is neither followed, which could write outside
    // the destination, nor replaced: the entry fails with 9 (its file) or 12
    // (a folder of its path).
    const std::string& link_in_the_way() const { return link_in_the_way_; }

  private:
    using Visit = std::function<ResultCode(const EntrySummary&)>;
    void begin(const char* password, std::atomic<std::uint64_t>& processed,
               const std::atomic<bool>& cancel);
    // The scan behind the three public calls; destination nullptr tests,
    // visit lists.
    ResultCode scan(const char* archive_path, const char* destination, const Visit* visit);
    // Extracts the entries in order on the worker threads.
    ResultCode extract_entries(const char* archive_path, const char* destination,
                               const DirectoryLayout& layout,
                               const std::vector<DirectoryEntry>& entries);

    DecodeState state_;
    std::function<void(std::size_t)> entry_start_;
    CurrentItem* current_ = nullptr;
    std::string link_in_the_way_;
    int workers_ = 1;
    unsigned name_code_page_ = 0;
    ArchiveFault fault_;
};

}  // namespace korvane
