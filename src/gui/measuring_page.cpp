#include "gui/measuring_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/history_page.h"
#include "gui/live_trend_widget.h"
#include "gui/page_widgets.h"
#include "live/live_csv.h"
#include "live/live_measurement.h"
#include "live/live_trend.h"

namespace kalvo {

namespace {

QLabel* ValueLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel("----", parent);
    label->setObjectName(name);
    QFont font("Century");
    font.setStyleHint(QFont::Serif);
    font.setBold(true);
    font.setPixelSize(27);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumHeight(44);
    return label;
}

QLabel* Indicator(const char* name, QWidget* parent) {
    auto* square = new QLabel(parent);
    square->setObjectName(name);
    square->setFixedSize(17, 17);
    square->setFrameStyle(QFrame::Box | QFrame::Plain);
    square->setAutoFillBackground(true);
    return square;
}

void Light(QLabel* square, bool lit) {
    QPalette palette = square->palette();
    palette.setColor(QPalette::Window, lit ? QColor(Qt::yellow) : square->parentWidget()->palette().color(QPalette::Window));
    square->setPalette(palette);
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

constexpr TrendSpan kSpans[] = {TrendSpan::TenMinutes, TrendSpan::OneHour, TrendSpan::OneDay};

// 1:02:03
QString Duration(std::int64_t ms) {
    const std::int64_t seconds = ms / 1000;
    return QString("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}


}  // namespace

MeasuringPageWidget::MeasuringPageWidget(LiveMeasurement& live, const LiveTrend& trend, UiPort& ui,
                                         const InterfaceLanguage& language, QWidget* parent)
    : QWidget(parent), live_(live), liveTrend_(trend), ui_(ui), language_(language) {
    setObjectName("TabSheet_Measuring");

    read_ = new QPushButton("Прочитать", this);
    read_->setObjectName("BitBtn_Measure_Read");
    read_->setEnabled(false);
    autoRead_ = new QCheckBox("Автоматически", this);
    autoRead_->setObjectName("CheckBox_Measure_AutoRead");
    autoRead_->setChecked(true);
    doseReset_ = new QPushButton("Сброс дозы", this);
    doseReset_->setObjectName("BitBtn_Measure_Dose_Reset");
    notice_ = RedNotice("Label_Measure_Version_Msg", this);

    auto* left = new QVBoxLayout;
    left->addWidget(read_);
    left->addWidget(autoRead_);
    left->addSpacing(12);
    left->addWidget(doseReset_);
    left->addStretch(1);
    left->addWidget(notice_);
    auto* leftColumn = new QWidget(this);
    leftColumn->setLayout(left);
    leftColumn->setFixedWidth(150);

    rateGroup_ = new QGroupBox("Радиационный фон", this);
    rateGroup_->setObjectName("GroupBox_Measure_Fon");
    rate_ = ValueLabel("Label_Measure_Fon", rateGroup_);
    rateIndicator_ = Indicator("Label_Measure_Indicator_Fon", rateGroup_);
    bar_ = new QProgressBar(rateGroup_);
    bar_->setObjectName("ProgressBar_Measure_Fon");
    bar_->setRange(0, kScaleBarMax);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    auto* rateLayout = new QGridLayout(rateGroup_);
    rateLayout->addWidget(rateIndicator_, 0, 0, Qt::AlignTop);
    rateLayout->addWidget(rate_, 0, 1);
    rateLayout->addWidget(bar_, 1, 0, 1, 2);

    doseGroup_ = new QGroupBox("Накопленная доза", this);
    doseGroup_->setObjectName("GroupBox_Measure_Dose");
    dose_ = ValueLabel("Label_Measure_Dose", doseGroup_);
    doseIndicator_ = Indicator("Label_Measure_Indicator_Dose", doseGroup_);
    auto* doseLayout = new QGridLayout(doseGroup_);
    doseLayout->addWidget(doseIndicator_, 0, 0, Qt::AlignTop);
    doseLayout->addWidget(dose_, 0, 1);

    // The value boxes keep their height; the trend takes what the window has left below them.
    rateGroup_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    doseGroup_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    trend_ = new LiveTrendWidget(trend, this);
    spanLabel_ = new QLabel(this);
    spanLabel_->setObjectName("Label_Measure_Span");
    span_ = new QComboBox(this);
    span_->setObjectName("ComboBox_Measure_Span");
    for (int i = 0; i < 3; ++i) span_->addItem(QString());
    save_ = new QPushButton(this);
    save_->setObjectName("BitBtn_Measure_Save_CSV");
    save_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    save_->setEnabled(false);
    statistics_ = new QLabel(this);
    statistics_->setObjectName("Label_Measure_Statistics");
    statistics_->setWordWrap(true);
    auto* trendBar = new QHBoxLayout;
    trendBar->addWidget(spanLabel_);
    trendBar->addWidget(span_);
    trendBar->addStretch(1);
    trendBar->addWidget(save_);

    auto* right = new QVBoxLayout;
    right->addWidget(rateGroup_);
    right->addWidget(doseGroup_);
    right->addLayout(trendBar);
    right->addWidget(trend_, 1);
    right->addWidget(statistics_);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(leftColumn);
    layout->addLayout(right, 1);

    connect(read_, &QPushButton::clicked, this, [this] {
        live_.BitBtn_Measure_ReadClick();
        Refresh();
    });
    connect(autoRead_, &QCheckBox::clicked, this, [this](bool checked) {
        live_.CheckBox_Measure_AutoReadClick(checked);
        Refresh();
    });
    connect(doseReset_, &QPushButton::clicked, this, [this] {
        emit PagesEnabledChanged(false);
        live_.BitBtn_Measure_Dose_ResetClick();
        emit PagesEnabledChanged(live_.Page().pagesEnabled);
        Refresh();
    });
    connect(span_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < 3) trend_->SetSpan(kSpans[index]);
        RefreshTrend(true);
    });
    connect(save_, &QPushButton::clicked, this, &MeasuringPageWidget::SaveClick);
    ApplyTrendCaptions();
    Refresh();
}

void MeasuringPageWidget::ApplyTrendCaptions() {
    const InterfaceLanguage language = language_;
    auto pick = [language](const char* russian, const char* english) { return Q(PickText(language, russian, english)); };
    spanLabel_->setText(pick("Период", "Span"));
    span_->setItemText(0, pick("10 минут", "10 minutes"));
    span_->setItemText(1, pick("1 час", "1 hour"));
    span_->setItemText(2, pick("24 часа", "24 hours"));
    save_->setText(pick("Сохранить CSV", "Save CSV"));
    trend_->SetLanguage(language);
    RefreshTrend(true);
}

// Every tick: the texts and the plot are made again only when a reading, the span, the
// threshold or the language changed, so an idle page costs nothing.
void MeasuringPageWidget::RefreshTrend(bool force) {
    const auto readings = liveTrend_.Readings();
    std::optional<double> threshold;
    if (thresholdSource_ && !readings.empty()) threshold = thresholdSource_(readings.back().unitCode);
    trend_->SetThreshold(threshold);
    Shown now{liveTrend_.Series(), readings.size(), readings.empty() ? 0 : readings.back().timeMs,
              span_->currentIndex(), threshold, language_};
    if (now == shown_ && !force) return;
    shown_ = now;
    trend_->update();

    const auto shown = trend_->Shown();
    save_->setEnabled(!shown.empty());
    const InterfaceLanguage language = language_;
    auto pick = [language](const char* russian, const char* english) { return Q(PickText(language, russian, english)); };
    if (shown.empty()) {
        statistics_->setText(pick("Измерений нет", "No readings"));
        return;
    }
    const TrendStatistics stats = ComputeStatistics(shown, threshold);
    const std::uint8_t unit = shown.back().unitCode;
    const int decimals = unit == 0 ? 3 : 1;
    const QString unitText = TrendUnitText(unit, language);
    statistics_->setText(
        pick("Среднее %1, минимум %2, максимум %3, отклонение %4 %5; измерений %6; выше порога %7",
             "Mean %1, minimum %2, maximum %3, deviation %4 %5; readings %6; above threshold %7")
            .arg(TrendNumber(stats.mean, decimals), Q(LiveValueText(unit, stats.minimum)),
                 Q(LiveValueText(unit, stats.maximum)), TrendNumber(stats.deviation, decimals), unitText,
                 QString::number(stats.count),
                 threshold ? Duration(stats.aboveMs) : pick("(порог неизвестен)", "(threshold unknown)")));
}

void MeasuringPageWidget::SaveClick() {
    // The text of the span as it is now: the dialog lets readings come in meanwhile.
    const std::string text = LiveCsvText(trend_->Shown());
    LocalCsvFileAccess files;
    HistoryCsvSaver saver(ui_, files);
    std::string chosen;
    const InterfaceLanguage language = language_;
    CsvFileChooser choose = [this, &chosen, language](const CsvSaveDialog& dialog) {
        CsvSaveDialog offered = dialog;
        offered.fileName = lastFileName_;
        offered.title = PickText(language, "Сохранение измерений в формате CSV", "CSV Measurements saving");
        std::optional<std::string> name = chooser_ ? chooser_(offered) : ChooseCsvFile(this, offered);
        if (name) chosen = *name;
        return name;
    };
    const CsvSaveResult result =
        saver.Save(true, [&text](CsvFileAccess& file) { return file.Write(text); }, language, choose);
    // The name is kept once the file was created, whether or not the write went through.
    if (result == CsvSaveResult::Saved || result == CsvSaveResult::WriteFailed) lastFileName_ = chosen;
}

void MeasuringPageWidget::Refresh() {
    const MeasuringPage& page = live_.Page();
    rate_->setText(LabelText(page.rateText));
    dose_->setText(LabelText(page.doseText));
    bar_->setValue(page.barPosition);
    Light(rateIndicator_, page.rateIndicatorLit);
    Light(doseIndicator_, page.doseIndicatorLit);
    notice_->setText(LabelText(page.versionMessage));
    read_->setEnabled(page.readButtonEnabled);
    autoRead_->setChecked(page.autoRead);
    RefreshTrend(false);
}

void MeasuringPageWidget::ApplyCaptions(const QString& rateGroup, const QString& doseGroup, const QString& autoRead,
                                        const QString& read, const QString& doseReset) {
    rateGroup_->setTitle(rateGroup);
    doseGroup_->setTitle(doseGroup);
    autoRead_->setText(autoRead);
    read_->setText(read);
    doseReset_->setText(doseReset);
}

}  // namespace kalvo
