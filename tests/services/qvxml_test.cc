// The XML service: the extension-group walk through the virtual-table slots
// callers rely on, the groups file shipped beside the programs, load
// failures, and the counted strings the service hands out.
#include "services/qvxml.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/file_system.h"

namespace {

using qvtest::TempDir;
using qvtest::U8;
using qvtest::W;
using qvtest::WString;

// The n-th virtual operation of `object`, called as callers outside this
// library call it: by its position in the virtual table.
template <typename Result, typename... Args, typename Object>
Result CallSlot(Object* object, int slot, Args... args) {
  void** table = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Result (*)(Object*, Args...)>(table[slot])(object, args...);
}

WString Text(const std::string& utf8) { return W(utf8); }

// The extensions of every group named `group`, walked by position until a
// selection fails, with the interface (slots 0, 4, 8), node (13, 16, 18) and
// attribute (0) operations only.
bool ReadGroup(const WString& path, const WString& group, std::vector<std::string>* extensions) {
  CQVXml* xml = GetQVXmlInterface(0);
  if (xml == nullptr || CallSlot<LONG>(xml, 0, path.c_str()) < 0) return false;
  for (int g = 1;; ++g) {
    CQVXmlNode* groupNode = nullptr;
    const WString groupPath = Text("/gpext/groupe[" + std::to_string(g) + "]");
    if (CallSlot<LONG>(xml, 4, groupPath.c_str(), &groupNode) < 0) break;
    CQVXmlAttribute* name = nullptr;
    const WString nameText = Text("name");
    if (CallSlot<LONG>(groupNode, 13, nameText.c_str(), &name) >= 0) {
      BSTR value = CallSlot<BSTR>(name, 0);
      const bool wanted = value != nullptr && group == value;
      SysFreeString(value);
      for (int e = 1; wanted; ++e) {
        CQVXmlNode* extension = nullptr;
        const WString extensionPath = Text("/gpext/groupe[" + std::to_string(g) + "]/extension[" + std::to_string(e) + "]");
        if (CallSlot<LONG>(xml, 4, extensionPath.c_str(), &extension) < 0) break;
        extensions->push_back(U8(CallSlot<const WCHAR*>(extension, 16)));
        CallSlot<void>(extension, 18);
      }
    }
    CallSlot<void>(groupNode, 18);
  }
  CallSlot<void>(xml, 8);
  return true;
}

class XmlServiceTest : public ::testing::Test {
 protected:
  void TearDown() override { GetQVXmlInterface(0)->Close(); }

  WString Write(const std::string& name, const std::string& content) {
    std::ofstream(dir_.path() / name, std::ios::binary) << content;
    return dir_.DrivePath() + Text("\\" + name);
  }

  std::vector<std::string> Group(const WString& path, const std::string& group) {
    std::vector<std::string> extensions;
    EXPECT_TRUE(ReadGroup(path, W(group), &extensions));
    return extensions;
  }

  TempDir dir_;
};

TEST_F(XmlServiceTest, ShippedGroupsFileHoldsSixDistinctLowerCaseGroups) {
  WString program;
  ASSERT_TRUE(qv::platform::GetExecutablePath(&program));
  const WString path = program.substr(0, program.rfind(QVT('\\')) + 1) + Text("GpExt.xml");
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"Pictures", {"jpg", "png", "heic", "webp", "avif", "cr2", "cr3", "nef", "arw", "dng", "raf", "psd", "svg"}},
      {"Music", {"mp3", "flac", "opus", "ogg", "m4a", "wav", "aiff", "wma", "alac"}},
      {"Video", {"mkv", "webm", "mp4", "mov", "avi", "wmv", "mpeg", "3gp"}},
      {"Offices", {"odt", "ods", "odp", "docx", "xlsm", "pptx", "doc", "pdf", "rtf", "txt", "md", "csv", "epub", "key"}},
      {"Mail", {"eml", "msg", "mbox", "pst", "ost", "emlx", "dbx"}},
      {"Financial", {"ofx", "qif", "qfx", "qbo", "qdf", "qbw", "mny", "gnucash", "kmy", "ledger"}}};
  std::set<std::string> everyExtension;
  std::size_t total = 0;
  for (const auto& [group, samples] : expected) {
    SCOPED_TRACE(group);
    const std::vector<std::string> extensions = Group(path, group);
    const std::set<std::string> present(extensions.begin(), extensions.end());
    for (const std::string& sample : samples) EXPECT_TRUE(present.count(sample)) << sample;
    for (const std::string& extension : extensions) {
      EXPECT_TRUE(!extension.empty() && extension.find_first_of(".*? ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos)
          << extension;
    }
    everyExtension.insert(extensions.begin(), extensions.end());
    total += extensions.size();
  }
  EXPECT_EQ(everyExtension.size(), total) << "an extension belongs to two groups";

  CQVXml* xml = GetQVXmlInterface(0);
  ASSERT_EQ(xml->Load(path.c_str()), 0);
  DWORD groups = 0;
  ASSERT_EQ(xml->CountNodes(QVT("/gpext/groupe"), &groups), 0);
  EXPECT_EQ(groups, 6u);
}

TEST_F(XmlServiceTest, GroupsAreMatchedByExactNameAndEveryNamesakeContributes) {
  const WString path = Write("groups.xml",
                             "<?xml version=\"1.0\"?>\n<gpext>\n"
                             "  <groupe name=\"Music\"><extension>mp3</extension><extension> flac\n</extension></groupe>\n"
                             "  <groupe name=\"music\"><extension>wrongcase</extension></groupe>\n"
                             "  <groupe><extension>noname</extension></groupe>\n"
                             "  <groupe name=\"Empty\"/>\n"
                             "  <groupe name=\"Music\"><!-- a note --><extension>opus</extension></groupe>\n"
                             "  <groupe name=\"Pictures\"><extension>h\xC3\xA9ic</extension></groupe>\n"
                             "</gpext>\n");
  EXPECT_EQ(Group(path, "Music"), (std::vector<std::string>{"mp3", "flac", "opus"}));
  EXPECT_EQ(Group(path, "music"), (std::vector<std::string>{"wrongcase"}));
  EXPECT_TRUE(Group(path, "Empty").empty());
  EXPECT_TRUE(Group(path, "Video").empty());
  EXPECT_EQ(Group(path, "Pictures"), (std::vector<std::string>{"h\xC3\xA9ic"}));
}

TEST_F(XmlServiceTest, LoadFailsWithTheReasonAndLeavesNoDocument) {
  CQVXml* xml = GetQVXmlInterface(0);
  ASSERT_NE(xml, nullptr);
  EXPECT_EQ(GetQVXmlInterface(1), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  const struct {
    WString path;
    DWORD error;
  } cases[] = {
      {dir_.DrivePath() + Text("\\missing.xml"), ERROR_FILE_NOT_FOUND},
      {dir_.DrivePath() + Text("\\no folder\\GpExt.xml"), ERROR_PATH_NOT_FOUND},
      {dir_.DrivePath(), ERROR_ACCESS_DENIED},
      {Write("unclosed.xml", "<gpext><groupe name=\"Music\"><extension>mp3</extension></gpext>"), ERROR_INVALID_DATA},
      {Write("empty.xml", ""), ERROR_INVALID_DATA},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.path));
    ASSERT_EQ(xml->LoadXml(QVT("<gpext><groupe name=\"x\"/></gpext>")), 0);
    EXPECT_EQ(CallSlot<LONG>(xml, 0, c.path.c_str()), QVXmlFailure(c.error));
    EXPECT_LT(QVXmlFailure(c.error), 0);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(xml->GetLastErrorCode(), c.error);
    EXPECT_FALSE(xml->IsLoaded());
    CQVXmlNode* node = reinterpret_cast<CQVXmlNode*>(&xml);
    EXPECT_EQ(xml->SelectSingleNode(QVT("/gpext/groupe[1]"), &node), QVXmlFailure(ERROR_INVALID_STATE));
    EXPECT_EQ(node, nullptr);
  }
}

TEST_F(XmlServiceTest, SelectionsReportAbsenceAndBadExpressions) {
  CQVXml* xml = GetQVXmlInterface(0);
  ASSERT_EQ(xml->LoadXml(QVT("<gpext><groupe name=\"a\" id=\"1\"><extension>x</extension></groupe></gpext>")), 0);
  CQVXmlNode* node = nullptr;
  EXPECT_EQ(xml->SelectSingleNode(QVT("/gpext/groupe[2]"), &node), QVXmlFailure(ERROR_NOT_FOUND));
  EXPECT_EQ(xml->SelectSingleNode(QVT("/gpext/groupe[1]/extension[2]"), &node), QVXmlFailure(ERROR_NOT_FOUND));
  EXPECT_EQ(xml->SelectSingleNode(QVT("/gpext/groupe["), &node), QVXmlFailure(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(node, nullptr);
  // An attribute is not an element.
  EXPECT_EQ(xml->SelectSingleNode(QVT("/gpext/groupe/@name"), &node), QVXmlFailure(ERROR_NOT_FOUND));

  ASSERT_EQ(xml->SelectSingleNode(QVT("/gpext/groupe[1]"), &node), 0);
  CQVXmlAttribute* attribute = nullptr;
  EXPECT_EQ(node->GetAttribute(QVT("missing"), &attribute), QVXmlFailure(ERROR_NOT_FOUND));
  EXPECT_EQ(attribute, nullptr);
  EXPECT_FALSE(node->HasAttribute(QVT("Name")));
  node->Release();
}

TEST_F(XmlServiceTest, NodesWalkTheTreeAndOutliveTheDocument) {
  CQVXml* xml = GetQVXmlInterface(0);
  ASSERT_EQ(xml->LoadXml(QVT("<gpext>text<groupe name=\"a\" id=\"7\"><extension>x</extension><!-- c -->"
                             "<extension>y</extension></groupe><groupe name=\"b\"/></gpext>")),
            0);
  CQVXmlNode* root = nullptr;
  ASSERT_EQ(xml->GetRoot(&root), 0);
  EXPECT_EQ(WString(root->GetName()), Text("gpext"));
  EXPECT_EQ(root->GetDepth(), 1u);
  EXPECT_EQ(root->GetChildCount(), 2u);
  CQVXmlNode* none = nullptr;
  EXPECT_EQ(root->GetParent(&none), QVXmlFailure(ERROR_NOT_FOUND));

  CQVXmlNode* first = nullptr;
  ASSERT_EQ(root->GetFirstChild(&first), 0);
  EXPECT_EQ(first->GetAttributeCount(), 2u);
  CQVXmlAttribute* second = nullptr;
  ASSERT_EQ(first->GetAttributeAt(1, &second), 0);
  BSTR name = second->GetName();
  BSTR value = second->GetValue();
  EXPECT_EQ(U8(name) + "=" + U8(value), "id=7");
  SysFreeString(name);
  SysFreeString(value);
  EXPECT_EQ(first->GetAttributeAt(2, &second), QVXmlFailure(ERROR_NOT_FOUND));
  BSTR text = nullptr;
  ASSERT_EQ(first->GetChildText(QVT("extension"), &text), 0);
  EXPECT_EQ(U8(text), "x");
  SysFreeString(text);
  DWORD count = 0;
  ASSERT_EQ(first->CountNodes(QVT("extension"), &count), 0);
  EXPECT_EQ(count, 2u);

  CQVXmlNode* extension = nullptr;
  ASSERT_EQ(first->SelectSingleNode(QVT("extension[2]"), &extension), 0);
  EXPECT_EQ(extension->GetDepth(), 3u);
  CQVXmlNode* parent = nullptr;
  ASSERT_EQ(extension->GetParent(&parent), 0);
  BSTR id = nullptr;
  ASSERT_EQ(parent->GetAttributeText(QVT("id"), &id), 0);
  EXPECT_EQ(U8(id), "7");
  SysFreeString(id);

  CQVXmlNode* next = nullptr;
  ASSERT_EQ(first->GetNextSibling(&next), 0);
  EXPECT_EQ(next->GetNextSibling(&none), QVXmlFailure(ERROR_NOT_FOUND));
  CQVXmlNode* copy = nullptr;
  ASSERT_EQ(next->Clone(&copy), 0);
  xml->Close();
  // Nodes keep their document: still readable after Close.
  EXPECT_EQ(U8(copy->GetText()), "");
  ASSERT_EQ(root->GetFirstChild(&none), 0);
  EXPECT_EQ(U8(none->GetText()), "xy");
  for (CQVXmlNode* node : {root, first, extension, parent, next, copy, none}) node->Release();
}

TEST(SystemString, IsCountedAndTerminatedAsWindowsLaysItOut) {
  BSTR text = SysAllocString(QVT("h\u00e9!"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 3u);
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - 4, 4);
  EXPECT_EQ(bytes, 6u);
  EXPECT_EQ(static_cast<int>(text[1]), 0xE9);
  EXPECT_EQ(static_cast<int>(text[3]), 0);
  SysFreeString(text);

  BSTR blank = SysAllocStringLen(nullptr, 2);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(SysStringLen(blank), 2u);
  EXPECT_EQ(blank[0] | blank[1] | blank[2], 0);
  SysFreeString(blank);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

}  // namespace
