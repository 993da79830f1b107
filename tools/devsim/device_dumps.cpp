#include "devsim/device_dumps.h"

#include <cerrno>
#include <cstring>
#include <span>

#include "devsim/device_model.h"
#include "platform/file_replacement.h"

namespace kalvo::devsim {

namespace {

bool WriteWhole(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error) {
    kalvo::FileReplacement file;
    if (file.Begin(path) && file.Write({reinterpret_cast<const char*>(bytes.data()), bytes.size()}) && file.Commit())
        return true;
    error = "cannot write " + path + ": " + std::strerror(file.Error() ? file.Error() : EIO);
    return false;
}

}  // namespace

bool WriteDumps(const SimDevice& device, const DumpFiles& files, std::string& error) {
    if (!files.eflash.empty() && !WriteWhole(files.eflash, device.Eflash().Bytes(), error)) return false;
    if (!files.cpuFlash.empty() && !WriteWhole(files.cpuFlash, device.CpuFlash().Bytes(), error)) return false;
    if (!files.history.empty() && !WriteWhole(files.history, device.History().LogicalRecords(), error)) return false;
    return true;
}

}  // namespace kalvo::devsim
