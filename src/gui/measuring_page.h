#pragma once
// The "Измерение" page: the dose rate with its bar and the accumulated dose, big, with a
// blinking square at each reading; the read and dose-reset buttons, the automatic-reading box
// and a red notice of why measuring is not possible. It shows the LiveMeasurement model, and
// below the values the trend of the readings with its span, statistics and Save CSV.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "history/history_csv.h"
#include "i18n/language.h"

namespace kalvo {

class LiveMeasurement;
class LiveTrend;
class LiveTrendWidget;
class UiPort;
struct MeasuringPage;

class MeasuringPageWidget : public QWidget {
    Q_OBJECT
public:
    // The language is read at each use; `ui` asks the Save CSV questions.
    MeasuringPageWidget(LiveMeasurement& live, const LiveTrend& trend, UiPort& ui, const InterfaceLanguage& language,
                        QWidget* parent = nullptr);

    void Refresh();
    void ApplyCaptions(const QString& rateGroup, const QString& doseGroup, const QString& autoRead,
                       const QString& read, const QString& doseReset);
    // The trend's own texts (span list, Save CSV, statistics) in the current language.
    void ApplyTrendCaptions();

    // The background threshold in the unit of a trend unit code, when it is known.
    void SetThresholdSource(std::function<std::optional<double>(std::uint8_t unitCode)> source) {
        thresholdSource_ = std::move(source);
    }
    // The save dialog; tests put their own chooser here (an empty one restores the dialog).
    void SetFileChooser(CsvFileChooser chooser) { chooser_ = std::move(chooser); }

    QLabel* RateLabel() const { return rate_; }
    QLabel* DoseLabel() const { return dose_; }
    QLabel* Notice() const { return notice_; }
    QProgressBar* Bar() const { return bar_; }
    QPushButton* ReadButton() const { return read_; }
    QCheckBox* AutoRead() const { return autoRead_; }
    QPushButton* DoseResetButton() const { return doseReset_; }
    QLabel* RateIndicator() const { return rateIndicator_; }
    LiveTrendWidget* Trend() const { return trend_; }
    QComboBox* SpanBox() const { return span_; }
    QPushButton* SaveButton() const { return save_; }
    QLabel* Statistics() const { return statistics_; }

signals:
    // The reset question disables page changes while it is asked.
    void PagesEnabledChanged(bool enabled);

private:
    void RefreshTrend(bool force);
    void SaveClick();

    LiveMeasurement& live_;
    const LiveTrend& liveTrend_;
    UiPort& ui_;
    const InterfaceLanguage& language_;
    std::function<std::optional<double>(std::uint8_t)> thresholdSource_;
    CsvFileChooser chooser_;
    std::string lastFileName_;
    // What the trend's texts were last made from; they are made again only when it changes.
    struct Shown {
        std::uint64_t series = 0;
        std::size_t count = 0;
        std::int64_t newestMs = 0;
        int span = -1;
        std::optional<double> threshold;
        InterfaceLanguage language = InterfaceLanguage::Russian;
        bool operator==(const Shown&) const = default;
    } shown_;
    QGroupBox* rateGroup_;
    QGroupBox* doseGroup_;
    QLabel* rate_;
    QLabel* dose_;
    QLabel* rateIndicator_;
    QLabel* doseIndicator_;
    QProgressBar* bar_;
    QPushButton* read_;
    QCheckBox* autoRead_;
    QPushButton* doseReset_;
    QLabel* notice_;
    LiveTrendWidget* trend_;
    QComboBox* span_;
    QLabel* spanLabel_;
    QPushButton* save_;
    QLabel* statistics_;
};

}  // namespace kalvo
