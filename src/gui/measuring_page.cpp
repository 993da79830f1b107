#include "gui/measuring_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "gui/page_widgets.h"
#include "live/live_measurement.h"

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


}  // namespace

MeasuringPageWidget::MeasuringPageWidget(LiveMeasurement& live, QWidget* parent) : QWidget(parent), live_(live) {
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

    auto* right = new QVBoxLayout;
    right->addWidget(rateGroup_);
    right->addWidget(doseGroup_);
    right->addStretch(1);
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
    Refresh();
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
