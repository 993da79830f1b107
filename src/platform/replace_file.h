#pragma once
// Writes a user's file without ever leaving it half written: the bytes go to a temporary file
// beside it, which is flushed to disk and then renamed over the old one. A symbolic link is
// written through (its target is replaced); an existing path that is not a regular file is
// refused.
#include <cstdint>
#include <span>
#include <string>

namespace kalvo {

// False (errno-style reason in `error`) when anything fails; the old file is then unchanged.
bool ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error);

}  // namespace kalvo
