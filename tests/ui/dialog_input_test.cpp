// Keyboard shortcuts, Esc and the mouse on the spectrum, as the window's
// message hook feeds them to the model.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_screen.h"
#include "plugin/plugin_state.h"
#include "recording_canvas.h"
#include "ui/picture_view.h"

namespace {

using namespace qrx::ui;
using qrxtest::FakeScreen;
using Kind = InputMessage::Kind;

const qrx::FilterSpec kA = {1, 2301, 0, 300, 300, 3, -60, 0};
const qrx::FilterSpec kB = {0, 1500, -900, 200, 400, 2, -30, 1};
constexpr int32_t kW = 612, kH = 322;

InputMessage Key(Kind kind, uint32_t key, bool extended = false) {
  InputMessage m;
  m.kind = kind;
  m.key = key;
  m.extended = extended;
  return m;
}

InputMessage Mouse(Kind kind, int32_t x, int32_t y, bool onSpectrum = true) {
  InputMessage m;
  m.kind = kind;
  m.onSpectrum = onSpectrum;
  m.x = x;
  m.y = y;
  m.packed = (static_cast<uint32_t>(y & 0xFFFF) << 16) | static_cast<uint32_t>(x & 0xFFFF);
  return m;
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qrx::PluginState& s = qrx::State();
    {
      qrx::platform::ScopedLock lock(s.pluginLock);
      s.settings.ProcEnable = 1;
      s.filters.Clear();
      s.filters.Append(kA);
      s.filters.Append(kB);
      s.settings.AngleZ = 30;
      s.settings.AngleX = 70;
    }
    // The frequency scale of an engine at FFT line 512 for 720 x 576.
    s.engineRowRateKHz = 9818;
    s.engineColRateKHz = 14727;
    screen.Bind(&model);
    model.SetSpectrumView(&view);
    model.Open();
    model.OnUpdate(UpdateCode::kChannelChanged, nullptr);
  }
  void TearDown() override {
    qrx::PluginState& s = qrx::State();
    s.filters.Clear();
    s.viewRotating = 0;
    s.engineRowRateKHz = 0;
    s.engineColRateKHz = 0;
  }
  // A key pressed and released with the given modifiers held around it.
  void Chord(std::initializer_list<uint32_t> modifiers, uint32_t key) {
    for (uint32_t m : modifiers) model.InspectMessage(Key(Kind::kKeyDown, m));
    model.InspectMessage(Key(Kind::kKeyDown, key));
    model.InspectMessage(Key(Kind::kKeyUp, key));
    for (uint32_t m : modifiers) model.InspectMessage(Key(Kind::kKeyUp, m));
  }

  FakeScreen screen;
  SettingsModel model{qrx::State(), screen};
  PictureView view{std::make_unique<qrxtest::RecordingCanvas>(), kW, kH, Rect{37, 13, 37 + kW, 13 + kH}};
};

TEST_F(InputTest, CtrlShortcuts) {
  const int expectedFocus[] = {IDC_EDIT_FX, IDC_EDIT_FY, IDC_EDIT_WX, IDC_EDIT_WY, IDC_EDIT_O, IDC_EDIT_S, IDC_SHAPE};
  for (uint32_t key = '2'; key <= '8'; ++key) {
    screen.focus = IDC_TABLE;  // whatever had the focus
    Chord({17}, key);
    EXPECT_EQ(screen.focus, expectedFocus[key - '2']) << static_cast<char>(key);
  }
  // Ctrl+Shift+2, Ctrl with the keypad's 2, and 2 alone do nothing.
  screen.focus = 0;
  Chord({17, 16}, '2');
  Chord({17}, 98);
  Chord({}, '2');
  EXPECT_EQ(screen.focus, 0);
  EXPECT_EQ(model.ModifierKeys(), 0);
  // An extended key held (an arrow key) sets bit 3; the next release of any
  // key but Shift, Ctrl, Alt and Esc clears it before the shortcut is read.
  model.InspectMessage(Key(Kind::kKeyDown, 17));
  model.InspectMessage(Key(Kind::kKeyDown, 39, true));
  EXPECT_EQ(model.ModifierKeys(), 2 | 8);
  model.InspectMessage(Key(Kind::kKeyUp, 27));
  EXPECT_EQ(model.ModifierKeys(), 2 | 8);
  model.InspectMessage(Key(Kind::kKeyUp, '3'));
  EXPECT_EQ(model.ModifierKeys(), 2);
  EXPECT_EQ(screen.focus, IDC_EDIT_FY);
  model.InspectMessage(Key(Kind::kKeyUp, 17));
  EXPECT_EQ(model.ModifierKeys(), 0);
}

TEST_F(InputTest, CtrlOneTogglesTheSelectedFilterCtrlGraveTogglesProcessing) {
  ASSERT_EQ(model.SelectedIndex(), 0);
  const int handOffs = screen.handOffs;
  Chord({17}, '1');
  EXPECT_EQ(qrx::State().filters[0].En, 0);
  EXPECT_FALSE(screen.rows[0].checked);
  EXPECT_GT(screen.handOffs, handOffs);
  Chord({17}, '1');
  EXPECT_EQ(qrx::State().filters[0].En, 1);
  // Without a selection nothing changes.
  qrx::State().filters.Clear();
  model.OnUpdate(UpdateCode::kChannelChanged, nullptr);
  ASSERT_EQ(model.SelectedIndex(), -1);
  Chord({17}, '1');

  Chord({17}, 192);
  EXPECT_EQ(qrx::State().settings.ProcEnable, 0);
  EXPECT_FALSE(screen.checks[IDC_PROC_ENABLE]);
  EXPECT_EQ(screen.focus, IDC_PROC_ENABLE);
  EXPECT_EQ(screen.posted.back(), UpdateCode::kEnabling);
  Chord({17}, 192);
  EXPECT_EQ(qrx::State().settings.ProcEnable, 1);
}

TEST_F(InputTest, EscEndsPickMode) {
  model.OnAdd();
  ASSERT_EQ(model.PickMode(), 1);
  screen.posted.clear();
  Chord({}, 27);
  EXPECT_EQ(model.PickMode(), 0);
  EXPECT_EQ(screen.texts[IDC_ADD], text::kAddFilter);
  EXPECT_EQ(screen.cursor, CursorKind::kArrow);  // the mouse is not over the spectrum
  EXPECT_EQ(screen.posted, std::vector<UpdateCode>{UpdateCode::kEnabling});
  // Over the spectrum, the hover cursor stays.
  model.OnAdd();
  model.InspectMessage(Mouse(Kind::kMouseMove, 100, 100));
  EXPECT_EQ(screen.cursor, CursorKind::kPick);
  Chord({}, 27);
  EXPECT_EQ(screen.cursor, CursorKind::kHover);
}

TEST_F(InputTest, ReadoutFollowsTheMouse) {
  model.InspectMessage(Mouse(Kind::kMouseMove, 0, kH / 2));
  EXPECT_TRUE(screen.captured);
  EXPECT_TRUE(screen.readoutOn);
  EXPECT_EQ(screen.cursor, CursorKind::kHover);
  EXPECT_EQ(screen.readout, "Fx=0kHz Fy=0kHz");
  EXPECT_EQ(screen.readoutX, 1000 + 0 + 10);
  EXPECT_EQ(screen.readoutY, 2000 + kH / 2 - 20);
  model.InspectMessage(Mouse(Kind::kMouseMove, kW - 1, 0));
  EXPECT_EQ(screen.readout, "Fx=4901kHz Fy=-7363kHz");  // right edge, top: negative
  // The same point again is not handled twice; leaving the view ends it.
  screen.readout.clear();
  model.InspectMessage(Mouse(Kind::kMouseMove, kW - 1, 0));
  EXPECT_EQ(screen.readout, "");
  model.InspectMessage(Mouse(Kind::kMouseMove, kW + 5, 10));
  EXPECT_FALSE(screen.captured);
  EXPECT_FALSE(screen.readoutOn);
  EXPECT_EQ(screen.cursor, CursorKind::kArrow);
  // Messages for other controls are not the spectrum's.
  model.InspectMessage(Mouse(Kind::kMouseMove, 50, 50, false));
  EXPECT_FALSE(screen.captured);
  // Without an engine there is no frequency scale and no readout.
  qrx::State().engineRowRateKHz = 0;
  model.InspectMessage(Mouse(Kind::kMouseMove, 60, 60));
  EXPECT_TRUE(screen.captured);
  EXPECT_FALSE(screen.readoutOn);
}

TEST_F(InputTest, RotationDragClampsTheAngles) {
  model.InspectMessage(Mouse(Kind::kMouseMove, 100, 100));
  model.InspectMessage(Mouse(Kind::kLeftDown, 100, 100));
  EXPECT_EQ(qrx::State().viewRotating, 1);
  EXPECT_FALSE(screen.pointerShown);
  EXPECT_FALSE(screen.readoutOn);
  struct Step {
    int32_t dx, dy, angleZ, angleX;
  } steps[] = {{4, 0, 29, 70},   {400, 0, -70, 70}, {600, 0, -90, 70}, {-600, 0, 90, 70},
               {0, -80, 30, 90}, {0, 40, 30, 60},   {3, 3, 30, 70},    {0, 1000, 30, 0}};
  for (const Step& s : steps) {
    model.InspectMessage(Mouse(Kind::kMouseMove, 100 + s.dx, 100 + s.dy));
    EXPECT_EQ(qrx::State().settings.AngleZ, s.angleZ) << s.dx << "," << s.dy;
    EXPECT_EQ(qrx::State().settings.AngleX, s.angleX) << s.dx << "," << s.dy;
  }
  // Released outside: the arrow and no readout; the angles stay.
  model.InspectMessage(Mouse(Kind::kLeftUp, kW + 20, 100));
  EXPECT_EQ(qrx::State().viewRotating, 0);
  EXPECT_TRUE(screen.pointerShown);
  EXPECT_FALSE(screen.captured);
  EXPECT_EQ(screen.cursor, CursorKind::kArrow);
  EXPECT_EQ(qrx::State().settings.AngleX, 0);
  // Released inside: the readout shows again at once.
  model.InspectMessage(Mouse(Kind::kLeftDown, 10, 10));
  model.InspectMessage(Mouse(Kind::kLeftUp, 20, 20));
  EXPECT_TRUE(screen.captured);
  EXPECT_TRUE(screen.readoutOn);
  EXPECT_EQ(screen.readoutX, 1000 + 20 + 10);
}

// Whatever the mouse and keys were doing when the window closed, the
// reopened window's first move over the spectrum captures the mouse,
// chooses the cursor and shows the readout, and the shortcuts work.
TEST_F(InputTest, ClosingResetsTheMouseAndKeys) {
  struct Case {
    const char* name;
    std::vector<InputMessage> beforeClose;
    CursorKind cursorAfter;
  };
  const Case cases[] = {
      {"mouse over the spectrum", {Mouse(Kind::kMouseMove, 100, 100)}, CursorKind::kHover},
      {"dragging", {Mouse(Kind::kMouseMove, 100, 100), Mouse(Kind::kLeftDown, 100, 100)}, CursorKind::kHover},
      {"shift held", {Mouse(Kind::kMouseMove, 100, 100), Key(Kind::kKeyDown, 16)}, CursorKind::kHover},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const InputMessage& m : c.beforeClose) model.InspectMessage(m);
    model.Close();
    EXPECT_EQ(qrx::State().viewRotating, 0);
    EXPECT_TRUE(screen.pointerShown);
    EXPECT_FALSE(screen.captured);
    EXPECT_FALSE(screen.readoutOn);
    screen.cursor = CursorKind::kArrow;
    model.Open();
    model.OnUpdate(UpdateCode::kChannelChanged, nullptr);
    model.InspectMessage(Mouse(Kind::kMouseMove, 100, 100));  // where the mouse was
    EXPECT_TRUE(screen.captured);
    EXPECT_TRUE(screen.readoutOn);
    EXPECT_EQ(screen.cursor, c.cursorAfter);
    EXPECT_EQ(screen.readout.rfind("Fx=", 0), 0u) << screen.readout;
    screen.focus = 0;
    Chord({17}, '2');
    EXPECT_EQ(screen.focus, IDC_EDIT_FX);
    model.InspectMessage(Mouse(Kind::kMouseMove, kW + 5, 10));  // away again
  }
}

TEST_F(InputTest, ClicksInPickModeAddDotFilters) {
  model.OnAdd();
  model.InspectMessage(Mouse(Kind::kLeftDown, 0, kH / 2));
  EXPECT_EQ(qrx::State().viewRotating, 0);  // no rotation in pick mode
  const int handOffs = screen.handOffs;
  model.InspectMessage(Mouse(Kind::kLeftUp, 0, kH / 2));
  ASSERT_EQ(qrx::State().filters.Count(), 3);
  const qrx::FilterSpec added = qrx::State().filters[2];
  const qrx::FilterSpec expected = {1, 0, 0, 500, 1000, 1, -30, 0};
  EXPECT_EQ(std::memcmp(&added, &expected, sizeof(added)), 0);
  EXPECT_EQ(model.SelectedIndex(), 2);
  EXPECT_EQ(screen.rows.size(), 3u);
  EXPECT_TRUE(screen.rows[2].selected);
  EXPECT_GT(screen.handOffs, handOffs);
  EXPECT_EQ(model.PickMode(), 1);
  // The next click adds another, at its own frequencies.
  model.InspectMessage(Mouse(Kind::kLeftUp, 306, 80));
  ASSERT_EQ(qrx::State().filters.Count(), 4);
  EXPECT_EQ(qrx::State().filters[3].Fx, view.Geometry(9818, 14727).ReadoutFx(306));
  EXPECT_LT(qrx::State().filters[3].Fy, 0);
  // Outside the view, or without an engine, a click adds nothing.
  model.InspectMessage(Mouse(Kind::kLeftUp, kW, 80));
  qrx::State().engineColRateKHz = 0;
  model.InspectMessage(Mouse(Kind::kLeftUp, 10, 80));
  EXPECT_EQ(qrx::State().filters.Count(), 4);
}

}  // namespace
