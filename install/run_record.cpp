#include "install/run_record.h"

#include <charconv>
#include <sstream>
#include <vector>

#include "core/cache_paths.h"
#include "core/identity.h"
#include "install/hidden_names.h"
#include "platform/platform.h"

namespace orbitreel {

namespace {

std::string formatIdentity(const ItemIdentity& identity) {
    return std::to_string(identity.device) + " " + std::to_string(identity.inode) + " " +
           std::to_string(identity.bornSeconds) + " " + std::to_string(identity.bornNanoseconds);
}

template <typename Number>
bool parseNumber(std::string_view text, Number& value) {
    const auto* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && at == end;
}

std::optional<ItemIdentity> parseIdentity(std::string_view text) {
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        const auto blank = text.find(' ');
        parts.push_back(text.substr(0, blank));
        if (blank == std::string_view::npos) break;
        text.remove_prefix(blank + 1);
    }
    ItemIdentity identity;
    if (parts.size() != 4 || !parseNumber(parts[0], identity.device) || !parseNumber(parts[1], identity.inode) ||
        !parseNumber(parts[2], identity.bornSeconds) || !parseNumber(parts[3], identity.bornNanoseconds))
        return std::nullopt;
    return identity;
}

}  // namespace

std::string formatRecord(const RunRecord& record) {
    std::string text = "uuid " + record.uuid + "\n";
    text += "destination " + record.destination.string() + "\n";
    text += "folder " + formatIdentity(record.folder) + "\n";
    text += "staging " + formatIdentity(record.staging) + "\n";
    if (record.previous) text += "previous " + formatIdentity(*record.previous) + "\n";
    return text;
}

std::optional<RunRecord> parseRecord(std::string_view text) {
    RunRecord record;
    bool uuid = false, destination = false, folder = false, staging = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;  // cut short
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const auto blank = line.find(' ');
        if (blank == std::string_view::npos) return std::nullopt;
        const std::string_view key = line.substr(0, blank);
        const std::string_view value = line.substr(blank + 1);
        if (key == "uuid" && !uuid && isHiddenName(std::string(StagingPrefix) + std::string(value), StagingPrefix)) {
            record.uuid = value;
            uuid = true;
        } else if (key == "destination" && !destination && value.starts_with('/')) {
            record.destination = std::string(value);
            destination = true;
        } else if (key == "folder" && !folder) {
            auto identity = parseIdentity(value);
            if (!identity) return std::nullopt;
            record.folder = *identity;
            folder = true;
        } else if (key == "staging" && !staging) {
            auto identity = parseIdentity(value);
            if (!identity) return std::nullopt;
            record.staging = *identity;
            staging = true;
        } else if (key == "previous" && !record.previous) {
            record.previous = parseIdentity(value);
            if (!record.previous) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!uuid || !destination || !folder || !staging) return std::nullopt;
    return record;
}

Path recordFile(const Path& home, const std::string& uuid) {
    return recordsDirectory(home) / (uuid + std::string(RecordSuffix));
}

void settleRun(const Platform& platform, PrivateFolder& folder, const RunRecord& record, const Path& recordPath) {
    Files& files = *platform.files;
    const Path target = record.destination / ApplicationFolderName;
    const std::string backupName = hiddenName(BackupPrefix, record.uuid, BundleSuffix);
    auto names = folder.names();
    if (!names) {
        ignore(names);  // kept for the next run
        return;
    }
    for (const auto& name : *names) {
        auto identity = folder.identityOf(name);
        if (!identity || !*identity) {
            ignore(identity);
            continue;
        }
        if (**identity == record.staging) {
            ignore(folder.removeInside(name));
        } else if (record.previous && **identity == *record.previous) {
            // It goes to the Trash only once another copy holds the target;
            // where it can go nowhere, it stays beside the target under the
            // backup name, or in the folder for the next run. It is never
            // removed.
            if (!files.exists(target)) {
                if (folder.moveOut(name, target)) continue;
            } else if (folder.trashInside(name, backupName, record.destination / backupName)) {
                continue;
            }
            ignore(folder.moveOut(name, record.destination / backupName));
        }
    }
    // Anything left inside keeps the folder, and so its record, for later.
    if (folder.removeFrom(record.destination)) ignore(files.remove(recordPath));
}

}  // namespace orbitreel
