#pragma once
// The two stored options on Windows: REG_DWORD values under exactly
// HKEY_CURRENT_USER\KALVO\TRV8\MANAGER\OPTIONS (no "Software" level). Every failure is
// swallowed: a missing key or value reads as 0, a failed write is simply not stored. Windows
// only (the Linux window keeps QSettings with the same path and names).
#include <cstdint>

namespace kalvo {

inline constexpr const char* kOptionsKeyPath = "KALVO\\TRV8\\MANAGER\\OPTIONS";
inline constexpr const char* kLanguageOption = "LANGUAGE";
inline constexpr const char* kPageOption = "PAGENUM";

// Opens the key read-only; 0 when the key or the value cannot be read.
std::int32_t ReadOption(const char* name);
// Opens or creates the key; false when the value was not stored.
bool WriteOption(const char* name, std::int32_t value);

}  // namespace kalvo
