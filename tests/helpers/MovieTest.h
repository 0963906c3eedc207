#pragma once
// A test suite over short movies that ffmpeg makes once for the whole suite, in a
// private folder removed after it. A suite's SetUpTestSuite() calls makeFolder()
// and then make() for each movie; its tests skip locally (fail in CI) when ffmpeg
// is not installed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/helpers/TempDir.h"

namespace testsupport {

class MovieTest : public testing::Test {
  protected:
    // False (and no folder) when ffmpeg cannot run here.
    static bool makeFolder();
    static void TearDownTestSuite();
    void SetUp() override;

    // Runs ffmpeg with `args` (its inputs and options) into file(`name`); pictures
    // are MPEG-4 except in .m4a files.
    static void make(std::vector<std::string> args, const std::string& name);
    static std::string file(const std::string& name);
    static const std::string& folder();

  private:
    static std::unique_ptr<TempDir> dir_;
};

}  // namespace testsupport
