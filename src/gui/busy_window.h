#pragma once
// The busy indicator: a small animation kept in front of the centre of the main window while
// a long operation runs. White in the pictures is transparent.
#include <array>

#include <QtGui/QRegion>
#include <QtWidgets/QWidget>

class QLabel;
class QTimer;

namespace kalvo {

class BusyWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kFrameCount = 4;

    // A top-level window of its own, owned by the main window.
    explicit BusyWindow(QWidget* mainWindow);

    // 0 hides; otherwise shows and animates, with the frame interval when it lies in 1..1000 ms.
    void ShowBusy(int intervalMs);
    void HideBusy();
    // One animation step; public so that tests can step without waiting for the timer.
    void Timer1Timer();

    int FrameIndex() const { return frameIndex_; }
    int IntervalMs() const;
    int VisibleFrame() const;  // -1 when no frame is shown

private:
    void CentreOverMainWindow();
    void ApplyMask();

    QWidget* mainWindow_;
    std::array<QLabel*, kFrameCount> images_{};
    // What is not white in each frame, in window coordinates.
    std::array<QRegion, kFrameCount> shapes_{};
    QTimer* timer1_;
    int frameIndex_ = 0;
};

}  // namespace kalvo
