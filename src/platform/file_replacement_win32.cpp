// Replacing a file on Windows: the new text goes to a file beside the target, is flushed to the
// disk and moved over the target with MoveFileExW, which replaces it in one step.
#include "platform/file_replacement.h"

#include <windows.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "platform/win32_text.h"
namespace kalvo {

namespace fs = std::filesystem;

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_INVALID_NAME: return EINVAL;
    default: return EIO;
    }
}

}  // namespace

// Windows follows symbolic links (and junctions) in every call used here.
std::string FollowLinks(const std::string& path) { return path; }

FileTarget InspectFileTarget(const std::string& path) {
    DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileTarget::Missing
                                                                             : FileTarget::NotRegular;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return FileTarget::NotRegular;
    return FileTarget::Regular;
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
    target_ = path;
    switch (InspectFileTarget(target_)) {
    case FileTarget::NotRegular: {
        DWORD attributes = ::GetFileAttributesW(Widen(target_).c_str());
        return Fail(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EISDIR
                                                                                                      : EINVAL);
    }
    case FileTarget::Missing:
    case FileTarget::Regular: break;
    }

    fs::path target = fs::path(Widen(target_));
    fs::path folder = target.parent_path();
    const std::wstring stem = (folder.empty() ? fs::path(L".") : folder).wstring() + L"\\." +
                              target.filename().wstring() + L".";
    const auto salt = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring name = stem + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring((salt + static_cast<unsigned long long>(attempt)) % 1000000) + L".tmp";
        handle = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            temporary_ = Narrow(name);
            break;
        }
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Fail(ErrnoOf(error));
    }
    if (handle == INVALID_HANDLE_VALUE) return Fail(EEXIST);
    handle_ = handle;
    return true;
}

bool FileReplacement::Write(std::string_view data) {
    if (!handle_) return false;
    while (!data.empty()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD done = 0;
        if (!::WriteFile(static_cast<HANDLE>(handle_), data.data(), chunk, &done, nullptr))
            return Fail(ErrnoOf(::GetLastError()));
        data.remove_prefix(done);
    }
    return true;
}

bool FileReplacement::Commit() {
    if (!handle_) return false;
    HANDLE handle = static_cast<HANDLE>(handle_);
    if (!::FlushFileBuffers(handle)) return Fail(ErrnoOf(::GetLastError()));
    handle_ = nullptr;
    if (!::CloseHandle(handle)) return Fail(EIO);
    if (!::MoveFileExW(Widen(temporary_).c_str(), Widen(target_).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Fail(ErrnoOf(::GetLastError()));
    temporary_.clear();
    return true;
}

void FileReplacement::Discard() {
    if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    if (!temporary_.empty()) ::DeleteFileW(Widen(temporary_).c_str());
    temporary_.clear();
}

bool ReplaceFile(const std::string& path, std::string_view data) {
    FileReplacement file;
    return file.Begin(path) && file.Write(data) && file.Commit();
}

}  // namespace kalvo
