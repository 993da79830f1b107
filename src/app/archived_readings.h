#pragma once
// The live readings kept in the history archive's file, as the window and kalvo-cli measure
// keep them: the archive is opened at the first reading and stays open; a reading that cannot
// be stored is dropped and the report log says so once, until storing works again.
//
// User-interface thread only.
#include <memory>
#include <string>

#include "app/reading_store.h"
#include "app/report_log.h"
#include "archive/live_archive.h"
#include "i18n/language.h"
#include "platform/ui_port.h"

namespace kalvo {

class AppContext;

class ArchivedReadings : public LiveReadingStore {
public:
    // `language` is read at the open, so a file set aside is reported in the language of then.
    ArchivedReadings(std::string path, ReportLog& log, UiPort& ui, const InterfaceLanguage& language)
        : path_(std::move(path)), log_(log), ui_(ui), language_(language) {}

    void Keep(const DeviceIdentity& identity, const LiveReading& reading) override;
    std::vector<LiveReading> LastDay(const DeviceIdentity& identity, std::int64_t nowMs) override;

private:
    LiveArchive* Archive();
    void Failed(const std::string& why);
    void Worked() { failing_ = false; }

    std::string path_;
    ReportLog& log_;
    UiPort& ui_;
    const InterfaceLanguage& language_;
    std::unique_ptr<LiveArchive> archive_;
    bool failing_ = false;  // the failure was logged; quiet until a reading is stored again
};

// Installs ArchivedReadings at the user's archive (DefaultArchivePath) into `context`.
void KeepReadingsInArchive(AppContext& context);

}  // namespace kalvo
