#include "app/archived_readings.h"

#include "app/context.h"

namespace kalvo {

namespace {

LiveDevice LiveDeviceOf(const DeviceIdentity& identity) {
    return LiveDevice{FormatSerial(identity.inf1), identity.boardInfo.boardCode, identity.modelText};
}

}  // namespace

LiveArchive* ArchivedReadings::Archive() {
    if (archive_) return archive_.get();
    std::string error;
    archive_ = LiveArchive::Open(path_, {&ui_, &log_, language_}, &error);
    if (!archive_) Failed(error);
    return archive_.get();
}

void ArchivedReadings::Failed(const std::string& why) {
    if (failing_) return;
    failing_ = true;
    log_.LogError("Archive: " + why);
}

void ArchivedReadings::Keep(const DeviceIdentity& identity, const LiveReading& reading) {
    LiveArchive* archive = Archive();
    if (!archive) return;
    if (archive->Append(LiveDeviceOf(identity), reading))
        Worked();
    else
        Failed(archive->LastError());
}

std::vector<LiveReading> ArchivedReadings::LastDay(const DeviceIdentity& identity, std::int64_t nowMs) {
    LiveArchive* archive = Archive();
    if (!archive) return {};
    std::optional<std::vector<LiveReading>> readings = archive->LastDay(FormatSerial(identity.inf1), nowMs);
    if (!readings) {
        Failed(archive->LastError());
        return {};
    }
    return std::move(*readings);
}

void KeepReadingsInArchive(AppContext& context) {
    context.readingStore =
        std::make_unique<ArchivedReadings>(DefaultArchivePath(), context.log, context.ui, context.language);
}

}  // namespace kalvo
