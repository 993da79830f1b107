#pragma once
// The "О приборе" page: what the connected device is and whether the built-in firmware is
// newer, with the upgrade button.
#include <QTextEdit>
#include <QPushButton>
#include <QWidget>

#include <string>
#include <vector>

namespace kalvo {

class DeviceInfoPage : public QWidget {
    Q_OBJECT
public:
    explicit DeviceInfoPage(QWidget* parent = nullptr);

    void ShowLines(const std::vector<std::string>& lines);
    QString Text() const { return memo_->toPlainText(); }
    QPushButton* RenewButton() const { return renew_; }

private:
    QTextEdit* memo_;
    QPushButton* renew_;
    std::vector<std::string> shown_;
};

}  // namespace kalvo
