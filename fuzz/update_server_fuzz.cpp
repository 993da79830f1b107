// Arbitrary text as the configuration file and as the update-server address, and arbitrary
// INF_1 bytes as the device the report is filed under. A parsed address always has a host and
// only real folder names; a report folder never leaves "log5" nor names a folder "." or "..".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/config_file.h"
#include "upload/report_upload.h"
#include "upload/update_server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalvo;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ConfigFile config = ConfigFile::Parse(text);
    (void)config.Value("update_server");

    if (std::optional<UpdateServer> server = ParseUpdateServer(text)) {
        if (server->host.empty()) std::abort();
        for (const std::string& folder : server->baseFolders)
            if (folder.empty() || folder.find('/') != std::string::npos) std::abort();
    }

    DeviceIdentity identity;
    identity.identified = size > 0 && (data[0] & 1);
    for (std::size_t i = 0; i < identity.inf1.size() && i < size; ++i) identity.inf1[i] = data[i];
    std::string path = ServerLogPath("log5", identity);
    if (path.rfind("log5\\", 0) != 0 || path.back() != '\\') std::abort();
    for (std::size_t at = 0; at < path.size();) {
        std::size_t slash = path.find('\\', at);
        std::string_view folder(path.data() + at, slash - at);
        if (folder.empty() || folder == "." || folder == ".." || folder.find('/') != std::string_view::npos) std::abort();
        at = slash + 1;
    }
    return 0;
}
