#pragma once
// The one object that owns the program's single process-wide things: the report log, the port
// directory, the link with its channels and the serial port. Created once by main() (or by a
// test, which may build several side by side) and passed by reference.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/processing_tick.h"
#include "app/program_connection.h"
#include "app/reading_store.h"
#include "app/report_log.h"
#include "device/connection_manager.h"
#include "firmware/builtin_images.h"
#include "firmware/firmware_update.h"
#include "history/history_download.h"
#include "i18n/language.h"
#include "link/device_commands.h"
#include "link/identification.h"
#include "link/link.h"
#include "live/live_measurement.h"
#include "live/live_trend.h"
#include "platform/port_directory.h"
#include "platform/stop_request.h"
#include "platform/ui_port.h"
#include "platform/worker_thread.h"

namespace kalvo {

class AppContext {
public:
    AppContext(UiPort& frontEnd, PortDirectory ports, InterfaceLanguage initialLanguage = InterfaceLanguage::English)
        : ui(frontEnd), language(initialLanguage), directory(std::move(ports)) {
        port.SetLogCallback([this](const std::string& line) { log.LogLine(line); });
        tick.measurementStep = [this] { live.MeasurementStep(); };
        live.onReading = [this](const RateReading& reading) {
            const LiveReading stamped{wallClockMs(), reading.unitCode, reading.value, reading.doseText};
            trend.Append(stamped);
            if (readingStore && tick.DeviceRecognised()) readingStore->Keep(identity, stamped);
        };
        firmware.allowStandIn = StandInsAllowedByEnvironment();
    }
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    std::string Pick(std::string_view russian, std::string_view english) const {
        return PickText(language, russian, english);
    }

    UiPort& ui;
    InterfaceLanguage language;
    ReportLog log;
    // Set by the front end when a termination signal arrives; device writes stop at a safe point.
    StopRequest stop;
    PortDirectory directory;
    // The link is declared before the port so that the port, which feeds it from its reader
    // thread, is closed and destroyed first.
    Link link{port, ui};
    LinkPort port{directory, link};
    // Commands and the identification cache refer to each other; neither uses the other while
    // they are being built.
    IdentificationCache identification{commands};
    DeviceCommands commands{link, identification};
    DeviceIdentity identity;
    ConnectionManager connection{port, link, log, ui, language};
    // The private temporary folder; empty until start-up has made it.
    std::string tempFolder;
    ProcessingTick tick{*this};
    // The connection flags the device layer and the features are given.
    ProgramConnection connectionFlags{connection, tick};
    LiveMeasurement live{commands, log, ui, identity, language, connectionFlags, &stop};
    // The readings of the measuring page over time, stamped with the PC's clock.
    LiveTrend trend;
    std::function<std::int64_t()> wallClockMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    // Where the archive's opens, merges, loads and appends run, away from the UI thread. Its
    // jobs hold what they use, so it may go before or after the objects that give them.
    WorkerThread archiveWork;
    // Keeps every reading of a recognised device; none: the readings live as long as the trend.
    std::unique_ptr<LiveReadingStore> readingStore;
    // A device was recognised: its trend starts with the stored day.
    void RestoreTrend() {
        if (readingStore) trend.Restore(readingStore->LastDay(identity, wallClockMs()));
    }
    HistoryPage history{commands, log, ui, identity, language, connectionFlags, [this] { return tick.Active(); }, &stop};
    FirmwareUpdate firmware{commands, identification, link, log, ui, language, identity, connectionFlags, &stop};
};

}  // namespace kalvo
