// XML documents over pugixml, which keeps text as UTF-8; names and texts are
// converted at this edge.
#include "platform/xml_document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <pugixml.hpp>

#include "platform/posix/descriptor.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {
namespace {

using posix::Descriptor;
using posix::FailWith;
using Document = std::shared_ptr<pugi::xml_document>;

bool IsXmlSpace(WCHAR c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

WString Trimmed(const WString& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsXmlSpace(text[first])) ++first;
  while (last > first && IsXmlSpace(text[last - 1])) --last;
  return text.substr(first, last - first);
}

void AppendDescendantText(pugi::xml_node node, std::string* text) {
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text->append(child.value());
    } else if (child.type() == pugi::node_element) {
      AppendDescendantText(child, text);
    }
  }
}

pugi::xml_node NextElement(pugi::xml_node node) {
  while (node && node.type() != pugi::node_element) node = node.next_sibling();
  return node;
}

// Compiles `xpath`; false with ERROR_INVALID_PARAMETER when it does not
// parse or does not yield a node set.
bool Compile(const WCHAR* xpath, std::unique_ptr<pugi::xpath_query>* query) {
  if (xpath == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  try {
    *query = std::make_unique<pugi::xpath_query>(Utf16ToUtf8(xpath).c_str());
  } catch (const pugi::xpath_exception&) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (!**query || (*query)->return_type() != pugi::xpath_type_node_set) return FailWith(ERROR_INVALID_PARAMETER);
  return true;
}

class PugiNode final : public XmlNode {
 public:
  PugiNode(Document document, pugi::xml_node node) : document_(std::move(document)), node_(node) {}

  WString Name() const override { return Utf8ToUtf16(node_.name()); }

  WString Text() const override {
    std::string text;
    AppendDescendantText(node_, &text);
    return Trimmed(Utf8ToUtf16(text));
  }

  bool Attribute(const WCHAR* name, WString* value) const override {
    if (name == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
    pugi::xml_attribute attribute = node_.attribute(Utf16ToUtf8(name).c_str());
    if (!attribute) return FailWith(ERROR_NOT_FOUND);
    *value = Utf8ToUtf16(attribute.value());
    return true;
  }

  DWORD AttributeCount() const override {
    DWORD count = 0;
    for (auto it = node_.attributes_begin(); it != node_.attributes_end(); ++it) ++count;
    return count;
  }

  bool AttributeAt(DWORD index, WString* name, WString* value) const override {
    for (pugi::xml_attribute attribute : node_.attributes()) {
      if (index-- != 0) continue;
      *name = Utf8ToUtf16(attribute.name());
      *value = Utf8ToUtf16(attribute.value());
      return true;
    }
    return FailWith(ERROR_NOT_FOUND);
  }

  std::unique_ptr<XmlNode> Parent() const override { return Wrap(node_.parent()); }
  std::unique_ptr<XmlNode> FirstChild() const override { return Wrap(NextElement(node_.first_child())); }
  std::unique_ptr<XmlNode> NextSibling() const override { return Wrap(NextElement(node_.next_sibling())); }
  std::unique_ptr<XmlNode> Clone() const override { return Wrap(node_); }

  std::unique_ptr<XmlNode> SelectSingle(const WCHAR* xpath) const override {
    std::unique_ptr<pugi::xpath_query> query;
    if (!Compile(xpath, &query)) return nullptr;
    pugi::xpath_node_set found = node_.select_nodes(*query);
    found.sort();
    for (const pugi::xpath_node& hit : found) {
      if (hit.node().type() == pugi::node_element) return Wrap(hit.node());
    }
    FailWith(ERROR_NOT_FOUND);
    return nullptr;
  }

  bool Count(const WCHAR* xpath, DWORD* count) const override {
    std::unique_ptr<pugi::xpath_query> query;
    if (!Compile(xpath, &query)) return false;
    *count = static_cast<DWORD>(node_.select_nodes(*query).size());
    return true;
  }

 private:
  std::unique_ptr<XmlNode> Wrap(pugi::xml_node node) const {
    if (!node) {
      FailWith(ERROR_NOT_FOUND);
      return nullptr;
    }
    return std::make_unique<PugiNode>(document_, node);
  }

  Document document_;
  pugi::xml_node node_;
};

std::unique_ptr<XmlNode> Parsed(Document document, const pugi::xml_parse_result& result) {
  switch (result.status) {
    case pugi::status_ok:
      return std::make_unique<PugiNode>(document, *document);
    case pugi::status_file_not_found:
      FailWith(ERROR_FILE_NOT_FOUND);
      return nullptr;
    case pugi::status_io_error:
      FailWith(ERROR_READ_FAULT);
      return nullptr;
    case pugi::status_out_of_memory:
      throw std::bad_alloc();
    default:
      FailWith(ERROR_INVALID_DATA);
      return nullptr;
  }
}

// POSIX says ENOENT for a missing file and for a missing folder on the way
// to it; Windows tells them apart (2 and 3).
bool FailMissingOr(const std::string& path, int errnoValue) {
  if (errnoValue == ENOENT) {
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
    struct stat data;
    if (stat(parent.c_str(), &data) != 0 || !S_ISDIR(data.st_mode)) return FailWith(ERROR_PATH_NOT_FOUND);
  }
  return posix::FailWithErrno(errnoValue);
}

// The whole content of the regular file `path`. A folder fails with
// ERROR_ACCESS_DENIED, as opening one does on Windows.
bool ReadWholeFile(const std::string& path, std::string* content) {
  const Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) return FailMissingOr(path, errno);
  struct stat data;
  if (fstat(file.Get(), &data) != 0) return posix::FailWithErrno(errno);
  if (S_ISDIR(data.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
  if (!S_ISREG(data.st_mode)) return FailWith(ERROR_FILE_NOT_FOUND);
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(file.Get(), buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return posix::FailWithErrno(errno);
    if (got == 0) return true;
    content->append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::unique_ptr<XmlNode> LoadXmlFile(const WCHAR* path) {
  posix::NativePath native;
  std::string content;
  if (path == nullptr) {
    FailWith(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!posix::NativePathOf(path, &native) || !ReadWholeFile(native.path, &content)) return nullptr;
  auto document = std::make_shared<pugi::xml_document>();
  return Parsed(document, document->load_buffer(content.data(), content.size(), pugi::parse_default,
                                                pugi::encoding_auto));
}

std::unique_ptr<XmlNode> LoadXmlText(const WCHAR* text) {
  if (text == nullptr) {
    FailWith(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string utf8 = Utf16ToUtf8(text);
  auto document = std::make_shared<pugi::xml_document>();
  return Parsed(document, document->load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8));
}

}  // namespace qv::platform
