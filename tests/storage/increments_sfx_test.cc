// Increment chains and self-extracting archives.
#include <gtest/gtest.h>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

Bytes IdentifierOf(const fs::path& path, std::size_t headerAt = 0) {
  Bytes file = ReadAll(path);
  return Bytes(file.begin() + headerAt + 8, file.begin() + headerAt + 24);
}

class IncrementTest : public ::testing::Test {
 protected:
  void MakeArchive(bool incremental) {
    CQVStorage storage;
    ArchiveDescription desc(temp_.DrivePath());
    QVS_ARCHIVE_INFO* info = desc.get();
    ASSERT_TRUE(incremental ? storage.BeginIncrementalArchive(info) : storage.BeginArchive(info));
    Bytes data = TextBytes(100);
    ASSERT_TRUE(storage.CreateBlock(data.data(), 100, 0));
    ASSERT_TRUE(EndWithClosingRecord(storage));
    ASSERT_TRUE(storage.CloseArchive());
  }
  TempDir temp_;
};

TEST_F(IncrementTest, IncrementsAreNumberedAfterTheFirstMissingFile) {
  MakeArchive(false);
  MakeArchive(true);
  MakeArchive(true);
  EXPECT_TRUE(fs::exists(temp_.path() / "home.I1.QVA"));
  EXPECT_TRUE(fs::exists(temp_.path() / "home.I2.QVA"));
  CQVStorage probe;
  ArchiveDescription desc(temp_.DrivePath());
  ASSERT_TRUE(probe.BeginIncrementalArchive(desc.get()));
  EXPECT_EQ(probe.GetCurrentIncrement(), 3);
  EXPECT_EQ(probe.GetIncrementCount(0), 3u);  // written under a temporary name until it is whole
  ASSERT_TRUE(EndWithClosingRecord(probe));
  ASSERT_TRUE(probe.CloseArchive());
  EXPECT_EQ(probe.GetIncrementCount(0), 4u);
  Bytes base = IdentifierOf(temp_.path() / "home.QVA");
  EXPECT_EQ(IdentifierOf(temp_.path() / "home.I3.QVA"), base);
  EXPECT_EQ(IdentifierOf(temp_.path() / "home.I1.QVA"), base);
  EXPECT_EQ(Dword(ReadAll(temp_.path() / "home.I3.QVA"), 24), 3u);
  EXPECT_EQ(Dword(ReadAll(temp_.path() / "home.I3.QVA"), 32) & QVS_FLAG_INCREMENTAL, QVS_FLAG_INCREMENTAL);

  // A gap: the first missing name is 1 again, but I2 and I3 were made on
  // top of the lost I1, so the chain takes no new member (a new I1 would
  // be restored under them), and nothing is written or removed.
  fs::remove(temp_.path() / "home.I1.QVA");
  CQVStorage again;
  EXPECT_FALSE(again.BeginIncrementalArchive(desc.get()));
  EXPECT_EQ(again.GetError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(again.GetIncrementCount(0), 1u);
  EXPECT_FALSE(fs::exists(temp_.path() / "home.I1.QVA"));
  EXPECT_FALSE(fs::exists(temp_.path() / "home.I1.QVA.qvtmp"));
  EXPECT_TRUE(fs::exists(temp_.path() / "home.I2.QVA"));
  EXPECT_TRUE(fs::exists(temp_.path() / "home.I3.QVA"));
}

TEST_F(IncrementTest, IncrementsOpenByNumberAndBaseHasNoIncrementFlag) {
  MakeArchive(false);
  MakeArchive(true);
  ArchiveDescription desc(temp_.DrivePath());
  desc.get()->dwIncrementToOpen = 1;
  CQVStorage increment;
  ASSERT_TRUE(increment.OpenArchive(&desc.info)) << increment.GetError();
  EXPECT_EQ(increment.GetCurrentIncrement(), 1);
  EXPECT_EQ(U8(increment.GetIncrementBase()), U8(temp_.DrivePath() + W("\\home.QVA")));
  EXPECT_EQ(BlockAt(increment, QVS_HEADER_SIZE), TextBytes(100));
  increment.CloseArchive();

  desc.info.dwIncrementToOpen = 0;
  CQVStorage base;
  ASSERT_TRUE(base.OpenArchive(&desc.info));
  EXPECT_EQ(base.GetCurrentIncrement(), 0);
  EXPECT_EQ(base.GetError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  base.CloseArchive();
  EXPECT_EQ(base.GetCurrentIncrement(), 0);
  EXPECT_EQ(base.GetError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// A program to put in front of an archive: any file that starts with MZ.
Bytes Stub(std::size_t size) {
  Bytes stub = RandomBytes(size, 11);
  stub[0] = 'M';
  stub[1] = 'Z';
  std::fill(stub.begin() + 28, stub.begin() + 36, 0);
  return stub;
}

// Opens archives as the running program would: the program is a file the
// test names.
class ProgramStorage : public CQVStorage {
 public:
  explicit ProgramStorage(WString program) : program_(std::move(program)) {}

 protected:
  CQVPathString GetRunningProgramPath() override { return CQVPathString(program_.c_str()); }

 private:
  WString program_;
};

class SelfExtractingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteAll(temp_.path() / "stub.bin", Stub(40000));
    desc_.stub = temp_.DrivePath() + W("\\stub.bin");
  }
  TempDir temp_;
  ArchiveDescription desc_{temp_.DrivePath()};
};

TEST_F(SelfExtractingTest, ArchiveFollowsTheProgramAndItsMarker) {
  desc_.password = W("pw");
  CQVStorage storage;
  ASSERT_TRUE(storage.BeginArchive(desc_.get())) << storage.GetError();
  EXPECT_EQ(storage.GetHeaderOffset(), 40000u);
  Bytes data = TextBytes(3000);
  ULONGLONG offset = 0;
  ASSERT_TRUE(storage.CreateBlock(data.data(), 3000, 0, &offset));
  EXPECT_EQ(offset, 40000u + QVS_HEADER_SIZE);
  ASSERT_TRUE(storage.CloseArchive());

  fs::path exe = temp_.path() / "home.exe";
  Bytes file = ReadAll(exe);
  EXPECT_EQ(Qword(file, 28), 40000u);
  EXPECT_EQ(std::string(file.begin() + 40000, file.begin() + 40004), "SQVO");
  EXPECT_EQ(Dword(file, 40000 + 32) & QVS_FLAG_SELFEXTRACTING, QVS_FLAG_SELFEXTRACTING);
  Bytes stub = Stub(40000);
  EXPECT_EQ(Bytes(file.begin() + 36, file.begin() + 40000), Bytes(stub.begin() + 36, stub.end()));

  // Opened as an archive named with "exe"...
  ArchiveDescription asExe(temp_.DrivePath());
  asExe.extension = W("exe");
  asExe.password = W("pw");
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(asExe.get())) << reader.GetError();
  EXPECT_EQ(BlockAt(reader, offset), data);
  reader.CloseArchive();

  // ...and from inside the program, read-only.
  ProgramStorage running(temp_.DrivePath() + W("\\home.exe"));
  EXPECT_FALSE(running.OpenSFX(nullptr, 0, QVT("wrong")));
  EXPECT_EQ(running.GetError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));
  EXPECT_FALSE(running.OpenSFX(nullptr, 0, nullptr));
  EXPECT_EQ(running.GetError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));
  ASSERT_TRUE(running.OpenSFX(nullptr, 0, QVT("pw"))) << running.GetError();
  BYTE* out = nullptr;
  DWORD length = 0;
  HANDLE walk = running.FindFirstDataBlock(&out, &length);
  ASSERT_NE(walk, nullptr);
  EXPECT_EQ(Bytes(out, out + length), data);
  running.DeleteFoundBlockData(out, length);
  running.FindBlockClose(walk);
  EXPECT_FALSE(running.CreateBlock(data.data(), 10, 0));
  EXPECT_TRUE(running.CloseArchive());
  EXPECT_EQ(ReadAll(exe), file);
}

TEST_F(SelfExtractingTest, SplitArchiveIsFoundBesideTheProgram) {
  desc_.get()->ullVolumeSize = 50000;
  CQVStorage storage;
  ASSERT_TRUE(storage.BeginArchive(&desc_.info));
  Bytes data = RandomBytes(4000, 12);
  std::vector<ULONGLONG> offsets;
  for (int i = 0; i < 5; ++i) {
    ULONGLONG offset = 0;
    ASSERT_TRUE(storage.CreateBlock(data.data(), 4000, 0, &offset));
    offsets.push_back(offset);
  }
  ASSERT_TRUE(storage.CloseArchive());
  EXPECT_TRUE(fs::exists(temp_.path() / "home.1.exe"));
  EXPECT_TRUE(fs::exists(temp_.path() / "home.2.QVA"));
  // The program keeps its place; its later volumes are named after it.
  fs::rename(temp_.path() / "home.1.exe", temp_.path() / "setup.exe");
  fs::rename(temp_.path() / "home.2.QVA", temp_.path() / "setup.2.QVA");
  ProgramStorage running(temp_.DrivePath() + W("\\setup.exe"));
  ASSERT_TRUE(running.OpenSFX(nullptr, 0, nullptr)) << running.GetError();
  EXPECT_EQ(U8(running.GetArchiveVolumePath(1)), U8(temp_.DrivePath() + W("\\setup.2.QVA")));
  for (ULONGLONG offset : offsets) EXPECT_EQ(BlockAt(running, offset), data);
  running.CloseArchive();
}

TEST_F(SelfExtractingTest, ProgramWithoutAnArchiveOrTooBigIsRefused) {
  ProgramStorage plain(desc_.stub);
  EXPECT_FALSE(plain.OpenSFX(nullptr, 0, nullptr));
  EXPECT_EQ(plain.GetError(), static_cast<DWORD>(ERROR_BAD_FORMAT));

  desc_.get()->ullVolumeSize = 30000;  // smaller than the program
  CQVStorage storage;
  EXPECT_FALSE(storage.BeginArchive(&desc_.info));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  Bytes notExe = TextBytes(500);
  WriteAll(temp_.path() / "other.bin", notExe);
  CQVStorage marker;
  EXPECT_TRUE(marker.SetHeaderOffset((temp_.DrivePath() + W("\\other.bin")).c_str()));
  EXPECT_EQ(Qword(ReadAll(temp_.path() / "other.bin"), 28), 500u);
}

}  // namespace
}  // namespace qvtest
