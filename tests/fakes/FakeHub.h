#pragma once
// A hub bundle made at test time: "Quorvane Plugin Hub.app" with the hub's identifier
// and an executable shell script that answers "-oauth" as the test chooses.
#include <string>

namespace fakes {

class FakeHub {
  public:
    // Makes the bundle inside `folder`.
    explicit FakeHub(const std::string& folder);

    const std::string& bundlePath() const { return bundlePath_; }
    // Where the script records the arguments it was started with, one per line.
    const std::string& argumentsFile() const { return argumentsFile_; }

    // The script prints exactly `output`.
    void prints(const std::string& output) const;
    // The script never answers.
    void hangs() const;

  private:
    void writeScript(const std::string& body) const;

    std::string bundlePath_;
    std::string argumentsFile_;
};

}  // namespace fakes
