// The canvas's shapes, and CartPole's picture placed where Gymnasium's geometry puts it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "envs/tasks/cartpole.hpp"
#include "render/frames.hpp"

namespace vorlisk::render {
namespace {

constexpr Rgb kRed{200, 0, 0};

struct Frame {
  explicit Frame(FrameSize size) : bytes(frame_bytes(size)), canvas(bytes.data(), size) {
    canvas.fill(kWhite);
  }
  // The green channel at (x, y), y up: 255 on white, 0 where fully red.
  int green(std::size_t x, std::size_t y) const { return canvas.at(x, canvas.size().height - 1 - y).g; }
  std::vector<std::uint8_t> bytes;
  Canvas canvas;
};

TEST(Canvas, FilledShapesCoverTheCentresInsideAndFadeOverOnePixel) {
  for (const bool clockwise : {false, true}) {
    Frame f({40, 30});
    std::vector<Point> square = {{10.5, 5.5}, {20.5, 5.5}, {20.5, 15.5}, {10.5, 15.5}};
    if (clockwise) square = {square.rbegin(), square.rend()};
    f.canvas.fill_polygon(square, kRed);
    EXPECT_EQ(f.green(11, 6), 0);
    EXPECT_EQ(f.green(20, 15), 0);
    EXPECT_EQ(f.green(21, 10), 128);  // half a pixel beyond the edge
    EXPECT_EQ(f.green(22, 10), 255);
    EXPECT_EQ(f.green(15, 4), 255);
    f.canvas.fill_circle({30.0, 20.0}, 4.0, kRed);
    EXPECT_EQ(f.green(30, 24), 0);
    EXPECT_EQ(f.green(26, 20), 0);
    EXPECT_EQ(f.green(30, 25), 255);  // one pixel beyond the radius
  }
}

// A stroke half-way between two rows covers each by half, joints included: a joint
// drawn by both its strokes would be darker.
TEST(Canvas, StrokesFadeEvenlyAndDrawJointsOnce) {
  Frame f({30, 20});
  const Point points[] = {{2.0, 10.5}, {9.0, 10.5}, {17.0, 10.5}, {25.0, 10.5}};
  f.canvas.polyline(points, 1.0, kRed);
  for (std::size_t x = 2; x <= 25; ++x) {
    EXPECT_EQ(f.green(x, 10), 128) << x;
    EXPECT_EQ(f.green(x, 11), 128) << x;
    EXPECT_EQ(f.green(x, 9), 255) << x;
  }
  Frame g({30, 20});
  g.canvas.line({0.0, 4.0}, {29.0, 4.0}, 1.0, kRed);  // on a pixel row: that row alone
  for (std::size_t x = 0; x < 30; ++x) EXPECT_EQ(g.green(x, 4) + g.green(x, 3) + g.green(x, 5), 510);
}

TEST(Canvas, ShapesBeyondTheFrameOrNotFiniteLeaveItAlone) {
  Frame f({20, 10});
  const Point far[] = {{-1e40, -1e40}, {1e40, -1e40}, {1e40, -1e39}};  // all below
  const Point nan[] = {{NAN, 1.0}, {5.0, 5.0}, {1.0, 5.0}};
  f.canvas.fill_polygon(far, kRed);
  f.canvas.fill_polygon(nan, kRed);
  f.canvas.fill_circle({NAN, 3.0}, 5.0, kRed);
  f.canvas.line({-INFINITY, 2.0}, {INFINITY, 2.0}, 1.0, kRed);
  f.canvas.fill_circle({-30.0, 3.0}, 5.0, kRed);
  for (std::size_t y = 0; y < 10; ++y) {
    for (std::size_t x = 0; x < 20; ++x) EXPECT_EQ(f.green(x, y), 255) << x << "," << y;
  }
}

// Cart 1.0 to the right of the middle: 125 pixels, centred on column 425, rows 85 to
// 115 up; the pole from the axle 7.5 above the track at the pole's angle.
TEST(CartPolePicture, CartAndPoleStandWhereGymnasiumPutsThem) {
  auto e = envs::tasks::CartPole::with_workers(2, 1);
  e.cart_pos = {1.0f, 1.0f};
  e.pole_angle = {0.0f, 0.3f};
  constexpr FrameSize kSize = envs::tasks::CartPole::kFrame;
  std::vector<std::uint8_t> bytes(2 * frame_bytes(kSize));
  const std::size_t lanes[] = {1, 0};
  render_lanes(e, lanes, bytes);
  for (const std::size_t k : {0u, 1u}) {
    const Canvas frame(bytes.data() + k * frame_bytes(kSize), kSize);
    auto row = [&](std::size_t y) { return kSize.height - 1 - y; };
    std::vector<std::size_t> black;
    for (std::size_t x = 0; x < kSize.width; ++x) {
      if (frame.at(x, row(90)).r == 0) black.push_back(x);
    }
    ASSERT_FALSE(black.empty());
    EXPECT_EQ(black.front(), 400u);
    EXPECT_EQ(black.back(), 450u);
    EXPECT_EQ(black.size(), 51u);
    double sx = 0.0, sy = 0.0, count = 0.0;
    for (std::size_t y = 0; y < kSize.height; ++y) {
      for (std::size_t x = 0; x < kSize.width; ++x) {
        const Rgb c = frame.at(x, row(y));
        if (c.r == 202 && c.g == 152 && c.b == 101) sx += x, sy += y, ++count;
      }
    }
    ASSERT_GT(count, 1000.0);  // about 10 x 125
    const double lean = std::atan2(sx / count - 425.0, sy / count - 107.5);
    EXPECT_NEAR(lean, k == 0 ? 0.3 : 0.0, 0.01);
  }
}

}  // namespace
}  // namespace vorlisk::render
