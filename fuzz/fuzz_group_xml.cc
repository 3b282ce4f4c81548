// The extension-group file "GpExt.xml" as the engine reads it from its
// base folder: every category's group enumerated, and the extensions it
// gives must come from the file's own bytes. Input: the file.
#include <cstddef>
#include <cstdint>

#include "fuzz_helpers.h"
#include "qvbackup/qvbackupengine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qvfuzz::TempRoot root;
  static const qvfuzz::WString folder = qvfuzz::DrivePath(root.path()) + QVT("\\");
  qvfuzz::WriteBytes(root.path() / "GpExt.xml", data, size);

  CQVBackupEngine engine(nullptr);
  engine.m_strEnvironementPath = folder.c_str();
  static const WCHAR* const kGroups[] = {QVT("Pictures"), QVT("Music"), QVT("Video"), QVT("Offices"),
                                         QVT("Mail"),     QVT("Financial"), QVT("")};
  for (const WCHAR* group : kGroups) {
    CQVStringArray extensions(0);
    QV_ARCHIVE_PROFILE_BACKUP profile{};
    engine.GroupExt_EnumerateExtensionsInGroup(group, extensions, profile);
    for (DWORD i = 0; i < extensions.GetSize(); ++i) {
      const CQVString extension = extensions.GetAt(i);
      // Every character read comes from at least one byte of the file.
      qvfuzz::Require(extension.GetLength() <= size, "an extension longer than its file");
    }
  }
  return 0;
}
