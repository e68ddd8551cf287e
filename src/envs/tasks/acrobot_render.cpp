// Acrobot's picture, as Gymnasium draws it: both links with a joint at the start of
// each, and the line the free end must rise above, 500 x 500 pixels showing 2.2 units
// either way from the pivot.
#include "envs/tasks/acrobot.hpp"

#include <cmath>
#include <numbers>

namespace vorlisk::envs::tasks {
namespace {

constexpr double kLinkLength = 1.0;
constexpr double kBound = 2.0 * kLinkLength + 0.2;
constexpr double kScale = 500.0 / (kBound * 2.0);  // pixels a unit
constexpr double kOffset = 250.0;                  // the pivot, at the middle
constexpr double kHalfWidth = 0.1 * kScale;
constexpr render::Rgb kLinkColour{0, 204, 204};
constexpr render::Rgb kJointColour{204, 204, 0};

}  // namespace

void Acrobot::render_lane(std::size_t i, render::Canvas& canvas) const {
  const double t1 = theta1[i], t2 = theta2[i];
  // A one-pixel line, on the whole pixel row pygame puts it on.
  const double target = std::trunc(kLinkLength * kScale + kOffset);
  canvas.line({-kBound * kScale + kOffset, target}, {kBound * kScale + kOffset, target}, 1.0,
              render::kBlack);

  // Angles of 0 hang straight down; the second is relative to the first link.
  const double half_pi = std::numbers::pi / 2.0;
  const render::Point starts[] = {
      {kOffset, kOffset},
      {kLinkLength * std::sin(t1) * kScale + kOffset, -kLinkLength * std::cos(t1) * kScale + kOffset}};
  const double angles[] = {t1 - half_pi, t1 + t2 - half_pi};
  for (int k = 0; k < 2; ++k) {
    const double length = kLinkLength * kScale;
    const render::Point link[] = {render::rotated({0.0, -kHalfWidth}, angles[k], starts[k]),
                                  render::rotated({0.0, kHalfWidth}, angles[k], starts[k]),
                                  render::rotated({length, kHalfWidth}, angles[k], starts[k]),
                                  render::rotated({length, -kHalfWidth}, angles[k], starts[k])};
    canvas.fill_polygon(link, kLinkColour);
    canvas.fill_circle({std::trunc(starts[k].x), std::trunc(starts[k].y)}, std::trunc(kHalfWidth),
                       kJointColour);
  }
}

}  // namespace vorlisk::envs::tasks
