#include "devsim/device_dumps.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>

#include "devsim/device_model.h"

namespace kalvo::devsim {

namespace {

bool WriteWhole(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error) {
    std::string temporary = path + ".tmp" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file && std::fclose(file) != 0) written = false;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool WriteDumps(const SimDevice& device, const DumpFiles& files, std::string& error) {
    if (!files.eflash.empty() && !WriteWhole(files.eflash, device.Eflash().Bytes(), error)) return false;
    if (!files.cpuFlash.empty() && !WriteWhole(files.cpuFlash, device.CpuFlash().Bytes(), error)) return false;
    if (!files.history.empty() && !WriteWhole(files.history, device.History().LogicalRecords(), error)) return false;
    return true;
}

}  // namespace kalvo::devsim
