#include "gui/about_window.h"

#include <QtGui/QFont>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPixmap>
#include <QtWidgets/QLabel>

#include "gui/jpeg_image.h"
#include "i18n/captions.h"

namespace kalvo {
namespace {

constexpr int kClientWidth = 516;
constexpr int kClientHeight = 363;
constexpr int kLabelTop = 212;
constexpr int kLabelWidth = 515;
constexpr int kLabelHeight = 41;
// The label keeps its distances to the left, right and bottom edges when the window is resized.
constexpr int kLabelRightGap = kClientWidth - kLabelWidth;
constexpr int kLabelBottomGap = kClientHeight - kLabelTop - kLabelHeight;

QLabel* MakePicture(QWidget* parent, const QString& name, const QString& resource) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setScaledContents(true);
    label->setPixmap(QPixmap::fromImage(LoadJpegResource(resource)));
    label->hide();
    return label;
}

}  // namespace

AboutWindow::AboutWindow(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      mainWindow_(mainWindow),
      imageRus_(MakePicture(this, QStringLiteral("Image_RUS"), QStringLiteral(":/pictures/about_ru.jpg"))),
      imageEng_(MakePicture(this, QStringLiteral("Image_ENG"), QStringLiteral(":/pictures/about_en.jpg"))),
      labelVersion_(new QLabel(QStringLiteral("Version ***"), this)) {
    setObjectName(QStringLiteral("AboutWindow"));
    setFixedSize(kClientWidth, kClientHeight);

    labelVersion_->setObjectName(QStringLiteral("Label_Version"));
    labelVersion_->setAlignment(Qt::AlignCenter);
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setBold(true);
    font.setPixelSize(16);
    labelVersion_->setFont(font);
    // The picture is light under the label: keep the text black and the label see-through
    // whatever the desktop theme or a style sheet of the main window (ours wins over inherited).
    labelVersion_->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    labelVersion_->raise();
    PlaceChildren();
#ifdef _WIN32
    // Under Wine a plain top-level window lying wholly over the main window stayed black on the
    // screen although it was painted; a layered one is shown. paintEvent keeps it opaque.
    setAttribute(Qt::WA_TranslucentBackground);
#endif

    for (QWidget* clickable : {static_cast<QWidget*>(imageRus_), static_cast<QWidget*>(imageEng_),
                               static_cast<QWidget*>(labelVersion_)})
        clickable->installEventFilter(this);
}

void AboutWindow::ShowAbout(InterfaceLanguage language) {
    language_ = language;
    labelVersion_->setText(
        QString::fromStdString(PickText(language, "Версия", "Version") + ProgramVersionText()));
    if (isVisible()) {
        // Shown again from the menu: no show event follows, so pick the picture here.
        FormShow();
        raise();
        return;
    }
    CentreOverMainWindow();
    show();
}

void AboutWindow::Dismiss() {
    close();
    aboutShown_ = false;
}

QString AboutWindow::VersionText() const { return labelVersion_->text(); }

bool AboutWindow::ShowsRussianPicture() const { return imageRus_->isVisible(); }

bool AboutWindow::ShowsEnglishPicture() const { return imageEng_->isVisible(); }

void AboutWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

// Opaque under the picture too: a see-through pixel of a layered window would let clicks through.
void AboutWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
}

void AboutWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceChildren();
}

// Hidden widgets get their resize event only when shown, so this also runs at construction.
void AboutWindow::PlaceChildren() {
    imageRus_->setGeometry(rect());
    imageEng_->setGeometry(rect());
    labelVersion_->setGeometry(0, height() - kLabelBottomGap - kLabelHeight, width() - kLabelRightGap,
                               kLabelHeight);
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Image_RUSClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void AboutWindow::FormShow() {
    aboutShown_ = true;
    const bool russian = language_ == InterfaceLanguage::Russian;
    imageRus_->setVisible(russian);
    imageEng_->setVisible(!russian);
}

void AboutWindow::Image_RUSClick() {
    close();
    aboutShown_ = false;
}

void AboutWindow::CentreOverMainWindow() {
    if (!mainWindow_) return;
    const QRect main = mainWindow_->frameGeometry();
    move(main.left() + main.width() / 2 - width() / 2, main.top() + main.height() / 2 - height() / 2);
}

}  // namespace kalvo
