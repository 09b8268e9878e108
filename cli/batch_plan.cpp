#include "batch_plan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <system_error>

#include "platform/path_checks.h"
#include "platform/utf8_path.h"

namespace pictrim::cli {

namespace fs = std::filesystem;
using platform::kPathSeparators, platform::PathFromUtf8, platform::Utf8Of;

namespace {

struct Found {
    std::string path;      // as the user would spell it
    std::string relative;  // under the named folder; the file name for a named file
    std::string refusal;
};

bool HasBmpExtension(const std::string& name) {
    if (name.size() < 5) return false;  // ".bmp" alone is a hidden file, not a picture
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".bmp";
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return std::string(kPathSeparators).find(folder.back()) != std::string::npos ? folder + name : folder + "/" + name;
}

struct WalkRules {
    bool recursive = false;
    std::optional<platform::FileIdentity> skip;  // the target folder: its results are not sources
};

// The .bmp files directly in `folder` by name, then, when recursive, those
// of its subfolders. Links to folders are not entered: a tree with a link
// to its own top would never end.
void Walk(const std::string& folder, const std::string& relative, const WalkRules& rules, std::vector<Found>& found) {
    std::error_code ec;
    struct Entry {
        std::string name;
        bool folder, file;  // file: a regular one, as the listing tells without a look
        bool operator<(const Entry& other) const { return name < other.name; }
    };
    std::vector<Entry> entries;
    for (fs::directory_iterator it(PathFromUtf8(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        const bool link = it->is_symlink(ignored);
        entries.push_back({Utf8Of(it->path().filename()), !link && it->is_directory(ignored),
                           !link && it->is_regular_file(ignored)});
    }
    if (ec) {
        found.push_back({folder, {}, "cannot read the folder: " + ec.message()});
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& [name, isFolder, isFile] : entries) {
        if (!isFolder && HasBmpExtension(name)) {
            // A link to a file counts as the file; a dangling one or a link
            // to a folder counts as nothing. One that cannot be followed is
            // taken, so that the job says why it cannot be read.
            std::error_code status;
            const fs::file_type type =
                isFile ? fs::file_type::regular : fs::status(PathFromUtf8(Join(folder, name)), status).type();
            if (type == fs::file_type::regular || (status && type != fs::file_type::not_found)) {
                found.push_back({Join(folder, name), Join(relative, name), {}});
            }
        }
    }
    if (!rules.recursive) return;
    for (const auto& [name, isFolder, isFile] : entries) {
        if (isFolder && (!rules.skip || platform::IdentityOf(Join(folder, name)) != rules.skip)) {
            Walk(Join(folder, name), Join(relative, name), rules, found);
        }
    }
}

std::string WithSuffix(const std::string& name, const std::string& suffix) {
    const auto slash = name.find_last_of(kPathSeparators);
    const auto dot = name.find_last_of('.');
    const std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string::npos || dot <= baseStart) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string DestinationFor(const CliOptions& options, const Found& file) {
    std::string relative = file.relative;
    if (options.suffix) relative = WithSuffix(relative, *options.suffix);
    if (options.targetDirectory) return Join(*options.targetDirectory, relative);
    const auto slash = file.path.find_last_of(kPathSeparators);
    const std::string folder = slash == std::string::npos ? "" : file.path.substr(0, slash + 1);
    const auto relSlash = relative.find_last_of(kPathSeparators);
    return folder + (relSlash == std::string::npos ? relative : relative.substr(relSlash + 1));
}

}  // namespace

bool ReadFiles0From(const std::string& listPath, std::vector<std::string>& names) {
    std::string text;
    if (listPath == "-") {
        char buffer[65536];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) text.append(buffer, n);
        if (std::ferror(stdin)) return false;
    } else {
        std::error_code ec;
        if (fs::is_directory(PathFromUtf8(listPath), ec)) return false;
        std::ifstream in(PathFromUtf8(listPath), std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.is_open() || in.bad()) return false;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\0', start), text.size());
        names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::vector<BatchItem> PlanBatch(const CliOptions& options, const std::vector<std::string>& sources) {
    std::vector<Found> found;
    WalkRules rules{options.recursive, std::nullopt};
    if (options.targetDirectory) rules.skip = platform::IdentityOf(*options.targetDirectory);
    for (const std::string& source : sources) {
        std::error_code ec;
        if (source.empty()) {
            found.push_back({source, {}, "an empty file name"});
        } else if (fs::is_directory(PathFromUtf8(source), ec)) {
            Walk(source, {}, rules, found);
        } else {
            found.push_back({source, Utf8Of(PathFromUtf8(source).filename()), {}});
        }
    }

    // Each source looked at once: its identity, and its size for the progress line.
    std::vector<std::optional<platform::FileIdentity>> identities(found.size());
    std::vector<std::uint64_t> sizes(found.size(), 0);
    std::map<platform::FileIdentity, std::string> sourceFiles;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const auto facts = platform::FactsOf(found[i].path);
        if (!facts) continue;
        identities[i] = facts->identity;
        sizes[i] = facts->size;
        sourceFiles.emplace(*identities[i], found[i].path);
    }

    std::vector<BatchItem> items;
    std::map<std::string, std::string> taken;  // destination place -> the source that has it
    std::vector<std::string> places(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        const Found& file = found[i];
        BatchItem item{file.path, {}, file.refusal, sizes[i], identities[i]};
        if (item.refusal.empty() && file.relative.empty()) item.refusal = "no file name to give the result";
        if (item.refusal.empty()) {
            item.destination = DestinationFor(options, file);
            const auto& source = identities[i];
            const auto there = platform::IdentityOf(item.destination);
            const auto other = there ? sourceFiles.find(*there) : sourceFiles.end();
            places[i] = platform::ComparablePath(item.destination);
            const auto [slot, fresh] = taken.emplace(places[i], file.path);
            if (!fresh) {
                item.refusal = "its destination " + item.destination + " is already that of " + slot->second;
            } else if (other != sourceFiles.end() && there != source) {
                item.refusal = "its destination " + item.destination + " is another source, " + other->second;
            }
        }
        items.push_back(std::move(item));
    }

    // A source that is another item's destination would be read before or
    // after that item writes it, as the jobs happen to run: it is refused,
    // so that every run of the same command does the same.
    std::map<std::string, std::size_t> destinations;  // place -> the item that writes it
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].refusal.empty()) destinations.emplace(places[i], i);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i].refusal.empty() || items[i].source.empty()) continue;
        const auto writer = destinations.find(platform::ComparablePath(items[i].source));
        if (writer != destinations.end() && writer->second != i) {
            items[i].refusal = "it is the destination of " + items[writer->second].source;
        }
    }
    return items;
}

}  // namespace pictrim::cli
