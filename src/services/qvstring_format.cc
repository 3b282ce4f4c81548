// CQVString::Format: printf-style formatting of UTF-16 text.
//
// Written here rather than over the C library's wide printf because wchar_t
// is 32 bits outside Windows, and because the library's format texts follow
// the Windows conventions (%s is UTF-16 text, I64 prefixes, 'l' means 32 bits
// even where long is 64 bits).
#include <charconv>
#include <cstdint>
#include <string>
#include <utility>

#include "qvbackup/qvstring.h"
#include "services/qvstring_text.h"

namespace {

using Text = std::basic_string<WCHAR>;

// Guards against a format text that would ask for gigabytes of padding.
constexpr int kMaxField = 1 << 20;

struct Conversion {
  bool leftAlign = false;
  bool zeroPad = false;
  bool plusSign = false;
  bool spaceSign = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;  // -1: none given
  int bits = 32;       // size of an integer argument
  WCHAR conversion = 0;
};

bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }

bool IsHighSurrogate(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }

void AppendAscii(const char* begin, const char* end, Text* out) {
  for (const char* p = begin; p != end; ++p) out->push_back(static_cast<WCHAR>(*p));
}

void AppendRepeated(WCHAR c, int count, Text* out) {
  if (count > 0) out->append(static_cast<std::size_t>(count), c);
}

class Formatter {
 public:
  Formatter(std::va_list& arguments, Text* out) : arguments_(arguments), out_(out) {}

  // False when a field is wider than kMaxField.
  bool Run(const WCHAR* format) {
    const WCHAR* p = format;
    while (*p != 0) {
      if (*p != '%') {
        out_->push_back(*p++);
        continue;
      }
      const WCHAR* next = Convert(p);
      if (next == nullptr) return false;
      p = next;
    }
    return true;
  }

 private:
  // Formats the conversion starting at the '%' `start`; returns where the
  // format text continues, or null on a field that is too wide.
  const WCHAR* Convert(const WCHAR* start) {
    Conversion fields;
    const WCHAR* p = ParseFlags(start + 1, &fields);
    p = ParseWidth(p, &fields);
    p = ParsePrecision(p, &fields);
    p = ParseSize(p, &fields);
    if (fields.width > kMaxField || fields.precision > kMaxField) return nullptr;
    if (*p == 0) {  // the text ends inside the conversion: keep it as it is
      out_->append(start, p);
      return p;
    }
    fields.conversion = *p++;
    if (!Emit(fields)) out_->append(start, p);
    return p;
  }

  static const WCHAR* ParseFlags(const WCHAR* p, Conversion* fields) {
    for (;; ++p) {
      switch (*p) {
        case '-': fields->leftAlign = true; break;
        case '0': fields->zeroPad = true; break;
        case '+': fields->plusSign = true; break;
        case ' ': fields->spaceSign = true; break;
        case '#': fields->alternate = true; break;
        default: return p;
      }
    }
  }

  // Reads a decimal number, saturating just above kMaxField.
  static const WCHAR* ParseNumber(const WCHAR* p, int* value) {
    *value = 0;
    for (; IsDigit(*p); ++p) {
      if (*value <= kMaxField) *value = *value * 10 + (*p - '0');
    }
    return p;
  }

  const WCHAR* ParseWidth(const WCHAR* p, Conversion* fields) {
    if (*p != '*') return ParseNumber(p, &fields->width);
    long long width = va_arg(arguments_, int);
    if (width < 0) {  // a negative width argument means left alignment
      fields->leftAlign = true;
      width = -width;
    }
    fields->width = width > kMaxField ? kMaxField + 1 : static_cast<int>(width);
    return p + 1;
  }

  const WCHAR* ParsePrecision(const WCHAR* p, Conversion* fields) {
    if (*p != '.') return p;
    ++p;
    if (*p != '*') return ParseNumber(p, &fields->precision);
    int precision = va_arg(arguments_, int);
    fields->precision = precision < 0 ? -1 : precision;
    return p + 1;
  }

  static bool StartsWith(const WCHAR* p, const char* prefix) {
    for (; *prefix != 0; ++p, ++prefix) {
      if (*p != static_cast<WCHAR>(*prefix)) return false;
    }
    return true;
  }

  static const WCHAR* ParseSize(const WCHAR* p, Conversion* fields) {
    if (StartsWith(p, "I64")) { fields->bits = 64; return p + 3; }
    if (StartsWith(p, "I32")) { fields->bits = 32; return p + 3; }
    if (StartsWith(p, "ll")) { fields->bits = 64; return p + 2; }
    if (*p == 'l') { fields->bits = 32; return p + 1; }
    if (*p == 'h') { fields->bits = 16; return p + 1; }
    return p;
  }

  // False for an unknown conversion, which the caller copies literally.
  bool Emit(const Conversion& fields) {
    switch (fields.conversion) {
      case '%': out_->push_back('%'); return true;
      case 'd': case 'i': EmitSigned(fields); return true;
      case 'u': case 'x': case 'X': case 'o': EmitUnsigned(fields); return true;
      case 'c': EmitCharacter(fields); return true;
      case 's': EmitText(fields); return true;
      default: return false;
    }
  }

  void EmitSigned(const Conversion& fields) {
    long long value;
    if (fields.bits == 64) {
      value = va_arg(arguments_, long long);
    } else {
      value = va_arg(arguments_, int);
      if (fields.bits == 16) value = static_cast<short>(value);
    }
    // Unsigned negation, so that the most negative value has a magnitude too.
    std::uint64_t magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) magnitude = 0 - magnitude;
    EmitInteger(fields, value < 0, magnitude);
  }

  void EmitUnsigned(const Conversion& fields) {
    std::uint64_t value;
    if (fields.bits == 64) {
      value = va_arg(arguments_, unsigned long long);
    } else {
      value = va_arg(arguments_, unsigned int);
      if (fields.bits == 16) value = static_cast<unsigned short>(value);
    }
    EmitInteger(fields, false, value);
  }

  static int BaseOf(WCHAR conversion) {
    if (conversion == 'x' || conversion == 'X') return 16;
    return conversion == 'o' ? 8 : 10;
  }

  static std::string PrefixOf(const Conversion& fields, bool negative, std::uint64_t magnitude) {
    bool isSigned = fields.conversion == 'd' || fields.conversion == 'i';
    if (negative) return "-";
    if (isSigned && fields.plusSign) return "+";
    if (isSigned && fields.spaceSign) return " ";
    if (fields.alternate && magnitude != 0 && fields.conversion == 'x') return "0x";
    if (fields.alternate && magnitude != 0 && fields.conversion == 'X') return "0X";
    return "";
  }

  void EmitInteger(const Conversion& fields, bool negative, std::uint64_t magnitude) {
    char digits[72];
    char* end = std::to_chars(digits, digits + sizeof digits, magnitude, BaseOf(fields.conversion)).ptr;
    if (fields.precision == 0 && magnitude == 0) end = digits;  // "%.0d" of 0 prints no digit
    if (fields.conversion == 'X') {
      for (char* d = digits; d != end; ++d) {
        if (*d >= 'a' && *d <= 'f') *d = static_cast<char>(*d - 'a' + 'A');
      }
    }
    int digitCount = static_cast<int>(end - digits);
    int zeros = fields.precision > digitCount ? fields.precision - digitCount : 0;
    if (fields.alternate && fields.conversion == 'o' && zeros == 0 && (digitCount == 0 || digits[0] != '0'))
      zeros = 1;  // "%#o" always starts with a 0
    std::string prefix = PrefixOf(fields, negative, magnitude);
    int padding = fields.width - static_cast<int>(prefix.size()) - zeros - digitCount;
    if (fields.zeroPad && !fields.leftAlign && fields.precision < 0) {
      zeros += padding > 0 ? padding : 0;
      padding = 0;
    }
    if (!fields.leftAlign) AppendRepeated(' ', padding, out_);
    AppendAscii(prefix.data(), prefix.data() + prefix.size(), out_);
    AppendRepeated('0', zeros, out_);
    AppendAscii(digits, end, out_);
    if (fields.leftAlign) AppendRepeated(' ', padding, out_);
  }

  void EmitPadded(const Conversion& fields, const WCHAR* text, std::size_t length) {
    int padding = fields.width - static_cast<int>(length);
    if (!fields.leftAlign) AppendRepeated(' ', padding, out_);
    out_->append(text, length);
    if (fields.leftAlign) AppendRepeated(' ', padding, out_);
  }

  void EmitCharacter(const Conversion& fields) {
    // A 0 code unit is dropped: the string never holds one.
    WCHAR c = static_cast<WCHAR>(va_arg(arguments_, int));
    EmitPadded(fields, &c, c != 0 ? 1 : 0);
  }

  void EmitText(const Conversion& fields) {
    static const WCHAR kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    const WCHAR* text = va_arg(arguments_, const WCHAR*);
    if (text == nullptr) text = kNull;
    // With a precision the text need not be terminated within it.
    std::size_t length = 0;
    std::size_t limit = fields.precision < 0 ? SIZE_MAX : static_cast<std::size_t>(fields.precision);
    while (length < limit && text[length] != 0) ++length;
    if (length == limit && length > 0 && IsHighSurrogate(text[length - 1])) --length;
    EmitPadded(fields, text, length);
  }

  std::va_list& arguments_;
  Text* out_;
};

}  // namespace

BOOL CQVString::FormatV(const WCHAR* format, std::va_list arguments) {
  if (format == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Built aside: an argument may point into our own text.
  Text result;
  std::va_list copy;
  va_copy(copy, arguments);
  bool done = Formatter(copy, &result).Run(format);
  va_end(copy);
  if (!done) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  m_strText = std::move(result);
  return TRUE;
}

BOOL CQVString::Format(const WCHAR* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  BOOL result = FormatV(format, arguments);
  va_end(arguments);
  return result;
}
