#include "gui/busy_window.h"

#include <QtCore/QTimer>
#include <QtGui/QPalette>
#include <QtGui/QPixmap>
#include <QtWidgets/QLabel>

#include "gui/jpeg_image.h"

namespace kalvo {
namespace {

constexpr int kClientWidth = 131;
constexpr int kClientHeight = 115;
constexpr int kFrameLeft = 8;
constexpr int kFrameTop = 8;
constexpr int kFrameSide = 81;
constexpr int kDefaultIntervalMs = 50;
constexpr int kMaxIntervalMs = 1000;
// JPEG leaves white slightly off-white, and the anti-aliased rim blends into it: anything
// this light counts as transparent, so no pale fringe shows around the picture.
constexpr int kWhiteThreshold = 200;

bool IsWhite(QRgb pixel) {
    return qRed(pixel) >= kWhiteThreshold && qGreen(pixel) >= kWhiteThreshold && qBlue(pixel) >= kWhiteThreshold;
}

// The non-white pixels as rows of rectangles.
QRegion OpaqueRegion(const QImage& source, QPoint offset) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && IsWhite(row[x])) ++x;
            const int start = x;
            while (x < image.width() && !IsWhite(row[x])) ++x;
            if (x > start) region += QRect(offset.x() + start, offset.y() + y, x - start, 1);
        }
    }
    return region;
}

}  // namespace

BusyWindow::BusyWindow(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                              Qt::WindowDoesNotAcceptFocus),
      mainWindow_(mainWindow),
      timer1_(new QTimer(this)) {
    setObjectName(QStringLiteral("BusyWindow"));
    // Showing it must not take the focus from the main window.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(kClientWidth, kClientHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    for (int i = 0; i < kFrameCount; ++i) {
        const QImage frame = LoadJpegResource(QStringLiteral(":/pictures/busy_%1.jpg").arg(i + 1));
        auto* image = new QLabel(this);
        image->setObjectName(QStringLiteral("Image%1").arg(i + 1));
        image->setGeometry(kFrameLeft, kFrameTop, kFrameSide, kFrameSide);
        image->setPixmap(QPixmap::fromImage(frame));
        image->hide();
        images_[static_cast<std::size_t>(i)] = image;
        shapes_[static_cast<std::size_t>(i)] = OpaqueRegion(frame, QPoint(kFrameLeft, kFrameTop));
    }

    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(kDefaultIntervalMs);
    connect(timer1_, &QTimer::timeout, this, &BusyWindow::Timer1Timer);
    ApplyMask();
}

void BusyWindow::ShowBusy(int intervalMs) {
    if (intervalMs == 0) {
        HideBusy();
        return;
    }
    CentreOverMainWindow();
    show();
    if (intervalMs >= 1 && intervalMs <= kMaxIntervalMs) timer1_->setInterval(intervalMs);
    timer1_->start();
}

void BusyWindow::HideBusy() {
    timer1_->stop();
    hide();
}

void BusyWindow::Timer1Timer() {
    CentreOverMainWindow();
    images_[static_cast<std::size_t>(frameIndex_)]->hide();
    frameIndex_ = (frameIndex_ + 1) % kFrameCount;
    images_[static_cast<std::size_t>(frameIndex_)]->show();
    ApplyMask();
}

int BusyWindow::IntervalMs() const { return timer1_->interval(); }

int BusyWindow::VisibleFrame() const {
    for (int i = 0; i < kFrameCount; ++i)
        if (images_[static_cast<std::size_t>(i)]->isVisibleTo(this)) return i;
    return -1;
}

void BusyWindow::CentreOverMainWindow() {
    if (!mainWindow_) return;
    const QRect main = mainWindow_->frameGeometry();
    move(main.left() + main.width() / 2 - width() / 2, main.top() + main.height() / 2 - height() / 2);
}

// Only the shown frame's pixels belong to the window. With no frame shown a single pixel is
// kept, because an empty mask would mean no mask at all.
void BusyWindow::ApplyMask() {
    const int frame = VisibleFrame();
    QRegion shape = frame >= 0 ? shapes_[static_cast<std::size_t>(frame)] : QRegion();
    if (shape.isEmpty()) shape = QRegion(0, 0, 1, 1);
    setMask(shape);
}

}  // namespace kalvo
