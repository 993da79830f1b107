#include "gui/device_info_page.h"

#include <QTextBlockFormat>
#include <QTextCursor>
#include <QVBoxLayout>

namespace kalvo {

DeviceInfoPage::DeviceInfoPage(QWidget* parent) : QWidget(parent) {
    setObjectName("TabSheet_DevInfo");
    memo_ = new QTextEdit(this);
    memo_->setAcceptRichText(false);
    memo_->setObjectName("Memo_Info");
    memo_->setReadOnly(true);
    QFont font("Arial Narrow");
    font.setPixelSize(13);
    memo_->setFont(font);
    renew_ = new QPushButton("Обновление", this);
    renew_->setObjectName("BitBtn_ReNewDeviceInfo");
    renew_->setEnabled(false);
    renew_->setMinimumWidth(140);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(memo_, 1);
    layout->addWidget(renew_, 0, Qt::AlignHCenter);
}

void DeviceInfoPage::ShowLines(const std::vector<std::string>& lines) {
    if (lines == shown_) return;
    shown_ = lines;
    memo_->clear();
    QTextCursor cursor(memo_->document());
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) cursor.insertBlock();
        cursor.setBlockFormat(centred);
        cursor.insertText(QString::fromStdString(lines[i]));
    }
}

}  // namespace kalvo
