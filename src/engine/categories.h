// The six file categories of a backup profile, in the order every
// operation visits them: the profile switch, the group of "GpExt.xml" that
// lists the category's extensions, and the message traced while counting.
#ifndef QVBACKUP_ENGINE_CATEGORIES_H_
#define QVBACKUP_ENGINE_CATEGORIES_H_

#include <array>

#include "qvbackup/qvprofile.h"
#include "qvbackup/wintypes.h"

namespace qv::engine {

inline constexpr DWORD kPictures = 1;
inline constexpr DWORD kMusic = 2;

struct Category {
  DWORD number;                              // 1 to 6, as sent to the host
  BOOL QV_ARCHIVE_PROFILE_BACKUP::*checked;  // the profile's switch
  const WCHAR* group;                        // exact, case-sensitive
  const WCHAR* countingMessage;
};

inline constexpr std::array<Category, 6> kCategories = {{
    {1, &QV_ARCHIVE_PROFILE_BACKUP::bPictures, QVT("Pictures"), QVT("Processing images...")},
    {2, &QV_ARCHIVE_PROFILE_BACKUP::bMusic, QVT("Music"), QVT("Processing music...")},
    {3, &QV_ARCHIVE_PROFILE_BACKUP::bVideo, QVT("Video"), QVT("Processing video...")},
    {4, &QV_ARCHIVE_PROFILE_BACKUP::bOffices, QVT("Offices"), QVT("Processing offices...")},
    {5, &QV_ARCHIVE_PROFILE_BACKUP::bMail, QVT("Mail"), QVT("Processing emails...")},
    {6, &QV_ARCHIVE_PROFILE_BACKUP::bFinancial, QVT("Financial"), QVT("Processing financial documents...")},
}};

}  // namespace qv::engine

#endif  // QVBACKUP_ENGINE_CATEGORIES_H_
