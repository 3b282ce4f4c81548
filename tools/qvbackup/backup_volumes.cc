#include "backup_volumes.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

#include "qvbackup/host.h"
#include "report.h"

namespace qvtool {

namespace {

namespace fs = std::filesystem;

constexpr DWORD kLargestNumber = 999999999;

WCHAR UpperAscii(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 32) : c; }

// Names as the file system compares them: exactly on POSIX.
bool EqualNoCase(const WString& a, const WString& b) {
  if (a.size() != b.size()) return false;
  if (!QVFileNamesIgnoreCase()) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool ReadNumber(const WString& digits, DWORD* number) {
  ULONGLONG value = 0;
  if (digits.empty() || digits.size() > 9) return false;
  for (WCHAR c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<ULONGLONG>(c - '0');
  }
  if (value == 0 || value > kLargestNumber) return false;
  *number = static_cast<DWORD>(value);
  return true;
}

// "I<k>": the increment part of a volume name.
bool ReadIncrement(const WString& part, DWORD* increment) {
  return part.size() > 1 && EqualNoCase(part.substr(0, 1), Widen("I")) && ReadNumber(part.substr(1), increment);
}

std::vector<WString> SplitAtDots(const WString& text) {
  std::vector<WString> parts;
  std::size_t start = 0;
  for (std::size_t dot = text.find('.'); dot != WString::npos; dot = text.find('.', start)) {
    parts.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

// Native paths: on Windows the text itself; elsewhere its UTF-8 bytes, made
// by the library so that names which were not UTF-8 come back unchanged.
fs::path NativePath(const WString& text) {
  if constexpr (std::is_same_v<fs::path::value_type, WCHAR>) {
    return fs::path(text);
  } else {
    std::string bytes(text.size() * 3 + 1, '\0');
    bytes.resize(QVUtf16ToUtf8(text.c_str(), bytes.data(), static_cast<DWORD>(bytes.size())));
    return fs::path(bytes);
  }
}

template <typename Native>
WString FromNative(const Native& text) {
  if constexpr (std::is_same_v<typename Native::value_type, WCHAR>) {
    return WString(text);
  } else {
    return Widen(text);
  }
}

bool HasVolume(const std::vector<VolumeFile>& volumes, DWORD increment, VolumeNaming naming) {
  for (const VolumeFile& volume : volumes) {
    if (volume.increment == increment && volume.volume == FirstVolumeNumber(naming) &&
        volume.selfExtracting == IsSelfExtracting(naming)) {
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD FirstVolumeNumber(VolumeNaming naming) {
  return naming == VolumeNaming::kSingle || naming == VolumeNaming::kSelfExtracting ? 0 : 1;
}

bool IsSelfExtracting(VolumeNaming naming) {
  return naming == VolumeNaming::kSelfExtracting || naming == VolumeNaming::kSelfExtractingSplit;
}

bool ParseVolumeName(const WString& fileName, const WString& name, VolumeFile* volume) {
  if (fileName.size() <= name.size() + 1 || !EqualNoCase(fileName.substr(0, name.size()), name) ||
      fileName[name.size()] != '.') {
    return false;
  }
  std::vector<WString> parts = SplitAtDots(fileName.substr(name.size() + 1));
  VolumeFile found;
  found.fileName = fileName;
  found.selfExtracting = EqualNoCase(parts.back(), Widen("exe"));
  if (!found.selfExtracting && !EqualNoCase(parts.back(), Widen("QVA"))) return false;
  parts.pop_back();
  if (parts.size() > 2) return false;
  if (parts.size() == 2 &&
      !(ReadIncrement(parts[0], &found.increment) && ReadNumber(parts[1], &found.volume))) {
    return false;
  }
  if (parts.size() == 1 && !ReadIncrement(parts[0], &found.increment) && !ReadNumber(parts[0], &found.volume)) {
    return false;
  }
  *volume = found;
  return true;
}

bool IsArchiveFile(const WString& fileName, const WString& name) {
  VolumeFile volume;
  if (EqualNoCase(fileName, name + Widen(".qvlock"))) return true;
  for (const char* stage : {".qvtmp", ".qvnew"}) {
    const WString suffix = Widen(stage);
    if (fileName.size() > suffix.size() && EqualNoCase(fileName.substr(fileName.size() - suffix.size()), suffix) &&
        ParseVolumeName(fileName.substr(0, fileName.size() - suffix.size()), name, &volume)) {
      return true;
    }
  }
  return ParseVolumeName(fileName, name, &volume);
}

std::vector<VolumeFile> ListVolumes(const WString& folder, const WString& name) {
  std::vector<VolumeFile> volumes;
  std::error_code error;
  for (fs::directory_iterator it(NativePath(folder), error), end; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    VolumeFile volume;
    if (ParseVolumeName(FromNative(it->path().filename().native()), name, &volume)) volumes.push_back(volume);
  }
  return volumes;
}

ChainOnDisk DescribeChain(const std::vector<VolumeFile>& volumes) {
  ChainOnDisk chain;
  for (VolumeNaming naming : {VolumeNaming::kSingle, VolumeNaming::kSplit, VolumeNaming::kSelfExtracting,
                              VolumeNaming::kSelfExtractingSplit}) {
    if (HasVolume(volumes, 0, naming)) {
      chain.hasBase = true;
      chain.naming = naming;
      break;
    }
  }
  if (!chain.hasBase) return chain;
  chain.members = 1;
  // Increments are never self-extracting.
  if (IsSelfExtracting(chain.naming)) return chain;
  while (HasVolume(volumes, chain.members, chain.naming)) ++chain.members;
  return chain;
}

std::vector<VolumeFile> MemberVolumes(const std::vector<VolumeFile>& volumes, DWORD increment, VolumeNaming naming) {
  auto find = [&](DWORD number, bool exe) -> const VolumeFile* {
    for (const VolumeFile& volume : volumes) {
      if (volume.increment == increment && volume.volume == number && volume.selfExtracting == exe) return &volume;
    }
    return nullptr;
  };
  std::vector<VolumeFile> member;
  const DWORD first = FirstVolumeNumber(naming);
  // Only the first volume of a self-extracting member ends in "exe".
  for (DWORD number = first; const VolumeFile* volume = find(number, number == first && IsSelfExtracting(naming));
       ++number) {
    member.push_back(*volume);
    if (first == 0) break;  // one file
  }
  return member;
}

WString JoinPath(const WString& folder, const WString& fileName) {
  return FromNative((NativePath(folder) / NativePath(fileName)).native());
}

ULONGLONG VolumeFileSize(const WString& folder, const WString& fileName) {
  std::error_code error;
  std::uintmax_t size = fs::file_size(NativePath(folder) / NativePath(fileName), error);
  return error ? 0 : static_cast<ULONGLONG>(size);
}

bool RemoveVolumeFile(const WString& folder, const WString& fileName, WString* why) {
  std::error_code error;
  if (fs::remove(NativePath(folder) / NativePath(fileName), error)) return true;
  *why = Widen(error ? error.message() : std::string("it is not there"));
  return false;
}

}  // namespace qvtool
