// Driving the plug-in's state directly (tests linked with qrx_plugin_core):
// channels configured the way the settings window would, frames through
// qrx::Process, and waits for the mask builder's passes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "filter/mask_builder.h"
#include "plugin/plugin_state.h"
#include "plugin_module.h"
#include "plugin_test_support.h"
#include "transform/fft_engine.h"

namespace qrxtest {

// The settings file of a test linked with the core is named after the test
// executable (the module holding the code).
inline std::string CoreModuleBase() {
  std::string name = qrx::platform::ModuleBaseName();
  return name;
}

// Every test uses keys of its own: loading the settings file again appends
// its channels, and the first entry of a key wins.
inline int32_t FreshKey() {
  static std::atomic<int32_t> next{1000};
  return next++;
}

// Makes the channel current with these values, as the settings window does
// when the user edits them, and leaves it stored.
inline int32_t ConfigureChannel(int32_t procEnable, const std::string& filterText) {
  qrx::PluginState& s = qrx::State();
  const int32_t key = FreshKey();
  qrx::platform::ScopedLock lock(s.pluginLock);
  s.settings.SelectChannel(key, 0);
  s.settings.ProcEnable = procEnable;
  qrx::ParseFilterText(filterText.data(), filterText.size(), &s.filters);
  s.settings.StoreCurrentChannel();
  if (s.pipeline.maskBuilder != nullptr) s.pipeline.maskBuilder->SetFilters(s.filters);
  return key;
}

inline int32_t CoreFrame(std::vector<uint8_t>* frame, int32_t key, bool withChannel = true) {
  qrxhost::ChannelRecord record;
  record.keyLow = key;
  std::snprintf(record.name, sizeof(record.name), "Channel %d", key);
  qrx::FrameInfo info = {};
  info.pixels = frame->data();
  info.channel = withChannel ? record.Info() : nullptr;
  return qrx::Process(&info);
}

inline int64_t Passes() {
  qrx::PluginState& s = qrx::State();
  qrx::platform::ScopedLock lock(s.pluginLock);
  return s.pipeline.maskBuilder != nullptr ? s.pipeline.maskBuilder->PassesCompleted() : -1;
}

inline bool WaitPasses(int64_t atLeast, int timeoutMs = 30000) {
  const auto start = std::chrono::steady_clock::now();
  while (Passes() < atLeast) {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline void InitCore() {
  UseProgramFolderSettings();
  WriteSettings(CoreModuleBase(), SettingsWith(512, {}));
  qrx::InitInfo info = {0, nullptr};
  qrx::Init(&info);
}

inline void StartCore(int32_t w, int32_t h, int32_t pixelFormat, int32_t processorClass = 3) {
  qrx::FrameFormat f = {w, h, 0, pixelFormat, processorClass};
  EXPECT_EQ(qrx::Start(&f), 1);
}

}  // namespace qrxtest
