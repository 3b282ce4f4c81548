// The files of an archive in its folder, told apart by their names.
//
// A volume file is NAME.[<tag>k.][v.]EXT, or ...exe for the first volume of
// a self-extracting archive. While an archive is written its volumes carry
// a stage suffix, so that no reader ever takes a half-written one for an
// archive:
//   NAME....EXT.qvtmp   being written; removed by the next run when left
//   NAME....EXT.qvnew   whole and synced, on its way into place: once the
//                       first volume's ".qvnew" file exists the member is
//                       committed, readers take these files for its volumes
//                       and the next run finishes moving them.
// NAME.qvlock is the lock a writing run holds.
#ifndef QVBACKUP_STORAGE_VOLUME_NAMES_H_
#define QVBACKUP_STORAGE_VOLUME_NAMES_H_

#include <vector>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::storage {

enum class VolumeStage { kFinal, kWriting, kMoving };

inline constexpr WCHAR kWritingSuffix[] = QVT(".qvtmp");
inline constexpr WCHAR kMovingSuffix[] = QVT(".qvnew");
inline constexpr WCHAR kLockSuffix[] = QVT(".qvlock");

struct VolumeName {
  DWORD increment = 0;  // 0: the base
  DWORD volume = 0;     // 1, 2...: a split member's volumes; 0: a member in one file
  bool exe = false;     // ends in "exe"
  VolumeStage stage = VolumeStage::kFinal;
};

// Whether `fileName` is a volume file of archive `name`, whose increments
// are tagged `tag` (empty: any tag of letters) and whose volumes end in
// `extension` (or "exe"); fills *parsed when it is. Names compare as the
// file system compares them: exactly on POSIX, ignoring case on Windows.
bool ParseVolumeName(WStringView fileName, WStringView name, WStringView tag, WStringView extension,
                     VolumeName* parsed);

// The file `finalPath` at stage `stage`: the path itself, or with its suffix.
WString StagedPath(WStringView finalPath, VolumeStage stage);

// Whether `a` and `b` name the same file in one folder.
bool SameFileName(WStringView a, WStringView b);

struct ArchiveFile {
  WString path;  // folder\fileName
  WString fileName;
  VolumeName name;
};

// Every file of `folder` (a drive path) that ParseVolumeName takes for a
// volume file of archive `name`, in no particular order; none when the
// folder cannot be listed.
std::vector<ArchiveFile> ListArchiveFiles(WStringView folder, WStringView name, WStringView tag,
                                          WStringView extension);

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_VOLUME_NAMES_H_
