// Exclusions and extension groups where the test needs what only the POSIX
// build offers: a time zone set for the process, drive letters mapped to
// folders and to a real NTFS volume image.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/scoped_time_zone.h"
#include "engine/engine_drive_mapping.h"
#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "engine/engine_profile_test_util.h"
#include "fileindex/volume_images.h"
#include "platform/preinstall_env.h"
#include "qvbackup/host.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

constexpr ULONGLONG kTicksPerMinute = 600000000ULL;
constexpr ULONGLONG kReference = 132592971600000000ULL;  // 2021-03-04 02:06 UTC

class PosixExclusionsTest : public ::testing::Test {
 protected:
  PosixExclusionsTest() : engine_(nullptr) {}

  CapturedLog log_;
  TempDir temp_;
  CQVBackupEngine engine_;
};

// The index's times and the reference are both UTC: the cut falls at the
// reference itself whatever the zone, east or west of Greenwich, and only
// the traced local form moves.
TEST_F(PosixExclusionsTest, AgeFilterCutsAtTheUtcReferenceInEveryTimeZone) {
  struct Zone {
    const char* tz;
    const char* local;
  };
  for (const Zone& zone : {Zone{"EST5", "03-03-2021 21:06"}, Zone{"IST-5:30", "04-03-2021 07:36"}}) {
    SCOPED_TRACE(zone.tz);
    ScopedTimeZone timeZone(zone.tz);
    const WString root = temp_.DrivePath();
    CQVFileArray index;
    ASSERT_NE(index.Add(root.c_str()), 0u);
    ASSERT_NE(EnterWithTimes(index, root + W("\\before.txt"), FILE_ATTRIBUTE_ARCHIVE, kReference - kTicksPerMinute,
                             kReference - kTicksPerMinute),
              0u);
    ASSERT_NE(EnterWithTimes(index, root + W("\\after.txt"), FILE_ATTRIBUTE_ARCHIVE, kReference - kTicksPerMinute,
                             kReference + kTicksPerMinute),
              0u);
    FILETIME reference = FileTimeOf(kReference);
    engine_.SubstractFileBeforeReferenceTime(index, reference);
    EXPECT_EQ(LiveBelow(index, root).files, std::set<std::string>{"after.txt"});
    const std::vector<WString> lines = log_.Body();
    EXPECT_EQ(LinesEndingWith(lines, std::string("Time filtered Local : ") + zone.local), 1);
  }
  EXPECT_EQ(LinesEndingWith(log_.Body(), "Time filtered : 04-03-2021 02:06"), 2);
}

TEST_F(PosixExclusionsTest, MetafilesOfAnNtfsVolumeAreRemovedAndOrdinaryFilesStay) {
  const fs::path image = Unpack("ntfs", "ntfs1k", temp_);
  DriveMapping mapN(u'N', temp_.path(), image);
  ASSERT_TRUE(engine_.LoadVolume(CQVString(QVT("N:\\"))));
  ASSERT_EQ(LinesEndingWith(log_.Body(), "Old School parsing method begin!!"), 0);  // read raw
  const LiveEntries before = LiveBelow(engine_.m_qvfaGroup, W("N:"));
  ASSERT_TRUE(before.files.count("$MFT") && before.files.count("small.txt") && before.files.count("$dollar.txt"));

  EXPECT_EQ(engine_.SubstractAllMFTEntry(), 0u);
  const LiveEntries after = LiveBelow(engine_.m_qvfaGroup, W("N:"));
  std::set<std::string> removed;
  for (const std::string& file : before.files) {
    if (!after.files.count(file)) removed.insert(file);
  }
  EXPECT_EQ(removed, (std::set<std::string>{"$UpCase", "$Secure", "$BadClus", "$Boot", "$Bitmap", "$AttrDef",
                                            "$Volume", "$LogFile", "$MFTMirr", "$Extend\\$Reparse",
                                            "$Extend\\$ObjId", "$Extend\\$Quota", "$MFT"}));
  EXPECT_EQ(after.files.size(), before.files.size() - removed.size());
  EXPECT_EQ(after.folders, before.folders);
}

TEST_F(PosixExclusionsTest, UnderPreinstallationAMissingInstalledFileIsReadFromDriveX) {
  temp_.MakeDir("X/WINDOWS/system32");
  std::ofstream(temp_.path() / "X" / "WINDOWS" / "system32" / "GpExt.xml", std::ios::binary)
      << GroupFileText({{"Music", {"flac", "mp3"}}});
  temp_.MakeDir("W/WINDOWS");  // the installed system, without the file
  DriveMapping mapX(u'X', temp_.path() / "X"), mapW(u'W', temp_.path() / "W");
  qv::platform::OverridePreinstallationEnvironmentForTesting(true);
  CQVStringArray extensions(0);
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({2});
  profile.strWindowsDrive = QVT("W:\\");
  engine_.GroupExt_EnumerateExtensionsInGroup(QVT("Music"), extensions, profile);
  qv::platform::OverridePreinstallationEnvironmentForTesting(std::nullopt);
  ASSERT_EQ(extensions.GetSize(), 2u);
  EXPECT_EQ(U8(extensions.GetAt(0).GetString()), "flac");
  EXPECT_EQ(U8(extensions.GetAt(1).GetString()), "mp3");
  EXPECT_EQ(LinesHolding(log_.Body(), "ERROR"), 0);
}

}  // namespace
}  // namespace qvtest
