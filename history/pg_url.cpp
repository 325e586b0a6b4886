#include "history/pg_store.h"

namespace zolt {

namespace {

// Replaces the value of query parameter `key` (through the next '&'), wherever it is given.
void MaskQueryValue(std::string& url, const std::string& key) {
    const auto query = url.find('?');
    if (query == std::string::npos) return;
    for (auto at = url.find(key, query); at != std::string::npos; at = url.find(key, at + 1)) {
        if (url[at - 1] != '?' && url[at - 1] != '&') continue;
        const auto value = at + key.size();
        const auto end = url.find('&', value);
        url.replace(value, (end == std::string::npos ? url.size() : end) - value, "***");
    }
}

}  // namespace

std::string PostgresUrlForDisplay(const std::string& url) {
    std::string shown = url;
    const auto scheme = shown.find("://");
    if (scheme == std::string::npos) return shown;
    const auto authority = scheme + 3;
    const auto path = shown.find_first_of("/?", authority);
    const auto at = shown.rfind('@', path == std::string::npos ? std::string::npos : path);
    if (at != std::string::npos && at >= authority) {
        const auto colon = shown.find(':', authority);
        if (colon < at) shown.replace(colon + 1, at - colon - 1, "***");
    }
    MaskQueryValue(shown, "password=");
    return shown;
}

}  // namespace zolt
