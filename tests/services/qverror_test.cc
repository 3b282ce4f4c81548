// CQVError's value semantics, and CQVObject as a polymorphic base.
#include "qvbackup/qverror.h"

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

#include "qvbackup/qvobject.h"

namespace {

static_assert(std::has_virtual_destructor_v<CQVError>);
static_assert(std::is_abstract_v<CQVObject>);
static_assert(std::has_virtual_destructor_v<CQVObject>);

TEST(CQVError, HoldsTheLastCodeAndCopiesByValue) {
  CQVError error;
  EXPECT_EQ(error.GetError(), 0u);
  EXPECT_EQ(error.SetError(ERROR_INVALID_DATA), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(error.SetError(ERROR_NO_MORE_ITEMS), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(error.GetError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

  CQVError copy(error);
  CQVError assigned;
  assigned = error;
  error.SetError(0);
  EXPECT_EQ(error.GetError(), 0u);
  EXPECT_EQ(copy.GetError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(assigned.GetError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(assigned.SetError(0xFFFFFFFFu), 0xFFFFFFFFu);
}

class CountedObject : public CQVObject {
 public:
  explicit CountedObject(int* destroyed) : destroyed_(destroyed) {}
  ~CountedObject() override { ++*destroyed_; }
  BOOL Dump() override { return 7; }

 private:
  int* destroyed_;
};

TEST(CQVObject, DumpAndDestructionReachTheDerivedClass) {
  int destroyed = 0;
  std::unique_ptr<CQVObject> object = std::make_unique<CountedObject>(&destroyed);
  EXPECT_EQ(object->Dump(), 7);
  object.reset();
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
