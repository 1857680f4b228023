// The settings window under Wine, through the plug-in's exports: opened with
// ShowDialog while a frame thread streams frames, and driven as a user
// would, with clicks, selections, typed text and keys.
#include "window_test_support.h"

namespace {

using namespace qrxtest;

const std::string kFilterA = FilterText(1, 2301, 0, 300, 300, 3, -60, 0);
const std::string kFilterB = FilterText(0, 1500, -900, 200, 400, 2, -30, 1);
const std::string kFilterC = FilterText(1, 800, 1200, 100, 100, 1, -160, 2);

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
  }
  void TearDown() override { host.End(); }

  void Open(int32_t procEnable, const std::string& filters, const std::string& position = "-100") {
    host.Begin({"[DIALOG]", "DlgWndPosX=" + position, "DlgWndPosY=" + position, "[GLOBAL]", "FFTLine=512",
                "AngleZ=30", "AngleX=70", "DemoMode=0", "[1]", "ProcEnable=" + std::to_string(procEnable),
                "Filter=" + filters, "[2]", "ProcEnable=1", "Filter=" + kFilterB});
    host.StartFrames();
    host.WaitFrames(2);
    host.ShowDialog();
    ASSERT_NE(host.Dialog(), nullptr);
    host.Pump(100);
  }
  std::string SavedSettings() { return ReadFileText(SettingsPath("QRX_FreqFilter")); }

  WindowHost host;
};

TEST_F(SettingsWindowTest, OpensWithTableCaptionAndScreenshot) {
  Open(1, kFilterA + kFilterB + kFilterC);
  EXPECT_EQ(host.Text(host.Dialog()), "QRX_FreqFilter - Channel 1");
  ASSERT_EQ(host.Rows(), 3);
  EXPECT_EQ(host.Cell(1, 0), "01");
  EXPECT_EQ(host.Cell(1, 2), "-900");
  EXPECT_EQ(host.Cell(2, 7), "Win 2D");
  EXPECT_TRUE(host.RowChecked(0));
  EXPECT_FALSE(host.RowChecked(1));
  EXPECT_EQ(host.SelectedRow(), 0);
  EXPECT_EQ(host.Text(IDC_EDIT_FX), "2301");
  EXPECT_EQ(host.Text(IDC_ADD), Cp1251(L"Добавить фильтр"));
  EXPECT_TRUE(host.Screenshot("settings_window"));
}

}  // namespace
