#include "diagnose/system_tree.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kalvo {

namespace fs = std::filesystem;

SystemTree::SystemTree(std::string root) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(root.empty() ? "/" : root, ec);
    root_ = ec ? root : canonical.string();
    while (!root_.empty() && root_.back() == '/') root_.pop_back();
}

std::string SystemTree::Path(std::string_view absolute) const {
    std::string path = root_;
    if (absolute.empty() || absolute.front() != '/') path += '/';
    path += absolute;
    return path;
}

std::optional<std::string> SystemTree::ReadText(std::string_view absolute) const {
    std::ifstream in(Path(absolute), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

std::optional<std::string> SystemTree::ReadLine(std::string_view absolute) const {
    std::optional<std::string> text = ReadText(absolute);
    if (!text) return std::nullopt;
    std::string line = text->substr(0, text->find('\n'));
    auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; };
    while (!line.empty() && blank(static_cast<unsigned char>(line.back()))) line.pop_back();
    std::size_t start = 0;
    while (start < line.size() && blank(static_cast<unsigned char>(line[start]))) ++start;
    return line.substr(start);
}

std::vector<std::string> SystemTree::Names(std::string_view folder) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(Path(folder), ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool SystemTree::Exists(std::string_view absolute) const {
    struct stat info {};
    return ::lstat(Path(absolute).c_str(), &info) == 0;
}

std::optional<std::string> SystemTree::LinkText(std::string_view absolute) const {
    std::error_code ec;
    fs::path target = fs::read_symlink(Path(absolute), ec);
    if (ec) return std::nullopt;
    return target.string();
}

std::optional<std::string> SystemTree::InsideTree(const std::string& realPath) const {
    if (root_.empty()) return realPath;
    if (realPath == root_) return std::string("/");
    if (realPath.size() > root_.size() && realPath.compare(0, root_.size(), root_) == 0 &&
        realPath[root_.size()] == '/')
        return realPath.substr(root_.size());
    return std::nullopt;
}

std::optional<std::string> SystemTree::Resolve(std::string_view absolute) const {
    std::error_code ec;
    fs::path real = fs::canonical(Path(absolute), ec);
    if (ec) return std::nullopt;
    return InsideTree(real.string());
}

std::optional<NodeInfo> SystemTree::Node(std::string_view absolute) const {
    struct stat info {};
    if (::stat(Path(absolute).c_str(), &info) != 0) return std::nullopt;
    return NodeInfo{static_cast<unsigned>(info.st_mode & 07777), info.st_uid, info.st_gid};
}

UserAccount UserAccount::Current() {
    UserAccount account;
    account.uid = ::getuid();
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(account.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        account.name = found->pw_name;
    else
        account.name = std::to_string(account.uid);
    account.groups.push_back(::getgid());
    int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        count = ::getgroups(count, groups.data());
        for (int i = 0; i < count; ++i) account.groups.push_back(groups[static_cast<std::size_t>(i)]);
    }
    return account;
}

std::vector<GroupEntry> ReadGroups(const SystemTree& tree) {
    std::vector<GroupEntry> groups;
    std::optional<std::string> text = tree.ReadText("/etc/group");
    if (!text) return groups;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        // name:password:gid:member,member
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, ':')) fields.push_back(field);
        if (line.size() && line.back() == ':') fields.emplace_back();
        if (fields.size() < 3 || fields[0].empty()) continue;
        GroupEntry group;
        group.name = fields[0];
        try {
            group.gid = static_cast<unsigned>(std::stoul(fields[2]));
        } catch (const std::exception&) {
            continue;
        }
        if (fields.size() > 3) {
            std::istringstream members(fields[3]);
            std::string member;
            while (std::getline(members, member, ','))
                if (!member.empty()) group.members.push_back(member);
        }
        groups.push_back(std::move(group));
    }
    return groups;
}

}  // namespace kalvo
