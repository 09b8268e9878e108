#include <fcntl.h>
#include <gmock/gmock.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <tuple>

#include "bmp_fixture.h"
#include "cli_process.h"
#include "pictrim_version.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using testing::HasSubstr, testing::IsEmpty, testing::StartsWith;

#ifndef _WIN32
// The text as one word of a shell command line.
std::string Quoted(const std::string& text) {
    std::string quoted(1, '\'');
    for (const char c : text) quoted.append(c == '\'' ? std::string("'\\''") : std::string(1, c));
    quoted.push_back('\'');
    return quoted;
}

// Runs a command line in the shell with stdin from /dev/null: never a
// terminal. Returns the exit status, stdout and stderr.
std::tuple<int, std::string, std::string> Shell(const test::TempDir& dir, const std::string& command) {
    const int status = std::system(("{ " + command + "; } </dev/null >" + dir / "stdout" + " 2>" + dir / "stderr").c_str());
    const Bytes out = test::ReadFileBytes(dir / "stdout"), err = test::ReadFileBytes(dir / "stderr");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
}
#endif

// Runs pictrim-cli in folder `cwd` and after `prefix` (another command that
// runs it), with stdin from /dev/null: never a terminal. Returns the exit
// status, stdout and stderr.
std::tuple<int, std::string, std::string> RunCli(const test::TempDir& dir, const std::vector<std::string>& args,
                                                 const std::string& prefix = "", const std::string& cwd = "") {
#ifdef _WIN32
    if (!prefix.empty()) ADD_FAILURE() << "no shell to run " << prefix;
    // Windows prints paths absolute, with "\" (test_windows.cpp): read here as spelled relative to `cwd`.
    test::CliRun run = test::RunCliProcess(PICTRIM_CLI_PATH, args, dir / "", cwd);
    for (std::string* text : {&run.out, &run.err}) {
        for (auto at = text->find(cwd + "\\"); !cwd.empty() && at != std::string::npos; at = text->find(cwd + "\\", at))
            text->erase(at, cwd.size() + 1);
        if (!cwd.empty()) std::replace(text->begin(), text->end(), '\\', '/');
    }
    return {run.status, run.out, run.err};
#else
    std::string command = (cwd.empty() ? "" : "cd " + Quoted(cwd) + " && ") + prefix + PICTRIM_CLI_PATH;
    for (const std::string& arg : args) command.append(" ").append(Quoted(arg));
    return Shell(dir, command);
#endif
}

// Runs the program without /proc, where it cannot make unnamed temporary
// files and falls back to named ones (as root, in a mount namespace).
const std::string kNoProc = "unshare -m sh -c 'mount -t tmpfs none /proc && exec \"$0\" \"$@\"' ";
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
constexpr bool kSanitized = true;  // the sanitizers read /proc and need descriptors of their own; Windows has none
#else
constexpr bool kSanitized = false;
#endif
bool CanHideProc() { return !kSanitized && std::system("unshare -m true 2>/dev/null") == 0; }

TEST(Cli, CommandLinesOutputsAndExitStatuses) {
    test::TempDir dir;
    const test::Picture picture = test::RandomPicture(40, 20, 1);
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(picture));
    test::WriteFileBytes(dir / "old.bmp", test::kOld);
    const std::string src = dir / "src.bmp", dst = dir / "dst.bmp", old = dir / "old.bmp", none = dir / "none.bmp";
    const auto done = testing::Eq("Pictrim: 完了しました。\n");
    const auto usage = HasSubstr("Try 'pictrim-cli --help'");
    const std::string question = "Pictrim: " + old + " は既に存在します。上書きしますか？\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        testing::Matcher<std::string> out, err;
    };
    const Case cases[] = {
        {{}, 2, IsEmpty(), usage},
        {{src, dst}, 2, IsEmpty(), usage},
        {{src, dst, "75%"}, 2, IsEmpty(), usage},
        {{"--bogus", src, dst, "50%"}, 2, IsEmpty(), usage},
        {{"--yes", "--no", src, dst, "50%"}, 2, IsEmpty(), usage},
        {{"--help"}, 0, StartsWith("Usage: pictrim-cli"), IsEmpty()},
        {{"--version"}, 0, std::string("pictrim-cli ") + kVersionString + "\n", IsEmpty()},
        {{src, dst, "5"}, 0, done, IsEmpty()},
        {{"--yes", src, dst, "33%"}, 0, done, testing::_},
        {{"--yes", src, dst, "200"}, 0, done, testing::_},
        {{none, dir / "new.bmp", "50%"}, 1, IsEmpty(), "Pictrim: " + none + " - ファイルが開けません。\n"},
        // Without a terminal the overwrite question is declined, and the notice says how to answer it.
        {{src, old, "50%"}, 1, IsEmpty(), AllOf(StartsWith(question), HasSubstr("--yes"))},
        {{"--no", src, old, "50%"}, 1, IsEmpty(), AllOf(StartsWith(question), HasSubstr("--no"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto [status, out, err] = RunCli(dir, c.args);
        EXPECT_EQ(status, c.status);
        EXPECT_THAT(out, c.out);
        EXPECT_THAT(err, c.err);
    }
    EXPECT_TRUE(test::ReadFileBytes(dst) == test::ExpectedOutput(picture, 6));  // the last conversion, 200 %
    EXPECT_EQ(test::ReadFileBytes(old), test::kOld);
}

// The batch form, run after run on one folder tree. A folder gives its .bmp
// files (any case), with -R its subfolders' too, mirrored under -t; a link to
// a folder is not walked; a named file converts whatever its name.
TEST(Cli, Batches) {
    test::TempDir dir;
    const fs::path root = dir.path();
    fs::create_directories(root / "photos/sub");
#ifndef _WIN32  // links need a privilege there
    fs::create_directory_symlink("..", root / "photos/sub/loop");
#endif
    const test::Picture picture = test::RandomPicture(40, 20, 2);
    for (const char* name : {"photos/a.bmp", "photos/B.BMP", "photos/sub/c.bmp", "photos/pic.dat"})
        test::WriteFileBytes(root / name, test::EncodeBmp(picture));
    test::WriteFileBytes(root / "photos/notes.txt", test::kOld);
    test::WriteFileBytes(root / "list", {0xEF, 0xBB, 0xBF, 'p', 'h', 'o', 't', 'o', 's', '/', 'a', '.', 'b', 'm', 'p', 0});
    const auto converted = [](const char* src, const char* dst) {
        return HasSubstr(std::string("Pictrim: photos/") + src + " -> " + dst + ": 完了しました。\n");
    };
    const auto summary = [](const char* counts) { return HasSubstr(std::string("pictrim-cli: ") + counts + " in "); };
    struct Case {
        std::vector<std::string> args;
        int status;
        testing::Matcher<std::string> out, err;
    };
    const Case cases[] = {
        {{"-t", "out", "photos", "50%"}, 0, AllOf(converted("a.bmp", "out/a.bmp"), converted("B.BMP", "out/B.BMP")),
         summary("2 converted, 0 skipped, 0 refused, 0 failed")},
        {{"-R", "-t", "out", "photos", "photos/pic.dat", "50%"}, 0, converted("sub/c.bmp", "out/sub/c.bmp"),
         AllOf(HasSubstr("photos/a.bmp: skipped: out/a.bmp exists"), summary("2 converted, 2 skipped, 0 refused, 0 failed"))},
        {{"-R", "-t", "out", "photos", "50%"}, 0, IsEmpty(), summary("0 converted, 3 skipped, 0 refused, 0 failed")},
        {{"-q", "--yes", "-t", "out", "photos", "50%"}, 0, IsEmpty(), summary("2 converted, 0 skipped, 0 refused, 0 failed")},
        {{"-n", "-R", "-t", "none", "photos", "50"}, 0, HasSubstr("photos/sub/c.bmp -> none/sub/c.bmp\n"),
         HasSubstr("dry run: 3 to convert")},
        {{"--suffix", "_s", "photos/a.bmp", "photos/notes.txt", "./photos/a.bmp", "50"}, 1,
         converted("a.bmp", "photos/a_s.bmp"),
         AllOf(HasSubstr("photos/notes.txt: Bitmapファイル以外には対応していません。"),
               testing::ContainsRegex("\\.?/?photos/a\\.bmp: its destination \\.?/?photos/a_s\\.bmp is already that of photos/a\\.bmp"),
               summary("1 converted, 0 skipped, 2 refused, 0 failed"))},
        {{"--suffix", "_s", "photos/a.bmp", "photos/a_s.bmp", "50"}, 1, converted("a_s.bmp", "photos/a_s_s.bmp"),
         HasSubstr("photos/a.bmp: its destination photos/a_s.bmp is another source, photos/a_s.bmp")},
        // Not there yet: it would be read before or after it is written, as the jobs happen to run.
        {{"-j", "1", "--suffix", "_x", "photos/a.bmp", "photos/a_x.bmp", "50"}, 1, converted("a.bmp", "photos/a_x.bmp"),
         HasSubstr("photos/a_x.bmp: it is the destination of photos/a.bmp")},
        {{"--files0-from", "list", "-p", "-t", "dated", "50"}, 0, converted("a.bmp", "dated/a.bmp"), testing::_},
        {{"-R", "a", "b", "50"}, 2, IsEmpty(), HasSubstr("need -t FOLDER or --suffix TEXT")},
        {{"--files0-from", "photos", "-t", "x", "50"}, 1, IsEmpty(), HasSubstr("cannot read photos")},
        // A target folder inside the walked tree: its results never become sources.
        {{"-R", "-t", "photos/sub/out", "photos/sub", "50"}, 0, testing::_, summary("1 converted, 0 skipped, 0 refused, 0 failed")},
        {{"-R", "-t", "photos/sub/out", "photos/sub", "50"}, 0, IsEmpty(), summary("0 converted, 1 skipped, 0 refused, 0 failed")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto [status, out, err] = RunCli(dir, c.args, "", root.string());
        EXPECT_EQ(status, c.status);
        EXPECT_THAT(out, c.out);
        EXPECT_THAT(err, c.err);
    }
    EXPECT_TRUE(test::ReadFileBytes(root / "out/sub/c.bmp") == test::ExpectedOutput(picture, 5));
    EXPECT_FALSE(fs::exists(root / "out/sub/loop") || fs::exists(root / "out/notes.txt") || fs::exists(root / "none"));
    EXPECT_EQ(fs::last_write_time(root / "dated/a.bmp"), fs::last_write_time(root / "photos/a.bmp"));
    // Where no unnamed temporary file can be made, a new file still gets the umask's mode.
    if (CanHideProc()) {
        RunCli(dir, {"photos/a.bmp", "private.bmp", "50"}, "umask 077 && " + kNoProc, root.string());
        EXPECT_EQ(fs::status(root / "private.bmp").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
}

// Ctrl-C or SIGHUP in the middle of a batch, also where the folder takes no unnamed
// temporary files (no /proc: named ones): finished files stay complete, the
// others are not there, nothing else is left, and the status says so.
TEST(Cli, InterruptedBatchLeavesFinishedFilesOnly) {
#ifdef _WIN32
    GTEST_SKIP() << "sent by coreutils' timeout, which Windows has not";
#endif
    test::TempDir work;
    const test::Picture picture = test::RandomPicture(1500, 1000, 7);
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp", "4.bmp"}) test::WriteFileBytes(work / name, test::EncodeBmp(picture));
    const Bytes complete = test::ExpectedOutput(picture, 6);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(std::get<0>(RunCli(work, {"-t", work / "whole", work.path().string(), "200%"})), 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::mt19937 rng(20261207);
    for (int run = 0; run < 8; ++run) {
        test::TempDir out;
        const double seconds = 0.01 + took.count() * std::uniform_real_distribution<double>(0.0, 0.9)(rng);
        // A closed terminal (SIGHUP) stops the run as Ctrl-C does.
        // LeakSanitizer's look at the heap on the way out spins for good when
        // a signal lands in it: the leaks are looked for in the other tests.
        const std::string prefix = std::string(kSanitized ? "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " : "") +
                                   "timeout --preserve-status -s " + std::string(run & 2 ? "HUP " : "INT ") +
                                   std::to_string(seconds) + " " + (run % 2 && CanHideProc() ? kNoProc : "");
        const auto [status, stdoutText, err] = RunCli(work, {"-t", out.path().string(), work / "1.bmp", work / "2.bmp",
                                                             work / "3.bmp", work / "4.bmp", "200%"}, prefix);
        SCOPED_TRACE(testing::Message() << "run " << run << ": " << err);
        // A signal may land before the program has taken it over (on a loaded
        // machine, or while unshare and mount run first): it ends there, 130
        // and nothing written, which is as sound as a stop between rows.
        const bool stoppedBeforeStart = status == 130 && err.empty() && out.Names().empty();
        EXPECT_TRUE(status == 0 || stoppedBeforeStart ||
                    (status == 130 && err.find("; interrupted, ") != std::string::npos));
        for (const std::string& name : out.Names()) {
            EXPECT_TRUE(name.size() == 5 && test::ReadFileBytes(out / name) == complete) << name;
        }
    }
}

TEST(Cli, KilledAtAnyMomentLeavesTheOldFileOrTheCompleteNewOne) {
#ifdef _WIN32
    GTEST_SKIP() << "sent by coreutils' timeout; Windows' TerminateProcess is tested in test_windows.cpp";
#else
    test::TempDir work, out;
    test::WriteFileBytes(work / "src.bmp", test::EncodeBmp(test::RandomPicture(2000, 1500, 5)));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(std::get<0>(RunCli(work, {work / "src.bmp", out / "complete.bmp", "200%"})), 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const Bytes complete = test::ReadFileBytes(out / "complete.bmp");
    std::mt19937 rng(20261206);
    for (int run = 0; run < 24; ++run) {
        test::WriteFileBytes(out / "dst.bmp", test::kOld);
        const double seconds = 0.001 + took.count() * std::uniform_real_distribution<double>(0.0, 1.2)(rng);
        const std::string killer = "timeout -s KILL " + std::to_string(seconds) + " ";
        RunCli(work, {"--yes", work / "src.bmp", out / "dst.bmp", "200%"}, killer);
        const Bytes now = test::ReadFileBytes(out / "dst.bmp");
        EXPECT_TRUE(now == test::kOld || now == complete) << "run " << run << ": " << now.size() << " bytes";
    }
    // A kill between naming the new file and renaming it over the old one
    // leaves the named file: under a name with its inode, or, where inode
    // numbers do not last (FAT), with the time it was made. The next run in
    // the folder takes both away, but not a file of somebody else's that
    // only looks like one, nor a source of its own.
    const auto name = [](const char* format, std::uint64_t number, const char* stamp) {
        char text[64];
        std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(number), stamp);
        return std::string(text);
    };
    const auto give = [&](const Bytes& bytes, std::uint64_t number, const char* format, const char* stamp) {
        test::WriteFileBytes(out / "new", bytes);
        struct stat st {};
        ::stat((out / "new").c_str(), &st);
        const std::string given = name(format, number != 0 ? number : st.st_ino, stamp);
        const timespec times[2] = {{st.st_mtim.tv_sec - 3600, 0}, {st.st_mtim.tv_sec - 3600, 0}};
        if (number != 0) ::utimensat(AT_FDCWD, (out / "new").c_str(), times, 0);  // an hour ago
        fs::rename(out / "new", out / given);
        return given;
    };
    const std::uint64_t hourAgo = static_cast<std::uint64_t>(std::time(nullptr)) - 3600;
    const Bytes source = test::ReadFileBytes(work / "src.bmp");
    const std::string kept[] = {
        give(test::kOld, 1, ".pictrim-%016llx-%s", "01234567"),                  // not its inode
        give(test::kOld, hourAgo + 600, ".pictrim-new-%016llx-%s", "01234567"),  // changed before it was made
        give(test::kOld, hourAgo - 2 * 86400, ".pictrim-new-%016llx-%s", "89abcdef"),  // changed days after
    };
    give(test::kOld, 0, ".pictrim-%016llx-%s", "01234567");
    give(test::kOld, hourAgo - 600, ".pictrim-new-%016llx-%s", "01234567");
    const std::string ownSource = give(source, 0, ".pictrim-%016llx-%s", "22222222");
    ASSERT_EQ(std::get<0>(RunCli(work, {out / ownSource, out / "from-own.bmp", "50"})), 0);
    EXPECT_TRUE(fs::exists(out / ownSource));
    // In a batch, another item's source (the first item's clean-up would take it); not this run's is taken.
    const std::string otherSource = give(source, 0, ".pictrim-%016llx-%s", "33333333");
    ASSERT_EQ(std::get<0>(RunCli(work, {"-j", "1", "-t", out.path().string(), "--suffix", "_h", work / "src.bmp",
                                        out / otherSource, "50"})), 0);
    std::vector<std::string> expected{kept[0], kept[1], kept[2], otherSource, otherSource + "_h",
                                      "complete.bmp", "dst.bmp", "from-own.bmp", "src_h.bmp"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(out.Names(), expected);
#endif
}

// Two sources whose names differ only in case, into a folder that ignores
// case (a FAT image through FUSE): the second is refused as a clash with
// the first, never replaced nor asked about, with or without --yes, with
// one job or two at once.
TEST(Cli, ACaseOnlyClashInAFolderThatIgnoresCaseIsRefused) {
#ifdef _WIN32
    GTEST_SKIP() << "a FAT image through FUSE; NTFS case-only clashes are tested in test_windows.cpp";
#else
    test::TempDir dir;
    const fs::path root = dir.path();
    const std::string mount = "cd " + root.string() + " && mkfs.vfat -C fat.img 4096 && mkdir fat && fusefat -o rw+ fat.img fat";
    if (std::system(("{ " + mount + "; } >/dev/null 2>&1").c_str()) != 0) {
        GTEST_SKIP() << "no FAT image through FUSE here (needs mkfs.vfat, fusefat and /dev/fuse)";
    }
    struct Unmount {
        std::string at;
        ~Unmount() { std::ignore = std::system(("fusermount -u " + at + " 2>/dev/null || umount " + at).c_str()); }
    } unmount{(root / "fat").string()};
    fs::create_directory(root / "cs");
    const test::Picture upper = test::RandomPicture(40, 20, 5), lower = test::RandomPicture(60, 30, 6);
    test::WriteFileBytes(root / "cs/Photo.bmp", test::EncodeBmp(upper));
    test::WriteFileBytes(root / "cs/photo.bmp", test::EncodeBmp(lower));
    const std::vector<std::string> runs[] = {{"-j", "1"}, {"-j", "1", "--yes"}, {"-j", "2", "--yes"}};
    for (std::size_t i = 0; i < std::size(runs); ++i) {
        std::vector<std::string> args = runs[i];
        const std::string folder = "fat/out" + std::to_string(i);
        args.insert(args.end(), {"-t", folder, "cs", "50"});
        SCOPED_TRACE(testing::PrintToString(args));
        const auto [status, out, err] = RunCli(dir, args, "cd " + root.string() + " && ");
        EXPECT_EQ(status, 1);
        EXPECT_THAT(err, testing::ContainsRegex("is already that of cs/[Pp]hoto.bmp"));
        EXPECT_THAT(err, HasSubstr("1 converted, 0 skipped, 1 refused, 0 failed"));
        std::vector<fs::path> there;
        for (const auto& entry : fs::directory_iterator(root / folder)) there.push_back(entry.path());
        ASSERT_EQ(there.size(), 1u);
        const bool upperWon = out.find("cs/Photo.bmp -> ") != std::string::npos;
        EXPECT_TRUE(test::ReadFileBytes(there[0]) == test::ExpectedOutput(upperWon ? upper : lower, 5));
    }
    // FUSE numbers each spelling of a name anew: the source spelled in
    // another case, its own or its folder's, is still the source.
    // A ".." after a link is the link's target's parent, not the link's.
    fs::create_directories(root / "fat/in/sub");
    fs::create_directory_symlink(root / "fat/in/sub", root / "lnk");
    test::WriteFileBytes(root / "fat/in/orig.bmp", test::EncodeBmp(upper));
    const std::vector<std::string> sameFile[] = {{"--yes", "fat/in/orig.bmp", "fat/in/ORIG.BMP", "200"},
                                                 {"--yes", "fat/IN/ORIG.bmp", "fat/in/orig.bmp", "200"},
                                                 {"--yes", "-t", "fat/IN", "fat/in/orig.bmp", "50"},
                                                 {"--yes", "fat/in/orig.bmp", "lnk/../ORIG.bmp", "50"}};
    for (const auto& args : sameFile) {
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(std::get<0>(RunCli(dir, args, "cd " + root.string() + " && ")), 1);
        EXPECT_TRUE(test::ReadFileBytes(root / "fat/in/orig.bmp") == test::EncodeBmp(upper));
    }
    // A source of the run named like another run's abandoned temporary file
    // is never cleaned up by another file's job, also while the kernel
    // forgets the files (when it may: as root) and FUSE numbers them anew.
    const unsigned long long made = std::time(nullptr) - 120;
    char litter[48];
    std::snprintf(litter, sizeof litter, "fat/.pictrim-new-%016llx-deadbeef", made);
    test::WriteFileBytes(root / "fat/in/big.bmp", test::EncodeBmp(test::RandomPicture(1000, 800, 7)));
    for (const char* file : {"fat/c.bmp", static_cast<const char*>(litter)}) test::WriteFileBytes(root / file, test::EncodeBmp(lower));
    const std::string command = "cd " + root.string() + " && touch -d @" + std::to_string(made) + " " + litter +
                                " && { for i in $(seq 60); do echo 2 >/proc/sys/vm/drop_caches; sleep 0.005; done & } 2>/dev/null; " +
                                PICTRIM_CLI_PATH + " -j 1 --suffix _s fat/in/big.bmp fat/c.bmp " + litter + " 50; wait";
    EXPECT_THAT(std::get<2>(Shell(dir, command)), HasSubstr("3 converted, 0 skipped, 0 refused, 0 failed"));
#endif
}

// What the dry run promises, the run does: the same examination, down to
// whether a new file can be made in the destination's folder (as "nobody",
// so that modes apply to root too), and a run short of file descriptors
// fails rather than refusing the file.
TEST(Cli, DryRunsPromiseWhatRunsDoAndLimitsAreFailures) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permissions, setpriv and ulimit";
#else
    test::TempDir dir;
    const fs::path root = dir.path();
    fs::permissions(root, fs::perms::all);
    test::WriteFileBytes(root / "a.bmp", test::EncodeBmp(test::RandomPicture(40, 20, 3)));
    fs::create_directory(root / "ro");
    fs::permissions(root / "a.bmp", fs::perms::all);
    fs::permissions(root / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    const std::string asNobody = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const auto summary = [](const char* counts) { return HasSubstr(std::string("pictrim-cli: ") + counts); };
    struct Case {
        std::string prefix;
        std::vector<std::string> args;
        int status;
        testing::Matcher<std::string> err;
    };
    std::vector<Case> cases = {
        {asNobody, {"-n", "-t", "ro", "a.bmp", "50"}, 1, summary("dry run: 0 to convert, 0 to skip, 1 refused")},
        {asNobody, {"-t", "ro", "a.bmp", "50"}, 1, summary("0 converted, 0 skipped, 1 refused, 0 failed")},
        {asNobody, {"-n", "-t", "ro/new", "a.bmp", "50"}, 1, summary("dry run: 0 to convert, 0 to skip, 1 refused")},
        {asNobody, {"-t", "ro/new", "a.bmp", "50"}, 1, summary("0 converted, 0 skipped, 1 refused, 0 failed")},
        {asNobody, {"-n", "-t", "new/sub", "a.bmp", "50"}, 0, summary("dry run: 1 to convert, 0 to skip, 0 refused")},
        {asNobody, {"-t", "new/sub", "a.bmp", "50"}, 0, summary("1 converted, 0 skipped, 0 refused, 0 failed")},
        // Started with stdout closed: the completion reaches nobody.
        {">&- ", {"a.bmp", "closed.bmp", "50"}, 1, HasSubstr("cannot write to standard output")},
        // A file past `ulimit -f` fails alone: m.bmp's result needs 480 kB.
        {"ulimit -f 100 && ", {"-j", "1", "-t", "fout", "m.bmp", "a.bmp", "200"}, 1,
         AllOf(HasSubstr("fout/m.bmp - ファイルに書き込めません。"), summary("1 converted, 0 skipped, 0 refused, 1 failed"))},
    };
    test::WriteFileBytes(root / "m.bmp", test::EncodeBmp(test::RandomPicture(200, 200, 3)));
    // A folder the run made whose parent's flush failed (once: a retry
    // proves nothing) holds no file reported done: each is a write failure.
    if (std::system("strace -o /dev/null true 2>/dev/null") == 0)
        cases.push_back({"strace -o /dev/null -f -P " + root.string() + " -e trace=fsync -e inject=fsync:error=EIO:when=1 ",
                         {"-j", "1", "-t", "made/deep", "a.bmp", "m.bmp", "50"}, 1,
                         AllOf(HasSubstr("made/deep/m.bmp - ファイルに書き込めません。"), summary("0 converted, 0 skipped, 0 refused, 2 failed"))});
    // Three standard streams and the question's two ends leave one descriptor: the source's.
    // With a few dozen, files wait to be committed rather than fail.
    if (!kSanitized) {
        cases.push_back({"ulimit -n 6 && ", {"-t", "few", "a.bmp", "50"}, 1,
                         AllOf(summary("0 converted, 0 skipped, 0 refused, 1 failed"), HasSubstr("too many open files"))});
        fs::create_directory(root / "many");
        for (int i = 0; i < 150; ++i) fs::copy_file(root / "a.bmp", root / "many" / (std::to_string(i) + ".bmp"));
        cases.push_back({"ulimit -n 40 && ", {"-j", "2", "-t", "many-out", "many", "50"}, 0,
                         summary("150 converted, 0 skipped, 0 refused, 0 failed")});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto [status, out, err] = RunCli(dir, c.args, "cd " + root.string() + " && " + c.prefix);
        EXPECT_EQ(status, c.status);
        EXPECT_THAT(err, c.err);
    }
#endif
}

// Names can hold control characters that would steer a terminal: there
// they are shown as '?', in completion and problem lines alike; output to
// a file or pipe keeps them exact.
TEST(Cli, NamesReachATerminalWithoutControlCharacters) {
#ifdef _WIN32
    GTEST_SKIP() << "script(1) makes the terminal";
#else
    if (std::system("script -qec true /dev/null >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) for a terminal";
    test::TempDir dir;
    const fs::path root = dir.path();
    fs::create_directory(root / "odd");
    test::WriteFileBytes(root / "odd/red\x1b[31m.bmp", test::EncodeBmp(test::RandomPicture(40, 20, 4)));
    test::WriteFileBytes(root / "odd/bell\x07.bmp", test::kOld);
    // Not UTF-8: a lead byte before an escape, and a C1 control.
    test::WriteFileBytes(root / "odd/t\xC3\x1B]2;x\x07\xC2\x9B""31m.bmp", test::EncodeBmp(test::RandomPicture(40, 20, 4)));
    const std::string batch = std::string(PICTRIM_CLI_PATH) + " --yes -j 1 -t out odd 50";
    const std::string single = std::string(PICTRIM_CLI_PATH) + " " + Quoted("odd/no\x1b]0;x\x07.bmp") + " out.bmp 50";
    for (const bool terminal : {true, false}) {
        SCOPED_TRACE(terminal ? "terminal" : "redirected");
        for (const std::string& command : {batch, single}) {
            const auto [status, out, err] =
                Shell(dir, "cd " + root.string() + " && " + (terminal ? "script -qec " + Quoted(command) + " /dev/null" : command));
            const std::string all = out + err;
            if (terminal) {  // the progress line's own "erase line" aside, nothing steers the terminal
                std::string rest = all;
                for (auto at = rest.find("\x1b[K"); at != std::string::npos; at = rest.find("\x1b[K")) rest.erase(at, 3);
                EXPECT_EQ(rest.find_first_of("\x1b\x07"), std::string::npos);
                EXPECT_EQ(rest.find("\xC2\x9B"), std::string::npos);
            }
            if (command == batch) {
                EXPECT_THAT(all, HasSubstr(terminal ? "odd/red?[31m.bmp -> out/red?[31m.bmp: 完了しました。"
                                                    : "odd/red\x1b[31m.bmp -> out/red\x1b[31m.bmp: 完了しました。"));
                EXPECT_THAT(all, HasSubstr(terminal ? "odd/bell?.bmp: Bitmap" : "odd/bell\x07.bmp: Bitmap"));
            } else {
                EXPECT_THAT(all, HasSubstr(terminal ? "odd/no?]0;x?.bmp - ファイルが開けません。"
                                                    : "odd/no\x1b]0;x\x07.bmp - ファイルが開けません。"));
            }
        }
    }
#endif
}

}  // namespace
}  // namespace pictrim
