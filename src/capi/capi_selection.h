// What a host selects for a backup, a file list, a count or a list file.
#ifndef QVBACKUP_SRC_CAPI_CAPI_SELECTION_H_
#define QVBACKUP_SRC_CAPI_CAPI_SELECTION_H_

#include <string>
#include <utility>
#include <vector>

#include "capi_session.h"

struct qvb_selection {
  std::vector<qv::capi::WString> sources;
  std::vector<qv::capi::WString> masks;
  std::vector<qv::capi::WString> extensions;
  qv::capi::WString categories;
  std::vector<std::pair<int, qv::capi::WString>> exclusions;  // QVB_EXCLUDE_..., pattern
  qv::capi::WString partitions;
  qv::capi::WString base;
  qv::capi::WString groups;
};

#endif  // QVBACKUP_SRC_CAPI_CAPI_SELECTION_H_
