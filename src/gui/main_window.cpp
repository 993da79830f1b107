#include "gui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <ctime>

#include "app/pages.h"
#include "app/session.h"
#include "app/status_style.h"
#include "app/trend_threshold.h"
#include "gui/about_window.h"
#include "gui/busy_window.h"
#include "gui/device_info_page.h"
#include "gui/history_page.h"
#include "gui/log_page.h"
#include "gui/measuring_page.h"
#include "gui/settings_page_widget.h"
#include "gui/qt_ui_port.h"
#include "i18n/captions.h"
#include "platform/config_file.h"
#include "upload/report_upload.h"

namespace kalvo {

namespace {

constexpr int kClientWidth = 844;
constexpr int kClientHeight = 600;
constexpr int kBottomBarHeight = 29;
constexpr int kTimerProcMs = 100;

QString Q(const std::string& text) { return QString::fromStdString(text); }

void Paint(QLabel* panel, const PanelAppearance& look) {
    QPalette palette = panel->parentWidget() ? panel->parentWidget()->palette() : panel->palette();
    if (look.background) {
        palette.setColor(QPalette::Window, QColor(look.background->red, look.background->green, look.background->blue));
    }
    if (look.text) {
        palette.setColor(QPalette::WindowText, QColor(look.text->red, look.text->green, look.text->blue));
    }
    panel->setPalette(palette);
    QFont font = panel->font();
    font.setBold(look.bold);
    panel->setFont(font);
}

QLabel* MakePanel(const QString& name, const QString& text, QWidget* parent) {
    auto* panel = new QLabel(text, parent);
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    return panel;
}

}  // namespace

MainWindow::MainWindow(AppContext& context, QtUiPort& ui) : context_(context), ui_(ui) {
    setObjectName("TForm1");
    ui_.Attach(this);
    setWindowTitle(Q(MainWindowCaption()));
    QFont font("Arial Unicode MS");
    font.setStyleHint(QFont::SansSerif);
    setFont(font);

    BuildMenu();
    BuildPages();
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pages_, 1);
    layout->addWidget(BuildBottomBar());
    setCentralWidget(central);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    setMinimumSize(768, 272);

    context_.log.SetObserver([this](const std::string& line) { logPage_->AppendLine(Q(line)); });

    timerProc_.setInterval(kTimerProcMs);
    connect(&timerProc_, &QTimer::timeout, this, &MainWindow::Timer_ProcTimer);

    // A signal's close waits for the device write it came in; the write's end brings it.
    context_.stop.onWritingEnded = [this] {
        if (closeAfterWrite_) QMetaObject::invokeMethod(this, [this] { CloseForSignal(); }, Qt::QueuedConnection);
    };

    // The busy window first, then the about window, both hidden.
    busy_ = std::make_unique<BusyWindow>(this);
    about_ = std::make_unique<AboutWindow>(this);
}

MainWindow::~MainWindow() {
    context_.firmware.onRunningChanged = nullptr;
    context_.stop.onWritingEnded = nullptr;
    FormDestroy();
    ui_.Attach(nullptr);
    context_.log.SetObserver({});
}

QAction* MainWindow::MakeAction(const QString& name, const QString& caption) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    return action;
}

QAction* MainWindow::Action(const QString& name) const { return findChild<QAction*>(name); }

void MainWindow::BuildMenu() {
    QMenuBar* bar = menuBar();

    fileMenu_ = bar->addMenu("Файл");
    fileMenu_->menuAction()->setObjectName("Action_Menu_File");
    QAction* logVisible = MakeAction("Action_Log_Visible", "Закрыть/показать ЛОГ");
    connect(logVisible, &QAction::triggered, this, &MainWindow::Action_Log_VisibleExecute);
    fileMenu_->addAction(logVisible);
    fileMenu_->addSeparator();
    QAction* exitAction = MakeAction("Action_Exit", "Выход");
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    fileMenu_->addAction(exitAction);

    settingsMenu_ = bar->addMenu("Настройки");
    settingsMenu_->menuAction()->setObjectName("N_Nastroiki");
    connectionMenu_ = settingsMenu_->addMenu("Соединение");
    connectionMenu_->menuAction()->setObjectName("Action_Menu_Connection");

    connectionGroup_ = new QActionGroup(this);
    QAction* autoAction = MakeAction("Action_Connection_Auto", "Автоматическое");
    autoAction->setCheckable(true);
    autoAction->setChecked(true);
    connectionGroup_->addAction(autoAction);
    connect(autoAction, &QAction::triggered, this, [this] {
        context_.connection.Action_Connection_AutoExecute();
        UpdateActions();
    });
    connectionMenu_->addAction(autoAction);

    manualMenu_ = connectionMenu_->addMenu("Вручную");
    QAction* manual = manualMenu_->menuAction();
    manual->setObjectName("Action_Connection_Manual");
    manual->setCheckable(true);
    connectionGroup_->addAction(manual);

    manualGroup_ = new QActionGroup(this);
    QAction* number = MakeAction("Action_Connection_Manual_Number", "Номер порта :");
    number->setCheckable(true);
    number->setChecked(true);
    manualGroup_->addAction(number);
    connect(number, &QAction::triggered, this, &MainWindow::Action_Connection_Manual_NumberExecute);
    manualMenu_->addAction(number);
    QAction* list = MakeAction("Action_Connection_Manual_List", "Выбрать из списка :");
    list->setCheckable(true);
    list->setEnabled(false);
    manualGroup_->addAction(list);
    manualMenu_->addAction(list);

    QAction* verify = MakeAction("Action_Verify_Write", "Проверять запись");
    verify->setCheckable(true);
    verify->setChecked(config_.VerifyAfterWriting());
    context_.firmware.verifyAfterWriting = verify->isChecked();
    connect(verify, &QAction::toggled, this, &MainWindow::Action_Verify_WriteExecute);
    settingsMenu_->addAction(verify);

    // Kept for the update server's data source; not shown.
    QMenu* source = settingsMenu_->addMenu("Источник данных");
    source->menuAction()->setObjectName("Action_Data_Source");
    source->menuAction()->setVisible(false);
    auto* sourceGroup = new QActionGroup(this);
    QAction* internet = MakeAction("Action_Data_Source_Internet", "Интернет");
    internet->setCheckable(true);
    internet->setChecked(true);
    QAction* local = MakeAction("Action_Data_Source_Local", "Локальный");
    local->setCheckable(true);
    sourceGroup->addAction(internet);
    sourceGroup->addAction(local);
    source->addAction(internet);
    source->addAction(local);
    QAction* sourceItem = source->menuAction();
    sourceItem->setProperty(kImageIndex, DataSourceImageIndex(true));
    connect(sourceGroup, &QActionGroup::triggered, this, [sourceItem, internet](QAction*) {
        sourceItem->setProperty(kImageIndex, DataSourceImageIndex(internet->isChecked()));
    });

    helpMenu_ = bar->addMenu("Помощь");
    helpMenu_->menuAction()->setObjectName("Action_Menu_Help");
    QAction* about = MakeAction("Action_Help_About", "О программе");
    connect(about, &QAction::triggered, this, &MainWindow::Action_Help_AboutExecute);
    helpMenu_->addAction(about);

    // The language item sits at the right end of the menu bar.
    QAction* language = MakeAction("Action_Language", "РУС");
    language->setToolTip("Выбор языка");
    connect(language, &QAction::triggered, this, &MainWindow::ToggleLanguage);
    languageButton_ = new QToolButton(bar);
    languageButton_->setDefaultAction(language);
    languageButton_->setAutoRaise(true);
    bar->setCornerWidget(languageButton_, Qt::TopRightCorner);
}

void MainWindow::BuildPages() {
    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControl1");
    measuring_ = new MeasuringPageWidget(context_.live, context_.trend, ui_, context_.language, pages_);
    connect(measuring_, &MeasuringPageWidget::PagesEnabledChanged, pages_, &QWidget::setEnabled);
    pages_->addTab(measuring_, "Измерение");
    history_ = new HistoryPageWidget(context_, pages_);
    connect(history_, &HistoryPageWidget::PageChangeAllowed, pages_->tabBar(), &QWidget::setEnabled);
    pages_->addTab(history_, "История");
    settingsR630_ = new SettingsPageWidget(context_, SettingsFamily::R630, pages_);
    settingsR520_ = new SettingsPageWidget(context_, SettingsFamily::R520, pages_);
    for (SettingsPageWidget* settings : {settingsR630_, settingsR520_}) {
        connect(settings, &SettingsPageWidget::PagesEnabledChanged, pages_, &QWidget::setEnabled);
        pages_->addTab(settings, "Настройки");
    }
    // The threshold of the connected family's settings, once they were read.
    measuring_->SetThresholdSource([this](std::uint8_t unitCode) -> std::optional<double> {
        const DevicePages& device = context_.tick.Pages();
        SettingsPageWidget* settings = device.r630TabVisible   ? settingsR630_
                                       : device.r520TabVisible ? settingsR520_
                                                               : nullptr;
        if (settings == nullptr) return std::nullopt;
        return BackgroundThreshold(settings->Model().Form(), unitCode);
    });
    deviceInfo_ = new DeviceInfoPage(pages_);
    connect(deviceInfo_->RenewButton(), &QPushButton::clicked, this, &MainWindow::BitBtn_ReNewDeviceInfoClick);
    context_.firmware.onRunningChanged = [this] { ApplyUpdateLock(); };
    pages_->addTab(deviceInfo_, "О приборе");
    logPage_ = new LogPage(Action("Action_Log_Visible"), pages_);
    pages_->addTab(logPage_, "Лог");
    // QTabWidget cannot refuse a change, so a refused one is turned back at once; the tab bar
    // is also disabled meanwhile.
    shownPage_ = pages_->currentIndex();
    connect(pages_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index != shownPage_ && !context_.history.PageControl1Changing()) {
            pages_->setCurrentIndex(shownPage_);
            return;
        }
        shownPage_ = index;
    });
}

QWidget* MainWindow::BuildBottomBar() {
    auto* bar = new QWidget(this);
    bar->setFixedHeight(kBottomBarHeight);
    comPanel_ = MakePanel("Panel_COM", "----", bar);
    comPanel_->setFixedWidth(55);
    connectionPanel_ = MakePanel("Panel_Connection", "NOK", bar);
    connectionPanel_->setFixedWidth(55);
    Paint(connectionPanel_, ConnectionAppearance(ConnectionKind::Nok));
    infoText_ = MakePanel("Panel_Bottom_Info_Text", "Ожидание соединения", bar);
    progress_ = new QProgressBar(bar);
    progress_->setObjectName("ProgressBar_Bottom_Info");
    progress_->setFixedWidth(173);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);

    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(1);
    layout->addWidget(comPanel_);
    layout->addWidget(connectionPanel_);
    layout->addWidget(infoText_, 1);
    layout->addWidget(progress_);
    return bar;
}

QWidget* MainWindow::PageWidget(kalvo::Page page) const { return pages_->widget(static_cast<int>(page)); }

bool MainWindow::TabVisible(kalvo::Page page) const { return pages_->isTabVisible(static_cast<int>(page)); }

void MainWindow::SetTabVisible(kalvo::Page page, bool visible) {
    int index = static_cast<int>(page);
    if (pages_->isTabVisible(index) == visible) return;
    int active = pages_->currentIndex();
    pages_->setTabVisible(index, visible);
    std::array<bool, kPageCount> shown{};
    for (int i = 0; i < kPageCount; ++i) shown[static_cast<std::size_t>(i)] = pages_->isTabVisible(i);
    int next = ActivePageAfterHide(active, shown);
    if (next >= 0 && next != pages_->currentIndex()) pages_->setCurrentIndex(next);
}

bool MainWindow::FormCreate() {
    // Language and page first, so the messages below are in the stored language.
    context_.language = LanguageFromOption(options_.LoadLanguage());
    ApplyLanguage();
    pages_->setCurrentIndex(PageFromOption(options_.LoadPage()));

    if (!instance_.TryAcquire()) {
        ui_.ShowMessage(MessageKind::Warning, context_.Pick("Приложение уже запущено!", "Application alredy running!"));
        return false;
    }
    std::string folder = TempFolderPath();
    if (!PrepareTempFolder(folder)) {
        ui_.ShowMessage(MessageKind::Error,
                        context_.Pick("Ошибка создания временного каталога", "Error of creation temporary folder"));
        return false;
    }
    context_.tempFolder = folder;
    EmptyTempFolder(folder);

    SetTabVisible(Page::Log, false);
    LogStartFrame(context_.log, std::time(nullptr));
    SetTabVisible(Page::SettingsR630, false);
    SetTabVisible(Page::SettingsR520, false);
    UpdateActions();
    timerProc_.start();
    return true;
}

void MainWindow::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    timerProc_.stop();
    bool started = !context_.tempFolder.empty();
    instance_.Release();
    if (started) options_.StorePage(pages_->currentIndex());
    // The last readings are stored, or their failure said, before the report is closed.
    if (context_.readingStore) context_.readingStore->Settle();
    // A wrong address is said in the report, not taken for "no server".
    const ConfiguredServer server = ReadConfiguredUpdateServer(ConfigFilePath());
    const std::string addressError = UpdateServerAddressError(server, InterfaceLanguage::English);
    if (started && !addressError.empty()) context_.log.LogError(addressError);
    LogEndFrame(context_.log, std::time(nullptr));
    // Nothing is written or sent for a run that never started (second instance, no folder).
    if (started) {
        // Events go on while the report is sent; clicks must not start anything now.
        setEnabled(false);
        ReportUpload upload(context_.log, context_.log.Lines(), ui_, context_.identity,
                            ReportFilePath(context_.tempFolder), server.server);
        upload.UploadReport("", kServerLogBase, kServerReportName);
    }
    context_.port.Close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing in the middle of a device write (settings, clock, calibration, restart, history
    // erase, dose reset, firmware) would leave the device half written and the log without its
    // end; the write runs inside its button's click, so the window stays until it has ended.
    if (context_.stop.Writing() || context_.firmware.Running()) {
        event->ignore();
        return;
    }
    FormDestroy();
    if (about_) about_->close();
    if (busy_) busy_->close();
    event->accept();
}

void MainWindow::StopSignalled(int signal) {
    context_.stop.Request(signal);
    if (!context_.stop.Writing()) {
        CloseForSignal();
        return;
    }
    closeAfterWrite_ = true;
    // A question open inside the write (the update's retry) is answered No.
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
}

void MainWindow::CloseForSignal() {
    closeAfterWrite_ = false;
    close();
    if (onSignalClose) onSignalClose();
}

void MainWindow::changeEvent(QEvent* event) {
    // A click on the main window dismisses the about window.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && about_ && about_->AboutShown())
        about_->Dismiss();
    QMainWindow::changeEvent(event);
}

void MainWindow::ApplyLanguage() {
    languageButton_->defaultAction()->setText(Q(LanguageActionCaption(context_.language)));
    languageButton_->defaultAction()->setProperty(kImageIndex, LanguageImageIndex(context_.language));
    ApplyCaptions();
}

void MainWindow::ApplyCaptions() {
    const InterfaceLanguage language = context_.language;
    setWindowTitle(Q(MainWindowCaption()));
    auto caption = [language](const char* control) { return Q(CaptionOf(control, language)); };
    fileMenu_->setTitle(caption("Action_Menu_File"));
    connectionMenu_->setTitle(caption("Action_Menu_Connection"));
    helpMenu_->setTitle(caption("Action_Menu_Help"));
    settingsMenu_->setTitle(caption("N_Nastroiki"));
    for (const char* name : {"Action_Exit", "Action_Log_Visible", "Action_Connection_Auto",
                             "Action_Connection_Manual_Number", "Action_Connection_Manual_List", "Action_Help_About"}) {
        if (QAction* action = Action(name)) action->setText(caption(name));
    }
    manualMenu_->setTitle(caption("Action_Connection_Manual"));
    Action("Action_Verify_Write")->setText(Q(context_.Pick("Проверять запись", "Verify after writing")));
    logPage_->ApplyCaptions(caption("Action_LOG_Clear"));
    measuring_->ApplyCaptions(caption("GroupBox_Measure_Fon"), caption("GroupBox_Measure_Dose"),
                              caption("CheckBox_Measure_AutoRead"), caption("BitBtn_Measure_Read"),
                              caption("BitBtn_Measure_Dose_Reset"));
    measuring_->ApplyTrendCaptions();
    history_->ApplyCaptions(language);
    deviceInfo_->RenewButton()->setText(caption("BitBtn_ReNewDeviceInfo"));
    pages_->setTabText(static_cast<int>(Page::Measuring), caption("TabSheet_Measuring"));
    pages_->setTabText(static_cast<int>(Page::History), caption("TabSheet_DevHistory"));
    pages_->setTabText(static_cast<int>(Page::DeviceInfo), caption("TabSheet_DevInfo"));
    settingsR630_->ApplyCaptions(language);
    settingsR520_->ApplyCaptions(language);
    pages_->setTabText(static_cast<int>(Page::SettingsR630), settingsR630_->TabCaption(language));
    pages_->setTabText(static_cast<int>(Page::SettingsR520), settingsR520_->TabCaption(language));
    pages_->setTabText(static_cast<int>(Page::Log), caption("TabSheet_Log"));
    UpdateActions();
}

void MainWindow::ToggleLanguage() {
    context_.language = Toggled(context_.language);
    ApplyLanguage();
    options_.StoreLanguage(LanguageOptionValue(context_.language));
}

QString MainWindow::LanguageCaption() const { return languageButton_->defaultAction()->text(); }

void MainWindow::Action_Log_VisibleExecute() {
    SetTabVisible(Page::Log, !TabVisible(Page::Log));
    UpdateActions();
}

void MainWindow::Action_Help_AboutExecute() { about_->ShowAbout(context_.language); }

void MainWindow::Action_Connection_Manual_NumberExecute() {
    bool accepted = false;
    QString text = QInputDialog::getText(
        this, Q(context_.Pick("Установка соединения", "Connecting")),
        Q(context_.Pick("Введите номер COM порта от 0 до 250", "Enter COM Port Number from 0 to 250")),
        QLineEdit::Normal, QString::number(context_.connection.ManualPortNumber()), &accepted);
    context_.connection.Action_Connection_Manual_NumberExecute(accepted ? std::optional(text.toStdString())
                                                                         : std::nullopt);
    // Only the dialog names the port; a language switch brings back the table's plain caption.
    std::string manualCaption = context_.connection.ManualCaption();
    if (!manualCaption.empty()) manualMenu_->setTitle(Q(manualCaption));
    UpdateActions();
}

void MainWindow::UpdateActions() {
    // The show/hide item names what it will do, replacing the caption table's text.
    QAction* logVisible = Action("Action_Log_Visible");
    bool shown = TabVisible(Page::Log);
    logVisible->setText(shown ? Q(context_.Pick("Cкрыть лог", "Hide Report"))
                              : Q(context_.Pick("Показать лог", "Show Report")));
    logVisible->setProperty(kImageIndex, LogVisibleImageIndex(shown));
    bool manual = context_.connection.Mode() == ConnectionMode::Manual;
    Action("Action_Connection_Auto")->setChecked(!manual);
    manualMenu_->menuAction()->setChecked(manual);
}

void MainWindow::Timer_ProcTimer() {
    context_.live.measuringPageActive = pages_->currentIndex() == static_cast<int>(Page::Measuring);
    context_.tick.Run();
    RefreshFromModels();
}

void MainWindow::RefreshFromModels() {
    const kalvo::ConnectionPanel& panel = context_.connection.Panel();
    if (!panel.text.empty()) {
        connectionPanel_->setText(Q(panel.text));
        Paint(connectionPanel_, ConnectionAppearance(panel.kind));
        comPanel_->setText(Q(panel.comText));
    }
    const DevicePages& device = context_.tick.Pages();
    SetTabVisible(Page::SettingsR630, device.r630TabVisible);
    SetTabVisible(Page::SettingsR520, device.r520TabVisible);
    deviceInfo_->RenewButton()->setEnabled(device.renewEnabled && !context_.firmware.Running());
    deviceInfo_->ShowLines(device.infoLines);
    measuring_->Refresh();
    history_->Refresh();
    UpdateActions();
}

void MainWindow::BitBtn_ReNewDeviceInfoClick() { context_.firmware.UpdateFirmware(); }

void MainWindow::Action_Verify_WriteExecute(bool checked) {
    context_.firmware.verifyAfterWriting = checked;
    config_.SetVerifyAfterWriting(checked);
}

void MainWindow::ApplyUpdateLock() {
    const bool running = context_.firmware.Running();
    deviceInfo_->RenewButton()->setEnabled(!running && context_.tick.Pages().renewEnabled);
    // The pages' contents, as the described window disables its tab sheets; the tabs stay.
    for (Page page : {Page::Measuring, Page::History, Page::SettingsR630, Page::SettingsR520, Page::DeviceInfo})
        PageWidget(page)->setEnabled(!running);
}

void MainWindow::ShowStatus(const QString& text, int style) {
    infoText_->setText(text);
    Paint(infoText_, StatusAppearance(style));
}

void MainWindow::ShowProgress(int position, int max) {
    progress_->setRange(0, max > 0 ? max : 100);
    progress_->setValue(max > 0 ? position : 0);
}

void MainWindow::ReplaceLastLogLine(const QString& text) { logPage_->ReplaceLastLine(text); }

void MainWindow::ShowBusy(int intervalMs) { busy_->ShowBusy(intervalMs); }

}  // namespace kalvo
