#include "storage/volume_names.h"

#include "platform/file_system.h"

namespace qv::storage {

namespace {

constexpr DWORD kLargestNumber = 999999999;

WCHAR UpperAscii(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c; }

bool EndsWith(WStringView text, WStringView suffix) {
  return text.size() >= suffix.size() && SameFileName(text.substr(text.size() - suffix.size()), suffix);
}

// Decimal digits without a leading zero, 1 to 999999999.
bool ReadNumber(WStringView digits, DWORD* number) {
  if (digits.empty() || digits.size() > 9 || digits[0] == u'0') return false;
  DWORD value = 0;
  for (WCHAR c : digits) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + static_cast<DWORD>(c - u'0');
  }
  if (value == 0 || value > kLargestNumber) return false;
  *number = value;
  return true;
}

// "<tag>k": the increment part; any tag that does not end in a digit when
// none is given.
bool ReadIncrement(WStringView part, WStringView tag, DWORD* increment) {
  if (!tag.empty()) {
    return part.size() > tag.size() && SameFileName(part.substr(0, tag.size()), tag) &&
           ReadNumber(part.substr(tag.size()), increment);
  }
  std::size_t digits = part.size();
  while (digits > 0 && part[digits - 1] >= u'0' && part[digits - 1] <= u'9') --digits;
  return digits > 0 && digits < part.size() && ReadNumber(part.substr(digits), increment);
}

}  // namespace

bool SameFileName(WStringView a, WStringView b) {
  if (a.size() != b.size()) return false;
  if (!platform::FileNamesIgnoreCase()) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool ParseVolumeName(WStringView fileName, WStringView name, WStringView tag, WStringView extension,
                     VolumeName* parsed) {
  VolumeName found;
  WStringView rest = fileName;
  if (EndsWith(rest, kWritingSuffix)) {
    found.stage = VolumeStage::kWriting;
    rest.remove_suffix(WStringView(kWritingSuffix).size());
  } else if (EndsWith(rest, kMovingSuffix)) {
    found.stage = VolumeStage::kMoving;
    rest.remove_suffix(WStringView(kMovingSuffix).size());
  }
  if (name.empty() || rest.size() <= name.size() + 1 || !SameFileName(rest.substr(0, name.size()), name) ||
      rest[name.size()] != u'.') {
    return false;
  }
  rest.remove_prefix(name.size() + 1);
  const std::size_t lastDot = rest.rfind(u'.');
  const WStringView last = lastDot == WStringView::npos ? rest : rest.substr(lastDot + 1);
  if (!SameFileName(last, extension)) {
    if (!SameFileName(last, QVT("exe"))) return false;
    found.exe = true;
  }
  if (lastDot != WStringView::npos) {
    const WStringView middle = rest.substr(0, lastDot);
    const std::size_t split = middle.find(u'.');
    if (split == WStringView::npos) {
      if (!ReadNumber(middle, &found.volume) && !ReadIncrement(middle, tag, &found.increment)) return false;
    } else if (!ReadIncrement(middle.substr(0, split), tag, &found.increment) ||
               !ReadNumber(middle.substr(split + 1), &found.volume)) {
      return false;
    }
  }
  // Only the first volume of a self-extracting base ends in "exe".
  if (found.exe && (found.increment != 0 || found.volume > 1)) return false;
  *parsed = found;
  return true;
}

std::vector<ArchiveFile> ListArchiveFiles(WStringView folder, WStringView name, WStringView tag,
                                          WStringView extension) {
  WString base(folder);
  while (!base.empty() && base.back() == u'\\') base.pop_back();
  std::vector<ArchiveFile> files;
  platform::DirectoryEnumerator listing;
  WIN32_FIND_DATAW item;
  const WString pattern = base + QVT("\\*");
  if (!listing.First(pattern.c_str(), &item)) return files;
  do {
    if (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    ArchiveFile file;
    file.fileName = item.cFileName;
    if (!ParseVolumeName(file.fileName, name, tag, extension, &file.name)) continue;
    file.path = base + QVT("\\") + file.fileName;
    files.push_back(std::move(file));
  } while (listing.Next(&item));
  return files;
}

WString StagedPath(WStringView finalPath, VolumeStage stage) {
  WString path(finalPath);
  if (stage == VolumeStage::kWriting) path += kWritingSuffix;
  if (stage == VolumeStage::kMoving) path += kMovingSuffix;
  return path;
}

}  // namespace qv::storage
