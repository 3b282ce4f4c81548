#include "engine/system_file_names.h"

namespace qv::engine {

bool IsSystemFileName(std::basic_string_view<WCHAR> loweredName) {
  for (const WCHAR* name : SYSTEM_FILE_NAMES) {
    if (loweredName == name) return true;
  }
  return false;
}

}  // namespace qv::engine
