// korvane-cli on a terminal and under signals (native only): the password
// prompt without echo, the progress line, and Ctrl-C leaving nothing behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>

#include "cli_runner.h"
#include "engine/writer.h"
#include "unit/archive_support.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

using namespace test;
using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

int exit_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::vector<char*> argv_of(const std::string& program, const Args& args) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// korvane-cli with a pseudo-terminal as its stdin, stdout and stderr.
class OnTerminal {
  public:
    OnTerminal(const Args& args, const std::string& cwd) {
        const std::string program = cli_path();
        std::vector<char*> argv = argv_of(program, args);
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            if (chdir(cwd.c_str()) != 0) _exit(127);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~OnTerminal() {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    bool started() const { return pid_ > 0; }

    // Reads until text has appeared since the last call (true) or time is up.
    bool wait_for(const std::string& text, int seconds = 30) {
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (seen_.find(text, mark_) == std::string::npos) {
            if (Clock::now() > end || !read_some(100)) return false;
        }
        mark_ = seen_.find(text, mark_) + text.size();
        return true;
    }
    void type(const std::string& keys) {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
    }

    // Everything the terminal showed, once the program has ended.
    int finish(std::string& shown) {
        while (read_some(100)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        waited_ = true;
        while (read_some(0)) {
        }
        shown = seen_;
        return exit_status(status);
    }

  private:
    // False at the end of the output (EIO once the child has gone), or when
    // nothing came within the time-out.
    bool read_some(int timeout_ms) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return waitpid(pid_, nullptr, WNOHANG) == 0;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;
        seen_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    bool waited_ = false;
    std::string seen_;
    std::size_t mark_ = 0;
};

class CliPosix : public testing::Test {
  protected:
    TempFolder temp;
    ScopedEnv no_password{"KORVANE_PASSWORD", std::nullopt};
    fs::path dir() const { return temp.path(); }

    // Every path below the folder, sorted.
    std::vector<std::string> snapshot_names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir()))
            names.push_back(fs::relative(e.path(), dir()).generic_string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void sparse_file(const fs::path& path, std::uintmax_t size) {
        write_bytes(path, "");
        fs::resize_file(path, size);
    }
};

TEST_F(CliPosix, TerminalPasswordIsAskedWithoutEcho) {
    write_bytes(dir() / "in.txt", "input");
    struct Case {
        std::vector<std::string> answers;
        int status;
    };
    const Case cases[] = {
        {{"typed secret\n", "typed secreT\n"}, 65},
        {{std::string(64, 'x') + "\n"}, 65},  // refused before the confirmation
        {{"typed secret\n", "typed secret\n"}, 0},
    };
    for (const Case& c : cases) {
        OnTerminal term({"lock", "in.txt"}, temp.path());
        ASSERT_TRUE(term.started());
        ASSERT_TRUE(term.wait_for("Password: "));
        term.type(c.answers[0]);
        if (c.answers.size() > 1) {
            ASSERT_TRUE(term.wait_for("Confirm password: "));
            term.type(c.answers[1]);
        }
        std::string shown;
        EXPECT_EQ(term.finish(shown), c.status) << shown;
        EXPECT_EQ(shown.find("secret"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("xxxx"), std::string::npos) << shown;
        EXPECT_EQ(fs::exists(dir() / "in.cry"), c.status == 0);
    }
    // unlock asks once, and what was typed is the key.
    OnTerminal term({"unlock", "in.cry"}, temp.path());
    ASSERT_TRUE(term.wait_for("Password: "));
    term.type("typed secret\n");
    std::string shown;
    EXPECT_EQ(term.finish(shown), 0) << shown;
    EXPECT_EQ(shown.find("Confirm"), std::string::npos);
    EXPECT_EQ(read_bytes(dir() / "in" / "in.txt"), "input");
}

// An input there when the command was checked but gone by the time the job
// runs fails the job, named, and leaves no archive.
TEST_F(CliPosix, AnInputGoneWhileThePasswordIsAskedFailsTheLock) {
    write_bytes(dir() / "in.txt", "input");
    OnTerminal term({"lock", "in.txt"}, temp.path());
    ASSERT_TRUE(term.started());
    ASSERT_TRUE(term.wait_for("Password: "));
    fs::remove(dir() / "in.txt");
    term.type("typed secret\n");
    ASSERT_TRUE(term.wait_for("Confirm password: "));
    term.type("typed secret\n");
    std::string shown;
    EXPECT_EQ(term.finish(shown), 10) << shown;
    EXPECT_NE(shown.find("in.txt'"), std::string::npos) << shown;
    EXPECT_NE(shown.find("The input file does not exist."), std::string::npos) << shown;
    EXPECT_FALSE(fs::exists(dir() / "in.cry"));
}

TEST_F(CliPosix, ProgressIsDrawnOnATerminalUnlessQuiet) {
    sparse_file(dir() / "zeros.bin", 400u << 20);
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    for (bool quiet : {false, true}) {
        Args args = {"lock", "-f", "zeros.bin"};
        if (quiet) args.push_back("-q");
        OnTerminal term(args, temp.path());
        std::string shown;
        ASSERT_EQ(term.finish(shown), 0) << shown;
        const bool drawn = shown.find("% ") != std::string::npos &&
                           shown.find(" of 400.0 MiB") != std::string::npos &&
                           shown.find("/s") != std::string::npos &&
                           shown.find(" left") != std::string::npos;
        EXPECT_EQ(drawn, !quiet) << shown;
        EXPECT_EQ(shown.find("Encryption has completed successfully.") != std::string::npos,
                  !quiet);
    }
}

// Every file below folder.
std::set<fs::path> files_below(const fs::path& folder) {
    std::set<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file(ec)) files.insert(e.path());
    return files;
}

// Forks korvane-cli in cwd with stdin and stdout on /dev/null and stderr on
// err_fd; the child exits 126 when prepare fails, 127 when it cannot start.
template <typename Prepare>
pid_t spawn_cli(const Args& args, const fs::path& cwd, int err_fd, Prepare prepare) {
    const std::string program = cli_path();
    std::vector<char*> argv = argv_of(program, args);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || chdir(cwd.c_str()) != 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 ||
            dup2(err_fd, 2) < 0)
            _exit(127);
        if (!prepare()) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// Starts korvane-cli, waits for its first temporary file in folder (any file
// that was not there before), sends signal and returns the exit status.
int interrupt_when_started(const Args& args, const fs::path& cwd, const fs::path& folder,
                           std::string& err, int signal = SIGINT) {
    const std::set<fs::path> before = files_below(folder);
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return -1;
    const pid_t pid = spawn_cli(args, cwd, pipe_fds[1], [] { return true; });
    close(pipe_fds[1]);
    const auto end = Clock::now() + std::chrono::seconds(60);
    bool seen = false;
    // Started once a file is there that was not: the archive being written,
    // or a file being extracted (a temporary name is not always ".tmp").
    while (!seen && Clock::now() < end && waitpid(pid, nullptr, WNOHANG) == 0) {
        for (const fs::path& file : files_below(folder))
            if (!before.contains(file)) seen = true;
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (seen) kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
    close(pipe_fds[0]);
    return seen ? exit_status(status) : -1;
}

TEST_F(CliPosix, InterruptLeavesNothingBehind) {
    // Zeros compress to almost nothing, so a big sparse input makes a long
    // job without using the disk.
    const fs::path huge = dir() / "huge.bin";
    sparse_file(huge, 1500u << 20);
    ScopedEnv env("KORVANE_PASSWORD", "pw");

    std::string err;
    // A closed terminal or the quit key as well as Ctrl-C.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        err.clear();
        EXPECT_EQ(interrupt_when_started({"lock", "-q", "huge.bin"}, dir(), dir(), err, signal), 3)
            << signal << " " << err;
        EXPECT_EQ(err, "Encryption has failed.\nCancel buuton has been clicked\n");
        EXPECT_EQ(snapshot_names(), std::vector<std::string>{"huge.bin"}) << signal;
    }

    // A password file that never ends its line: the read that waits for more
    // stops.
    ASSERT_EQ(mkfifo((dir() / "pipe").c_str(), 0600), 0);
    const int writer = open((dir() / "pipe").c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "abc", 3), 3);
    {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        ScopedEnv none("KORVANE_PASSWORD", std::nullopt);
        const pid_t pid = spawn_cli({"lock", "-q", "huge.bin", "--password-file", "pipe"}, dir(),
                                    pipe_fds[1], [] { return true; });
        close(pipe_fds[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        close(pipe_fds[0]);
        EXPECT_EQ(exit_status(status), 3);
    }
    close(writer);
    fs::remove(dir() / "pipe");

    // A whole archive to interrupt while it is extracted.
    ASSERT_EQ(run_cli({"lock", "-q", "huge.bin"}, temp.path()).status, 0);
    fs::remove(huge);
    err.clear();
    EXPECT_EQ(interrupt_when_started({"unlock", "-q", "huge.cry", "-o", "out"}, dir(), dir(), err),
              3)
        << err;
    EXPECT_EQ(err, "Decryption has failed.\nCancel buuton has been clicked\n");
    // The destination it made is gone again.
    EXPECT_EQ(snapshot_names(), std::vector<std::string>{"huge.cry"});
}

// Runs korvane-cli in cwd as a user whom permission bits and the process
// limit bind: nobody when this is root (root passes both), else this user.
// nproc caps that user's processes and threads. Status 126 when the user
// cannot be changed.
CliResult run_cli_bound(const Args& args, const fs::path& cwd, rlim_t nproc = RLIM_INFINITY) {
    CliResult result;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return result;
    const pid_t pid = spawn_cli(args, cwd, pipe_fds[1], [nproc] {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 ||
                               setuid(65534) != 0 || geteuid() == 0))
            return false;
        // Lowered after the change of user, which would otherwise mark the
        // process as over the limit and fail the exec.
        const rlimit limit{nproc, nproc};
        return nproc == RLIM_INFINITY || setrlimit(RLIMIT_NPROC, &limit) == 0;
    });
    close(pipe_fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
        result.err.append(buffer, n);
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = exit_status(status);
    return result;
}

// A folder that cannot be listed fails the lock with 7, naming it, and no
// archive is written: its files must not go missing from an archive that
// says it is complete. So does anything else the walk cannot look up or
// read, named; a linked folder is walked as a folder, and a path longer
// than the system takes whole is reached through its folders.
TEST_F(CliPosix, AFolderThatCannotBeListedFailsTheLock) {
    fs::permissions(dir(), fs::perms::all);
    const std::string long_tail = std::string(250, 'x');
    const struct {
        const char* tree;
        std::function<void(const fs::path&)> make;  // beside kept.txt
        int status;
        std::string says;  // in stderr, or for 0 in the listing
    } cases[] = {
        {"unlisted",
         [](const fs::path& t) {
             write_bytes(t / "locked" / "inside.txt", "would be lost");
             fs::permissions(t / "locked", fs::perms::none);
         },
         7, "unlisted/locked' cannot be read"},
        {"unentered",
         [](const fs::path& t) {
             write_bytes(t / "shut" / "inside.txt", "would be lost");
             fs::permissions(t / "shut", fs::perms::owner_read | fs::perms::group_read |
                                             fs::perms::others_read);
         },
         7, "unentered/shut/inside.txt' cannot be read"},
        {"piped", [](const fs::path& t) { ASSERT_EQ(mkfifo((t / "fifo").c_str(), 0666), 0); }, 7,
         "piped/fifo' cannot be read"},
        {"dangling", [](const fs::path& t) { fs::create_symlink(t / "nowhere", t / "link"); }, 7,
         "dangling/link' cannot be read"},
        {"linked",
         [&](const fs::path& t) {
             write_bytes(dir() / "elsewhere" / "far.txt", "far");
             fs::create_directory_symlink(dir() / "elsewhere", t / "link");
         },
         0, "linked/link/far.txt\n"},
        {"long",
         [&](const fs::path& t) {
             // Made through each folder: the whole path is too long to name.
             int folder = open(t.c_str(), O_DIRECTORY | O_CLOEXEC);
             for (int i = 0; folder >= 0 && i < 20; ++i) {
                 EXPECT_EQ(mkdirat(folder, long_tail.c_str(), 0755), 0);
                 const int inner = openat(folder, long_tail.c_str(), O_DIRECTORY | O_CLOEXEC);
                 close(folder);
                 folder = inner;
             }
             ASSERT_GE(folder, 0);
             const int file = openat(folder, "deep.txt", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
             close(folder);
             ASSERT_GE(file, 0);
             EXPECT_EQ(write(file, "deep", 4), 4);
             close(file);
         },
         0, long_tail + "/deep.txt\n"},
    };
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    for (const auto& c : cases) {
        const fs::path tree = dir() / c.tree;
        write_bytes(tree / "kept.txt", "kept");
        c.make(tree);
        const CliResult r = run_cli_bound({"lock", "-o", "out.cry", c.tree}, dir());
        if (r.status == 126) GTEST_SKIP() << "cannot run as a user without root's rights";
        EXPECT_EQ(r.status, c.status) << c.tree << "\n" << r.err;
        if (c.status != 0) {
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
            EXPECT_FALSE(fs::exists(dir() / "out.cry")) << c.tree;
        } else {
            const CliResult listed = run_cli({"list", "out.cry"}, dir());
            EXPECT_NE(listed.out.find(c.says), std::string::npos) << c.tree << "\n" << listed.out;
            EXPECT_EQ(run_cli({"test", "-q", "out.cry"}, dir()).status, 0) << c.tree;
            // And back, a path too long to name whole made through its folders too.
            const CliResult back = run_cli({"unlock", "-q", "-o", "back", "out.cry"}, dir());
            EXPECT_EQ(back.status, 0) << c.tree << "\n" << back.err.substr(0, 300);
            ASSERT_EQ(std::system(("rm -rf '" + (dir() / "back").string() + "'").c_str()), 0);
        }
        std::error_code ec;
        fs::remove(dir() / "out.cry", ec);
        // Open again, and removed by a tool that reaches long paths.
        ASSERT_EQ(
            std::system(("chmod -R u+rwx '" + tree.string() + "' && rm -rf '" + tree.string() + "'")
                            .c_str()),
            0);
    }
}

// Where no thread can start, lock and unlock run on the one thread there is.
TEST_F(CliPosix, JobsRunWithoutAnyThreadToStart) {
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
    GTEST_SKIP() << "ThreadSanitizer's runtime starts a thread of its own";
#endif
#endif
    // The leak check runs on a thread of its own too; the job needs none.
    const char* asan = std::getenv("ASAN_OPTIONS");
    ScopedEnv no_leak_check("ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0");
    write_bytes(dir() / "tree" / "big.bin", noise(600000));
    write_bytes(dir() / "tree" / "sub" / "small.txt", text(5000));
    fs::permissions(dir(), fs::perms::all);
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    const CliResult locked = run_cli_bound({"lock", "-j", "4", "-o", "out.cry", "tree"}, dir(), 1);
    if (locked.status == 126) GTEST_SKIP() << "cannot run as a user without root's rights";
    ASSERT_EQ(locked.status, 0) << locked.err;
    const CliResult unlocked =
        run_cli_bound({"unlock", "-j", "4", "out.cry", "-o", "back"}, dir(), 1);
    ASSERT_EQ(unlocked.status, 0) << unlocked.err;
    EXPECT_EQ(tree(dir() / "back"), tree(dir() / "tree"));
}

// Deep names cost time and memory in proportion to their length: a name
// longer than any path is refused (14) before the entries are ordered, and
// many names of thousands of folders each are ordered without a copy of
// every folder above each of them.
TEST_F(CliPosix, DeepNamesCostInProportionToTheirLength) {
    auto folder_entries = [&](const fs::path& archive, const std::vector<std::string>& names) {
        ArchiveWriter writer;
        ASSERT_EQ(writer.open(archive.c_str()), result_ok);
        JobCounters c;
        const CryptJob job = c.job({}, archive.string(), "pw");
        platform::FindData folder;
        folder.is_folder = true;
        for (const std::string& name : names) {
            EntryInfo entry;
            ASSERT_EQ(ArchiveWriter::describe_entry(name.c_str(), folder, job, entry), result_ok);
            ASSERT_EQ(writer.add_folder(entry), result_ok);
        }
        ASSERT_EQ(writer.finish(), result_ok);
        ASSERT_EQ(writer.commit(), result_ok);
    };
    std::string deepest;
    for (int i = 0; i < 32767; ++i) deepest += i ? "/a" : "a";
    std::vector<std::string> many;
    for (int i = 0; i < 40; ++i) {
        many.emplace_back("d");  // appended: GCC 12 warns falsely on "d" + std::string
        many.back() += std::to_string(i);
        for (int k = 0; k < 2000; ++k) many.back() += "/a";
    }
    folder_entries(dir() / "deepest.cry", {deepest});
    folder_entries(dir() / "many.cry", many);
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    const bool sanitized = true;
#else
    const bool sanitized = false;
#endif
#else
    const bool sanitized = false;
#endif
    const struct {
        const char* archive;
        int status;
        const char* says;
    } cases[] = {
        {"deepest.cry", 14, "has a name longer than any path"},
        {"many.cry", 0, "Test has completed successfully."},
    };
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    for (const auto& c : cases) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t pid = spawn_cli({"test", c.archive}, dir(), pipe_fds[1], [] { return true; });
        close(pipe_fds[1]);
        std::string err;
        char buffer[4096];
        for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
        close(pipe_fds[0]);
        int status = 0;
        rusage usage{};
        ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
        // Processor time: other work on the machine does not count.
        const auto took =
            std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
        EXPECT_EQ(exit_status(status), c.status) << c.archive;
        EXPECT_NE(err.find(c.says), std::string::npos) << c.archive << "\n" << err.substr(0, 300);
        if (sanitized) continue;  // their shadow memory and checks cost their own
        EXPECT_LT(usage.ru_maxrss, 50 * 1024) << c.archive << ": KiB at most";
        EXPECT_LT(took, std::chrono::seconds(1)) << c.archive;
    }
}

// A folder mounted inside itself leads back up without being a link: the walk
// must see that it is its own ancestor and not archive it again. The mount
// lives in a private namespace, which unshare makes without privileges where
// the system allows user namespaces.
TEST_F(CliPosix, AFolderMountedInsideItselfIsArchivedOnce) {
    if (std::system("unshare -Urm true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no user namespaces here";
    write_bytes(dir() / "real" / "a.txt", "x");
    fs::create_directories(dir() / "real" / "sub" / "loop");
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    const std::string command = "cd '" + dir().string() +
                                "' && unshare -Urm sh -c 'mount --bind real real/sub/loop && "
                                "exec \"$0\" lock -q -o out.cry real' '" +
                                cli_path() + "'";
    const int status = std::system(command.c_str());
    ASSERT_EQ(exit_status(status), 0);
    const CliResult listed = run_cli({"list", "out.cry"}, dir().string());
    EXPECT_NE(listed.out.find("  real/a.txt\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("  1 entry\n"), std::string::npos) << listed.out;
}

}  // namespace
}  // namespace korvane
