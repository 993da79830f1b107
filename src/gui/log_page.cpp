#include "gui/log_page.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenu>
#include <QTextBlock>
#include <QTextCursor>

namespace kalvo {

LogPage::LogPage(QAction* logVisibleAction, QWidget* parent) : QWidget(parent) {
    setObjectName("TabSheet_Log");
    auto* panel = new QFrame(this);
    panel->setFixedWidth(130);
    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName("Memo_Log");
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font("Courier New");
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(11);
    memo_->setFont(font);

    // Nothing enables the clear and save items.
    clearAction_ = new QAction("Очистить лог", this);
    clearAction_->setObjectName("Action_LOG_Clear");
    clearAction_->setEnabled(false);
    saveAction_ = new QAction("Сохранить", this);
    saveAction_->setEnabled(false);
    memo_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(memo_, &QWidget::customContextMenuRequested, this, [this, logVisibleAction](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(logVisibleAction);
        menu.addAction(clearAction_);
        menu.addAction(saveAction_);
        menu.exec(memo_->mapToGlobal(at));
    });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panel);
    layout->addWidget(memo_, 1);
}

void LogPage::AppendLine(const QString& line) { memo_->appendPlainText(line); }

void LogPage::ReplaceLastLine(const QString& line) {
    QTextCursor cursor(memo_->document()->lastBlock());
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.movePosition(QTextCursor::StartOfBlock);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(line);
}

void LogPage::ApplyCaptions(const QString& clearCaption) { clearAction_->setText(clearCaption); }

}  // namespace kalvo
