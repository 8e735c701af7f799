#include "shared_library.h"

#include <dlfcn.h>

#include "paths.h"

// AddressSanitizer intercepts dlopen, and the loader then takes the runtime
// library for the caller: the executable's RUNPATH is not searched.
#if defined(__SANITIZE_ADDRESS__)
#define DRAVIK_DLOPEN_INTERCEPTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DRAVIK_DLOPEN_INTERCEPTED 1
#endif
#endif

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
  SharedLibrary library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
#ifdef DRAVIK_DLOPEN_INTERCEPTED
  // What RUNPATH $ORIGIN would have found.
  if (!library.loaded() && path.find('/') == std::string::npos) {
    library = SharedLibrary(dlopen((ProgramFolder() + path).c_str(), RTLD_NOW | RTLD_LOCAL));
  }
#endif
  return library;
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
