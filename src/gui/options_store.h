#pragma once
// The two options kept between runs, under KALVO/TRV8/MANAGER/OPTIONS: LANGUAGE and PAGENUM.
// Every failure is swallowed: an unreadable value reads as 0, a failed write is not stored.
// Windows: the registry key HKEY_CURRENT_USER\KALVO\TRV8\MANAGER\OPTIONS itself (the core's
// options key); elsewhere QSettings under the same path.
#ifndef _WIN32
#include <QSettings>
#endif

namespace kalvo {

class OptionsStore {
public:
    OptionsStore();

    int LoadLanguage();
    int LoadPage();
    void StoreLanguage(int value);
    void StorePage(int value);

private:
    int Read(const char* name);
    void Write(const char* name, int value);

#ifndef _WIN32
    QSettings settings_;
#endif
};

}  // namespace kalvo
