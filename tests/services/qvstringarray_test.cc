// CQVStringArray: order, indexed access and value semantics.
#include <memory>
#include <type_traits>

#include <gtest/gtest.h>

#include "qvbackup/qvstring.h"
#include "services/qvstring_printing.h"

namespace {

static_assert(std::has_virtual_destructor_v<CQVStringArray>,
              "hosts may derive from the array and delete through it");

CQVStringArray Filled(std::initializer_list<const WCHAR*> items) {
  CQVStringArray array(4);
  for (const WCHAR* item : items) array.Add(item);
  return array;
}

TEST(CQVStringArrayAccess, AddKeepsOrderAndReportsNewIndex) {
  CQVStringArray array(2);
  EXPECT_EQ(array.GetSize(), 0u);
  DWORD index = 99;
  EXPECT_TRUE(array.Add(QVT("first"), &index));
  EXPECT_EQ(index, 0u);
  EXPECT_TRUE(array.Add(CQVString(QVT("second"))));
  EXPECT_TRUE(array.Add(QVT("third"), &index));
  EXPECT_EQ(index, 2u);
  ASSERT_EQ(array.GetSize(), 3u);
  EXPECT_EQ(array[0], QVT("first"));
  EXPECT_EQ(array.GetAt(1), QVT("second"));
  EXPECT_EQ(array[2], QVT("third"));
}

TEST(CQVStringArrayAccess, IndexPastTheEndGivesEmptyAndSetAtFails) {
  CQVStringArray array = Filled({QVT("a")});
  EXPECT_TRUE(array.GetAt(1).IsEmpty());
  EXPECT_TRUE(array[0xFFFFFFFFu].IsEmpty());
  SetLastError(0);
  EXPECT_FALSE(array.SetAt(1, QVT("b")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(array.GetSize(), 1u);
  EXPECT_TRUE(array.SetAt(0, QVT("replaced")));
  EXPECT_EQ(array[0], QVT("replaced"));
}

TEST(CQVStringArrayAccess, ElementsAreReturnedAsCopies) {
  CQVStringArray array = Filled({QVT("keep")});
  CQVString element = array[0];
  element += QVT("-changed");
  EXPECT_EQ(array.GetAt(0), QVT("keep"));
}

TEST(CQVStringArrayAccess, GrowsFarBeyondItsStep) {
  for (DWORD step : {0u, 1u, 3u, 1000u}) {
    SCOPED_TRACE(step);
    CQVStringArray array(step);
    CQVString text;
    for (DWORD i = 0; i < 2000; ++i) {
      ASSERT_TRUE(text.Format(QVT("item %u"), i));
      DWORD index = 0;
      ASSERT_TRUE(array.Add(text, &index));
      ASSERT_EQ(index, i);
    }
    ASSERT_EQ(array.GetSize(), 2000u);
    EXPECT_EQ(array[0], QVT("item 0"));
    EXPECT_EQ(array[1999], QVT("item 1999"));
  }
}

TEST(CQVStringArrayValue, CopiesAreIndependent) {
  CQVStringArray original = Filled({QVT("x"), QVT("y")});
  CQVStringArray constructed(original);
  CQVStringArray assigned(1);
  assigned.Add(QVT("old"));
  assigned = original;
  CQVStringArray copied(1);
  copied.Copy(original);

  original.SetAt(0, QVT("changed"));
  original.Add(QVT("z"));
  constructed.RemoveAll();
  assigned.SetAt(1, QVT("Y"));

  EXPECT_EQ(original.GetSize(), 3u);
  EXPECT_EQ(original[0], QVT("changed"));
  EXPECT_EQ(original[1], QVT("y"));
  EXPECT_EQ(constructed.GetSize(), 0u);
  ASSERT_EQ(assigned.GetSize(), 2u);
  EXPECT_EQ(assigned[0], QVT("x"));
  EXPECT_EQ(assigned[1], QVT("Y"));
  ASSERT_EQ(copied.GetSize(), 2u);
  EXPECT_EQ(copied[0], QVT("x"));
  EXPECT_EQ(copied[1], QVT("y"));
}

TEST(CQVStringArrayValue, SelfCopyAndRemoveAll) {
  CQVStringArray array = Filled({QVT("a"), QVT("b")});
  const CQVStringArray& alias = array;
  array = alias;
  array.Copy(alias);
  ASSERT_EQ(array.GetSize(), 2u);
  EXPECT_EQ(array[1], QVT("b"));
  array.RemoveAll();
  EXPECT_EQ(array.GetSize(), 0u);
  EXPECT_TRUE(array.Add(QVT("again")));
  EXPECT_EQ(array[0], QVT("again"));
}

TEST(CQVStringArrayValue, DerivedArrayIsDestroyedThroughTheBase) {
  struct Counted : CQVStringArray {
    explicit Counted(int* destroyed) : CQVStringArray(1), destroyed(destroyed) {}
    ~Counted() override { ++*destroyed; }
    int* destroyed;
  };
  int destroyed = 0;
  std::unique_ptr<CQVStringArray> array = std::make_unique<Counted>(&destroyed);
  array->Add(QVT("element"));
  array.reset();
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
