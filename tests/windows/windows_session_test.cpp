// The Windows process services: temporary folder, single-instance mutex, options key, config
// path, file replacement and the archive connections' lock file, as the Windows build uses them.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/session.h"
#include "platform/config_file.h"
#include "platform/file_replacement.h"
#include "platform/instance_mutex.h"
#include "platform/options_key.h"
#include "platform/presence_lock.h"
#include "platform/win32_text.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WindowsTempFolder, UnderTempWithItsNameAndEmptiedOfFilesOnly) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::string folder = TempFolderPath();
    EXPECT_EQ(folder, Narrow(temp) + "trv8_kalvo_explorer");
    EXPECT_EQ(folder.find("\\\\"), std::string::npos) << folder;

    ASSERT_TRUE(PrepareTempFolder(folder));
    const fs::path base(Widen(folder));
    std::ofstream(base / L"stale.txt") << "old run";
    fs::create_directories(base / L"kept");
    EmptyTempFolder(folder);
    EXPECT_FALSE(fs::exists(base / L"stale.txt"));
    EXPECT_TRUE(fs::is_directory(base / L"kept"));
    fs::remove_all(base / L"kept");
}

TEST(WindowsInstanceMutex, OneOwnerAtATimeAndFreeAgainAfterRelease) {
    const std::string name = "TRV8_Kalvo_Explorer_Mutex_test_" + std::to_string(::GetCurrentProcessId());
    EXPECT_STREQ(kInstanceMutexName, "TRV8_Kalvo_Explorer_Mutex");
    InstanceMutex first(name);
    ASSERT_TRUE(first.TryAcquire());
    EXPECT_TRUE(first.TryAcquire());  // already ours
    // A mutex is owned by a thread: another thread stands for the second instance.
    auto tryElsewhere = [&] {
        bool got = true;
        std::thread([&] {
            InstanceMutex second(name);
            got = second.TryAcquire();
        }).join();
        return got;
    };
    EXPECT_FALSE(tryElsewhere());
    first.Release();
    EXPECT_FALSE(first.Held());
    EXPECT_TRUE(tryElsewhere());
}

// Each holder is one handle: the first is alone, a second finds it, and once every holder has
// let go the next is alone again; where no lock file can be made nothing is known or held.
TEST(WindowsPresenceLock, AloneUntilAnotherHoldsItAndAloneOnceAllAreGone) {
    test::TempFolder folder;
    const std::string path = folder.File("history.sqlite.lock");
    PresenceLock first(path);
    EXPECT_TRUE(first.Held());
    EXPECT_EQ(first.CompanyFound(), PresenceLock::Company::Alone);
    {
        PresenceLock second(path);
        EXPECT_EQ(second.CompanyFound(), PresenceLock::Company::Others);
        first.Release();
        PresenceLock third(path);
        EXPECT_EQ(third.CompanyFound(), PresenceLock::Company::Others);
    }
    PresenceLock alone(path);
    EXPECT_EQ(alone.CompanyFound(), PresenceLock::Company::Alone);
    PresenceLock none(folder.File("missing/history.sqlite.lock"));
    EXPECT_FALSE(none.Held());
    EXPECT_EQ(none.CompanyFound(), PresenceLock::Company::Unknown);
}

TEST(WindowsOptionsKey, ExactlyTheKeyWithoutSoftwareAndZeroForWhatIsMissing) {
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"KALVO\\TRV8\\MANAGER\\OPTIONS");
    EXPECT_EQ(ReadOption(kLanguageOption), 0);
    EXPECT_EQ(ReadOption(kPageOption), 0);
    ASSERT_TRUE(WriteOption(kLanguageOption, 2));
    ASSERT_TRUE(WriteOption(kPageOption, 7));
    EXPECT_EQ(ReadOption("LANGUAGE"), 2);
    EXPECT_EQ(ReadOption("PAGENUM"), 7);

    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"KALVO\\TRV8\\MANAGER\\OPTIONS", 0, KEY_READ | KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    DWORD value = 0, size = sizeof value, type = 0;
    EXPECT_EQ(::RegQueryValueExW(key, L"PAGENUM", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 7u);
    // A value of another type is unreadable, hence 0.
    ASSERT_EQ(::RegSetValueExW(key, L"LANGUAGE", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"2"), 4), ERROR_SUCCESS);
    ::RegCloseKey(key);
    EXPECT_EQ(ReadOption(kLanguageOption), 0);
    HKEY software = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KALVO\\TRV8\\MANAGER\\OPTIONS", 0, KEY_READ, &software),
              ERROR_SUCCESS);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"KALVO\\TRV8\\MANAGER\\OPTIONS");
}

TEST(WindowsFiles, ConfigUnderAppDataAndReplacementBesideTheTarget) {
    wchar_t appData[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
    EXPECT_EQ(ConfigFilePath(), Narrow(appData) + "\\kalvo\\kalvo.conf");

    test::TempFolder folder;
    // A UTF-8 name reaches the wide API whole.
    const std::string target = folder.Path() + "\\История.csv";
    const std::wstring wide = Widen(target);
    EXPECT_EQ(InspectFileTarget(target), FileTarget::Missing);
    ASSERT_TRUE(ReplaceFile(target, "first\r\n"));
    EXPECT_EQ(ReadAll(wide), "first\r\n");
    EXPECT_EQ(InspectFileTarget(target), FileTarget::Regular);
    ASSERT_TRUE(ReplaceFile(target, "second\r\n"));
    EXPECT_EQ(ReadAll(wide), "second\r\n");

    FileReplacement unfinished;
    ASSERT_TRUE(unfinished.Begin(target));
    ASSERT_TRUE(unfinished.Write("never"));
    unfinished.Discard();
    EXPECT_EQ(ReadAll(wide), "second\r\n");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::path(Widen(folder.Path())))) ++files;
    EXPECT_EQ(files, 1) << "the temporary file stays behind";

    FileReplacement onFolder;
    EXPECT_FALSE(onFolder.Begin(folder.Path()));
    EXPECT_EQ(onFolder.Error(), EISDIR);
    EXPECT_EQ(InspectFileTarget(folder.Path()), FileTarget::NotRegular);
}

}  // namespace
}  // namespace kalvo
