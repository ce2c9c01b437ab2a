#include "export/ReferencePoints.h"

namespace {
void AddCorner(Vector& sum, HCP* corner) {
  sum += corner->GetHead()->GetModelPosition();
}
}  // namespace

Vector GetModelCenter(HModelCache* cache) {
  // The cache builds its patch lists here; nothing may be read before.
  cache->FindPatches();
  const int quads = cache->GetPatchCount();
  int pentagons = 0;
  for (HPatch5* p = cache->GetHeadPatch5(); p != nullptr; p = p->GetNextPatch5()) ++pentagons;

  Vector sum(0.0f, 0.0f, 0.0f);
  for (int i = 0; i < quads; ++i) {
    HPatch* patch = cache->GetPatch(static_cast<unsigned int>(i));
    AddCorner(sum, patch->GetCP1());
    AddCorner(sum, patch->GetCP2());
    AddCorner(sum, patch->GetCP3());
    AddCorner(sum, patch->GetCP4());
  }
  int divisor = 4 * quads;
  if (pentagons > 0) {
    for (HPatch5* p = cache->GetHeadPatch5(); p != nullptr; p = p->GetNextPatch5()) {
      AddCorner(sum, p->GetCP1());
      AddCorner(sum, p->GetCP2());
      AddCorner(sum, p->GetCP3());
      AddCorner(sum, p->GetCP4());
      AddCorner(sum, p->GetCP5());
      divisor += 5;
    }
  }
  // Without any corner the quotient would be 0/0 = NaN in every component.
  if (divisor == 0) return Vector(0.0f, 0.0f, 0.0f);
  // A division by the float divisor, not a multiplication by its reciprocal.
  sum /= static_cast<float>(divisor);
  return sum;
}

Vector GetGroupCenter(HGroup* group) {
  return group->GetMatrix().GetTranslate();
}
