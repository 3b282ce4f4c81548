#include "remote/remote_names.h"

#include "remote/rclone_remote.h"
#include "remote/remote_commit.h"
#include "remote/remote_upload.h"

namespace qv::remote {

namespace {

WString W(const char* text) { return platform::Utf8ToUtf16(text); }

bool IsNumber(const WString& text) {
  if (text.empty() || text.size() > 9) return false;
  for (WCHAR c : text) {
    if (c < '0' || c > '9') return false;
  }
  return text[0] != '0';
}

bool EndsWith(const WString& text, const WString& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool IsVolumeOf(const WString& file, const WString& name) {
  const WString prefix = name + W(".");
  if (file.size() <= prefix.size() || file.compare(0, prefix.size(), prefix) != 0) return false;
  WString rest = file.substr(prefix.size());
  WString ending;
  for (const char* kind : {"QVA", "exe"}) {
    if (rest == W(kind)) return true;
    if (EndsWith(rest, W(".") + W(kind))) ending = W(".") + W(kind);
  }
  if (ending.empty()) return false;
  rest.resize(rest.size() - ending.size());
  // [I<k>.]<v>, or I<k> alone.
  const std::size_t dot = rest.find('.');
  WString increment = dot == WString::npos ? WString() : rest.substr(0, dot);
  WString volume = dot == WString::npos ? rest : rest.substr(dot + 1);
  if (dot == WString::npos && !volume.empty() && volume[0] == 'I') {
    increment = volume;
    volume.clear();
  }
  if (!increment.empty() && (increment[0] != 'I' || !IsNumber(increment.substr(1)))) return false;
  if (dot != WString::npos && increment.empty()) return false;
  return volume.empty() ? !increment.empty() : IsNumber(volume);
}

bool IsLeftoverOf(const WString& file, const WString& name) {
  WString stem = file;
  const std::size_t part = stem.rfind(W(".qvpart-"));
  const bool sending = part != WString::npos;
  if (sending) stem.resize(part);
  const WString sent = SentName(WString());
  const bool unplaced = EndsWith(stem, sent);
  if (unplaced) stem.resize(stem.size() - sent.size());
  if (!sending && !unplaced) return false;
  return IsVolumeOf(stem, name) || (sending && stem == RecordName(name));
}

}  // namespace qv::remote
