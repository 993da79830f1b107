#pragma once
// Replacing a file the user keeps (CSV, report log) without ever leaving it half written: the new
// text goes to a temporary file in the same folder, is synced, and is then renamed over the
// target, so the old file stays whole until the new one is complete. A symbolic link is followed
// to the file it names (the link itself stays); a target that exists and is not a regular file
// (device, FIFO, socket, folder) is refused and left alone.
//
// Not thread-safe; one replacement at a time per object.
#include <string>
#include <string_view>

#ifdef _WIN32
// windows.h names ReplaceFileW "ReplaceFile"; ours keeps its name wherever windows.h comes first.
#include <windows.h>
#undef ReplaceFile
#endif

namespace kalvo {

enum class FileTarget { Missing, Regular, NotRegular };

// What the path names once symbolic links are followed.
FileTarget InspectFileTarget(const std::string& path);

// The path a chain of symbolic links ends at (the path itself when it is no link); the end need
// not exist. Empty for a loop or a chain too long to follow.
std::string FollowLinks(const std::string& path);

class FileReplacement {
public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    // An unfinished replacement is discarded.
    ~FileReplacement();

    // Opens the temporary file beside the target. False when the target is not a regular file
    // or the folder takes no new file; Error() then tells why (an errno value, on Windows too).
    bool Begin(const std::string& path);
    bool Write(std::string_view data);
    // Syncs the new text and renames it over the target; false leaves the target as it was.
    bool Commit();
    // Drops the temporary file; the target is untouched.
    void Discard();

    int Error() const { return error_; }

private:
    bool Fail(int error);

#ifdef _WIN32
    void* handle_ = nullptr;  // the temporary file's HANDLE
#else
    int fd_ = -1;
#endif
    int error_ = 0;
    std::string target_;
    std::string temporary_;
};

// Begin, one Write, Commit.
bool ReplaceFile(const std::string& path, std::string_view data);

}  // namespace kalvo
