#include "apps/hub/window/HubStatusPage.h"

#include "base/Format.h"

namespace hub {

namespace {

constexpr const char* kSpinnerScript =
    "document.getElementById('spinner').style.display='inline-block';";

std::string head(const std::string& styleSheetURL) {
    return base::format(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\">\n"
        "<link rel=\"stylesheet\" href=\"%@\" type=\"text/css\" media=\"all\">\n"
        "</head>\n",
        escapeHTML(styleSheetURL));
}

// The spinner and the button inside its link, in a paragraph of their own.
std::string buttonContainer(const std::string& address, const std::string& buttonClass,
                            const std::string& title) {
    const std::string classAttribute =
        buttonClass.empty() ? std::string() : base::format(" class=\"%@\"", buttonClass);
    return base::format(
        "<p><span id=\"button-container\"><span id=\"spinner\" class=\"spinner\"></span>"
        "<a href=\"%@\"><button%@ onclick=\"%@\">%@</button></a></span></p>\n",
        escapeHTML(address), classAttribute, std::string(kSpinnerScript), title);
}

}  // namespace

std::string escapeHTML(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string StatusPage::unlinked(const std::string& styleSheetURL,
                                 const std::string& authorizeURL) {
    return head(styleSheetURL) +
           "<body>\n<div class=\"splash\"></div>\n<div class=\"content\">\n"
           "<p>Quorvane is a cloud workflow platform for creative professionals to share files "
           "and work together.</p>\n"
           "<p>Link your account to this app to begin using cloud features.</p>\n" +
           buttonContainer(authorizeURL, "", "Authorize this app") + "</div>\n</body></html>\n";
}

std::string StatusPage::linked(const std::string& styleSheetURL, const std::string& appName,
                               const std::string& userName, const std::string& revokeURL) {
    return head(styleSheetURL) +
           "<body>\n<div class=\"wrapper\">\n<div class=\"splash\"></div>\n"
           "<div class=\"content\">\n<h1><img src=\"Tick_2.svg\" alt=\"\">Authorized</h1>\n" +
           base::format("<p>%@ can interact with the following account:</p>\n",
                        escapeHTML(appName)) +
           base::format("<div class=\"account-info\">%@</div>\n", escapeHTML(userName)) +
           buttonContainer(revokeURL, "revoke", "Revoke authorization") +
           "</div>\n</div>\n</body></html>\n";
}

}  // namespace hub
