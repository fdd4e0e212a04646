#pragma once
// What one install made in its destination folder, written down before any
// tool writes there: the private folder, the new copy in it and the copy it
// replaces. Later steps, and the recovery of a killed run, act on those very
// items, found by identity, and on nothing else that may lie at their names.

#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace orbitreel {

struct Platform;

struct RunRecord {
    std::string uuid;  // in the private folder's name, the record's and the trashed copy's
    Path destination;  // the Applications folder that holds the private folder
    ItemIdentity folder;
    ItemIdentity staging;
    std::optional<ItemIdentity> previous;

    friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

std::string formatRecord(const RunRecord& record);
// Absent for anything but a record as formatRecord writes it.
std::optional<RunRecord> parseRecord(std::string_view text);

// Where the record of the run `uuid` is kept.
Path recordFile(const Path& home, const std::string& uuid);
inline constexpr std::string_view RecordSuffix = ".record";

// Puts a run's items to rest, on a killed run's recovery as after a run's
// last step: the new copy, unless it is in place, is removed; the previous
// copy comes back to the target when that is empty, else goes to the Trash,
// or beside the target under the hidden backup name when the Trash refuses
// it. Then the private folder and the record go. Best effort: what cannot
// be done stays for the next run.
void settleRun(const Platform& platform, PrivateFolder& folder, const RunRecord& record, const Path& recordPath);

}  // namespace orbitreel
