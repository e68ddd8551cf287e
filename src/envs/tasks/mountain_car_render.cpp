// The picture MountainCar and MountainCarContinuous share, as Gymnasium draws it: the
// hills, the flag, and the car tilted on its wheels, 600 x 400 pixels showing the
// positions from -1.2 to 0.6.
#include "envs/tasks/mountain_car.hpp"

#include <array>
#include <cmath>

namespace vorlisk::envs::tasks {
namespace {

constexpr double kMinPosition = -1.2;
constexpr double kScale = 600.0 / (0.6 - kMinPosition);  // pixels a unit
constexpr double kCarWidth = 40.0;
constexpr double kCarHeight = 20.0;
constexpr double kClearance = 10.0;
constexpr std::size_t kHillPoints = 100;
constexpr render::Rgb kWheelColour{128, 128, 128};
constexpr render::Rgb kFlagColour{204, 204, 0};

double hill_height(double position) { return std::sin(3.0 * position) * 0.45 + 0.55; }

}  // namespace

void render_mountain_car(float position, float goal, render::Canvas& canvas) {
  std::array<render::Point, kHillPoints> hills;
  for (std::size_t k = 0; k < kHillPoints; ++k) {
    const double x = kMinPosition + (0.6 - kMinPosition) * static_cast<double>(k) / (kHillPoints - 1);
    hills[k] = {(x - kMinPosition) * kScale, hill_height(x) * kScale};
  }
  canvas.polyline(hills, 1.0, render::kBlack);

  // Gymnasium tilts the car by cos(3 x) radians, not by the slope's angle; so do we.
  const double tilt = std::cos(3.0 * static_cast<double>(position));
  const render::Point base{(position - kMinPosition) * kScale,
                           kClearance + hill_height(position) * kScale};
  const double w = kCarWidth / 2.0;
  const render::Point car[] = {render::rotated({-w, 0.0}, tilt, base),
                               render::rotated({-w, kCarHeight}, tilt, base),
                               render::rotated({w, kCarHeight}, tilt, base),
                               render::rotated({w, 0.0}, tilt, base)};
  canvas.fill_polygon(car, render::kBlack);
  for (const double along : {kCarWidth / 4.0, -kCarWidth / 4.0}) {
    const render::Point wheel = render::rotated({along, 0.0}, tilt, base);
    canvas.fill_circle({std::trunc(wheel.x), std::trunc(wheel.y)}, std::trunc(kCarHeight / 2.5),
                       kWheelColour);
  }

  const double flag_x = std::trunc((goal - kMinPosition) * kScale);
  const double pole_bottom = std::trunc(hill_height(goal) * kScale);
  const double pole_top = pole_bottom + 50.0;
  canvas.line({flag_x, pole_bottom}, {flag_x, pole_top}, 1.0, render::kBlack);
  const render::Point flag[] = {{flag_x, pole_top}, {flag_x, pole_top - 10.0}, {flag_x + 25.0, pole_top - 5.0}};
  canvas.fill_polygon(flag, kFlagColour);
}

}  // namespace vorlisk::envs::tasks
