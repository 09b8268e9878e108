#include "replacement_file.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <mutex>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "file_handle.h"
#include "wide_path.h"

namespace pictrim::platform {

namespace {

constexpr wchar_t kTempPrefix[] = L".pictrim-";
constexpr std::size_t kPrefixLength = std::size(kTempPrefix) - 1;

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::uint64_t RandomBits() {
    thread_local std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::GetCurrentProcessId())};
    return random();
}

// ".pictrim-<file index>-<random>", in hex, as on Linux: the index lets a
// later clean-up tell a file this program named from anybody's file that
// merely looks like one.
std::wstring TempNameIn(const std::wstring& folder, std::uint64_t index) {
    wchar_t name[48];
    std::swprintf(name, std::size(name), L"%ls%016llx-%08x", kTempPrefix, static_cast<unsigned long long>(index),
                  static_cast<unsigned>(RandomBits()));
    return Joined(folder, name);
}

// The name a temporary file is created under, for the moment until it
// carries its index.
std::wstring FreshNameIn(const std::wstring& folder) {
    wchar_t name[48];
    std::swprintf(name, std::size(name), L"%lsnew-%016llx", kTempPrefix, static_cast<unsigned long long>(RandomBits()));
    return Joined(folder, name);
}

bool IsHex(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); });
}

// The index in a name TempNameIn gave; none for any other name.
std::optional<std::uint64_t> IndexInTempName(const std::wstring& name) {
    constexpr std::size_t kLength = kPrefixLength + 16 + 1 + 8;
    if (name.size() != kLength || name.compare(0, kPrefixLength, kTempPrefix) != 0 || name[kPrefixLength + 16] != L'-' ||
        !IsHex(name.substr(kPrefixLength, 16)) || !IsHex(name.substr(kPrefixLength + 17))) {
        return std::nullopt;
    }
    return std::wcstoull(name.substr(kPrefixLength, 16).c_str(), nullptr, 16);
}

// True for a name FreshNameIn gives.
bool IsFreshName(const std::wstring& name) {
    constexpr std::size_t kNew = kPrefixLength + 4;
    return name.size() == kNew + 16 && name.compare(0, kNew, std::wstring(kTempPrefix) + L"new-") == 0 &&
           IsHex(name.substr(kNew));
}

// While set, the system deletes the file when its last handle goes, also
// when the process is killed.
bool MarkForDeletion(HANDLE file, bool mark) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = mark ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
}

// Renames the open file. Without `replace` an existing name is never
// replaced: the call fails with ERROR_ALREADY_EXISTS.
bool RenameTo(HANDLE file, const std::wstring& target, bool replace) {
    const std::size_t bytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes + sizeof(wchar_t), 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(info->FileName, target.data(), bytes);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

// A run killed in the moment between a file's deletion mark being lifted
// and its new name, or by a power cut, leaves it behind under its
// temporary name; a later run in the folder removes it. Only a file whose
// name carries its own index is taken, and only when nobody has it open: a
// live one is held without delete sharing. A kill between creating a file
// and marking it can leave one under its first name too, always empty:
// such a name is taken only while the file holds no byte. Never a source of
// this run nor this job's `source`. Once per folder and process.
void RemoveAbandonedTemporaries(const std::wstring& folder, const FileIdentity& source) {
    {
        static std::mutex mutex;
        static std::set<FileIdentity> done;
        const FileHandle dir(OpenToLookAt(folder));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!dir || !::GetFileInformationByHandle(dir.get(), &info)) return;
        std::lock_guard lock(mutex);
        if (!done.insert(IdentityOf(info)).second) return;
    }
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = Joined(folder, std::wstring(kTempPrefix) + L"*");
    const HANDLE search =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        const auto index = IndexInTempName(name);
        if ((!index && !IsFreshName(name)) || ReplacementFile::IsSparedName(Utf8(name))) continue;
        const FileHandle file(::CreateFileW(Joined(folder, name).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (file && ::GetFileInformationByHandle(file.get(), &info) &&
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
            (index ? IdentityOf(info).inode == *index : info.nFileSizeHigh == 0 && info.nFileSizeLow == 0)) {
            if (!ReplacementFile::IsSpared(IdentityOf(info), source)) MarkForDeletion(file.get(), true);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

}  // namespace

// Windows has no call that makes a folder's entries durable; NTFS logs the
// rename in its journal, so after a power cut the name is the old file's or
// the new, complete one's.
bool ReplacementFile::SyncFolder(const std::string&) { return true; }

// A volume is flushed whole only with administrator rights: each file is flushed.
std::optional<std::uint64_t> ReplacementFile::FlushedWhole(const std::string&) { return std::nullopt; }

bool ReplacementFile::SyncFileSystem(const std::string&) { return false; }

bool ReplacementFile::FinishFlushedWhole() { return FinishFlush(); }

bool ReplacementFile::CanMakeIn(const std::string& folder) {
    std::string at = folder;
    for (;;) {
        const std::wstring wide = LongPath(at);
        const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const DWORD error = ::GetLastError();
        const std::string parent = FolderOf(at);
        if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || parent == at) return false;
        at = parent;
    }
}

// NTFS journals the new folders with the files; there is nothing to flush.
bool ReplacementFile::MakeFolders(const std::string& folder) {
    std::vector<std::wstring> missing;  // innermost first
    for (std::string at = folder;; at = FolderOf(at)) {
        const std::wstring wide = LongPath(at);
        if (wide.empty()) return false;
        if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || FolderOf(at) == at) return false;
        missing.push_back(wide);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!::CreateDirectoryW(it->c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
}

ReplacementFile::State ReplacementFile::Inspect(const std::string& path, const std::optional<FileIdentity>& source,
                                                Target& target) {
    if (path.empty() || !HasFileName(path)) return State::Unusable;
    const std::wstring wide = LongPath(path);
    if (wide.empty()) return State::Unusable;
    target.path = path;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return State::Unusable;
        const std::wstring folder = LongPath(FolderOf(path));
        const DWORD folderAttributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(folder.c_str());
        return folderAttributes != INVALID_FILE_ATTRIBUTES && (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                   ? State::Absent
                   : State::FolderUnusable;
    }
    // Opening follows links; a dangling one does not open.
    const FileHandle file(OpenToLookAt(wide));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return State::Unusable;
    }
    // The same volume and file index: the source by another case, a short
    // name, a hard link or a link.
    if (source && IdentityOf(info) == *source) return State::SameAsSource;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return State::Unusable;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        target.path = FinalPath(file.get());
        if (target.path.empty()) return State::Unusable;
    }
    // Ask the system rather than the attributes: it knows the permissions,
    // and whether another program holds the file so that it cannot be
    // replaced. Nothing is truncated here.
    const FileHandle probe(::CreateFileW(LongPath(target.path).c_str(), GENERIC_WRITE | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!probe) return State::Unusable;
    target.mode = info.dwFileAttributes;
    return State::Replaceable;
}

bool ReplacementFile::CreateTemporary(const FileIdentity& source) {
    m_folder = FolderOf(m_target);
    const std::wstring folder = LongPath(m_folder);
    if (folder.empty()) return false;
    RemoveAbandonedTemporaries(folder, source);
    FileHandle file;
    std::wstring name;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        name = FreshNameIn(folder);
        // No delete sharing: a later run's clean-up cannot take it while it lives.
        file = FileHandle(::CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (!file) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file.get(), &info)) {
        const std::wstring lasting = TempNameIn(folder, IdentityOf(info).inode);
        if (RenameTo(file.get(), lasting, false)) name = lasting;
    }
    m_namedTemp = Utf8(name);
    // From here until it is put in place, the file goes with its handle.
    MarkForDeletion(file.get(), true);
    m_fd = reinterpret_cast<std::intptr_t>(file.release());
    return true;
}

bool ReplacementFile::Reserve(std::uint64_t bytes) {
    if (m_fd == -1) return false;
    FILE_ALLOCATION_INFO info{};
    info.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    if (bytes == 0 || ::SetFileInformationByHandle(AsHandle(m_fd), FileAllocationInfo, &info, sizeof info)) return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_DISK_FULL && error != ERROR_HANDLE_DISK_FULL;  // else: not supported here, write as usual
}

bool ReplacementFile::Write(const void* data, std::size_t count) {
    if (m_fd == -1) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(count, std::size_t{1} << 30));
        DWORD n = 0;
        if (!::WriteFile(AsHandle(m_fd), p, chunk, &n, nullptr) || n == 0) return false;
        p += n;
        count -= n;
    }
    return true;
}

void ReplacementFile::SetModificationTime(const FileTime& time) {
    if (m_fd == -1) return;
    const FILETIME written = ToFileTime(time);
    ::SetFileTime(AsHandle(m_fd), nullptr, nullptr, &written);
}

void ReplacementFile::StartFlush() {}

bool ReplacementFile::FinishFlush() {
    if (m_fd != -1 && ::FlushFileBuffers(AsHandle(m_fd))) return true;
    Discard();
    return false;
}

// One rename by handle puts the file in place: ReplaceIfExists only when the
// user agreed to replace, so that a file that appeared meanwhile makes it
// fail instead of being lost.
ReplacementFile::CommitResult ReplacementFile::LinkIntoPlace() {
    const HANDLE file = AsHandle(m_fd);
    // A replaced file keeps its attributes (hidden, system, archive...); a
    // new one has those of any new file.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = m_replacing ? m_mode & kKept : FILE_ATTRIBUTE_ARCHIVE;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    const std::wstring target = LongPath(m_target);
    if (target.empty() || !MarkForDeletion(file, false)) return CommitResult::Failed;
    if (RenameTo(file, target, m_replacing)) {
        m_namedTemp.clear();
        return CommitResult::Committed;
    }
    const DWORD error = ::GetLastError();
    MarkForDeletion(file, true);
    if (!m_replacing && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) return CommitResult::NameTaken;
    return CommitResult::Failed;
}

ReplacementFile::CommitResult ReplacementFile::Publish() {
    const CommitResult result = m_fd != -1 ? LinkIntoPlace() : CommitResult::Failed;
    if (result != CommitResult::Committed) {
        Discard();
        return result;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(AsHandle(m_fd), &info)) m_published = IdentityOf(info);
    ::CloseHandle(AsHandle(std::exchange(m_fd, -1)));
    return result;
}

ReplacementFile::CommitResult ReplacementFile::Commit() {
    if (!FinishFlush()) return CommitResult::Failed;
    const CommitResult result = Publish();
    if (result == CommitResult::Committed) SyncFolder(m_folder);
    return result;
}

void ReplacementFile::Discard() {
    if (m_fd != -1) {
        const HANDLE file = AsHandle(std::exchange(m_fd, -1));
        const bool marked = m_namedTemp.empty() || MarkForDeletion(file, true);
        ::CloseHandle(file);
        // Closed without the mark (a file system that has none): by its name.
        if (!marked) ::DeleteFileW(Wide(m_namedTemp).c_str());
    }
    m_namedTemp.clear();
}

}  // namespace pictrim::platform
