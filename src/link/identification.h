#pragma once
// What is known of the attached device, read on demand and kept until the connection is lost,
// and the identification that decides whether the program supports it.
//
// User-interface thread only.
#include <optional>

#include "link/device_commands.h"
#include "link/device_identity.h"
#include "platform/log_sink.h"

namespace kalvo {

inline constexpr std::string_view kLogBanner = "##########################################";

class IdentificationCache {
public:
    explicit IdentificationCache(DeviceCommands& commands) : commands_(commands) {}

    // Cached, read first when not known; 0 / nothing when it cannot be read.
    std::optional<SoftInfo> GetSoftInfo();
    // Always reads afresh (the descriptor is forgotten first).
    bool GetCpuDescriptor(bool showMessage);
    // Reads it only when it is not known yet.
    bool EnsureCpuDescriptor(bool showMessage);
    int GetBoardCode();

    std::uint32_t CpuPageSize();
    std::uint32_t UidAddress();
    std::uint32_t FirmwareStartAddress();
    std::uint32_t Inf1Address();
    bool IsSmallPageCpu();
    std::uint16_t CpuCode();
    std::uint32_t CpuFlashSize();

    bool ReadUid(DeviceUid& out);
    bool ReadInf1();

    // Forgets SoftInfo, descriptor, board information and INF_1 (the UID only goes when it is
    // read again).
    void ClearIdentificationCache();

    std::optional<SoftInfo> KnownSoftInfo() const { return softInfo_; }
    std::optional<BoardInfo> KnownBoardInfo() const { return boardInfo_; }
    std::optional<CpuDescriptor> KnownCpuDescriptor() const { return descriptor_; }
    std::optional<Inf1Record> KnownInf1() const { return inf1_; }
    std::optional<DeviceUid> KnownUid() const { return uid_; }

    // The clock commands may be sent to this device.
    bool ClockAllowed();

    // Used by the commands that read these pieces.
    void StoreSoftInfo(const SoftInfo& info) { softInfo_ = info; }
    void StoreBoardInfo(const BoardInfo& info) { boardInfo_ = info; }
    void ForgetBoardInfo() { boardInfo_.reset(); }

private:
    DeviceCommands& commands_;
    std::optional<SoftInfo> softInfo_;
    std::optional<CpuDescriptor> descriptor_;
    std::optional<BoardInfo> boardInfo_;
    std::optional<DeviceUid> uid_;
    std::optional<Inf1Record> inf1_;
};

// Fills `identity` and logs what it found; true only for a supported device. Each refusal logs
// its reason as an error line.
bool IdentifyDevice(DeviceIdentity& identity, IdentificationCache& cache, DeviceCommands& commands, LogSink& log);

}  // namespace kalvo
