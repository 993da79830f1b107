#include "gui/history_chart_widget.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>

namespace kalvo {

namespace {

constexpr int kMargin = 6;
constexpr int kTickLength = 4;
constexpr double kBarWidthShare = 0.7;  // of a bar's slot, the rest is the gap between bars
constexpr std::uint32_t kMinimumAxisTop = 10;
constexpr int kMinimumBarHeight = 2;    // a stub of value 1 stays visible under a tall axis
constexpr int kWidestBar = 56;          // the six bars of a minute would look like blocks

const QColor kPanelFrame(0xB8, 0xBD, 0xC4);
const QColor kPlotTop(0xFF, 0xFF, 0xFF);
const QColor kPlotBottom(0xEE, 0xF2, 0xF7);
const QColor kPlotFrame(0x90, 0x96, 0x9E);
const QColor kGrid(0xD9, 0xDE, 0xE5);
const QColor kAxisText(0x3A, 0x3F, 0x47);
const QColor kTitleText(0x10, 0x2A, 0x5C);

bool SamePoint(const ChartPoint& a, const ChartPoint& b) { return a.value == b.value && a.colour == b.colour; }

bool SameModel(const ChartModel& a, const ChartModel& b) {
    if (a.title != b.title || a.level != b.level || a.startTime != b.startTime || a.bars.size() != b.bars.size())
        return false;
    for (std::size_t i = 0; i < a.bars.size(); ++i) {
        const ChartBar& x = a.bars[i];
        const ChartBar& y = b.bars[i];
        if (x.label != y.label || !SamePoint(x.series1, y.series1) || !SamePoint(x.series2, y.series2) ||
            !SamePoint(x.series3, y.series3))
            return false;
    }
    return true;
}

QColor ColourOf(BarColour colour) {
    const std::uint32_t rgb = BarColourRgb(colour);
    return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>(rgb & 0xFF));
}

QColor Mix(const QColor& colour, const QColor& with, double share) {
    auto channel = [share](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * share)); };
    return QColor(channel(colour.red(), with.red()), channel(colour.green(), with.green()),
                  channel(colour.blue(), with.blue()));
}

// A step of 1, 2 or 5 times a power of ten that divides the axis into about `wanted` parts.
std::uint32_t NiceStep(std::uint32_t maximum, int wanted) {
    const double raw = static_cast<double>(maximum) / std::max(wanted, 1);
    double step = 1;
    while (step < raw) {
        if (step * 2 >= raw) return static_cast<std::uint32_t>(step * 2);
        if (step * 5 >= raw) return static_cast<std::uint32_t>(step * 5);
        step *= 10;
    }
    return static_cast<std::uint32_t>(step);
}

std::uint32_t LargestValue(const ChartModel& model) {
    std::uint32_t largest = 0;
    for (const ChartBar& bar : model.bars)
        largest = std::max({largest, bar.series1.value, bar.series2.value, bar.series3.value});
    return largest;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

struct HistoryChartWidget::Geometry {
    QRect title;
    QRect plot;
    std::uint32_t top = 0;   // the value at the plot's top edge; 0 when there are no bars
    std::uint32_t step = 0;  // between gridlines
    double slot = 0;         // horizontal room of one bar
    int labelEvery = 1;      // only every n-th bar gets its label when they would crowd

    QRect ValueRect(int index, std::uint32_t value) const {
        if (top == 0 || value == 0) return {};
        const int width = std::clamp(static_cast<int>(std::lround(slot * kBarWidthShare)), 1, kWidestBar);
        const int left = plot.left() + static_cast<int>(std::lround(slot * index + (slot - width) / 2));
        const double share = static_cast<double>(std::min(value, top)) / top;
        const int height = std::max(kMinimumBarHeight, static_cast<int>(std::lround(share * plot.height())));
        return QRect(left, plot.bottom() + 1 - height, width, height);
    }
};

HistoryChartWidget::HistoryChartWidget(QWidget* parent) : QWidget(parent) {
    setObjectName("Chart_History");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void HistoryChartWidget::SetModel(const ChartModel& model) {
    // The page refreshes many times a second during a download; repaint only on a change.
    if (SameModel(model, model_)) return;
    model_ = model;
    update();
}

QFont HistoryChartWidget::TitleFont() const {
    QFont font("Courier New");
    font.setStyleHint(QFont::TypeWriter);
    font.setBold(true);
    font.setPixelSize(14);
    return font;
}

QFont HistoryChartWidget::AxisFont() const {
    QFont font = this->font();
    font.setPixelSize(11);
    return font;
}

HistoryChartWidget::Geometry HistoryChartWidget::Measure() const {
    Geometry g;
    const QFontMetrics titleMetrics(TitleFont());
    const QFontMetrics axisMetrics(AxisFont());
    const int lines = std::max<int>(1, static_cast<int>(model_.title.size()));
    const QRect inner = rect().adjusted(kMargin, kMargin - 2, -kMargin, -kMargin);
    g.title = QRect(inner.left(), inner.top(), inner.width(), lines * titleMetrics.lineSpacing());

    // An axis of at least 10 keeps the stubs of empty bars (value 1) small beside real values.
    const std::uint32_t largest = LargestValue(model_) ? std::max<std::uint32_t>(LargestValue(model_), kMinimumAxisTop) : 0;
    const int plotTop = g.title.bottom() + 8;
    const int plotBottom = inner.bottom() - axisMetrics.height() - kTickLength - 2;
    int valueWidth = axisMetrics.horizontalAdvance("0");
    if (largest > 0) {
        g.step = NiceStep(largest, std::clamp((plotBottom - plotTop) / 28, 3, 8));
        g.top = (largest + g.step - 1) / g.step * g.step;
        valueWidth = axisMetrics.horizontalAdvance(QString::number(g.top));
    }
    const int plotLeft = inner.left() + valueWidth + kTickLength + 4;
    const int plotRight = inner.right() - axisMetrics.horizontalAdvance("00") / 2;
    g.plot = QRect(QPoint(plotLeft, plotTop), QPoint(plotRight, plotBottom));

    if (!model_.bars.empty()) {
        g.slot = static_cast<double>(g.plot.width()) / static_cast<double>(model_.bars.size());
        int widest = 0;
        for (const ChartBar& bar : model_.bars) widest = std::max(widest, axisMetrics.horizontalAdvance(Q(bar.label)));
        // Every label if they fit, else round steps (the minutes of an hour by fives).
        const double wanted = widest + 6;
        g.labelEvery = 30;
        for (int every : {1, 5, 10, 15, 30}) {
            if (every * g.slot >= wanted) {
                g.labelEvery = every;
                break;
            }
        }
    }
    return g;
}

QRectF HistoryChartWidget::BarRect(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= model_.bars.size()) return {};
    const Geometry g = Measure();
    const ChartBar& bar = model_.bars[static_cast<std::size_t>(index)];
    return QRectF(g.ValueRect(index, bar.series1.value).united(g.ValueRect(index, bar.series2.value)));
}

int HistoryChartWidget::BarAt(QPoint point) const {
    const Geometry g = Measure();
    for (std::size_t i = 0; i < model_.bars.size(); ++i) {
        const int index = static_cast<int>(i);
        // Series3 is never taller than the other two, so its marker adds nothing here.
        if (g.ValueRect(index, model_.bars[i].series1.value).contains(point) ||
            g.ValueRect(index, model_.bars[i].series2.value).contains(point))
            return index;
    }
    return -1;
}

QSize HistoryChartWidget::sizeHint() const { return {640, 260}; }

QSize HistoryChartWidget::minimumSizeHint() const { return {320, 160}; }

void HistoryChartWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    const int index = BarAt(event->position().toPoint());
    if (index >= 0) {
        emit BarDoubleClicked(index);
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void HistoryChartWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Geometry g = Measure();

    // The panel and the plot area.
    painter.fillRect(rect(), palette().color(QPalette::Base));
    painter.setPen(kPanelFrame);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    QLinearGradient wall(g.plot.topLeft(), g.plot.bottomLeft());
    wall.setColorAt(0, kPlotTop);
    wall.setColorAt(1, kPlotBottom);
    painter.fillRect(g.plot, wall);

    // The title, one line per entry, centred.
    painter.setFont(TitleFont());
    painter.setPen(kTitleText);
    const int lineHeight = QFontMetrics(painter.font()).lineSpacing();
    for (std::size_t i = 0; i < model_.title.size(); ++i) {
        QRect line(g.title.left(), g.title.top() + static_cast<int>(i) * lineHeight, g.title.width(), lineHeight);
        painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter, Q(model_.title[i]));
    }

    // Gridlines with their values on the left.
    painter.setFont(AxisFont());
    const QFontMetrics axis(painter.font());
    if (g.top > 0) {
        for (std::uint32_t value = 0; value <= g.top; value += g.step) {
            const int y = g.plot.bottom() -
                          static_cast<int>(std::lround(static_cast<double>(value) / g.top * g.plot.height()));
            if (value > 0 && value < g.top) {
                painter.setPen(QPen(kGrid, 1, Qt::DashLine));
                painter.drawLine(g.plot.left() + 1, y, g.plot.right() - 1, y);
            }
            painter.setPen(kPlotFrame);
            painter.drawLine(g.plot.left() - kTickLength, y, g.plot.left(), y);
            painter.setPen(kAxisText);
            QRect text(0, y - axis.height() / 2, g.plot.left() - kTickLength - 3, axis.height());
            painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, QString::number(value));
        }
    }

    // The three series over each other, each bar in its point's colour, lit from the top.
    for (std::size_t i = 0; i < model_.bars.size(); ++i) {
        const ChartBar& bar = model_.bars[i];
        for (const ChartPoint* point : std::array{&bar.series1, &bar.series2, &bar.series3}) {
            const QRect box = g.ValueRect(static_cast<int>(i), point->value);
            if (box.isEmpty()) continue;
            const QColor colour = ColourOf(point->colour);
            QLinearGradient fill(box.topLeft(), box.topRight());
            fill.setColorAt(0, Mix(colour, Qt::white, 0.35));
            fill.setColorAt(0.45, Mix(colour, Qt::white, 0.1));
            fill.setColorAt(1, colour.darker(125));
            painter.fillRect(box, fill);
            if (box.width() >= 4 && box.height() >= 3) {
                painter.setPen(colour.darker(170));
                painter.drawRect(box.adjusted(0, 0, -1, -1));
            }
        }
    }

    painter.setPen(kPlotFrame);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(g.plot.adjusted(0, 0, -1, 0));

    // Bar labels under the axis; crowded ones are thinned out.
    for (std::size_t i = 0; i < model_.bars.size(); ++i) {
        const int centre = g.plot.left() + static_cast<int>(std::lround(g.slot * (static_cast<double>(i) + 0.5)));
        const bool labelled = static_cast<int>(i) % g.labelEvery == 0;
        painter.setPen(kPlotFrame);
        painter.drawLine(centre, g.plot.bottom() + 1, centre, g.plot.bottom() + (labelled ? kTickLength : 2));
        if (!labelled) continue;
        painter.setPen(kAxisText);
        const int half = static_cast<int>(std::lround(g.slot * g.labelEvery / 2));
        QRect text(centre - half, g.plot.bottom() + kTickLength + 1, 2 * half, axis.height());
        painter.drawText(text, Qt::AlignHCenter | Qt::AlignTop, Q(model_.bars[i].label));
    }
}

}  // namespace kalvo
