// Pendulum's picture, as Gymnasium draws it: the rod from its axle, 500 x 500 pixels
// showing 2.2 units either way. Gymnasium also draws an arrow for the last torque;
// the engine does not keep the last action, so there is none.
#include "envs/tasks/pendulum.hpp"

#include <cmath>
#include <numbers>

namespace vorlisk::envs::tasks {
namespace {

constexpr double kScale = 500.0 / (2.2 * 2.0);  // pixels a unit
constexpr render::Point kAxle{250.0, 250.0};    // the middle
constexpr double kRodLength = 1.0 * kScale;
constexpr double kRodWidth = 0.2 * kScale;
constexpr render::Rgb kRodColour{204, 77, 77};

}  // namespace

void Pendulum::render_lane(std::size_t i, render::Canvas& canvas) const {
  // The rod is drawn along x and turned; angle 0 points straight up.
  const double angle = static_cast<double>(theta[i]) + std::numbers::pi / 2.0;
  const double half = kRodWidth / 2.0;
  const render::Point rod[] = {
      render::rotated({0.0, -half}, angle, kAxle), render::rotated({0.0, half}, angle, kAxle),
      render::rotated({kRodLength, half}, angle, kAxle), render::rotated({kRodLength, -half}, angle, kAxle)};
  canvas.fill_polygon(rod, kRodColour);
  // Round ends, on whole pixels as Gymnasium places them.
  const double end_radius = std::trunc(half);
  canvas.fill_circle(kAxle, end_radius, kRodColour);
  const render::Point end = render::rotated({kRodLength, 0.0}, angle, kAxle);
  canvas.fill_circle({std::trunc(end.x), std::trunc(end.y)}, end_radius, kRodColour);
  canvas.fill_circle(kAxle, std::trunc(0.05 * kScale), render::kBlack);
}

}  // namespace vorlisk::envs::tasks
