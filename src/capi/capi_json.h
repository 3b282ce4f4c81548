// Reading the commands' JSON answers whole. A saved name need not be text:
// a POSIX name byte that is not UTF-8 (or a Windows name's lone surrogate)
// reaches the answer as a lone surrogate escape ("\udcff"), which JSON
// readers refuse. The answer is read with each one kept under a marker and
// given back, in every text of it, as the library spells such a name in
// UTF-8 (the name's own bytes on POSIX).
#ifndef QVBACKUP_SRC_CAPI_CAPI_JSON_H_
#define QVBACKUP_SRC_CAPI_CAPI_JSON_H_

#include <string>

#include <nlohmann/json.hpp>

namespace qv::capi {

// The answer `text` read into *answer; false when it is no JSON object.
bool ReadAnswer(const std::string& text, nlohmann::json* answer);

}  // namespace qv::capi

#endif  // QVBACKUP_SRC_CAPI_CAPI_JSON_H_
