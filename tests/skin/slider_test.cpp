#include "skin/uc_slider.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QScreen>
#include <QTest>

#include <string>
#include <vector>

#include "skin/draw_edge.h"
#include "skin/property_bag.h"
#include "skin/slider_geometry.h"

namespace vornel::skin {
namespace {

using Events = std::vector<std::string>;

// The events a slider raises, in order.
class Recorder {
 public:
  explicit Recorder(ucSlider& slider) {
    QObject::connect(&slider, &ucSlider::Click, [this] { events.push_back("Click"); });
    QObject::connect(&slider, &ucSlider::ArrivedFirst, [this] { events.push_back("ArrivedFirst"); });
    QObject::connect(&slider, &ucSlider::ArrivedLast, [this] { events.push_back("ArrivedLast"); });
    QObject::connect(&slider, &ucSlider::Change, [this] { events.push_back("Change"); });
    QObject::connect(&slider, &ucSlider::MouseDown, [this](std::int16_t) { events.push_back("MouseDown"); });
    QObject::connect(&slider, &ucSlider::MouseUp, [this](std::int16_t) { events.push_back("MouseUp"); });
  }
  Events take() { return std::exchange(events, {}); }
  Events events;
};

QImage Solid(int width, int height, QRgb colour) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

constexpr QRgb kRailColour = qRgb(140, 140, 140);
constexpr QRgb kKnobColour = qRgb(0, 160, 0);
constexpr std::uint32_t kGrey232 = 0x00E8E8E8;

// The main window's volume slider as it is stored: horizontal, picture rail 40 x 10, knob 11 x 10,
// 0..100 at 100.
PropertyBag VolumeDesign() {
  PropertyBag bag;
  bag.WriteProperty("backcolor", kGrey232, ucSlider::kButtonFace);
  bag.WriteProperty("sliderimage", Solid(11, 10, kKnobColour), QImage());
  bag.WriteProperty("orientation", 0, 1);
  bag.WriteProperty("railimage", Solid(40, 10, kRailColour), QImage());
  bag.WriteProperty("railstyle", 99, 0);
  bag.WriteProperty("showvaluetip", false, true);
  bag.WriteProperty("max", 100, 10);
  bag.WriteProperty("value", 100, 0);
  return bag;
}

TEST(SliderGeometry, RoundsHalvesToEvenAndHalvesTowardZero) {
  EXPECT_EQ(Nearest(0.5), 0);
  EXPECT_EQ(Nearest(1.5), 2);
  EXPECT_EQ(Nearest(2.5), 2);
  EXPECT_EQ(Nearest(-2.5), -2);
  EXPECT_EQ(Halved(-3), -1);
  EXPECT_EQ(Halved(7), 3);
  // Broken stored data must not make a conversion undefined.
  EXPECT_EQ(Nearest(1e300), std::numeric_limits<int>::max());
  EXPECT_EQ(Nearest(std::nan("")), 0);
}

TEST(SliderGeometry, ValueAndOffsetOfTheVolumeSlider) {
  struct Case {
    int value;
    double offset;
  };
  for (const Case& c : {Case{100, 33}, Case{50, 16.5}, Case{3, 0.99}, Case{0, 0}}) {
    EXPECT_NEAR(*OffsetForValue(false, 33, c.value, 0, 100), c.offset, 1e-9) << c.value;
  }
  struct Drag {
    double p;
    int value;
    double snapped;
  };
  for (const Drag& d : {Drag{17, 52, 17.16}, Drag{1, 3, 0.99}, Drag{33, 100, 33}}) {
    const SnappedThumb s = ValueFromOffset(false, 33, d.p, 0, 100);
    EXPECT_EQ(s.value, d.value) << d.p;
    EXPECT_NEAR(*s.offset, d.snapped, 1e-9) << d.p;
  }
  // Vertical: min at the bottom.
  EXPECT_EQ(*OffsetForValue(true, 34, 0, 0, 10), 34);
  EXPECT_EQ(*OffsetForValue(true, 34, 10, 0, 10), 0);
  EXPECT_EQ(ValueFromOffset(true, 34, 0, 0, 10).value, 10);
  // Nothing to divide by: no offset, and no value without a track.
  EXPECT_FALSE(OffsetForValue(false, 33, 5, 5, 0));
  EXPECT_EQ(ValueFromOffset(false, 0, 0, 5, 10).value, 0);
  EXPECT_EQ(ValueFromOffset(false, 33, 10, 5, 0).value, 5);
  EXPECT_FALSE(ValueFromOffset(false, 33, 10, 5, 0).offset);
}

TEST(SliderGeometry, RailBandRunsThroughTheThumbsMiddle) {
  EXPECT_EQ(RailBand(false, 100, 16, 16, 16), (EdgeRect{6, 6, 94, 10}));
  EXPECT_EQ(RailBand(true, 16, 100, 16, 16), (EdgeRect{6, 6, 10, 94}));
}

TEST(SliderValue, SettersKeepTheRangeAndRaiseEventsInOrder) {
  ucSlider slider;
  Recorder recorder(slider);
  ASSERT_EQ(slider.LetMax(100), PropertyError::None);
  ASSERT_EQ(slider.LetValue(7), PropertyError::None);
  recorder.take();

  EXPECT_EQ(slider.LetValue(7), PropertyError::None);
  EXPECT_EQ(recorder.take(), Events{}) << "same value: nothing";
  EXPECT_EQ(slider.LetValue(100), PropertyError::None);
  EXPECT_EQ(recorder.take(), (Events{"Change", "ArrivedLast"}));
  EXPECT_EQ(slider.LetValue(0), PropertyError::None);
  EXPECT_EQ(recorder.take(), (Events{"Change", "ArrivedFirst"}));
  EXPECT_EQ(slider.LetValue(101), PropertyError::InvalidPropertyValue);
  EXPECT_EQ(slider.LetValue(-1), PropertyError::InvalidPropertyValue);
  EXPECT_EQ(slider.value(), 0);
  EXPECT_EQ(recorder.take(), Events{});
}

TEST(SliderValue, MinMovesTheValueAndMaxLeavesIt) {
  ucSlider slider;
  Recorder recorder(slider);
  ASSERT_EQ(slider.LetValue(7), PropertyError::None);
  recorder.take();

  EXPECT_EQ(slider.LetMin(5), PropertyError::None);
  EXPECT_EQ(slider.min(), 5);
  EXPECT_EQ(slider.value(), 5);
  EXPECT_EQ(slider.Range(), 5);
  EXPECT_EQ(recorder.take(), (Events{"Change", "ArrivedFirst"}));
  EXPECT_EQ(slider.LetMin(10), PropertyError::InvalidPropertyValue);
  EXPECT_EQ(slider.min(), 5);

  ASSERT_EQ(slider.LetValue(8), PropertyError::None);
  EXPECT_EQ(slider.LetMax(6), PropertyError::None);
  EXPECT_EQ(slider.value(), 8) << "max does not touch the value";
  EXPECT_EQ(slider.LetValue(8), PropertyError::InvalidPropertyValue);
  EXPECT_EQ(slider.LetValue(6), PropertyError::None);
  EXPECT_EQ(slider.LetMax(5), PropertyError::InvalidPropertyValue) << "max equal to min";
  EXPECT_EQ(slider.max(), 6);

  // The widest ends a 32-bit value can have do not overflow the range.
  EXPECT_EQ(slider.LetMin(std::numeric_limits<int>::min()), PropertyError::None);
  EXPECT_EQ(slider.LetMax(std::numeric_limits<int>::max()), PropertyError::None);
  EXPECT_EQ(slider.Range(), 4294967295LL);
}

TEST(SliderValue, HandlerAssignmentRunsToTheEndFirst) {
  ucSlider slider;
  Recorder recorder(slider);
  // A handler that pulls every value above 5 back to 5: the nested change completes inside the
  // outer one, whose end events then see the value the handler left.
  QObject::connect(&slider, &ucSlider::Change, [&] {
    if (slider.value() > 5) (void)slider.LetValue(5);
  });
  ASSERT_EQ(slider.LetValue(10), PropertyError::None);
  EXPECT_EQ(slider.value(), 5);
  EXPECT_EQ(recorder.take(), (Events{"Change", "Change"}));
}

TEST(SliderLifecycle, NewInstanceIsVerticalAtTheBottom) {
  ucSlider slider;
  slider.resize(16, 100);
  slider.Layout();  // as the host does after sizing it
  EXPECT_EQ(slider.Orientation(), OrientationVertical);
  EXPECT_EQ(slider.min(), 0);
  EXPECT_EQ(slider.max(), 10);
  EXPECT_EQ(slider.value(), 0);
  EXPECT_TRUE(slider.Enabled());
  EXPECT_TRUE(slider.ShowValueTip());
  EXPECT_EQ(slider.thumbTop(), 100 - 16);
  EXPECT_EQ(slider.UnitsPerPixelX(), Nearest(1440 / slider.screen()->logicalDotsPerInchX()));
}

TEST(SliderLifecycle, DefaultsAreNotStoredAndStoredValuesComeBack) {
  ucSlider fresh;
  PropertyBag bag;
  fresh.WriteProperties(bag);
  EXPECT_TRUE(bag.isEmpty());

  ucSlider loaded;
  loaded.ReadProperties(VolumeDesign());
  PropertyBag saved;
  loaded.WriteProperties(saved);
  EXPECT_EQ(saved.names(), (QStringList{"BackColor", "SliderImage", "Orientation", "RailImage", "RailStyle",
                                        "ShowValueTip", "Max", "Value"}));
  ucSlider again;
  again.ReadProperties(saved);
  EXPECT_EQ(again.BackColor(), kGrey232);
  EXPECT_EQ(again.RailImage(), Solid(40, 10, kRailColour));
  EXPECT_EQ(again.value(), 100);
  EXPECT_EQ(again.RailStyle(), RailPicture);
  EXPECT_FALSE(again.ShowValueTip());
}

TEST(SliderLifecycle, LoadingTakesStoredDataAsItIs) {
  PropertyBag bag;
  bag.WriteProperty("min", 9, 0);
  bag.WriteProperty("max", 3, 10);
  bag.WriteProperty("value", 50, 0);
  bag.WriteProperty("orientation", 7, 1);
  ucSlider slider;
  Recorder recorder(slider);
  slider.ReadProperties(bag);
  slider.resize(40, 40);
  slider.Layout();
  EXPECT_EQ(slider.value(), 50);
  EXPECT_EQ(slider.Range(), -6);
  // Pointer input on such data stays orderly.
  (void)slider.Press(1, 0, 5, 5);
  (void)slider.Move(1, 0, 30, 30);
  slider.Release(1, 0, 30, 30);
  EXPECT_EQ(recorder.take(), (Events{"MouseDown", "Click", "MouseUp"}));
}

class VolumeSliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    slider.ReadProperties(VolumeDesign());
    slider.setGeometry(201, 77, 44, 10);
    slider.Layout();
    recorder.take();
  }
  ucSlider slider;
  Recorder recorder{slider};
};

TEST_F(VolumeSliderTest, LaysItselfOutFromItsPictures) {
  slider.resize(200, 50);  // the host's size gives way to the pictures
  slider.Layout();
  EXPECT_EQ(slider.size(), QSize(44, 10));
  EXPECT_EQ(slider.TrackLength(), 33);
  EXPECT_EQ(slider.thumbTop(), 0);
  EXPECT_EQ(slider.thumbLeft(), 33);
  const QImage& s = slider.surface();
  EXPECT_EQ(s.pixel(1, 5), qRgb(232, 232, 232)) << "back colour left of the rail";
  EXPECT_EQ(s.pixel(2, 5), kRailColour) << "rail painted at (2, 0)";
  EXPECT_EQ(s.pixel(33, 0), kKnobColour) << "knob at the max end";
  // The loaded value raises nothing when the window assigns it again.
  EXPECT_EQ(slider.LetValue(100), PropertyError::None);
  EXPECT_EQ(recorder.take(), Events{});
}

TEST_F(VolumeSliderTest, DragSnapsToWholeValuesAndStopsAtTheEnds) {
  ASSERT_EQ(slider.Press(1, 0, 35, 5), PropertyError::None);  // on the thumb: GrabX 2
  EXPECT_EQ(recorder.take(), Events{"MouseDown"});
  EXPECT_EQ(slider.value(), 100);

  struct Step {
    double x;  // p = x - 2
    int value;
    double left;
    Events events;
  };
  const Step steps[] = {
      {19, 52, 17.16, {"Change"}},
      {19.2, 52, 17.16, {}},  // the same whole value: nothing redrawn, nothing raised
      {3, 3, 0.99, {"Change"}},
      {-2, 0, 0, {"Change", "ArrivedFirst"}},
      {42, 100, 33, {"Change", "ArrivedLast"}},
  };
  for (const Step& step : steps) {
    ASSERT_EQ(slider.Move(1, 0, step.x, 5), PropertyError::None);
    EXPECT_EQ(slider.value(), step.value) << step.x;
    EXPECT_NEAR(slider.thumbLeft(), step.left, 1e-5) << step.x;
    EXPECT_EQ(recorder.take(), step.events) << step.x;
  }
  slider.Release(1, 3, 50, 5);
  EXPECT_EQ(recorder.take(), (Events{"MouseUp"})) << "released outside: no Click";
  EXPECT_FALSE(slider.Dragging());
}

TEST_F(VolumeSliderTest, PressOnTheRailJumpsThenReportsThePress) {
  ASSERT_EQ(slider.Press(1, 0, 3, 5), PropertyError::None);  // GrabX 5: p = -2
  EXPECT_EQ(slider.value(), 0);
  EXPECT_EQ(slider.thumbLeft(), 0);
  EXPECT_EQ(recorder.take(), (Events{"Change", "ArrivedFirst", "MouseDown"}));
  slider.Release(1, 0, 3, 5);
  EXPECT_EQ(recorder.take(), (Events{"Click", "MouseUp"}));
}

TEST_F(VolumeSliderTest, ButtonsAndEnabledDecideWhatAPressDoes) {
  slider.Press(2, 0, 3, 5);
  EXPECT_FALSE(slider.Dragging());
  EXPECT_EQ(recorder.take(), Events{}) << "right button: nothing";

  (void)slider.Press(1, 0, 35, 5);
  slider.Release(2, 0, 35, 5);
  EXPECT_EQ(recorder.take(), (Events{"MouseDown", "MouseUp"})) << "right release ends the drag, no Click";
  EXPECT_FALSE(slider.Dragging());

  slider.Release(1, 0, 44, 5);
  EXPECT_EQ(recorder.take(), Events{}) << "one past the last column is outside";

  slider.LetEnabled(false);
  (void)slider.Press(1, 0, 3, 5);
  EXPECT_FALSE(slider.Dragging());
  EXPECT_EQ(slider.value(), 100);
  slider.Release(1, 0, 3, 5);
  EXPECT_EQ(recorder.take(), Events{"Click"}) << "disabled: no drag, still a Click";
}

TEST_F(VolumeSliderTest, RealPointerDragsTheThumb) {
  slider.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
  QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(38, 5));
  QMouseEvent move(QEvent::MouseMove, QPointF(19, 5), slider.mapToGlobal(QPointF(19, 5)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&slider, &move);
  QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(19, 5));
  EXPECT_EQ(slider.value(), 42);  // grabbed 5 pixels into the thumb: p = 14, 14 / 33 * 100 = 42.4
  EXPECT_EQ(recorder.take(), (Events{"MouseDown", "Change", "Click", "MouseUp"}));
}

TEST(SliderDrawing, EdgeRailAndDefaultThumb) {
  ucSlider slider;
  slider.LetOrientation(OrientationHorizontal);
  slider.resize(100, 40);
  slider.Layout();
  EXPECT_EQ(slider.size(), QSize(100, 16)) << "the thumb's thickness";
  EXPECT_EQ(slider.RailRect(), (EdgeRect{6, 6, 94, 10}));
  EXPECT_EQ(slider.TrackLength(), 84);
  EXPECT_EQ(slider.ThumbRect(), (EdgeRect{0, 0, 16, 16}));
  const QImage& s = slider.surface();
  EXPECT_EQ(s.pixel(8, 8), SystemColour(COLOR_BTNFACE).rgb()) << "thumb face";
  EXPECT_EQ(s.pixel(15, 15), SystemColour(COLOR_3DDKSHADOW).rgb()) << "raised edge, outer dark corner";
  EXPECT_EQ(s.pixel(50, 6), SystemColour(COLOR_BTNSHADOW).rgb()) << "sunken rail, top outer";
  EXPECT_EQ(s.pixel(50, 9), SystemColour(COLOR_BTNHIGHLIGHT).rgb()) << "sunken rail, bottom outer";

  for (int style : {7, -1}) {
    slider.LetRailStyle(style);
    EXPECT_EQ(slider.surface().pixel(50, 6), SystemColour(COLOR_BTNFACE).rgb()) << "no rail for " << style;
  }
}

TEST(SliderDrawing, NoTrackWhenTheHostGivesNoWidth) {
  ucSlider slider;
  slider.LetOrientation(OrientationHorizontal);
  slider.resize(0, 0);
  slider.Layout();
  EXPECT_EQ(slider.width(), 16);
  EXPECT_EQ(slider.TrackLength(), 0);
  EXPECT_EQ(slider.thumbLeft(), 0);
  (void)slider.Press(1, 0, 8, 8);
  EXPECT_EQ(slider.Move(1, 0, 12, 8), PropertyError::None);
  EXPECT_EQ(slider.value(), 0);
}

TEST(SliderDrawing, VerticalPictureRail) {
  ucSlider slider;
  slider.LetSliderImage(Solid(11, 10, kKnobColour));
  slider.LetRailImage(Solid(10, 40, kRailColour));
  slider.LetRailStyle(RailPicture);
  EXPECT_EQ(slider.size(), QSize(11, 44));
  EXPECT_EQ(slider.thumbLeft(), 0);
  EXPECT_EQ(slider.thumbTop(), 34) << "min at the bottom";
  EXPECT_EQ(slider.surface().pixel(0, 2), kRailColour) << "rail painted at (0, 2)";
  ASSERT_EQ(slider.LetValue(10), PropertyError::None);
  EXPECT_EQ(slider.thumbTop(), 0) << "max at the top";
}

}  // namespace
}  // namespace vornel::skin
