// The records exchanged with the host application and the types of the six
// entry points. The host is a 32-bit program: every offset below is checked
// in the 32-bit build. The 64-bit builds (tests under Wine, the native
// Linux module) keep the same fields in the same order at natural offsets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrx {

struct InitInfo;
struct FrameFormat;
struct FrameInfo;

// Entry points: the platform's default calling convention (cdecl on 32-bit
// Windows: arguments on the stack, removed by the caller).
using InitEntry = void (*)(InitInfo* info);
using StartEntry = int32_t (*)(FrameFormat* format);
using ProcessEntry = int32_t (*)(FrameInfo* info);
using StopEntry = void (*)();
using ShowDialogEntry = void (*)(void* parentWindow);  // points to the host's window handle
using ExitEntry = void (*)();

// The host's function that tells whether it still knows a channel.
using HostChannelCheck = int32_t (*)(int32_t keyLow, int32_t keyHigh);

struct PluginDescriptor {
  const char* name;        // display name, code page 1251
  const char* secondText;  // empty
  InitEntry init;
  StartEntry start;
  ProcessEntry process;
  StopEntry stop;
  ShowDialogEntry showDialog;
  ExitEntry exit;
};

struct InitInfo {
  int32_t hostValue;  // handed on, never interpreted
  HostChannelCheck channelCheck;
};

struct FrameFormat {
  int32_t width;
  int32_t height;
  int32_t thirdWord;       // copied, not interpreted
  int32_t pixelFormat;     // 1: 24-bit BGR bottom-up; otherwise packed 4:2:2
  int32_t processorClass;  // 1 and 2: older than a Pentium III
};

struct ChannelInfo {
  int32_t keyLow;
  int32_t keyHigh;
  int32_t unused;
  char name[4];  // NUL-terminated, stored in the record itself; may run past 4 bytes
};

struct FrameInfo {
  uint8_t* pixels;  // null: no frame
  uint8_t unused[40];
  ChannelInfo* channel;
};

// The channel name starts at offset 12 of the record and is as long as the
// host made it, so it is reached through the record's address, not the array.
inline const char* ChannelNameOf(const ChannelInfo* channel) {
  return reinterpret_cast<const char*>(channel) + offsetof(ChannelInfo, name);
}

static_assert(sizeof(FrameFormat) == 20, "FrameFormat is five int32");
static_assert(offsetof(FrameFormat, width) == 0 && offsetof(FrameFormat, height) == 4 &&
                  offsetof(FrameFormat, thirdWord) == 8 && offsetof(FrameFormat, pixelFormat) == 12 &&
                  offsetof(FrameFormat, processorClass) == 16,
              "FrameFormat layout");
static_assert(offsetof(ChannelInfo, keyLow) == 0 && offsetof(ChannelInfo, keyHigh) == 4 &&
                  offsetof(ChannelInfo, unused) == 8 && offsetof(ChannelInfo, name) == 12,
              "ChannelInfo layout");

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PluginDescriptor) == 32, "PluginDescriptor is 32 bytes");
static_assert(offsetof(PluginDescriptor, name) == 0, "descriptor: name");
static_assert(offsetof(PluginDescriptor, secondText) == 4, "descriptor: second text");
static_assert(offsetof(PluginDescriptor, init) == 8, "descriptor: Init");
static_assert(offsetof(PluginDescriptor, start) == 12, "descriptor: Start");
static_assert(offsetof(PluginDescriptor, process) == 16, "descriptor: Process");
static_assert(offsetof(PluginDescriptor, stop) == 20, "descriptor: Stop");
static_assert(offsetof(PluginDescriptor, showDialog) == 24, "descriptor: ShowDialog");
static_assert(offsetof(PluginDescriptor, exit) == 28, "descriptor: Exit");
static_assert(sizeof(InitInfo) == 8, "InitInfo size");
static_assert(offsetof(InitInfo, hostValue) == 0 && offsetof(InitInfo, channelCheck) == 4,
              "InitInfo layout");
static_assert(offsetof(FrameInfo, pixels) == 0, "FrameInfo: pixels");
static_assert(offsetof(FrameInfo, unused) == 4, "FrameInfo: unused bytes");
static_assert(offsetof(FrameInfo, channel) == 44, "FrameInfo: channel");
static_assert(sizeof(FrameInfo) == 48, "FrameInfo size");
#else
static_assert(sizeof(PluginDescriptor) == 8 * sizeof(void*), "PluginDescriptor: eight pointers");
static_assert(offsetof(InitInfo, channelCheck) == sizeof(void*), "InitInfo layout");
static_assert(offsetof(FrameInfo, unused) == sizeof(void*), "FrameInfo: unused bytes");
static_assert(offsetof(FrameInfo, channel) == sizeof(void*) + 40, "FrameInfo: channel");
#endif

}  // namespace qrx
