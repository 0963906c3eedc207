#include "tests/helpers/MovieTest.h"

#include "tests/helpers/Peer.h"
#include "tests/helpers/RunTool.h"

namespace testsupport {

std::unique_ptr<TempDir> MovieTest::dir_;

bool MovieTest::makeFolder() {
    if (runTool({"ffmpeg", "-version"}).status != 0) {
        return false;
    }
    dir_ = std::make_unique<TempDir>();
    return true;
}

void MovieTest::TearDownTestSuite() {
    dir_.reset();
}

void MovieTest::SetUp() {
    if (dir_ == nullptr) {
        if (Peer::isCi()) {
            FAIL() << "ffmpeg is required in CI";
        }
        GTEST_SKIP() << "ffmpeg not installed";
    }
}

void MovieTest::make(std::vector<std::string> args, const std::string& name) {
    args.insert(args.begin(), {"ffmpeg", "-v", "error", "-nostdin", "-y"});
    if (!name.ends_with(".m4a")) {
        args.insert(args.end(), {"-c:v", "mpeg4", "-q:v", "2"});
    }
    args.push_back(file(name));
    ASSERT_EQ(runTool(args).status, 0) << name;
}

std::string MovieTest::file(const std::string& name) {
    return dir_->file(name);
}

const std::string& MovieTest::folder() {
    return dir_->path();
}

}  // namespace testsupport
