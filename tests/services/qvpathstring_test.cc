// CQVPathString and CQVSysPathString: path components on typical Windows
// paths, and the questions they ask the file system.
#include <gtest/gtest.h>

#include "common/test_util.h"
#include "qvbackup/qvstring.h"
#include "services/qvstring_printing.h"

namespace {

struct PathCase {
  const WCHAR* path;
  const WCHAR* fileName;
  const WCHAR* extension;
  const WCHAR* withoutExtension;
};

const PathCase kPathCases[] = {
    {QVT("C:\\Users\\a.b\\file"), QVT("file"), QVT(""), QVT("C:\\Users\\a.b\\file")},
    {QVT("C:\\dir.x\\noext"), QVT("noext"), QVT(""), QVT("C:\\dir.x\\noext")},
    {QVT("archive.tar.gz"), QVT("archive.tar.gz"), QVT(".gz"), QVT("archive.tar")},
    {QVT("C:\\"), QVT("C:\\"), QVT(""), QVT("C:\\")},
    {QVT("C:"), QVT("C:"), QVT(""), QVT("C:")},
    {QVT("C:\\Photos\\IMG_0001.JPG"), QVT("IMG_0001.JPG"), QVT(".JPG"), QVT("C:\\Photos\\IMG_0001")},
    {QVT("C:\\Users\\me\\.profile"), QVT(".profile"), QVT(".profile"), QVT("C:\\Users\\me\\")},
    {QVT("C:\\a\\file."), QVT("file."), QVT("."), QVT("C:\\a\\file")},
    {QVT("C:\\dir.x\\"), QVT("dir.x\\"), QVT(""), QVT("C:\\dir.x\\")},
    {QVT("C:report.doc"), QVT("report.doc"), QVT(".doc"), QVT("C:report")},
    {QVT("\\\\server\\share\\r\u00e9sum\u00e9.docx"), QVT("r\u00e9sum\u00e9.docx"), QVT(".docx"),
     QVT("\\\\server\\share\\r\u00e9sum\u00e9")},
    {QVT("C:/mixed/slash.txt"), QVT("slash.txt"), QVT(".txt"), QVT("C:/mixed/slash")},
    {QVT(""), QVT(""), QVT(""), QVT("")},
};

TEST(CQVPathStringComponents, FileNameExtensionAndRemoval) {
  for (const PathCase& c : kPathCases) {
    SCOPED_TRACE(qvtest::U8(c.path));
    CQVPathString path(c.path);
    EXPECT_EQ(path.FindFileName(), c.fileName);
    EXPECT_EQ(path.FindExtension(), c.extension);
    EXPECT_EQ(path, c.path);  // both finders leave the path alone
    path.RemoveExtension();
    EXPECT_EQ(path, c.withoutExtension);
  }
}

TEST(CQVPathStringComponents, RemovingExtensionsOneAtATime) {
  CQVPathString path(QVT("D:\\B\\home.I3.2.QVA"));
  path.RemoveExtension();
  EXPECT_EQ(path, QVT("D:\\B\\home.I3.2"));
  path.RemoveExtension();
  EXPECT_EQ(path, QVT("D:\\B\\home.I3"));
  path.RemoveExtension();
  path.RemoveExtension();
  EXPECT_EQ(path, QVT("D:\\B\\home"));
}

TEST(CQVPathStringComponents, ExtensionWithoutItsDotIsWhatRemainsAfterReplace) {
  // How the file list compares extensions with its exclusion entries.
  CQVPathString lowered(QVT("c:\\docs.old\\letter.doc"));
  CQVString extension = lowered.FindExtension();
  EXPECT_TRUE(extension.Replace(QVT("."), QVT("")));
  EXPECT_EQ(extension, QVT("doc"));
}

TEST(CQVPathStringComponents, AddBackslashAppendsOnlyWhenMissing) {
  CQVPathString path(QVT("C:\\dir"));
  path.AddBackslash();
  EXPECT_EQ(path, QVT("C:\\dir\\"));
  path.AddBackslash();
  EXPECT_EQ(path, QVT("C:\\dir\\"));
  CQVPathString drive(QVT("C:"));
  drive.AddBackslash();
  EXPECT_EQ(drive, QVT("C:\\"));
  CQVPathString empty;
  empty.AddBackslash();
  EXPECT_EQ(empty, QVT("\\"));
}

TEST(CQVPathStringValue, AssignsAndConvertsLikeAString) {
  CQVString text(QVT("C:\\a.txt"));
  CQVPathString path(text);
  path = QVT("D:\\b.doc");
  EXPECT_EQ(path.FindFileName(), QVT("b.doc"));
  CQVPathString copy(path);
  path = text;
  EXPECT_EQ(copy, QVT("D:\\b.doc"));
  EXPECT_EQ(path, text);
  CQVString joined = path + QVT(".bak");
  EXPECT_EQ(joined, QVT("C:\\a.txt.bak"));
}

TEST(CQVPathStringDisk, FileExistsSeesRealFilesAndFolders) {
  qvtest::TempDir dir;
  dir.WriteFile("present.txt", 10);
  dir.MakeDir("sub folder");
  CQVPathString folder(dir.DrivePath().c_str());
  folder.AddBackslash();

  EXPECT_TRUE(CQVPathString(folder + QVT("present.txt")).FileExists());
  EXPECT_TRUE(CQVPathString(folder + QVT("sub folder")).FileExists());
  EXPECT_TRUE(CQVPathString(dir.DrivePath().c_str()).FileExists());
  EXPECT_FALSE(CQVPathString(folder + QVT("missing.txt")).FileExists());
  EXPECT_FALSE(CQVPathString(folder + QVT("missing\\present.txt")).FileExists());
}

TEST(CQVSysPathStringApplication, NamesTheRunningTestProgram) {
  CQVSysPathString application(QVT("unchanged on failure only"));
  ASSERT_TRUE(application.GetCurrentApplicationName());
  // A full drive-letter path to a file that exists.
  ASSERT_GT(application.GetLength(), 3u);
  EXPECT_EQ(application.GetAt(1), WCHAR(':'));
  EXPECT_EQ(application.GetAt(2), WCHAR('\\'));
  EXPECT_TRUE(application.FileExists());
  // "qv_services_tests" here, "qv_services_tests.exe" on Windows.
  CQVPathString name = application.FindFileName();
  name.RemoveExtension();
  EXPECT_EQ(name, QVT("qv_services_tests"));
}

}  // namespace
