#pragma once
// Read-only view of the system's files (sysfs, /dev, /proc, /etc, udev rules, systemd units)
// under one root folder: "/" on a real machine, a fake tree in the tests. Paths given to it are
// absolute paths as the system knows them ("/sys/class/tty"); it never writes.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalvo {

struct NodeInfo {
    unsigned mode = 0;  // permission bits only
    unsigned uid = 0;
    unsigned gid = 0;
};

class SystemTree {
public:
    explicit SystemTree(std::string root = "/");

    // Where an absolute system path lies in this tree.
    std::string Path(std::string_view absolute) const;
    // The whole file, or nothing when it cannot be read.
    std::optional<std::string> ReadText(std::string_view absolute) const;
    // The first line without surrounding blanks (sysfs attributes).
    std::optional<std::string> ReadLine(std::string_view absolute) const;
    // Names in a folder, sorted; empty when it is missing.
    std::vector<std::string> Names(std::string_view folder) const;
    bool Exists(std::string_view absolute) const;
    // The text of a symbolic link, or nothing when it is not one.
    std::optional<std::string> LinkText(std::string_view absolute) const;
    // Every link followed, as an absolute system path inside this tree.
    std::optional<std::string> Resolve(std::string_view absolute) const;
    // The system path of a real path (from realpath), when it lies inside this tree.
    std::optional<std::string> InsideTree(const std::string& realPath) const;
    std::optional<NodeInfo> Node(std::string_view absolute) const;

private:
    std::string root_;  // canonical, without a trailing slash ("" for "/")
};

// Who runs the program: the groups are those of this session, which may lag /etc/group until
// the user logs in again.
struct UserAccount {
    std::string name;
    unsigned uid = 0;
    std::vector<unsigned> groups;

    static UserAccount Current();
};

struct GroupEntry {
    std::string name;
    unsigned gid = 0;
    std::vector<std::string> members;
};

// /etc/group of the tree.
std::vector<GroupEntry> ReadGroups(const SystemTree& tree);

}  // namespace kalvo
