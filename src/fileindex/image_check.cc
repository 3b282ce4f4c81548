#include "fileindex/image_check.h"

#include <cstring>
#include <vector>

#include "fileindex/entry_name.h"
#include "qvbackup/qvfilearray.h"

namespace qv::fileindex {

namespace {

// Offsets of the header fields read here.
constexpr DWORD kSizeWord = 0;
constexpr DWORD kTag = 2;
constexpr DWORD kFirstChild = 4;
constexpr DWORD kLastChild = 8;
constexpr DWORD kNextSibling = 12;
constexpr DWORD kPrevSibling = 16;
constexpr DWORD kParent = 20;
constexpr DWORD kUserDataSize = 25;
constexpr DWORD kUserDataOffset = 26;

class ImageReader {
 public:
  ImageReader(const BYTE* image, DWORD length) : image_(image), length_(length) {}

  WORD Word(DWORD offset) const {
    WORD value;
    std::memcpy(&value, image_ + offset, sizeof(value));
    return value;
  }
  DWORD Dword(DWORD offset) const {
    DWORD value;
    std::memcpy(&value, image_ + offset, sizeof(value));
    return value;
  }
  BYTE Byte(DWORD offset) const { return image_[offset]; }
  DWORD length() const { return length_; }

 private:
  const BYTE* image_;
  DWORD length_;
};

// The bytes an entry occupies: header, name and user data. Checks the tag
// and the name's terminator; 0 when the entry is malformed.
DWORD EntryExtent(const ImageReader& image, DWORD offset, DWORD used) {
  if (static_cast<ULONGLONG>(offset) + QVFA_ROOTSIZE > used) return 0;
  if (image.Word(offset + kTag) != QVFA_ENTRYTAG) return 0;
  DWORD dataOffset = image.Word(offset + kUserDataOffset);
  if (dataOffset < QVFA_ROOTSIZE || (dataOffset & 1) != 0) return 0;
  if (dataOffset - QVFA_ENTRYHEADERSIZE > kMaxNameBytes) return 0;
  ULONGLONG extent = static_cast<ULONGLONG>(dataOffset) + image.Byte(offset + kUserDataSize);
  if (offset + extent > used) return 0;
  // The name ends with its first 0 unit, just before the user data.
  for (DWORD at = offset + QVFA_ENTRYHEADERSIZE; at < offset + dataOffset - 2; at += 2) {
    if (image.Word(at) == 0) return 0;
  }
  if (image.Word(offset + dataOffset - 2) != 0) return 0;
  return static_cast<DWORD>(extent);
}

// Follows the size words; fills `starts` with every entry's offset (the
// root first). False when the chain does not end exactly at the trailer.
bool CollectEntries(const ImageReader& image, DWORD used, std::vector<DWORD>* starts) {
  if (image.Word(kTag) != QVFA_ENTRYTAG) return false;
  starts->push_back(0);
  DWORD offset = 0;
  DWORD extent = QVFA_ROOTSIZE;
  for (;;) {
    WORD size = image.Word(offset + kSizeWord);
    if (size == 0) break;
    if (size != extent) return false;
    offset += size;
    extent = EntryExtent(image, offset, used);
    if (extent == 0) return false;
    starts->push_back(offset);
  }
  return offset + extent == used && image.Word(used) == extent;
}

// Walks the child list of `owner`, checking every link, and marks each child
// seen. False when a child is not an entry, names another parent, is seen a
// second time, or the previous links do not mirror the next links.
bool CheckChildList(const ImageReader& image, DWORD owner, const std::vector<bool>& isEntry,
                    std::vector<bool>* seen, std::vector<DWORD>* pending) {
  DWORD previous = 0;
  for (DWORD child = image.Dword(owner + kFirstChild); child != 0;
       child = image.Dword(child + kNextSibling)) {
    if (child >= isEntry.size() || !isEntry[child] || child == 0) return false;
    if ((*seen)[child]) return false;
    if (image.Dword(child + kParent) != owner) return false;
    if (image.Dword(child + kPrevSibling) != previous) return false;
    (*seen)[child] = true;
    pending->push_back(child);
    previous = child;
  }
  return image.Dword(owner + kLastChild) == previous;
}

bool IsLinkToEntry(DWORD link, const std::vector<bool>& isEntry) {
  return link == 0 || (link < isEntry.size() && isEntry[link]);
}

}  // namespace

bool IsWellFormedImage(const BYTE* image, DWORD length) {
  if (image == nullptr || length < QVFA_ROOTSIZE + 2) return false;
  ImageReader reader(image, length);
  DWORD used = length - 2;
  std::vector<DWORD> starts;
  if (!CollectEntries(reader, used, &starts)) return false;

  std::vector<bool> isEntry(used, false);
  for (DWORD start : starts) isEntry[start] = true;

  // The root and every entry that is not linked head a tree of their own.
  std::vector<bool> seen(used, false);
  std::vector<DWORD> pending;
  for (DWORD start : starts) {
    DWORD parent = reader.Dword(start + kParent);
    bool head = start == 0 || parent == QVFA_NOTLINKED;
    if (start == 0 && parent != 0) return false;
    if (!head && (parent == start || !IsLinkToEntry(parent, isEntry))) return false;
    for (DWORD field : {kFirstChild, kLastChild, kNextSibling, kPrevSibling}) {
      if (!IsLinkToEntry(reader.Dword(start + field), isEntry)) return false;
    }
    if (head) {
      if (reader.Dword(start + kNextSibling) != 0 || reader.Dword(start + kPrevSibling) != 0) {
        return false;
      }
      seen[start] = true;
      pending.push_back(start);
    }
  }
  std::size_t visited = pending.size();
  while (!pending.empty()) {
    DWORD owner = pending.back();
    pending.pop_back();
    std::size_t before = pending.size();
    if (!CheckChildList(reader, owner, isEntry, &seen, &pending)) return false;
    visited += pending.size() - before;
  }
  return visited == starts.size();
}

}  // namespace qv::fileindex
