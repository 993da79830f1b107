#pragma once
// The simulated dosimeter itself: what it is (SimOptions) and what it holds. The transport and
// the command table only see this; commands read and change it through their handlers.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace kalvo::devsim {

enum class Model { R630, R520 };

// Identity of the simulated unit. ForModel() gives a unit that the program accepts for that
// family; every field can then be overridden from the command line.
struct SimOptions {
    Model model = Model::R630;
    std::uint8_t revision = 41;
    std::uint8_t variant = 0;
    std::uint16_t cpuCode = 9;
    std::uint16_t bootVersion = 0x0401;  // major in the high byte: 4.1
    std::uint16_t mainVersion = 0x0114;  // 0: only the boot loader runs
    std::uint32_t flashSize = 0x10000;   // CPU flash, as the CPU descriptor reports it
    std::uint32_t eflashSize = 0x800000;  // external flash (history ring, data image)
    std::string serialNumber = "12345678";  // eight hex digits, as INF_1 stores them

    static SimOptions ForModel(Model model);
};

std::string_view ModelName(Model model);

class SimDevice {
public:
    explicit SimDevice(SimOptions options) : options_(std::move(options)) {}

    const SimOptions& Options() const { return options_; }
    // 630 or 520, as ReadBoardInfo reports it.
    std::uint16_t BoardCode() const { return options_.model == Model::R630 ? 630 : 520; }
    bool InBootMode() const { return options_.mainVersion == 0; }

private:
    SimOptions options_;
};

}  // namespace kalvo::devsim
