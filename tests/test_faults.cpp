// Hostile files and failing file systems: a clear notice, the destination
// exactly as it was, and no temporary file left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "bmp_fixture.h"
#include "child_job.h"
#include "engine/exec_thread.h"
#include "engine/ratio.h"
#include "fake_notices.h"
#include "platform/source_file.h"
#include "platform/zeroed_block.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using Texts = std::vector<std::string>;

const Bytes kOld{'o', 'l', 'd'};
std::string OpenFailure(const std::string& path) { return path + " - ファイルが開けません。"; }

class Faults : public testing::Test {
protected:
    void SetUp() override {
        fs::permissions(m_dir.path(), fs::perms::all);  // open to "nobody" too
        test::WriteFileBytes(m_dir / "src.bmp", m_good);
        ::chmod((m_dir / "src.bmp").c_str(), 0644);
    }
    void TearDown() override {
        platform::SetBeforeReadHookForTesting({});
        platform::SetAllocationCeilingForTesting(0);
    }
    Texts RunJob(const std::string& src, const std::string& dst, std::int32_t percent = 50, std::int32_t index = 5) {
        test::FakeNotices notices;
        CExecThread job({&notices, src, dst, nullptr, percent, index});
        job.ConversionJob();
        return notices.texts;
    }

    test::TempDir m_dir;
    Bytes m_good = test::EncodeBmp(test::RandomPicture(19, 30, 4));
};

Bytes With(Bytes file, std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields, std::size_t length = 0) {
    for (const auto& [at, value] : fields) test::PutU32(file, at, value);
    if (length != 0) file.resize(length);
    return file;
}

TEST_F(Faults, BadSourcesAreRefusedBeforeTheDestinationOrLargeMemoryIsTouched) {
    const std::string src = m_dir / "src.bmp";
    const std::string broken = src + " - Bitmapファイルが壊れています。";
    const std::string tooLarge = src + " - 画像が大きすぎて変換できません。";
    const std::string notBitmap = "Bitmapファイル以外には対応していません。";
    const std::string notYet = "まだ出来てないっすよ。(^^;";
    struct Case {
        const char* name;
        std::optional<Bytes> file;  // none: no file at all
        std::string notice;
        std::int32_t percent = 50, index = 5;
        std::uint64_t sparseLength = 0;  // grown to this without writing
    };
    const Case cases[] = {
        {"missing", std::nullopt, OpenFailure(src)},
        {"empty", Bytes{}, notBitmap},
        {"one byte", Bytes{'B'}, notBitmap},
        {"MB", With(m_good, {{0, 'M' | ('B' << 8)}}), notBitmap},
        {"8 bits", With(m_good, {{26, 1 | (8u << 16)}}), "8 color Bitmap - 非対応です。"},
        {"OS/2 header, 8 bits", With(m_good, {{14, 12}, {22, 1 | (8u << 16)}}), "8 color Bitmap - 非対応です。"},
        {"OS/2 header, 24 bits", With(m_good, {{14, 12}, {22, 1 | (24u << 16)}}), "OS/2 Bitmap - 非対応です。"},
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
        {"enlarged past 4 GiB", With(m_good, {{18, 40000}, {22, 9000}}, 54), tooLarge, 200, 6, 54 + 120000ull * 9000},
        {"too narrow for 5 %", m_good, "画像が小さすぎて、この縮小率では変換できません。", 5, 0},
        {"75 percent", m_good, notYet, 75, 5},
        {"150 percent", m_good, notYet, 150, 6},
        {"index past the list", m_good, notYet, 200, 7},
    };
    // Refusals must not need memory: none of them may reach an allocation.
    platform::SetAllocationCeilingForTesting(std::size_t{1} << 16);
    for (const bool replacing : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (replacing ? ", replacing" : ", new destination"));
            fs::remove(src);
            if (c.file) test::WriteFileBytes(src, *c.file);
            if (c.sparseLength != 0) fs::resize_file(src, c.sparseLength);
            if (replacing) test::WriteFileBytes(m_dir / "dst.bmp", kOld);
            const auto before = m_dir.Names();
            EXPECT_EQ(RunJob(src, m_dir / "dst.bmp", c.percent, c.index).back(), c.notice);
            EXPECT_EQ(m_dir.Names(), before);
            if (replacing) {
                EXPECT_EQ(test::ReadFileBytes(m_dir / "dst.bmp"), kOld);
            }
            fs::remove(m_dir.path() / "dst.bmp");
        }
    }
}

TEST_F(Faults, DestinationsThatCannotBeReplacedFailToOpen) {
    fs::create_directory(m_dir.path() / "sub");
    fs::create_directory(m_dir.path() / "folder.bmp");
    fs::create_symlink(m_dir.path() / "src.bmp", m_dir.path() / "link.bmp");
    fs::create_hard_link(m_dir.path() / "src.bmp", m_dir.path() / "hard.bmp");
    fs::create_symlink(m_dir.path() / "nowhere.bmp", m_dir.path() / "dangling.bmp");
    ASSERT_EQ(::mkfifo((m_dir / "fifo.bmp").c_str(), 0600), 0);
    const auto before = m_dir.Names();
    for (const std::string& dst : {m_dir / "link.bmp", m_dir / "hard.bmp", m_dir / "sub/../src.bmp", m_dir / "folder.bmp",
                                   m_dir / "dangling.bmp", m_dir / "fifo.bmp", m_dir / "gone/dst.bmp",
                                   std::string("/dev/null")}) {
        EXPECT_EQ(RunJob(m_dir / "src.bmp", dst).back(), OpenFailure(dst));
    }
    EXPECT_EQ(test::ReadFileBytes(m_dir / "src.bmp"), m_good);
    EXPECT_EQ(m_dir.Names(), before);
}

TEST_F(Faults, PermissionDeniedOnEitherSide) {
    fs::create_directory(m_dir.path() / "locked");
    test::WriteFileBytes(m_dir / "locked/dst.bmp", kOld);
    ::chmod((m_dir / "locked/dst.bmp").c_str(), 0666);
    ::chmod((m_dir / "locked").c_str(), 0555);  // the file may be written, its folder not
    test::WriteFileBytes(m_dir / "readonly.bmp", kOld);
    ::chmod((m_dir / "readonly.bmp").c_str(), 0444);
    test::WriteFileBytes(m_dir / "secret.bmp", m_good);
    ::chmod((m_dir / "secret.bmp").c_str(), 0);
    const std::pair<std::string, std::string> cases[] = {{"secret.bmp", "new.bmp"},
                                                          {"src.bmp", "readonly.bmp"},
                                                          {"src.bmp", "locked/new.bmp"},
                                                          {"src.bmp", "locked/dst.bmp"}};
    for (const auto& [src, dst] : cases) {
        const Texts shown = test::RunJobInChild(test::DropToNobody, m_dir / src, m_dir / dst, 5);
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), OpenFailure(m_dir / (src == "secret.bmp" ? src : dst))) << src << " -> " << dst;
    }
    EXPECT_EQ(test::ReadFileBytes(m_dir / "readonly.bmp"), kOld);
    EXPECT_EQ(test::ReadFileBytes(m_dir / "locked/dst.bmp"), kOld);
    EXPECT_EQ(m_dir.Names("locked"), Texts{"dst.bmp"});
    EXPECT_EQ(m_dir.Names(), (Texts{"locked", "readonly.bmp", "secret.bmp", "src.bmp"}));
}

TEST_F(Faults, FullDiskLeavesNoPartialFile) {
    test::WriteFileBytes(m_dir / "src.bmp", test::EncodeBmp(test::RandomPicture(200, 100, 3)));
    const auto smallDisk = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const std::string failure = m_dir / "dst.bmp" + " - ファイルに書き込めません。";
    EXPECT_EQ(test::RunJobInChild(smallDisk, m_dir / "src.bmp", m_dir / "dst.bmp", 6), Texts{failure});
    EXPECT_EQ(m_dir.Names(), Texts{"src.bmp"});
    test::WriteFileBytes(m_dir / "dst.bmp", kOld);
    EXPECT_EQ(test::RunJobInChild(smallDisk, m_dir / "src.bmp", m_dir / "dst.bmp", 6).back(), failure);
    EXPECT_EQ(test::ReadFileBytes(m_dir / "dst.bmp"), kOld);
    EXPECT_EQ(m_dir.Names(), (Texts{"dst.bmp", "src.bmp"}));
}

TEST_F(Faults, SourceShrinkingWhileReadAndMemoryShortage) {
    test::WriteFileBytes(m_dir / "dst.bmp", kOld);
    int reads = 0;  // the signature, the rest of the header, then the rows
    platform::SetBeforeReadHookForTesting([&] {
        if (++reads == 3) fs::resize_file(m_dir.path() / "src.bmp", 100);
    });
    EXPECT_EQ(RunJob(m_dir / "src.bmp", m_dir / "dst.bmp").back(), m_dir / "src.bmp" + " - ファイルが読み込めません。");
    platform::SetBeforeReadHookForTesting({});
    test::WriteFileBytes(m_dir / "src.bmp", m_good);
    platform::SetAllocationCeilingForTesting(100);
    EXPECT_EQ(RunJob(m_dir / "src.bmp", m_dir / "dst.bmp").back(), "メモリが足りません。");
    EXPECT_EQ(test::ReadFileBytes(m_dir / "dst.bmp"), kOld);
    EXPECT_EQ(m_dir.Names(), (Texts{"dst.bmp", "src.bmp"}));
}

}  // namespace
}  // namespace pictrim
