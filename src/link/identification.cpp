#include "link/identification.h"

namespace kalvo {

namespace {
constexpr std::uint32_t kUidAddressOldBoot = 0x1FFFF7E8;
constexpr std::uint16_t kOldBootLimit = 0x0106;
constexpr std::uint32_t kCpu1Inf1Stored = 0x08002780;
constexpr std::uint32_t kCpu1Inf1Actual = 0x080027F0;

// A whole record from device memory (with messages), or nothing.
template <typename Record>
std::optional<Record> ReadExactly(DeviceCommands& commands, std::uint32_t address) {
    Record bytes{};
    int size = static_cast<int>(bytes.size());
    if (commands.ReadMemoryBlocks(address, bytes.data(), size, true) != size) return std::nullopt;
    return bytes;
}
}  // namespace

std::optional<SoftInfo> IdentificationCache::GetSoftInfo() {
    if (!softInfo_) {
        SoftInfo info;
        if (!commands_.ReadSoftInfo(info, false)) return std::nullopt;
    }
    return softInfo_;
}

bool IdentificationCache::GetCpuDescriptor(bool showMessage) {
    descriptor_.reset();
    if (!softInfo_) {
        SoftInfo info;
        if (!commands_.ReadSoftInfo(info, showMessage)) return false;
    }
    if (softInfo_->descriptorAddress == 0) return false;
    std::uint8_t bytes[CpuDescriptor::kSize];
    if (commands_.ReadMemoryBlocks(softInfo_->descriptorAddress, bytes, sizeof bytes, showMessage) !=
        static_cast<int>(sizeof bytes))
        return false;
    descriptor_ = CpuDescriptor::FromBytes(bytes);
    return true;
}

bool IdentificationCache::EnsureCpuDescriptor(bool showMessage) {
    return descriptor_ || GetCpuDescriptor(showMessage);
}

int IdentificationCache::GetBoardCode() {
    if (!GetSoftInfo()) return 0;
    if (softInfo_->bootVersion < kBoardInfoBootVersion) {
        // Boot loaders before 4.0 cannot tell; such devices are the 415.
        boardInfo_ = BoardInfo{kBoardCode415, 0, 0};
        return kBoardCode415;
    }
    if (boardInfo_) return boardInfo_->boardCode;
    BoardInfo info;
    return commands_.ReadBoardInfo(info, false) ? info.boardCode : 0;
}

std::uint32_t IdentificationCache::CpuPageSize() {
    return EnsureCpuDescriptor(true) ? CpuFactsOf(descriptor_->cpuCode).pageSize : 0;
}

std::uint32_t IdentificationCache::UidAddress() {
    if (!EnsureCpuDescriptor(true)) return 0;
    if (softInfo_ && softInfo_->bootVersion <= kOldBootLimit) return kUidAddressOldBoot;
    return CpuFactsOf(descriptor_->cpuCode).uidAddress;
}

std::uint32_t IdentificationCache::FirmwareStartAddress() {
    if (!EnsureCpuDescriptor(true) || descriptor_->cpuCode == 0) return 0;
    return descriptor_->firmwareStart;
}

std::uint32_t IdentificationCache::Inf1Address() {
    if (!EnsureCpuDescriptor(true)) return 0;
    // CPU code 1 devices store a wrong address for their INF_1 block.
    if (descriptor_->cpuCode == 1 && descriptor_->inf1Address == kCpu1Inf1Stored) return kCpu1Inf1Actual;
    return descriptor_->inf1Address;
}

bool IdentificationCache::IsSmallPageCpu() {
    return EnsureCpuDescriptor(true) && CpuFactsOf(descriptor_->cpuCode).smallPage;
}

std::uint16_t IdentificationCache::CpuCode() { return EnsureCpuDescriptor(true) ? descriptor_->cpuCode : 0; }

std::uint32_t IdentificationCache::CpuFlashSize() { return EnsureCpuDescriptor(true) ? descriptor_->flashSize : 0; }

bool IdentificationCache::ReadUid(DeviceUid& out) {
    out.fill(0);
    uid_.reset();
    if (!EnsureCpuDescriptor(true) || !softInfo_) return false;
    std::uint32_t address = UidAddress();
    if (address == 0) return false;
    uid_ = ReadExactly<DeviceUid>(commands_, address);
    if (uid_) out = *uid_;
    return uid_.has_value();
}

bool IdentificationCache::ReadInf1() {
    inf1_.reset();
    if (!EnsureCpuDescriptor(true)) return false;
    std::uint32_t address = Inf1Address();
    if (address == 0) return false;
    inf1_ = ReadExactly<Inf1Record>(commands_, address);
    return inf1_.has_value();
}

void IdentificationCache::ClearIdentificationCache() {
    softInfo_.reset();
    descriptor_.reset();
    boardInfo_.reset();
    inf1_.reset();
}

bool IdentificationCache::ClockAllowed() {
    int code = GetBoardCode();
    return code != 0 && boardInfo_ && ClockCapable(code, boardInfo_->revision);
}

bool IdentifyDevice(DeviceIdentity& identity, IdentificationCache& cache, DeviceCommands& commands, LogSink& log) {
    identity = DeviceIdentity{};
    auto fail = [&log](std::string_view reason) {
        log.LogError(reason);
        return false;
    };

    int code = cache.GetBoardCode();
    BoardInfo board = cache.KnownBoardInfo().value_or(BoardInfo{});
    if (code == 0) return fail("Read BoardCode");
    std::string numbers = "." + std::to_string(board.revision) + "." + std::to_string(board.variant);

    if (code == kBoardCodeR630) {
        identity.modelText = "Orbelan RKD-630" + numbers;
        log.LogLine("# Device: " + identity.modelText);
        if (board.revision != 41 && board.revision != 42) return fail("Wrong Device Type");
        std::uint16_t cpu = cache.CpuCode();
        if (cpu != 9) return fail("CPU MODEL:" + std::to_string(cpu));
    } else if (code == kBoardCodeR520) {
        int model = board.variant & 0x03;
        identity.modelText = model == 1 ? "KALVO 51T ORA " : model == 2 ? "KALVO 52T BIS " : "";
        identity.modelText += "RKD-520" + numbers;
        log.LogLine("# Device: " + identity.modelText);
        bool accepted = ((board.revision == 2 || board.revision == 3) && model == 1) ||
                        (board.revision == 4 && (model == 1 || model == 2));
        if (!accepted) return fail("Wrong Device Type");
        std::uint16_t cpu = cache.CpuCode();
        if (cpu < 4 || cpu > 8) return fail("CPU MODEL:" + std::to_string(cpu));
    } else {
        identity.modelText = "RKD-" + std::to_string(code) + numbers;
        log.LogLine("# Device: " + identity.modelText);
        return fail("Wrong Device Type");
    }

    if (!cache.ReadInf1()) return fail("Reading INF_1");
    if (!cache.ReadUid(identity.uid)) return fail("Reading UID");

    identity.inf1 = *cache.KnownInf1();
    identity.softInfo = cache.KnownSoftInfo().value_or(SoftInfo{});
    identity.boardInfo = cache.KnownBoardInfo().value_or(BoardInfo{});

    log.LogLine("# UID   : " + FormatUid(identity.uid));
    log.LogLine("# S/N   : " + FormatSerial(identity.inf1));
    log.LogLine("# (INF1) Board : " + BoardText(identity.inf1));
    log.LogLine("# (INF1) BoardY: " + BoardYText(identity.inf1));

    if (!commands.ReadSoftInfo(identity.softInfo, true)) return fail("Read SoftInfo");
    log.LogLine("# BOOT  : " + FormatVersion(identity.softInfo.bootVersion));
    if (identity.softInfo.mainVersion != 0) {
        log.LogLine("# TRV8  : " + FormatVersion(identity.softInfo.mainVersion));
    } else {
        log.LogLine("# TRV8  : Device in BOOT mode");
    }
    identity.identified = true;
    return true;
}

}  // namespace kalvo
