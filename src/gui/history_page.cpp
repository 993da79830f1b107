#include "gui/history_page.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/context.h"
#include "archive/archive_texts.h"
#include "archive/history_archive.h"
#include "gui/history_chart_widget.h"
#include "gui/page_widgets.h"
#include "history/history_download.h"
#include "i18n/captions.h"

namespace kalvo {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The program's notices break lines with "\n\r".

// "CSV Files(*.csv)|*.CSV" (description|pattern pairs) as Qt's "CSV Files (*.csv *.CSV)"; both
// cases of the pattern, since file names are case-sensitive here.
QStringList NameFilters(const std::string& filter) {
    const QStringList parts = Q(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        if (qsizetype open = description.lastIndexOf('('); open > 0) description.truncate(open);
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            for (const QString& spelling : {pattern.toLower(), pattern})
                if (!patterns.contains(spelling)) patterns << spelling;
        }
        filters << QString("%1 (%2)").arg(description.trimmed(), patterns.join(' '));
    }
    return filters;
}

QPushButton* Button(const char* name, QStyle::StandardPixmap icon, QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setIcon(parent->style()->standardIcon(icon));
    return button;
}

}  // namespace

HistoryPageWidget::HistoryPageWidget(AppContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      history_(context.history),
      archiveView_(context.history, context.ui, context.log, context.language, DefaultArchivePath(),
                   &context.archiveWork),
      language_(context.language) {
    setObjectName("TabSheet_DevHistory");

    read_ = Button("BitBtn_HIS_Read", QStyle::SP_ArrowDown, this);
    delete_ = Button("BitBtn_HIS_Delete", QStyle::SP_TrashIcon, this);
    save_ = Button("BitBtn_HIS_Save_CSV", QStyle::SP_DialogSaveButton, this);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("ProgressBar_HIS_Read");
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(14);
    notice_ = RedNotice("Label_HIS_Version_Msg", this);
    archive_ = new QCheckBox(this);
    archive_->setObjectName("CheckBox_HIS_Archive");

    auto* left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(read_);
    left->addWidget(progress_);
    left->addSpacing(10);
    left->addWidget(save_);
    left->addWidget(archive_);
    left->addSpacing(10);
    left->addWidget(delete_);
    left->addStretch(1);
    left->addWidget(notice_);
    left->addStretch(1);
    auto* leftColumn = new QWidget(this);
    leftColumn->setLayout(left);
    leftColumn->setFixedWidth(140);

    chart_ = new HistoryChartWidget(this);

    panel_ = new QWidget(this);
    panel_->setObjectName("Panel_HIS_Buttons");
    back_ = Button("BitBtn_HIS_Back", QStyle::SP_ArrowBack, panel_);
    up_ = Button("BitBtn_HIS_Up", QStyle::SP_ArrowUp, panel_);
    forward_ = Button("BitBtn_HIS_Vpered", QStyle::SP_ArrowForward, panel_);
    last_ = Button("BitBtn_HIS_To_Last", QStyle::SP_MediaSkipForward, panel_);
    showMaximum_ = new QCheckBox(panel_);
    showMaximum_->setObjectName("CheckBox_HIS_Show_MaxVal");
    auto* navigation = new QHBoxLayout(panel_);
    navigation->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* button : {back_, up_, forward_, last_}) {
        button->setMinimumWidth(96);
        navigation->addWidget(button);
    }
    navigation->addStretch(1);
    navigation->addWidget(showMaximum_);
    // Disabled until a download completes, as designed.
    panel_->setEnabled(false);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(4);
    right->addWidget(chart_, 1);
    right->addWidget(panel_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(leftColumn);
    layout->addLayout(right, 1);

    connect(read_, &QPushButton::clicked, this, &HistoryPageWidget::ReadClick);
    connect(save_, &QPushButton::clicked, this, &HistoryPageWidget::SaveClick);
    connect(archive_, &QCheckBox::clicked, this, &HistoryPageWidget::ArchiveClick);
    connect(delete_, &QPushButton::clicked, this, [this] {
        history_.BitBtn_HIS_DeleteClick();
        Refresh();
    });
    connect(back_, &QPushButton::clicked, this, [this] {
        history_.BitBtn_HIS_BackClick();
        Refresh();
    });
    connect(up_, &QPushButton::clicked, this, [this] {
        history_.BitBtn_HIS_UpClick();
        Refresh();
    });
    connect(forward_, &QPushButton::clicked, this, [this] {
        history_.BitBtn_HIS_VperedClick();
        Refresh();
    });
    connect(last_, &QPushButton::clicked, this, [this] {
        history_.BitBtn_HIS_To_LastClick();
        Refresh();
    });
    connect(showMaximum_, &QCheckBox::clicked, this, [this](bool checked) {
        history_.CheckBox_HIS_Show_MaxValClick(checked);
        Refresh();
    });
    connect(chart_, &HistoryChartWidget::BarDoubleClicked, this, [this](int index) {
        history_.ChartBarDoubleClick(index);
        Refresh();
    });

    // The download calls this after every page, just before it lets events run.
    history_.onPage = [this](int, int) { Refresh(); };
    ApplyCaptions(language_);
}

HistoryPageWidget::~HistoryPageWidget() { history_.onPage = nullptr; }

void HistoryPageWidget::ReadClick() {
    // The download runs inside this call and pumps events: show its start as soon as it lets
    // them run, its pages through onPage, and its end below. A click during it only cancels.
    QTimer::singleShot(0, this, &HistoryPageWidget::Refresh);
    const bool starts = !history_.Downloading();
    history_.BitBtn_HIS_ReadClick();
    // Every completed download goes into the archive; a failed archive is only reported.
    if (starts && history_.Loaded())
        ArchiveCompletedDownload(DefaultArchivePath(), history_, context_.identity,
                                 {&context_.ui, &context_.log, context_.language}, &context_.archiveWork);
    // The download showed itself; with the box ticked the archive follows, now holding it.
    if (starts && archiveWanted_) archiveWanted_ = archiveView_.Show(ConnectedSerial());
    Refresh();
}

std::string HistoryPageWidget::ConnectedSerial() const {
    if (!context_.connection.DeviceConnected() || !context_.tick.DeviceRecognised()) return {};
    return FormatSerial(context_.identity.inf1);
}

void HistoryPageWidget::ArchiveClick(bool checked) {
    if (checked) {
        archiveWanted_ = archiveView_.Show(ConnectedSerial());
    } else {
        archiveWanted_ = false;
        archiveView_.Hide();
    }
    Refresh();
}

void HistoryPageWidget::SaveClick() {
    LocalCsvFileAccess files;
    std::string chosen;
    CsvFileChooser choose = [this, &chosen](const CsvSaveDialog& dialog) {
        CsvSaveDialog offered = dialog;
        offered.fileName = lastFileName_;
        std::optional<std::string> name = chooser_ ? chooser_(offered) : ChooseWithDialog(offered);
        if (name) chosen = *name;
        return name;
    };
    CsvSaveResult result = history_.BitBtn_HIS_Save_CSVClick(files, choose);
    // The name is kept once the file was created, whether or not the write went through.
    if (result == CsvSaveResult::Saved || result == CsvSaveResult::WriteFailed) lastFileName_ = chosen;
    Refresh();
}

std::optional<std::string> HistoryPageWidget::ChooseWithDialog(const CsvSaveDialog& offered) {
    return ChooseCsvFile(this, offered);
}

std::optional<std::string> ChooseCsvFile(QWidget* parent, const CsvSaveDialog& offered) {
    QFileDialog dialog(parent, Q(offered.title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The save itself asks before it overwrites.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(Q(offered.defaultExtension));
    dialog.setNameFilters(NameFilters(offered.filter));
    if (!offered.fileName.empty()) dialog.selectFile(Q(offered.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst().toStdString();
}

void HistoryPageWidget::Refresh() {
    const HistoryView& view = history_.View();
    const bool reading = view.readTag == 1;
    read_->setText(Q(CaptionOf("BitBtn_HIS_Read", language_, reading)));
    if (reading != readIconIsStop_) {
        readIconIsStop_ = reading;
        read_->setIcon(style()->standardIcon(reading ? QStyle::SP_BrowserStop : QStyle::SP_ArrowDown));
    }
    delete_->setEnabled(view.deleteEnabled);
    save_->setEnabled(view.saveEnabled);
    panel_->setEnabled(view.navigationEnabled);
    progress_->setRange(0, std::max(view.progressMax, 1));
    progress_->setValue(view.progressPosition);
    notice_->setText(LabelText(view.versionMessage));
    showMaximum_->setChecked(history_.ChartState().showMaximum);
    // Stays ticked through a download, which shows itself until it ends.
    archive_->setChecked(archiveWanted_);
    archive_->setEnabled(!history_.Downloading());
    chart_->SetModel(view.chart);

    const bool allowed = history_.PageControl1Changing();
    if (allowed != pageChangeAllowed_) {
        pageChangeAllowed_ = allowed;
        emit PageChangeAllowed(allowed);
    }
}

void HistoryPageWidget::ApplyCaptions(InterfaceLanguage language) {
    language_ = language;
    auto caption = [language](const char* control) { return Q(CaptionOf(control, language)); };
    delete_->setText(caption("BitBtn_HIS_Delete"));
    save_->setText(caption("BitBtn_HIS_Save_CSV"));
    back_->setText(caption("BitBtn_HIS_Back"));
    up_->setText(caption("BitBtn_HIS_Up"));
    forward_->setText(caption("BitBtn_HIS_Vpered"));
    last_->setText(caption("BitBtn_HIS_To_Last"));
    showMaximum_->setText(caption("CheckBox_HIS_Show_MaxVal"));
    archive_->setText(Q(kArchiveBoxCaption.Pick(language)));
    // The read button's caption follows the running download.
    Refresh();
}

}  // namespace kalvo
