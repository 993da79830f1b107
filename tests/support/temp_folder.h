#pragma once
// A private folder per test, removed afterwards.
#include <filesystem>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#endif

namespace kalvo::test {

class TempFolder {
public:
    TempFolder() {
#ifdef _WIN32
        // No mkdtemp: the process id and the tick count make the name, create_directory claims it.
        auto base = std::filesystem::temp_directory_path();
        const unsigned long long salt = ::GetTickCount64();
        for (unsigned long long attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
            auto candidate = base / ("kalvo-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                     std::to_string(salt + attempt));
            if (std::filesystem::create_directory(candidate)) path_ = candidate.string();
        }
        if (path_.empty()) throw std::runtime_error("no temporary folder");
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "kalvo-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
#endif
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace kalvo::test
