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

  // The command line the program builds, for the archive and folder.
  std::string CommandLine(const std::string& archive, const std::string& folder) const {
    return std::string(lzh_ ? "e -n1 " : "-x -j --i ") + "\"" + archive + "\" \"" + folder + "\"";
  }
  int Run(const std::string& command_line, std::string* report = nullptr) const {
    if (command_ == nullptr) return -1;
    char output[256] = {};
    const int result =
        command_(nullptr, command_line.c_str(), output, report != nullptr ? sizeof(output) : 0);
    if (report != nullptr) *report = output;
    return result;
  }
  int Extract(const std::string& archive, const std::string& folder,
              std::string* report = nullptr) const {
    return Run(CommandLine(archive, folder), report);
  }

 private:
  SharedLibrary library_;
  bool lzh_;
  ArchiverCheckFn check_ = nullptr;
  ArchiverCommandFn command_ = nullptr;
};

}  // namespace dravik::test
