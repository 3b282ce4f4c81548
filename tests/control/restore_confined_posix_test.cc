// Restores that stay inside their target: a symbolic link planted anywhere
// below the restore root, or made by the restore itself, never leads a file
// outside it; the root itself may be a link. And the modes restored files
// get, whatever the umask.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "control/control_test_util.h"
#include "qvbackup/host.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

// What a folder holds, link targets not followed: each item's kind, the
// hash of its bytes, its inode and last write time to the nanosecond.
using Snapshot = std::map<std::string, std::tuple<char, std::size_t, ino_t, long long>>;

Snapshot SnapshotOf(const fs::path& folder) {
  Snapshot items;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    struct stat status {};
    EXPECT_EQ(::lstat(item.path().c_str(), &status), 0) << item.path();
    const char kind = S_ISLNK(status.st_mode) ? 'l' : S_ISDIR(status.st_mode) ? 'd' : 'f';
    const Bytes bytes = kind == 'f' ? ReadAll(item.path()) : Bytes();
    items[fs::relative(item.path(), folder).string()] = {
        kind, std::hash<std::string>()(std::string(bytes.begin(), bytes.end())), status.st_ino,
        static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec};
  }
  return items;
}

unsigned ModeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }

 private:
  mode_t saved_;
};

// Drive D is a source tree, E another; the archive holds D:\a\b\f.txt,
// D:\a\g.txt, D:\top.txt and E:\e.txt.
class ConfinedRestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driveD_.WriteFile("a/b/f.txt", 300);
    driveD_.WriteFile("a/g.txt", 400);
    driveD_.WriteFile("top.txt", 500);
    driveE_.WriteFile("e.txt", 600);
    ASSERT_TRUE(QVSetDriveMapping('D', W(driveD_.path().string()).c_str(), nullptr));
    ASSERT_TRUE(QVSetDriveMapping('E', W(driveE_.path().string()).c_str(), nullptr));
  }
  void TearDown() override {
    QVSetDriveMapping('D', nullptr, nullptr);
    QVSetDriveMapping('E', nullptr, nullptr);
  }

  void Backup(const std::vector<std::string>& paths) {
    CQVBackupControl control;
    ASSERT_TRUE(control.BeginBackup(desc_.get())) << GetLastError();
    for (const std::string& path : paths) EXPECT_TRUE(control.AddFileToArchive(W(path).c_str())) << path;
    ASSERT_TRUE(control.EndBackup()) << GetLastError();
  }
  void BackupAll() { Backup({"D:\\a\\b\\f.txt", "D:\\a\\g.txt", "D:\\top.txt", "E:\\e.txt"}); }

  // Restores every item below `root` in the order of the index; each
  // item's path and the error it failed with (0: restored).
  std::map<std::string, DWORD> RestoreEach(const fs::path& root) {
    std::map<std::string, DWORD> results;
    CQVBackupControl restorer;
    EXPECT_TRUE(restorer.GetStorage().OpenArchive(desc_.get()));
    EXPECT_TRUE(restorer.LoadArchiveIndex());
    restorer.SetRestoreRoot(DrivePathOf(root).c_str());
    CQVFileArray& index = restorer.GetIndex();
    DWORD entry = 0;
    HANDLE search = index.FindFirstFileW(entry, nullptr);
    EXPECT_NE(search, nullptr);
    do {
      if (restorer.GetItemKind(entry) == QVBC_ITEM_NONE) continue;
      const BOOL restored = restorer.RestoreEntry(entry);
      results[U8(index.GetPathName(entry).GetString())] = restored ? 0 : GetLastError();
    } while (search != nullptr && index.FindNextFileW(search, entry));
    index.FindClose(search);
    EXPECT_TRUE(restorer.EndRestore()) << GetLastError();
    return results;
  }

  static fs::path Below(const fs::path& root, const std::string& relative) { return root / relative; }

  // The source file of the stored path `path` ("D:\a\g.txt").
  fs::path SourceOf(std::string path) const {
    for (char& c : path) c = c == '\\' ? '/' : c;
    return (path[0] == 'D' ? driveD_ : driveE_).path() / path.substr(3);
  }

  TempDir driveD_, driveE_, archives_;
  ArchiveDescription desc_{archives_.DrivePath()};
};

// A link to a folder outside, planted at the drive's folder, at a middle
// folder and at the file's own folder: the files below it are refused with
// ERROR_STOPPED_ON_SYMLINK, nothing outside changes (bytes, inodes, times,
// no new item), the link stays, and every other file comes back.
TEST_F(ConfinedRestoreTest, LinkPlantedAtAnyLevelBelowTheRootIsRefused) {
  BackupAll();
  const DWORD refused = ERROR_STOPPED_ON_SYMLINK;
  struct Level {
    std::string link;                   // below the root
    std::vector<std::string> outside;   // what the link would lead to, below it
    std::map<std::string, DWORD> results;
  };
  const std::vector<Level> levels = {
      {"Kelvar_D",
       {"a/b/f.txt", "a/g.txt", "top.txt"},
       {{"D:\\a\\b\\f.txt", refused}, {"D:\\a\\g.txt", refused}, {"D:\\top.txt", refused}, {"E:\\e.txt", 0}}},
      {"Kelvar_D/a",
       {"b/f.txt", "g.txt"},
       {{"D:\\a\\b\\f.txt", refused}, {"D:\\a\\g.txt", refused}, {"D:\\top.txt", 0}, {"E:\\e.txt", 0}}},
      {"Kelvar_D/a/b",
       {"f.txt"},
       {{"D:\\a\\b\\f.txt", refused}, {"D:\\a\\g.txt", 0}, {"D:\\top.txt", 0}, {"E:\\e.txt", 0}}},
  };
  for (const Level& level : levels) {
    SCOPED_TRACE(level.link);
    TempDir root, outside;
    for (const std::string& file : level.outside) {
      fs::create_directories((outside.path() / file).parent_path());
      WriteAll(outside.path() / file, TextBytes(7));
    }
    const Snapshot before = SnapshotOf(outside.path());
    fs::create_directories(Below(root.path(), level.link).parent_path());
    fs::create_directory_symlink(outside.path(), Below(root.path(), level.link));

    EXPECT_EQ(RestoreEach(root.path()), level.results);
    EXPECT_EQ(SnapshotOf(outside.path()), before);
    EXPECT_TRUE(fs::is_symlink(Below(root.path(), level.link)));
    for (const auto& [path, error] : level.results) {
      if (error != 0) continue;
      EXPECT_EQ(ReadAll(RestoredPath(root.path(), W(path))), ReadAll(SourceOf(path))) << path;
    }
  }
}

// A link at the file's own place is replaced by the file, never written
// through; the file it named stays as it was.
TEST_F(ConfinedRestoreTest, LinkAtTheFilesOwnNameIsReplacedNotFollowed) {
  BackupAll();
  TempDir root, outside;
  WriteAll(outside.path() / "victim.txt", TextBytes(9));
  const Snapshot before = SnapshotOf(outside.path());
  const fs::path leaf = root.path() / "Kelvar_D" / "a" / "g.txt";
  fs::create_directories(leaf.parent_path());
  fs::create_symlink(outside.path() / "victim.txt", leaf);

  const std::map<std::string, DWORD> results = RestoreEach(root.path());
  EXPECT_EQ(results.at("D:\\a\\g.txt"), 0u);
  EXPECT_FALSE(fs::is_symlink(leaf));
  EXPECT_EQ(ReadAll(leaf), ReadAll(driveD_.path() / "a" / "g.txt"));
  EXPECT_EQ(SnapshotOf(outside.path()), before);
}

// The root the user names may be a link, or lie below one: that is theirs
// to choose, and everything restores through it.
TEST_F(ConfinedRestoreTest, RootThatIsALinkRestoresEverything) {
  BackupAll();
  TempDir place;
  fs::create_directory(place.path() / "real");
  fs::create_directory_symlink(place.path() / "real", place.path() / "named");
  fs::create_directory_symlink(place.path(), place.path() / "above");
  for (const char* named : {"named", "above/real"}) {
    SCOPED_TRACE(named);
    CQVBackupControl restorer;
    ASSERT_TRUE(restorer.GetStorage().OpenArchive(desc_.get()));
    ASSERT_TRUE(restorer.LoadArchiveIndex());
    restorer.SetRestoreRoot(DrivePathOf(place.path() / named).c_str());
    EXPECT_TRUE(restorer.RestoreAllFiles()) << GetLastError();
    EXPECT_TRUE(restorer.EndRestore());
    EXPECT_EQ(ReadAll(place.path() / "real" / "Kelvar_D" / "a" / "b" / "f.txt"), ReadAll(driveD_.path() / "a/b/f.txt"));
    EXPECT_EQ(ReadAll(place.path() / "real" / "Kelvar_E" / "e.txt"), ReadAll(driveE_.path() / "e.txt"));
    fs::remove_all(place.path() / "real" / "Kelvar_D");
    fs::remove_all(place.path() / "real" / "Kelvar_E");
  }
}

// An archive whose link item comes before a file below it (the backup
// read the file through the link): the link is restored as a link, and the
// file, whose path would now lead through it to the folder it names, is
// refused; that folder is left as it was.
TEST_F(ConfinedRestoreTest, FileBelowALinkTheRestoreMadeIsRefused) {
  TempDir elsewhere;
  WriteAll(elsewhere.path() / "x.txt", TextBytes(11));
  fs::create_directories(driveD_.path() / "c");
  fs::create_directory_symlink(elsewhere.path(), driveD_.path() / "c" / "l");
  Backup({"D:\\c\\l", "D:\\c\\l\\x.txt", "D:\\top.txt"});
  // What a restore through the link would overwrite is no longer the same.
  WriteAll(elsewhere.path() / "x.txt", TextBytes(3));
  const Snapshot before = SnapshotOf(elsewhere.path());

  TempDir root;
  const std::map<std::string, DWORD> results = RestoreEach(root.path());
  EXPECT_EQ(results, (std::map<std::string, DWORD>{
                         {"D:\\c\\l", 0}, {"D:\\c\\l\\x.txt", ERROR_STOPPED_ON_SYMLINK}, {"D:\\top.txt", 0}}));
  EXPECT_TRUE(fs::is_symlink(root.path() / "Kelvar_D" / "c" / "l"));
  EXPECT_EQ(SnapshotOf(elsewhere.path()), before);
}

// The archive's bytes with its metadata table's locator made another kind
// of block: what an archive made where no table is kept reads as.
void ForgetMetadataTable(const fs::path& archive) {
  Bytes stream = ReadAll(archive);
  const ULONGLONG closing = Qword(stream, 181);
  const ULONGLONG index = Qword(stream, closing + QVS_BLOCK_HEADER_SIZE + 4);
  const ULONGLONG locator = index - QVS_BLOCK_HEADER_SIZE - 24;
  ASSERT_EQ(stream[locator + 4] | stream[locator + 5] << 8, 4);
  stream[locator + 4] = 1;
  WriteAll(archive, stream);
}

// Restored files get their saved mode where the archive keeps one, else
// the mode a new file of the process gets; read-only takes the write
// permissions away; the umask of the restore never widens a saved mode.
TEST_F(ConfinedRestoreTest, RestoredFilesGetTheSavedModeOrTheUmasksOne) {
  ::chmod((driveD_.path() / "a/b/f.txt").c_str(), 0640);
  ::chmod((driveD_.path() / "a/g.txt").c_str(), 0444);
  ::chmod((driveD_.path() / "top.txt").c_str(), 0600);
  BackupAll();
  for (mode_t mask : {022, 077}) {
    SCOPED_TRACE(mask);
    ScopedUmask umask(mask);
    TempDir root;
    RestoreEach(root.path());
    EXPECT_EQ(ModeOf(root.path() / "Kelvar_D/a/b/f.txt"), 0640u);
    EXPECT_EQ(ModeOf(root.path() / "Kelvar_D/a/g.txt"), 0444u);
    EXPECT_EQ(ModeOf(root.path() / "Kelvar_D/top.txt"), 0600u);
  }
  ForgetMetadataTable(archives_.path() / "home.QVA");
  for (mode_t mask : {022, 077}) {
    SCOPED_TRACE(mask);
    ScopedUmask umask(mask);
    TempDir root;
    CQVBackupControl restorer;
    ASSERT_TRUE(restorer.GetStorage().OpenArchive(desc_.get()));
    ASSERT_TRUE(restorer.LoadArchiveIndex());
    EXPECT_FALSE(restorer.HasMetadataTable());
    restorer.SetRestoreRoot(DrivePathOf(root.path()).c_str());
    EXPECT_TRUE(restorer.RestoreAllFiles());
    EXPECT_TRUE(restorer.EndRestore());
    EXPECT_EQ(ModeOf(root.path() / "Kelvar_D/a/b/f.txt"), 0666u & ~mask);
    EXPECT_EQ(ModeOf(root.path() / "Kelvar_D/a/g.txt"), 0444u & ~mask);
    EXPECT_EQ(ModeOf(root.path() / "Kelvar_D/top.txt"), 0666u & ~mask);
  }
}

}  // namespace
}  // namespace qvtest
