// The plug-in's one global state, alive from module load to unload, and the
// operations that build and tear down the three processing objects.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "filter/filter_list.h"
#include "frame/pixel_convert.h"
#include "platform/platform.h"
#include "plugin/frame_pipeline.h"
#include "plugin/host_records.h"
#include "settings/settings_store.h"

namespace qrx {

class WindowHooks;

// Size of the 3-D view's vertex mesh: 60 x 100 vertices of five floats.
constexpr size_t kMeshBufferBytes = 60 * 100 * 5 * sizeof(float);
// Frames beyond this size in either direction are not processed.
constexpr int32_t kMaxFrameSide = 8192;
// Demo-mode border colour (0x00BBGGRR): a mid grey.
constexpr uint32_t kDemoMarkerColour = 0xA0A0A0;

struct PluginState {
  PluginState();
  ~PluginState();
  PluginState(const PluginState&) = delete;
  PluginState& operator=(const PluginState&) = delete;

  int32_t demoActive = 0;       // 1 while the window is open with "Demo" checked
  int32_t viewRotating = 0;     // 1 while the 3-D mask view is being rotated
  float* meshBuffer = nullptr;  // kMeshBufferBytes, 16-byte aligned; Start..Stop
  float maskGain = 1.0f;        // gain of the mask applied to the last frame
  // The line transform, engine and mask builder; Start..Stop.
  FramePipeline pipeline;
  uint8_t* conversionBuffer = nullptr;  // W x H x 2 bytes, pixel format 1 only
  FilterList filters;                   // live list of the current channel
  std::string channelName;
  int32_t processorClass = 0;
  FrameFormatRecord format = {0, 0, 0, 0};
  platform::CriticalSection pluginLock;
  SettingsStore settings;
  WindowHooks* window = nullptr;  // never null: the null window when none is installed

  // Between Start and Stop.
  bool streaming = false;

  // The current engine's frequency scale (kHz), 0 while no engine exists:
  // the settings window reads it without pluginLock for its readout and
  // axis labels.
  std::atomic<int32_t> engineRowRateKHz{0};
  std::atomic<int32_t> engineColRateKHz{0};
};

// The few integers one thread writes and another reads once per frame
// without pluginLock (viewRotating, AngleZ, AngleX): whole 32-bit accesses.
inline int32_t RelaxedLoad(const int32_t& value) { return __atomic_load_n(&value, __ATOMIC_RELAXED); }
inline void RelaxedStore(int32_t& value, int32_t v) { __atomic_store_n(&value, v, __ATOMIC_RELAXED); }

PluginState& State();

// Installs the settings window's hooks; nullptr restores the null window.
void SetWindowHooks(WindowHooks* hooks);

// Builds the pipeline's line transform, engine and mask builder from the recorded frame
// format. All or nothing: on any failure whatever was built is destroyed and
// false is returned. Caller holds pluginLock or no frame can run.
bool CreateEngines();
// Builder first (its thread writes the engine's mask), then engine, then line
// transform; null pointers are skipped, every pointer is null afterwards.
void DestroyEngines();
// Replaces the three objects under pluginLock after a change of FFTLine.
// Outside streaming it builds nothing: the next Start uses the new length.
void RebuildEngines();

// True when every object a frame needs is present.
bool ProcessingReady(const PluginState& state);

// The six entry points.
void Init(InitInfo* info);
int32_t Start(FrameFormat* format);
int32_t Process(FrameInfo* info);
void Stop();
void ShowDialog(void* parentWindow);
void Exit();

// Display name and the refusal text, code page 1251.
extern const char kPluginDisplayName[];
extern const char kOldProcessorMessage[];

}  // namespace qrx
