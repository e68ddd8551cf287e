// CartPole's picture, as Gymnasium draws it: the cart on its track, the pole on its
// axle, 600 x 400 pixels showing the 4.8 units between the position limits.
#include "envs/tasks/cartpole.hpp"

namespace vorlisk::envs::tasks {
namespace {

constexpr double kScale = 600.0 / 4.8;      // pixels a unit
constexpr double kPoleWidth = 10.0;
constexpr double kPoleLength = kScale * 1.0;  // twice the half length
constexpr double kCartWidth = 50.0;
constexpr double kCartHeight = 30.0;
constexpr double kCartTop = 100.0;  // the track's height, through the cart's middle
constexpr double kAxleOffset = kCartHeight / 4.0;
constexpr render::Rgb kPoleColour{202, 152, 101};
constexpr render::Rgb kAxleColour{129, 132, 203};

}  // namespace

void CartPole::render_lane(std::size_t i, render::Canvas& canvas) const {
  const double cart_x = cart_pos[i] * kScale + 600.0 / 2.0;
  const double w = kCartWidth / 2.0, h = kCartHeight / 2.0;
  const render::Point cart[] = {{cart_x - w, kCartTop - h}, {cart_x - w, kCartTop + h},
                                {cart_x + w, kCartTop + h}, {cart_x + w, kCartTop - h}};
  canvas.fill_polygon(cart, render::kBlack);

  // The pole leans right for a positive angle: its corners turn clockwise.
  const render::Point axle{cart_x, kCartTop + kAxleOffset};
  const double half = kPoleWidth / 2.0;
  const double angle = -static_cast<double>(pole_angle[i]);
  const render::Point pole[] = {
      render::rotated({-half, -half}, angle, axle), render::rotated({-half, kPoleLength - half}, angle, axle),
      render::rotated({half, kPoleLength - half}, angle, axle), render::rotated({half, -half}, angle, axle)};
  canvas.fill_polygon(pole, kPoleColour);
  // Gymnasium places the axle on whole pixels.
  canvas.fill_circle({std::trunc(axle.x), std::trunc(axle.y)}, half, kAxleColour);

  canvas.line({0.0, kCartTop}, {600.0, kCartTop}, 1.0, render::kBlack);
}

}  // namespace vorlisk::envs::tasks
