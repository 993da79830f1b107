// The about window and the busy indicator, and the JPEG decoding of their pictures.
#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QWidget>

#include "gui/about_window.h"
#include "gui/busy_window.h"
#include "gui/jpeg_image.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>

using kalvo::AboutWindow;
using kalvo::BusyWindow;
using kalvo::InterfaceLanguage;

namespace {

// An odd size, so the centring shows its integer halves.
QRect MainGeometry() { return {100, 80, 801, 601}; }

QPoint CentredOver(const QRect& main, const QSize& size) {
    return {main.left() + main.width() / 2 - size.width() / 2, main.top() + main.height() / 2 - size.height() / 2};
}

QByteArray ResourceBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A grey ramp, encoded here so the grey branch of the decoder is covered.
QByteArray EncodeGreyRamp(int width, int height) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    QByteArray row(width, '\0');
    for (int x = 0; x < width; ++x) row[x] = static_cast<char>(x * 255 / (width - 1));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW line = reinterpret_cast<JSAMPROW>(row.data());
        jpeg_write_scanlines(&cinfo, &line, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outSize));
    std::free(out);
    return bytes;
}

}  // namespace

class AboutBusyTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        main_ = std::make_unique<QWidget>();
        main_->setGeometry(MainGeometry());
        main_->show();
    }
    void cleanup() { main_.reset(); }

    void AboutStartsHidden() {
        AboutWindow about(main_.get());
        QVERIFY(about.isWindow());
        QVERIFY(about.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(about.size(), QSize(516, 363));
        QVERIFY(!about.isVisible());
        QVERIFY(!about.AboutShown());
        QCOMPARE(about.VersionText(), QStringLiteral("Version ***"));
        QVERIFY(!about.ShowsRussianPicture());
        QVERIFY(!about.ShowsEnglishPicture());
        auto* label = about.findChild<QLabel*>(QStringLiteral("Label_Version"));
        QVERIFY(label);
        QCOMPARE(label->geometry(), QRect(0, 212, 515, 41));
        QVERIFY(label->font().bold());
        QCOMPARE(label->font().pixelSize(), 16);
    }

    void AboutShowsThePictureOfTheLanguage() {
        AboutWindow about(main_.get());
        about.ShowAbout(InterfaceLanguage::English);
        QVERIFY(about.isVisible());
        QVERIFY(about.AboutShown());
        QVERIFY(about.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(about.ShowsEnglishPicture());
        QVERIFY(!about.ShowsRussianPicture());
        QCOMPARE(about.VersionText(), QStringLiteral("Version1.7"));
        QVERIFY(!about.findChild<QLabel*>(QStringLiteral("Image_ENG"))->pixmap().isNull());

        about.Dismiss();
        about.ShowAbout(InterfaceLanguage::Russian);
        QVERIFY(about.AboutShown());
        QVERIFY(about.ShowsRussianPicture());
        QVERIFY(!about.ShowsEnglishPicture());
        QCOMPARE(about.VersionText(), QStringLiteral("Версия1.7"));
        QVERIFY(!about.findChild<QLabel*>(QStringLiteral("Image_RUS"))->pixmap().isNull());
    }

    void AboutIsCentredOverTheMainWindow() {
        AboutWindow about(main_.get());
        about.ShowAbout(InterfaceLanguage::English);
        QCOMPARE(about.frameGeometry().topLeft(), CentredOver(main_->frameGeometry(), about.size()));
    }

    void ClickOnThePictureDismisses() {
        AboutWindow about(main_.get());
        about.ShowAbout(InterfaceLanguage::English);
        QTest::mouseClick(about.findChild<QLabel*>(QStringLiteral("Image_ENG")), Qt::LeftButton, {}, QPoint(30, 30));
        QVERIFY(!about.isVisible());
        QVERIFY(!about.AboutShown());

        about.ShowAbout(InterfaceLanguage::Russian);
        QTest::mouseClick(about.findChild<QLabel*>(QStringLiteral("Image_RUS")), Qt::LeftButton, {}, QPoint(30, 30));
        QVERIFY(!about.AboutShown());
    }

    void ClickOnTheVersionDismisses() {
        AboutWindow about(main_.get());
        about.ShowAbout(InterfaceLanguage::English);
        QTest::mouseClick(about.findChild<QLabel*>(QStringLiteral("Label_Version")), Qt::LeftButton);
        QVERIFY(!about.isVisible());
        QVERIFY(!about.AboutShown());
    }

    void DismissCloses() {
        AboutWindow about(main_.get());
        about.ShowAbout(InterfaceLanguage::English);
        about.Dismiss();
        QVERIFY(!about.isVisible());
        QVERIFY(!about.AboutShown());
        about.Dismiss();  // harmless when already closed
        QVERIFY(!about.AboutShown());
    }

    void BusyStartsHiddenAndStopped() {
        BusyWindow busy(main_.get());
        QVERIFY(busy.isWindow());
        QVERIFY(busy.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(busy.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(busy.size(), QSize(131, 115));
        QVERIFY(!busy.isVisible());
        QCOMPARE(busy.IntervalMs(), 50);
        QVERIFY(!Timer(busy)->isActive());
        QCOMPARE(busy.FrameIndex(), 0);
        QCOMPARE(busy.VisibleFrame(), -1);
        for (int i = 1; i <= 4; ++i) {
            auto* image = busy.findChild<QLabel*>(QStringLiteral("Image%1").arg(i));
            QVERIFY(image);
            QCOMPARE(image->geometry(), QRect(8, 8, 81, 81));
        }
    }

    void IntervalOutsideTheRangeKeepsTheCurrentOne() {
        BusyWindow busy(main_.get());
        busy.ShowBusy(5000);
        QCOMPARE(busy.IntervalMs(), 50);
        QVERIFY(busy.isVisible());
        QVERIFY(Timer(busy)->isActive());
        busy.ShowBusy(100);
        QCOMPARE(busy.IntervalMs(), 100);
        busy.ShowBusy(5000);
        QCOMPARE(busy.IntervalMs(), 100);
        busy.ShowBusy(-3);
        QCOMPARE(busy.IntervalMs(), 100);
        busy.ShowBusy(1000);
        QCOMPARE(busy.IntervalMs(), 1000);
        busy.ShowBusy(1001);
        QCOMPARE(busy.IntervalMs(), 1000);
        busy.ShowBusy(1);
        QCOMPARE(busy.IntervalMs(), 1);
    }

    void FramesCycleFromOne() {
        BusyWindow busy(main_.get());
        busy.ShowBusy(100);
        QCOMPARE(busy.VisibleFrame(), -1);  // nothing before the first tick
        for (int expected : {1, 2, 3, 0, 1}) {
            busy.Timer1Timer();
            QCOMPARE(busy.FrameIndex(), expected);
            QCOMPARE(busy.VisibleFrame(), expected);
            // Only the shown frame's pixels belong to the window.
            QVERIFY(!busy.mask().isEmpty());
            QVERIFY(QRect(8, 8, 81, 81).contains(busy.mask().boundingRect()));
        }
    }

    void FrameIsKeptBetweenUses() {
        BusyWindow busy(main_.get());
        busy.ShowBusy(100);
        busy.Timer1Timer();
        busy.Timer1Timer();
        busy.HideBusy();
        QVERIFY(!busy.isVisible());
        QVERIFY(!Timer(busy)->isActive());
        busy.ShowBusy(100);
        QCOMPARE(busy.FrameIndex(), 2);
        QCOMPARE(busy.VisibleFrame(), 2);
        busy.Timer1Timer();
        QCOMPARE(busy.VisibleFrame(), 3);
    }

    void ZeroHides() {
        BusyWindow busy(main_.get());
        busy.ShowBusy(100);
        busy.ShowBusy(0);
        QVERIFY(!busy.isVisible());
        QVERIFY(!Timer(busy)->isActive());
        QCOMPARE(busy.IntervalMs(), 100);
    }

    void TimerDrivesTheAnimation() {
        BusyWindow busy(main_.get());
        QSignalSpy ticks(Timer(busy), &QTimer::timeout);
        busy.ShowBusy(1);
        QVERIFY(ticks.wait(5000));
        QCOMPARE(busy.VisibleFrame(), busy.FrameIndex());
        QVERIFY(busy.VisibleFrame() >= 0);
        busy.HideBusy();
    }

    void BusyFollowsTheMainWindow() {
        BusyWindow busy(main_.get());
        busy.ShowBusy(100);
        QCOMPARE(busy.frameGeometry().topLeft(), CentredOver(main_->frameGeometry(), busy.size()));
        main_->setGeometry(QRect(333, 222, 640, 481));
        const QPoint expected = CentredOver(main_->frameGeometry(), busy.size());
        QVERIFY(busy.frameGeometry().topLeft() != expected);
        busy.Timer1Timer();
        QCOMPARE(busy.frameGeometry().topLeft(), expected);
    }

    void DecodesEveryPicture_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("about_ru") << QStringLiteral(":/pictures/about_ru.jpg") << QSize(516, 363);
        QTest::newRow("about_en") << QStringLiteral(":/pictures/about_en.jpg") << QSize(516, 363);
        for (int i = 1; i <= 4; ++i)
            QTest::newRow(qPrintable(QStringLiteral("busy_%1").arg(i)))
                << QStringLiteral(":/pictures/busy_%1.jpg").arg(i) << QSize(81, 81);
    }

    void DecodesEveryPicture() {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QImage image = kalvo::LoadJpegResource(path);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), size);
        QCOMPARE(image.format(), QImage::Format_RGB888);
        QCOMPARE(kalvo::DecodeJpeg(ResourceBytes(path)), image);
    }

    void DecodesAGreyPicture() {
        const QImage image = kalvo::DecodeJpeg(EncodeGreyRamp(37, 5));
        QCOMPARE(image.size(), QSize(37, 5));
        QCOMPARE(image.format(), QImage::Format_Grayscale8);
        QVERIFY(qGray(image.pixel(0, 2)) < 10);
        QVERIFY(qGray(image.pixel(36, 2)) > 245);
    }

    void BusyFramesHaveAWhiteBackground() {
        for (int i = 1; i <= 4; ++i) {
            const QImage frame = kalvo::LoadJpegResource(QStringLiteral(":/pictures/busy_%1.jpg").arg(i));
            for (const QPoint corner : {QPoint(0, 0), QPoint(80, 0), QPoint(0, 80), QPoint(80, 80)})
                QVERIFY(qGray(frame.pixel(corner)) >= 250);
        }
    }

    void DamagedBytesGiveANullImage() {
        const QByteArray good = ResourceBytes(QStringLiteral(":/pictures/about_en.jpg"));
        QVERIFY(good.size() > 1000);
        QVERIFY(kalvo::DecodeJpeg(QByteArray()).isNull());
        QVERIFY(kalvo::DecodeJpeg(QByteArray("not a picture at all")).isNull());
        QVERIFY(kalvo::DecodeJpeg(QByteArray(4096, '\xFF')).isNull());
        QVERIFY(kalvo::DecodeJpeg(QByteArray::fromHex("89504E470D0A1A0A0000000D49484452")).isNull());
        QVERIFY(kalvo::DecodeJpeg(good.left(2)).isNull());
        QVERIFY(kalvo::DecodeJpeg(good.left(300)).isNull());
        QVERIFY(kalvo::DecodeJpeg(good.left(good.size() / 2)).isNull());
        QVERIFY(kalvo::DecodeJpeg(good.chopped(2)).isNull());  // no end marker
        QVERIFY(kalvo::LoadJpegResource(QStringLiteral(":/pictures/missing.jpg")).isNull());
    }

private:
    static QTimer* Timer(const BusyWindow& busy) { return busy.findChild<QTimer*>(QStringLiteral("Timer1")); }

    std::unique_ptr<QWidget> main_;
};

QTEST_MAIN(AboutBusyTest)
#include "about_busy_test.moc"
