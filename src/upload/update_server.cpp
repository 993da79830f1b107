#include "upload/update_server.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

#include "platform/config_file.h"

namespace kalvo {

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::optional<std::string> Part(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return std::nullopt;
    std::string value = text;
    curl_free(text);
    return value;
}

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

}  // namespace

std::optional<UpdateServer> ParseUpdateServer(std::string_view address) {
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url) return std::nullopt;
    std::string text(address);
    if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    std::optional<std::string> scheme = Part(url.get(), CURLUPART_SCHEME);
    std::optional<std::string> host = Part(url.get(), CURLUPART_HOST);
    if (scheme != "ftp" || !host || host->empty()) return std::nullopt;

    UpdateServer server;
    server.host = *host;
    // IPv6 literals come back in brackets; the URL built for each transfer adds them again.
    if (server.host.size() > 2 && server.host.front() == '[') server.host = server.host.substr(1, server.host.size() - 2);
    if (std::optional<std::string> port = Part(url.get(), CURLUPART_PORT)) server.port = std::atoi(port->c_str());
    if (std::optional<std::string> user = Part(url.get(), CURLUPART_USER, CURLU_URLDECODE); user && !user->empty())
        server.user = *user;
    if (std::optional<std::string> password = Part(url.get(), CURLUPART_PASSWORD, CURLU_URLDECODE))
        server.password = *password;
    std::string path = Part(url.get(), CURLUPART_PATH, CURLU_URLDECODE).value_or("");
    for (std::size_t at = 0; at < path.size();) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        if (slash > at) server.baseFolders.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return server;
}

std::optional<UpdateServer> ConfiguredUpdateServer(const std::string& configPath) {
    ConfigFile config = ConfigFile::Load(configPath);
    std::optional<std::string> address = Environment("KALVO_UPDATE_SERVER");
    if (!address) address = config.Value("update_server");
    if (!address) return std::nullopt;
    std::optional<UpdateServer> server = ParseUpdateServer(*address);
    if (!server) return std::nullopt;
    std::optional<std::string> caFile = Environment("KALVO_UPDATE_SERVER_CA");
    if (!caFile) caFile = config.Value("update_server_ca");
    server->caFile = caFile.value_or("");
    return server;
}

}  // namespace kalvo
