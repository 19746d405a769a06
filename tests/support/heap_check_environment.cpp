// Linked into every test program: after the tests, this process's heaps and those of the hosts
// it started must be whole, or the run fails.
#include <gtest/gtest.h>

#include "tools/explorer/heap_check.h"

namespace {

class HeapCheck : public ::testing::Environment {
 public:
  void TearDown() override {
    EXPECT_TRUE(ProcessHeapsValid()) << "a heap of the test program is damaged";
    EXPECT_EQ(DamagedChildHeaps(), 0) << "hosts that found their heaps damaged";
  }
};

const ::testing::Environment* const g_heap_check =
    ::testing::AddGlobalTestEnvironment(new HeapCheck);

}  // namespace
