#include "i18n/captions.h"

namespace kalvo {

namespace {
constexpr std::string_view kHistoryReadRunning = "BitBtn_HIS_Read/running";
}

std::string ProgramVersionText() {
    return std::to_string(kProgramVersionMajor) + "." + std::to_string(kProgramVersionMinor);
}

std::string MainWindowCaption() {
    return "Kalvo Explorer " + ProgramVersionText() + " (" + std::string(kProgramDate) + ")";
}

const std::vector<Caption>& CaptionTable() {
    static const std::vector<Caption> table{
        {"Action_Menu_File", "Файл", "File"},
        {"Action_Menu_Connection", "Соединение", "Connection"},
        {"Action_Menu_Help", "Помощь", "Help"},
        {"Action_Exit", "Выход", "Exit"},
        {"Action_Log_Visible", "Скрыть//Показать ЛОГ", "Hide//Show Report"},
        {"Action_LOG_Clear", "Очистить лог", "Clear Report"},
        {"Action_Connection_Auto", "Автоматическое", "Auto"},
        {"Action_Connection_Manual", "Вручную", "Manual"},
        {"Action_Connection_Manual_Number", "Номер порта :", "Port Number :"},
        {"Action_Connection_Manual_List", "Выбрать из списка :", "Choose from the List :"},
        {"Action_Help_About", "О программе", "About Programm"},
        {"BitBtn_ReNewDeviceInfo", "Обновление", "Upgrade"},
        {"N_Nastroiki", "Настройки", "Settings"},
        {"TabSheet_Measuring", "Измерение", "Measurement"},
        {"TabSheet_DevHistory", "История", "History"},
        {"TabSheet_DevInfo", "О приборе", "About Device"},
        {"TabSheet_Log", "Лог", "Log"},
        {"GroupBox_Measure_Fon", "Радиационный фон", "Radiation Background"},
        {"GroupBox_Measure_Dose", "Накопленная доза", "Accumulated Dose"},
        {"CheckBox_Measure_AutoRead", "Авто", "AutoRead"},
        {"BitBtn_Measure_Read", "Прочитать", "Read"},
        {"BitBtn_Measure_Dose_Reset", "Сброс дозы", "Dose Reset"},
        {kHistoryReadRunning, "Отмена", "Cancel"},
        {"BitBtn_HIS_Read", "Прочитать", "Read"},
        {"BitBtn_HIS_Delete", "Удалить историю", "Delete History"},
        {"BitBtn_HIS_Back", "Назад", "Back"},
        {"BitBtn_HIS_Up", "Вверх", "Up"},
        {"BitBtn_HIS_Vpered", "Вперед", "Forward"},
        {"BitBtn_HIS_To_Last", "В конец", "Last"},
        {"CheckBox_HIS_Show_MaxVal", "Показывать всплески", "Show maximum"},
        {"BitBtn_HIS_Save_CSV", "Сохранить CSV", "Save CSV"},
    };
    return table;
}

std::string CaptionOf(std::string_view control, InterfaceLanguage language, bool historyReadRunning) {
    if (control == "BitBtn_HIS_Read" && historyReadRunning) control = kHistoryReadRunning;
    for (const Caption& caption : CaptionTable())
        if (caption.control == control) return PickText(language, caption.russian, caption.english);
    return {};
}

std::string LanguageActionCaption(InterfaceLanguage language) {
    return language == InterfaceLanguage::English ? "ENG" : "RUS";
}

}  // namespace kalvo
