#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "path_checks.h"

// The destination writer's temporary files as every system names them, and
// the memo that lets the clean-up of abandoned ones list each folder once.
namespace pictrim::platform {

// Every temporary file's name begins so.
inline constexpr char kTemporaryPrefix[] = ".pictrim-";

// ".pictrim-<index>-<random>", in hex: short and independent of the
// destination's name, so that any name the file system takes can be
// replaced. The file's own index (an inode) lets a later clean-up tell a
// file this program named from anybody's file that merely looks like one.
std::string LastingTemporaryName(std::uint64_t index);
// ".pictrim-new-<seconds>-<random>": the name a temporary file is created
// under, carrying the time it was made, until it can carry its index.
// Where indexes are made up anew at every mount (FAT) it keeps this name.
std::string FreshTemporaryName();

// The index in a name LastingTemporaryName gave; none for any other name.
std::optional<std::uint64_t> IndexInTemporaryName(std::string_view name);
// The time in a name FreshTemporaryName gave; none for any other name.
std::optional<std::int64_t> TimeInFreshName(std::string_view name);

// Whether the clean-up is to list `folder` as spelled here: once per
// spelling and process, since a batch puts thousands of files in one
// folder. LookAgainUnder gives the spelling back when the folder could not
// be opened, so that the next file tries again.
bool FirstLookUnder(const std::string& folder);
void LookAgainUnder(const std::string& folder);
// Whether the folder, opened, is listed the first time however spelled.
bool FirstLookAt(const FileIdentity& folder);

}  // namespace pictrim::platform
