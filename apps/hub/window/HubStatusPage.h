#pragma once
// The two pages of the linking window, built in memory: the unlinked page with its
// "Authorize this app" button and the linked page with the account and its "Revoke
// authorization" button. Every text that comes from outside (the user name, addresses)
// is escaped before it enters the page.
#include <string>
#include <string_view>

namespace hub {

// The text with &, <, >, " and ' written as character references.
std::string escapeHTML(std::string_view text);

struct StatusPage {
    // `styleSheetURL` is a complete file URL; the image resolves against the page's
    // base address (the bundle's resource folder).
    static std::string unlinked(const std::string& styleSheetURL, const std::string& authorizeURL);
    static std::string linked(const std::string& styleSheetURL, const std::string& appName,
                              const std::string& userName, const std::string& revokeURL);
};

}  // namespace hub
