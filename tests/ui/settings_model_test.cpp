// The settings window's handlers on the plug-in's state, through a recording
// screen: table contents, selection, enabling, values, add and remove, the
// switches, and the list guarded against the frame thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fake_screen.h"
#include "filter/mask_builder.h"
#include "plugin/plugin_state.h"
#include "transform/fft_engine.h"

namespace {

using namespace qrx::ui;
using qrxtest::FakeScreen;

const qrx::FilterSpec kA = {1, 2301, 0, 300, 300, 3, -60, 0};
const qrx::FilterSpec kB = {0, 1500, -900, 200, 400, 2, -30, 1};
const qrx::FilterSpec kC = {1, 800, 1200, 100, 100, 1, -160, 2};

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen.Bind(&model);
    SetState(1, {kA, kB, kC});
    qrx::State().settings.FFTLine = 512;
    qrx::State().settings.DemoMode = 0;
  }
  void TearDown() override {
    qrx::State().filters.Clear();
    qrx::State().demoActive = 0;
  }
  static void SetState(int32_t procEnable, const std::vector<qrx::FilterSpec>& list) {
    qrx::PluginState& s = qrx::State();
    qrx::platform::ScopedLock lock(s.pluginLock);
    s.settings.ProcEnable = procEnable;
    s.filters.Clear();
    for (const qrx::FilterSpec& f : list) s.filters.Append(f);
    s.channelName = "TV 3";
  }
  // The window as it opens: OnInitDialog, then the posted code-1 update.
  void OpenWindow() {
    model.Open();
    screen.PostUpdate(UpdateCode::kChannelChanged);
    screen.DeliverPosted();
  }
  static qrx::FilterSpec Live(int i) { return qrx::State().filters[i]; }

  FakeScreen screen;
  SettingsModel model{qrx::State(), screen};
};

TEST_F(ModelTest, OpeningFillsTableEditorsCaptionAndSelectsFirstRow) {
  OpenWindow();
  ASSERT_EQ(screen.rows.size(), 3u);
  const char* row1[] = {"01", "1500", "-900", "200", "400", "2", "-30", "Win 1D"};
  for (int c = 0; c < kColumnCount; ++c) EXPECT_EQ(screen.rows[1].cells[c], row1[c]);
  EXPECT_TRUE(screen.rows[0].checked);
  EXPECT_FALSE(screen.rows[1].checked);
  EXPECT_TRUE(screen.rows[0].selected);
  EXPECT_EQ(model.SelectedIndex(), 0);
  EXPECT_EQ(screen.edit[kFieldFx], "2301");
  EXPECT_EQ(screen.spin[kFieldStrength], -60);
  EXPECT_EQ(screen.combo[IDC_SHAPE], 0);
  EXPECT_EQ(screen.combo[IDC_FFT_LENGTH], 1);
  EXPECT_EQ(screen.caption, "QRX_FreqFilter - TV 3");
  EXPECT_TRUE(screen.checks[IDC_PROC_ENABLE]);
  EXPECT_EQ(screen.texts[IDC_ADD], text::kAddFilter);
  EXPECT_TRUE(screen.Enabled(IDC_EDIT_FX) && screen.Enabled(IDC_TABLE) && screen.Enabled(IDC_REMOVE));
}

TEST_F(ModelTest, EnablingOnOpening) {
  struct Case {
    int32_t procEnable;
    std::vector<qrx::FilterSpec> list;
    bool editors, add, demo;
  } cases[] = {
      {1, {}, false, true, true},      // empty list: no selection
      {0, {kA}, false, false, false},  // processing off: only the switch and the FFT length
      {1, {kA}, true, true, true},
  };
  for (const Case& c : cases) {
    SetState(c.procEnable, c.list);
    OpenWindow();
    EXPECT_EQ(model.SelectedIndex(), c.list.empty() ? -1 : 0);
    for (const EditorInfo& e : kEditors) EXPECT_EQ(screen.Enabled(e.editId), c.editors);
    EXPECT_EQ(screen.Enabled(IDC_SHAPE), c.editors);
    EXPECT_EQ(screen.Enabled(IDC_TABLE), c.editors);
    EXPECT_EQ(screen.Enabled(IDC_REMOVE), c.editors);
    EXPECT_EQ(screen.Enabled(IDC_ADD), c.add);
    EXPECT_EQ(screen.Enabled(IDC_DEMO), c.demo);
    EXPECT_TRUE(screen.Enabled(IDC_PROC_ENABLE));
    EXPECT_TRUE(screen.Enabled(IDC_FFT_LENGTH) && screen.Enabled(IDC_FFT_LABEL));
  }
}

TEST_F(ModelTest, PickModeTogglesButtonAndDisablesTheRest) {
  OpenWindow();
  model.OnAdd();
  EXPECT_EQ(model.PickMode(), 1);
  EXPECT_EQ(screen.texts[IDC_ADD], text::kCancelPick);
  screen.DeliverPosted();
  for (int id : {IDC_PROC_ENABLE, IDC_DEMO, IDC_FFT_LENGTH, IDC_FFT_LABEL, IDC_EDIT_FX, IDC_TABLE, IDC_REMOVE})
    EXPECT_FALSE(screen.Enabled(id)) << id;
  EXPECT_TRUE(screen.Enabled(IDC_ADD));
  model.OnAdd();
  screen.DeliverPosted();
  EXPECT_EQ(model.PickMode(), 0);
  EXPECT_EQ(screen.texts[IDC_ADD], text::kAddFilter);
  EXPECT_TRUE(screen.Enabled(IDC_PROC_ENABLE) && screen.Enabled(IDC_EDIT_FX));
}

TEST_F(ModelTest, SpinValuesReachFilterEditAndCell) {
  OpenWindow();
  // Fy arrow down from 0 gives -1 (the position travels as 16 bits).
  screen.handOffs = 0;
  model.OnValueChange(IDC_SPIN_FY, 0xFFFF);
  EXPECT_EQ(Live(0).Fy, -1);
  EXPECT_EQ(screen.edit[kFieldFy], "-1");
  EXPECT_EQ(screen.rows[0].cells[2], "-1");
  EXPECT_EQ(screen.handOffs, 1);
  model.OnValueChange(IDC_SPIN_S, -61);
  EXPECT_EQ(Live(0).S, -61);
  EXPECT_EQ(screen.rows[0].cells[6], "-61");
  model.OnValueChange(IDC_SPIN_O, 20);
  EXPECT_EQ(Live(0).O, 20);
  EXPECT_EQ(Live(1).O, kB.O);
  // A source that is no editor's spin changes nothing.
  model.OnValueChange(IDC_SHAPE, 7);
  EXPECT_EQ(screen.handOffs, 3);
}

TEST_F(ModelTest, CheckBoxesSelectionAndShape) {
  OpenWindow();
  screen.handOffs = 0;
  screen.ClickCheck(1);  // row 1 was unchecked and not selected
  EXPECT_EQ(Live(1).En, 1);
  EXPECT_EQ(model.SelectedIndex(), 1);
  EXPECT_TRUE(screen.rows[1].selected);
  EXPECT_FALSE(screen.rows[0].selected);
  EXPECT_EQ(screen.edit[kFieldFy], "-900");
  EXPECT_GE(screen.handOffs, 1);
  // Selecting another row moves the selection there and only there.
  screen.SelectRow(2);
  EXPECT_EQ(model.SelectedIndex(), 2);
  EXPECT_TRUE(screen.rows[2].selected);
  EXPECT_FALSE(screen.rows[1].selected);
  EXPECT_EQ(screen.combo[IDC_SHAPE], 2);
  EXPECT_EQ(Live(1).En, 1);
  model.OnShapeChange(0);
  EXPECT_EQ(Live(2).T, 0);
  EXPECT_EQ(screen.rows[2].cells[7], "Dot");
  screen.ClickCheck(2);
  EXPECT_EQ(Live(2).En, 0);
}

TEST_F(ModelTest, RemovingRows) {
  OpenWindow();
  screen.SelectRow(2);
  model.OnRemove();  // the last row: the new last one is selected
  screen.DeliverPosted();
  ASSERT_EQ(qrx::State().filters.Count(), 2);
  EXPECT_EQ(model.SelectedIndex(), 1);
  EXPECT_TRUE(screen.rows.at(1).selected);
  EXPECT_EQ(screen.rows[1].cells[1], "1500");
  screen.SelectRow(0);
  model.OnRemove();  // the others move up
  EXPECT_EQ(Live(0).Fx, kB.Fx);
  model.OnRemove();  // the only row: nothing selected, editors off
  screen.DeliverPosted();
  EXPECT_EQ(qrx::State().filters.Count(), 0);
  EXPECT_EQ(model.SelectedIndex(), -1);
  EXPECT_TRUE(screen.rows.empty());
  EXPECT_FALSE(screen.Enabled(IDC_EDIT_FX));
  EXPECT_FALSE(screen.Enabled(IDC_REMOVE));
  model.OnRemove();  // nothing selected: nothing happens
  EXPECT_EQ(qrx::State().filters.Count(), 0);
}

TEST_F(ModelTest, SwitchesAndFftLength) {
  OpenWindow();
  model.OnProcEnable(false);
  EXPECT_EQ(qrx::State().settings.ProcEnable, 0);
  screen.DeliverPosted();
  EXPECT_FALSE(screen.Enabled(IDC_DEMO));
  model.OnDemo(true);
  EXPECT_EQ(qrx::State().demoActive, 1);
  EXPECT_EQ(qrx::State().settings.DemoMode, 1u);
  model.Close();
  EXPECT_EQ(qrx::State().demoActive, 0);
  EXPECT_EQ(qrx::State().settings.DemoMode, 1u);
  model.Open();  // reopening restores the demonstration from the setting
  EXPECT_EQ(qrx::State().demoActive, 1);
  EXPECT_TRUE(screen.checks[IDC_DEMO]);

  struct Case {
    int item;
    int32_t fftLine;
  } cases[] = {{2, 256}, {0, 1024}, {-1, 1024}, {1, 512}};
  for (const Case& c : cases) {
    const int rebuilds = screen.rebuilds, handOffs = screen.handOffs, redraws = screen.redraws;
    model.OnFftLengthChange(c.item);
    EXPECT_EQ(qrx::State().settings.FFTLine, c.fftLine);
    EXPECT_EQ(screen.rebuilds, rebuilds + 1);
    EXPECT_EQ(screen.handOffs, handOffs + 1);
    EXPECT_EQ(screen.redraws, redraws + 1);
  }
  // A length the box does not offer opens without a selection.
  qrx::State().settings.FFTLine = 768;
  model.Open();
  EXPECT_EQ(screen.combo[IDC_FFT_LENGTH], -1);
}

TEST_F(ModelTest, DoubleClickFocusesTheColumnsEditor) {
  OpenWindow();
  const int expected[] = {0, IDC_EDIT_FX, IDC_EDIT_FY, IDC_EDIT_WX, IDC_EDIT_WY, IDC_EDIT_O, IDC_EDIT_S, IDC_SHAPE};
  for (int column = 0; column < kColumnCount; ++column) {
    screen.focus = 0;
    model.OnTableDoubleClick(1, column);
    EXPECT_EQ(screen.focus, expected[column]) << column;
  }
  screen.focus = 0;
  model.OnTableDoubleClick(-1, 3);  // beside the rows
  EXPECT_EQ(screen.focus, 0);
}

TEST_F(ModelTest, EditsAfterTheFrameThreadShortenedTheListChangeNothing) {
  OpenWindow();
  screen.SelectRow(2);
  // A channel change on the frame thread replaced the list; its update is
  // still queued.
  SetState(1, {kB});
  model.OnValueChange(IDC_SPIN_FX, 4000);
  model.OnShapeChange(2);
  model.OnRemove();
  EXPECT_EQ(qrx::State().filters.Count(), 1);
  EXPECT_EQ(Live(0).Fx, kB.Fx);
  EXPECT_EQ(Live(0).T, kB.T);
  model.OnUpdate(UpdateCode::kChannelChanged, nullptr);
  EXPECT_EQ(model.SelectedIndex(), 0);
  EXPECT_EQ(screen.rows.size(), 1u);
}

// The window's edits race frames that switch channels (and so replace the
// list) for a while; run under ThreadSanitizer and AddressSanitizer this
// catches any access to the list outside pluginLock.
TEST_F(ModelTest, EditsRaceChannelSwitchingFrames) {
  // Two channels with lists of different lengths.
  const std::vector<qrx::FilterSpec> lists[2] = {{kA, kB, kC}, {kB}};
  for (int32_t k = 0; k < 2; ++k) {
    qrx::PluginState& s = qrx::State();
    qrx::platform::ScopedLock lock(s.pluginLock);
    s.settings.SelectChannel(5000 + k, 0);
    s.settings.ProcEnable = 1;
    s.filters.Clear();
    for (const qrx::FilterSpec& f : lists[k]) s.filters.Append(f);
    s.settings.StoreCurrentChannel();
  }
  qrx::FrameFormat format = {96, 64, 0, 0, 3};
  qrx::Start(&format);
  OpenWindow();
  std::vector<uint8_t> frame(96 * 64 * 2, 128);
  std::atomic<bool> stop{false};
  std::atomic<int> frames{0};
  std::thread frameThread([&] {
    struct {
      int32_t low, high, unused;
      char name[16];
    } channel = {0, 0, 0, "race"};
    while (!stop.load()) {
      channel.low = 5000 + (frames.load() / 3) % 2;  // a channel change every third frame
      qrx::FrameInfo info = {};
      info.pixels = frame.data();
      info.channel = reinterpret_cast<qrx::ChannelInfo*>(&channel);
      qrx::Process(&info);
      ++frames;
    }
  });
  for (int i = 0; frames.load() < 200 || i < 2000; ++i) {
    model.OnValueChange(IDC_SPIN_FX, i % 9000);
    if (!screen.rows.empty()) screen.ClickCheck(0);
    if (i % 50 == 0) {
      SetState(1, {kA, kB, kC});  // as the frame thread's switch would
      model.OnUpdate(UpdateCode::kChannelChanged, nullptr);
    }
    if (i % 7 == 0) model.OnRemove();
    if (i % 3 == 0) qrx::ui::HandOffFilters(qrx::State());
  }
  stop = true;
  frameThread.join();
  qrx::Stop();
  EXPECT_GE(frames.load(), 200);
}

}  // namespace
