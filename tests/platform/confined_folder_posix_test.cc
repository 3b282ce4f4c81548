// ConfinedFolder on POSIX: folders below the root are never reached through
// a symbolic link, the items of a folder are never followed at their last
// name, and what a link names outside is left as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/confined_folder.h"
#include "platform/fault_injection.h"
#include "platform_test_util.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using qvtest::TempDir;
using qvtest::W;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

unsigned ModeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

class ConfinedFolderPosixTest : public ::testing::Test {
 protected:
  std::unique_ptr<ConfinedFolder> Root() {
    std::unique_ptr<ConfinedFolder> root = ConfinedFolder::OpenRoot(dir_.DrivePath().c_str(), false);
    EXPECT_TRUE(root) << GetLastError();
    return root;
  }

  TempDir dir_, outside_;
};

// A link, a file, a missing name and names that are no single name: each
// refused with its own reason; nothing is made through the link.
TEST_F(ConfinedFolderPosixTest, OpenFolderRefusesLinksFilesAndOddNames) {
  fs::create_directory_symlink(outside_.path(), dir_.path() / "link");
  WriteText(dir_.path() / "file", "x");
  std::unique_ptr<ConfinedFolder> root = Root();
  ASSERT_TRUE(root);
  const struct {
    const char* name;
    bool create;
    DWORD error;
  } cases[] = {
      {"link", true, ERROR_STOPPED_ON_SYMLINK}, {"link", false, ERROR_STOPPED_ON_SYMLINK},
      {"file", true, ERROR_ALREADY_EXISTS},     {"missing", false, ERROR_PATH_NOT_FOUND},
      {"", true, ERROR_INVALID_NAME},           {"..", true, ERROR_INVALID_NAME},
      {"a\\b", true, ERROR_INVALID_NAME},       {"a/b", true, ERROR_INVALID_NAME},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    EXPECT_FALSE(root->OpenFolder(W(item.name), item.create));
    EXPECT_EQ(GetLastError(), item.error);
  }
  EXPECT_TRUE(fs::is_empty(outside_.path()));
  EXPECT_FALSE(fs::exists(dir_.path() / "missing"));
}

// The root as the user names it may be a link; something else than a
// folder is not a root.
TEST_F(ConfinedFolderPosixTest, TheRootMayBeALinkButMustBeAFolder) {
  fs::create_directory_symlink(outside_.path(), dir_.path() / "named");
  std::unique_ptr<ConfinedFolder> root = ConfinedFolder::OpenRoot((dir_.DrivePath() + W("\\named")).c_str(), false);
  ASSERT_TRUE(root) << GetLastError();
  ASSERT_TRUE(root->OpenFolder(W("made"), true));
  EXPECT_TRUE(fs::is_directory(outside_.path() / "made"));
  WriteText(dir_.path() / "file", "x");
  EXPECT_FALSE(ConfinedFolder::OpenRoot((dir_.DrivePath() + W("\\file")).c_str(), false));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(ConfinedFolder::OpenRoot((dir_.DrivePath() + W("\\gone")).c_str(), false));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// The folder is held: once reached, it is the one written into even when
// a link takes its name afterwards.
TEST_F(ConfinedFolderPosixTest, AHeldFolderIsWrittenIntoWhateverTakesItsNameLater) {
  std::unique_ptr<ConfinedFolder> root = Root();
  std::unique_ptr<ConfinedFolder> held = root->OpenFolder(W("a"), true);
  ASSERT_TRUE(held);
  fs::rename(dir_.path() / "a", dir_.path() / "moved");
  fs::create_directory_symlink(outside_.path(), dir_.path() / "a");
  std::unique_ptr<RandomAccessFile> file = held->CreateNewFile(W("new.txt"));
  ASSERT_TRUE(file) << GetLastError();
  EXPECT_TRUE(file->Write("abc", 3));
  file.reset();
  EXPECT_EQ(ReadText(dir_.path() / "moved" / "new.txt"), "abc");
  EXPECT_TRUE(fs::is_empty(outside_.path()));
}

// A new file is its owner's only whatever the umask, is never made through
// a link at its name, and takes the mode of a new file of the process or
// keeps its own; read-only takes write away.
TEST_F(ConfinedFolderPosixTest, NewFilesAreOwnerOnlyUntilTheirAttributesAreGiven) {
  WriteText(outside_.path() / "victim", "v");
  fs::create_symlink(outside_.path() / "victim", dir_.path() / "taken");
  const mode_t saved = ::umask(027);
  std::unique_ptr<ConfinedFolder> root = Root();
  ::umask(saved);
  ASSERT_TRUE(root);
  EXPECT_FALSE(root->CreateNewFile(W("taken")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadText(outside_.path() / "victim"), "v");
  for (const char* name : {"a", "b", "c", "d"}) ASSERT_TRUE(root->CreateNewFile(W(name))) << name;
  EXPECT_EQ(ModeOf(dir_.path() / "a"), 0600u);
  EXPECT_TRUE(root->SetNewFileAttributes(W("a"), FILE_ATTRIBUTE_NORMAL, false));
  EXPECT_TRUE(root->SetNewFileAttributes(W("b"), FILE_ATTRIBUTE_READONLY, false));
  EXPECT_TRUE(root->SetNewFileAttributes(W("c"), FILE_ATTRIBUTE_NORMAL, true));
  EXPECT_TRUE(root->SetNewFileAttributes(W("d"), FILE_ATTRIBUTE_READONLY, true));
  EXPECT_EQ(ModeOf(dir_.path() / "a"), 0640u);  // the umask read when the root was opened
  EXPECT_EQ(ModeOf(dir_.path() / "b"), 0440u);
  EXPECT_EQ(ModeOf(dir_.path() / "c"), 0600u);
  EXPECT_EQ(ModeOf(dir_.path() / "d"), 0400u);
}

// Items reached by name are the items themselves: a link among them gets
// its own times, owner and attributes, its target none of them, and a
// rename replaces the link.
TEST_F(ConfinedFolderPosixTest, ItemsAreNeverFollowedAtTheirName) {
  WriteText(outside_.path() / "victim", "v");
  ::chmod((outside_.path() / "victim").c_str(), 0640);
  fs::create_symlink(outside_.path() / "victim", dir_.path() / "link");
  std::unique_ptr<ConfinedFolder> root = Root();
  ASSERT_TRUE(root);
  const fs::file_time_type victimTime = fs::last_write_time(outside_.path() / "victim");

  EXPECT_TRUE(root->SetAttributes(W("link"), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(root->MakeWritable(W("link")));
  const FILETIME old = {0x12345678u, 0x01c00000u};
  EXPECT_TRUE(root->SetTimes(W("link"), old, old, old));
  PosixMetadata metadata;
  metadata.type = ItemType::kFile;  // as a crafted archive might say
  metadata.mode = 0777;
  EXPECT_NE(root->ApplyPosixMetadata(W("link"), metadata, true) & kMetadataModeNotSet, 0u);
  EXPECT_EQ(ModeOf(outside_.path() / "victim"), 0640u);
  EXPECT_EQ(fs::last_write_time(outside_.path() / "victim"), victimTime);
  FileInformation info;
  ASSERT_TRUE(root->GetInformation(W("link"), &info));
  EXPECT_NE(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

  std::unique_ptr<RandomAccessFile> file = root->CreateNewFile(W("new"));
  ASSERT_TRUE(file && file->Write("n", 1));
  file.reset();
  EXPECT_TRUE(root->Rename(W("new"), W("link")));
  EXPECT_FALSE(fs::is_symlink(dir_.path() / "link"));
  EXPECT_EQ(ReadText(dir_.path() / "link"), "n");
  EXPECT_EQ(ReadText(outside_.path() / "victim"), "v");
}

// A rename that may not replace keeps whatever has the name, a file, a
// folder or a dangling link alike, and takes a free name.
TEST_F(ConfinedFolderPosixTest, RenameNoReplaceKeepsWhatIsThere) {
  std::unique_ptr<ConfinedFolder> root = Root();
  ASSERT_TRUE(root);
  fs::create_directory(dir_.path() / "folder");
  fs::create_symlink(outside_.path() / "missing", dir_.path() / "dangling");
  std::ofstream(dir_.path() / "file") << "old";
  std::unique_ptr<RandomAccessFile> file = root->CreateNewFile(W("new"));
  ASSERT_TRUE(file && file->Write("n", 1));
  file.reset();
  for (const char* taken : {"file", "folder", "dangling"}) {
    SCOPED_TRACE(taken);
    EXPECT_FALSE(root->RenameNoReplace(W("new"), W(taken)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadText(dir_.path() / "new"), "n");
  }
  EXPECT_EQ(ReadText(dir_.path() / "file"), "old");
  EXPECT_TRUE(fs::is_symlink(dir_.path() / "dangling"));
  EXPECT_FALSE(fs::exists(outside_.path() / "missing"));
  EXPECT_TRUE(root->RenameNoReplace(W("new"), W("free")));
  EXPECT_EQ(ReadText(dir_.path() / "free"), "n");
  EXPECT_FALSE(fs::exists(dir_.path() / "new"));
  EXPECT_FALSE(root->RenameNoReplace(W("new"), W("other")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The fault plan meets the held folder's items under their drive paths.
TEST_F(ConfinedFolderPosixTest, FaultPlansSeeTheItemsByTheirDrivePaths) {
  std::unique_ptr<ConfinedFolder> root = Root();
  ASSERT_TRUE(root);
  FaultPlan plan;
  plan.Record().Fail(FaultOp::kRename, W("\\x"), ERROR_ACCESS_DENIED);
  {
    ScopedFaultInjection guard(plan);
    std::unique_ptr<RandomAccessFile> file = root->CreateNewFile(W("x"));
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Sync());
    file.reset();
    EXPECT_FALSE(root->Rename(W("x"), W("y")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(root->Sync());
  }
  const WString x = dir_.DrivePath() + W("\\x");
  const std::vector<FaultCall> calls = plan.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].op, FaultOp::kOpen);
  EXPECT_EQ(calls[0].path, x);
  EXPECT_EQ(calls[1].op, FaultOp::kSync);
  EXPECT_EQ(calls[1].path, x);
  EXPECT_EQ(calls[2].op, FaultOp::kRename);
  EXPECT_EQ(calls[2].target, dir_.DrivePath() + W("\\y"));
  EXPECT_EQ(calls[3].op, FaultOp::kSync);
  EXPECT_EQ(calls[3].path, dir_.DrivePath());
  EXPECT_TRUE(fs::exists(dir_.path() / "x"));
}

}  // namespace
}  // namespace qv::platform
