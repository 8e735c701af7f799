#include "plugin_registry.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "paths.h"
#include "text.h"

namespace dravik {
namespace {

// Plug-in files with the given suffix, sorted by name so that probing order
// does not depend on the file system.
std::vector<std::string> ListPluginFiles(const std::string& folder,
                                         std::string_view suffix) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
      names.emplace_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WarnIfTooMany(Host& host, std::vector<std::string>& files) {
  if (files.size() <= static_cast<size_t>(kMaxPlugins)) return;
  host.AppendLog("\r\nPlug-inが多すぎます。" + std::to_string(kMaxPlugins) +
                 "個を超えた" + std::to_string(files.size() - kMaxPlugins) +
                 "個は読み込みません");
  files.resize(kMaxPlugins);
}

struct Info {
  char identity[kIdentitySize + 1] = {};
  uint8_t caps[kCapsSize] = {};
  char extension[kExtensionSize + 1] = {};
  char label[kLabelSize + 1] = {};

  std::string description() const {
    const char* text = identity + kDescriptionOffset;
    return std::string(text, BoundedLength(text, kIdentitySize - kDescriptionOffset));
  }
  static std::string Text(const char* buffer, size_t size) {
    return std::string(buffer, BoundedLength(buffer, size));
  }
};

// Calls GetPluginInfo with buffers one byte larger than promised, so that a
// plug-in that leaves out the NUL cannot make us read past them.
bool QueryInfo(GetPluginInfoFn fn, int expected_kind, Info& info) {
  if (fn(info.identity, info.caps, info.extension, info.label) != 0) return false;
  return static_cast<uint8_t>(info.identity[0]) == expected_kind &&
         static_cast<uint8_t>(info.identity[1]) == kInterfaceVersion;
}

void CopyCaps(const Info& info, std::array<uint8_t, kCapsSize>& caps) {
  std::copy(std::begin(info.caps), std::end(info.caps), caps.begin());
}

void LogPluginError(Host& host, const std::string& file_name) {
  host.AppendLog("\r\nPlug-in Error in " + SanitizeUtf8(file_name));
}

}  // namespace

PluginRegistry::PluginRegistry(std::string program_folder)
    : program_folder_(std::move(program_folder)) {
  if (!program_folder_.empty() && program_folder_.back() != '/') {
    program_folder_ += '/';
  }
}

bool PluginRegistry::LoadInputPlugins(Host& host) {
  std::vector<std::string> files = ListPluginFiles(program_folder_, ".dvr");
  if (files.empty()) return false;
  WarnIfTooMany(host, files);
  int k = 0;
  for (const std::string& name : files) {
    SharedLibrary library = SharedLibrary::Open(program_folder_ + name);
    if (!library.loaded()) continue;
    auto get_info = reinterpret_cast<GetPluginInfoFn>(library.Symbol("GetPluginInfo"));
    auto is_support = reinterpret_cast<IsSupportFn>(library.Symbol("IsSupport"));
    auto get_file_info = reinterpret_cast<GetFileInfoFn>(library.Symbol("GetFileInfo"));
    auto read_disk = reinterpret_cast<ReadDiskFn>(library.Symbol("ReadDisk"));
    if (!get_info || !is_support || !get_file_info || !read_disk) {
      LogPluginError(host, name);
      input_count_ = k;
      return false;
    }
    Info info;
    if (!QueryInfo(get_info, kKindInput, info)) continue;  // unloads
    InputPlugin& entry = inputs_[k];
    entry.library = std::move(library);
    entry.file_name = name;
    CopyCaps(info, entry.caps);
    entry.description = info.description();
    entry.extension = Info::Text(info.extension, kExtensionSize);
    entry.get_plugin_info = get_info;
    entry.is_support = is_support;
    entry.get_file_info = get_file_info;
    entry.read_disk = read_disk;
    host.AppendLog("\r\n" + SanitizeUtf8(entry.description));
    ++k;
  }
  input_count_ = k;
  return k > 0;
}

bool PluginRegistry::LoadOutputPlugins(Host& host, OutputSelector* selector) {
  const int remembered = selector != nullptr ? selector->current() : 0;
  if (selector != nullptr) selector->Clear();
  std::vector<std::string> files = ListPluginFiles(program_folder_, ".dvw");
  if (files.empty()) return false;
  WarnIfTooMany(host, files);
  int k = 0;
  for (const std::string& name : files) {
    SharedLibrary library = SharedLibrary::Open(program_folder_ + name);
    if (!library.loaded()) continue;
    auto get_info = reinterpret_cast<GetPluginInfoFn>(library.Symbol("GetPluginInfo"));
    auto write_disk = reinterpret_cast<WriteDiskFn>(library.Symbol("WriteDisk"));
    if (!get_info || !write_disk) {
      LogPluginError(host, name);
      output_count_ = k;
      return false;
    }
    Info info;
    if (!QueryInfo(get_info, kKindOutput, info)) continue;
    OutputPlugin& entry = outputs_[k];
    entry.library = std::move(library);
    entry.file_name = name;
    CopyCaps(info, entry.caps);
    entry.description = info.description();
    entry.extension = Info::Text(info.extension, kExtensionSize);
    entry.label = Info::Text(info.label, kLabelSize);
    entry.get_plugin_info = get_info;
    entry.write_disk = write_disk;
    host.AppendLog("\r\n" + SanitizeUtf8(entry.description));
    if (selector != nullptr && selector->Insert(k, SanitizeUtf8(entry.label)) != k) {
      host.AppendLog("\r\nEx Plug-in追加異常");
      output_count_ = k;
      return false;
    }
    ++k;
  }
  output_count_ = k;
  if (k == 0) return false;
  // A selection taken while the list was still empty is -1: it means the
  // first plug-in, not none.
  if (selector != nullptr) selector->Select(remembered < 0 || remembered >= k ? 0 : remembered);
  return true;
}

PluginRegistry::~PluginRegistry() {
  if (keep_loaded_) {
    for (int i = 0; i < kMaxPlugins; ++i) {
      inputs_[i].library.Release();
      outputs_[i].library.Release();
    }
  }
  UnloadAllPlugins();
}

void PluginRegistry::UnloadAllPlugins() {
  for (int i = 0; i < kMaxPlugins; ++i) {
    inputs_[i] = InputPlugin{};
    outputs_[i] = OutputPlugin{};
  }
  input_count_ = 0;
  output_count_ = 0;
}

}  // namespace dravik
