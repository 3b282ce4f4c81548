// The backup control's metadata table: what goes in comes out, unknown
// fields are skipped, and bytes that are no table are refused without
// reading past them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "control/metadata_table.h"

namespace qvtest {
namespace {

using qv::control::DecodeMetadataTable;
using qv::control::EncodeMetadataTable;
using qv::control::EntryMetadata;
using qv::control::MetadataTable;
using qv::platform::ItemType;

MetadataTable Sample() {
  MetadataTable table;
  EntryMetadata file;
  file.item.type = ItemType::kFile;
  file.item.mode = 04755;
  file.item.uid = 1000;
  file.item.gid = 100;
  file.item.user = "alice";
  file.item.group = "users";
  file.item.modifiedSeconds = -86400;  // before 1970
  file.item.modifiedNanoseconds = 999999999;
  file.item.accessedSeconds = 1700000000;
  file.item.accessedNanoseconds = 1;
  file.item.attributes = {{"user.comment", {'h', 'i'}}, {"security.capability", {0, 1, 2, 0, 255}},
                          {"user.empty", {}}};
  table[86] = file;
  EntryMetadata link;
  link.item.type = ItemType::kSymbolicLink;
  link.item.mode = 0777;
  link.item.linkTarget = std::string("../a b/\xff\x01name", 14);
  table[400] = link;
  EntryMetadata other;
  other.item.type = ItemType::kFile;
  other.item.mode = 0600;
  other.sameFileAs = 86;
  table[512] = other;
  EntryMetadata folder;
  folder.item.type = ItemType::kFolder;
  folder.item.mode = 01777;
  table[1024] = folder;
  return table;
}

void ExpectSame(const EntryMetadata& a, const EntryMetadata& b) {
  EXPECT_EQ(a.item.type, b.item.type);
  EXPECT_EQ(a.item.mode, b.item.mode);
  EXPECT_EQ(a.item.uid, b.item.uid);
  EXPECT_EQ(a.item.gid, b.item.gid);
  EXPECT_EQ(a.item.user, b.item.user);
  EXPECT_EQ(a.item.group, b.item.group);
  EXPECT_EQ(a.item.modifiedSeconds, b.item.modifiedSeconds);
  EXPECT_EQ(a.item.modifiedNanoseconds, b.item.modifiedNanoseconds);
  EXPECT_EQ(a.item.accessedSeconds, b.item.accessedSeconds);
  EXPECT_EQ(a.item.accessedNanoseconds, b.item.accessedNanoseconds);
  EXPECT_EQ(a.item.linkTarget, b.item.linkTarget);
  EXPECT_EQ(a.sameFileAs, b.sameFileAs);
  ASSERT_EQ(a.item.attributes.size(), b.item.attributes.size());
  for (std::size_t i = 0; i < a.item.attributes.size(); ++i) {
    EXPECT_EQ(a.item.attributes[i].name, b.item.attributes[i].name);
    EXPECT_EQ(a.item.attributes[i].value, b.item.attributes[i].value);
  }
}

TEST(MetadataTableTest, EveryFieldComesBackAsItWent) {
  const MetadataTable table = Sample();
  const std::vector<BYTE> bytes = EncodeMetadataTable(table);
  ASSERT_GE(bytes.size(), 12u);
  EXPECT_EQ(std::memcmp(bytes.data(), "QVMT\x01\x00\x00\x00\x04\x00\x00\x00", 12), 0);
  MetadataTable decoded;
  ASSERT_TRUE(DecodeMetadataTable(bytes.data(), bytes.size(), &decoded));
  ASSERT_EQ(decoded.size(), table.size());
  for (const auto& [entry, metadata] : table) {
    SCOPED_TRACE(entry);
    ASSERT_EQ(decoded.count(entry), 1u);
    ExpectSame(decoded.at(entry), metadata);
  }
  MetadataTable empty;
  const std::vector<BYTE> none = EncodeMetadataTable(empty);
  EXPECT_EQ(none.size(), 12u);
  EXPECT_TRUE(DecodeMetadataTable(none.data(), none.size(), &decoded));
  EXPECT_TRUE(decoded.empty());
}

TEST(MetadataTableTest, FieldsOfALaterVersionAreSkipped) {
  MetadataTable table;
  table[86] = Sample().at(86);
  std::vector<BYTE> bytes = EncodeMetadataTable(table);
  // A field of type 77 with 3 bytes, appended to the one record.
  const BYTE field[] = {77, 0, 3, 0, 0, 0, 'x', 'y', 'z'};
  bytes.insert(bytes.end(), field, field + sizeof(field));
  bytes[16] = static_cast<BYTE>(bytes[16] + sizeof(field));  // the record's field bytes (low byte)
  MetadataTable decoded;
  ASSERT_TRUE(DecodeMetadataTable(bytes.data(), bytes.size(), &decoded));
  ExpectSame(decoded.at(86), table.at(86));
}

TEST(MetadataTableTest, BytesThatAreNoTableAreRefused) {
  const std::vector<BYTE> good = EncodeMetadataTable(Sample());
  MetadataTable decoded;
  // Cut anywhere: refused, never read past the end (ASan would tell).
  for (std::size_t length = 0; length < good.size(); ++length) {
    std::vector<BYTE> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    SetLastError(0);
    EXPECT_FALSE(DecodeMetadataTable(cut.data(), cut.size(), &decoded)) << length;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << length;
  }
  auto refused = [&](std::vector<BYTE> bytes) { return !DecodeMetadataTable(bytes.data(), bytes.size(), &decoded); };
  std::vector<BYTE> bytes = good;
  bytes[0] = 'X';
  EXPECT_TRUE(refused(bytes)) << "magic";
  bytes = good;
  bytes[4] = 2;
  EXPECT_TRUE(refused(bytes)) << "version";
  bytes = good;
  bytes[8] = 5;
  EXPECT_TRUE(refused(bytes)) << "more records than there are";
  bytes = good;
  bytes[8] = 3;
  EXPECT_TRUE(refused(bytes)) << "bytes after the last record";
  bytes = good;
  bytes.push_back(0);
  EXPECT_TRUE(refused(bytes)) << "trailing byte";
  bytes = good;
  bytes[19] = 0x80;  // the first record's field bytes (high byte): past the end
  EXPECT_TRUE(refused(bytes)) << "record length";
  bytes = good;
  bytes[25] = 0x80;  // the first field's length (high byte): past its record
  EXPECT_TRUE(refused(bytes)) << "field length";
  // Two records for one entry.
  MetadataTable one;
  one[86] = Sample().at(86);
  std::vector<BYTE> twice = EncodeMetadataTable(one);
  twice.insert(twice.end(), twice.begin() + 12, twice.end());
  twice[8] = 2;
  EXPECT_TRUE(refused(twice)) << "an entry twice";
  // A time whose nanoseconds are a second or more.
  MetadataTable late;
  late[90].item.modifiedNanoseconds = 999999999;
  std::vector<BYTE> lateBytes = EncodeMetadataTable(late);
  const std::vector<BYTE> nines = {0xFF, 0xC9, 0x9A, 0x3B};  // 999999999
  auto at = std::search(lateBytes.begin(), lateBytes.end(), nines.begin(), nines.end());
  ASSERT_NE(at, lateBytes.end());
  at[0] = 0x00;
  at[1] = 0xCA;  // 1000000000
  EXPECT_TRUE(refused(lateBytes)) << "nanoseconds";
  EXPECT_FALSE(DecodeMetadataTable(nullptr, 0, &decoded));
}

}  // namespace
}  // namespace qvtest
