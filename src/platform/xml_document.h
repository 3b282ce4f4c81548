// Reading XML documents: a parsed document and handles to its elements,
// searched with XPath 1.0.
//
// Linux: pugixml. Windows: MSXML 6 through COM (the calling thread's COM
// apartment is entered while a document is loaded).
//
// Every function that fails sets the thread's last error; texts are UTF-16.
// Element texts are the concatenated text of the element's descendants
// without leading and trailing white space, on both systems.
#ifndef QVBACKUP_PLATFORM_XML_DOCUMENT_H_
#define QVBACKUP_PLATFORM_XML_DOCUMENT_H_

#include <memory>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

// One element of a document, or the document itself (the node that XPath
// calls the root, whose name is empty). A handle keeps its document alive.
class XmlNode {
 public:
  virtual ~XmlNode() = default;

  virtual WString Name() const = 0;
  virtual WString Text() const = 0;

  // The value of the attribute `name`. False with ERROR_NOT_FOUND when the
  // element has none.
  virtual bool Attribute(const WCHAR* name, WString* value) const = 0;
  virtual DWORD AttributeCount() const = 0;
  // The attribute at `index` (document order). False with ERROR_NOT_FOUND
  // past the last one.
  virtual bool AttributeAt(DWORD index, WString* name, WString* value) const = 0;

  // Element neighbours; null with ERROR_NOT_FOUND when there is none (the
  // parent of the document element is the document).
  virtual std::unique_ptr<XmlNode> Parent() const = 0;
  virtual std::unique_ptr<XmlNode> FirstChild() const = 0;
  virtual std::unique_ptr<XmlNode> NextSibling() const = 0;
  virtual std::unique_ptr<XmlNode> Clone() const = 0;

  // The first element that `xpath` selects from this node. Null with
  // ERROR_NOT_FOUND when none matches, ERROR_INVALID_PARAMETER for an
  // expression that does not parse or selects no elements.
  virtual std::unique_ptr<XmlNode> SelectSingle(const WCHAR* xpath) const = 0;
  // How many nodes `xpath` selects. False with ERROR_INVALID_PARAMETER for
  // an expression that does not parse.
  virtual bool Count(const WCHAR* xpath, DWORD* count) const = 0;
};

// Parses the file at the drive path `path` ("C:\...") or the text `text`.
// Null with ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when the file is
// missing, ERROR_INVALID_DATA when it is not well-formed XML, or the
// system's error. The result is the document node.
std::unique_ptr<XmlNode> LoadXmlFile(const WCHAR* path);
std::unique_ptr<XmlNode> LoadXmlText(const WCHAR* text);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_XML_DOCUMENT_H_
