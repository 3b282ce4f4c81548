// What the remote folder tests share: a fresh folder reached as rclone's
// on-the-fly local remote, and an empty rclone configuration, so that no
// remote of the user's reaches a test.
#ifndef QVBACKUP_TESTS_REMOTE_REMOTE_TEST_UTIL_H_
#define QVBACKUP_TESTS_REMOTE_REMOTE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/test_util.h"
#include "platform/process.h"
#include "platform/text.h"
#include "remote/rclone_remote.h"

namespace qv::remote {

inline WString W(const std::string& text) { return platform::Utf8ToUtf16(text); }

class RemoteFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(platform::FindProgram(W("rclone")).empty()) << "rclone is not installed (Debian package rclone)";
    std::ofstream(temp_.path() / "rclone.conf").close();
    setenv("RCLONE_CONFIG", (temp_.path() / "rclone.conf").c_str(), 1);
    remoteRoot_ = temp_.MakeDir("remote");
  }
  void TearDown() override { unsetenv("RCLONE_CONFIG"); }

  // The remote folder `below` the remote root.
  RcloneRemote Remote(const std::string& below = "") {
    return RcloneRemote(W("rclone"), W(":local:" + (remoteRoot_ / below).string()));
  }

  qvtest::TempDir temp_;
  std::filesystem::path remoteRoot_;
};

}  // namespace qv::remote

#endif  // QVBACKUP_TESTS_REMOTE_REMOTE_TEST_UTIL_H_
