// The XML service over the platform's XML documents.
#include "services/qvxml.h"

#include <memory>
#include <new>
#include <vector>

#include "platform/text.h"
#include "platform/xml_document.h"

namespace {

using qv::WString;
using qv::platform::XmlNode;

constexpr LONG kSuccess = 0;

// Sets the last error and gives the failure result for it.
LONG Failure(DWORD error) {
  SetLastError(error);
  return QVXmlFailure(error);
}

BSTR NewBstr(const WString& text) {
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) throw std::bad_alloc();
  return copy;
}

LONG HandOutBstr(const WString& text, BSTR* out) {
  if (out == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  *out = NewBstr(text);
  return kSuccess;
}

class Attribute final : public CQVXmlAttribute {
 public:
  Attribute(WString name, WString value) : name_(std::move(name)), value_(std::move(value)) {}
  ~Attribute() = default;

  BSTR GetValue() override { return SysAllocStringLen(value_.data(), static_cast<UINT>(value_.size())); }
  BSTR GetName() override { return SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size())); }

 private:
  WString name_;
  WString value_;
};

class Node final : public CQVXmlNode {
 public:
  explicit Node(std::unique_ptr<XmlNode> node)
      : node_(std::move(node)), name_(node_->Name()) {}

  // Hands out `node` through `out`; a null `node` failed with the last error.
  static LONG HandOut(std::unique_ptr<XmlNode> node, CQVXmlNode** out) {
    if (node == nullptr) return Failure(GetLastError());
    *out = new Node(std::move(node));
    return kSuccess;
  }

  const WCHAR* GetName() override { return name_.c_str(); }

  LONG GetParent(CQVXmlNode** ppNode) override {
    if (!Clear(ppNode)) return Failure(ERROR_INVALID_PARAMETER);
    std::unique_ptr<XmlNode> parent = node_->Parent();
    // The document itself is not an element.
    if (parent != nullptr && parent->Parent() == nullptr) return Failure(ERROR_NOT_FOUND);
    return HandOut(std::move(parent), ppNode);
  }

  LONG GetFirstChild(CQVXmlNode** ppNode) override {
    if (!Clear(ppNode)) return Failure(ERROR_INVALID_PARAMETER);
    return HandOut(node_->FirstChild(), ppNode);
  }

  LONG GetNextSibling(CQVXmlNode** ppNode) override {
    if (!Clear(ppNode)) return Failure(ERROR_INVALID_PARAMETER);
    return HandOut(node_->NextSibling(), ppNode);
  }

  DWORD GetChildCount() override {
    DWORD count = 0;
    for (auto child = node_->FirstChild(); child != nullptr; child = child->NextSibling()) ++count;
    return count;
  }

  LONG SelectSingleNode(const WCHAR* pszXPath, CQVXmlNode** ppNode) override {
    if (!Clear(ppNode)) return Failure(ERROR_INVALID_PARAMETER);
    return HandOut(node_->SelectSingle(pszXPath), ppNode);
  }

  LONG CountNodes(const WCHAR* pszXPath, DWORD* pdwCount) override {
    if (pdwCount == nullptr) return Failure(ERROR_INVALID_PARAMETER);
    return node_->Count(pszXPath, pdwCount) ? kSuccess : Failure(GetLastError());
  }

  DWORD GetAttributeCount() override { return node_->AttributeCount(); }

  LONG GetAttributeAt(DWORD dwIndex, CQVXmlAttribute** ppAttribute) override {
    if (ppAttribute == nullptr) return Failure(ERROR_INVALID_PARAMETER);
    *ppAttribute = nullptr;
    WString name;
    WString value;
    if (!node_->AttributeAt(dwIndex, &name, &value)) return Failure(GetLastError());
    *ppAttribute = Keep(std::move(name), std::move(value));
    return kSuccess;
  }

  BOOL HasAttribute(const WCHAR* pszName) override {
    WString value;
    return node_->Attribute(pszName, &value) ? TRUE : FALSE;
  }

  LONG GetAttributeText(const WCHAR* pszName, BSTR* pbstrValue) override {
    if (pbstrValue == nullptr) return Failure(ERROR_INVALID_PARAMETER);
    *pbstrValue = nullptr;
    WString value;
    if (!node_->Attribute(pszName, &value)) return Failure(GetLastError());
    return HandOutBstr(value, pbstrValue);
  }

  LONG GetTextCopy(BSTR* pbstrText) override { return HandOutBstr(GetText(), pbstrText); }

  DWORD GetDepth() override {
    DWORD depth = 0;
    for (auto up = node_->Parent(); up != nullptr; up = up->Parent()) ++depth;
    return depth;
  }

  LONG GetAttribute(const WCHAR* pszName, CQVXmlAttribute** ppAttribute) override {
    if (ppAttribute == nullptr) return Failure(ERROR_INVALID_PARAMETER);
    *ppAttribute = nullptr;
    WString value;
    if (!node_->Attribute(pszName, &value)) return Failure(GetLastError());
    *ppAttribute = Keep(pszName, std::move(value));
    return kSuccess;
  }

  LONG FindChild(const WCHAR* pszName, CQVXmlNode** ppNode) override {
    if (!Clear(ppNode) || pszName == nullptr) return Failure(ERROR_INVALID_PARAMETER);
    for (auto child = node_->FirstChild(); child != nullptr; child = child->NextSibling()) {
      if (child->Name() == pszName) return HandOut(std::move(child), ppNode);
    }
    return Failure(ERROR_NOT_FOUND);
  }

  LONG Clone(CQVXmlNode** ppNode) override {
    if (!Clear(ppNode)) return Failure(ERROR_INVALID_PARAMETER);
    return HandOut(node_->Clone(), ppNode);
  }

  const WCHAR* GetText() override {
    // Read on first use: the text of a large element is costly to gather.
    if (!textRead_) {
      text_ = node_->Text();
      textRead_ = true;
    }
    return text_.c_str();
  }

  LONG GetChildText(const WCHAR* pszName, BSTR* pbstrText) override {
    if (pbstrText == nullptr) return Failure(ERROR_INVALID_PARAMETER);
    *pbstrText = nullptr;
    CQVXmlNode* child = nullptr;
    const LONG found = FindChild(pszName, &child);
    if (found != kSuccess) return found;
    const LONG result = HandOutBstr(child->GetText(), pbstrText);
    child->Release();
    return result;
  }

  void Release() override { delete this; }

 private:
  ~Node() = default;

  static bool Clear(CQVXmlNode** out) {
    if (out == nullptr) return false;
    *out = nullptr;
    return true;
  }

  CQVXmlAttribute* Keep(WString name, WString value) {
    attributes_.push_back(std::make_unique<Attribute>(std::move(name), std::move(value)));
    return attributes_.back().get();
  }

  std::unique_ptr<XmlNode> node_;
  const WString name_;
  WString text_;
  bool textRead_ = false;
  std::vector<std::unique_ptr<Attribute>> attributes_;
};

class XmlService final : public CQVXml {
 public:
  LONG Load(const WCHAR* pszPath) override {
    Close();
    document_ = qv::platform::LoadXmlFile(pszPath);
    if (document_ == nullptr) return Fail(GetLastError());
    path_ = pszPath;
    return kSuccess;
  }

  LONG LoadXml(const WCHAR* pszXml) override {
    Close();
    document_ = qv::platform::LoadXmlText(pszXml);
    return document_ != nullptr ? kSuccess : Fail(GetLastError());
  }

  BOOL IsLoaded() override { return document_ != nullptr ? TRUE : FALSE; }

  LONG GetRoot(CQVXmlNode** ppNode) override {
    if (ppNode == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *ppNode = nullptr;
    if (document_ == nullptr) return Fail(ERROR_INVALID_STATE);
    return Noted(Node::HandOut(document_->FirstChild(), ppNode));
  }

  LONG SelectSingleNode(const WCHAR* pszXPath, CQVXmlNode** ppNode) override {
    if (ppNode == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *ppNode = nullptr;
    if (document_ == nullptr) return Fail(ERROR_INVALID_STATE);
    return Noted(Node::HandOut(document_->SelectSingle(pszXPath), ppNode));
  }

  LONG CountNodes(const WCHAR* pszXPath, DWORD* pdwCount) override {
    if (pdwCount == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (document_ == nullptr) return Fail(ERROR_INVALID_STATE);
    return document_->Count(pszXPath, pdwCount) ? kSuccess : Fail(GetLastError());
  }

  DWORD GetLastErrorCode() override { return lastError_; }

  const WCHAR* GetDocumentPath() override { return path_.c_str(); }

  void Close() override {
    document_.reset();
    path_.clear();
  }

 private:
  LONG Fail(DWORD error) {
    lastError_ = error;
    return Failure(error);
  }

  LONG Noted(LONG result) {
    if (result != kSuccess) lastError_ = GetLastError();
    return result;
  }

  std::unique_ptr<XmlNode> document_;
  WString path_;
  DWORD lastError_ = 0;
};

}  // namespace

CQVXml* GetQVXmlInterface(DWORD dwType) {
  if (dwType != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  static XmlService* const instance = new XmlService;
  return instance;
}
