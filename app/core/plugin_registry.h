// Finds the format plug-ins in the program folder, checks who they are and
// keeps them in two fixed tables. The input table's order is the order in
// which files are offered to the readers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dravik/plugin_api.h"
#include "host.h"
#include "shared_library.h"

namespace dravik {

inline constexpr int kMaxPlugins = 256;

struct InputPlugin {
  SharedLibrary library;
  std::string file_name;
  std::array<uint8_t, kCapsSize> caps{};
  std::string description;
  std::string extension;
  GetPluginInfoFn get_plugin_info = nullptr;
  IsSupportFn is_support = nullptr;
  GetFileInfoFn get_file_info = nullptr;
  ReadDiskFn read_disk = nullptr;

  bool Has(int cap) const { return caps[cap] != 0; }
};

struct OutputPlugin {
  SharedLibrary library;
  std::string file_name;
  std::array<uint8_t, kCapsSize> caps{};
  std::string description;
  std::string extension;
  std::string label;
  GetPluginInfoFn get_plugin_info = nullptr;
  WriteDiskFn write_disk = nullptr;
};

// The window's output drop-down, as the registry fills it.
class OutputSelector {
 public:
  virtual ~OutputSelector() = default;
  // -1 when nothing is selected, as on an empty list.
  virtual int current() const = 0;
  virtual void Clear() = 0;
  // Inserts a label at index; returns the index the list reports back.
  virtual int Insert(int index, const std::string& label) = 0;
  virtual void Select(int index) = 0;
};

class PluginRegistry {
 public:
  explicit PluginRegistry(std::string program_folder);
  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;
  ~PluginRegistry();

  bool LoadInputPlugins(Host& host);
  // selector may be null (the command line has none).
  bool LoadOutputPlugins(Host& host, OutputSelector* selector);
  void UnloadAllPlugins();
  // For a process that ends with the registry: the plug-ins are not
  // unloaded when it goes. Unmapping a shared object costs the kernel far
  // more than mapping it (every core's address cache is flushed), and at
  // the end of a command-line run it buys nothing.
  void KeepLoadedUntilExit() { keep_loaded_ = true; }

  int input_count() const { return input_count_; }
  int output_count() const { return output_count_; }
  const InputPlugin& input(int i) const { return inputs_[i]; }
  const OutputPlugin& output(int i) const { return outputs_[i]; }

 private:
  std::string program_folder_;
  std::array<InputPlugin, kMaxPlugins> inputs_;
  std::array<OutputPlugin, kMaxPlugins> outputs_;
  int input_count_ = 0;
  int output_count_ = 0;
  bool keep_loaded_ = false;
};

}  // namespace dravik
