#include "gui/options_store.h"

#ifdef _WIN32
#include "platform/options_key.h"
#endif

namespace kalvo {

#ifdef _WIN32
// QSettings would put the key under Software; the options live at the key's own path.
OptionsStore::OptionsStore() = default;
int OptionsStore::Read(const char* name) { return ReadOption(name); }
void OptionsStore::Write(const char* name, int value) { WriteOption(name, value); }
#else

namespace {
constexpr const char* kGroup = "MANAGER/OPTIONS/";
}  // namespace

// On Linux this is ~/.config/KALVO/TRV8.conf (XDG_CONFIG_HOME honoured).
OptionsStore::OptionsStore() : settings_(QSettings::NativeFormat, QSettings::UserScope, "KALVO", "TRV8") {}

int OptionsStore::Read(const char* name) {
    settings_.sync();
    bool ok = false;
    int value = settings_.value(QString(kGroup) + name).toInt(&ok);
    return ok ? value : 0;
}

void OptionsStore::Write(const char* name, int value) {
    settings_.setValue(QString(kGroup) + name, value);
    settings_.sync();
}
#endif

int OptionsStore::LoadLanguage() { return Read("LANGUAGE"); }
int OptionsStore::LoadPage() { return Read("PAGENUM"); }
void OptionsStore::StoreLanguage(int value) { Write("LANGUAGE", value); }
void OptionsStore::StorePage(int value) { Write("PAGENUM", value); }

}  // namespace kalvo
