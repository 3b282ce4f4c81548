// XML documents over MSXML 6, reached through COM. Each document keeps the
// calling thread in a COM apartment for as long as a handle to it lives.
#include "platform/xml_document.h"

#include "platform/win32/com_ptr.h"
#include "platform/win32/win32_support.h"

#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>

#include <new>

namespace qv::platform {
namespace {

using win32::ComPtr;

// MinGW's headers do not define the version 6 class or this interface's id.
const CLSID kClsidDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const IID kIidXmlDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

// A BSTR freed when the object dies.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const WCHAR* text) : text_(SysAllocString(text)) {
    if (text != nullptr && text_ == nullptr) throw std::bad_alloc();
  }
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR Get() const { return text_; }
  BSTR* Receiver() {
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }
  WString Text() const { return text_ == nullptr ? WString() : WString(text_, SysStringLen(text_)); }

 private:
  BSTR text_ = nullptr;
};

VARIANT TextVariant(const Bstr& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text.Get();  // still owned by `text`
  return value;
}

// Keeps the thread in a COM apartment. A thread already in one of another
// kind (RPC_E_CHANGED_MODE) can use COM as it is and is left alone.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

// The apartment is declared first so that it is left after the document is
// released.
struct Document {
  ComApartment apartment;
  ComPtr<IXMLDOMDocument2> dom;
};

WString Trimmed(const WString& text) {
  const auto isSpace = [](WCHAR c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && isSpace(text[first])) ++first;
  while (last > first && isSpace(text[last - 1])) --last;
  return text.substr(first, last - first);
}

bool IsElement(IXMLDOMNode* node) {
  DOMNodeType type = NODE_INVALID;
  return SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT;
}

class MsxmlNode final : public XmlNode {
 public:
  MsxmlNode(std::shared_ptr<Document> document, IXMLDOMNode* node) : document_(std::move(document)), node_(node) {}
  ~MsxmlNode() override { node_.Reset(); }

  WString Name() const override {
    DOMNodeType type = NODE_INVALID;
    Bstr name;
    if (FAILED(node_->get_nodeType(&type)) || type == NODE_DOCUMENT) return WString();
    node_->get_nodeName(name.Receiver());
    return name.Text();
  }

  WString Text() const override {
    Bstr text;
    node_->get_text(text.Receiver());
    return Trimmed(text.Text());
  }

  bool Attribute(const WCHAR* name, WString* value) const override {
    if (name == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    ComPtr<IXMLDOMNode> item;
    const Bstr attributeName(name);
    if (!Attributes(&attributes) || attributes->getNamedItem(attributeName.Get(), item.Receiver()) != S_OK ||
        item.Get() == nullptr) {
      return FailWith(ERROR_NOT_FOUND);
    }
    return ReadText(item.Get(), value);
  }

  DWORD AttributeCount() const override {
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    long length = 0;
    if (!Attributes(&attributes) || FAILED(attributes->get_length(&length))) return 0;
    return static_cast<DWORD>(length);
  }

  bool AttributeAt(DWORD index, WString* name, WString* value) const override {
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    ComPtr<IXMLDOMNode> item;
    if (!Attributes(&attributes) || index > 0x7fffffff ||
        attributes->get_item(static_cast<long>(index), item.Receiver()) != S_OK || item.Get() == nullptr) {
      return FailWith(ERROR_NOT_FOUND);
    }
    Bstr itemName;
    if (FAILED(item->get_nodeName(itemName.Receiver()))) return FailWith(ERROR_NOT_FOUND);
    *name = itemName.Text();
    return ReadText(item.Get(), value);
  }

  std::unique_ptr<XmlNode> Parent() const override {
    IXMLDOMNode* parent = nullptr;
    node_->get_parentNode(&parent);
    return Wrap(parent);
  }

  std::unique_ptr<XmlNode> FirstChild() const override {
    IXMLDOMNode* child = nullptr;
    node_->get_firstChild(&child);
    return Wrap(FirstElementFrom(child));
  }

  std::unique_ptr<XmlNode> NextSibling() const override {
    IXMLDOMNode* sibling = nullptr;
    node_->get_nextSibling(&sibling);
    return Wrap(FirstElementFrom(sibling));
  }

  std::unique_ptr<XmlNode> Clone() const override {
    node_->AddRef();
    return Wrap(node_.Get());
  }

  std::unique_ptr<XmlNode> SelectSingle(const WCHAR* xpath) const override {
    ComPtr<IXMLDOMNodeList> found;
    if (!Select(xpath, &found)) return nullptr;
    for (;;) {
      IXMLDOMNode* hit = nullptr;
      if (found->nextNode(&hit) != S_OK || hit == nullptr) break;
      if (IsElement(hit)) return Wrap(hit);
      hit->Release();
    }
    FailWith(ERROR_NOT_FOUND);
    return nullptr;
  }

  bool Count(const WCHAR* xpath, DWORD* count) const override {
    ComPtr<IXMLDOMNodeList> found;
    long length = 0;
    if (!Select(xpath, &found) || FAILED(found->get_length(&length))) return false;
    *count = static_cast<DWORD>(length);
    return true;
  }

 private:
  bool Attributes(ComPtr<IXMLDOMNamedNodeMap>* attributes) const {
    return node_->get_attributes(attributes->Receiver()) == S_OK && attributes->Get() != nullptr;
  }

  static bool ReadText(IXMLDOMNode* node, WString* value) {
    Bstr text;
    if (FAILED(node->get_text(text.Receiver()))) return FailWith(ERROR_INVALID_DATA);
    *value = text.Text();
    return true;
  }

  // Takes over `node` (one reference) and skips to the first element at or
  // after it; null when there is none.
  static IXMLDOMNode* FirstElementFrom(IXMLDOMNode* node) {
    while (node != nullptr && !IsElement(node)) {
      IXMLDOMNode* next = nullptr;
      node->get_nextSibling(&next);
      node->Release();
      node = next;
    }
    return node;
  }

  // Takes over one reference to `node`.
  std::unique_ptr<XmlNode> Wrap(IXMLDOMNode* node) const {
    if (node == nullptr) {
      FailWith(ERROR_NOT_FOUND);
      return nullptr;
    }
    return std::make_unique<MsxmlNode>(document_, node);
  }

  bool Select(const WCHAR* xpath, ComPtr<IXMLDOMNodeList>* found) const {
    if (xpath == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
    const Bstr expression(xpath);
    if (node_->selectNodes(expression.Get(), found->Receiver()) != S_OK || found->Get() == nullptr) {
      return FailWith(ERROR_INVALID_PARAMETER);
    }
    return true;
  }

  std::shared_ptr<Document> document_;
  ComPtr<IXMLDOMNode> node_;
};

// A new, empty document that reads no DTD and nothing external, searched
// with XPath.
std::shared_ptr<Document> NewDocument() {
  auto document = std::make_shared<Document>();
  const HRESULT created = CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                                           reinterpret_cast<void**>(document->dom.Receiver()));
  if (FAILED(created) || document->dom.Get() == nullptr) {
    FailWith(HRESULT_FACILITY(created) == FACILITY_WIN32 ? HRESULT_CODE(created) : ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  IXMLDOMDocument2* dom = document->dom.Get();
  dom->put_async(VARIANT_FALSE);
  dom->put_validateOnParse(VARIANT_FALSE);
  dom->put_resolveExternals(VARIANT_FALSE);
  const Bstr property(L"SelectionLanguage");
  const Bstr language(L"XPath");
  dom->setProperty(property.Get(), TextVariant(language));
  return document;
}

std::unique_ptr<XmlNode> Parsed(const std::shared_ptr<Document>& document, HRESULT result, VARIANT_BOOL loaded) {
  if (result == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(result) || loaded != VARIANT_TRUE) {
    FailWith(ERROR_INVALID_DATA);
    return nullptr;
  }
  IXMLDOMNode* root = nullptr;
  document->dom->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(&root));
  if (root == nullptr) {
    FailWith(ERROR_INVALID_DATA);
    return nullptr;
  }
  return std::make_unique<MsxmlNode>(document, root);
}

}  // namespace

std::unique_ptr<XmlNode> LoadXmlFile(const WCHAR* path) {
  if (path == nullptr) {
    FailWith(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The parser resolves a relative path against a base of its own (the
  // program's folder), not the current folder as every other file
  // operation does: it gets the full path.
  WCHAR full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(path, static_cast<DWORD>(sizeof(full) / sizeof(full[0])), full, nullptr);
  if (length == 0 || length >= sizeof(full) / sizeof(full[0])) {
    FailWith(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  // The parser's own reasons for a missing file are not Windows error
  // numbers; ask the file system first.
  const DWORD attributes = GetFileAttributesW(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) return nullptr;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    FailWith(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  std::shared_ptr<Document> document = NewDocument();
  if (document == nullptr) return nullptr;
  const Bstr source(full);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT result = document->dom->load(TextVariant(source), &loaded);
  return Parsed(document, result, loaded);
}

std::unique_ptr<XmlNode> LoadXmlText(const WCHAR* text) {
  if (text == nullptr) {
    FailWith(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<Document> document = NewDocument();
  if (document == nullptr) return nullptr;
  const Bstr source(text);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT result = document->dom->loadXML(source.Get(), &loaded);
  return Parsed(document, result, loaded);
}

}  // namespace qv::platform
