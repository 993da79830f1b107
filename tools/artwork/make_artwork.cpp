// Draws the about pictures and the busy-indicator frames and writes them as JPEG files.
// Encoded with libjpeg so the result does not depend on which Qt image plugins are installed.
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QRadialGradient>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <algorithm>
#include <array>
#include <cstdio>
#include <jpeglib.h>

namespace {

constexpr int kAboutWidth = 516;
constexpr int kAboutHeight = 363;
// The version label is drawn over this band, so it stays plain and light.
constexpr int kVersionBandTop = 212;
constexpr int kVersionBandBottom = 253;
constexpr int kHeaderHeight = 196;
constexpr int kAccentHeight = 4;
constexpr int kFooterBaseline = 326;
// Pale history bars in the footer; the tallest one is highlighted.
constexpr std::array kBars{14, 18, 16, 22, 19, 25, 30, 27, 21, 17, 20, 24, 33, 38, 31, 26,
                           22, 19, 23, 28, 26, 21, 18, 16, 20, 24, 29, 35, 30, 25, 21, 18};
static_assert(kHeaderHeight + kAccentHeight < kVersionBandTop);
static_assert(kFooterBaseline - *std::max_element(kBars.begin(), kBars.end()) > kVersionBandBottom);
constexpr int kFrameSize = 81;

const QColor kNavyDark(0x0E, 0x26, 0x3F);
const QColor kNavyLight(0x1F, 0x52, 0x7A);
const QColor kAmber(0xF2, 0xAE, 0x00);
const QColor kPaper(0xF5, 0xF8, 0xFB);

struct AboutTexts {
    QString subtitle;
    QString reading;
    QString unit;
    QString footer;
};

QFont SansFont(int pixelSize, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// Three 60-degree blades and a hub, the usual proportions of the ionising-radiation sign.
QPainterPath Trefoil(QPointF centre, qreal hubRadius, qreal rotationDeg) {
    const qreal inner = hubRadius * 1.5;
    const qreal outer = hubRadius * 5.0;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (int blade = 0; blade < 3; ++blade) {
        // Qt angles run counter-clockwise; the first blade points up.
        const qreal start = 60.0 + rotationDeg + blade * 120.0;
        QPainterPath sector;
        sector.arcMoveTo(QRectF(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer), start);
        sector.arcTo(QRectF(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer), start, 60.0);
        sector.arcTo(QRectF(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner), start + 60.0, -60.0);
        sector.closeSubpath();
        path.addPath(sector);
    }
    path.addEllipse(centre, hubRadius, hubRadius);
    return path;
}

void DrawDosimeter(QPainter& p, const QRectF& body, const AboutTexts& texts) {
    p.save();
    // Drop shadow.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 70));
    p.drawRoundedRect(body.translated(5, 6), 18, 18);

    // Lanyard eyelet.
    p.setBrush(QColor(0x3A, 0x3F, 0x45));
    p.drawRoundedRect(QRectF(body.center().x() - 11, body.top() - 9, 22, 16), 6, 6);
    p.setBrush(kNavyDark);
    p.drawRoundedRect(QRectF(body.center().x() - 5, body.top() - 5, 10, 6), 3, 3);

    QLinearGradient shell(body.topLeft(), body.topRight());
    shell.setColorAt(0.0, QColor(0xF9, 0xC6, 0x2E));
    shell.setColorAt(0.55, QColor(0xF2, 0xAE, 0x00));
    shell.setColorAt(1.0, QColor(0xD4, 0x8E, 0x00));
    p.setBrush(shell);
    p.setPen(QPen(QColor(0x8A, 0x5A, 0x00), 1.5));
    p.drawRoundedRect(body, 18, 18);

    // Display bezel and LCD.
    const QRectF bezel(body.left() + 9, body.top() + 14, body.width() - 18, 70);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2B, 0x2F, 0x33));
    p.drawRoundedRect(bezel, 7, 7);
    const QRectF lcd = bezel.adjusted(5, 5, -5, -5);
    QLinearGradient glass(lcd.topLeft(), lcd.bottomLeft());
    glass.setColorAt(0.0, QColor(0xC9, 0xE4, 0xC5));
    glass.setColorAt(1.0, QColor(0xA9, 0xCC, 0xA3));
    p.setBrush(glass);
    p.drawRoundedRect(lcd, 3, 3);

    const QColor ink(0x1D, 0x2B, 0x1F);
    p.setPen(ink);
    p.setFont(SansFont(22, true));
    p.drawText(QRectF(lcd.left(), lcd.top() + 2, lcd.width() - 4, 28), Qt::AlignRight | Qt::AlignVCenter,
               texts.reading);
    p.setFont(SansFont(10, false));
    p.drawText(QRectF(lcd.left(), lcd.top() + 29, lcd.width() - 4, 13), Qt::AlignRight | Qt::AlignVCenter,
               texts.unit);
    // Rate bar: a few lit segments.
    p.setPen(Qt::NoPen);
    for (int segment = 0; segment < 10; ++segment) {
        const QRectF cell(lcd.left() + 4 + segment * 6.2, lcd.bottom() - 12, 4.4, 7);
        p.setBrush(segment < 4 ? ink : QColor(0x9C, 0xBC, 0x96));
        p.drawRect(cell);
    }

    // Three keys.
    const qreal keysY = bezel.bottom() + 22;
    const qreal step = body.width() / 4.0;
    for (int key = 1; key <= 3; ++key) {
        const QPointF c(body.left() + step * key, keysY);
        QRadialGradient cap(c - QPointF(2, 2), 9);
        cap.setColorAt(0.0, QColor(0x6A, 0x71, 0x78));
        cap.setColorAt(1.0, QColor(0x2F, 0x34, 0x39));
        p.setBrush(cap);
        p.drawEllipse(c, 7.5, 7.5);
    }

    // Printed sign below the keys.
    const QPointF signCentre(body.center().x(), body.bottom() - 26);
    p.setBrush(QColor(0x23, 0x23, 0x23));
    p.drawEllipse(signCentre, 15, 15);
    p.setBrush(QColor(0xF5, 0xC2, 0x1A));
    p.drawEllipse(signCentre, 13, 13);
    p.setBrush(QColor(0x23, 0x23, 0x23));
    p.drawPath(Trefoil(signCentre, 2.3, 0));
    p.restore();
}

QImage DrawAbout(const AboutTexts& texts) {
    QImage image(kAboutWidth, kAboutHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Light body; the version band lies in it.
    QLinearGradient paper(0, kHeaderHeight, 0, kAboutHeight);
    paper.setColorAt(0.0, kPaper);
    paper.setColorAt(1.0, QColor(0xE4, 0xEC, 0xF3));
    p.fillRect(image.rect(), paper);

    // Header.
    QLinearGradient header(0, 0, kAboutWidth, kHeaderHeight);
    header.setColorAt(0.0, kNavyDark);
    header.setColorAt(1.0, kNavyLight);
    p.fillRect(QRect(0, 0, kAboutWidth, kHeaderHeight), header);
    // Faint sign on the right, partly cut by the header's edge.
    p.save();
    p.setClipRect(QRect(0, 0, kAboutWidth, kHeaderHeight));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 16));
    p.drawPath(Trefoil(QPointF(470, 150), 17, 0));
    p.restore();
    p.fillRect(QRect(0, kHeaderHeight, kAboutWidth, kAccentHeight), kAmber);

    DrawDosimeter(p, QRectF(42, 26, 92, 152), texts);

    const qreal textLeft = 168;
    p.setPen(Qt::white);
    p.setFont(SansFont(38, true));
    p.drawText(QPointF(textLeft, 84), QStringLiteral("Kalvo Explorer"));
    p.fillRect(QRectF(textLeft + 2, 100, 56, 3), kAmber);
    p.setPen(QColor(0xC9, 0xDA, 0xEA));
    p.setFont(SansFont(17, false));
    p.drawText(QPointF(textLeft + 1, 134), texts.subtitle);

    // Footer: pale history bars above a line of what the program does.
    const int baseline = kFooterBaseline;
    const auto tallest = std::max_element(kBars.begin(), kBars.end());
    const qreal barStep = static_cast<qreal>(kAboutWidth - 48) / kBars.size();
    p.setPen(Qt::NoPen);
    for (std::size_t i = 0; i < kBars.size(); ++i) {
        const qreal x = 24 + static_cast<qreal>(i) * barStep;
        p.setBrush(kBars.begin() + i == tallest ? QColor(0xF6, 0xD2, 0x7A) : QColor(0xCF, 0xDD, 0xE9));
        p.drawRect(QRectF(x + 1.5, baseline - kBars[i], barStep - 3, kBars[i]));
    }
    p.fillRect(QRectF(24, baseline, kAboutWidth - 48, 1), QColor(0xA8, 0xBC, 0xCE));
    p.setPen(QColor(0x5B, 0x70, 0x84));
    p.setFont(SansFont(12, false));
    p.drawText(QRect(0, baseline + 8, kAboutWidth, 22), Qt::AlignHCenter | Qt::AlignVCenter, texts.footer);

    // A hairline edge: the window has no frame and may sit over a light page.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0x7E, 0x95, 0xAB));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, kAboutWidth - 1, kAboutHeight - 1);
    p.end();
    return image;
}

// Yellow disc with the sign turned by 30 degrees per frame: four frames make one 120-degree period.
QImage DrawBusyFrame(int frame) {
    QImage image(kFrameSize, kFrameSize, QImage::Format_RGB32);
    image.fill(Qt::white);  // white is the busy window's transparent colour
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(kFrameSize / 2.0, kFrameSize / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1E, 0x1E, 0x1E));
    p.drawEllipse(centre, 38.5, 38.5);
    QRadialGradient disc(centre - QPointF(9, 11), 44);
    disc.setColorAt(0.0, QColor(0xFF, 0xD9, 0x45));
    disc.setColorAt(1.0, QColor(0xF0, 0xAA, 0x00));
    p.setBrush(disc);
    p.drawEllipse(centre, 35, 35);
    p.setBrush(QColor(0x1E, 0x1E, 0x1E));
    p.drawPath(Trefoil(centre, 5.6, -30.0 * frame));
    p.end();
    return image;
}

// The application icon: the busy indicator's yellow sign on a navy tile, transparent around it.
// Small sizes get a thicker hub and blades so the sign still reads at 16 pixels.
QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    QLinearGradient tile(QPointF(0, 0), QPointF(0, 256));
    tile.setColorAt(0.0, kNavyLight);
    tile.setColorAt(1.0, kNavyDark);
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    const qreal margin = size <= 24 ? 4.0 : 12.0;
    p.drawRoundedRect(QRectF(margin, margin, 256 - 2 * margin, 256 - 2 * margin), 44, 44);
    const QPointF centre(128, 128);
    QRadialGradient disc(centre - QPointF(24, 30), 120);
    disc.setColorAt(0.0, QColor(0xFF, 0xD9, 0x45));
    disc.setColorAt(1.0, kAmber);
    p.setBrush(disc);
    p.drawEllipse(centre, size <= 24 ? 112.0 : 96.0, size <= 24 ? 112.0 : 96.0);
    p.setBrush(QColor(0x1E, 0x1E, 0x1E));
    p.drawPath(Trefoil(centre, size <= 24 ? 19.0 : 15.0, 0.0));
    p.end();
    return image;
}

bool WriteJpeg(const QImage& source, const QString& path, int quality) {
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file) return false;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);  // a failure here is a tool failure: the default exit is fine
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    // No chroma subsampling: keeps thin coloured edges clean on these small pictures.
    cinfo.comp_info[0].h_samp_factor = 1;
    cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // libjpeg's API is not const-correct; the row is only read.
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

bool Save(const QImage& image, const QDir& dir, const QString& name, bool preview) {
    const QString path = dir.filePath(name + QStringLiteral(".jpg"));
    if (!WriteJpeg(image, path, 90)) {
        std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    if (preview) return image.save(dir.filePath(name + QStringLiteral(".png")), "PNG");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Draws into images only; no display needed.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = QGuiApplication::arguments();
    args.removeFirst();
    const bool preview = args.removeAll(QStringLiteral("--png")) > 0;
    const bool icons = args.removeAll(QStringLiteral("--icons")) > 0;
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: make_artwork [--png] OUTPUT_DIR\n       make_artwork --icons ICON_DIR\n");
        return 2;
    }
    if (icons) {
        // ICON_DIR/hicolor/NxN/apps/org.kalvo.Explorer.png, as installed.
        bool ok = true;
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(args.front()).arg(size);
            const QString path = folder + QStringLiteral("/org.kalvo.Explorer.png");
            ok = QDir().mkpath(folder) && DrawIcon(size).save(path, "PNG") && ok;
            std::printf("%s\n", qPrintable(path));
        }
        return ok ? 0 : 1;
    }
    QDir dir(args.front());
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "make_artwork: cannot create %s\n", qPrintable(args.front()));
        return 1;
    }

    const AboutTexts russian{QStringLiteral("Менеджер дозиметров R630 / R520"), QStringLiteral("0,12"),
                             QStringLiteral("мкЗв/ч"),
                             QStringLiteral("Измерение  ·  История  ·  Настройки  ·  Обновление прошивки")};
    const AboutTexts english{QStringLiteral("Dosimeter manager R630 / R520"), QStringLiteral("0.12"),
                             QStringLiteral("µSv/h"),
                             QStringLiteral("Measurement  ·  History  ·  Settings  ·  Firmware update")};
    bool ok = Save(DrawAbout(russian), dir, QStringLiteral("about_ru"), preview);
    ok = Save(DrawAbout(english), dir, QStringLiteral("about_en"), preview) && ok;
    for (int frame = 0; frame < 4; ++frame)
        ok = Save(DrawBusyFrame(frame), dir, QStringLiteral("busy_%1").arg(frame + 1), preview) && ok;
    return ok ? 0 : 1;
}
