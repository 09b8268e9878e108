#include "replacement_file.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "file_handle.h"
#include "internal/temporary_names.h"
#include "wide_path.h"

namespace pictrim::platform {

struct ReplacementFile::Native {
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD attributes = 0;  // what a replaced file hands on to the new one
};

void ReplacementFile::NativeDeleter::operator()(Native* native) const noexcept { delete native; }

ReplacementFile::NativePtr ReplacementFile::NewNative() { return NativePtr(new Native); }

bool ReplacementFile::IsOpen() const { return m_native && m_native->file != INVALID_HANDLE_VALUE; }

namespace {

std::wstring TempNameIn(const std::wstring& folder, std::uint64_t index) {
    return Joined(folder, Wide(LastingTemporaryName(index)));
}

std::wstring FreshNameIn(const std::wstring& folder) { return Joined(folder, Wide(FreshTemporaryName())); }

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
// and marking it can leave one under its fresh name too, always empty:
// such a name is taken only while the file holds no byte. Never a source of
// this run nor this job's `source`. Once per folder and process.
void RemoveAbandonedTemporaries(const std::wstring& folder, const FileIdentity& source) {
    const std::string spelling = Utf8(folder);
    if (!FirstLookUnder(spelling)) return;
    {
        const FileHandle dir(OpenToLookAt(folder));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!dir || !::GetFileInformationByHandle(dir.get(), &info)) {
            LookAgainUnder(spelling);
            return;
        }
        if (!FirstLookAt(IdentityOf(info))) return;
    }
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = Joined(folder, Wide(kTemporaryPrefix) + L"*");
    const HANDLE search =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        const std::string utf8 = Utf8(name);
        const auto index = IndexInTemporaryName(utf8);
        if ((!index && !TimeInFreshName(utf8)) || ReplacementFile::IsSparedName(utf8)) continue;
        const FileHandle file(::CreateFileW(Joined(folder, name).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (file && ::GetFileInformationByHandle(file.get(), &info) &&
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
            (index ? IdentityOf(info).index == *index : info.nFileSizeHigh == 0 && info.nFileSizeLow == 0)) {
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

ReplacementFile::Finding ReplacementFile::Inspect(const std::string& path, const std::optional<FileIdentity>& source,
                                                  std::string& target, Native& kept) {
    if (path.empty() || !HasFileName(path)) return State::Unusable;
    const std::wstring wide = LongPath(path);
    if (wide.empty()) return State::Unusable;
    target = path;
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
        target = FinalPath(file.get());
        if (target.empty()) return State::Unusable;
    }
    // Ask the system rather than the attributes: it knows the permissions,
    // and whether another program holds the file so that it cannot be
    // replaced. Nothing is truncated here.
    const FileHandle probe(::CreateFileW(LongPath(target).c_str(), GENERIC_WRITE | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!probe) return {State::Unusable, LastError()};
    kept.attributes = info.dwFileAttributes;
    return State::Replaceable;
}

Error ReplacementFile::CreateTemporary(const FileIdentity& source) {
    m_folder = FolderOf(m_target);
    const std::wstring folder = LongPath(m_folder);
    if (folder.empty()) return {Error::Kind::NotFound};
    RemoveAbandonedTemporaries(folder, source);
    FileHandle file;
    std::wstring name;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        name = FreshNameIn(folder);
        // No delete sharing: a later run's clean-up cannot take it while it lives.
        file = FileHandle(::CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS) return LastError();
    }
    if (!file) return {Error::Kind::NameTaken};
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file.get(), &info)) {
        const std::wstring lasting = TempNameIn(folder, IdentityOf(info).index);
        if (RenameTo(file.get(), lasting, false)) name = lasting;
    }
    m_namedTemp = Utf8(name);
    // From here until it is put in place, the file goes with its handle.
    MarkForDeletion(file.get(), true);
    m_native->file = file.release();
    return {};
}

bool ReplacementFile::Reserve(std::uint64_t bytes) {
    if (!IsOpen()) return false;
    FILE_ALLOCATION_INFO info{};
    info.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    if (bytes == 0 || ::SetFileInformationByHandle(m_native->file, FileAllocationInfo, &info, sizeof info)) return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_DISK_FULL && error != ERROR_HANDLE_DISK_FULL;  // else: not supported here, write as usual
}

bool ReplacementFile::Write(const void* data, std::size_t count) {
    if (!IsOpen()) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(count, std::size_t{1} << 30));
        DWORD n = 0;
        if (!::WriteFile(m_native->file, p, chunk, &n, nullptr) || n == 0) return false;
        p += n;
        count -= n;
    }
    return true;
}

void ReplacementFile::SetModificationTime(const FileTime& time) {
    if (!IsOpen()) return;
    const FILETIME written = ToFileTime(time);
    ::SetFileTime(m_native->file, nullptr, nullptr, &written);
}

void ReplacementFile::StartFlush() {}

bool ReplacementFile::FinishFlush() {
    if (IsOpen() && ::FlushFileBuffers(m_native->file)) return true;
    Discard();
    return false;
}

// One rename by handle puts the file in place: ReplaceIfExists only when the
// user agreed to replace, so that a file that appeared meanwhile makes it
// fail instead of being lost.
ReplacementFile::CommitResult ReplacementFile::LinkIntoPlace() {
    const HANDLE file = m_native->file;
    // A replaced file keeps its attributes (hidden, system, archive...); a
    // new one has those of any new file.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = m_replacing ? m_native->attributes & kKept : FILE_ATTRIBUTE_ARCHIVE;
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

FileIdentity ReplacementFile::CloseInPlace() {
    BY_HANDLE_FILE_INFORMATION info{};
    FileIdentity placed;
    if (::GetFileInformationByHandle(m_native->file, &info)) placed = IdentityOf(info);
    ::CloseHandle(std::exchange(m_native->file, INVALID_HANDLE_VALUE));
    return placed;
}

void ReplacementFile::Discard() {
    if (IsOpen()) {
        const HANDLE file = std::exchange(m_native->file, INVALID_HANDLE_VALUE);
        const bool marked = m_namedTemp.empty() || MarkForDeletion(file, true);
        ::CloseHandle(file);
        // Closed without the mark (a file system that has none): by its name.
        if (!marked) ::DeleteFileW(Wide(m_namedTemp).c_str());
    }
    m_namedTemp.clear();
}

}  // namespace pictrim::platform
