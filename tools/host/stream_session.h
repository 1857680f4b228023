// One stream through the loaded plug-in, as a TV host runs it: Init and
// Start, Process for each frame with the channel's record, Stop and Exit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "plugin_module.h"
#include "stream_format.h"

namespace qrxhost {

// The host's channelCheck: it knows every channel.
inline int32_t KnowsEveryChannel(int32_t, int32_t) { return 1; }

class StreamSession {
 public:
  StreamSession(PluginModule& plugin, const StreamFormat& format, int32_t keyLow, int32_t keyHigh,
                const std::string& channelName)
      : plugin_(plugin), format_(format) {
    channel_.keyLow = keyLow;
    channel_.keyHigh = keyHigh;
    std::snprintf(channel_.name, sizeof(channel_.name), "%s", channelName.c_str());
  }
  void Begin() {
    qrx::InitInfo init = {0, &KnowsEveryChannel};
    plugin_.Descriptor().init(&init);
    qrx::FrameFormat format = format_.HostFormat();
    plugin_.Descriptor().start(&format);
  }
  // Filters the frame in place (the plug-in's line order).
  int32_t Frame(std::vector<uint8_t>* frame) {
    qrx::FrameInfo info = {};
    info.pixels = frame->data();
    info.channel = channel_.Info();
    return plugin_.Descriptor().process(&info);
  }
  void End() {
    plugin_.Descriptor().stop();
    plugin_.Descriptor().exit();
  }

 private:
  PluginModule& plugin_;
  StreamFormat format_;
  ChannelRecord channel_;
};

}  // namespace qrxhost
