#pragma once
// The "История" page: read (or cancel), erase and save buttons with the download's progress and
// the red notice of the access check beside the chart, and the navigation panel under it. It
// shows the HistoryPage model and forwards clicks.
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <optional>
#include <string>

#include "archive/archive_view.h"
#include "history/history_csv.h"
#include "i18n/language.h"

namespace kalvo {

class AppContext;
class HistoryChartWidget;
class HistoryPage;

// The save dialog of a CSV file as offered; nullopt when cancelled.
std::optional<std::string> ChooseCsvFile(QWidget* parent, const CsvSaveDialog& offered);

class HistoryPageWidget : public QWidget {
    Q_OBJECT
public:
    HistoryPageWidget(AppContext& context, QWidget* parent = nullptr);
    ~HistoryPageWidget() override;

    void Refresh();
    void ApplyCaptions(InterfaceLanguage language);

    // The save dialog; tests put their own chooser here (an empty one restores the dialog).
    void SetFileChooser(CsvFileChooser chooser) { chooser_ = std::move(chooser); }
    // The file of the last save that got a file opened; offered by the next dialog.
    const std::string& LastFileName() const { return lastFileName_; }

    QPushButton* ReadButton() const { return read_; }
    QPushButton* DeleteButton() const { return delete_; }
    QPushButton* SaveButton() const { return save_; }
    QProgressBar* Progress() const { return progress_; }
    QLabel* Notice() const { return notice_; }
    HistoryChartWidget* Chart() const { return chart_; }
    QWidget* NavigationPanel() const { return panel_; }
    QPushButton* BackButton() const { return back_; }
    QPushButton* UpButton() const { return up_; }
    QPushButton* ForwardButton() const { return forward_; }
    QPushButton* LastButton() const { return last_; }
    QCheckBox* ShowMaximum() const { return showMaximum_; }
    // Ticked: the chart and Save CSV work over the device's archive instead of the last download.
    QCheckBox* ArchiveBox() const { return archive_; }

signals:
    // False while a download runs: the main window then keeps its page.
    void PageChangeAllowed(bool allowed);

private:
    void ReadClick();
    void ArchiveClick(bool checked);
    // The connected device's serial number once it is recognised, else empty.
    std::string ConnectedSerial() const;
    void SaveClick();
    std::optional<std::string> ChooseWithDialog(const CsvSaveDialog& dialog);

    AppContext& context_;
    HistoryPage& history_;
    HistoryArchiveView archiveView_;
    InterfaceLanguage language_ = InterfaceLanguage::Russian;
    CsvFileChooser chooser_;
    std::string lastFileName_;
    bool pageChangeAllowed_ = true;
    bool readIconIsStop_ = false;
    bool archiveWanted_ = false;

    QPushButton* read_;
    QPushButton* delete_;
    QPushButton* save_;
    QProgressBar* progress_;
    QLabel* notice_;
    HistoryChartWidget* chart_;
    QWidget* panel_;
    QPushButton* back_;
    QPushButton* up_;
    QPushButton* forward_;
    QPushButton* last_;
    QCheckBox* showMaximum_;
    QCheckBox* archive_;
};

}  // namespace kalvo
