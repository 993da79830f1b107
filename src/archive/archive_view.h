#pragma once
// The history page's "Archive" check box without the widget: the chart and the CSV over the
// archive of the connected device (with none, of the device archived last) instead of over the
// last download, and back.
//
// User-interface thread only; the archive it shows is opened on the worker and then used here.
#include <memory>
#include <string>

#include "archive/history_archive.h"
#include "history/history_download.h"

namespace kalvo {

class HistoryArchiveView {
public:
    // `worker`: where the archive is opened and its device looked up (a first open may check or
    // upgrade a large file); the page's events go on meanwhile. None: on the calling thread.
    HistoryArchiveView(HistoryPage& history, UiPort& ui, LogSink& log, const InterfaceLanguage& language,
                       std::string path, WorkerThread* worker = nullptr)
        : history_(history), ui_(ui), log_(log), language_(language), path_(std::move(path)), worker_(worker) {}

    // Ticked: shows the archive of device `serial` (empty: the device of the latest download).
    // False, with a message, when there is nothing to show; the download stays shown.
    bool Show(const std::string& serial);
    // Unticked: the last download again.
    void Hide();
    bool Shown() const { return history_.ShowingOtherRecords(); }
    // The device shown, or last shown.
    const std::string& Serial() const { return serial_; }

private:
    HistoryPage& history_;
    UiPort& ui_;
    LogSink& log_;
    const InterfaceLanguage& language_;
    std::string path_;
    WorkerThread* worker_;
    std::string serial_;
};

}  // namespace kalvo
