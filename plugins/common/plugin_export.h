// Shared pieces of every plug-in's exports: filling PluginInfo, writing
// messages into the caller's buffers, and keeping exceptions inside.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string_view>

#include "dravik/plugin_api.h"
#include "text.h"

namespace dravik {

// Messages every plug-in may answer with.
inline constexpr std::string_view kMsgSourceOpenError = "\r\n変換元ファイルオープンエラー";
inline constexpr std::string_view kMsgTargetOpenError = "\r\n変換先ファイルオープンエラー";
inline constexpr std::string_view kMsgUnsupportedConversion = "\r\n未対応の変換です。";
inline constexpr std::string_view kMsgBadImageData = "\r\nイメージデータが異常です";
inline constexpr std::string_view kMsgImageTooLarge = "\r\nイメージが大きすぎます";
inline constexpr std::string_view kMsgInternalError = "\r\n内部エラーが発生しました";

struct PluginIdentity {
  uint8_t kind;
  std::string_view description;
  std::initializer_list<int> caps;
  // nullptr leaves the caller's buffer untouched, as input plug-ins do.
  const char* extension = nullptr;
  const char* label = nullptr;
};

int FillPluginInfo(const PluginIdentity& info, char* identity, uint8_t* caps,
                   char* extension, char* label);

inline void SetMessage(char* message, std::string_view text) {
  CopyText(message, kMessageSize, text);
}

// A message followed by one line with the file and the system's reason for
// error (an errno value): "\r\n変換先ファイルオープンエラー\r\n/out/GAME.FDI:
// Permission denied". The path is shown as valid UTF-8 and shortened in its
// middle so that the whole fits a message buffer.
std::string FileErrorMessage(std::string_view message, std::string_view path, int error);

// Runs an export's body; an exception that escapes it becomes result 8 with
// a message, never a crash of the host.
template <typename Body>
int GuardExport(char* message, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetMessage(message, kMsgImageTooLarge);
  } catch (...) {
    SetMessage(message, kMsgInternalError);
  }
  return kResultFailed;
}

// A writer refuses a set direct flag; only its low 16 bits count.
inline bool DirectFlagSet(int direct) { return (direct & 0xFFFF) != 0; }

// The frame every WriteDisk shares: exceptions kept inside, the message
// emptied, a set direct flag refused; then the writer's own body.
template <typename Body>
int WriterExport(int direct, char* message, Body&& body) noexcept {
  return GuardExport(message, [&] {
    SetMessage(message, "");
    if (DirectFlagSet(direct)) {
      SetMessage(message, kMsgUnsupportedConversion);
      return kResultFailed;
    }
    return body();
  });
}

}  // namespace dravik
