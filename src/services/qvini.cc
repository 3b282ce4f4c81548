#include "services/qvini.h"

#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "qvbackup/qvstring.h"

namespace {

bool HoldsLineBreak(const WCHAR* text) {
  for (; *text != 0; ++text) {
    if (*text == QVT('\r') || *text == QVT('\n')) return true;
  }
  return false;
}

bool IsValidSectionName(const WCHAR* name) {
  if (name == nullptr || name[0] == 0 || HoldsLineBreak(name)) return false;
  for (const WCHAR* c = name; *c != 0; ++c) {
    if (*c == QVT(']')) return false;
  }
  return true;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

void AppendLine(const qv::WString& line, std::vector<unsigned char>* bytes) {
  for (WCHAR c : line) {
    bytes->push_back(static_cast<unsigned char>(c & 0xFF));
    bytes->push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
  }
  bytes->insert(bytes->end(), {'\r', 0, '\n', 0});
}

}  // namespace

CQVIni::CQVIni() = default;
CQVIni::~CQVIni() = default;

CQVIni::Section* CQVIni::FindSection(const WCHAR* name) {
  const CQVString wanted(name);
  for (Section& section : m_sections) {
    if (wanted.CompareNoCase(section.name.c_str()) == 0) return &section;
  }
  return nullptr;
}

BOOL CQVIni::AddSection(const WCHAR* pszSection) {
  if (!IsValidSectionName(pszSection)) return Fail(ERROR_INVALID_PARAMETER);
  if (FindSection(pszSection) == nullptr) m_sections.push_back(Section{pszSection, {}});
  return TRUE;
}

BOOL CQVIni::AddItem(const WCHAR* pszSection, const WCHAR* pszItem) {
  if (pszItem == nullptr || HoldsLineBreak(pszItem) || pszItem[0] == QVT('[')) return Fail(ERROR_INVALID_PARAMETER);
  if (!AddSection(pszSection)) return FALSE;
  FindSection(pszSection)->items.emplace_back(pszItem);
  return TRUE;
}

std::vector<unsigned char> CQVIni::Render() const {
  std::vector<unsigned char> bytes = {0xFF, 0xFE};
  for (const Section& section : m_sections) {
    AppendLine(QVT("[") + section.name + QVT("]"), &bytes);
    for (const qv::WString& item : section.items) AppendLine(item, &bytes);
  }
  return bytes;
}

BOOL CQVIni::Store(const WCHAR* pszPath, BOOL bOverwrite) {
  if (pszPath == nullptr || pszPath[0] == 0) return Fail(ERROR_INVALID_PARAMETER);
  if (!bOverwrite && qv::platform::FileExists(pszPath)) return Fail(ERROR_FILE_EXISTS);
  const std::vector<unsigned char> bytes = Render();
  std::unique_ptr<qv::platform::WritableFile> file = qv::platform::CreateWritableFile(pszPath);
  if (file == nullptr) return FALSE;
  if (!file->Write(bytes.data(), static_cast<DWORD>(bytes.size()))) {
    const DWORD error = GetLastError();
    file.reset();
    qv::platform::RemoveFile(pszPath);
    return Fail(error);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CQVIni::Dump() { return TRUE; }
