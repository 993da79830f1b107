#pragma once
// The live readings kept in the history archive's file, as the window and kalvo-cli measure
// keep them: the archive is opened at the first reading and stays open; a reading that cannot
// be stored is dropped and the report log says so once, until storing works again.
//
// Thread boundary: called on the user-interface thread; the archive is opened, written and read
// on the context's archive worker only (a commit's fsync, the hourly roll-up and a first open's
// check never hold up the window). What the worker has to report waits in a locked list until
// the user-interface thread takes it: at the next reading, the next load, or Settle.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/reading_store.h"
#include "app/report_log.h"
#include "archive/live_archive.h"
#include "i18n/language.h"
#include "platform/ui_port.h"
#include "platform/worker_thread.h"

namespace kalvo {

class AppContext;

class ArchivedReadings : public LiveReadingStore {
public:
    // `language` is read at each reading, so a file set aside is reported in the language of then.
    ArchivedReadings(std::string path, WorkerThread& worker, ReportLog& log, UiPort& ui,
                     const InterfaceLanguage& language);

    void Keep(const DeviceIdentity& identity, const LiveReading& reading) override;
    std::vector<LiveReading> LastDay(const DeviceIdentity& identity, std::int64_t nowMs) override;
    void Settle() override;

private:
    // The worker's side: used by jobs on the worker only.
    struct Store {
        std::string path;
        std::unique_ptr<LiveArchive> archive;
        bool failing = false;  // the failure was reported; quiet until a reading is stored again
        LiveArchive* Archive(InterfaceLanguage language);
        void Failed(const std::string& why);
        // Left for the user-interface thread; guarded by `mutex`.
        std::mutex mutex;
        std::vector<ArchiveNotice> notices;
        std::vector<std::string> errors;
    };
    // Logs what the worker left.
    void Report();

    WorkerThread& worker_;
    ReportLog& log_;
    UiPort& ui_;
    const InterfaceLanguage& language_;
    std::shared_ptr<Store> store_;
};

// Installs ArchivedReadings at the user's archive (DefaultArchivePath) into `context`.
void KeepReadingsInArchive(AppContext& context);

}  // namespace kalvo
