#pragma once
// The two options kept between runs, under KALVO/TRV8/MANAGER/OPTIONS: LANGUAGE and PAGENUM.
// Every failure is swallowed: an unreadable value reads as 0, a failed write is not stored.
#include <QSettings>

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

    QSettings settings_;
};

}  // namespace kalvo
