#include "control/metadata_table.h"

#include <cstring>
#include <string>

namespace qv::control {

namespace {

constexpr char kMagic[4] = {'Q', 'V', 'M', 'T'};
constexpr WORD kVersion = 1;
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kRecordHead = 8;
constexpr std::size_t kFieldHead = 6;

enum FieldType : WORD {
  kTypeAndMode = 1,
  kOwner = 2,
  kUserName = 3,
  kGroupName = 4,
  kModified = 5,
  kAccessed = 6,
  kLinkTarget = 7,
  kSameFileAs = 8,
  kExtendedAttribute = 9,
};

class Writer {
 public:
  explicit Writer(std::vector<BYTE>* out) : out_(*out) {}
  void Word(WORD value) { Put(value, 2); }
  void Dword(DWORD value) { Put(value, 4); }
  void Qword(ULONGLONG value) { Put(value, 8); }
  void Bytes(const void* data, std::size_t length) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    out_.insert(out_.end(), bytes, bytes + length);
  }
  // A field: its head, then what `body` writes; the length is filled in.
  template <typename Body>
  void Field(WORD type, Body body) {
    Word(type);
    const std::size_t lengthAt = out_.size();
    Dword(0);
    const std::size_t start = out_.size();
    body();
    PutAt(lengthAt, out_.size() - start, 4);
  }
  std::size_t size() const { return out_.size(); }
  void PutAt(std::size_t at, ULONGLONG value, int width) {
    for (int i = 0; i < width; ++i) out_[at + i] = static_cast<BYTE>(value >> (8 * i));
  }

 private:
  void Put(ULONGLONG value, int width) {
    for (int i = 0; i < width; ++i) out_.push_back(static_cast<BYTE>(value >> (8 * i)));
  }
  std::vector<BYTE>& out_;
};

ULONGLONG Get(const BYTE* at, int width) {
  ULONGLONG value = 0;
  for (int i = width; i-- > 0;) value = value << 8 | at[i];
  return value;
}

void EncodeTime(Writer& out, WORD type, std::int64_t seconds, DWORD nanoseconds) {
  out.Field(type, [&] {
    out.Qword(static_cast<ULONGLONG>(seconds));
    out.Dword(nanoseconds);
  });
}

void EncodeRecord(Writer& out, const EntryMetadata& metadata) {
  const platform::PosixMetadata& item = metadata.item;
  out.Field(kTypeAndMode, [&] {
    out.Dword(item.mode & 07777);
    out.Bytes(&item.type, 1);
  });
  out.Field(kOwner, [&] {
    out.Dword(item.uid);
    out.Dword(item.gid);
  });
  if (!item.user.empty()) out.Field(kUserName, [&] { out.Bytes(item.user.data(), item.user.size()); });
  if (!item.group.empty()) out.Field(kGroupName, [&] { out.Bytes(item.group.data(), item.group.size()); });
  EncodeTime(out, kModified, item.modifiedSeconds, item.modifiedNanoseconds);
  EncodeTime(out, kAccessed, item.accessedSeconds, item.accessedNanoseconds);
  if (!item.linkTarget.empty()) {
    out.Field(kLinkTarget, [&] { out.Bytes(item.linkTarget.data(), item.linkTarget.size()); });
  }
  if (metadata.sameFileAs != 0) out.Field(kSameFileAs, [&] { out.Dword(metadata.sameFileAs); });
  for (const platform::ExtendedAttribute& attribute : item.attributes) {
    // A name the field cannot hold is not an attribute any system has.
    if (attribute.name.empty() || attribute.name.size() > 0xFFFF) continue;
    out.Field(kExtendedAttribute, [&] {
      out.Word(static_cast<WORD>(attribute.name.size()));
      out.Bytes(attribute.name.data(), attribute.name.size());
      out.Bytes(attribute.value.data(), attribute.value.size());
    });
  }
}

bool Invalid() {
  SetLastError(ERROR_INVALID_DATA);
  return false;
}

// Reads one field of `length` bytes at `value` into `metadata`.
bool DecodeField(WORD type, const BYTE* value, std::size_t length, EntryMetadata* metadata) {
  platform::PosixMetadata& item = metadata->item;
  switch (type) {
    case kTypeAndMode:
      if (length < 5) return false;
      item.mode = static_cast<DWORD>(Get(value, 4)) & 07777;
      item.type = value[4] <= static_cast<BYTE>(platform::ItemType::kSymbolicLink)
                      ? static_cast<platform::ItemType>(value[4])
                      : platform::ItemType::kOther;
      return true;
    case kOwner:
      if (length < 8) return false;
      item.uid = static_cast<DWORD>(Get(value, 4));
      item.gid = static_cast<DWORD>(Get(value + 4, 4));
      return true;
    case kUserName:
      item.user.assign(reinterpret_cast<const char*>(value), length);
      return true;
    case kGroupName:
      item.group.assign(reinterpret_cast<const char*>(value), length);
      return true;
    case kModified:
    case kAccessed: {
      if (length < 12) return false;
      const auto seconds = static_cast<std::int64_t>(Get(value, 8));
      const auto nanoseconds = static_cast<DWORD>(Get(value + 8, 4));
      if (nanoseconds >= 1000000000u) return false;
      (type == kModified ? item.modifiedSeconds : item.accessedSeconds) = seconds;
      (type == kModified ? item.modifiedNanoseconds : item.accessedNanoseconds) = nanoseconds;
      return true;
    }
    case kLinkTarget:
      item.linkTarget.assign(reinterpret_cast<const char*>(value), length);
      return true;
    case kSameFileAs:
      if (length < 4) return false;
      metadata->sameFileAs = static_cast<DWORD>(Get(value, 4));
      return true;
    case kExtendedAttribute: {
      if (length < 2) return false;
      const std::size_t nameLength = static_cast<std::size_t>(Get(value, 2));
      if (nameLength == 0 || 2 + nameLength > length) return false;
      platform::ExtendedAttribute attribute;
      attribute.name.assign(reinterpret_cast<const char*>(value + 2), nameLength);
      attribute.value.assign(value + 2 + nameLength, value + length);
      item.attributes.push_back(std::move(attribute));
      return true;
    }
    default:
      return true;  // a later addition: skipped
  }
}

}  // namespace

std::vector<BYTE> EncodeMetadataTable(const MetadataTable& table) {
  std::vector<BYTE> bytes;
  Writer out(&bytes);
  out.Bytes(kMagic, sizeof(kMagic));
  out.Word(kVersion);
  out.Word(0);
  out.Dword(static_cast<DWORD>(table.size()));
  for (const auto& [entry, metadata] : table) {
    out.Dword(entry);
    const std::size_t lengthAt = out.size();
    out.Dword(0);
    const std::size_t start = out.size();
    EncodeRecord(out, metadata);
    out.PutAt(lengthAt, out.size() - start, 4);
  }
  return bytes;
}

bool DecodeMetadataTable(const BYTE* data, std::size_t length, MetadataTable* table) {
  if (data == nullptr || length < kHeaderSize || std::memcmp(data, kMagic, sizeof(kMagic)) != 0 ||
      Get(data + 4, 2) != kVersion) {
    return Invalid();
  }
  const ULONGLONG count = Get(data + 8, 4);
  MetadataTable decoded;
  std::size_t at = kHeaderSize;
  for (ULONGLONG record = 0; record < count; ++record) {
    if (length - at < kRecordHead) return Invalid();
    const DWORD entry = static_cast<DWORD>(Get(data + at, 4));
    const std::size_t fields = static_cast<std::size_t>(Get(data + at + 4, 4));
    at += kRecordHead;
    if (fields > length - at) return Invalid();
    EntryMetadata metadata;
    for (std::size_t field = at, end = at + fields; field < end;) {
      if (end - field < kFieldHead) return Invalid();
      const WORD type = static_cast<WORD>(Get(data + field, 2));
      const std::size_t fieldLength = static_cast<std::size_t>(Get(data + field + 2, 4));
      field += kFieldHead;
      if (fieldLength > end - field || !DecodeField(type, data + field, fieldLength, &metadata)) return Invalid();
      field += fieldLength;
    }
    at += fields;
    if (!decoded.emplace(entry, std::move(metadata)).second) return Invalid();
  }
  if (at != length) return Invalid();
  *table = std::move(decoded);
  return true;
}

}  // namespace qv::control
