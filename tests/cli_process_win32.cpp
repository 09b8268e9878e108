#include "cli_process.h"

#include <windows.h>

#include "bmp_fixture.h"

namespace pictrim::test {

namespace {

std::wstring Wide(const std::string& utf8) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

// The quoting CommandLineToArgvW undoes: backslashes count only before a quote.
std::wstring Quoted(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

HANDLE Inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

CliRun RunCliProcess(const std::string& exe, const std::vector<std::string>& args, const std::string& dir,
                     const std::string& cwd, double killAfterSeconds) {
    wchar_t full[MAX_PATH * 4];
    ::GetFullPathNameW(Wide(exe).c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    std::wstring commandLine = Quoted(full);
    for (const std::string& arg : args) commandLine += L" " + Quoted(Wide(arg));
    const HANDLE in = Inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = Inheritable(Wide(dir + "\\stdout"), GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = Inheritable(Wide(dir + "\\stderr"), GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    CliRun run;
    if (::CreateProcessW(full, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         cwd.empty() ? nullptr : Wide(cwd).c_str(), &startup, &process)) {
        const auto waitMs = static_cast<DWORD>(killAfterSeconds * 1000);
        if (killAfterSeconds > 0 && ::WaitForSingleObject(process.hProcess, waitMs) == WAIT_TIMEOUT) {
            ::TerminateProcess(process.hProcess, 137);
        }
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD status = 0;
        if (::GetExitCodeProcess(process.hProcess, &status)) run.status = static_cast<int>(status);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    for (const HANDLE h : {in, out, err}) ::CloseHandle(h);
    const Bytes o = ReadFileBytes(dir + "\\stdout"), e = ReadFileBytes(dir + "\\stderr");
    run.out.assign(o.begin(), o.end());
    run.err.assign(e.begin(), e.end());
    return run;
}

}  // namespace pictrim::test
