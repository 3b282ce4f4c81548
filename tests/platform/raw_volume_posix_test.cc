// The raw volume on POSIX and its answers to the NTFS control codes, checked
// against images made by mkntfs and ntfs-3g (tests/data/ntfs/make_images.sh)
// and against what sleuthkit's fls and istat say about the same images.
#include "platform/raw_volume.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "fileindex/ntfs_layout.h"
#include "platform/posix/drive_map.h"

namespace {

using qv::platform::OpenRawVolume;
using qv::platform::RawVolume;
using Bytes = std::vector<std::uint8_t>;

constexpr WCHAR kLetter = u'N';
const std::filesystem::path kDataDir = std::filesystem::path(QV_TEST_DATA_DIR) / "ntfs";

Bytes Gunzip(const std::filesystem::path& path) {
  Bytes bytes;
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  std::uint8_t chunk[65536];
  int count;
  while ((count = gzread(file, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + count);
  gzclose(file);
  return bytes;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The content make_images.sh writes: byte i of a file with seed S.
std::uint8_t PatternByte(unsigned seed, std::uint64_t i) {
  return static_cast<std::uint8_t>(seed + 13 * i + (i >> 9));
}

std::uint64_t Le(const BYTE* p, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value |= std::uint64_t{p[i]} << (8 * i);
  return value;
}

// fls body-file lines: path -> record number, and the deleted names' records.
struct Listing {
  std::map<std::string, std::uint64_t> live;
  std::map<std::string, std::uint64_t> deleted;
  std::map<std::string, std::uint64_t> sizes;  // of the unnamed data
};

Listing ParseFls(const std::string& text) {
  Listing listing;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    std::string field;
    while (std::getline(split, field, '|')) fields.push_back(field);
    if (fields.size() < 7 || fields[1].find("($FILE_NAME)") != std::string::npos) continue;
    // sleuthkit's own folder for records no folder names, not on the volume.
    if (fields[1].starts_with("/$OrphanFiles")) continue;
    std::uint64_t record = std::stoull(fields[2]);
    std::string path = fields[1];
    const std::string deletedMark = " (deleted)";
    if (path.size() > deletedMark.size() && path.ends_with(deletedMark)) {
      listing.deleted[path.substr(0, path.size() - deletedMark.size())] = record;
    } else {
      listing.live[path] = record;
      if (fields[2].find("-128-") != std::string::npos) listing.sizes[path] = std::stoull(fields[6]);
    }
  }
  return listing;
}

// istat's cluster list of `path` (0 for a hole), from the committed text.
std::vector<std::uint64_t> IstatClusters(const std::string& text, const std::string& path) {
  std::vector<std::uint64_t> clusters;
  auto start = text.find("### " + path + "\n");
  if (start == std::string::npos) return clusters;
  auto end = text.find("### ", start + 4);
  std::istringstream lines(text.substr(start, end == std::string::npos ? end : end - start));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line.find_first_not_of("0123456789 ") != std::string::npos) continue;
    std::istringstream numbers(line);
    std::uint64_t cluster;
    while (numbers >> cluster) clusters.push_back(cluster);
  }
  return clusters;
}

struct ImageCase {
  const char* name;
  DWORD sector;
  DWORD record;
};

void PrintTo(const ImageCase& image, std::ostream* out) { *out << image.name; }

class RawVolumeImageTest : public ::testing::TestWithParam<ImageCase> {
 protected:
  void SetUp() override {
    image_ = Gunzip(kDataDir / (std::string(GetParam().name) + ".img.gz"));
    ASSERT_EQ(image_.size(), 16u << 20);
    listing_ = ParseFls(ReadText(kDataDir / (std::string(GetParam().name) + ".fls.txt")));
    ASSERT_GT(listing_.live.size(), 30u);
    boot_ = *qv::ntfs::ParseBootSector(std::span(image_).first(512));
    istat_ = ReadText(kDataDir / (std::string(GetParam().name) + ".istat.txt"));
  }
  void TearDown() override { qv::platform::posix::SetDriveMapping(kLetter, "", ""); }

  // Writes `bytes` as the image of drive N: and opens it raw.
  std::unique_ptr<RawVolume> Mount(const Bytes& bytes) {
    auto path = dir_.path() / "volume.img";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(qv::platform::posix::SetDriveMapping(kLetter, "", path.string()));
    return OpenRawVolume(kLetter);
  }

  // GetNtfsFileRecord: the number found (-1 on failure, last error kept).
  static LONGLONG Lookup(RawVolume& volume, LONGLONG number, Bytes* record = nullptr) {
    Bytes out(12 + 4096);
    DWORD returned = 0;
    if (!volume.GetNtfsFileRecord(number, out.data(), static_cast<DWORD>(out.size()), &returned)) {
      return -1;
    }
    EXPECT_EQ(returned, 12 + Le(&out[8], 4));
    if (record != nullptr) record->assign(out.begin() + 12, out.begin() + returned);
    return static_cast<LONGLONG>(Le(out.data(), 8));
  }

  // Where record `n` lies in the image: the $MFT is in one piece (checked
  // against sleuthkit in VolumeDataComesFromTheBootSectorAndTheMft).
  std::size_t RawRecordOffset(std::uint64_t n) const {
    return boot_.mftLcn * boot_.bytesPerCluster + n * boot_.bytesPerFileRecord;
  }

  // Reads a file's unnamed data through its decoded runs and compares it
  // with the generated content; returns the runs.
  std::vector<qv::ntfs::Run> CheckContent(RawVolume& volume, const std::string& path,
                                          unsigned seed, std::uint64_t dataStart,
                                          std::uint64_t dataEnd) {
    Bytes record;
    EXPECT_EQ(Lookup(volume, static_cast<LONGLONG>(listing_.live.at(path)), &record),
              static_cast<LONGLONG>(listing_.live.at(path)));
    auto data = qv::ntfs::FindUnnamedAttribute(record, qv::ntfs::kAttrData);
    std::vector<qv::ntfs::Run> runs;
    if (!data || !data->nonResident) {
      ADD_FAILURE() << path << " has no non-resident data";
      return runs;
    }
    EXPECT_TRUE(qv::ntfs::DecodeRuns(data->value, data->firstVcn, &runs));
    const std::uint64_t cluster = boot_.bytesPerCluster;
    Bytes bytes(cluster);
    std::size_t mismatches = 0;
    for (const auto& run : runs) {
      for (std::uint64_t c = 0; c < run.length; ++c) {
        std::uint64_t fileOffset = (run.vcn + c) * cluster;
        if (fileOffset >= data->dataSize) break;
        std::fill(bytes.begin(), bytes.end(), 0);
        DWORD read = 0;
        if (!run.sparse) {
          EXPECT_TRUE(volume.Read((run.lcn + c) * cluster, bytes.data(), cluster, &read));
        }
        for (std::uint64_t i = 0; i < cluster && fileOffset + i < data->dataSize; ++i) {
          std::uint64_t at = fileOffset + i;
          std::uint8_t expected = at >= dataStart && at < dataEnd ? PatternByte(seed, at) : 0;
          mismatches += bytes[i] != expected;
        }
      }
    }
    EXPECT_EQ(mismatches, 0u) << path;
    return runs;
  }

  qvtest::TempDir dir_;
  Bytes image_;
  Listing listing_;
  std::string istat_;
  qv::ntfs::BootSector boot_;
};

TEST_P(RawVolumeImageTest, VolumeDataComesFromTheBootSectorAndTheMft) {
  auto volume = Mount(image_);
  ASSERT_NE(volume, nullptr);
  BYTE data[qv::platform::kNtfsVolumeDataSize];
  ASSERT_TRUE(volume->GetNtfsVolumeData(data));
  const auto& image = GetParam();
  EXPECT_EQ(Le(data + 0, 8), 0x1122334455667788u);  // set by make_images.sh
  // mkntfs leaves the last sector for the boot sector's copy.
  EXPECT_EQ(Le(data + 8, 8), (16u << 20) / image.sector - 1);
  EXPECT_EQ(Le(data + 16, 8), ((16u << 20) / image.sector - 1) / (4096 / image.sector));
  EXPECT_EQ(Le(data + 40, 4), image.sector);
  EXPECT_EQ(Le(data + 44, 4), 4096u);
  EXPECT_EQ(Le(data + 48, 4), image.record);
  EXPECT_EQ(Le(data + 52, 4), image.record / 4096);
  EXPECT_EQ(Le(data + 56, 8), listing_.sizes.at("/$MFT"));
  EXPECT_EQ(Le(data + 64, 8), Le(&image_[48], 8));
  EXPECT_EQ(Le(data + 72, 8), Le(&image_[56], 8));
  // sleuthkit places the $MFT in one piece from that cluster on, which the
  // tests below rely on to find records in the image without our decoder.
  auto mft = IstatClusters(istat_, "/$MFT");
  const std::uint64_t clusters = (Le(data + 56, 8) + 4095) / 4096;
  ASSERT_GE(mft.size(), clusters);
  for (std::uint64_t i = 0; i < clusters; ++i) ASSERT_EQ(mft[i], Le(data + 64, 8) + i) << i;
}

TEST_P(RawVolumeImageTest, EveryListedRecordIsFoundUnderItsOwnNumber) {
  auto volume = Mount(image_);
  ASSERT_NE(volume, nullptr);
  Bytes record;
  ASSERT_EQ(Lookup(*volume, 0, &record), 0);
  EXPECT_EQ(std::string(record.begin(), record.begin() + 4), "FILE");
  ASSERT_EQ(Lookup(*volume, 5, &record), 5);
  EXPECT_EQ(Le(&record[22], 2) & 3, 3u);  // in use, a folder
  for (const auto& [path, number] : listing_.live) {
    EXPECT_EQ(Lookup(*volume, static_cast<LONGLONG>(number), &record),
              static_cast<LONGLONG>(number)) << path;
    EXPECT_EQ(record.size(), GetParam().record);
    // The fix-up is undone: the bytes at each stride end are the saved ones.
    EXPECT_EQ(Le(&record[22], 2) & 1, 1u) << path;
  }
}

TEST_P(RawVolumeImageTest, RecordsAreTheImagesBytesWithTheFixupUndone) {
  auto volume = Mount(image_);
  ASSERT_NE(volume, nullptr);
  Bytes record;
  std::uint64_t number = listing_.live.at("/large.bin");
  ASSERT_EQ(Lookup(*volume, static_cast<LONGLONG>(number), &record), static_cast<LONGLONG>(number));
  const BYTE* raw = &image_[RawRecordOffset(number)];
  std::size_t usa = Le(raw + 4, 2);
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (i % 512 == 510) {
      std::size_t stride = i / 512 + 1;
      EXPECT_EQ(record[i], raw[usa + 2 * stride]) << i;
      EXPECT_EQ(record[i + 1], raw[usa + 2 * stride + 1]) << i;
      ++i;
    } else {
      ASSERT_EQ(record[i], raw[i]) << i;
    }
  }
}

TEST_P(RawVolumeImageTest, FreeRecordsGiveTheNextLowerRecordInUse) {
  auto volume = Mount(image_);
  ASSERT_NE(volume, nullptr);
  ASSERT_FALSE(listing_.deleted.empty());
  for (const auto& [path, number] : listing_.deleted) {
    if (listing_.live.count(path) != 0) continue;  // the name came back
    std::uint64_t expected = number;
    while (expected > 0 && (Le(&image_[RawRecordOffset(expected) + 22], 2) & 1) == 0) --expected;
    EXPECT_LT(expected, number) << path;
    EXPECT_EQ(Lookup(*volume, static_cast<LONGLONG>(number)), static_cast<LONGLONG>(expected))
        << path;
  }
  // Beyond the MFT's end: its last record in use.
  LONGLONG last = Lookup(*volume, 1 << 30);
  EXPECT_GT(last, 0);
  EXPECT_EQ(Lookup(*volume, last), last);
  for (const auto& [path, number] : listing_.live) EXPECT_LE(static_cast<LONGLONG>(number), last);
}

TEST_P(RawVolumeImageTest, BadRequestsFailWithWindowsErrors) {
  auto volume = Mount(image_);
  ASSERT_NE(volume, nullptr);
  SetLastError(0);
  EXPECT_EQ(Lookup(*volume, -1), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  Bytes small(12 + GetParam().record - 1);
  DWORD returned = 7;
  EXPECT_FALSE(volume->GetNtfsFileRecord(5, small.data(), static_cast<DWORD>(small.size()), &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(returned, 0u);
}

TEST_P(RawVolumeImageTest, ARecordWithABrokenFixupIsSkipped) {
  Bytes damaged = image_;
  std::uint64_t number = listing_.live.at("/small.txt");
  // The last stride's check bytes no longer match the sequence number.
  damaged[RawRecordOffset(number) + GetParam().record - 1] ^= 0x40;
  auto volume = Mount(damaged);
  ASSERT_NE(volume, nullptr);
  LONGLONG found = Lookup(*volume, static_cast<LONGLONG>(number));
  EXPECT_LT(found, static_cast<LONGLONG>(number));
  EXPECT_GE(found, 0);
  EXPECT_EQ(Lookup(*volume, static_cast<LONGLONG>(number) + 1), static_cast<LONGLONG>(number) + 1);
}

TEST_P(RawVolumeImageTest, ADamagedMftRecordMeansNoNtfsVolume) {
  Bytes damaged = image_;
  damaged[RawRecordOffset(0) + 510] ^= 0x01;
  auto volume = Mount(damaged);
  ASSERT_NE(volume, nullptr);
  BYTE data[qv::platform::kNtfsVolumeDataSize];
  EXPECT_FALSE(volume->GetNtfsVolumeData(data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(Lookup(*volume, 5), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
}

TEST_P(RawVolumeImageTest, DecodedRunsFindTheFilesContentWhereSleuthkitSaysItIs) {
  auto volume = Mount(image_);
  ASSERT_NE(volume, nullptr);
  const std::string& istat = istat_;
  auto clustersOf = [](const std::vector<qv::ntfs::Run>& runs) {
    std::vector<std::uint64_t> clusters;
    for (const auto& run : runs) {
      for (std::uint64_t c = 0; c < run.length; ++c) clusters.push_back(run.sparse ? 0 : run.lcn + c);
    }
    return clusters;
  };
  auto large = CheckContent(*volume, "/large.bin", 3, 0, 1u << 20);
  EXPECT_EQ(clustersOf(large), IstatClusters(istat, "/large.bin"));
  auto fragmented = CheckContent(*volume, "/fragmented.bin", 11, 0, 1u << 20);
  EXPECT_GE(fragmented.size(), 3u);
  EXPECT_EQ(clustersOf(fragmented), IstatClusters(istat, "/fragmented.bin"));
  auto sparse = CheckContent(*volume, "/sparse.bin", 13, 2u << 20, (2u << 20) + 8192);
  EXPECT_TRUE(std::any_of(sparse.begin(), sparse.end(), [](const auto& run) { return run.sparse; }));
  EXPECT_EQ(clustersOf(sparse), IstatClusters(istat, "/sparse.bin"));
}

TEST_P(RawVolumeImageTest, ASmallFilesDataStaysInItsRecord) {
  auto volume = Mount(image_);
  ASSERT_NE(volume, nullptr);
  Bytes record;
  Lookup(*volume, static_cast<LONGLONG>(listing_.live.at("/small.txt")), &record);
  auto data = qv::ntfs::FindUnnamedAttribute(record, qv::ntfs::kAttrData);
  ASSERT_TRUE(data.has_value());
  ASSERT_FALSE(data->nonResident);
  ASSERT_EQ(data->value.size(), 600u);
  for (std::size_t i = 0; i < 600; ++i) ASSERT_EQ(data->value[i], PatternByte(2, i)) << i;
}

// Corrupted copies of the MFT must give failures or records, never reads
// outside a buffer (the sanitizer build checks that).
TEST_P(RawVolumeImageTest, CorruptedMftsNeverCrash) {
  std::mt19937 random(1234);
  const std::size_t mft = RawRecordOffset(0);
  const std::size_t span = 128 * GetParam().record;
  for (int round = 0; round < 40; ++round) {
    Bytes damaged = image_;
    for (int flip = 0; flip < 200; ++flip) {
      damaged[mft + random() % span] = static_cast<std::uint8_t>(random());
    }
    auto volume = Mount(damaged);
    ASSERT_NE(volume, nullptr);
    BYTE data[qv::platform::kNtfsVolumeDataSize];
    volume->GetNtfsVolumeData(data);
    for (LONGLONG n = 0; n < 130; n += 3) {
      Bytes record;
      if (Lookup(*volume, n, &record) < 0) continue;
      std::vector<qv::ntfs::Run> runs;
      qv::ntfs::ForEachAttribute(record, [&](const qv::ntfs::AttributeView& attribute) {
        if (attribute.nonResident) qv::ntfs::DecodeRuns(attribute.value, attribute.firstVcn, &runs);
        return true;
      });
    }
  }
}

TEST_P(RawVolumeImageTest, ATruncatedImageFailsCleanly) {
  Bytes cut(image_.begin(), image_.begin() + RawRecordOffset(0) + 2 * GetParam().record);
  auto volume = Mount(cut);
  ASSERT_NE(volume, nullptr);
  Bytes record;
  EXPECT_EQ(Lookup(*volume, 0, &record), 0);
  // Record 5 lies past the end of the image: nothing at or below it but 0.
  EXPECT_LE(Lookup(*volume, 5), 1);
  BYTE buffer[100];
  DWORD read = 5;
  EXPECT_TRUE(volume->Read(cut.size() - 10, buffer, sizeof buffer, &read));
  EXPECT_EQ(read, 10u);
}

INSTANTIATE_TEST_SUITE_P(Images, RawVolumeImageTest,
                         ::testing::Values(ImageCase{"ntfs1k", 512, 1024},
                                           ImageCase{"ntfs4k", 4096, 4096}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RawVolumeOpen, ALetterWithoutADeviceDoesNotOpen) {
  ASSERT_TRUE(qv::platform::posix::SetDriveMapping(u'Q', "/", ""));
  SetLastError(0);
  EXPECT_EQ(OpenRawVolume(u'Q'), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenRawVolume(u'1'), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(qv::platform::posix::SetDriveMapping(u'Q', "", "/nonexistent/volume.img"));
  EXPECT_EQ(OpenRawVolume(u'Q'), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  qv::platform::posix::SetDriveMapping(u'Q', "", "");
}

TEST(RawVolumeOpen, AVolumeThatIsNotNtfsAnswersNoControlCode) {
  qvtest::TempDir dir;
  auto path = dir.WriteFile("plain.img", 1 << 16);
  ASSERT_TRUE(qv::platform::posix::SetDriveMapping(u'Q', "", path.string()));
  auto volume = OpenRawVolume(u'q');
  ASSERT_NE(volume, nullptr);
  BYTE data[qv::platform::kNtfsVolumeDataSize];
  EXPECT_FALSE(volume->GetNtfsVolumeData(data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  BYTE first[3] = {};
  DWORD read = 0;
  EXPECT_TRUE(volume->Read(1, first, 3, &read));
  EXPECT_EQ(read, 3u);
  std::ifstream in(path, std::ios::binary);
  char expected[4];
  in.read(expected, 4);
  EXPECT_EQ(0, std::memcmp(first, expected + 1, 3));
  qv::platform::posix::SetDriveMapping(u'Q', "", "");
}

}  // namespace
