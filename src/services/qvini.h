// CQVIni: builds an INI text in memory, section by section and item by
// item, and writes it to a file in one piece.
//
// The file is UTF-16LE with a byte order mark and CRLF line ends, on every
// system (the readers of these files are Windows programs): each section is
// a "[name]" line followed by its items, one line each, in the order they
// were added. A section without items is still written.
#ifndef QVBACKUP_SERVICES_QVINI_H_
#define QVBACKUP_SERVICES_QVINI_H_

#include <vector>

#include "platform/text.h"
#include "qvbackup/qvobject.h"
#include "qvbackup/wintypes.h"

class CQVIni : public CQVObject {
 public:
  CQVIni();
  ~CQVIni() override;

  // Adds the section `pszSection` after the sections added before it. A
  // section that exists already (names compare without regard to case) is
  // kept where it is. FALSE with ERROR_INVALID_PARAMETER for a null or empty
  // name or one holding ']' or a line break.
  BOOL AddSection(const WCHAR* pszSection);

  // Appends the line `pszItem` ("key=value", written as given) to the
  // section `pszSection`, after its earlier items; a missing section is
  // added first. FALSE with ERROR_INVALID_PARAMETER for a bad section name
  // (as AddSection), a null item, or an item holding a line break or
  // starting with '[' (it would read back as a section).
  BOOL AddItem(const WCHAR* pszSection, const WCHAR* pszItem);

  // Writes the whole text to the file `pszPath`. With `bOverwrite` non-zero
  // an existing file is replaced; with FALSE it is left alone and the call
  // fails with ERROR_FILE_EXISTS. FALSE with the system's error when the
  // file cannot be written (ERROR_PATH_NOT_FOUND for a missing folder); a
  // partly written file is removed.
  BOOL Store(const WCHAR* pszPath, BOOL bOverwrite);

  // Nothing to describe; returns TRUE.
  BOOL Dump() override;

 private:
  struct Section {
    qv::WString name;
    std::vector<qv::WString> items;
  };

  Section* FindSection(const WCHAR* name);
  std::vector<unsigned char> Render() const;

  std::vector<Section> m_sections;
};

#endif  // QVBACKUP_SERVICES_QVINI_H_
