// Selections: sources, filters, exclusions and the profile's drives, kept
// as the commands will be given them.
#include "capi_selection.h"

#include <new>

namespace {

using qv::capi::WString;

// `text` read as UTF-8 into *out; false for null or empty.
bool Given(const char* text, WString* out) {
  if (text == nullptr || *text == 0) return false;
  *out = qv::capi::Wide(text);
  return true;
}

// `text` read as UTF-16 from the host into *out; false for null or empty.
bool Given(const qvb_char16* text, WString* out) { return qv::capi::WideFromHost(text, out) && !out->empty(); }

template <typename Text>
int AddTo(std::vector<WString>* list, const Text* text) {
  WString value;
  if (!Given(text, &value)) return QVB_ERROR_INVALID_PARAMETER;
  list->push_back(std::move(value));
  return QVB_OK;
}

template <typename Text>
int Exclude(qvb_selection* selection, int what, const Text* pattern) {
  WString value;
  if (selection == nullptr || what < QVB_EXCLUDE_ANY || what > QVB_EXCLUDE_EXTENSION || !Given(pattern, &value)) {
    return QVB_ERROR_INVALID_PARAMETER;
  }
  selection->exclusions.emplace_back(what, std::move(value));
  return QVB_OK;
}

// A text that may be cleared: null or "" clears it.
int Set(WString* field, const char* text) {
  field->clear();
  if (text != nullptr) *field = qv::capi::Wide(text);
  return QVB_OK;
}

}  // namespace

extern "C" {

QVB_API qvb_selection* qvb_selection_new(void) { return new (std::nothrow) qvb_selection(); }

QVB_API void qvb_selection_free(qvb_selection* selection) { delete selection; }

QVB_API int qvb_selection_add_source(qvb_selection* selection, const char* path) {
  return selection == nullptr ? QVB_ERROR_INVALID_PARAMETER : AddTo(&selection->sources, path);
}

QVB_API int qvb_selection_add_source_w(qvb_selection* selection, const qvb_char16* path) {
  return selection == nullptr ? QVB_ERROR_INVALID_PARAMETER : AddTo(&selection->sources, path);
}

QVB_API int qvb_selection_add_mask(qvb_selection* selection, const char* mask) {
  return selection == nullptr ? QVB_ERROR_INVALID_PARAMETER : AddTo(&selection->masks, mask);
}

QVB_API int qvb_selection_add_extension(qvb_selection* selection, const char* extension) {
  return selection == nullptr ? QVB_ERROR_INVALID_PARAMETER : AddTo(&selection->extensions, extension);
}

QVB_API int qvb_selection_set_categories(qvb_selection* selection, const char* categories) {
  return selection == nullptr ? QVB_ERROR_INVALID_PARAMETER : Set(&selection->categories, categories);
}

QVB_API int qvb_selection_exclude(qvb_selection* selection, int what, const char* pattern) {
  return Exclude(selection, what, pattern);
}

QVB_API int qvb_selection_exclude_w(qvb_selection* selection, int what, const qvb_char16* pattern) {
  return Exclude(selection, what, pattern);
}

QVB_API int qvb_selection_set_partitions(qvb_selection* selection, const char* letters) {
  return selection == nullptr ? QVB_ERROR_INVALID_PARAMETER : Set(&selection->partitions, letters);
}

QVB_API int qvb_selection_set_base(qvb_selection* selection, const char* folder) {
  return selection == nullptr ? QVB_ERROR_INVALID_PARAMETER : Set(&selection->base, folder);
}

QVB_API int qvb_selection_set_groups(qvb_selection* selection, const char* folder) {
  return selection == nullptr ? QVB_ERROR_INVALID_PARAMETER : Set(&selection->groups, folder);
}

}  // extern "C"
