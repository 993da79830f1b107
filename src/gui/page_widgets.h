#pragma once
// Small pieces the pages share.
#include <QLabel>
#include <QString>
#include <string>

namespace kalvo {

// The red notice of a page that cannot work with the device (boot mode, old firmware).
inline QLabel* RedNotice(const char* name, QWidget* parent) {
    auto* notice = new QLabel(parent);
    notice->setObjectName(name);
    notice->setAlignment(Qt::AlignCenter);
    QFont font = notice->font();
    font.setPixelSize(13);
    notice->setFont(font);
    QPalette red = notice->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    notice->setPalette(red);
    return notice;
}

// A core text for a label: its "\n\r" line breaks as a label wants them.
inline QString LabelText(const std::string& text) { return QString::fromStdString(text).replace("\n\r", "\n"); }

}  // namespace kalvo
