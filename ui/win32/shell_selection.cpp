#include "shell_selection.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>

namespace pictrim::ui {

namespace {

// Long enough for COM to ask for the object once it started the program;
// a start with no request at all (the shell gave up) ends the server.
constexpr UINT kFirstRequestMs = 60'000;

struct Selection {
    std::vector<std::wstring> paths;
    bool dropped = false;
    bool objectMade = false;
    bool ended = false;
    // Once only: a later release (the shell's, or the disconnection's)
    // must not end the window's loop that follows.
    void End() {
        if (ended) return;
        ended = true;
        PostQuitMessage(0);
    }
};

// One object per server: its Drop takes the paths and ends the wait. The
// shell's call returns at once, before any window opens, so Explorer never
// waits for the window.
class SelectionTarget final : public IDropTarget {
public:
    explicit SelectionTarget(Selection& selection) : m_selection(selection) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget)) {
            *object = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        // Let go of without a drop: nothing will come.
        if (left == 0) m_selection.End();
        return left;
    }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override {
        return Offer(effect);
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override { return Offer(effect); }
    HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        if (m_selection.dropped) return E_UNEXPECTED;  // one selection per process
        m_selection.paths = PathsInDataObject(data);
        m_selection.dropped = true;
        m_selection.End();
        return Offer(effect);
    }

private:
    static HRESULT Offer(DWORD* effect) {
        if (effect == nullptr) return E_INVALIDARG;
        // The files are read, never moved: a copy is all that is offered.
        *effect &= DROPEFFECT_COPY;
        return S_OK;
    }

    Selection& m_selection;
    std::atomic<ULONG> m_refs{0};
};

// Hands out one object: REGCLS_SINGLEUSE makes COM start another process
// for the next selection, which gets a window of its own.
class SelectionFactory final : public IClassFactory {
public:
    explicit SelectionFactory(Selection& selection) : m_selection(selection), m_target(selection) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the server's stack, for as long as it is registered.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        if (m_selection.objectMade) return E_UNEXPECTED;
        const HRESULT result = m_target.QueryInterface(iid, object);
        if (SUCCEEDED(result)) m_selection.objectMade = true;
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    IUnknown* Target() { return &m_target; }

private:
    Selection& m_selection;
    SelectionTarget m_target;
};

}  // namespace

bool StartedByCom(const std::vector<std::wstring>& args) {
    return args.size() == 1 &&
           (CompareStringOrdinal(args[0].c_str(), -1, L"-Embedding", -1, TRUE) == CSTR_EQUAL ||
            CompareStringOrdinal(args[0].c_str(), -1, L"/Embedding", -1, TRUE) == CSTR_EQUAL);
}

std::vector<std::wstring> ReceiveShellSelection() {
    Selection selection;
    SelectionFactory factory(selection);
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(kShellSelectionClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                     &cookie))) {
        return {};
    }
    const UINT_PTR timer = SetTimer(nullptr, 0, kFirstRequestMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == timer) {
            KillTimer(nullptr, timer);
            if (!selection.objectMade) break;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    KillTimer(nullptr, timer);
    CoRevokeClassObject(cookie);
    // The shell may still hold the object, which lives no longer than this
    // call: whatever it holds is cut off first.
    CoDisconnectObject(factory.Target(), 0);
    return selection.dropped ? selection.paths : std::vector<std::wstring>{};
}

std::vector<std::wstring> PathsInDataObject(IDataObject* data) {
    std::vector<std::wstring> paths;
    if (data == nullptr) return paths;
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (SUCCEEDED(data->GetData(&format, &medium))) {
        if (auto drop = static_cast<HDROP>(GlobalLock(medium.hGlobal))) {
            const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
            for (UINT i = 0; i < count; ++i) {
                std::wstring path(DragQueryFileW(drop, i, nullptr, 0), L'\0');
                DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size() + 1));
                paths.push_back(path);
            }
            GlobalUnlock(medium.hGlobal);
        }
        ReleaseStgMedium(&medium);
        return paths;
    }
    // A selection of items that are not plain files (a library, a search's
    // results) comes as the shell's item list.
    IShellItemArray* items = nullptr;
    if (FAILED(SHCreateShellItemArrayFromDataObject(data, IID_PPV_ARGS(&items)))) return paths;
    DWORD count = 0;
    items->GetCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        IShellItem* item = nullptr;
        if (FAILED(items->GetItemAt(i, &item))) continue;
        PWSTR path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
            paths.emplace_back(path);
            CoTaskMemFree(path);
        }
        item->Release();
    }
    items->Release();
    return paths;
}

}  // namespace pictrim::ui
