#include "settings_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "file_io.h"
#include "paths.h"

namespace dravik {
namespace {

constexpr size_t kKeyLength = 9;
// A line holds a key and at most one path.
constexpr size_t kMaxLineBytes = kKeyLength + kMaxPathBytes + 2;

bool OnFlag(const std::string& line) { return line.size() > kKeyLength && line[kKeyLength] == '1'; }

}  // namespace

std::string SettingsFilePath(const std::string& program_folder) {
  if (access(program_folder.c_str(), W_OK) == 0) return program_folder + "Dravik.cfg";
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::string(home) + "/.config";
  } else {
    return program_folder + "Dravik.cfg";
  }
  return base + "/dravik/Dravik.cfg";
}

void ReadSettingsFile(const std::string& path, int output_count, ConversionSettings& settings) {
  // Not std::ifstream: a FIFO under the file's name would block the window's
  // start-up for ever. ReadWholeFile opens without blocking and takes only a
  // regular file.
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, SIZE_MAX, bytes)) {
    settings.selected_output = 0;
    return;
  }
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  while (std::getline(in, line)) {
    // Overlong lines are dropped whole: a cut path would name another folder.
    if (line.size() > kMaxLineBytes) continue;
    // The value is read as the line stands with its LF, whichever line end
    // the file has, so a one-digit index reads the line end as its second
    // digit, as the file has always been read.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!in.eof()) line += '\n';
    const std::string_view key = std::string_view(line).substr(0, kKeyLength);
    if (key == "folder : ") {
      settings.use_output_folder = OnFlag(line);
    } else if (key == "path   : ") {
      const size_t end = line.find_first_of("\r\n");
      settings.output_folder = line.substr(kKeyLength, end == std::string::npos
                                                           ? std::string::npos
                                                           : end - kKeyLength);
    } else if (key == "comment: ") {
      settings.write_comment = OnFlag(line);
    } else if (key == "outlist: ") {
      const int tens = line.size() > kKeyLength ? line[kKeyLength] : 0;
      const int ones = line.size() > kKeyLength + 1 ? line[kKeyLength + 1] : 0;
      const int index = (tens - '0') * 10 + (ones - '0');
      settings.selected_output = index < 0 || index > output_count - 1 ? 0 : index;
    } else if (key == "debug  : ") {
      settings.debug = OnFlag(line);
    }
  }
}

void WriteSettingsFile(const std::string& path, const ConversionSettings& settings) {
  const std::string folder(FolderOf(path));
  if (!folder.empty()) {
    // The fallback location may not exist yet; one level is enough for it.
    mkdir(std::string(FolderOf(folder.substr(0, folder.size() - 1))).c_str(), 0700);
    mkdir(folder.c_str(), 0700);
  }
  // A path with a line break would split into lines that read back as other
  // keys; such a path is not stored.
  const bool storable = settings.output_folder.find_first_of("\r\n") == std::string::npos;
  char index[16];
  std::snprintf(index, sizeof(index), "%02d", settings.selected_output);
  const std::string text = std::string("folder : ") + (settings.use_output_folder ? "1" : "0") +
                           "\npath   : " + (storable ? settings.output_folder : "") +
                           "\ncomment: " + (settings.write_comment ? "1" : "0") +
                           "\noutlist: " + index + "\ndebug  : " + (settings.debug ? "1" : "0") +
                           "\n";
  OutputFile out;
  if (out.Create(path)) {
    out.Write(text);
    out.Close();
  }
}

}  // namespace dravik
