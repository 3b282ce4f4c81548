// Categories of a backup profile: the extension groups read from
// "GpExt.xml", and the operations that select the files of the checked
// categories into an index or remove the files of the others.
#include "engine/categories.h"
#include "engine/index_search.h"
#include "log/qv_log.h"
#include "platform/file_system.h"
#include "platform/system_string.h"
#include "qvbackup/qvbackupengine.h"
#include "services/qvpe.h"
#include "services/qvxml.h"

using qv::engine::FindByExtension;
using qv::engine::FindEveryEntry;
using qv::engine::IsFileEntry;

namespace {

constexpr const WCHAR* kGroupFile = QVT("GpExt.xml");
constexpr const WCHAR* kSystemFolderFile = QVT("WINDOWS\\system32\\GpExt.xml");
constexpr const WCHAR* kPreinstallDriveFile = QVT("X:\\WINDOWS\\system32\\GpExt.xml");

bool Failed(LONG result) { return result < 0; }

// Enters `path` with every missing folder above it; an existing entry is
// reused.
void Enter(CQVFileArray& index, const CQVString& path) { index.Add(path, nullptr, 0, 0, nullptr); }

// Appends the text of every "extension" child of group `group`, in order.
void AppendExtensions(CQVXml& xml, int group, CQVStringArray& extensions) {
  for (int position = 1;; ++position) {
    CQVString xpath;
    xpath.Format(QVT("/gpext/groupe[%d]/extension[%d]"), group, position);
    CQVXmlNode* node = nullptr;
    if (Failed(xml.SelectSingleNode(xpath, &node))) return;
    extensions.Add(CQVString(node->GetText()));
    node->Release();
  }
}

// True when the "name" attribute of `node` is `name`, code unit for code
// unit; a group without the attribute is no group.
bool IsNamed(CQVXmlNode& node, LPCWSTR name) {
  BSTR value = nullptr;
  if (Failed(node.GetAttributeText(QVT("name"), &value)) || value == nullptr) return false;
  const bool equal = CQVString(value) == (name != nullptr ? name : QVT(""));
  SysFreeString(value);
  return equal;
}

}  // namespace

DWORD CQVBackupEngine::GroupExt_EnumerateExtensionsInGroup(LPCWSTR pstrGroupName,
                                                           CQVStringArray& straListOfExtensions,
                                                           QV_ARCHIVE_PROFILE_BACKUP& qvapb) {
  theLog.Enter(QVT("CQVBackupEngine::GroupExt_EnumerateExtensionsInGroup(LPCWSTR pstrGroupName = %s, "
                   "CQVStringArray & straListOfExtensions, QV_ARCHIVE_PROFILE_BACKUP & qvapb)"),
               pstrGroupName);
  CQVString path;
  CQVPE pe;
  if (pe.IsWinPE(0)) {
    // The installed Windows is an ordinary drive here; the file ships in
    // its system folder, or on the pre-installation drive itself.
    path.Format(QVT("%s%s"), qvapb.strWindowsDrive.GetString(), kSystemFolderFile);
    if (!qv::platform::FileExists(path)) path = kPreinstallDriveFile;
  } else {
    path.Format(QVT("%s%s"), m_strEnvironementPath.GetString(), kGroupFile);
    theLog.LogDetail(QVT("Program files changes : %s"), path.GetString());
  }

  CQVXml* xml = GetQVXmlInterface(0);
  if (xml == nullptr) {
    theLog.LogError(QVT("\nFailed to get xml interface"));
    theLog.Exit();
    return 0;
  }
  if (Failed(xml->Load(path))) {
    theLog.LogError(QVT("Failed to load xml file %s"), path.GetString());
    theLog.Exit();
    return 0;
  }
  for (int group = 1;; ++group) {
    CQVString xpath;
    xpath.Format(QVT("/gpext/groupe[%d]"), group);
    CQVXmlNode* node = nullptr;
    if (Failed(xml->SelectSingleNode(xpath, &node))) break;
    const bool wanted = IsNamed(*node, pstrGroupName);
    node->Release();
    if (wanted) AppendExtensions(*xml, group, straListOfExtensions);
  }
  xml->Close();
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::BuildSelectedList(CQVFileArray& qvfaSelected, QV_ARCHIVE_PROFILE_BACKUP& qvapb) {
  theLog.Enter(QVT("CQVBackupEngine::BuildSelectedList"));
  for (const qv::engine::Category& category : qv::engine::kCategories) {
    if (!(qvapb.*category.checked)) continue;
    if (category.number == qv::engine::kMusic) theLog.LogDetail(QVT("Audio will be include"));
    CQVStringArray extensions(0);
    GroupExt_EnumerateExtensionsInGroup(category.group, extensions, qvapb);
    for (DWORD i = 0; i < extensions.GetSize(); ++i) {
      const CQVString extension = extensions.GetAt(i);
      if (category.number != qv::engine::kPictures) {
        theLog.LogDetail(QVT("lpOneExtension %s"), extension.GetString());
      }
      AddOneExtensionToSelectedList(qvfaSelected, extension);
    }
  }
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::AddOneExtensionToSelectedList(CQVFileArray& qvfaSelectedCategories, LPCWSTR lpExtension) {
  theLog.Enter(QVT("CQVBackupEngine::AddOneExtensionToSelectedList(CQVFileArray & qvfaSelectedCategories, "
                   "LPCTSTR lpExtension=%s)"),
               lpExtension);
  for (DWORD entry : FindByExtension(m_qvfaGroup, lpExtension)) {
    const CQVString path = m_qvfaGroup.GetPathName(entry);
    // The volume was read a while ago: what is gone since is not selected.
    if (!path.IsEmpty() && qv::platform::FileExists(path)) Enter(qvfaSelectedCategories, path);
  }
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::AddToqvfa(CQVFileArray& qvfa, CQVString strPath) {
  Enter(qvfa, strPath);
  return 0;
}

DWORD CQVBackupEngine::Copy_qvfaFromTo(CQVFileArray& qvfaFrom, CQVFileArray& qvfaTo) {
  for (DWORD entry : FindEveryEntry(qvfaFrom)) {
    const CQVString path = qvfaFrom.GetPathName(entry);
    if (!path.IsEmpty()) Enter(qvfaTo, path);
  }
  return 0;
}

DWORD CQVBackupEngine::SubstractNonCheckedCategories(QV_ARCHIVE_PROFILE_BACKUP& qvapb) {
  theLog.Enter(QVT("CQVBackupEngine::SubstractNonCheckedCategories"));
  for (const qv::engine::Category& category : qv::engine::kCategories) {
    if (qvapb.*category.checked) continue;
    CQVStringArray extensions(0);
    GroupExt_EnumerateExtensionsInGroup(category.group, extensions, qvapb);
    for (DWORD i = 0; i < extensions.GetSize(); ++i) SubstractOneExtension(m_qvfaGroup, extensions.GetAt(i));
  }
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::SubstractOneExtension(CQVFileArray& qvfa, LPCWSTR lpExtension) {
  for (DWORD entry : FindByExtension(qvfa, lpExtension)) {
    if (IsFileEntry(qvfa, entry, qvfa.GetPathName(entry))) qvfa.DeleteItem(entry, QVFA_DEL_IFEMPTY);
  }
  return 0;
}
