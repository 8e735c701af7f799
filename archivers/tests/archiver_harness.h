// The built UNLHA32.so and UNZIP32.so, loaded and called as the program
// does: check function with mode 0, command line with quoted paths.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "archiver_api.h"
#include "shared_library.h"
#include "test_support.h"

namespace dravik::test {

class LoadedArchiver {
 public:
  // "UNLHA32.so" or "UNZIP32.so" of the program folder.
  explicit LoadedArchiver(const std::string& file_name)
      : library_(SharedLibrary::Open(ProgramDir() + file_name)), lzh_(file_name == "UNLHA32.so") {
    check_ = reinterpret_cast<ArchiverCheckFn>(
        library_.Symbol(lzh_ ? "UnlhaCheckArchive" : "UnZipCheckArchive"));
    command_ = reinterpret_cast<ArchiverCommandFn>(library_.Symbol(lzh_ ? "Unlha" : "UnZip"));
    if (check_ == nullptr || command_ == nullptr) ADD_FAILURE() << "cannot load " << file_name;
  }

  bool Check(const std::string& path) const {
    return check_ != nullptr && check_(path.c_str(), 0) != 0;
  }
  int Extract(const std::string& archive, const std::string& folder) const {
    if (command_ == nullptr) return -1;
    const std::string line =
        std::string(lzh_ ? "e -n1 \"" : "-x -j --i \"") + archive + "\" \"" + folder + "\"";
    char output[256] = {};
    return command_(nullptr, line.c_str(), output, sizeof(output));
  }

 private:
  SharedLibrary library_;
  bool lzh_;
  ArchiverCheckFn check_ = nullptr;
  ArchiverCommandFn command_ = nullptr;
};

// Runs an archiver tool (the oracle) in folder.
inline CommandResult RunIn(const std::string& folder, const std::string& command) {
  return RunCommand("cd " + ShellQuote(folder) + " && " + command);
}

}  // namespace dravik::test
