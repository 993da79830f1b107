#pragma once
// Chart_History: draws a ChartModel as three bar series laid over each other (Series1 behind,
// Series3 in front), each bar in its own colour, under a bold multi-line title, with a value axis
// and the bars' labels. A double click on a bar of Series1 or Series2 reports its index.
#include <QRectF>
#include <QWidget>

#include "history/history_chart.h"

namespace kalvo {

class HistoryChartWidget : public QWidget {
    Q_OBJECT
public:
    explicit HistoryChartWidget(QWidget* parent = nullptr);

    void SetModel(const ChartModel& model);
    const ChartModel& Model() const { return model_; }

    // The bar of Series1 or Series2 under the point, or -1.
    int BarAt(QPoint point) const;
    // What Series1 and Series2 of a bar cover together; empty for a bar the model has not.
    QRectF BarRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void BarDoubleClicked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    struct Geometry;
    Geometry Measure() const;
    QFont TitleFont() const;
    QFont AxisFont() const;

    ChartModel model_;
};

}  // namespace kalvo
