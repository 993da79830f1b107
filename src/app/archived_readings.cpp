#include "app/archived_readings.h"

#include "app/context.h"

namespace kalvo {

namespace {

LiveDevice LiveDeviceOf(const DeviceIdentity& identity) {
    return LiveDevice{FormatSerial(identity.inf1), identity.boardInfo.boardCode, identity.modelText};
}

}  // namespace

ArchivedReadings::ArchivedReadings(std::string path, WorkerThread& worker, ReportLog& log, UiPort& ui,
                                   const InterfaceLanguage& language)
    : worker_(worker), log_(log), ui_(ui), language_(language), store_(std::make_shared<Store>()) {
    store_->path = std::move(path);
}

LiveArchive* ArchivedReadings::Store::Archive(InterfaceLanguage language) {
    if (archive) return archive.get();
    std::string error;
    std::vector<ArchiveNotice> opened;
    archive = LiveArchive::Open(path, {nullptr, nullptr, language, &opened}, &error);
    if (!opened.empty()) {
        std::lock_guard lock(mutex);
        notices.insert(notices.end(), opened.begin(), opened.end());
    }
    if (!archive) Failed(error);
    return archive.get();
}

void ArchivedReadings::Store::Failed(const std::string& why) {
    if (failing) return;
    failing = true;
    std::lock_guard lock(mutex);
    errors.push_back("Archive: " + why);
}

void ArchivedReadings::Report() {
    std::vector<ArchiveNotice> notices;
    std::vector<std::string> errors;
    {
        std::lock_guard lock(store_->mutex);
        notices.swap(store_->notices);
        errors.swap(store_->errors);
    }
    ReportArchiveNotices(notices, &ui_, &log_);
    for (const std::string& error : errors) log_.LogError(error);
}

void ArchivedReadings::Keep(const DeviceIdentity& identity, const LiveReading& reading) {
    Report();
    worker_.Post([store = store_, device = LiveDeviceOf(identity), reading, language = language_] {
        LiveArchive* archive = store->Archive(language);
        if (!archive) return;
        if (archive->Append(device, reading))
            store->failing = false;
        else
            store->Failed(archive->LastError());
    });
}

std::vector<LiveReading> ArchivedReadings::LastDay(const DeviceIdentity& identity, std::int64_t nowMs) {
    std::vector<LiveReading> day = worker_.Call(
        ui_, [store = store_, serial = FormatSerial(identity.inf1), nowMs, language = language_] {
            LiveArchive* archive = store->Archive(language);
            if (!archive) return std::vector<LiveReading>{};
            std::optional<std::vector<LiveReading>> readings = archive->LastDay(serial, nowMs);
            if (!readings) {
                store->Failed(archive->LastError());
                return std::vector<LiveReading>{};
            }
            return std::move(*readings);
        });
    Report();
    return day;
}

void ArchivedReadings::Settle() {
    worker_.Call(ui_, [] {});
    Report();
}

void KeepReadingsInArchive(AppContext& context) {
    context.readingStore = std::make_unique<ArchivedReadings>(DefaultArchivePath(), context.archiveWork, context.log,
                                                              context.ui, context.language);
}

}  // namespace kalvo
