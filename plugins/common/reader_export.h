// The frame every input plug-in's GetFileInfo and ReadDisk share, as
// WriterExport is for WriteDisk: exceptions kept inside, the caller's
// buffers emptied, the source opened; then the reader's own body.
#pragma once

#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "dravik/plugin_api.h"
#include "file_io.h"
#include "plugin_export.h"

namespace dravik {

namespace reader_export_detail {

// Emptied buffers, opened source, then body; direct, when it is set, is
// refused before anything is opened.
template <class Body>
int Run(const char* path, const int* direct, char* message, char* title, int16_t* multi_disk,
        Body&& body) noexcept {
  return GuardExport(message, [&] {
    SetMessage(message, "");
    CopyText(title, kPluginTitleSize, "");
    if (multi_disk != nullptr) *multi_disk = 0;
    if (direct != nullptr && DirectFlagSet(*direct)) {
      SetMessage(message, kMsgUnsupportedConversion);
      return kResultFailed;
    }
    InputFile file;
    if (path == nullptr) {
      SetMessage(message, kMsgSourceOpenError);
      return kResultFailed;
    }
    if (!file.Open(path)) {
      SetMessage(message, FileErrorMessage(kMsgSourceOpenError, path, errno));
      return kResultFailed;
    }
    return body(file);
  });
}

}  // namespace reader_export_detail

// Empties message and title (either may be nullptr), sets *multi_disk to 0
// when given, opens path and hands the open file to body, an
// int(InputFile&). A source that cannot be opened is result 8 with the
// shared message and a line naming the file and the reason; the file is closed when the call returns, on every path.
template <class Body>
int ReaderExport(const char* path, char* message, char* title, int16_t* multi_disk,
                 Body&& body) noexcept {
  return reader_export_detail::Run(path, nullptr, message, title, multi_disk, body);
}

// ReaderExport for ReadDisk of a reader without direct conversion: a set
// direct flag (its low 16 bits) is refused with result 8 and a message
// before the source is opened.
template <class Body>
int ReadDiskExport(const char* path, int direct, char* message, char* title, Body&& body) noexcept {
  return reader_export_detail::Run(path, &direct, message, title, nullptr, body);
}

// GetPluginInfo of an input plug-in: kind 0, interface version 1, the
// description and caps; the extension and label buffers stay untouched.
inline int InputPluginInfo(std::string_view description, std::initializer_list<int> caps,
                           char* identity, uint8_t* caps_out) noexcept {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindInput, description, caps}, identity, caps_out, nullptr, nullptr);
  });
}

// The frame of IsSupport: exceptions kept inside, the source opened (a
// source that cannot be opened is result 6), then body, an
// int(InputFile&). The message buffer is the body's to use.
template <class Body>
int SupportExport(const char* path, Body&& body) noexcept {
  return GuardExport(nullptr, [&] {
    InputFile file;
    if (path == nullptr || !file.Open(path)) return kResultReadError;
    return body(file);
  });
}

// The same frame for a plug-in whose IsSupport empties the message buffer
// first and answers open_failure for a source that cannot be opened.
template <class Body>
int SupportExport(const char* path, char* message, int open_failure, Body&& body) noexcept {
  return GuardExport(message, [&] {
    SetMessage(message, "");
    InputFile file;
    if (!file.Open(path)) return open_failure;
    return body(file);
  });
}

}  // namespace dravik
