#include "gui/settings_page_widget.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "app/context.h"
#include "settings/calibration_clock.h"

namespace kalvo {

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// Component names of the window's design, by key.
struct ControlNames {
    const char* key;
    const char* label;  // without the family code: "Language" -> Label_Setup_R630_Language
    const char* control;
};
const ControlNames kNames[] = {
    {"language", "Language", "ComboBox_Setup_%1_Language"},
    {"units", "Units", "ComboBox_Setup_%1_Units"},
    {"fon_level", "Fon_Level", "ComboBox_Setup_%1_Fon_Level"},
    {"dose_level", "Dose_Level", "ComboBox_Setup_%1_Dose_Level"},
    {"brightness", "Screen_Bright", "ComboBox_Setup_%1_Screen_Bright"},
    {"screen_off", "Screen_TOff", "ComboBox_Setup_%1_Screen_TOff"},
    {"power_off", "Power_TOff", "ComboBox_Setup_%1_Power_TOff"},
    {"history_method", "History_M", "ComboBox_Setup_%1_History_M"},
    {"alarm_hour", "Alarm_H", "ComboBox_Setup_%1_Alarm_H"},
    {"alarm_minute", "Alarm_M", "ComboBox_Setup_%1_Alarm_M"},
    {"measure_method", "Measure_Method", "ComboBox_Setup_%1_Measure_Method"},
    {"sensors", "Sensor", "ComboBox_Setup_%1_Sensor"},
    {"sound", nullptr, "CheckBox_Setup_%1_Sound_EN"},
    {"button_click", nullptr, "CheckBox_Setup_%1_Sound_BTN"},
    {"sensor_click", nullptr, "CheckBox_Setup_%1_Sound_Sensor"},
    {"threshold_sound", nullptr, "CheckBox_Setup_%1_Sound_Threshold"},
    {"alarm", nullptr, "CheckBox_Setup_%1_Alarm_En"},
    {"lights", nullptr, "CheckBox_Setup_%1_Led_Lights"},
};

const ControlNames* NamesOf(std::string_view key) {
    for (const ControlNames& names : kNames)
        if (key == names.key) return &names;
    return nullptr;
}
}  // namespace

SettingsPageWidget::SettingsPageWidget(AppContext& context, SettingsFamily family, QWidget* parent)
    : QWidget(parent), context_(context), family_(family), code_(family == SettingsFamily::R630 ? "R630" : "R520") {
    setObjectName("TabSheet_DevControl_" + code_);
    page_ = std::make_unique<SettingsPage>(
        family, SettingsLink{context.commands, context.log, context.ui, context.language, context.identity,
                             context.connectionFlags, &context.stop});
    page_->onPagesEnabled = [this](bool enabled) { emit PagesEnabledChanged(enabled); };
    const bool r630 = family == SettingsFamily::R630;

    auto* lists = new QGridLayout;
    auto* extra = new QGridLayout;
    QGroupBox* soundGroup = new QGroupBox(this);
    soundGroup->setObjectName("GroupBox_Setup_" + code_ + "_Sound");
    // Two columns of check boxes leave the lists their height in the small window.
    auto* soundLayout = new QGridLayout(soundGroup);
    int soundCount = 0;
    QGroupBox* alarmGroup = nullptr;
    QGridLayout* alarmLayout = nullptr;
    if (r630) {
        alarmGroup = new QGroupBox(this);
        alarmGroup->setObjectName("GroupBox_Setup_" + code_ + "_Alarm");
        alarmLayout = new QGridLayout(alarmGroup);
    }
    int listRow = 0, extraRow = 0, alarmRow = 1;
    for (const SettingsField& field : SettingsFields(family)) {
        const ControlNames* names = NamesOf(field.key);
        if (!names) continue;
        const QString control = QString(names->control).arg(code_);
        if (field.check) {
            auto* check = new QCheckBox(this);
            check->setObjectName(control);
            checks_[std::string(field.key)] = check;
            bool SettingsForm::*member = field.check;
            connect(check, &QCheckBox::toggled, this, [this, member](bool on) {
                if (!refreshing_) page_->Edit().*member = on;
            });
            if (field.key == "alarm") {
                alarmLayout->addWidget(check, 0, 0, 1, 2);
            } else if (field.key == "lights") {
                extra->addWidget(check, extraRow++, 0);
            } else {
                soundLayout->addWidget(check, soundCount / 2, soundCount % 2);
                ++soundCount;
            }
            continue;
        }
        const bool alarmBox = field.key == "alarm_hour" || field.key == "alarm_minute";
        QComboBox* box = MakeBox(field, control, alarmBox);
        auto* label = new QLabel(this);
        label->setObjectName(QString("Label_Setup_%1_%2").arg(code_, names->label));
        if (alarmBox) {
            alarmLayout->addWidget(label, alarmRow, 0);
            alarmLayout->addWidget(box, alarmRow++, 1);
        } else if (field.key == "measure_method" || field.key == "sensors") {
            extra->addWidget(label, extraRow, 0);
            extra->addWidget(box, extraRow++, 1);
        } else {
            lists->addWidget(label, listRow, 0);
            lists->addWidget(box, listRow++, 1);
        }
    }

    auto* timeGroup = new QGroupBox(this);
    timeGroup->setObjectName("GroupBox_Setup_" + code_ + "_Time");
    time_ = new QLineEdit(timeGroup);
    time_->setObjectName("Edit_Setup_" + code_ + "_Time");
    time_->setReadOnly(true);
    auto* timeLayout = new QVBoxLayout(timeGroup);
    timeLayout->addWidget(time_);
    auto* calibrGroup = new QGroupBox(this);
    calibrGroup->setObjectName("Group_Setup_" + code_ + "_Calibr");
    calibration_ = new QLineEdit(calibrGroup);
    calibration_->setObjectName("Edit_Setup_" + code_ + "_Calibr");
    calibration_->setMaxLength(kCalibrationMaxLength);
    QFont bold("Arial Unicode MS");
    bold.setBold(true);
    calibration_->setFont(bold);
    calibration_->installEventFilter(this);
    connect(calibration_, &QLineEdit::textEdited, this,
            [this](const QString& text) { page_->Edit().calibrationText = text.toStdString(); });
    auto* calibrLayout = new QVBoxLayout(calibrGroup);
    calibrLayout->addWidget(calibration_);

    auto button = [this](const char* suffix, PageOutcome (SettingsPage::*operation)()) {
        auto* push = new QPushButton(this);
        push->setObjectName(QString("BitBtn_Setup_%1_%2").arg(code_, suffix));
        connect(push, &QPushButton::clicked, this, [this, operation] { Run(operation); });
        return push;
    };
    auto* read = button("Read", &SettingsPage::ReadClick);
    auto* write = button("Write", &SettingsPage::WriteClick);
    auto* defaults = new QPushButton(this);
    defaults->setObjectName("BitBtn_Setup_" + code_ + "_Default");
    connect(defaults, &QPushButton::clicked, this, [this] {
        page_->DefaultClick();
        Refresh();
    });
    auto* timeButton = button("Time", &SettingsPage::TimeClick);
    auto* reset = button("Reset", &SettingsPage::ResetClick);
    auto* calibrSave = button("Calibr_Save", &SettingsPage::CalibrSaveClick);

    auto* left = new QVBoxLayout;
    left->addLayout(lists);
    left->addWidget(soundGroup);
    left->addStretch(1);
    auto* middle = new QVBoxLayout;
    if (alarmGroup) middle->addWidget(alarmGroup);
    middle->addLayout(extra);
    middle->addWidget(timeGroup);
    middle->addWidget(timeButton);
    middle->addWidget(calibrGroup);
    middle->addWidget(calibrSave);
    middle->addStretch(1);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* push : {read, write, defaults, reset}) buttons->addWidget(push);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 3);
    layout->addLayout(middle, 2);
    layout->addLayout(buttons, 1);

    ApplyCaptions(context.language);
}

SettingsPageWidget::~SettingsPageWidget() = default;

QComboBox* SettingsPageWidget::MakeBox(const SettingsField& field, const QString& name, bool editable) {
    auto* box = new QComboBox(this);
    box->setObjectName(name);
    box->setEditable(editable);
    box->setMinimumWidth(150);
    boxes_[std::string(field.key)] = box;
    ChoiceBox SettingsForm::*member = field.box;
    const bool units = field.key == "units";
    connect(box, &QComboBox::currentIndexChanged, this, [this, member, units](int index) {
        if (refreshing_) return;
        (page_->Edit().*member).index = index;
        if (!units) return;
        page_->UnitsChange();
        Refresh();
    });
    if (editable) {
        // A typed value counts only when it is one of the items.
        connect(box, &QComboBox::editTextChanged, this, [this, member, box](const QString& text) {
            if (refreshing_) return;
            int index = (page_->Form().*member).Find(text.toStdString());
            (page_->Edit().*member).index = index;
            if (index >= 0 && box->currentIndex() != index) {
                refreshing_ = true;
                box->setCurrentIndex(index);
                refreshing_ = false;
            }
        });
    }
    return box;
}

void SettingsPageWidget::Run(PageOutcome (SettingsPage::*operation)()) {
    (page_.get()->*operation)();
    Refresh();
}

bool SettingsPageWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == calibration_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Only typed characters are filtered: editing keys (Delete, which X11 gives the text
        // U+007F, arrows, Home...) carry Qt's special key codes.
        if (key->key() >= Qt::Key_Escape && key->key() <= 0x01ffffff) return QWidget::eventFilter(watched, event);
        const QString text = key->text();
        for (QChar c : text)
            if (!FilterCalibrationKey(c.unicode())) return true;  // the key is dropped
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsPageWidget::ApplyCaptions(InterfaceLanguage language) {
    for (const Caption& caption : SettingsCaptions(family_)) {
        const QString name = Q(caption.control);
        const QString text = Q(PickText(language, caption.russian, caption.english));
        if (auto* label = findChild<QLabel*>(name)) label->setText(text);
        if (auto* group = findChild<QGroupBox*>(name)) group->setTitle(text);
        if (auto* button = findChild<QAbstractButton*>(name)) button->setText(text);
    }
    Refresh();
}

QString SettingsPageWidget::TabCaption(InterfaceLanguage language) const {
    const Caption tab = SettingsCaptions(family_).front();
    return Q(PickText(language, tab.russian, tab.english));
}

void SettingsPageWidget::Refresh() {
    refreshing_ = true;
    const SettingsForm& form = page_->Form();
    const InterfaceLanguage language = context_.language;
    for (const SettingsField& field : SettingsFields(family_)) {
        if (field.box) {
            QComboBox* box = boxes_.at(std::string(field.key));
            const ChoiceBox& choice = form.*field.box;
            QStringList items;
            for (const ChoiceText& item : choice.items) items << Q(item.Pick(language));
            bool same = box->count() == items.size();
            for (int i = 0; same && i < items.size(); ++i) same = box->itemText(i) == items[i];
            if (!same) {
                box->clear();
                box->addItems(items);
            }
            box->setCurrentIndex(choice.index);
            if (box->isEditable() && choice.index < 0) box->setEditText(QString());
            box->setEnabled(choice.enabled);
        } else if (field.check) {
            checks_.at(std::string(field.key))->setChecked(form.*field.check);
        }
    }
    time_->setText(Q(form.timeText));
    if (calibration_->text() != Q(form.calibrationText)) calibration_->setText(Q(form.calibrationText));
    if (QPushButton* reset = Button("Reset")) reset->setEnabled(form.resetEnabled);
    refreshing_ = false;
}

QComboBox* SettingsPageWidget::Box(std::string_view key) const {
    auto found = boxes_.find(key);
    return found == boxes_.end() ? nullptr : found->second;
}

QCheckBox* SettingsPageWidget::Check(std::string_view key) const {
    auto found = checks_.find(key);
    return found == checks_.end() ? nullptr : found->second;
}

QPushButton* SettingsPageWidget::Button(const QString& suffix) const {
    return findChild<QPushButton*>(QString("BitBtn_Setup_%1_%2").arg(code_, suffix));
}

}  // namespace kalvo
