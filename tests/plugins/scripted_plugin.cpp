// A plug-in for tests whose answers are scripted by the source file itself,
// so that one build serves every case and calls share no state. A source
// file starts with "DRAVIK-TEST" and holds key=value lines:
//   accept=TAG[,TAG]      only plug-ins with these tags answer IsSupport
//   issupport=N, issupport_message=TEXT, issupport_unterminated=1
//   info=N, info_message=TEXT, title=TEXT, multi=1
//   read=N (every disk), read<d>=N (disk d), read_message=TEXT,
//   read_title<d>=TEXT, read_progress=DONE:TOTAL[,...], read_progress_text=TEXT,
//   progress_sleep_ms=N (pause after each progress call)
//   raise=N (ReadDisk raises signal N before its progress calls, so that a
//   signal arrives at an exact point of a run with no sleep)
//   write=N, write_message=TEXT, write_progress=DONE:TOTAL[,...],
//   write_padding=TEXT (written last, to make the output larger)
// TEXT may hold \r and \n escapes. The reader hands the script and the disk
// number to the writer inside DiskImage.data.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "disk_data.h"
#include "file_io.h"
#include "plugin_export.h"

#ifndef TEST_KIND
#define TEST_KIND 0
#endif
#ifndef TEST_VERSION
#define TEST_VERSION 1
#endif
#ifndef TEST_INFO_RESULT
#define TEST_INFO_RESULT 0
#endif
#ifndef TEST_TAG
#define TEST_TAG "plain"
#endif
#ifndef TEST_DESCRIPTION
#define TEST_DESCRIPTION "TEST形式入力Plug-in Ver.0.01"
#endif
#ifndef TEST_CAPS
#define TEST_CAPS 0
#endif
#ifndef TEST_EXTENSION
#define TEST_EXTENSION ".TST"
#endif
#ifndef TEST_LABEL
#define TEST_LABEL "TST形式(テスト用)"
#endif

namespace {
// Each build uses a different subset of these helpers.
#pragma GCC diagnostic ignored "-Wunused-function"

using Script = std::map<std::string, std::string>;

Script Parse(const std::string& text) {
  Script script;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    for (size_t i = 0; (i = value.find('\\', i)) != std::string::npos; ++i) {
      if (value.compare(i, 2, "\\r") == 0 || value.compare(i, 2, "\\n") == 0) {
        value.replace(i, 2, 1, value[i + 1] == 'r' ? '\r' : '\n');
      }
    }
    script[line.substr(0, eq)] = value;
  }
  return script;
}

bool LoadScript(const char* path, std::string& raw, Script& script) {
  std::vector<uint8_t> bytes;
  if (!dravik::ReadWholeFile(path, 1 << 20, bytes)) return false;
  raw.assign(bytes.begin(), bytes.end());
  if (!raw.starts_with("DRAVIK-TEST")) return false;
  script = Parse(raw);
  return true;
}

std::string Get(const Script& s, const std::string& key, const std::string& fallback = "") {
  const auto it = s.find(key);
  return it == s.end() ? fallback : it->second;
}

int GetInt(const Script& s, const std::string& key, int fallback) {
  return std::atoi(Get(s, key, std::to_string(fallback)).c_str());
}

bool Accepts(const Script& s) {
  const std::string accept = Get(s, "accept");
  return accept.empty() || ("," + accept + ",").find("," TEST_TAG ",") != std::string::npos;
}

// Calls the callback for each DONE:TOTAL pair; the text goes with the first.
int RunProgress(const std::string& calls, const std::string& text, int sleep_ms,
                ProgressCallback cb) {
  char message[kMessageSize] = {};
  dravik::CopyText(message, sizeof(message), text);
  std::istringstream in(calls);
  for (std::string call; std::getline(in, call, ',');) {
    int done = 0;
    int total = 0;
    std::sscanf(call.c_str(), "%d:%d", &done, &total);
    // An empty text is handed over as a literal: the host must not write to it.
    char* arg = message[0] != '\0' ? message : const_cast<char*>("");
    if (cb(done, total, arg) != 0) return 1;
    if (sleep_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleep_ms));
  }
  return 0;
}

}  // namespace

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  const int rc =
      dravik::FillPluginInfo({TEST_KIND, TEST_DESCRIPTION, {TEST_CAPS}, TEST_EXTENSION, TEST_LABEL},
                             identity, caps, extension, label);
  identity[1] = TEST_VERSION;
  return rc == 0 ? TEST_INFO_RESULT : rc;
}

#if TEST_KIND == 0 || defined(TEST_BOTH_KINDS)
DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  std::string raw;
  Script s;
  if (!LoadScript(path, raw, s) || !Accepts(s)) return kResultNotMine;
  if (GetInt(s, "issupport_unterminated", 0) != 0) {
    std::memset(message, 'x', kMessageSize);  // no NUL anywhere
  } else {
    dravik::SetMessage(message, Get(s, "issupport_message"));
  }
  return GetInt(s, "issupport", 0);
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi) {
  std::string raw;
  Script s;
  if (!LoadScript(path, raw, s)) return kResultReadError;
  dravik::SetMessage(message, Get(s, "info_message"));
  dravik::CopyText(title, kPluginTitleSize, Get(s, "title"));
  *multi = static_cast<int16_t>(GetInt(s, "multi", 0));
  return GetInt(s, "info", 0);
}

#ifndef TEST_OMIT_READDISK
DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int disk, int direct,
                           ProgressCallback progress, char* message, char* title) {
  std::string raw;
  Script s;
  if (!LoadScript(path, raw, s)) return kResultReadError;
  dravik::SetMessage(message, Get(s, "read_message"));
  const std::string title_key = "read_title" + std::to_string(disk);
  if (s.contains(title_key)) dravik::CopyText(title, kPluginTitleSize, s.at(title_key));
  if (const int signal = GetInt(s, "raise", 0); signal != 0) std::raise(signal);
  if (RunProgress(Get(s, "read_progress"), Get(s, "read_progress_text"),
                  GetInt(s, "progress_sleep_ms", 0), progress) != 0) {
    return kResultAborted;
  }
  const int result = GetInt(s, "read" + std::to_string(disk), GetInt(s, "read", 0));
  if (direct != 0) {
    dravik::OutputFile out;
    if (!out.Create(static_cast<const char*>(target))) return kResultFailed;
    out.Write("direct=" + std::to_string(direct) + " disk=" + std::to_string(disk) + "\n");
    if (!out.Close()) return kResultWriteError;
    return result;
  }
  auto* image = static_cast<DiskImage*>(target);
  image->track_count = static_cast<uint8_t>(disk);
  dravik::CopyText(image->title, kTitleSize, Get(s, "title"));
  dravik::DiskDataWriter data(*image);
  data.Append(raw.c_str(), raw.size() + 1);
  return result;
}
#endif
#endif

#if TEST_KIND == 1 || defined(TEST_BOTH_KINDS)
#ifndef TEST_OMIT_WRITEDISK
DRAVIK_EXPORT int WriteDisk(DiskImage* image, const char* path, int direct,
                            ProgressCallback progress, char* message) {
  if (dravik::DirectFlagSet(direct)) {
    dravik::SetMessage(message, dravik::kMsgUnsupportedConversion);
    return kResultFailed;
  }
  const auto* text = reinterpret_cast<const char*>(image->data);
  const Script s = Parse(std::string(text, strnlen(text, kDataCapacity)));
  dravik::SetMessage(message, Get(s, "write_message"));
  dravik::OutputFile out;
  if (!out.Create(path)) {
    dravik::SetMessage(message, dravik::kMsgTargetOpenError);
    return kResultFailed;
  }
  // Half the file before the progress calls, half after, so that an abort
  // or a failure comes part way.
  out.Write(std::string("disk=") + std::to_string(image->track_count) + "\n");
  if (RunProgress(Get(s, "write_progress"), "", GetInt(s, "progress_sleep_ms", 0), progress) !=
      0) {
    return kResultAborted;
  }
  out.Write("title=" + std::string(image->title, strnlen(image->title, kTitleSize)) + "\n" +
            Get(s, "write_padding"));
  if (!out.Close()) return kResultWriteError;
  return GetInt(s, "write", 0);
}
#endif
#endif

}  // extern "C"
