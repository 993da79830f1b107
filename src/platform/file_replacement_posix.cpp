#include "platform/file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

namespace kalvo {

namespace fs = std::filesystem;

namespace {

// As many links as the kernel follows itself.
constexpr int kMaxLinks = 40;

std::string FolderOf(const std::string& path) {
    fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

std::string FollowLinks(const std::string& path) {
    fs::path current = path;
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current.string();
        std::error_code error;
        fs::path target = fs::read_symlink(current, error);
        if (error) return {};
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return {};
}

FileTarget InspectFileTarget(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return S_ISREG(info.st_mode) ? FileTarget::Regular : FileTarget::NotRegular;
    // A dangling link is written through to the file it names; a link loop is not a file.
    return errno == ELOOP ? FileTarget::NotRegular : FileTarget::Missing;
}

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Fail(int error) {
    error_ = error;
    Discard();
    return false;
}

bool FileReplacement::Begin(const std::string& path) {
    Discard();
    error_ = 0;
    target_ = FollowLinks(path);
    if (target_.empty()) return Fail(ELOOP);

    // New files get the mode a plain create would give them; a replaced file keeps its own.
    mode_t mode = 0666;
    bool keepMode = false;
    struct stat info {};
    if (::stat(target_.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return Fail(EISDIR);
        if (!S_ISREG(info.st_mode)) return Fail(EINVAL);
        mode = info.st_mode & 07777;
        keepMode = true;
    } else if (errno != ENOENT) {
        return Fail(errno);
    }

    const std::string stem = FolderOf(target_) + "/." + fs::path(target_).filename().string() + ".";
    const auto salt = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = stem + std::to_string(::getpid()) + "-" + std::to_string((salt + attempt) % 1000000) + ".tmp";
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, keepMode ? 0600 : mode);
        if (fd_ >= 0) {
            temporary_ = name;
            break;
        }
        if (errno != EEXIST) return Fail(errno);
    }
    if (fd_ < 0) return Fail(EEXIST);
    if (keepMode && ::fchmod(fd_, mode) != 0) return Fail(errno);
    return true;
}

bool FileReplacement::Write(std::string_view data) {
    if (fd_ < 0) return false;
    while (!data.empty()) {
        ssize_t done = ::write(fd_, data.data(), data.size());
        if (done < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        data.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

bool FileReplacement::Commit() {
    if (fd_ < 0) return false;
    if (::fsync(fd_) != 0) return Fail(errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return Fail(errno);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return Fail(errno);
    temporary_.clear();
    // The rename itself reaches the disk with the folder.
    int folder = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void FileReplacement::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool ReplaceFile(const std::string& path, std::string_view data) {
    FileReplacement file;
    return file.Begin(path) && file.Write(data) && file.Commit();
}

}  // namespace kalvo
