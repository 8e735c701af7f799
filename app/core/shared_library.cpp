#include "shared_library.h"

#include <dlfcn.h>

namespace dravik {

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

SharedLibrary SharedLibrary::Open(const std::string& path) {
  // RTLD_LOCAL: plug-ins export the same names, each must keep its own.
  return SharedLibrary(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* SharedLibrary::Symbol(const char* name) const {
  return handle_ == nullptr ? nullptr : dlsym(handle_, name);
}

void SharedLibrary::Close() {
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace dravik
