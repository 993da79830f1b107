#pragma once
// The "Измерение" page: the dose rate with its bar and the accumulated dose, big, with a
// blinking square at each reading; the read and dose-reset buttons, the automatic-reading box
// and a red notice of why measuring is not possible. It shows the LiveMeasurement model.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

namespace kalvo {

class LiveMeasurement;
struct MeasuringPage;

class MeasuringPageWidget : public QWidget {
    Q_OBJECT
public:
    MeasuringPageWidget(LiveMeasurement& live, QWidget* parent = nullptr);

    void Refresh();
    void ApplyCaptions(const QString& rateGroup, const QString& doseGroup, const QString& autoRead,
                       const QString& read, const QString& doseReset);

    QLabel* RateLabel() const { return rate_; }
    QLabel* DoseLabel() const { return dose_; }
    QLabel* Notice() const { return notice_; }
    QProgressBar* Bar() const { return bar_; }
    QPushButton* ReadButton() const { return read_; }
    QCheckBox* AutoRead() const { return autoRead_; }
    QPushButton* DoseResetButton() const { return doseReset_; }
    QLabel* RateIndicator() const { return rateIndicator_; }

signals:
    // The reset question disables page changes while it is asked.
    void PagesEnabledChanged(bool enabled);

private:
    LiveMeasurement& live_;
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
};

}  // namespace kalvo
