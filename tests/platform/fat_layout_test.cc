// FAT structure decoding on hand-made bytes: boot-sector geometry and its
// refusals, short and long names, DOS dates.
#include "fileindex/fat_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/byte_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qv::fat::RawEntry;

using qvtest::Put16;
using qvtest::Put32;

// A FAT16 volume of 40960 sectors: 4 reserved, 2 FATs of 40 sectors, 512
// root entries (32 sectors), 4-sector clusters.
Bytes Fat16Boot() {
  Bytes b(512, 0);
  Put16(b, 11, 512);
  b[13] = 4;
  Put16(b, 14, 4);
  b[16] = 2;
  Put16(b, 17, 512);
  Put16(b, 19, 40960);
  Put16(b, 22, 40);
  return b;
}

// A FAT32 volume of 4096-byte sectors: 8 reserved, 2 FATs of 16 sectors,
// one sector per cluster, root at cluster 2, 100000 sectors.
Bytes Fat32Boot() {
  Bytes b(512, 0);
  Put16(b, 11, 4096);
  b[13] = 1;
  Put16(b, 14, 8);
  b[16] = 2;
  Put32(b, 32, 100000);
  Put32(b, 36, 16);
  Put32(b, 44, 2);
  return b;
}

TEST(FatGeometry, PlacesRegionsForFat16AndFat32) {
  auto g = qv::fat::ParseGeometry(Fat16Boot(), 16);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->clusterBytes, 2048u);
  EXPECT_EQ(g->fatStart, 4u);
  EXPECT_EQ(g->rootStart, 84u);
  EXPECT_EQ(g->rootSectors, 32u);
  EXPECT_EQ(g->dataStart, 116u);
  EXPECT_EQ(g->maxCluster, (40960u - 116u) / 4u + 1u);

  Bytes b = Fat32Boot();
  auto g32 = qv::fat::ParseGeometry(b, 32);
  ASSERT_TRUE(g32);
  EXPECT_EQ(g32->bytesPerSector, 4096u);
  EXPECT_EQ(g32->dataStart, 40u);
  EXPECT_EQ(g32->rootSectors, 0u);
  // 16 sectors of 4096 bytes hold 16384 entries, fewer than the clusters.
  EXPECT_EQ(g32->maxCluster, 16383u);
  // Mirroring off, FAT 1 active: the table is read from the second copy.
  Put16(b, 40, 0x81);
  EXPECT_EQ(qv::fat::ParseGeometry(b, 32)->fatStart, 24u);
  Put16(b, 40, 0x82);  // there is no third FAT
  EXPECT_FALSE(qv::fat::ParseGeometry(b, 32));
}

TEST(FatGeometry, RefusesImpossibleVolumes) {
  auto refuses = [](void (*spoil)(Bytes&), DWORD kind) {
    Bytes b = kind == 32 ? Fat32Boot() : Fat16Boot();
    spoil(b);
    return !qv::fat::ParseGeometry(b, kind);
  };
  EXPECT_TRUE(refuses([](Bytes& b) { Put16(b, 11, 1000); }, 16));     // sector size not a power of 2
  EXPECT_TRUE(refuses([](Bytes& b) { Put16(b, 11, 256); }, 16));      // too small
  EXPECT_TRUE(refuses([](Bytes& b) { b[13] = 3; }, 16));              // cluster not a power of 2
  EXPECT_TRUE(refuses([](Bytes& b) { b[13] = 0; }, 16));
  EXPECT_TRUE(refuses([](Bytes& b) { Put16(b, 14, 0); }, 16));        // no reserved sector
  EXPECT_TRUE(refuses([](Bytes& b) { b[16] = 0; }, 16));              // no FAT
  EXPECT_TRUE(refuses([](Bytes& b) { Put16(b, 22, 0); }, 16));
  EXPECT_TRUE(refuses([](Bytes& b) { Put16(b, 19, 100); }, 16));      // FATs and root past the end
  EXPECT_TRUE(refuses([](Bytes& b) { Put16(b, 17, 0xFFFF); Put16(b, 19, 2000); }, 16));  // root region past it
  EXPECT_TRUE(refuses([](Bytes& b) { Put32(b, 44, 0); }, 32));        // root cluster below 2
  EXPECT_TRUE(refuses([](Bytes& b) { Put32(b, 44, 99999); }, 32));    // root cluster past the last
  EXPECT_TRUE(refuses([](Bytes& b) { Put32(b, 36, 0xFFFFFFFF); }, 32));
  EXPECT_FALSE(qv::fat::ParseGeometry(Fat16Boot(), 1));               // not a FAT kind
  EXPECT_FALSE(qv::fat::ParseGeometry(Bytes(100, 0), 16));            // short sector
}

RawEntry Short(const char* name11, std::uint8_t attributes = 0x20, std::uint8_t caseFlags = 0) {
  RawEntry e{};
  std::memcpy(e.data(), name11, 11);
  e[11] = attributes;
  e[12] = caseFlags;
  return e;
}

// The long-name entries for `name` belonging to `shortEntry`, in disk order.
std::vector<RawEntry> LongEntries(const std::u16string& name, const RawEntry& shortEntry) {
  static const std::size_t at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::size_t parts = (name.size() + 12) / 13;
  std::vector<RawEntry> entries;
  for (std::size_t n = parts; n >= 1; --n) {
    RawEntry e{};
    e[0] = static_cast<std::uint8_t>(n | (n == parts ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = qv::fat::ShortNameChecksum(shortEntry);
    for (std::size_t i = 0; i < 13; ++i) {
      std::size_t p = (n - 1) * 13 + i;
      char16_t c = p < name.size() ? name[p] : p == name.size() ? 0 : 0xFFFF;
      e[at[i]] = static_cast<std::uint8_t>(c);
      e[at[i] + 1] = static_cast<std::uint8_t>(c >> 8);
    }
    entries.push_back(e);
  }
  entries.push_back(shortEntry);
  return entries;
}

TEST(FatNames, ShortNamesTrimAndApplyCaseFlags) {
  EXPECT_EQ(qv::fat::ShortName(Short("README  TXT")), "README.TXT");
  EXPECT_EQ(qv::fat::ShortName(Short("MAKEFILE   ")), "MAKEFILE");
  EXPECT_EQ(qv::fat::ShortName(Short("A B     C  ")), "A B.C");  // inner spaces stay
  EXPECT_EQ(qv::fat::ShortName(Short("README  TXT", 0x20, 0x08)), "readme.TXT");
  EXPECT_EQ(qv::fat::ShortName(Short("README  TXT", 0x20, 0x18)), "readme.txt");
  EXPECT_EQ(qv::fat::ShortName(Short("NOTES1  TX_", 0x20, 0x10)), "NOTES1.tx_");
  EXPECT_EQ(qv::fat::ShortName(Short("\x05" "ABC    TXT")), "\xE5" "ABC.TXT");
}

TEST(FatNames, LongNamesNeedIntactEntries) {
  RawEntry alias = Short("QUARTE~1XLS");
  auto group = LongEntries(u"Quarterly report.xlsx", alias);
  ASSERT_EQ(group.size(), 3u);
  EXPECT_EQ(qv::fat::LongName(group), QVT("Quarterly report.xlsx"));
  // Exactly 13 characters: no terminator, no padding.
  EXPECT_EQ(qv::fat::LongName(LongEntries(u"thirteen_char", alias)), QVT("thirteen_char"));
  EXPECT_EQ(qv::fat::LongName(LongEntries(u"日本語 ß é.txt", alias)), QVT("日本語 ß é.txt"));

  auto wrongSum = group;
  wrongSum[1][13] ^= 1;  // the short entry was replaced by a tool unaware of long names
  EXPECT_TRUE(qv::fat::LongName(wrongSum).empty());
  auto missing = group;
  missing.erase(missing.begin());  // the first entry (with the last-entry mark) lost
  EXPECT_TRUE(qv::fat::LongName(missing).empty());
  auto swapped = group;
  std::swap(swapped[0], swapped[1]);
  EXPECT_TRUE(qv::fat::LongName(swapped).empty());
  EXPECT_TRUE(qv::fat::LongName(std::vector<RawEntry>{alias}).empty());
}

TEST(FatTimes, DosFieldsAndTheirLimits) {
  SYSTEMTIME t;
  // 2023-07-14 13:45:58: date (43 << 9) | (7 << 5) | 14, time (13 << 11) | (45 << 5) | 29.
  ASSERT_TRUE(qv::fat::DosToSystemTime((13 << 11) | (45 << 5) | 29, (43 << 9) | (7 << 5) | 14, &t));
  EXPECT_EQ(t.wYear, 2023);
  EXPECT_EQ(t.wMonth, 7);
  EXPECT_EQ(t.wDay, 14);
  EXPECT_EQ(t.wHour, 13);
  EXPECT_EQ(t.wMinute, 45);
  EXPECT_EQ(t.wSecond, 58);
  EXPECT_EQ(t.wMilliseconds, 0);
  EXPECT_FALSE(qv::fat::DosToSystemTime(0, 0, &t));                           // never set
  EXPECT_FALSE(qv::fat::DosToSystemTime(0, (43 << 9) | (2 << 5) | 30, &t));   // 30 February
  EXPECT_FALSE(qv::fat::DosToSystemTime(24 << 11, (43 << 9) | (1 << 5) | 1, &t));
  EXPECT_FALSE(qv::fat::DosToSystemTime(30, (43 << 9) | (1 << 5) | 1, &t));   // 60 seconds
  // 1980-01-01 is 315532800 s after 1970; midnight, no zone.
  EXPECT_EQ(qv::fat::DosDateTicks((1 << 5) | 1), (315532800ull + 11644473600ull) * 10000000ull);
  EXPECT_EQ(qv::fat::DosDateTicks((44 << 9) | (2 << 5) | 29) % (86400ull * 10000000ull), 0u);  // 2024-02-29
  EXPECT_EQ(qv::fat::DosDateTicks((43 << 9) | (13 << 5) | 1), 0u);
}

}  // namespace
