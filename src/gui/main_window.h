#pragma once
// The main window: six pages, the menu, the bottom bar and the 100 ms Timer_Proc that runs the
// processing tick. It shows the core's models and forwards clicks; it decides nothing itself.
//
// User-interface thread only.
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/context.h"
#include "app/pages.h"
#include "gui/options_store.h"
#include "gui/program_config.h"
#include "gui/single_instance.h"

class QAction;
class QActionGroup;
class QMenu;
class QToolButton;

namespace kalvo {

class AboutWindow;
class BusyWindow;
class DeviceInfoPage;
class HistoryPageWidget;
class LogPage;
class MeasuringPageWidget;
class QtUiPort;
class SettingsPageWidget;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppContext& context, QtUiPort& ui);
    ~MainWindow() override;

    // The start-up sequence; false when the program must end without showing the window.
    bool FormCreate();
    // The shutdown sequence; runs once, from closing the window or a termination signal.
    void FormDestroy();
    // A termination signal (SIGTERM, SIGHUP, SIGINT): closes the window, at once when no device
    // write runs, else once the write has stopped at its next safe point. onSignalClose runs
    // after that close (the program ends its event loop there).
    void StopSignalled(int signal);
    std::function<void()> onSignalClose;

    // For the UI port.
    void ShowStatus(const QString& text, int style);
    void ShowProgress(int position, int max);
    void ReplaceLastLogLine(const QString& text);
    void ShowBusy(int intervalMs);

    // Handlers of the menu, reachable from tests.
    void ToggleLanguage();
    void Action_Log_VisibleExecute();
    void Action_Help_AboutExecute();
    void Action_Connection_Manual_NumberExecute();
    void Timer_ProcTimer();
    // The Upgrade button of the device page: the firmware update.
    void BitBtn_ReNewDeviceInfoClick();
    // The settings menu's "Verify after writing" item.
    void Action_Verify_WriteExecute(bool checked);

    // What the window shows, for tests and the screenshot tool.
    QTabWidget* PageControl() const { return pages_; }
    QWidget* PageWidget(kalvo::Page page) const;
    bool TabVisible(kalvo::Page page) const;
    QLabel* StatusPanel() const { return infoText_; }
    QLabel* ConnectionPanel() const { return connectionPanel_; }
    QLabel* ComPanel() const { return comPanel_; }
    QAction* Action(const QString& name) const;
    // The dynamic property of an action that holds its picture's index.
    static constexpr const char* kImageIndex = "ImageIndex";
    QString LanguageCaption() const;
    AboutWindow* About() const { return about_.get(); }
    BusyWindow* Busy() const { return busy_.get(); }
    DeviceInfoPage* DeviceInfo() const { return deviceInfo_; }
    LogPage* Log() const { return logPage_; }
    MeasuringPageWidget* Measuring() const { return measuring_; }
    HistoryPageWidget* History() const { return history_; }
    SettingsPageWidget* SettingsR630() const { return settingsR630_; }
    SettingsPageWidget* SettingsR520() const { return settingsR520_; }
    AppContext& Context() const { return context_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildMenu();
    void BuildPages();
    QWidget* BuildBottomBar();
    void ApplyLanguage();
    void ApplyCaptions();
    void SetTabVisible(kalvo::Page page, bool visible);
    void RefreshFromModels();
    void UpdateActions();
    // Disables the pages and the button while the firmware update runs.
    void ApplyUpdateLock();
    QAction* MakeAction(const QString& name, const QString& caption);
    void CloseForSignal();

    AppContext& context_;
    QtUiPort& ui_;
    OptionsStore options_;
    ProgramConfig config_;
    SingleInstance instance_;
    bool destroyed_ = false;
    bool closeAfterWrite_ = false;  // a signal came during a device write

    QTabWidget* pages_ = nullptr;
    DeviceInfoPage* deviceInfo_ = nullptr;
    MeasuringPageWidget* measuring_ = nullptr;
    HistoryPageWidget* history_ = nullptr;
    SettingsPageWidget* settingsR630_ = nullptr;
    SettingsPageWidget* settingsR520_ = nullptr;
    int shownPage_ = 0;  // the page a refused change returns to
    LogPage* logPage_ = nullptr;
    QLabel* comPanel_ = nullptr;
    QLabel* connectionPanel_ = nullptr;
    QLabel* infoText_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QToolButton* languageButton_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* settingsMenu_ = nullptr;
    QMenu* connectionMenu_ = nullptr;
    QMenu* manualMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QActionGroup* connectionGroup_ = nullptr;
    QActionGroup* manualGroup_ = nullptr;
    QTimer timerProc_;
    std::unique_ptr<BusyWindow> busy_;
    std::unique_ptr<AboutWindow> about_;
};

}  // namespace kalvo
