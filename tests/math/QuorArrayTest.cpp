#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "host/fileio/Storage.h"
#include "math/QuorArray.h"

namespace {

// A counting allocator: every block is filled with a pattern and carries
// sentinels past its end, so zero-filling and overruns are seen.
constexpr unsigned char kFill = 0xAB;
constexpr unsigned long kSentinel = 32;
struct Block {
  unsigned char* p;
  unsigned long n;
};
std::vector<Block> blocks;
bool failNext = false;

void* CountingAlloc(unsigned long n) {
  if (failNext) {
    failNext = false;
    return nullptr;
  }
  auto* p = static_cast<unsigned char*>(std::malloc(n + kSentinel));
  std::memset(p, kFill, n + kSentinel);
  blocks.push_back({p, n});
  return p;
}

class QuorArrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    blocks.clear();
    failNext = false;
    previous_ = tq::fileio::SetAllocExtHook(CountingAlloc);
  }
  void TearDown() override { tq::fileio::SetAllocExtHook(previous_); }

  // The sentinels of the newest block are untouched.
  static void ExpectSentinels() {
    ASSERT_FALSE(blocks.empty());
    const Block& b = blocks.back();
    for (unsigned long i = 0; i < kSentinel; ++i) ASSERT_EQ(b.p[b.n + i], kFill) << i;
  }

  tq::fileio::AllocHook previous_ = nullptr;
};

using VectorArray = QuorArray<Vector, const Vector&>;

void Fill(VectorArray& a, float value) {
  for (int i = 0; i < a.size; ++i) a.data[i] = Vector(value, value, value);
}

TEST_F(QuorArrayTest, FirstAllocationIsExactAndZeroed) {
  VectorArray a;
  a.SetSize(5, -1);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].n, 5 * sizeof(Vector));
  EXPECT_EQ(a.size, 5);
  EXPECT_EQ(a.maxSize, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a.data[i], Vector(0, 0, 0));
  ExpectSentinels();
}

TEST_F(QuorArrayTest, GrowthTable) {
  struct Row {
    int start;  // size = maxSize = start
    int newSize;
    int growBy;
    int expectedMax;
  } rows[] = {
      {10, 11, -1, 14},           // step 10/8 = 1, raised to 4
      {100, 101, -1, 112},        // step 12
      {10000, 10001, -1, 11024},  // step 1250, lowered to 1024
      {10, 50, -1, 50},           // the request is larger than max + step
      {10, 11, 5, 15},            // an explicit step
  };
  for (const Row& r : rows) {
    VectorArray a;
    a.SetSize(r.start, -1);
    Fill(a, 7.0f);
    a.SetSize(r.newSize, r.growBy);
    EXPECT_EQ(a.maxSize, r.expectedMax) << r.start << " -> " << r.newSize;
    EXPECT_EQ(a.size, r.newSize);
    EXPECT_EQ(blocks.back().n, r.expectedMax * sizeof(Vector));
    for (int i = 0; i < r.start; ++i) ASSERT_EQ(a.data[i], Vector(7, 7, 7));
    for (int i = r.start; i < r.newSize; ++i) ASSERT_EQ(a.data[i], Vector(0, 0, 0));
    ExpectSentinels();
  }
}

TEST_F(QuorArrayTest, AutomaticStepComesFromSizeNotMaxSize) {
  VectorArray a;
  a.SetSize(100, -1);
  a.SetSize(10, -1);
  a.SetSize(101, -1);
  EXPECT_EQ(a.maxSize, 104);
}

TEST_F(QuorArrayTest, ShrinkKeepsStorageAndRegrowthZeroFills) {
  VectorArray a;
  a.SetSize(10, -1);
  Fill(a, 3.0f);
  a.SetSize(3, -1);
  EXPECT_EQ(a.maxSize, 10);
  EXPECT_EQ(blocks.size(), 1u);
  a.SetSize(10, -1);
  EXPECT_EQ(blocks.size(), 1u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.data[i], Vector(3, 3, 3));
  for (int i = 3; i < 10; ++i) EXPECT_EQ(a.data[i], Vector(0, 0, 0));
}

TEST_F(QuorArrayTest, SizeZeroReleasesAndKeepsStep) {
  VectorArray a;
  a.SetSize(4, 9);
  a.SetSize(0, -1);
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.size, 0);
  EXPECT_EQ(a.maxSize, 0);
  EXPECT_EQ(a.growBy, 9);
  a.SetSize(0, -1);  // without storage: only the sizes
  EXPECT_EQ(a.data, nullptr);
}

TEST_F(QuorArrayTest, FailedAllocationLeavesTheArrayAsItWas) {
  VectorArray empty;
  failNext = true;
  empty.SetSize(5, -1);
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.size, 0);
  EXPECT_EQ(empty.maxSize, 0);

  VectorArray a;
  a.SetSize(4, -1);
  Fill(a, 2.0f);
  Vector* before = a.data;
  failNext = true;
  a.SetSize(100, -1);
  EXPECT_EQ(a.data, before);
  EXPECT_EQ(a.size, 4);
  EXPECT_EQ(a.maxSize, 4);
  EXPECT_EQ(a.data[3], Vector(2, 2, 2));
}

TEST_F(QuorArrayTest, PointerElementsStartNull) {
  QuorArray<QuorNode*, QuorNode*> heads;
  heads.SetSize(3, -1);
  heads.data[0] = reinterpret_cast<QuorNode*>(&heads);
  heads.SetSize(1, -1);
  heads.SetSize(3, -1);
  EXPECT_EQ(heads.data[1], nullptr);
  EXPECT_EQ(heads.data[2], nullptr);
  heads.data[0] = nullptr;
}

TEST_F(QuorArrayTest, EmptyFreesChainsAndVectorsButKeepsHeads) {
  VectorCollection c;
  c.buckets.SetSize(16, -1);
  for (int i = 0; i < 16; i += 3) {
    for (int n = 0; n <= i % 4; ++n) {
      auto* node = new QuorNode;
      node->next = c.buckets.data[i];
      c.buckets.data[i] = node;
    }
  }
  c.vectors.SetSize(8, 2);
  c.Empty();
  EXPECT_EQ(c.buckets.size, 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(c.buckets.data[i], nullptr);
  EXPECT_EQ(c.vectors.data, nullptr);
  EXPECT_EQ(c.vectors.size, 0);
  EXPECT_EQ(c.vectors.growBy, 2);
  // Every node went through delete exactly once: the sanitizer build reports a
  // leak or a double free otherwise.
}

TEST(ConstructTheElements, ZeroFillsExactlyN) {
  Vector v[3] = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
  ConstructTheElements(v, 2);
  EXPECT_EQ(v[0], Vector(0, 0, 0));
  EXPECT_EQ(v[1], Vector(0, 0, 0));
  EXPECT_EQ(v[2], Vector(3, 3, 3));
  ConstructTheElements(v + 2, 0);
  EXPECT_EQ(v[2], Vector(3, 3, 3));
}

}  // namespace
