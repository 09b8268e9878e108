#include "internal/temporary_names.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>
#include <set>

namespace pictrim::platform {

namespace {

constexpr char kFreshPrefix[] = ".pictrim-new-";

// Seeded apart in every thread and process: two runs writing into one
// folder at the same moment do not try the same names.
std::uint64_t RandomBits() {
    thread_local std::mt19937_64 random{[] {
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        static thread_local const char here = 0;
        return std::random_device{}() ^ now ^ static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&here));
    }()};
    return random();
}

std::string Named(const char* prefix, std::uint64_t number) {
    char name[48];
    std::snprintf(name, sizeof name, "%s%016llx-%08x", prefix, static_cast<unsigned long long>(number),
                  static_cast<unsigned>(RandomBits() & 0xffffffffu));
    return name;
}

bool IsHex(std::string_view digits) {
    return std::all_of(digits.begin(), digits.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The 16 hex digits after `prefix` in a name "<prefix><16 hex>-<8 hex>".
std::optional<std::uint64_t> NumberIn(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + 16 + 1 + 8 || name.substr(0, prefix.size()) != prefix) return std::nullopt;
    const std::string_view digits = name.substr(prefix.size());
    if (!IsHex(digits.substr(0, 16)) || digits[16] != '-' || !IsHex(digits.substr(17))) return std::nullopt;
    std::uint64_t number = 0;
    for (const char c : digits.substr(0, 16)) number = number << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    return number;
}

std::mutex g_memoMutex;
std::set<std::string> g_spellings;
std::set<FileIdentity> g_folders;

}  // namespace

std::string LastingTemporaryName(std::uint64_t index) { return Named(kTemporaryPrefix, index); }

std::string FreshTemporaryName() { return Named(kFreshPrefix, static_cast<std::uint64_t>(std::time(nullptr))); }

std::optional<std::uint64_t> IndexInTemporaryName(std::string_view name) { return NumberIn(name, kTemporaryPrefix); }

std::optional<std::int64_t> TimeInFreshName(std::string_view name) {
    const auto made = NumberIn(name, kFreshPrefix);
    if (!made) return std::nullopt;
    return static_cast<std::int64_t>(*made);
}

bool FirstLookUnder(const std::string& folder) {
    std::lock_guard lock(g_memoMutex);
    return g_spellings.insert(folder).second;
}

void LookAgainUnder(const std::string& folder) {
    std::lock_guard lock(g_memoMutex);
    g_spellings.erase(folder);
}

bool FirstLookAt(const FileIdentity& folder) {
    std::lock_guard lock(g_memoMutex);
    return g_folders.insert(folder).second;
}

}  // namespace pictrim::platform
