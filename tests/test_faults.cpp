// Hostile files and failing file systems: a clear notice, the destination
// exactly as it was, and no temporary file left behind.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <optional>

#include "bmp_fixture.h"
#include "job_harness.h"
#include "platform/source_file.h"
#include "platform/zeroed_block.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const Bytes kOld{'o', 'l', 'd'};
std::string OpenFailure(const std::string& path) { return path + " - ファイルが開けません。"; }

// Every entry under a folder, with the bytes of those that are regular files.
std::map<std::string, Bytes> Snapshot(const fs::path& dir) {
    std::map<std::string, Bytes> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        entries[fs::relative(e.path(), dir)] = e.is_regular_file() ? test::ReadFileBytes(e.path()) : Bytes{};
    return entries;
}

// In a child process, so that a case can give up root, lower a limit or set
// a test hook alone: `prepare`, then the job, whose outcome goes to stderr.
void JobInChild(const std::function<void()>& prepare, const std::string& src, const std::string& dst) {
    prepare();
    std::cerr << test::RunJob(src, dst, 6);
    ::_exit(testing::Test::HasFailure() ? 1 : 0);
}

// Gives up root for the "nobody" user, so that file permissions apply.
void DropToNobody() {
    constexpr uid_t kNobody = 65534;
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        std::abort();
}

Bytes With(Bytes file, std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields, std::size_t length = 0) {
    for (const auto& [at, value] : fields) test::PutU32(file, at, value);
    if (length != 0) file.resize(length);
    return file;
}

class Faults : public testing::Test {
protected:
    void SetUp() override {
        fs::permissions(m_dir.path(), fs::perms::all);  // open to "nobody" too
        test::WriteFileBytes(m_src, m_good);
        ::chmod(m_src.c_str(), 0644);
    }

    test::TempDir m_dir;
    const std::string m_src = m_dir / "src.bmp", m_dst = m_dir / "dst.bmp";
    const Bytes m_good = test::EncodeBmp(test::RandomPicture(19, 30, 4));
};

TEST_F(Faults, BadSourcesAreRefusedBeforeTheDestinationOrLargeMemoryIsTouched) {
    const std::string broken = m_src + " - Bitmapファイルが壊れています。";
    const std::string tooLarge = m_src + " - 画像が大きすぎて変換できません。";
    const std::string notBitmap = "Bitmapファイル以外には対応していません。";
    const std::string notYet = "まだ出来てないっすよ。(^^;";
    struct Case {
        const char* name;
        std::optional<Bytes> file;  // none: no file at all
        std::string notice;
        int index = 5, percent = 0;      // percent 0: the listed one
        std::uint64_t sparseLength = 0;  // grown to this without writing
    };
    const Case cases[] = {
        {"missing", std::nullopt, OpenFailure(m_src)},
        {"empty", Bytes{}, notBitmap},
        {"one byte", Bytes{'B'}, notBitmap},
        {"MB", With(m_good, {{0, 'M' | ('B' << 8)}}), notBitmap},
        {"8 bits", With(m_good, {{26, 1 | (8u << 16)}}), "8 color Bitmap - 非対応です。"},
        {"OS/2 header, 8 bits", With(m_good, {{14, 12}, {22, 1 | (8u << 16)}}), "8 color Bitmap - 非対応です。"},
        {"OS/2 header, 24 bits", With(m_good, {{14, 12}, {22, 1 | (24u << 16)}}), broken},
        {"RLE", With(m_good, {{30, 1}}), "圧縮されたBitmap - 非対応です。"},
        {"bit fields", With(m_good, {{30, 3}}), "圧縮されたBitmap - 非対応です。"},
        {"headers only", With(m_good, {}, 54), broken},
        {"last row cut short", With(m_good, {}, m_good.size() - 1), broken},
        {"zero width", With(m_good, {{18, 0}}), broken},
        {"zero height", With(m_good, {{22, 0}}), broken},
        {"offset inside a v5 header", With(m_good, {{14, 124}}), broken},
        {"offset past the end", With(m_good, {{10, 0xFFFFFFF0u}}), broken},
        {"information header of 4 GiB", With(m_good, {{14, 0xFFFFFFFFu}}), broken},
        {"file size field says 2 GiB", With(m_good, {{2, 0x80000000u}}, 200), broken},
        {"30000 x 30000 in a small file", With(m_good, {{18, 30000}, {22, 30000}}), broken},
        {"width 2^31", With(m_good, {{18, 0x80000000u}}), tooLarge},
        {"height -2^31", With(m_good, {{22, 0x80000000u}}), tooLarge},
        {"65535 x 65535", With(m_good, {{18, 65535}, {22, 65535}}), tooLarge},
        {"enlarged past 4 GiB", With(m_good, {{18, 40000}, {22, 9000}}, 54), tooLarge, 6, 0, 54 + 120000ull * 9000},
        {"too narrow for 5 %", m_good, "画像が小さすぎて、この縮小率では変換できません。", 0},
        {"75 percent", m_good, notYet, 5, 75},
        {"150 percent", m_good, notYet, 6, 150},
        {"index past the list", m_good, notYet, 7, 200},
    };
    // Refusals must not need memory: none of them may reach an allocation.
    platform::SetAllocationCeilingForTesting(std::size_t{1} << 16);
    for (const bool replacing : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (replacing ? ", replacing" : ", new destination"));
            fs::remove(m_src);
            if (c.file) test::WriteFileBytes(m_src, *c.file);
            if (c.sparseLength != 0) fs::resize_file(m_src, c.sparseLength);
            if (replacing) test::WriteFileBytes(m_dst, kOld);
            const auto before = m_dir.Names();
            EXPECT_EQ(test::RunJob(m_src, m_dst, c.index, c.percent), c.notice);
            EXPECT_EQ(m_dir.Names(), before);
            if (replacing) {
                EXPECT_EQ(test::ReadFileBytes(m_dst), kOld);
            }
            fs::remove(m_dst);
        }
    }
    platform::SetAllocationCeilingForTesting(0);
}

TEST_F(Faults, DestinationsAndFileSystemsThatFail) {
    for (const char* folder : {"sub", "folder.bmp", "locked"}) fs::create_directory(m_dir.path() / folder);
    fs::create_symlink(m_src, m_dir.path() / "link.bmp");
    fs::create_hard_link(m_src, m_dir.path() / "hard.bmp");
    fs::create_symlink(m_dir.path() / "nowhere.bmp", m_dir.path() / "dangling.bmp");
    ASSERT_EQ(::mkfifo((m_dir / "fifo.bmp").c_str(), 0600), 0);
    for (const char* name : {"dst.bmp", "readonly.bmp", "locked/dst.bmp"}) test::WriteFileBytes(m_dir / name, kOld);
    test::WriteFileBytes(m_dir / "secret.bmp", m_good);
    // The locked folder's file may be written, the folder itself not.
    const std::pair<const char*, mode_t> modes[] = {
        {"locked/dst.bmp", 0666}, {"locked", 0555}, {"readonly.bmp", 0444}, {"secret.bmp", 0}};
    for (const auto& [name, mode] : modes) ::chmod((m_dir / name).c_str(), mode);

    const auto smallDisk = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};  // the enlarged picture needs 7014 bytes
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const auto shortOfMemory = [] { platform::SetAllocationCeilingForTesting(100); };
    struct Case {
        std::string src, dst, notice;
        std::function<void()> prepare = [] {};
    };
    const Case cases[] = {
        // The destination is the source under another name, or cannot be a file.
        {m_src, m_dir / "link.bmp", OpenFailure(m_dir / "link.bmp")},
        {m_src, m_dir / "hard.bmp", OpenFailure(m_dir / "hard.bmp")},
        {m_src, m_dir / "sub/../src.bmp", OpenFailure(m_dir / "sub/../src.bmp")},
        {m_src, m_dir / "folder.bmp", OpenFailure(m_dir / "folder.bmp")},
        {m_src, m_dir / "dangling.bmp", OpenFailure(m_dir / "dangling.bmp")},
        {m_src, m_dir / "fifo.bmp", OpenFailure(m_dir / "fifo.bmp")},
        {m_src, m_dir / "gone/dst.bmp", OpenFailure(m_dir / "gone/dst.bmp")},
        {m_src, "/dev/null", OpenFailure("/dev/null")},
        // Permission denied on either side.
        {m_dir / "secret.bmp", m_dir / "new.bmp", OpenFailure(m_dir / "secret.bmp"), DropToNobody},
        {m_src, m_dir / "readonly.bmp", OpenFailure(m_dir / "readonly.bmp"), DropToNobody},
        {m_src, m_dir / "locked/new.bmp", OpenFailure(m_dir / "locked/new.bmp"), DropToNobody},
        {m_src, m_dir / "locked/dst.bmp", OpenFailure(m_dir / "locked/dst.bmp"), DropToNobody},
        // Failing while converting.
        {m_src, m_dir / "new.bmp", m_dir / "new.bmp" + " - ファイルに書き込めません。", smallDisk},
        {m_src, m_dst, m_dst + " - ファイルに書き込めません。", smallDisk},
        {m_src, m_dst, "メモリが足りません。", shortOfMemory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src + " -> " + c.dst);
        const auto before = Snapshot(m_dir.path());
        EXPECT_EXIT(JobInChild(c.prepare, c.src, c.dst), testing::ExitedWithCode(0), "^" + c.notice + "$");
        EXPECT_EQ(Snapshot(m_dir.path()), before);
    }
}

TEST_F(Faults, SourceShrinkingWhileRead) {
    test::WriteFileBytes(m_dst, kOld);
    int reads = 0;  // the signature, the rest of the header, then the rows
    platform::SetBeforeReadHookForTesting([&] {
        if (++reads == 3) fs::resize_file(m_src, 100);
    });
    EXPECT_EQ(test::RunJob(m_src, m_dst, 5), m_src + " - ファイルが読み込めません。");
    platform::SetBeforeReadHookForTesting({});
    EXPECT_EQ(test::ReadFileBytes(m_dst), kOld);
    EXPECT_EQ(m_dir.Names(), (std::vector<std::string>{"dst.bmp", "src.bmp"}));
}

}  // namespace
}  // namespace pictrim
