#pragma once
// How the exporters read the account from the hub when the keychain holds no record:
// they run the hub's executable with "-oauth" and read the credential line it prints.
#include <optional>
#include <string>
#include <vector>

#include "client/OWQuorvaneHubCredentials.h"

class OWQuorvaneHubHandOver {
  public:
    static constexpr const char* kHubIdentifier = "com.oxburyworks.QuorvPluginHub";
    static constexpr const char* kHubExecutable = "Contents/MacOS/Quorvane Plugin Hub";
    static constexpr const char* kHubArgument = "-oauth";
    static constexpr double kTimeout = 30.0;
    // Names the hub's bundle directly, ahead of the search.
    static constexpr const char* kBundleEnvironment = "QUORVANE_HUB_BUNDLE";

    // Looks for the hub in `searchFolders` (their "*.app" bundles), after the folder
    // named by QUORVANE_HUB_BUNDLE.
    explicit OWQuorvaneHubHandOver(std::vector<std::string> searchFolders = defaultSearchFolders(),
                                   double timeout = kTimeout);
    // Where the suite's programs find each other (base::Workspace::applicationFolders):
    // beside the running program's bundle, the install prefix, the user's and the
    // machine's applications folders.
    static std::vector<std::string> defaultSearchFolders();

    // The bundle whose identifier is the hub's; none when there is no such bundle.
    std::optional<std::string> hubBundlePath() const;
    // The hub's answer; none when there is no hub, it does not answer in time or its
    // answer is not four fields. The output is never logged: it holds the tokens.
    std::optional<OWQuorvaneHubCredentials> readCredentials() const;

  private:
    static bool isHubBundle(const std::string& path);

    std::vector<std::string> searchFolders_;
    double timeout_;
};
