// CQVPathString and CQVSysPathString: path operations on Windows-form paths.
//
// Components follow the Windows shell's reading of a path: '\', '/' and the
// drive colon separate them, and a separator that ends the path (or is
// followed by another) does not start a component, so "C:\" is one component.
#include "qvbackup/qvstring.h"

#include "platform/file_system.h"
#include "services/qvstring_text.h"

using qv::services::TextView;

namespace {

bool IsSeparator(WCHAR c) { return c == '\\' || c == '/' || c == ':'; }

// Offset of the last component of `path`.
std::size_t FileNameOffset(TextView path) {
  std::size_t offset = 0;
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    if (IsSeparator(path[i]) && path[i + 1] != '\\' && path[i + 1] != '/') offset = i + 1;
  }
  return offset;
}

// Offset of the extension's dot in `path`, or path.size() when there is none.
std::size_t ExtensionOffset(TextView path) {
  std::size_t nameOffset = FileNameOffset(path);
  std::size_t dot = path.find_last_of(WCHAR('.'));
  if (dot == TextView::npos || dot < nameOffset) return path.size();
  // A separator after the dot ("C:\dir.x\") means the last component has none.
  for (std::size_t i = dot + 1; i < path.size(); ++i) {
    if (IsSeparator(path[i])) return path.size();
  }
  return dot;
}

}  // namespace

CQVPathString::CQVPathString() = default;

CQVPathString::CQVPathString(const WCHAR* text) : CQVString(text) {}

CQVPathString::CQVPathString(const CQVString& other) : CQVString(other) {}

CQVPathString CQVPathString::FindFileName() const {
  TextView path(GetString(), GetLength());
  return CQVPathString(path.data() + FileNameOffset(path));
}

CQVPathString CQVPathString::FindExtension() const {
  TextView path(GetString(), GetLength());
  return CQVPathString(path.data() + ExtensionOffset(path));
}

void CQVPathString::RemoveExtension() {
  TextView path(GetString(), GetLength());
  std::size_t dot = ExtensionOffset(path);
  if (dot < path.size()) *this = Left(static_cast<DWORD>(dot));
}

void CQVPathString::AddBackslash() {
  DWORD length = GetLength();
  if (length == 0 || GetAt(length - 1) != '\\') *this += QVT("\\");
}

BOOL CQVPathString::FileExists() const {
  return qv::platform::FileExists(GetString()) ? TRUE : FALSE;
}

CQVSysPathString::CQVSysPathString() = default;

CQVSysPathString::CQVSysPathString(const WCHAR* text) : CQVPathString(text) {}

CQVSysPathString::CQVSysPathString(const CQVString& other) : CQVPathString(other) {}

BOOL CQVSysPathString::GetCurrentApplicationName() {
  qv::WString path;
  if (!qv::platform::GetExecutablePath(&path)) return FALSE;
  *this = path.c_str();
  return TRUE;
}
