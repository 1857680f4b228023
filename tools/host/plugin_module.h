// The plug-in as a host sees it: a module with two exports, a descriptor and
// six entry points.
#pragma once

#include <cstdint>
#include <string>

#include "module_loader.h"
#include "plugin/host_records.h"

namespace qrxhost {

class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule() { Unload(); }
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  bool Load(const std::string& path, std::string* error) {
    Unload();
    module_ = LoadModule(path, error);
    if (module_ == nullptr) return false;
    version_ = reinterpret_cast<int32_t (*)()>(ModuleSymbol(module_, "Velmorin_Plugin_Version"));
    descriptorFn_ =
        reinterpret_cast<const qrx::PluginDescriptor* (*)()>(ModuleSymbol(module_, "Velmorin_Plugin_PR"));
    if (version_ == nullptr || descriptorFn_ == nullptr) {
      if (error != nullptr) *error = "the module lacks Velmorin_Plugin_Version or Velmorin_Plugin_PR";
      Unload();
      return false;
    }
    descriptor_ = descriptorFn_();
    if (descriptor_ == nullptr) {
      if (error != nullptr) *error = "Velmorin_Plugin_PR returned no descriptor";
      Unload();
      return false;
    }
    return true;
  }

  void Unload() {
    UnloadModule(module_);
    module_ = nullptr;
    version_ = nullptr;
    descriptorFn_ = nullptr;
    descriptor_ = nullptr;
  }

  bool Loaded() const { return descriptor_ != nullptr; }
  int32_t Version() const { return version_(); }
  const qrx::PluginDescriptor& Descriptor() const { return *descriptor_; }
  const qrx::PluginDescriptor* DescriptorFromExport() const { return descriptorFn_(); }

 private:
  Module* module_ = nullptr;
  int32_t (*version_)() = nullptr;
  const qrx::PluginDescriptor* (*descriptorFn_)() = nullptr;
  const qrx::PluginDescriptor* descriptor_ = nullptr;
};

// A ChannelInfo with room for its name, as the host builds it.
struct ChannelRecord {
  int32_t keyLow = 0;
  int32_t keyHigh = 0;
  int32_t unused = 0;
  char name[256] = {};
  qrx::ChannelInfo* Info() { return reinterpret_cast<qrx::ChannelInfo*>(this); }
};
static_assert(sizeof(int32_t) * 3 == 12, "name at offset 12");

}  // namespace qrxhost
