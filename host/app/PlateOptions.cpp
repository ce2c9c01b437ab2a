#include "host/app/PlateOptions.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace tq::app {
namespace {

// Finite numbers separated by commas, as many as one of counts.
std::vector<double> Numbers(const std::string& option, const std::string& text,
                            std::initializer_list<std::size_t> counts, const char* form) {
  std::vector<double> numbers;
  const char* at = text.data();
  const char* end = at + text.size();
  while (true) {
    double v = 0;
    const auto [next, ec] = std::from_chars(at, end, v);
    if (ec != std::errc() || !std::isfinite(v)) break;
    numbers.push_back(v);
    if (next == end) {
      for (const std::size_t n : counts)
        if (numbers.size() == n) return numbers;
      break;
    }
    if (*next != ',') break;
    at = next + 1;
  }
  throw UsageError{option + " must be " + form + ", not '" + text + "'"};
}

std::string Number(double v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

}  // namespace

void ApplyPlateOptions(const ParsedArgs& a, tq::scene::Scene* scene) {
  if (!a.Has("--film-offset") && !a.Has("--pixel-aspect") && !a.Has("--distortion")) return;
  // Each option's values on a plain plate first: what no real camera has is
  // refused, naming the option.
  const auto each = [&](const char* option, auto&& set) {
    HPlate alone;
    set(alone);
    if (const std::string why = alone.Unreal(); !why.empty())
      throw UsageError{std::string(option) + " must give " + why + ", not '" + a.Value(option) +
                       "'"};
    if (scene == nullptr) return;
    for (HCamera* c = scene->Chor()->GetChildCamera(); c != nullptr; c = c->GetNextCameraInChor()) {
      if (a.Has("--camera") && a.Value("--camera") != c->GetName()) continue;
      HPlate plate = c->GetPlate();
      set(plate);
      c->SetPlate(plate);
    }
  };
  if (a.Has("--film-offset")) {
    const auto xy = Numbers("--film-offset", a.Value("--film-offset"), {2},
                            "X,Y (fractions of the image's width)");
    each("--film-offset", [&](HPlate& p) { p.offsetX = xy[0], p.offsetY = xy[1]; });
  }
  if (a.Has("--pixel-aspect")) {
    const auto aspect = Numbers("--pixel-aspect", a.Value("--pixel-aspect"), {1},
                                "a pixel's width over its height, a number above 0");
    each("--pixel-aspect", [&](HPlate& p) { p.pixelAspect = aspect[0]; });
  }
  if (a.Has("--distortion")) {
    const std::string given = a.Value("--distortion");
    const auto colon = given.find(':');
    const std::string model = given.substr(0, colon);
    if (colon == std::string::npos)
      throw UsageError{"--distortion must be brown:K1,K2[,P1,P2[,K3]], not '" + given + "'"};
    if (model != "brown") {
      throw UsageError{"--distortion: the lens model '" + model +
                       "' is not known; brown is (brown:K1,K2[,P1,P2[,K3]])"};
    }
    auto k = Numbers("--distortion", given.substr(colon + 1), {2, 4, 5},
                     "brown:K1,K2, brown:K1,K2,P1,P2 or brown:K1,K2,P1,P2,K3");
    k.resize(5, 0.0);
    each("--distortion",
         [&](HPlate& p) { p.k1 = k[0], p.k2 = k[1], p.p1 = k[2], p.p2 = k[3], p.k3 = k[4]; });
  }
}

std::string DescribePlate(const HPlate& p) {
  std::string text;
  const auto part = [&](const std::string& words) { text += (text.empty() ? "" : "; ") + words; };
  if (p.offsetX != 0 || p.offsetY != 0)
    part("film offset " + Number(p.offsetX) + ", " + Number(p.offsetY) + " of the width");
  if (p.pixelAspect != 1) part("pixel aspect " + Number(p.pixelAspect));
  if (p.Distorts()) {
    const double fold = p.FoldSlope2();
    part("distortion brown k1 " + Number(p.k1) + " k2 " + Number(p.k2) + " p1 " + Number(p.p1) +
         " p2 " + Number(p.p2) + " k3 " + Number(p.k3) +
         (std::isfinite(fold) ? ", folding beyond a slope of " + Number(std::sqrt(fold))
                              : std::string()));
  }
  return text;
}

}  // namespace tq::app
