#pragma once
// The plot of the live trend: the dose rate of the chosen span, one vertical minimum-maximum
// line per pixel column so that no spike is lost however many readings the span holds, the
// background threshold as a dashed line with the columns above it in red, local time below.
// It reads the trend when it paints, so it never holds readings the trend has dropped.
#include <QWidget>
#include <optional>
#include <span>
#include <vector>

#include "i18n/language.h"
#include "live/live_trend.h"

namespace kalvo {

class LiveTrendWidget : public QWidget {
    Q_OBJECT
public:
    LiveTrendWidget(const LiveTrend& trend, QWidget* parent = nullptr);

    void SetSpan(TrendSpan span);
    void SetThreshold(std::optional<double> threshold);
    void SetLanguage(InterfaceLanguage language);

    TrendSpan Span() const { return span_; }
    std::optional<double> Threshold() const { return threshold_; }
    // The readings of the span as the plot shows them, and the bounds of its time axis.
    std::span<const LiveReading> Shown() const;
    std::int64_t FromMs() const;
    std::int64_t ToMs() const;
    // The area the columns are drawn in.
    QRect PlotArea() const;

    QSize sizeHint() const override { return {600, 220}; }
    QSize minimumSizeHint() const override { return {300, 40}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const LiveTrend& trend_;
    TrendSpan span_ = TrendSpan::TenMinutes;
    std::optional<double> threshold_;
    InterfaceLanguage language_ = InterfaceLanguage::Russian;
};

// The unit text of a trend unit code in a language: "мкЗв/ч" / "uSv/h", "мкР/ч" / "uR/h", "CPM".
QString TrendUnitText(std::uint8_t unitCode, InterfaceLanguage language);
// A value with a comma before the decimals, as the page writes numbers.
QString TrendNumber(double value, int decimals);

}  // namespace kalvo
