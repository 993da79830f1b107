#pragma once
// The about window: the program's picture in the interface language with the version over it.
// Any click on it closes it; so does activating the main window (see Dismiss).
#include <QtWidgets/QWidget>

#include "i18n/language.h"

class QLabel;

namespace kalvo {

class AboutWindow : public QWidget {
    Q_OBJECT

public:
    // A top-level window of its own, owned by the main window and centred over it when shown.
    explicit AboutWindow(QWidget* mainWindow);

    // Help / About: sets the version text and shows the window without making it modal.
    void ShowAbout(InterfaceLanguage language);
    // The main window was activated while this window was shown.
    void Dismiss();
    bool AboutShown() const { return aboutShown_; }

    QString VersionText() const;
    bool ShowsRussianPicture() const;
    bool ShowsEnglishPicture() const;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void Image_RUSClick();
    void CentreOverMainWindow();
    void PlaceChildren();

    QWidget* mainWindow_;
    QLabel* imageRus_;
    QLabel* imageEng_;
    QLabel* labelVersion_;
    InterfaceLanguage language_ = InterfaceLanguage::Russian;
    bool aboutShown_ = false;
};

}  // namespace kalvo
