#include "gui/live_trend_widget.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>

#include "i18n/units.h"

namespace kalvo {

namespace {

constexpr int kLeftMargin = 56;
constexpr int kRightMargin = 10;
constexpr int kTopMargin = 18;
constexpr int kBottomMargin = 20;

// A step of 1, 2 or 5 times a power of ten near `rough`.
double NiceStep(double rough) {
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * power >= rough) return factor * power;
    return 10 * power;
}

// The time step of the axis: the smallest one that leaves room for the labels.
std::int64_t TimeStepMs(std::int64_t spanMs, int width) {
    static constexpr std::array<std::int64_t, 12> kSteps{60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 14400, 21600, 43200};
    const int labels = std::max(width / 70, 1);
    for (std::int64_t step : kSteps)
        if (spanMs / (step * 1000) <= labels) return step * 1000;
    return kSteps.back() * 1000;
}

}  // namespace

QString TrendUnitText(std::uint8_t unitCode, InterfaceLanguage language) {
    return QString::fromStdString(DoseRateUnitText(language, unitCode <= 1 ? unitCode : 2, 0));
}

QString TrendNumber(double value, int decimals) {
    return QString::number(value, 'f', decimals).replace('.', ',');
}

LiveTrendWidget::LiveTrendWidget(const LiveTrend& trend, QWidget* parent) : QWidget(parent), trend_(trend) {
    setObjectName("LiveTrend_Measure");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LiveTrendWidget::SetSpan(TrendSpan span) {
    span_ = span;
    update();
}

void LiveTrendWidget::SetThreshold(std::optional<double> threshold) {
    if (threshold == threshold_) return;
    threshold_ = threshold;
    update();
}

void LiveTrendWidget::SetLanguage(InterfaceLanguage language) {
    language_ = language;
    update();
}

std::span<const LiveReading> LiveTrendWidget::Shown() const { return trend_.Shown(span_, 0); }

std::int64_t LiveTrendWidget::ToMs() const {
    const auto readings = trend_.Readings();
    // One millisecond past the newest reading, so that it falls in the last column.
    return readings.empty() ? 0 : readings.back().timeMs + 1;
}

// As Shown(): a reading exactly a span before the newest is in it.
std::int64_t LiveTrendWidget::FromMs() const { return ToMs() - 1 - TrendSpanMs(span_); }

QRect LiveTrendWidget::PlotArea() const {
    return rect().adjusted(kLeftMargin, kTopMargin, -kRightMargin, -kBottomMargin);
}

void LiveTrendWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const QRect plot = PlotArea();
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    const auto shown = Shown();
    if (shown.empty() || plot.width() < 2 || plot.height() < 2) return;

    const std::uint8_t unit = shown.back().unitCode;
    const std::int64_t from = FromMs();
    const std::int64_t to = ToMs();
    const std::vector<TrendColumn> columns = DecimateColumns(shown, from, to, plot.width());

    // The value axis over the data and the threshold: how far the rate is from the threshold is
    // what the line is for, so it is always in sight.
    double low = shown.front().value, high = low;
    for (const TrendColumn& column : columns) {
        if (column.count == 0) continue;
        low = std::min(low, column.minimum);
        high = std::max(high, column.maximum);
    }
    if (threshold_) {
        low = std::min(low, *threshold_);
        high = std::max(high, *threshold_);
    }
    if (high - low < 1e-9) {
        const double pad = std::max(std::abs(high) * 0.1, unit == 0 ? 0.01 : 1.0);
        low -= pad;
        high += pad;
    }
    const double step = NiceStep((high - low) / 4);
    low = std::floor(low / step) * step;
    high = std::ceil(high / step) * step;
    if (low < 0 && shown.front().value >= 0) low = 0;
    auto y = [&](double value) {
        return plot.bottom() - (value - low) / (high - low) * (plot.height() - 1);
    };
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step))));

    // Grid and value labels.
    QFont small = font();
    small.setPixelSize(11);
    painter.setFont(small);
    const QColor grid = palette().color(QPalette::Midlight);
    const QColor text = palette().color(QPalette::Text);
    for (double v = low; v <= high + step / 2; v += step) {
        const int yy = static_cast<int>(std::lround(y(v)));
        painter.setPen(grid);
        painter.drawLine(plot.left() + 1, yy, plot.right() - 1, yy);
        painter.setPen(text);
        painter.drawText(QRect(0, yy - 8, kLeftMargin - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                         TrendNumber(v, decimals));
    }
    painter.drawText(QRect(4, 1, kLeftMargin + 200, kTopMargin - 2), Qt::AlignLeft | Qt::AlignVCenter,
                     TrendUnitText(unit, language_));

    // Time labels at whole steps of the local time.
    const std::int64_t timeStep = TimeStepMs(to - from, plot.width());
    const std::int64_t offsetMs = QDateTime::fromMSecsSinceEpoch(to).offsetFromUtc() * 1000LL;
    const QString format = timeStep < 60000 ? "HH:mm:ss" : "HH:mm";
    for (std::int64_t t = ((from + offsetMs) / timeStep + 1) * timeStep - offsetMs; t < to; t += timeStep) {
        const int x = plot.left() + static_cast<int>(static_cast<double>(t - from) / static_cast<double>(to - from) * plot.width());
        painter.setPen(grid);
        painter.drawLine(x, plot.top() + 1, x, plot.bottom() - 1);
        painter.setPen(text);
        painter.drawText(QRect(x - 35, plot.bottom() + 2, 70, kBottomMargin - 2), Qt::AlignHCenter | Qt::AlignTop,
                         QDateTime::fromMSecsSinceEpoch(t).toString(format));
    }

    // The columns: a minimum-maximum line each, joined to the previous one when no pause lies
    // between them (a gap of more than three times the span's mean interval).
    const double msPerColumn = static_cast<double>(to - from) / plot.width();
    const double interval =
        shown.size() > 1 ? static_cast<double>(shown.back().timeMs - shown.front().timeMs) / static_cast<double>(shown.size() - 1) : 0;
    const double pauseMs = std::max(static_cast<double>(kLongestReadingGapMs), 3 * interval);
    const int joinColumns = static_cast<int>(std::ceil(pauseMs / msPerColumn)) + 1;
    const QColor normal(0, 90, 200);
    const QColor above(220, 0, 0);
    painter.setRenderHint(QPainter::Antialiasing, false);
    int previous = -1;
    double previousMiddle = 0;
    for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
        const TrendColumn& column = columns[static_cast<std::size_t>(c)];
        if (column.count == 0) continue;
        const int x = plot.left() + c;
        const bool isAbove = threshold_ && column.maximum > *threshold_;
        const double middle = (column.minimum + column.maximum) / 2;
        if (previous >= 0 && c - previous <= joinColumns) {
            painter.setPen(normal);
            painter.drawLine(QPointF(plot.left() + previous, y(previousMiddle)), QPointF(x, y(middle)));
        }
        painter.setPen(QPen(isAbove ? above : normal, 1));
        const int top = static_cast<int>(std::lround(y(column.maximum)));
        const int bottom = static_cast<int>(std::lround(y(column.minimum)));
        painter.drawLine(x, top, x, std::max(bottom, top));
        if (isAbove) painter.fillRect(QRect(x, plot.bottom() - 3, 1, 3), above);
        previous = c;
        previousMiddle = middle;
    }

    if (threshold_) {
        if (*threshold_ >= low && *threshold_ <= high) {
            const double ty = y(*threshold_);
            painter.setPen(QPen(above, 1, Qt::DashLine));
            painter.drawLine(QPointF(plot.left() + 1, ty), QPointF(plot.right() - 1, ty));
        }
        painter.setPen(above);
        painter.drawText(QRect(plot.left(), 1, plot.width(), kTopMargin - 2), Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(PickText(language_, "Порог ", "Threshold ")) +
                             TrendNumber(*threshold_, unit == 0 ? 2 : 0) + " " + TrendUnitText(unit, language_));
    }
}

}  // namespace kalvo
