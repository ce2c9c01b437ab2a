#include <bit>
#include <cstdint>

#include <gtest/gtest.h>

#include "export/ReferencePoints.h"

namespace {

std::uint32_t Bits(float f) {
  return std::bit_cast<std::uint32_t>(f);
}

void ExpectBits(const Vector& got, const Vector& want) {
  EXPECT_EQ(Bits(got.x), Bits(want.x));
  EXPECT_EQ(Bits(got.y), Bits(want.y));
  EXPECT_EQ(Bits(got.z), Bits(want.z));
}

class ModelCenter : public ::testing::Test {
 protected:
  tq::scene::Scene scene{"P", 30.0f, "C"};
  HModel* model = scene.AddModel("M");
  HModelCache* cache = model->GetCache();
  HCP* P(float x, float y, float z) { return cache->AddPoint(Vector(x, y, z)); }
};

TEST_F(ModelCenter, OneQuad) {
  cache->AddPatch(P(0, 0, 0), P(2, 0, 0), P(2, 2, 0), P(0, 2, 0));
  ExpectBits(GetModelCenter(cache), Vector(1, 1, 0));
}

TEST_F(ModelCenter, SharedCornersCountOncePerPatch) {
  HCP* a = P(1, 0, 0);
  HCP* b = P(1, 1, 0);
  cache->AddPatch(P(0, 0, 0), a, b, P(0, 1, 0));
  cache->AddPatch(a, P(3, 0, 0), P(3, 1, 0), b);
  ExpectBits(GetModelCenter(cache), Vector(1.25f, 0.5f, 0));
}

TEST_F(ModelCenter, QuadAndPentagonDivideByNine) {
  cache->AddPatch(P(0, 0, 0), P(1, 0, 0), P(1, 1, 0), P(0, 1, 0));
  cache->AddPatch5(P(0, 0, 1), P(1, 0, 1), P(1, 1, 1), P(0, 1, 1), P(0.5f, 2, 1));
  // x: (0+1+1+0 + 0+1+1+0+0.5) / 9 = 4.5/9; y: (2 + 4) / 9; z: 5/9.
  ExpectBits(GetModelCenter(cache), Vector(4.5f / 9.0f, 6.0f / 9.0f, 5.0f / 9.0f));
}

TEST_F(ModelCenter, PentagonsOnlyDivideByFiveEach) {
  cache->AddPatch5(P(0, 0, 0), P(1, 0, 0), P(1, 1, 0), P(0, 1, 0), P(3, 3, 0));
  cache->AddPatch5(P(0, 0, 7), P(0, 0, 7), P(0, 0, 7), P(0, 0, 7), P(0, 0, 7));
  ExpectBits(GetModelCenter(cache), Vector(5.0f / 10.0f, 5.0f / 10.0f, 35.0f / 10.0f));
}

TEST_F(ModelCenter, CornersReadTheirHeads) {
  HCP* base = P(4, 4, 4);
  HCP* stacked = P(100, 100, 100);
  stacked->SetHead(base);
  cache->AddPatch(stacked, base, base, base);
  ExpectBits(GetModelCenter(cache), Vector(4, 4, 4));
}

TEST_F(ModelCenter, NoPatchGivesTheOrigin) {
  P(5, 5, 5);
  ExpectBits(GetModelCenter(cache), Vector(0, 0, 0));
}

TEST_F(ModelCenter, FindsPatchesBeforeReadingThem) {
  // The cache reports nothing until FindPatches; a centre that skipped it
  // would come out as the origin.
  cache->AddPatch(P(2, 2, 2), P(2, 2, 2), P(2, 2, 2), P(2, 2, 2));
  EXPECT_EQ(cache->GetPatchCount(), 0);
  ExpectBits(GetModelCenter(cache), Vector(2, 2, 2));
}

TEST(GroupCenter, IsTheMatrixTranslation) {
  tq::scene::Scene scene("P", 30.0f, "C");
  HModel* model = scene.AddModel("M");
  HGroup* group = scene.AddGroup(scene.AddGroupContainer(model), "G", Vector(4, 5, 6));
  ExpectBits(GetGroupCenter(group), Vector(4, 5, 6));
}

}  // namespace
