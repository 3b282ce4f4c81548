// NTFS structure decoding on hand-made bytes: run lists with signed deltas
// and holes, the update-sequence fix-up, the attribute walk, and the
// malformed forms each must refuse.
#include "fileindex/ntfs_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/byte_writer.h"

namespace {

using Runs = std::vector<qv::ntfs::Run>;
using Bytes = std::vector<std::uint8_t>;

using qvtest::Put16;
using qvtest::Put32;

TEST(NtfsRunList, DecodesSignedDeltasAndHoles) {
  // 0x30 clusters at 0x1000; a hole of 0x10; 0x08 at 0x1000-0x200 (negative
  // delta); 0x100 at +0x123456.
  const Bytes list = {0x21, 0x30, 0x00, 0x10, 0x01, 0x10, 0x21, 0x08, 0x00,
                      0xFE, 0x32, 0x00, 0x01, 0x56, 0x34, 0x12, 0x00};
  Runs runs;
  ASSERT_TRUE(qv::ntfs::DecodeRuns(list, 5, &runs));
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].vcn, 5u);
  EXPECT_EQ(runs[0].lcn, 0x1000u);
  EXPECT_EQ(runs[0].length, 0x30u);
  EXPECT_TRUE(runs[1].sparse);
  EXPECT_EQ(runs[1].vcn, 0x35u);
  EXPECT_EQ(runs[2].lcn, 0xE00u);
  EXPECT_FALSE(runs[2].sparse);
  EXPECT_EQ(runs[3].lcn, 0xE00u + 0x123456u);
  EXPECT_EQ(runs[3].vcn, 0x4Du);

  std::uint64_t contiguous = 0;
  bool sparse = false;
  EXPECT_EQ(qv::ntfs::MapVcn(runs, 0x36, &contiguous, &sparse), 0u);
  EXPECT_TRUE(sparse);
  EXPECT_EQ(contiguous, 0xFu);
  EXPECT_EQ(qv::ntfs::MapVcn(runs, 0x4F, &contiguous, &sparse), 0xE00u + 0x123456u + 2);
  EXPECT_FALSE(sparse);
  EXPECT_EQ(contiguous, 0xFEu);
  EXPECT_FALSE(qv::ntfs::MapVcn(runs, 4, &contiguous, &sparse).has_value());
  EXPECT_FALSE(qv::ntfs::MapVcn(runs, 0x4D + 0x100, &contiguous, &sparse).has_value());
}

TEST(NtfsRunList, RefusesMalformedLists) {
  Runs runs;
  const std::vector<Bytes> bad = {
      {0x21, 0x30, 0x00, 0x10},              // no terminating zero
      {0x21, 0x30},                          // fields cut short
      {0x21, 0x00, 0x00, 0x10, 0x00},        // zero length
      {0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00},  // delta wider than 8 bytes
      {0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00},        // length wider than 8 bytes
      {0x11, 0x01, 0xF0, 0x00},              // first LCN negative
      {0x11, 0x01, 0x10, 0x11, 0x01, 0xE0, 0x00},  // goes below cluster 0
  };
  for (const auto& list : bad) EXPECT_FALSE(qv::ntfs::DecodeRuns(list, 0, &runs)) << list.size();
  // A length that would carry the VCN past 2^64.
  const Bytes huge = {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  EXPECT_FALSE(qv::ntfs::DecodeRuns(huge, 1, &runs));
  EXPECT_TRUE(qv::ntfs::DecodeRuns(Bytes{0x00}, 0, &runs));
  EXPECT_TRUE(runs.empty());
}

// A 1024-byte record: header, one resident $DATA named "ab", end marker.
Bytes MakeRecord() {
  Bytes r(1024, 0);
  Put32(r, 0, 0x454C4946);
  Put16(r, 4, 48);   // update sequence array
  Put16(r, 6, 3);    // sequence + 2 strides
  Put16(r, 20, 56);  // first attribute
  Put16(r, 22, 1);   // in use
  Put32(r, 24, 56 + 40 + 8);
  Put16(r, 48, 0x0007);  // sequence number
  Put16(r, 50, 0xAAAA);  // saved bytes of stride 1
  Put16(r, 52, 0xBBBB);  // saved bytes of stride 2
  Put16(r, 510, 0x0007);
  Put16(r, 1022, 0x0007);
  Put32(r, 56 + 0, 0x80);
  Put32(r, 56 + 4, 40);
  r[56 + 9] = 1;  // name length
  Put16(r, 56 + 10, 24);
  Put32(r, 56 + 16, 5);
  Put16(r, 56 + 20, 32);
  Put16(r, 56 + 24, 'a');
  Put32(r, 56 + 40, 0xFFFFFFFF);
  return r;
}

TEST(NtfsRecord, FixupRestoresTheSavedBytesAndChecksEveryStride) {
  Bytes record = MakeRecord();
  ASSERT_TRUE(qv::ntfs::ApplyFixup(record, qv::ntfs::kFileSignature));
  EXPECT_EQ(qv::ntfs::Le16(record, 510), 0xAAAA);
  EXPECT_EQ(qv::ntfs::Le16(record, 1022), 0xBBBB);

  Bytes torn = MakeRecord();
  torn[1023] ^= 1;
  EXPECT_FALSE(qv::ntfs::ApplyFixup(torn, qv::ntfs::kFileSignature));
  Bytes wrongCount = MakeRecord();
  Put16(wrongCount, 6, 2);
  EXPECT_FALSE(qv::ntfs::ApplyFixup(wrongCount, qv::ntfs::kFileSignature));
  Bytes arrayOutside = MakeRecord();
  Put16(arrayOutside, 4, 508);
  EXPECT_FALSE(qv::ntfs::ApplyFixup(arrayOutside, qv::ntfs::kFileSignature));
  Bytes oddArray = MakeRecord();
  Put16(oddArray, 4, 49);
  EXPECT_FALSE(qv::ntfs::ApplyFixup(oddArray, qv::ntfs::kFileSignature));
  Bytes index = MakeRecord();
  EXPECT_FALSE(qv::ntfs::ApplyFixup(index, 0x58444E49));
}

TEST(NtfsRecord, TheWalkFindsNamedAttributesAndRefusesOverruns) {
  Bytes record = MakeRecord();
  ASSERT_TRUE(qv::ntfs::ApplyFixup(record, qv::ntfs::kFileSignature));
  int seen = 0;
  EXPECT_TRUE(qv::ntfs::ForEachAttribute(record, [&](const qv::ntfs::AttributeView& a) {
    ++seen;
    EXPECT_EQ(a.type, 0x80u);
    EXPECT_EQ(a.name.size(), 2u);
    EXPECT_EQ(a.value.size(), 5u);
    return true;
  }));
  EXPECT_EQ(seen, 1);
  // Named, so no unnamed $DATA.
  EXPECT_FALSE(qv::ntfs::FindUnnamedAttribute(record, qv::ntfs::kAttrData).has_value());

  Bytes longAttribute = record;
  Put32(longAttribute, 56 + 4, 0x10000);
  EXPECT_FALSE(qv::ntfs::ForEachAttribute(longAttribute, [](const auto&) { return true; }));
  Bytes valueOutside = record;
  Put32(valueOutside, 56 + 16, 9);  // value runs past the attribute
  EXPECT_FALSE(qv::ntfs::ForEachAttribute(valueOutside, [](const auto&) { return true; }));
  Bytes usedTooLarge = record;
  Put32(usedTooLarge, 24, 2048);
  EXPECT_FALSE(qv::ntfs::ForEachAttribute(usedTooLarge, [](const auto&) { return true; }));
  Bytes noEnd = record;
  Put32(noEnd, 56 + 40, 0);  // a zero-length attribute instead of the end
  EXPECT_FALSE(qv::ntfs::ForEachAttribute(noEnd, [](const auto&) { return true; }));
}

TEST(NtfsBootSector, RefusesImpossibleGeometry) {
  Bytes boot(512, 0);
  std::copy_n("NTFS    ", 8, boot.begin() + 3);
  Put16(boot, 11, 512);
  boot[13] = 8;
  boot[64] = 0xF6;  // 2^10-byte records
  auto parsed = qv::ntfs::ParseBootSector(boot);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->bytesPerCluster, 4096u);
  EXPECT_EQ(parsed->bytesPerFileRecord, 1024u);
  boot[64] = 1;  // one cluster per record
  EXPECT_EQ(qv::ntfs::ParseBootSector(boot)->bytesPerFileRecord, 4096u);

  Bytes oddSector = boot;
  Put16(oddSector, 11, 500);
  EXPECT_FALSE(qv::ntfs::ParseBootSector(oddSector).has_value());
  Bytes zeroCluster = boot;
  zeroCluster[13] = 0;
  EXPECT_FALSE(qv::ntfs::ParseBootSector(zeroCluster).has_value());
  Bytes tinyRecord = boot;
  tinyRecord[64] = 0xF7;  // 512 bytes: one fix-up stride
  EXPECT_TRUE(qv::ntfs::ParseBootSector(tinyRecord).has_value());
  tinyRecord[64] = 0xF8;  // 256 bytes: too small for a fix-up stride
  EXPECT_FALSE(qv::ntfs::ParseBootSector(tinyRecord).has_value());
  Bytes fat = boot;
  std::copy_n("MSDOS5.0", 8, fat.begin() + 3);
  EXPECT_FALSE(qv::ntfs::ParseBootSector(fat).has_value());
  EXPECT_FALSE(qv::ntfs::ParseBootSector(std::span(boot).first(100)).has_value());
}

}  // namespace
