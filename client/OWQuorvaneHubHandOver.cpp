#include "client/OWQuorvaneHubHandOver.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/Bundle.h"
#include "base/Workspace.h"
#include "support/OWTaskEx.h"

namespace fs = std::filesystem;

namespace {

// Enough for any applications folder; a bigger one is not searched further.
constexpr size_t kMaxEntriesSearched = 4096;

}  // namespace

OWQuorvaneHubHandOver::OWQuorvaneHubHandOver(std::vector<std::string> searchFolders, double timeout)
    : searchFolders_(std::move(searchFolders)), timeout_(timeout) {}

std::vector<std::string> OWQuorvaneHubHandOver::defaultSearchFolders() {
    return base::Workspace::applicationFolders();
}

bool OWQuorvaneHubHandOver::isHubBundle(const std::string& path) {
    auto bundle = base::Bundle::atPath(path);
    return bundle && bundle->identifier() == kHubIdentifier;
}

std::optional<std::string> OWQuorvaneHubHandOver::hubBundlePath() const {
    if (const char* named = std::getenv(kBundleEnvironment); named && *named) {
        if (isHubBundle(named)) {
            return std::string(named);
        }
    }
    for (const std::string& folder : searchFolders_) {
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        std::vector<std::string> bundles;
        for (size_t seen = 0; !ec && it != fs::directory_iterator() && seen < kMaxEntriesSearched;
             it.increment(ec), ++seen) {
            if (it->path().extension() == ".app") {
                bundles.push_back(it->path().string());
            }
        }
        // Directory order is arbitrary; sorting makes the choice repeatable.
        std::sort(bundles.begin(), bundles.end());
        for (const std::string& bundle : bundles) {
            if (isHubBundle(bundle)) {
                return bundle;
            }
        }
    }
    return std::nullopt;
}

std::optional<OWQuorvaneHubCredentials> OWQuorvaneHubHandOver::readCredentials() const {
    const auto bundle = hubBundlePath();
    if (!bundle) {
        return std::nullopt;
    }
    const std::string executable = (fs::path(*bundle) / kHubExecutable).string();
    // Standard output is collected (the task runner never writes it to the log); the
    // error output is dropped.
    const auto output =
        OWTaskEx::stringFromTask(executable, {kHubArgument}, OWTaskEx::Encoding::UTF8, timeout_,
                                 /*logOutput=*/true, /*logError=*/false);
    return OWQuorvaneHubCredentials::parse(output.value_or(""));
}
