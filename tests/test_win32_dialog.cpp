// The Windows dialog and its drop fields, driven through their messages:
// drops built as Explorer builds them, clicks, and notices answered as they
// come up.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bmp_fixture.h"
#include "platform/utf8_path.h"
#include "platform/win32/wide_path.h"
#include "resource.h"
#include "ui/win32/batch_dlg.h"
#include "ui/win32/drop_edit.h"
#include "ui/win32/main_dlg.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;

// A drop's data as the shell hands it over: DROPFILES, then the names, each
// ended by a NUL, and one more NUL. The receiver frees it (DragFinish).
HDROP MakeDrop(const std::vector<std::wstring>& names) {
    std::size_t chars = 1;
    for (const std::wstring& name : names) chars += name.size() + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* at = reinterpret_cast<wchar_t*>(drop + 1);
    for (const std::wstring& name : names) {
        std::memcpy(at, name.c_str(), name.size() * sizeof(wchar_t));
        at += name.size() + 1;
    }
    GlobalUnlock(block);
    return static_cast<HDROP>(block);
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Wine draws windows through X: without a display it makes none. Windows
// always has its desktop.
bool NoDesktop() {
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine && GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0;
}
#define SKIP_WITHOUT_DESKTOP() \
    if (NoDesktop()) GTEST_SKIP() << "Wine without DISPLAY makes no windows; run under xvfb-run"

bool AcceptsDrops(HWND window) { return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0; }

TEST(Win32DropEdit, TakesTheFirstDroppedNameWhenItEndsInBmp) {
    SKIP_WITHOUT_DESKTOP();
    test::TempDir dir;
    const std::wstring folder = platform::Wide(platform::Utf8Of(dir.path()));
    fs::create_directory(dir.path() / "pictures.bmp");
    struct Row {
        std::vector<std::wstring> dropped;
        std::wstring expected;  // the field's text afterwards
    };
    const std::vector<Row> rows = {
        {{L"C:\\写真\\猫.BMP"}, L"C:\\写真\\猫.BMP"},
        {{L"C:\\pics\\a.bmp", L"C:\\pics\\b.txt"}, L"C:\\pics\\a.bmp"},
        {{L"C:\\pics\\a.txt", L"C:\\pics\\b.bmp"}, L"before"},
        {{folder}, L"before"},
        {{folder + L"\\pictures.bmp"}, folder + L"\\pictures.bmp"},  // a name is all that counts
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.dropped.size() << " names, first " << platform::Utf8(row.dropped[0]));
        HWND edit = CreateWindowExW(WS_EX_ACCEPTFILES, L"EDIT", L"before", WS_POPUP | ES_AUTOHSCROLL, 0, 0, 200, 20,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(edit, nullptr);
        CDropEdit field;
        ASSERT_TRUE(field.SubclassWindow(edit));
        SendMessageW(edit, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(row.dropped)), 0);
        EXPECT_EQ(TextOf(edit), row.expected);
        EXPECT_TRUE(AcceptsDrops(edit));
        DestroyWindow(edit);
    }
}

// Runs this thread's messages until `done`, as the modal loop would.
void PumpUntil(const std::function<bool()>& done) {
    while (!done()) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Answers the message boxes and task dialogs of this thread as they come
// up: `answer` sees the box's text (empty for a task dialog, whose text is
// not a control everywhere) and gives the button to press (0: leave it up).
class NoticeAnswerer {
public:
    explicit NoticeAnswerer(std::function<int(const std::wstring&)> answer) {
        s_self = this;
        m_answer = std::move(answer);
        m_timer = SetTimer(nullptr, 0, 10, Tick);
    }
    ~NoticeAnswerer() {
        KillTimer(nullptr, m_timer);
        s_self = nullptr;
    }
    std::vector<std::wstring> texts;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM) -> BOOL {
            wchar_t className[16] = L"";
            GetClassNameW(window, className, 16);
            // A box is a dialog owned by a window; a message box holds its
            // text in control 0xFFFF.
            HWND text = GetDlgItem(window, 0xFFFF);
            if (std::wcscmp(className, L"#32770") == 0 && IsWindowVisible(window) &&
                GetWindow(window, GW_OWNER) != nullptr && GetProp(window, L"answered") == nullptr) {
                s_self->texts.push_back(text != nullptr ? TextOf(text) : std::wstring());
                if (const int button = s_self->m_answer(s_self->texts.back())) {
                    SetPropW(window, L"answered", reinterpret_cast<HANDLE>(1));
                    if (text != nullptr) {
                        PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                    } else {
                        PostMessageW(window, TDM_CLICK_BUTTON, static_cast<WPARAM>(button), 0);
                    }
                }
            }
            return TRUE;
        }, 0);
    }
    static inline NoticeAnswerer* s_self = nullptr;
    std::function<int(const std::wstring&)> m_answer;
    UINT_PTR m_timer = 0;
};

class Win32DialogTest : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_DESKTOP();
        test::WriteFileBytes(Utf8Path("写真.bmp"), test::EncodeBmp(m_picture));
        ASSERT_NE(m_dlg.Create(), nullptr);
    }
    std::string Utf8Path(const std::string& name) {
        return platform::Utf8Of(m_dir.path() / platform::PathFromUtf8(name));
    }
    std::wstring Path(const std::string& name) { return platform::Wide(Utf8Path(name)); }
    HWND Item(int id) { return GetDlgItem(m_dlg.m_hWnd, id); }
    bool ExecuteEnabled() { return IsWindowEnabled(Item(IDC_EXECUTE)) != FALSE; }
    bool BusyCursor() {
        SendMessageW(m_dlg.m_hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(Item(IDC_SRC_EDIT)),
                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return GetCursor() == LoadCursorW(nullptr, IDC_APPSTARTING);
    }
    void Execute() { SendMessageW(Item(IDC_EXECUTE), BM_CLICK, 0, 0); }
    void WaitForJobEnd() {
        PumpUntil([&] { return !m_dlg.HasRunningJob(); });
        // The job's last word, Execute enabled, is a posted message.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }

    test::TempDir m_dir;
    test::Picture m_picture = test::RandomPicture(40, 30, 7);
    CMainDlg m_dlg;
};

// A drop reaches the dialog as typed text does, and the Execute rule follows.
TEST_F(Win32DialogTest, ADropOnTheSourceFieldIsTakenAsTyped) {
    SetWindowTextW(Item(IDC_DST_EDIT), Path("out.bmp").c_str());
    EXPECT_FALSE(ExecuteEnabled());
    SendMessageW(Item(IDC_SRC_EDIT), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Path("写真.bmp")})), 0);
    EXPECT_TRUE(ExecuteEnabled());
    // The destination named as the source, in other letter case: refused.
    SetWindowTextW(Item(IDC_DST_EDIT), Path("写真.BMP").c_str());
    EXPECT_FALSE(ExecuteEnabled());
}

// From the click to the job's end Execute stays off and the dialog shows
// the busy cursor; at the end the rule decides on the fields as they are
// then (changed while the notice is up).
TEST_F(Win32DialogTest, TheJobsEndAppliesTheExecuteRuleToTheFieldsAsTheyAreThen) {
    struct Row {
        const char* dstMeanwhile;
        bool enabledAfter;
    };
    for (const Row& row : {Row{"other.bmp", true}, Row{"", false}, Row{"写真.bmp", false}}) {
        SCOPED_TRACE(row.dstMeanwhile);
        fs::remove(m_dir.path() / "out.bmp");
        SetWindowTextW(Item(IDC_SRC_EDIT), Path("写真.bmp").c_str());
        SetWindowTextW(Item(IDC_DST_EDIT), Path("out.bmp").c_str());
        SendMessageW(Item(IDC_RATIO), CB_SETCURSEL, 3, 0);  // 25%
        ASSERT_TRUE(ExecuteEnabled());
        NoticeAnswerer answerer([&](const std::wstring&) {
            EXPECT_FALSE(ExecuteEnabled());
            EXPECT_TRUE(BusyCursor());
            SetWindowTextW(Item(IDC_DST_EDIT), *row.dstMeanwhile ? Path(row.dstMeanwhile).c_str() : L"");
            EXPECT_FALSE(ExecuteEnabled());
            return IDOK;
        });
        Execute();
        EXPECT_FALSE(ExecuteEnabled());
        WaitForJobEnd();
        EXPECT_EQ(answerer.texts, std::vector<std::wstring>{L"完了しました。"});
        EXPECT_EQ(ExecuteEnabled(), row.enabledAfter);
        EXPECT_FALSE(BusyCursor());
        EXPECT_EQ(test::ReadFileBytes(Utf8Path("out.bmp")), test::ExpectedOutput(m_picture, 3));
    }
}

// Closed while the overwrite question is up: the question goes, the job
// stops, and the destination is as it was.
TEST_F(Win32DialogTest, ClosingDuringTheQuestionLeavesTheDestinationAsItWas) {
    test::WriteFileBytes(Utf8Path("out.bmp"), test::kOld);
    SetWindowTextW(Item(IDC_SRC_EDIT), Path("写真.bmp").c_str());
    SetWindowTextW(Item(IDC_DST_EDIT), Path("out.bmp").c_str());
    NoticeAnswerer answerer([&](const std::wstring&) {
        PostMessageW(m_dlg.m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    });
    Execute();
    PumpUntil([&] { return m_dlg.m_hWnd == nullptr; });
    EXPECT_FALSE(m_dlg.HasRunningJob());
    ASSERT_EQ(answerer.texts.size(), 1u);
    EXPECT_EQ(answerer.texts[0], Path("out.bmp") + L" は既に存在します。上書きしますか？");
    EXPECT_EQ(test::ReadFileBytes(Utf8Path("out.bmp")), test::kOld);
    EXPECT_EQ(m_dir.Names(), (std::vector<std::string>{"out.bmp", "写真.bmp"}));
}

// The batch window on three BMP files and one that is not, results beside
// them; `existing`: each destination there before, holding kOld.
class Win32BatchTest : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_DESKTOP();
        for (int i = 0; i < 3; ++i) test::WriteFileBytes(Source(i), test::EncodeBmp(m_picture));
        test::WriteFileBytes(m_dir.path() / "メモ.bmp", test::kOld);
        ASSERT_NE(m_dlg.Create(), nullptr);
        std::vector<std::wstring> paths;
        for (int i = 0; i < 3; ++i) paths.push_back(platform::Wide(platform::Utf8Of(Source(i))));
        paths.push_back(platform::Wide(platform::Utf8Of(m_dir.path() / "メモ.bmp")));
        m_dlg.AddPaths(paths);
    }
    fs::path Source(int i) { return m_dir.path() / ("写真" + std::to_string(i) + ".bmp"); }
    fs::path Result(int i) { return m_dir.path() / ("写真" + std::to_string(i) + "_50.bmp"); }
    // Presses 実行 and runs the window's messages until the run has ended.
    void Execute() {
        ASSERT_TRUE(IsWindowEnabled(GetDlgItem(m_dlg.m_hWnd, IDC_BATCH_EXECUTE)));
        SendMessageW(GetDlgItem(m_dlg.m_hWnd, IDC_BATCH_EXECUTE), BM_CLICK, 0, 0);
        PumpUntil([&] { return m_dlg.m_hWnd == nullptr || !m_dlg.Logic().Running(); });
    }

    test::TempDir m_dir;
    test::Picture m_picture = test::RandomPicture(40, 30, 11);
    CBatchDlg m_dlg;
};

TEST_F(Win32BatchTest, ExecuteConvertsEveryBitmapAndTellsTheCounts) {
    EXPECT_EQ(SendMessageW(GetDlgItem(m_dlg.m_hWnd, IDC_BATCH_LIST), LVM_GETITEMCOUNT, 0, 0), 4);
    NoticeAnswerer answerer([](const std::wstring&) { return IDOK; });
    Execute();
    PumpUntil([&] { return !answerer.texts.empty(); });
    EXPECT_EQ(answerer.texts, std::vector<std::wstring>{
                                  L"完了しました。\n変換: 3 件\nスキップ: 0 件\n変換不可: 1 件\n失敗: 0 件"});
    for (int i = 0; i < 3; ++i) EXPECT_EQ(test::ReadFileBytes(Result(i)), test::ExpectedOutput(m_picture, 5));
    EXPECT_FALSE(fs::exists(m_dir.path() / "メモ_50.bmp"));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(m_dlg.m_hWnd, IDC_BATCH_EXECUTE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(m_dlg.m_hWnd, IDC_BATCH_STOP)));
}

// A drop on the window adds what it names: a folder's bitmaps in any case,
// not a file listed already, nor a folder's other files.
TEST_F(Win32BatchTest, ADropAddsAFoldersBitmapsAndNoFileTwice) {
    fs::create_directory(m_dir.path() / "sub");
    test::WriteFileBytes(m_dir.path() / "sub" / "A.BMP", test::EncodeBmp(m_picture));
    test::WriteFileBytes(m_dir.path() / "sub" / "b.txt", test::kOld);
    const auto wide = [](const fs::path& path) { return platform::Wide(platform::Utf8Of(path)); };
    SendMessageW(m_dlg.m_hWnd, WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({wide(Source(0)), wide(m_dir.path() / "sub")})), 0);
    EXPECT_EQ(SendMessageW(GetDlgItem(m_dlg.m_hWnd, IDC_BATCH_LIST), LVM_GETITEMCOUNT, 0, 0), 5);
}

// The first question's すべてはい or すべていいえ answers the other files too.
TEST_F(Win32BatchTest, AllOrNoneAtTheFirstQuestionAnswersTheRest) {
    struct Row {
        int button;
        bool replaced;
    };
    for (const Row& row : {Row{100, true}, Row{101, false}}) {
        SCOPED_TRACE(row.button);
        for (int i = 0; i < 3; ++i) test::WriteFileBytes(Result(i), test::kOld);
        int questions = 0;
        NoticeAnswerer answerer([&](const std::wstring& text) {
            if (!text.empty()) return IDOK;  // the summary
            ++questions;
            return row.button;
        });
        Execute();
        PumpUntil([&] { return answerer.texts.size() == 2; });
        EXPECT_EQ(questions, 1);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(test::ReadFileBytes(Result(i)),
                      row.replaced ? test::ExpectedOutput(m_picture, 5) : test::kOld);
        }
    }
}

// Closed while the question is up: the run stops, every destination as it
// was, no file left behind.
TEST_F(Win32BatchTest, ClosingDuringTheQuestionLeavesEveryDestinationAsItWas) {
    for (int i = 0; i < 3; ++i) test::WriteFileBytes(Result(i), test::kOld);
    NoticeAnswerer answerer([&](const std::wstring&) {
        PostMessageW(m_dlg.m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    });
    SendMessageW(GetDlgItem(m_dlg.m_hWnd, IDC_BATCH_EXECUTE), BM_CLICK, 0, 0);
    PumpUntil([&] { return m_dlg.m_hWnd == nullptr; });
    EXPECT_FALSE(m_dlg.Logic().Running());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(test::ReadFileBytes(Result(i)), test::kOld);
    EXPECT_EQ(m_dir.Names().size(), 7u);
}

}  // namespace
}  // namespace pictrim
