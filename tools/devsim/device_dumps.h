#pragma once
// The device's memories as files, for tests that check what the program wrote or read.
#include <string>

namespace kalvo::devsim {

class SimDevice;

struct DumpFiles {
    std::string eflash;    // the whole external flash from address 0
    std::string cpuFlash;  // the whole CPU flash from 0x08000000
    std::string history;   // the ring's slots in use, oldest first, 16 bytes each
    bool Any() const { return !eflash.empty() || !cpuFlash.empty() || !history.empty(); }
};

// Writes each file that has a name. Each appears whole or not at all (written aside and
// renamed), so a reader never sees half of one. False, with error, at the first failure.
bool WriteDumps(const SimDevice& device, const DumpFiles& files, std::string& error);

}  // namespace kalvo::devsim
