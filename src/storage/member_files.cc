#include "storage/member_files.h"

#include <algorithm>
#include <cstring>

#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "storage/archive_layout.h"

namespace qv::storage {

namespace {

// The header of a first volume: at its start, or where a self-extracting
// program's marker says.
bool ReadFirstHeader(const WString& path, bool exe, BYTE* headerBytes) {
  auto file = platform::OpenFile(path.c_str(), platform::OpenMode::kReadExisting, platform::Sharing::kReadWrite);
  if (!file) return false;
  ULONGLONG at = 0;
  DWORD read = 0;
  if (exe) {
    BYTE probe[kStubProbeSize];
    if (!file->Read(probe, sizeof(probe), &read) || read != sizeof(probe) || probe[0] != 'M' || probe[1] != 'Z') {
      return false;
    }
    at = GetQword(probe, kStubMarkerOffset);
  }
  if (!file->Seek(at) || !file->Read(headerBytes, header::kSize, &read) || read != header::kSize) return false;
  return std::memcmp(headerBytes + header::kMagic, header::kMagicBytes, 4) == 0;
}

bool IsFirstVolume(const VolumeName& name) { return name.volume <= 1; }

}  // namespace

std::vector<MemberFiles> GroupMembers(const std::vector<ArchiveFile>& files) {
  std::vector<MemberFiles> members;
  auto find = [&members](DWORD increment, bool split) -> MemberFiles* {
    for (MemberFiles& member : members) {
      if (member.increment == increment && member.split == split) return &member;
    }
    return nullptr;
  };
  for (const ArchiveFile& file : files) {
    if (file.name.stage != VolumeStage::kFinal) continue;
    const bool split = file.name.volume != 0;
    MemberFiles* member = find(file.name.increment, split);
    if (member == nullptr) {
      members.emplace_back();
      member = &members.back();
      member->increment = file.name.increment;
      member->split = split;
    }
    member->paths.push_back(file.path);
    BYTE headerBytes[header::kSize];
    if (!IsFirstVolume(file.name) || member->readable || !ReadFirstHeader(file.path, file.name.exe, headerBytes)) {
      continue;
    }
    member->readable = true;
    std::memcpy(member->identifier.data(), headerBytes + header::kIdentifier, header::kIdentifierSize);
    member->closingOffset = GetQword(headerBytes, header::kUserData);
    const DWORD count = std::min<DWORD>(headerBytes[header::kReplacedCount], header::kMostReplaced);
    for (DWORD i = 0; i < count && member->increment == 0; ++i) {
      std::array<BYTE, 16> replaced;
      std::memcpy(replaced.data(), headerBytes + header::kReplacedIdentifiers + i * header::kIdentifierSize,
                  header::kIdentifierSize);
      member->replaced.push_back(replaced);
    }
  }
  return members;
}

bool TakesMovingVolumes(const WString& movingFirst, DWORD increment, const WString& baseFirst, bool exe) {
  if (!platform::FileExists(movingFirst.c_str())) return false;
  if (increment == 0) return true;
  const WString baseMoving = StagedPath(baseFirst, VolumeStage::kMoving);
  const WString& base = platform::FileExists(baseMoving.c_str()) ? baseMoving : baseFirst;
  BYTE incrementHeader[header::kSize];
  BYTE baseHeader[header::kSize];
  return ReadFirstHeader(movingFirst, exe, incrementHeader) && ReadFirstHeader(base, exe, baseHeader) &&
         std::memcmp(incrementHeader + header::kIdentifier, baseHeader + header::kIdentifier,
                     header::kIdentifierSize) == 0;
}

bool IsInChain(const std::vector<MemberFiles>& members, const MemberFiles& member) {
  if (!member.readable) return false;
  auto present = [&](DWORD increment) {
    for (const MemberFiles& other : members) {
      if (other.increment == increment && other.split == member.split && other.readable &&
          other.identifier == member.identifier) {
        return true;
      }
    }
    return false;
  };
  for (DWORD increment = 0; increment < member.increment; ++increment) {
    if (!present(increment)) return false;
  }
  return present(member.increment);
}

}  // namespace qv::storage
