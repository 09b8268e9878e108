// Hostile files and failing file systems: a clear notice, the destination
// exactly as it was, and no temporary file left behind.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>

#include "bmp_fixture.h"
#include "platform/source_file.h"
#include "platform/zeroed_block.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using test::Bytes, test::kOld;


// Refusals must not need memory: none of them may reach an allocation.
void NoLargeAllocation() { platform::SetAllocationCeilingForTesting(std::size_t{1} << 16); }

#ifndef _WIN32
// Gives up root for the "nobody" user, so that file permissions apply.
void DropToNobody() {
    constexpr uid_t kNobody = 65534;
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        std::abort();
}
#else
void DropToNobody() {}  // the cases that need it are not run
#endif

// One job that must end with `notice`; names are in the test's folder.
struct Fault {
    const char* name;
    std::optional<Bytes> file = std::nullopt;  // written as src.bmp; none: a good picture
    std::string notice;
    std::string src = "src.bmp", dst = "dst.bmp";
    int index = 5, percent = 0;  // percent 0: the listed one
    std::function<void()> prepare = NoLargeAllocation;  // in the job's process, before it starts
    std::uint64_t sparseLength = 0;                      // src.bmp grown to this without writing
    bool posixOnly = false;  // made with what Windows lacks: FIFOs, users, modes, resource limits
};

// In a child process, so that a case can give up root, lower a limit or set a
// test hook alone. Ends with status 0 when the job told the expected notice
// and RunJob's own checks found nothing.
#ifndef _WIN32
void JobInChild(const Fault& f, const test::TempDir& dir) {
    const testing::TestResult& result = *testing::UnitTest::GetInstance()->current_test_info()->result();
    const int failuresBefore = result.total_part_count();
    f.prepare();
    const std::string told = test::RunJob(dir / f.src, dir / f.dst, f.index, f.percent);
    std::cerr << told;  // shown when the case fails
    ::_exit(told == f.notice && result.total_part_count() == failuresBefore ? 0 : 1);
}
#endif

// Every entry under the folder but `except`, with the bytes of regular files,
// read through links: a write through a link shows on the link.
std::map<fs::path, Bytes> Snapshot(const fs::path& dir, const fs::path& except) {
    std::map<fs::path, Bytes> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path() != except) entries[e.path()] = e.is_regular_file() ? test::ReadFileBytes(e.path()) : Bytes{};
    return entries;
}

Bytes With(Bytes file, std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields, std::size_t length = 0) {
    for (const auto& [at, value] : fields) test::PutU32(file, at, value);
    if (length != 0) file.resize(length);
    return file;
}

// The table's rows that are made with what Windows lacks, or the others.
void RunFaultTable(bool posixOnlyRows) {
    test::TempDir dir;
    const std::string src = dir / "src.bmp", dst = dir / "dst.bmp";
    const Bytes good = test::EncodeBmp(test::RandomPicture(19, 30, 4));
    fs::permissions(dir.path(), fs::perms::all);  // open to "nobody" too
    for (const char* folder : {"folder.bmp", "locked", "sticky"}) fs::create_directory(dir.path() / folder);
    for (const char* name : {"other.bmp", "secret.bmp"}) test::WriteFileBytes(dir / name, good);
    for (const char* name : {"readonly.bmp", "locked/dst.bmp", "sticky/theirs.bmp"}) test::WriteFileBytes(dir / name, kOld);
#ifdef _WIN32
    // Links need a privilege there; a hard link is the source by another name too.
    fs::create_hard_link(dir / "other.bmp", dir.path() / "link.bmp");
    fs::permissions(dir.path() / "readonly.bmp", fs::perms::owner_read);  // the read-only attribute
    const auto smallDisk = [] {};
    const std::string device = "NUL";
#else
    fs::create_symlink(dir / "other.bmp", dir.path() / "link.bmp");
    fs::create_symlink(dir / "nowhere.bmp", dir.path() / "dangling.bmp");
    ASSERT_EQ(::mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
    // The locked folder's file may be written, the folder itself not.
    const std::pair<const char*, mode_t> modes[] = {
        {"other.bmp", 0644}, {"locked/dst.bmp", 0666}, {"locked", 0555}, {"readonly.bmp", 0444}, {"secret.bmp", 0},
        {"sticky", 01777}, {"sticky/theirs.bmp", 0666}};
    for (const auto& [name, mode] : modes) ::chmod((dir / name).c_str(), mode);

    const auto smallDisk = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};  // the enlarged picture needs 7014 bytes
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const std::string device = "/dev/null";
#endif
    const auto shortOfMemory = [] { platform::SetAllocationCeilingForTesting(100); };
    const auto shrinkingSource = [&src] {
        platform::SetBeforeReadHookForTesting([&src, reads = 0]() mutable {
            if (++reads == 3) fs::resize_file(src, 100);  // the signature, the rest of the header, then the rows
        });
    };
    const auto cannotOpen = [&dir](const std::string& name) { return dir / name + " - ファイルが開けません。"; };
    const std::string depth8 = "8 color Bitmap - 非対応です。";
    const std::string broken = src + " - Bitmapファイルが壊れています。";
    const std::string tooLarge = src + " - 画像が大きすぎて変換できません。";
    const std::string notBitmap = "Bitmapファイル以外には対応していません。";
    const std::string compressed = "圧縮されたBitmap - 非対応です。";
    const std::string notYet = "まだ出来てないっすよ。(^^;";
    const std::string os2 = "OS/2 Bitmap - 非対応です。";
    const Fault faults[] = {
        // Sources that cannot be read, or are not uncompressed 24-bit bitmaps.
        {.name = "missing", .notice = cannotOpen("none.bmp"), .src = "none.bmp"},
        {.name = "unreadable", .notice = cannotOpen("secret.bmp"), .src = "secret.bmp", .prepare = DropToNobody,
         .posixOnly = true},
        {.name = "empty", .file = Bytes{}, .notice = notBitmap},
        {.name = "one byte", .file = Bytes{'B'}, .notice = notBitmap},
        {.name = "MB", .file = With(good, {{0, 'M' | ('B' << 8)}}), .notice = notBitmap},
        {.name = "8 bits", .file = With(good, {{26, 1 | (8u << 16)}}), .notice = depth8},
        {.name = "OS/2 header, 8 bits", .file = With(good, {{14, 12}, {22, 1 | (8u << 16)}}), .notice = depth8},
        {.name = "OS/2 header, 24 bits", .file = With(good, {{14, 12}, {22, 1 | (24u << 16)}}), .notice = os2},
        {.name = "RLE", .file = With(good, {{30, 1}}), .notice = compressed},
        {.name = "bit fields", .file = With(good, {{30, 3}}), .notice = compressed},
        // Headers that do not match the file, and sizes past the format's fields.
        {.name = "headers only", .file = With(good, {}, 54), .notice = broken},
        {.name = "last row cut short", .file = With(good, {}, good.size() - 1), .notice = broken},
        {.name = "zero width", .file = With(good, {{18, 0}}), .notice = broken},
        {.name = "zero height", .file = With(good, {{22, 0}}), .notice = broken},
        {.name = "offset inside a v5 header", .file = With(good, {{14, 124}}), .notice = broken},
        {.name = "offset past the end", .file = With(good, {{10, 0xFFFFFFF0u}}), .notice = broken},
        {.name = "information header of 4 GiB", .file = With(good, {{14, 0xFFFFFFFFu}}), .notice = broken},
        {.name = "file size field says 2 GiB", .file = With(good, {{2, 0x80000000u}}, 200), .notice = broken},
        {.name = "30000 x 30000 in a small file", .file = With(good, {{18, 30000}, {22, 30000}}), .notice = broken},
        {.name = "width 2^31", .file = With(good, {{18, 0x80000000u}}), .notice = tooLarge},
        {.name = "height -2^31", .file = With(good, {{22, 0x80000000u}}), .notice = tooLarge},
        {.name = "65535 x 65535", .file = With(good, {{18, 65535}, {22, 65535}}), .notice = tooLarge},
        {.name = "enlarged past 4 GiB", .file = With(good, {{18, 40000}, {22, 9000}}, 54), .notice = tooLarge,
         .index = 6, .sparseLength = 54 + 120000ull * 9000},
        // Ratios that the picture or the list does not allow.
        {.name = "too narrow for 5 %", .notice = "画像が小さすぎて、この縮小率では変換できません。", .index = 0},
        {.name = "75 percent", .notice = notYet, .percent = 75},
        {.name = "index past the list", .notice = notYet, .index = 7, .percent = 200},
        // Destinations that are the source under another name, or cannot be written.
        {.name = "link to the source", .notice = cannotOpen("link.bmp"), .src = "other.bmp", .dst = "link.bmp"},
        {.name = "folder", .notice = cannotOpen("folder.bmp"), .dst = "folder.bmp"},
        {.name = "dangling link", .notice = cannotOpen("dangling.bmp"), .dst = "dangling.bmp", .posixOnly = true},
        {.name = "FIFO", .notice = cannotOpen("fifo.bmp"), .dst = "fifo.bmp", .posixOnly = true},
        {.name = "device", .notice = cannotOpen(device), .dst = device},
        {.name = "no such folder", .notice = cannotOpen("gone/dst.bmp"), .dst = "gone/dst.bmp"},
        {.name = "read-only", .notice = cannotOpen("readonly.bmp"), .dst = "readonly.bmp", .prepare = DropToNobody},
        {.name = "locked", .notice = cannotOpen("locked/new.bmp"), .dst = "locked/new.bmp", .prepare = DropToNobody,
         .posixOnly = true},
        {.name = "in locked", .notice = cannotOpen("locked/dst.bmp"), .dst = "locked/dst.bmp", .prepare = DropToNobody,
         .posixOnly = true},
        // Writable by all, but in a sticky folder only its owner may rename over it.
        {.name = "another's in sticky", .notice = cannotOpen("sticky/theirs.bmp"), .dst = "sticky/theirs.bmp",
         .prepare = DropToNobody, .posixOnly = true},
        // Failing while converting.
        {.name = "disk full", .notice = dst + " - ファイルに書き込めません。", .index = 6, .prepare = smallDisk,
         .posixOnly = true},
        {.name = "memory short", .notice = "メモリが足りません。", .prepare = shortOfMemory},
        {.name = "shrinking source", .notice = src + " - ファイルが読み込めません。", .prepare = shrinkingSource},
    };
    for (const bool replacing : {true, false}) {
        for (const Fault& f : faults) {
            SCOPED_TRACE(testing::Message() << f.name << (replacing ? ", replacing" : ", new destination"));
            if (f.posixOnly != posixOnlyRows) continue;
            test::WriteFileBytes(src, f.file.value_or(good));
            if (f.sparseLength != 0) fs::resize_file(src, f.sparseLength);
            if (replacing) test::WriteFileBytes(dst, kOld);
            if (replacing) fs::permissions(dst, fs::perms::all);  // replaceable by "nobody" too
            const auto before = Snapshot(dir.path(), dir / f.src);
#ifdef _WIN32
            // No fork: the job runs here, and its test hooks are undone after it.
            f.prepare();
            EXPECT_EQ(test::RunJob(dir / f.src, dir / f.dst, f.index, f.percent), f.notice);
            platform::SetAllocationCeilingForTesting(0);
            platform::SetBeforeReadHookForTesting({});
#else
            EXPECT_EXIT(JobInChild(f, dir), testing::ExitedWithCode(0), "");
#endif
            EXPECT_EQ(Snapshot(dir.path(), dir / f.src), before);
            fs::remove(dst);
        }
    }
    for (const char* name : {"locked", "readonly.bmp"}) fs::permissions(dir.path() / name, fs::perms::owner_all);  // so that they can be removed
}

TEST(Faults, EveryRefusalAndFailureLeavesTheFolderAsItWas) { RunFaultTable(false); }

TEST(Faults, EveryRefusalAndFailureOfPosixOnlyMakingLeavesTheFolderAsItWas) {
#ifdef _WIN32
    GTEST_SKIP() << "not on Windows: FIFOs, users, modes and resource limits make these rows";
#endif
    RunFaultTable(true);
}

}  // namespace
}  // namespace pictrim
