// The XML service: reads an XML document and finds its elements with XPath
// 1.0 ("/gpext/groupe[2]/extension[1]").
//
// GetQVXmlInterface gives the service object (CQVXml), which holds at most
// one document. Elements come out as node objects (CQVXmlNode) that the
// caller releases; attributes come out as attribute objects
// (CQVXmlAttribute) that belong to the node they came from and die with it.
//
// Results typed LONG are 0 on success and, on failure, 0x80070000 | the
// Windows error number, a negative number; the error number is also the
// thread's last error. Texts handed out as BSTR are the caller's, freed with
// SysFreeString; texts handed out as const WCHAR* belong to the object and
// stay valid until it is released.
//
// The order of the virtual operations below is the service's binary
// interface: callers reach them by their slot in the virtual table (the
// slot of each is noted). New operations go after the last one; none is
// ever moved. No class has a public destructor: nodes end with Release, the
// service object lives as long as the process.
#ifndef QVBACKUP_SERVICES_QVXML_H_
#define QVBACKUP_SERVICES_QVXML_H_

#include "platform/system_string.h"
#include "qvbackup/wintypes.h"

// The failure result for the Windows error number `error`.
constexpr LONG QVXmlFailure(DWORD error) { return static_cast<LONG>(0x80070000u | (error & 0xFFFFu)); }

class CQVXmlAttribute {
 public:
  // Slot 0: the attribute's value; null only when memory runs out.
  virtual BSTR GetValue() = 0;
  // Slot 1: the attribute's name.
  virtual BSTR GetName() = 0;

 protected:
  ~CQVXmlAttribute() = default;
};

class CQVXmlNode {
 public:
  // Slot 0: the element's name ("groupe").
  virtual const WCHAR* GetName() = 0;
  // Slots 1 to 3: the parent element, the first child element, the next
  // sibling element, as a new node in `*ppNode`. Failure ERROR_NOT_FOUND
  // when there is none (the document element has no parent element).
  virtual LONG GetParent(CQVXmlNode** ppNode) = 0;
  virtual LONG GetFirstChild(CQVXmlNode** ppNode) = 0;
  virtual LONG GetNextSibling(CQVXmlNode** ppNode) = 0;
  // Slot 4: the number of child elements.
  virtual DWORD GetChildCount() = 0;
  // Slot 5: the first element that `pszXPath` selects, searched from this
  // element (relative paths start here, "/" at the document). Failure
  // ERROR_NOT_FOUND when none matches, ERROR_INVALID_PARAMETER for an
  // expression that does not parse.
  virtual LONG SelectSingleNode(const WCHAR* pszXPath, CQVXmlNode** ppNode) = 0;
  // Slot 6: the number of nodes `pszXPath` selects from this element.
  virtual LONG CountNodes(const WCHAR* pszXPath, DWORD* pdwCount) = 0;
  // Slot 7: the number of the element's attributes.
  virtual DWORD GetAttributeCount() = 0;
  // Slot 8: the attribute at `dwIndex` (from 0, in document order).
  // Failure ERROR_NOT_FOUND past the last.
  virtual LONG GetAttributeAt(DWORD dwIndex, CQVXmlAttribute** ppAttribute) = 0;
  // Slot 9: TRUE when the element has the attribute `pszName`.
  virtual BOOL HasAttribute(const WCHAR* pszName) = 0;
  // Slot 10: the value of the attribute `pszName` as a new BSTR. Failure
  // ERROR_NOT_FOUND when there is none.
  virtual LONG GetAttributeText(const WCHAR* pszName, BSTR* pbstrValue) = 0;
  // Slot 11: the element's text (see GetText) as a new BSTR.
  virtual LONG GetTextCopy(BSTR* pbstrText) = 0;
  // Slot 12: how deep the element lies: 1 for the document element.
  virtual DWORD GetDepth() = 0;
  // Slot 13: the attribute `pszName`. Failure ERROR_NOT_FOUND when the
  // element has none.
  virtual LONG GetAttribute(const WCHAR* pszName, CQVXmlAttribute** ppAttribute) = 0;
  // Slot 14: the first child element named `pszName` (exact case).
  // Failure ERROR_NOT_FOUND when there is none.
  virtual LONG FindChild(const WCHAR* pszName, CQVXmlNode** ppNode) = 0;
  // Slot 15: a second node for the same element, released on its own.
  virtual LONG Clone(CQVXmlNode** ppNode) = 0;
  // Slot 16: the element's text: the text of all its descendants, without
  // leading and trailing white space ("jpg" for <e> jpg </e>). Never null.
  virtual const WCHAR* GetText() = 0;
  // Slot 17: the text of the first child element named `pszName`, as a new
  // BSTR. Failure ERROR_NOT_FOUND when there is none.
  virtual LONG GetChildText(const WCHAR* pszName, BSTR* pbstrText) = 0;
  // Slot 18: releases the node and the attributes it handed out.
  virtual void Release() = 0;

 protected:
  ~CQVXmlNode() = default;
};

class CQVXml {
 public:
  // Slot 0: reads the document at `pszPath` (a drive path, "C:\..."),
  // replacing any document held. Failure ERROR_FILE_NOT_FOUND or
  // ERROR_PATH_NOT_FOUND when it is missing, ERROR_INVALID_DATA when it is
  // not well-formed XML.
  virtual LONG Load(const WCHAR* pszPath) = 0;
  // Slot 1: reads the document from the text `pszXml`, as Load does.
  virtual LONG LoadXml(const WCHAR* pszXml) = 0;
  // Slot 2: TRUE while a document is held.
  virtual BOOL IsLoaded() = 0;
  // Slot 3: the document element. Failure ERROR_INVALID_STATE without a
  // document.
  virtual LONG GetRoot(CQVXmlNode** ppNode) = 0;
  // Slot 4: the first element that `pszXPath` selects from the document.
  // Failure ERROR_NOT_FOUND when none matches (this is what ends a walk by
  // position), ERROR_INVALID_PARAMETER for an expression that does not
  // parse, ERROR_INVALID_STATE without a document.
  virtual LONG SelectSingleNode(const WCHAR* pszXPath, CQVXmlNode** ppNode) = 0;
  // Slot 5: the number of nodes `pszXPath` selects from the document.
  virtual LONG CountNodes(const WCHAR* pszXPath, DWORD* pdwCount) = 0;
  // Slot 6: the error number of the last call that failed; 0 when none has.
  virtual DWORD GetLastErrorCode() = 0;
  // Slot 7: the path the document was loaded from; empty for a text or
  // without a document.
  virtual const WCHAR* GetDocumentPath() = 0;
  // Slot 8: releases the document. Nodes still held stay readable: each
  // keeps its document alive until it is released.
  virtual void Close() = 0;

 protected:
  ~CQVXml() = default;
};

// The XML service of kind `dwType`; 0, the only kind, is the service of
// platform/xml_document.h. The same object on every call, never destroyed;
// not synchronised: one thread at a time. Null with ERROR_INVALID_PARAMETER
// for any other kind.
CQVXml* GetQVXmlInterface(DWORD dwType);

#endif  // QVBACKUP_SERVICES_QVXML_H_
