// Scratch files for fuzz drivers, and checks on what plug-ins hand back.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace dravik::fuzz {

class Scratch {
 public:
  Scratch();
  const std::string& folder() const { return folder_; }  // ends in "/"
  std::string WriteSource(const std::string& name, const uint8_t* data, size_t size);
  // Aborts when anything but the source and "out/" appeared, then removes
  // everything and makes "out/" anew.
  void Clean() { Clean({"source.img"}); }
  // The same for drivers that write sources of other names.
  void Clean(std::initializer_list<std::string_view> sources);

 private:
  std::string parent_;
  std::string folder_;
};

// Message and title must be NUL-terminated inside their buffers.
inline void CheckTexts(const char* message, const char* title) {
  if (message != nullptr && std::memchr(message, 0, 1024) == nullptr) std::abort();
  if (title != nullptr && std::memchr(title, 0, 256) == nullptr) std::abort();
}

}  // namespace dravik::fuzz
