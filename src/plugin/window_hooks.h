// What the frame pipeline and the entry points need from the settings window.
// The window implements this interface; until it is installed a null window
// stands in (always closed, no spectrum view), so the pipeline's window
// cases are wired but inactive.
#pragma once

namespace qrx {

class WindowHooks {
 public:
  virtual ~WindowHooks() = default;

  // True while the settings window exists (its handle is non-null).
  virtual bool IsOpen() const = 0;
  // Queues the "channel switched" notification (fire-and-forget); called
  // under pluginLock on the frame thread.
  virtual void PostChannelChanged() = 0;
  // True while the window's spectrum view exists; under pluginLock.
  virtual bool HasSpectrumView() const = 0;
  // Draws the engine's current spectrum or mask, or hands it to the
  // window's drawing thread (a copy: the engine goes on with the frame);
  // under pluginLock.
  virtual void RenderSpectrum() = 0;
  // The frame's transforms are done: a drawing thread starts on the picture
  // RenderSpectrum handed over only now, so that it never takes a processor
  // from them; under pluginLock, after every RenderSpectrum.
  virtual void FrameDone() = 0;

  // User-interface thread: open the window owned by the host's window
  // (parentWindow points to its handle), bring an open one to the front,
  // and close it before the settings are saved.
  virtual void Open(void* parentWindow) = 0;
  virtual void Focus() = 0;
  virtual void Close() = 0;
};

// The stand-in used while no settings window is available.
class NullWindowHooks final : public WindowHooks {
 public:
  bool IsOpen() const override { return false; }
  void PostChannelChanged() override {}
  bool HasSpectrumView() const override { return false; }
  void RenderSpectrum() override {}
  void FrameDone() override {}
  void Open(void*) override {}
  void Focus() override {}
  void Close() override {}
};

}  // namespace qrx
