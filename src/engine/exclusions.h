// The host's exclusions (folders, files, extensions) as one rule that every
// selection applies the same way: the filter-driven file list, the list file
// and the counts per category.
#ifndef QVBACKUP_ENGINE_EXCLUSIONS_H_
#define QVBACKUP_ENGINE_EXCLUSIONS_H_

#include <string>
#include <string_view>
#include <vector>

#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

namespace qv::engine {

using TextView = std::basic_string_view<WCHAR>;

// The last component of a path: what follows its last '\' (the whole text
// when it has none).
TextView LastComponent(TextView path);

// The extension of the path's last component without its dot: from the
// last '.' to the end ("gz" for "a.tar.gz"); empty when the component has
// no dot or ends with one.
TextView ExtensionOf(TextView path);

// True when `path` is `prefix` itself or lies below it: `prefix` is a
// leading part of `path` that ends where a component ends (the next code
// unit of `path` is '\', or there is none). Code units are compared
// exactly, so callers lower both sides first. An empty prefix is nothing:
// false.
bool IsAtOrBelow(TextView path, TextView prefix);

// The three exclusion lists, lowered once so that testing a path costs no
// allocation beyond its own lowered copy.
class ExclusionRules {
 public:
  // Copies the lists. Folder and file paths lose their trailing '\'
  // (C:\Temp\ and C:\Temp are the same exclusion) and extensions a leading
  // '.'; elements left empty are dropped, since they name nothing.
  ExclusionRules(const CQVStringArray& folders, const CQVStringArray& files,
                 const CQVStringArray& extensions);

  // True when the full path `path` is an excluded folder or file or lies
  // below one, whole components compared ignoring case (C:\Temp excludes
  // C:\TEMP and C:\Temp\a.doc, not C:\Temporary\a.doc), or when the
  // extension of its last component is an excluded one ignoring case (DOC
  // and doc exclude a.Doc, not a.docx).
  bool Excludes(const CQVString& path) const;

  // The same for a path already lowered with CQVString::MakeLower.
  bool ExcludesLowered(TextView loweredPath) const;

 private:
  std::vector<std::basic_string<WCHAR>> m_vecPaths;       // folders, then files
  std::vector<std::basic_string<WCHAR>> m_vecExtensions;
};

}  // namespace qv::engine

#endif  // QVBACKUP_ENGINE_EXCLUSIONS_H_
