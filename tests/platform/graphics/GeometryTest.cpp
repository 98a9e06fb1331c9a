#include <gtest/gtest.h>

#include <numbers>

#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/Geometry.h"

namespace zv::graphics {
namespace {

const double pi = std::numbers::pi;

TEST(GeometryTest, RectangleArithmetic) {
  struct Case {
    Rect a, b, intersection;
  };
  for (auto c : {Case{{0, 0, 10, 10}, {5, 5, 10, 10}, {5, 5, 5, 5}}, Case{{0, 0, 10, 10}, {10, 0, 5, 5}, {}},
                 Case{{0, 0, 10, 10}, {2, 3, 4, 5}, {2, 3, 4, 5}}, Case{{-5, -5, 10, 10}, {0, 0, 1, 1}, {0, 0, 1, 1}}}) {
    EXPECT_EQ(c.a.intersection(c.b), c.intersection) << describe(c.a) << " " << describe(c.b);
    EXPECT_EQ(c.a.intersects(c.b), !c.intersection.isEmpty());
  }
  Rect r(10, 20, 30, 40);
  EXPECT_EQ(r.insetBy(5, 10), Rect(15, 30, 20, 20));
  EXPECT_EQ(Rect(0.5, 0.2, 1.2, 1.1).integral(), Rect(0, 0, 2, 2));
  EXPECT_TRUE(r.containsPoint({10, 20}));
  EXPECT_FALSE(r.containsPoint({40, 20}));  // the far edges are outside
  EXPECT_EQ(insetRect(r, {1, 2, 3, 4}), Rect(12, 21, 24, 36));
  EXPECT_EQ(Rect(10, 10, -4, -4).minX(), 6);
}

TEST(GeometryTest, TransformsComposeInTheOrderApplied) {
  // Scale, then move: a point is scaled first.
  AffineTransform t = AffineTransform::scale(2, 3).concat(AffineTransform::translation(10, 20));
  EXPECT_EQ(t.apply({1, 1}), (Point{12, 23}));
  // `rotated` applies the rotation before the transform it is called on.
  AffineTransform moved = AffineTransform::translation(5, 0).rotated(pi / 2);
  Point p = moved.apply({1, 0});
  EXPECT_NEAR(p.x, 5, 1e-12);
  EXPECT_NEAR(p.y, 1, 1e-12);
  EXPECT_TRUE(AffineTransform::rotation(2 * pi).isNear(AffineTransform::identity()));
  EXPECT_FALSE(AffineTransform::rotation(2 * pi).isIdentity());  // exact comparison sees rounding
  AffineTransform zoom = AffineTransform::rotation(pi).scaled(1.5, 1.5);
  EXPECT_TRUE(zoom.isNear({-1.5, 0, 0, -1.5, 0, 0}));
}

TEST(GeometryTest, ArcToPointRoundsACornerTangentToBothSides) {
  auto context = BitmapContext::make(40, 40, BitmapColorSpace::RGB);
  context->setShouldAntialias(false);
  context->setFillColor(1, 1, 1);
  context->beginPath();
  context->moveToPoint(0, 0);
  context->addArcToPoint(40, 0, 40, 40, 20);  // corner at the top right, radius 20
  context->addLineToPoint(40, 40);
  context->addLineToPoint(0, 40);
  context->closePath();
  context->fillPath();
  EXPECT_EQ(context->greyAt(10, 10), 255);
  EXPECT_EQ(context->greyAt(38, 2), 0);    // cut off by the arc
  EXPECT_EQ(context->greyAt(25, 15), 255);  // inside the arc (centre 20,20)
  EXPECT_EQ(context->greyAt(38, 30), 255);
}

TEST(GeometryTest, EvenOddFillLeavesTheHoleAndClearRectClears) {
  auto context = BitmapContext::make(30, 30, BitmapColorSpace::RGBA);
  context->setFillColor(0, 1, 0);
  context->beginPath();
  context->addRect(Rect(0, 0, 30, 30));
  context->addRect(Rect(10, 10, 10, 10));
  context->eoFillPath();
  EXPECT_EQ(context->pixelAt(5, 5).g, 255);
  EXPECT_EQ(context->pixelAt(15, 15).a, 0);
  context->clearRect(Rect(0, 0, 5, 5));
  EXPECT_EQ(context->pixelAt(2, 2).a, 0);
  context->setFillColor(0, 0, 1);
  context->beginPath();
  context->addEllipseInRect(Rect(0, 0, 30, 30));
  context->fillPath();
  EXPECT_EQ(context->pixelAt(15, 15).b, 255);
  EXPECT_EQ(context->pixelAt(1, 1).a, 0);  // outside the circle, inside the cleared corner
  context->saveGState();
  context->clipToRect(Rect(0, 0, 10, 10));
  context->setFillColor(1, 0, 0);
  context->fillRect(Rect(0, 0, 30, 30));
  context->restoreGState();
  EXPECT_EQ(context->pixelAt(5, 5).r, 255);
  EXPECT_EQ(context->pixelAt(20, 20).r, 0);  // the clip ended with the state
}

}  // namespace
}  // namespace zv::graphics
