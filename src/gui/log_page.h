#pragma once
// The "Лог" page: a read-only memo mirroring the report log, an empty panel on its left, and a
// context menu with the show/hide action, a clear item and a save item (both disabled).
#include <QPlainTextEdit>
#include <QWidget>

class QAction;

namespace kalvo {

class LogPage : public QWidget {
    Q_OBJECT
public:
    LogPage(QAction* logVisibleAction, QWidget* parent = nullptr);

    void AppendLine(const QString& line);
    void ReplaceLastLine(const QString& line);
    void Clear() { memo_->clear(); }
    QString Text() const { return memo_->toPlainText(); }
    void ApplyCaptions(const QString& clearCaption);

    QPlainTextEdit* Memo() const { return memo_; }

private:
    QPlainTextEdit* memo_;
    QAction* clearAction_;
    QAction* saveAction_;
};

}  // namespace kalvo
