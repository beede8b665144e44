#include "cli/commands.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "archive/paths.h"
#include "cli/console.h"
#include "cli/naming.h"
#include "cli/options.h"
#include "cli/password.h"
#include "cli/progress.h"
#include "engine/crypt_job.h"
#include "engine/reader.h"
#include "platform/platform.h"

#ifndef KORVANE_VERSION
#define KORVANE_VERSION "unknown"
#endif

namespace korvane::cli {

namespace {

constexpr std::uint32_t attribute_device = 0x40;

struct Counters {
    std::atomic<std::uint64_t> processed{0}, total{0};
    std::atomic<bool> cancel{false};
};

void say(const char* format, const std::string& path) {
    const int n = std::snprintf(nullptr, 0, format, path.c_str());
    if (n < 0) return;
    std::string line(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(line.data(), line.size(), format, path.c_str());
    line.pop_back();
    write_text(stderr, "korvane-cli: " + line + "\n");
}

// What the reader found wrong with an archive, naming the entry at fault
// where there is one: after the failure's own lines, which scripts match.
void say_fault(const ArchiveFault& fault) {
    std::string line = describe(fault);
    if (line.empty()) return;
    if (fault.name_unreadable)
        line += "; --name-code-page CP reads such names in the code page they were written in";
    say("%s", line);
}

// Runs work on one worker thread while this thread draws the counters. When
// no thread can start (a process limit), the work runs on this thread, without
// progress: the job needs no thread but its own.
ResultCode run_job(Counters& counters, bool show_progress,
                   const std::function<ResultCode()>& work) {
    const auto run = [&]() -> ResultCode {
        // The workers report through codes; nothing may escape a thread.
        try {
            return work();
        } catch (const std::bad_alloc&) {
            return result_out_of_memory;
        } catch (...) {
            return result_internal_error;
        }
    };
    std::promise<ResultCode> promise;
    std::future<ResultCode> result = promise.get_future();
    std::thread worker;
    try {
        worker = std::thread([&] { promise.set_value(run()); });
    } catch (const std::system_error&) {
        const ResultCode r = run();
        job_finished();
        return r;
    }
    {
        ProgressBar bar(show_progress);
        while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
            bar.update(counters.processed.load(), counters.total.load());
    }
    worker.join();
    job_finished();
    return result.get();
}

int report(const char* operation, ResultCode result, bool quiet) {
    if (result == result_ok) {
        if (!quiet) std::fprintf(stderr, "%s has completed successfully.\n", operation);
        return 0;
    }
    const char* text = result_message(result);
    std::fprintf(stderr, "%s has failed.\n%s\n", operation, text ? text : "");
    return result;
}

bool show_progress(const Options& options) {
    return !options.quiet && stderr_is_terminal();
}

void catch_interrupts_or_warn(Counters& counters) {
    if (!catch_interrupts(counters.cancel))
        std::fprintf(stderr, "korvane-cli: Ctrl-C cannot be caught; it will not clean up\n");
}

// 0 when path is an archive to read, else 66 after saying why.
int check_archive(const std::string& path, platform::FindData& found) {
    if (path.empty() || !platform::find_path(path.c_str(), found)) {
        say("cannot find '%s'", path);
        return exit_no_input;
    }
    if (found.is_folder || (found.attributes & attribute_device)) {
        say("'%s' is not an archive file", path);
        return exit_no_input;
    }
    return 0;
}

bool is_empty_folder(const std::string& path) {
    platform::FolderEnum entries(path.c_str());
    platform::FindData first;
    return !entries.next(first);
}

// The folder above path, by its spelling; empty at a root or a drive.
std::string folder_above(const std::string& path) {
    std::string parent(path.size() + 1, '\0');
    if (!parent_folder(path.c_str(), parent.data(), parent.size())) return std::string();
    parent.resize(std::char_traits<char>::length(parent.c_str()));
    return parent.find(platform::separator) == std::string::npos ? std::string() : parent;
}

// 0 unless the archive would replace one of its inputs, or a file an input
// folder holds (which the walk would take in); then 73 after saying which.
int refuse_output_among_inputs(const std::vector<std::string>& inputs, const std::string& output) {
    platform::FileIdentity archive;
    if (!platform::file_identity(output.c_str(), archive)) return 0;  // not there yet
    for (const std::string& input : inputs) {
        platform::FindData found;
        platform::FileIdentity identity;
        if (!platform::find_path(input.c_str(), found) ||
            !platform::file_identity(input.c_str(), identity))
            continue;
        if (!found.is_folder) {
            if (identity != archive) continue;
            say("'%s' is one of the inputs: the archive would replace it", output);
            return exit_cannot_create;
        }
        for (std::string folder = folder_above(full_path(output)); !folder.empty();
             folder = folder_above(folder)) {
            platform::FileIdentity holder;
            if (!platform::file_identity(folder.c_str(), holder) || holder != identity) continue;
            say("%s", "'" + output + "' lies in the input folder '" + input +
                          "': the archive would replace a file it stores");
            return exit_cannot_create;
        }
    }
    return 0;
}

int lock(const Options& options) {
    std::vector<std::string> inputs;
    for (const std::string& operand : options.operands) {
        const std::string path = without_trailing_separators(operand);
        platform::FindData found;
        if (path.empty() || !platform::find_path(path.c_str(), found)) {
            say("cannot find '%s'", operand);
            return exit_no_input;
        }
        // Reading a pipe or a device could wait forever.
        if (!found.is_folder && (found.attributes & attribute_device)) {
            say("'%s' is neither a file nor a folder", operand);
            return exit_no_input;
        }
        // The full path below would already have dropped what the system
        // drops, and named another file.
        if (!is_storable_input(path, windows_name_rules())) {
            say("'%s' cannot be stored under its own name: this system would read it back as "
                "another name",
                operand);
            return report("Encryption", result_bad_path, false);
        }
        inputs.push_back(path);
    }
    const std::string output =
        options.has_output ? options.output : default_archive_name(inputs.front());
    platform::FindData existing;
    if (platform::find_path(output.c_str(), existing)) {
        if (existing.is_folder) {
            say("'%s' is a folder", output);
            return exit_cannot_create;
        }
        if (!options.force) {
            say("'%s' already exists (-f replaces it)", output);
            return exit_cannot_create;
        }
        if (int r = refuse_output_among_inputs(inputs, output)) return r;
    }

    Counters counters;
    catch_interrupts_or_warn(counters);
    std::string password;
    if (int r = obtain_password(options, PasswordUse::lock, counters.cancel, password)) return r;

    // Full paths on both sides: the worker knows the archive it is writing
    // only by its spelling, and must not take it as an input of "." or "..".
    for (std::string& input : inputs) input = full_path(input);
    CryptJob job(std::move(inputs), full_path(output), std::move(password), options.level,
                 counters.processed, counters.total, counters.cancel);
    job.workers = options.jobs;
    const ResultCode r =
        run_job(counters, show_progress(options), [&] { return encrypt_worker(job); });
    if (!job.same_name_as.empty() && r == result_bad_path)
        say("%s", "'" + job.refused_path + "' would be stored under the same name as '" +
                      job.same_name_as + "'");
    else if (!job.refused_path.empty() && r == result_bad_path)
        say("'%s' cannot be stored under its own name: this system would read it back as "
            "another name",
            job.refused_path);
    if (!job.refused_path.empty() && r == result_read_failed)
        say("'%s' cannot be read", job.refused_path);
    // Not a failure: the archive restores both wherever names keep their case.
    if (r == result_ok) {
        for (const auto& [earlier, later] : job.windows_merges)
            say("%s", "warning: '" + earlier + "' and '" + later +
                          "' are one name on Windows, where unlocking fails on the later one");
    }
    // Gone since it was checked above, while the password was asked for.
    if (!job.refused_path.empty() && r == result_input_missing)
        say("cannot find '%s'", job.refused_path);
    return report("Encryption", r, options.quiet);
}

int unlock(const Options& options) {
    const std::string& archive = options.operands.front();
    platform::FindData found;
    if (int r = check_archive(archive, found)) return r;
    const std::string destination = without_trailing_separators(
        options.has_output ? options.output : default_destination(archive));
    if (windows_name_rules() && is_trimmed_away(last_component(destination))) {
        say("'%s' would be the folder it sits in: the system drops trailing dots and spaces",
            destination);
        return exit_cannot_create;
    }
    // Checked where the job will write: absolute, so that every missing
    // folder of it can be created.
    const std::string target = full_path(destination);
    platform::FindData existing;
    if (platform::find_path(target.c_str(), existing)) {
        // A file is never deleted to make room for a folder.
        if (!existing.is_folder) {
            say("'%s' is a file", destination);
            return exit_cannot_create;
        }
        if (!options.force && !is_empty_folder(target)) {
            say("'%s' is not empty (-f extracts into it)", destination);
            return exit_cannot_create;
        }
    }

    Counters counters;
    catch_interrupts_or_warn(counters);
    std::string password;
    if (int r = obtain_password(options, PasswordUse::open, counters.cancel, password)) return r;

    CryptJob job({full_path(archive)}, target, std::move(password), options.level,
                 counters.processed, counters.total, counters.cancel);
    job.workers = options.jobs;
    job.name_code_page = options.name_code_page;
    const ResultCode r =
        run_job(counters, show_progress(options), [&] { return decrypt_worker(job); });
    if (!job.refused_path.empty())
        say("'%s' is a link: unlock neither writes through a link nor replaces one",
            job.refused_path);
    // Gone since it was checked above, while the password was asked for.
    if (r == result_input_missing) say("cannot find '%s'", archive);
    const int status = report("Decryption", r, options.quiet);
    say_fault(job.fault);
    return status;
}

int test(const Options& options) {
    const std::string& archive = options.operands.front();
    platform::FindData found;
    if (int r = check_archive(archive, found)) return r;

    Counters counters;
    catch_interrupts_or_warn(counters);
    std::string password;
    if (int r = obtain_password(options, PasswordUse::open, counters.cancel, password)) return r;

    std::unique_ptr<ArchiveReader> reader(new (std::nothrow) ArchiveReader);
    if (!reader) return report("Test", result_out_of_memory, false);
    reader->set_workers(options.jobs);
    reader->set_name_code_page(options.name_code_page);
    counters.total = found.size;
    const ResultCode r = run_job(counters, show_progress(options), [&] {
        return reader->test_all(archive.c_str(), password.c_str(), counters.processed,
                                counters.cancel);
    });
    const int status = report("Test", r, options.quiet);
    say_fault(reader->fault());
    return status;
}

const char* strength_bits(int strength) {
    switch (strength) {
        case 1:
            return "128";
        case 2:
            return "192";
        case 3:
            return "256";
    }
    return "-";
}

// "AE-2 deflate", "AE-1 stored", or "plain" for an entry without encryption.
std::string coding_of(const EntrySummary& entry) {
    if (!entry.encrypted) return "plain  ";
    std::string version = entry.ae_version ? "AE-" + std::to_string(entry.ae_version) : "AE-?";
    switch (entry.method) {
        case 0:
            return version + " stored ";
        case 8:
            return version + " deflate";
        default:
            return version + " m" + std::to_string(entry.method);
    }
}

int list(const Options& options) {
    const std::string& archive = options.operands.front();
    platform::FindData found;
    if (int r = check_archive(archive, found)) return r;

    std::unique_ptr<ArchiveReader> reader(new (std::nothrow) ArchiveReader);
    if (!reader) return report("Listing", result_out_of_memory, false);
    reader->set_name_code_page(options.name_code_page);
    std::uint64_t size = 0, compressed = 0;
    std::uint64_t entries = 0;
    const ResultCode r = reader->list_all(archive.c_str(), [&](const EntrySummary& entry) {
        const platform::LocalTime t = platform::to_local_time(entry.time);
        // One entry per line: a line end or control byte in a name must not
        // start another.
        std::string name = entry.name;
        for (char& c : name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
        char fields[128];
        std::snprintf(
            fields, sizeof fields, "%10llu  %10llu  %04d-%02d-%02d %02d:%02d:%02d  %3s  %s  ",
            static_cast<unsigned long long>(entry.size),
            static_cast<unsigned long long>(entry.compressed_size), t.year, t.month, t.day, t.hour,
            t.minute, t.second, strength_bits(entry.strength), coding_of(entry).c_str());
        write_text(stdout, fields + name + "\n");
        size += entry.size;
        compressed += entry.compressed_size;
        ++entries;
        return result_ok;
    });
    if (r != result_ok) {
        const int status = report("Listing", r, false);
        say_fault(reader->fault());
        return status;
    }
    std::printf("%10llu  %10llu  %llu %s\n", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(compressed),
                static_cast<unsigned long long>(entries), entries == 1 ? "entry" : "entries");
    return std::fflush(stdout) == 0 ? 0 : result_write_failed;
}

}  // namespace

int run(int argc, const char* const* argv) {
    Options options;
    std::string error;
    if (!parse_options(argc, argv, options, error)) {
        std::fprintf(stderr, "korvane-cli: %s\n%s", error.c_str(), usage_text());
        return exit_usage;
    }
    switch (options.command) {
        case Command::help:
            std::fputs(usage_text(), stdout);
            return 0;
        case Command::version:
            std::puts("korvane-cli " KORVANE_VERSION);
            return 0;
        case Command::lock:
            return lock(options);
        case Command::unlock:
            return unlock(options);
        case Command::list:
            return list(options);
        case Command::test:
            return test(options);
        case Command::none:
            break;
    }
    return exit_usage;
}

}  // namespace korvane::cli
