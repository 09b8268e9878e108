// Explorer's way of handing a selection to pictrim.exe, as the shell does
// it: the class registered as a local server, created out of process,
// given a data object of the files through DragEnter and Drop. Needs a
// display (the window opens) and the build's pictrim.exe.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winsvc.h>

#include <string>
#include <vector>

#include "bmp_fixture.h"
#include "platform/utf8_path.h"
#include "platform/win32/wide_path.h"
#include "resource.h"
#include "ui/win32/shell_selection.h"

namespace pictrim {
namespace {

bool NoDesktop() {
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine && GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0;
}

// pictrim.exe of this build, beside the tests' folder.
std::wstring BuiltProgram() {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    self.resize(self.find_last_of(L'\\'));
    return self.substr(0, self.find_last_of(L'\\')) + L"\\ui\\win32\\pictrim.exe";
}

// The class as the installer registers it, while the test runs: for the
// machine as the installer does (Wine 8 looks classes up there only), or
// for this user where the test may not write there.
class ClassRegistration {
public:
    explicit ClassRegistration(const std::wstring& program) {
        const std::wstring command = L"\"" + program + L"\"";
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            if (RegSetKeyValueW(root, (kKey + L"\\LocalServer32").c_str(), nullptr, REG_SZ, command.c_str(),
                                static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS) {
                m_root = root;
                break;
            }
        }
    }
    ~ClassRegistration() {
        if (m_root != nullptr) RegDeleteTreeW(m_root, kKey.c_str());
    }
    bool ok() const { return m_root != nullptr; }

private:
    inline static const std::wstring kKey = L"Software\\Classes\\CLSID\\{AB592894-8D00-472E-BDFF-E268CBA0E760}";
    HKEY m_root = nullptr;
};

std::vector<DWORD> ProgramProcesses() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (CompareStringOrdinal(entry.szExeFile, -1, L"pictrim.exe", -1, TRUE) == CSTR_EQUAL) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return ids;
}

std::vector<HWND> BatchWindows() {
    std::vector<HWND> found;
    EnumWindows([](HWND window, LPARAM list) -> BOOL {
        wchar_t title[64] = L"";
        GetWindowTextW(window, title, 64);
        if (IsWindowVisible(window) && std::wstring(title) == L"Pictrim - 一括変換") {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The data object Explorer hands a verb for a selection in a folder: the
// folder's own, asked for the items selected in it.
IDataObject* SelectionOf(const std::wstring& folder, const std::vector<std::wstring>& names) {
    IShellFolder* shellFolder = nullptr;
    PIDLIST_ABSOLUTE parent = ILCreateFromPathW(folder.c_str());
    if (parent == nullptr || FAILED(SHBindToObject(nullptr, parent, nullptr, IID_PPV_ARGS(&shellFolder)))) return nullptr;
    ILFree(parent);
    std::vector<PITEMID_CHILD> children;
    for (std::wstring name : names) {
        PIDLIST_RELATIVE child = nullptr;
        if (FAILED(shellFolder->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &child, nullptr))) break;
        children.push_back(static_cast<PITEMID_CHILD>(child));
    }
    IDataObject* data = nullptr;
    if (children.size() == names.size()) {
        shellFolder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()),
                                   const_cast<PCUITEMID_CHILD_ARRAY>(children.data()), IID_IDataObject, nullptr,
                                   reinterpret_cast<void**>(&data));
    }
    for (PITEMID_CHILD child : children) ILFree(child);
    shellFolder->Release();
    return data;
}

// Windows always runs the COM service. Wine starts it on demand, but not
// while a fresh prefix is still being set up (the service database locked
// for some seconds), and COM does not try again: waited for here.
bool ComServiceRuns() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, L"RpcSs", SERVICE_START | SERVICE_QUERY_STATUS) : nullptr;
    bool running = false;
    for (int i = 0; i < 1200 && service != nullptr; ++i) {
        SERVICE_STATUS status{};
        running = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
        if (running) break;
        if (status.dwCurrentState == SERVICE_STOPPED) StartServiceW(service, 0, nullptr);
        Sleep(100);
    }
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    return running;
}

template <typename Done>
bool WaitFor(Done done) {
    // A limit for a start on a loaded machine, not a measure of speed.
    for (int i = 0; i < 1200 && !done(); ++i) Sleep(100);
    return done();
}

// 100 files selected and dropped on the verb's class reach one process,
// which shows them all in one batch window.
TEST(Win32ShellSelection, AHundredSelectedFilesOpenOneBatchWindow) {
    if (NoDesktop()) GTEST_SKIP() << "Wine without DISPLAY makes no windows; run under xvfb-run";
    ASSERT_TRUE(ProgramProcesses().empty()) << "another pictrim.exe runs already";
    test::TempDir dir;
    const std::wstring folder = platform::Wide(platform::Utf8Of(dir.path()));
    const test::Bytes bmp = test::EncodeBmp(test::RandomPicture(8, 6, 1));
    std::vector<std::wstring> names;
    for (int i = 0; i < 100; ++i) {
        names.push_back(L"写真" + std::to_wstring(i) + L".bmp");
        test::WriteFileBytes(dir.path() / names.back(), bmp);
    }
    ClassRegistration registration(BuiltProgram());
    ASSERT_TRUE(registration.ok());
    ASSERT_TRUE(ComServiceRuns());

    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IDataObject* data = SelectionOf(folder, names);
    ASSERT_NE(data, nullptr);
    IDropTarget* target = nullptr;
    const HRESULT made = CoCreateInstance(ui::kShellSelectionClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&target));
    ASSERT_TRUE(SUCCEEDED(made)) << std::hex << made;
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
    EXPECT_EQ(target->DragEnter(data, MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
    EXPECT_EQ(target->Drop(data, MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
    target->Release();
    data->Release();

    ASSERT_TRUE(WaitFor([] { return !BatchWindows().empty(); })) << "no batch window";
    const std::vector<HWND> windows = BatchWindows();
    EXPECT_EQ(windows.size(), 1u);
    EXPECT_EQ(ProgramProcesses().size(), 1u);
    HWND list = GetDlgItem(windows[0], IDC_BATCH_LIST);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 100);

    DWORD process = 0;
    GetWindowThreadProcessId(windows[0], &process);
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
    PostMessageW(windows[0], WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(handle, 120'000), WAIT_OBJECT_0);
    CloseHandle(handle);
    CoUninitialize();
}

}  // namespace
}  // namespace pictrim
