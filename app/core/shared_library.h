// A dlopen handle owned by one object.
#pragma once

#include <string>

namespace dravik {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  SharedLibrary(SharedLibrary&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
  }
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary() { Close(); }

  // Loads by path; a name without "/" goes through the library search path
  // (the executables carry RUNPATH $ORIGIN).
  static SharedLibrary Open(const std::string& path);

  bool loaded() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const;
  void Close();
  // Forgets the handle without unloading: the library stays mapped until
  // the process ends.
  void Release() { handle_ = nullptr; }

 private:
  void* handle_ = nullptr;
};

}  // namespace dravik
