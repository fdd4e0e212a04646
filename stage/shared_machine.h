#pragma once
// Two people on one machine, set up as the target platform does it: the
// system Applications folder is root's and writable by a group both belong
// to, without the sticky bit, so each may rename or remove the other's
// entries there. The users exist by number only, in the sandbox's files.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "stage/child_process.h"

namespace orbitreel::stage {

inline constexpr gid_t SharedGroup = 61000;
inline const UserIdentity Person{61001, SharedGroup, {}};
inline const UserIdentity Neighbour{61002, SharedGroup, {}};

// Makes /Applications (the sandbox's own, see SandboxOptions) the shared
// folder, on a file system of its own.
void shareSystemApplications();

// Contents/Info.plist in `bundle` naming `identifier`, and `executable`
// (in Contents/MacOS) when given.
void writeInfoPlist(const std::filesystem::path& bundle, const std::string& identifier,
                    const std::string& executable = {});

// A trap for whoever walks `top` by path: a chain of `depth` folders named
// "d" (`top` made too), all `owner`'s with `mode`; in the deepest "d" a
// folder ".bashrc" that its owner may not enter (mode 0077), which a walk
// that unlocks folders gives back its owner's rights; and beside the deepest
// "d" a link "d-swap" to `home`, the neighbour's, for the neighbour to swap
// in (see the neighbour program). Made by descriptor, so any depth works.
void plantChain(const std::filesystem::path& top, int depth, const UserIdentity& owner, mode_t mode,
                const std::filesystem::path& home);
// The deepest "d" of such a chain, whose opening the neighbour watches.
std::filesystem::path racedFolder(const std::filesystem::path& top, int depth);

// ".Orbitreel-install-" or ".Orbitreel-backup-" + a fresh UUID + `suffix`:
// the shapes the installer gives its hidden copies (".app") and its private
// staging folder (".Orbitreel-install-", no suffix).
std::string hiddenCopyName(const std::string& prefix, const std::string& suffix = ".app");

// Which item a path names now (device and inode), to find it again under
// whatever name others moved it to.
struct ItemIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const ItemIdentity&) const = default;
};
ItemIdentity identityOf(const std::filesystem::path& item);
// Where the item is now, below (or at) one of `roots`, links not followed;
// empty when it is nowhere there.
std::filesystem::path whereIs(const ItemIdentity& item, const std::vector<std::filesystem::path>& roots);

// The race for one run: `neighbourChains` chains of the neighbour's at
// staging-shaped names in /Applications, `depth` deep, and `personChains` of
// the person's own (as a killed run of theirs could leave, but open to the
// group) `personDepth` deep, all with links to `personHome`. The raced
// folders, for the neighbour program to watch.
std::vector<std::filesystem::path> plantRaces(const std::filesystem::path& personHome, int neighbourChains, int depth,
                                              int personChains, int personDepth);

// The neighbour program run as the neighbour with `arguments` (see
// neighbour_main.cpp), once its watches are in place; its lines go to `output`.
ChildProcess startNeighbourWith(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                                const std::filesystem::path& output);
// The same, racing the chains whose raced folders are `raced`.
ChildProcess startNeighbour(const std::filesystem::path& program, const std::vector<std::filesystem::path>& raced,
                            const std::filesystem::path& output);
// The swapping bursts the neighbour has made so far, from its output.
int neighbourBursts(const std::filesystem::path& output);

// Every item below `folder` (itself included) with its kind, mode, owner and
// content (a link's target), except what lies below the names in `skip`
// (relative paths): for checks that nothing changed.
std::map<std::string, std::string> itemsWithOwners(const std::filesystem::path& folder,
                                                   const std::vector<std::string>& skip = {});

}  // namespace orbitreel::stage
