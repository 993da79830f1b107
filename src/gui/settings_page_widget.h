#pragma once
// A device settings page ("Настройки") of one family: the lists, check boxes, the read-only
// clock box and the K box, with the Read, Save, Default, Write Time, Restart and Save
// Calibration buttons. It shows the SettingsPage model and writes the user's choices into it.
//
// User-interface thread only.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <map>
#include <memory>

#include "settings/settings_page.h"

namespace kalvo {

class AppContext;

class SettingsPageWidget : public QWidget {
    Q_OBJECT
public:
    SettingsPageWidget(AppContext& context, SettingsFamily family, QWidget* parent = nullptr);
    ~SettingsPageWidget() override;

    // Re-captions the controls and rebuilds the lists in the language, keeping the selections.
    void ApplyCaptions(InterfaceLanguage language);
    // Shows the model.
    void Refresh();
    // The page's own caption (its tab).
    QString TabCaption(InterfaceLanguage language) const;

    SettingsPage& Model() { return *page_; }
    QComboBox* Box(std::string_view key) const;
    QCheckBox* Check(std::string_view key) const;
    QLineEdit* TimeBox() const { return time_; }
    QLineEdit* CalibrationBox() const { return calibration_; }
    QPushButton* Button(const QString& suffix) const;

signals:
    // Device operations disable the pages while they run.
    void PagesEnabledChanged(bool enabled);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* MakeBox(const SettingsField& field, const QString& name, bool editable);
    void Run(PageOutcome (SettingsPage::*operation)());

    AppContext& context_;
    SettingsFamily family_;
    QString code_;  // "R630" / "R520" in the component names
    std::unique_ptr<SettingsPage> page_;
    std::map<std::string, QComboBox*, std::less<>> boxes_;
    std::map<std::string, QCheckBox*, std::less<>> checks_;
    QLineEdit* time_ = nullptr;
    QLineEdit* calibration_ = nullptr;
    bool refreshing_ = false;
};

}  // namespace kalvo
