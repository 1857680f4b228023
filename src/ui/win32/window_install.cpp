// Puts the settings window into the plug-in when the module loads; compiled
// into the module itself so that the linker keeps it.
#include "plugin/plugin_state.h"
#include "ui/win32/settings_dialog.h"

namespace qrx {
namespace ui {
namespace win32 {
namespace {

struct WindowInstaller {
  WindowInstaller() { SetWindowHooks(&dialog); }
  ~WindowInstaller() { SetWindowHooks(nullptr); }
  SettingsDialog dialog;
};

WindowInstaller g_installer;

}  // namespace
}  // namespace win32
}  // namespace ui
}  // namespace qrx
