#include "batch_plan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

#include "platform/path_checks.h"
#include "platform/source_file.h"
#include "platform/utf8_path.h"

namespace pictrim::batch {

using platform::kPathSeparators;

namespace {

bool HasBmpExtension(const std::string& name) {
    if (name.size() < 5) return false;  // ".bmp" alone is a hidden file, not a picture
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".bmp";
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return std::string(kPathSeparators).find(folder.back()) != std::string::npos ? folder + name
                                                                                 : folder + platform::kSeparator + name;
}

struct WalkRules {
    bool recursive = false;
    std::optional<platform::FileIdentity> skip;  // the target folder: its results are not sources
};

// The .bmp files directly in `folder` by name, then, when recursive, those
// of its subfolders. Links to folders are not entered, and a folder entered
// already (a loop the system does not show as a link, such as a bind mount)
// is refused: either would make the walk go round without end.
void Walk(const std::string& folder, const std::string& relative, const WalkRules& rules,
          std::map<platform::FileIdentity, std::string>& entered, std::vector<Source>& found) {
    platform::FolderListing listing = platform::ListFolder(folder);
    if (!listing.error.empty()) {
        found.push_back({folder, {}, "cannot read the folder: " + listing.error});
        return;
    }
    auto& entries = listing.entries;
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const platform::FolderEntry& entry : entries) {
        if (entry.file && HasBmpExtension(entry.name)) {
            found.push_back({Join(folder, entry.name), Join(relative, entry.name), {}});
        }
    }
    if (!rules.recursive) return;
    for (const platform::FolderEntry& entry : entries) {
        if (!entry.folder) continue;
        const std::string path = Join(folder, entry.name);
        const auto identity = platform::IdentityOf(path);
        if (identity && identity == rules.skip) continue;
        if (identity) {
            const auto [first, fresh] = entered.emplace(*identity, path);
            if (!fresh) {
                found.push_back({path, {}, "the folder was walked already, as " + first->second});
                continue;
            }
        }
        Walk(path, Join(relative, entry.name), rules, entered, found);
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

std::string DestinationFor(const std::optional<std::string>& target, const Settings& settings, const Source& file) {
    std::string relative = file.relative;
    if (settings.suffix) relative = WithSuffix(relative, *settings.suffix);
    if (target) return Join(*target, relative);
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
    } else if (!platform::ReadWholeFile(listPath, text)) {
        return false;
    }
    // A byte-order mark is no part of the first name.
    std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\0', start), text.size());
        names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::vector<Source> CollectSources(const std::vector<std::string>& names, bool recursive,
                                   const std::optional<std::string>& skip) {
    std::vector<Source> found;
    WalkRules rules{recursive, std::nullopt};
    if (skip) rules.skip = platform::IdentityOf(*skip);
    for (const std::string& named : names) {
        if (named.empty()) {
            found.push_back({named, {}, "an empty file name"});
            continue;
        }
        if (platform::kNamesAreUtf8 && !platform::IsUtf8(named)) {
            found.push_back({platform::EscapedBytes(named), {}, "a file name that is not UTF-8"});
            continue;
        }
        // Made absolute before anything is derived from it: on Windows
        // "R:name" is in drive R's current folder, not in this one.
        const std::string source = platform::AbsolutePath(named);
        const auto facts = platform::FactsOf(source);
        if (facts && facts->folder) {
            std::map<platform::FileIdentity, std::string> entered{{facts->identity, source}};
            Walk(source, {}, rules, entered, found);
        } else {
            found.push_back({source, platform::NameOf(source), {}});
        }
    }
    return found;
}

std::vector<Item> PlanBatch(const Settings& settings, const std::vector<std::string>& names) {
    std::optional<std::string> target;
    if (settings.targetFolder) target = platform::AbsolutePath(*settings.targetFolder);
    return PlanItems(settings, CollectSources(names, settings.recursive, target));
}

std::vector<Item> PlanItems(const Settings& settings, const std::vector<Source>& found) {
    std::optional<std::string> target;
    if (settings.targetFolder) target = platform::AbsolutePath(*settings.targetFolder);

    // Each source looked at once: its identity, and its size for the progress.
    std::vector<std::optional<platform::FileIdentity>> identities(found.size());
    std::vector<std::uint64_t> sizes(found.size(), 0);
    std::map<platform::FileIdentity, std::string> sourceFiles;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (!found[i].refusal.empty()) continue;
        const auto facts = platform::FactsOf(found[i].path);
        if (!facts) continue;
        identities[i] = facts->identity;
        sizes[i] = facts->size;
        sourceFiles.emplace(*identities[i], found[i].path);
    }

    std::vector<Item> items;
    std::map<std::string, std::string> taken;  // destination place -> the source that has it
    std::vector<std::string> places(found.size());
    const std::string workingFolder = platform::WorkingFolder();  // asked once, not for every path
    for (std::size_t i = 0; i < found.size(); ++i) {
        const Source& file = found[i];
        Item item{file.path, {}, file.refusal, sizes[i], identities[i]};
        if (item.refusal.empty() && file.relative.empty()) item.refusal = "no file name to give the result";
        if (item.refusal.empty()) {
            item.destination = DestinationFor(target, settings, file);
            const auto& source = identities[i];
            const auto there = platform::IdentityOf(item.destination);
            const auto other = there ? sourceFiles.find(*there) : sourceFiles.end();
            places[i] = platform::ComparablePath(item.destination, workingFolder);
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
        const auto writer = destinations.find(platform::ComparablePath(items[i].source, workingFolder));
        if (writer != destinations.end() && writer->second != i) {
            items[i].refusal = "it is the destination of " + items[writer->second].source;
        }
    }
    return items;
}

}  // namespace pictrim::batch
