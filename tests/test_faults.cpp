// Hostile inputs and failing file systems: whatever happens, a clear notice,
// the destination exactly as it was, and no temporary file left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "bmp_fixture.h"
#include "child_job.h"
#include "engine/exec_thread.h"
#include "engine/ratio.h"
#include "fake_notices.h"
#include "platform/source_file.h"
#include "platform/zeroed_block.h"
#include "reference_resize.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

const std::vector<std::uint8_t> kOld{'o', 'l', 'd'};
std::string OpenFailure(const std::string& path) { return path + " - ファイルが開けません。"; }

class Faults : public testing::Test {
protected:
    void SetUp() override {
        // Open to the unprivileged user that the permission cases run as.
        fs::permissions(m_dir.path(), fs::perms::all);
        test::WriteFileBytes(m_dir / "src.bmp", test::EncodeBmp(m_picture));
        ::chmod((m_dir / "src.bmp").c_str(), 0644);
    }
    void TearDown() override {
        platform::SetBeforeReadHookForTesting({});
        platform::SetAllocationCeilingForTesting(0);
    }

    Texts RunJob(const std::string& src, const std::string& dst, int index = 5) {
        test::FakeNotices notices;
        CExecThread job({&notices, src, dst, nullptr, RatioList[index].percent, index});
        job.ConversionJob();
        return notices.Texts();
    }

    test::TempDir m_dir;
    test::Picture m_picture = test::RandomPicture(64, 48, 77);
};

TEST_F(Faults, PermissionDeniedOnEitherSide) {
    fs::create_directory(m_dir.path() / "locked");
    test::WriteFileBytes(m_dir / "locked/dst.bmp", kOld);
    ::chmod((m_dir / "locked/dst.bmp").c_str(), 0666);
    ::chmod((m_dir / "locked").c_str(), 0555);  // the file may be written, the folder not
    test::WriteFileBytes(m_dir / "readonly.bmp", kOld);
    ::chmod((m_dir / "readonly.bmp").c_str(), 0444);
    test::WriteFileBytes(m_dir / "secret.bmp", test::EncodeBmp(m_picture));
    ::chmod((m_dir / "secret.bmp").c_str(), 0);

    struct Case {
        const char* name;
        std::string src, dst, notice;
    };
    const Case cases[] = {
        {"unreadable source", m_dir / "secret.bmp", m_dir / "new.bmp", OpenFailure(m_dir / "secret.bmp")},
        {"read-only destination", m_dir / "src.bmp", m_dir / "readonly.bmp", OpenFailure(m_dir / "readonly.bmp")},
        {"new file in a read-only folder", m_dir / "src.bmp", m_dir / "locked/new.bmp",
         OpenFailure(m_dir / "locked/new.bmp")},
        {"writable file in a read-only folder", m_dir / "src.bmp", m_dir / "locked/dst.bmp",
         OpenFailure(m_dir / "locked/dst.bmp")},
    };
    for (const Case& c : cases) {
        const Texts shown = test::RunJobInChild(test::DropToNobody, c.src, c.dst, 5);
        ASSERT_FALSE(shown.empty()) << c.name;
        EXPECT_EQ(shown.back(), c.notice) << c.name;
    }
    EXPECT_EQ(test::ReadFileBytes(m_dir / "readonly.bmp"), kOld);
    EXPECT_EQ(test::ReadFileBytes(m_dir / "locked/dst.bmp"), kOld);
    EXPECT_EQ(m_dir.Names(), (Texts{"locked", "readonly.bmp", "secret.bmp", "src.bmp"}));
    ::chmod((m_dir / "locked").c_str(), 0755);
    EXPECT_EQ(test::TempDir::NamesIn(m_dir.path() / "locked"), Texts{"dst.bmp"});
}

TEST_F(Faults, DestinationFolderRemovedBeforeTheJob) {
    fs::create_directory(m_dir.path() / "gone");
    const std::string dst = m_dir / "gone/dst.bmp";
    fs::remove(m_dir.path() / "gone");
    EXPECT_EQ(RunJob(m_dir / "src.bmp", dst), Texts{OpenFailure(dst)});
    EXPECT_EQ(m_dir.Names(), Texts{"src.bmp"});
}

TEST_F(Faults, SourceShrinkingAfterItWasOpenedIsAReadFailure) {
    test::WriteFileBytes(m_dir / "dst.bmp", kOld);
    int reads = 0;
    // Reads: the signature, the rest of the header, then the rows.
    platform::SetBeforeReadHookForTesting([&] {
        if (++reads == 3) fs::resize_file(m_dir.path() / "src.bmp", 1000);
    });
    const Texts shown = RunJob(m_dir / "src.bmp", m_dir / "dst.bmp");
    EXPECT_EQ(shown.back(), m_dir / "src.bmp" + " - ファイルが読み込めません。");
    EXPECT_EQ(test::ReadFileBytes(m_dir / "dst.bmp"), kOld);
    EXPECT_EQ(m_dir.Names(), (Texts{"dst.bmp", "src.bmp"}));
}

TEST_F(Faults, SourceRemovedAfterItWasOpenedStillConverts) {
    int reads = 0;
    platform::SetBeforeReadHookForTesting([&] {
        if (++reads == 3) fs::remove(m_dir.path() / "src.bmp");
    });
    EXPECT_EQ(RunJob(m_dir / "src.bmp", m_dir / "dst.bmp"), Texts{"完了しました。"});
    EXPECT_EQ(test::DecodeBmp(test::ReadFileBytes(m_dir / "dst.bmp")), test::ReferenceReduce(m_picture, 2));
}

TEST_F(Faults, HugeAndLyingHeadersAreRefusedBeforeAnyLargeAllocation) {
    const auto good = test::EncodeBmp(m_picture);
    auto patched = [&](std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields, std::size_t length = 0) {
        auto file = good;
        for (const auto& [at, value] : fields)
            for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        if (length != 0) file.resize(length);
        return file;
    };
    const std::string src = m_dir / "src.bmp";
    const std::string broken = src + " - Bitmapファイルが壊れています。";
    const std::string tooLarge = src + " - 画像が大きすぎて変換できません。";
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
        int index;
        std::string notice;
        std::uint64_t sparseLength = 0;  // grown to this without writing
    };
    const Case cases[] = {
        {"width 2^31", patched({{18, 0x80000000u}}), 5, tooLarge},
        {"width 2^32 - 1", patched({{18, 0xFFFFFFFFu}}), 6, tooLarge},
        {"65535 x 65535", patched({{18, 65535}, {22, 65535}}), 5, tooLarge},
        {"30000 x 30000 in a small file", patched({{18, 30000}, {22, 30000}}), 5, broken},
        {"rows missing for a large picture", patched({{18, 40000}, {22, 9000}}, 54), 6, broken},
        {"enlargement past 4 GiB", patched({{18, 40000}, {22, 9000}}, 54), 6, tooLarge, 54 + 120000ull * 9000},
        {"file size field says 2 GiB", patched({{2, 0x80000000u}}, 200), 5, broken},
        {"pixel offset past the end", patched({{10, 0xFFFFFFF0u}}), 5, broken},
        {"information header of 4 GiB", patched({{14, 0xFFFFFFFFu}}), 5, broken},
        {"height -1", patched({{22, 0xFFFFFFFFu}}), 5, "画像が小さすぎて、この縮小率では変換できません。"},
    };
    platform::SetAllocationCeilingForTesting(std::size_t{1} << 20);
    for (const Case& c : cases) {
        test::WriteFileBytes(src, c.file);
        if (c.sparseLength != 0) fs::resize_file(src, c.sparseLength);
        EXPECT_EQ(RunJob(src, m_dir / "dst.bmp", c.index), Texts{c.notice}) << c.name;
    }
    // A file size field that lies is not looked at: the file converts.
    test::WriteFileBytes(src, patched({{2, 7}}));
    EXPECT_EQ(RunJob(src, m_dir / "dst.bmp"), Texts{"完了しました。"});
}

}  // namespace
}  // namespace pictrim
