#include "fuzz_support.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "archive_expander.h"

namespace dravik::fuzz {

Scratch::Scratch() {
  parent_ = MakePrivateTempFolder();
  if (parent_.empty()) std::abort();
  folder_ = parent_ + "work/";
  mkdir(folder_.c_str(), 0700);
  mkdir((folder_ + "out").c_str(), 0700);
}

std::string Scratch::WriteSource(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = folder_ + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size != 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return path;
}

namespace {

// Aborts when the folder holds anything but the allowed names.
void ExpectOnly(const std::string& folder, std::initializer_list<std::string_view> allowed,
                std::initializer_list<std::string_view> also = {}) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool ok = false;
    for (std::string_view a : allowed) ok = ok || name == a;
    for (std::string_view a : also) ok = ok || name == a;
    if (!ok) {
      std::fprintf(stderr, "written outside the output folder: %s%s\n", folder.c_str(),
                   entry->d_name);
      std::abort();
    }
  }
  closedir(dir);
}

}  // namespace

void Scratch::Clean(std::initializer_list<std::string_view> sources) {
  ExpectOnly(parent_, {"work"});
  ExpectOnly(folder_, {"out"}, sources);
  RemoveTree(folder_);
  mkdir(folder_.c_str(), 0700);
  mkdir((folder_ + "out").c_str(), 0700);
}

}  // namespace dravik::fuzz
