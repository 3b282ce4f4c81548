#include "capi_json.h"

#include <cstdio>

#include "capi_session.h"

namespace qv::capi {

namespace {

// U+0001 marks a unit kept aside: followed by U+0001 it is itself, followed
// by four hexadecimal digits it is that UTF-16 unit. (The commands escape
// every control character, U+0001 among them.)
constexpr char kMarker = '\x01';

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The JSON text with each "\uD800".."\uDFFF" escape made "\u0001" and its
// four digits, and each "\u0001" doubled.
std::string KeepSurrogatesAside(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out.push_back(text[i]);
      continue;
    }
    if (text[i + 1] != 'u' || i + 5 >= text.size() || !IsHex(text[i + 2]) || !IsHex(text[i + 3]) ||
        !IsHex(text[i + 4]) || !IsHex(text[i + 5])) {
      out.append(text, i, 2);  // another escape, "\\" included
      ++i;
      continue;
    }
    const std::string digits = text.substr(i + 2, 4);
    const unsigned long unit = std::stoul(digits, nullptr, 16);
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += "\\u0001" + digits;
    } else if (unit == 0x0001) {
      out += "\\u0001\\u0001";
    } else {
      out.append(text, i, 6);
    }
    i += 5;
  }
  return out;
}

// A text of the answer with its kept units given back.
std::string GiveBack(const std::string& text) {
  if (text.find(kMarker) == std::string::npos) return text;
  const WString wide = Wide(text);
  WString out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] != kMarker || i + 1 >= wide.size()) {
      out.push_back(wide[i]);
    } else if (wide[i + 1] == kMarker) {
      out.push_back(kMarker);
      ++i;
    } else if (i + 4 < wide.size()) {
      const std::string digits(wide.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                               wide.begin() + static_cast<std::ptrdiff_t>(i) + 5);
      out.push_back(static_cast<WCHAR>(std::stoul(digits, nullptr, 16)));
      i += 4;
    } else {
      out.push_back(wide[i]);
    }
  }
  return Utf8(out);
}

void GiveBackAll(nlohmann::json& value) {
  if (value.is_string()) {
    value = GiveBack(value.get_ref<const std::string&>());
  } else if (value.is_array() || value.is_object()) {
    for (auto& item : value) GiveBackAll(item);
  }
}

}  // namespace

bool ReadAnswer(const std::string& text, nlohmann::json* answer) {
  *answer = nlohmann::json::parse(KeepSurrogatesAside(text), nullptr, false);
  if (!answer->is_object()) {
    *answer = nlohmann::json::object();
    return false;
  }
  GiveBackAll(*answer);
  return true;
}

}  // namespace qv::capi
