// The POSIX drive map: parsing QV_DRIVES, drive path -> native path, native
// path -> drive path by longest root, name translation, and the host calls.
#include "platform/posix/drive_map.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/test_util.h"
#include "qvbackup/host.h"

namespace qv::platform::posix {
namespace {

using qvtest::W;

std::string NativeOf(const DriveMap& map, const WString& drivePath) {
  NativePath native;
  if (!map.ToNative(drivePath, &native)) return "<error " + std::to_string(GetLastError()) + ">";
  return native.path;
}

WString DriveOf(const DriveMap& map, const std::string& nativePath) {
  WString drivePath;
  if (!map.ToDrive(nativePath, &drivePath)) return W("<error " + std::to_string(GetLastError()) + ">");
  return drivePath;
}

std::string CurrentFolder() {
  char* folder = getcwd(nullptr, 0);
  std::string text = folder;
  std::free(folder);
  return text;
}

TEST(DriveMapTest, DefaultMapsDriveCToTheRootFolder) {
  DriveMap map;
  EXPECT_EQ(NativeOf(map, W("C:\\tmp\\a.txt")), "/tmp/a.txt");
  EXPECT_EQ(NativeOf(map, W("c:/tmp/a.txt")), "/tmp/a.txt");
  EXPECT_EQ(NativeOf(map, W("C:\\tmp\\")), "/tmp");
  NativePath native;
  ASSERT_TRUE(map.ToNative(W("C:"), &native));
  EXPECT_EQ(native.path, "/");
  EXPECT_TRUE(native.isDriveRoot);
  ASSERT_TRUE(map.ToNative(W("C:\\"), &native));
  EXPECT_TRUE(native.isDriveRoot);
  ASSERT_TRUE(map.ToNative(W("C:\\tmp"), &native));
  EXPECT_FALSE(native.isDriveRoot);
}

TEST(DriveMapTest, PathsOfOtherFormsOrUnmappedLettersDoNotExist) {
  DriveMap map;
  for (const char* path : {"D:\\tmp", "Z:", "", "C:tmp", "1:\\tmp", "\\\\server\\share\\a",
                           "\\tmp", "/tmp", "::\\tmp"}) {
    SCOPED_TRACE(path);
    SetLastError(0);
    EXPECT_EQ(NativeOf(map, W(path)), "<error 3>");
  }
}

TEST(DriveMapTest, DotsAndRepeatedSeparatorsResolveWithoutLeavingTheRoot) {
  DriveMap map;
  ASSERT_TRUE(map.Set('E', "/mnt/usb", ""));
  EXPECT_EQ(NativeOf(map, W("C:\\a\\.\\b\\..\\c")), "/a/c");
  EXPECT_EQ(NativeOf(map, W("C:\\\\a//b\\\\")), "/a/b");
  EXPECT_EQ(NativeOf(map, W("E:\\..\\..\\etc\\passwd")), "/mnt/usb/etc/passwd");
  EXPECT_EQ(NativeOf(map, W("E:\\a\\..\\..")), "/mnt/usb");
}

TEST(DriveMapTest, NamesCarryColonBackslashAndRawBytesAcross) {
  DriveMap map;
  WString drivePath = W("C:\\tmp\\a") + WString(1, 0xF03A) + W("b") + WString(1, 0xF05C) + W("c");
  EXPECT_EQ(NativeOf(map, drivePath), "/tmp/a:b\\c");
  EXPECT_EQ(DriveOf(map, "/tmp/a:b\\c"), drivePath);
  EXPECT_EQ(NativeOf(map, W("C:\\tmp\\caf") + WString(1, 0xDCE9)), "/tmp/caf\xE9");
  EXPECT_EQ(DriveOf(map, "/tmp/caf\xE9"), W("C:\\tmp\\caf") + WString(1, 0xDCE9));
  EXPECT_EQ(DriveOf(map, "/tmp/\xC3\xA9t\xC3\xA9"), W("C:\\tmp\\\xC3\xA9t\xC3\xA9"));
}

TEST(DriveMapTest, ListSetsFoldersAndDevices) {
  DriveMap map;
  map.ApplyList("C=/;E=/mnt/usb,/dev/sdb1;F=,/tmp/fat.img");
  EXPECT_EQ(NativeOf(map, W("E:\\photos")), "/mnt/usb/photos");
  EXPECT_EQ(NativeOf(map, W("F:\\")), "<error 3>") << "F has a device and no folder";
  std::string device;
  ASSERT_TRUE(map.Device('e', &device));
  EXPECT_EQ(device, "/dev/sdb1");
  ASSERT_TRUE(map.Device('F', &device));
  EXPECT_EQ(device, "/tmp/fat.img");
  EXPECT_FALSE(map.Device('C', &device));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(map.Device('#', &device));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(DriveMapTest, ListIgnoresMalformedEntries) {
  DriveMap map;
  map.ApplyList("=/x;EE=/y;1=/z;G/w;;H=/h;   I=/i;J");
  for (char letter : {'E', 'G', 'J'}) {
    SCOPED_TRACE(letter);
    EXPECT_EQ(NativeOf(map, WString{static_cast<WCHAR>(letter), ':'}), "<error 3>");
  }
  EXPECT_EQ(NativeOf(map, W("H:\\a")), "/h/a");
  EXPECT_EQ(NativeOf(map, W("I:\\a")), "/i/a") << "spaces before an entry are skipped";
  EXPECT_EQ(NativeOf(map, W("C:\\a")), "/a") << "the default survives";
}

TEST(DriveMapTest, LaterEntriesReplaceEarlierOnesAndEmptyRootsUnmap) {
  DriveMap map;
  map.ApplyList("E=/a,/dev/a;E=/b;C=");
  EXPECT_EQ(NativeOf(map, W("E:\\x")), "/b/x");
  std::string device;
  EXPECT_FALSE(map.Device('E', &device)) << "the replacing entry has no device";
  EXPECT_EQ(NativeOf(map, W("C:\\x")), "<error 3>");
  map.ApplyList("K=/k/,/dev/k,v");
  EXPECT_EQ(NativeOf(map, W("K:\\x")), "/k/x") << "trailing slash of the root dropped";
  ASSERT_TRUE(map.Device('K', &device));
  EXPECT_EQ(device, "/dev/k,v") << "only the first comma separates the device";
}

TEST(DriveMapTest, RelativeRootsAreTakenFromTheCurrentFolder) {
  DriveMap map;
  ASSERT_TRUE(map.Set('R', "rel/./dir", ""));
  std::string expected = CurrentFolder() + "/rel/dir";
  EXPECT_EQ(NativeOf(map, W("R:\\x")), expected + "/x");
}

TEST(DriveMapTest, PathsWithoutADriveLieBelowTheCurrentFolder) {
  DriveMap map;
  EXPECT_EQ(NativeOf(map, W("GpExt.xml")), CurrentFolder() + "/GpExt.xml");
  EXPECT_EQ(NativeOf(map, W("sub\\a.txt")), CurrentFolder() + "/sub/a.txt");
  EXPECT_EQ(NativeOf(map, W("C")), CurrentFolder() + "/C") << "a name, not a drive";
  EXPECT_EQ(NativeOf(map, W("\\rooted")), "<error 3>") << "a rooted path without its drive names nothing";
  EXPECT_EQ(NativeOf(map, W("")), "<error 3>");
}

TEST(DriveMapTest, BadLettersAreRejected) {
  DriveMap map;
  for (WCHAR letter : {static_cast<WCHAR>('1'), static_cast<WCHAR>('@'), static_cast<WCHAR>('['),
                       static_cast<WCHAR>(0xC0), static_cast<WCHAR>(0)}) {
    SetLastError(0);
    EXPECT_FALSE(map.Set(letter, "/x", ""));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}

TEST(DriveMapTest, NativePathsGoToTheDriveWithTheLongestRoot) {
  DriveMap map;
  map.ApplyList("E=/mnt/usb;D=/mnt");
  EXPECT_EQ(DriveOf(map, "/mnt/usb/a/b"), W("E:\\a\\b"));
  EXPECT_EQ(DriveOf(map, "/mnt/usb"), W("E:\\"));
  EXPECT_EQ(DriveOf(map, "/mnt/usb/"), W("E:\\"));
  EXPECT_EQ(DriveOf(map, "/mnt/usbx/a"), W("D:\\usbx\\a")) << "roots match whole components";
  EXPECT_EQ(DriveOf(map, "/mnt"), W("D:\\"));
  EXPECT_EQ(DriveOf(map, "/home/a"), W("C:\\home\\a"));
  EXPECT_EQ(DriveOf(map, "/"), W("C:\\"));
}

TEST(DriveMapTest, NativePathsAreResolvedLexically) {
  DriveMap map;
  map.ApplyList("E=/mnt/usb");
  EXPECT_EQ(DriveOf(map, "/mnt/usb/../x"), W("C:\\mnt\\x"));
  EXPECT_EQ(DriveOf(map, "//mnt///usb/./a/"), W("E:\\a"));
  EXPECT_EQ(DriveOf(map, "/.."), W("C:\\"));
  WString relative = DriveOf(map, "sub/file");
  EXPECT_EQ(relative, DriveOf(map, CurrentFolder() + "/sub/file"));
}

TEST(DriveMapTest, EqualRootsGoToTheFirstLetter) {
  DriveMap map;
  map.ApplyList("G=/data;D=/data");
  EXPECT_EQ(DriveOf(map, "/data/x"), W("D:\\x"));
}

TEST(DriveMapTest, NativePathsOutsideEveryRootHaveNoDrivePath) {
  DriveMap map;
  map.ApplyList("C=;E=/mnt");
  SetLastError(0);
  EXPECT_EQ(DriveOf(map, "/home/a"), W("<error 3>"));
  EXPECT_EQ(DriveOf(map, "/mnt/a"), W("E:\\a"));
}

TEST(DriveMapTest, DrivePathsAndNativePathsRoundTrip) {
  DriveMap map;
  map.ApplyList("E=/mnt/usb");
  for (std::string native : {"/", "/tmp", "/mnt/usb", "/mnt/usb/a b/c.txt", "/tmp/a:b", "/tmp/back\\slash",
                             "/tmp/\xFF\xFE", "/tmp/\xF0\x9F\x98\x80.jpg", "/tmp/...", "/tmp/ leading"}) {
    SCOPED_TRACE(native);
    WString drivePath = DriveOf(map, native);
    EXPECT_EQ(NativeOf(map, drivePath), native);
  }
}

// The process's own map, as hosts change it. Letters Q to T are used here
// and unmapped again so other tests keep the default map.
class ProcessDriveMapTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (WCHAR letter : {'Q', 'R', 'S', 'T'}) QVSetDriveMapping(letter, nullptr, nullptr);
    QVSetDriveMapping('C', W("/").c_str(), nullptr);
  }

  static WString HostDrivePath(const char* native) {
    WCHAR buffer[512];
    DWORD length = QVGetDrivePath(W(native).c_str(), buffer, 512);
    if (length == 0) return W("<error " + std::to_string(GetLastError()) + ">");
    return WString(buffer, length);
  }
};

TEST_F(ProcessDriveMapTest, HostMappingChangesBothDirections) {
  ASSERT_TRUE(QVSetDriveMapping('q', W("/tmp/qv-q-root").c_str(), W("/tmp/qv-q.img").c_str()));
  EXPECT_EQ(HostDrivePath("/tmp/qv-q-root/x/y"), W("Q:\\x\\y"));
  NativePath native;
  ASSERT_TRUE(NativePathOf(W("Q:\\x"), &native));
  EXPECT_EQ(native.path, "/tmp/qv-q-root/x");
  std::string device;
  ASSERT_TRUE(DriveDeviceOf('Q', &device));
  EXPECT_EQ(device, "/tmp/qv-q.img");

  ASSERT_TRUE(QVSetDriveMapping('Q', nullptr, nullptr));
  EXPECT_EQ(HostDrivePath("/tmp/qv-q-root/x/y"), W("C:\\tmp\\qv-q-root\\x\\y"));
  EXPECT_FALSE(NativePathOf(W("Q:\\x"), &native));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DriveDeviceOf('Q', &device));
}

TEST_F(ProcessDriveMapTest, HostRejectsBadLetters) {
  EXPECT_FALSE(QVSetDriveMapping('5', W("/tmp").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ProcessDriveMapTest, HostDrivePathReportsUncoveredPathsAndShortBuffers) {
  ASSERT_TRUE(QVSetDriveMapping('C', nullptr, nullptr));
  ASSERT_TRUE(QVSetDriveMapping('R', W("/tmp").c_str(), nullptr));
  EXPECT_EQ(HostDrivePath("/home"), W("<error 3>"));
  ASSERT_TRUE(QVSetDriveMapping('C', W("/").c_str(), nullptr));

  WCHAR buffer[8] = {'z'};
  EXPECT_EQ(QVGetDrivePath(W("/tmp/abcde").c_str(), buffer, 8), 0u) << "R:\\abcde needs 8 units and a terminator";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(QVGetDrivePath(W("/tmp/abcd").c_str(), buffer, 8), 7u);
  EXPECT_EQ(WString(buffer), W("R:\\abcd"));
}

TEST(ProcessDriveMapEnvironmentTest, QVDrivesIsReadOnFirstUse) {
  // A fresh process is needed: the map reads the variable only once.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("QV_DRIVES", "S=/tmp/qv-s-root,/tmp/qv-s.img;T=,/dev/null;C=", 1);
  EXPECT_EXIT(
      {
        WString drivePath;
        std::string device;
        NativePath native;
        bool ok = DrivePathOf("/tmp/qv-s-root/a", &drivePath) && drivePath == W("S:\\a");
        ok = ok && DriveDeviceOf('T', &device) && device == "/dev/null";
        ok = ok && !NativePathOf(W("T:\\"), &native) && !NativePathOf(W("C:\\"), &native);
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  unsetenv("QV_DRIVES");
}

}  // namespace
}  // namespace qv::platform::posix
