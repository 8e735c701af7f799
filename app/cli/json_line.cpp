#include "json_line.h"

#include <cstdio>

#include "text.h"

namespace dravik {
namespace {

// What a log text says, without the line breaks the window's log needs.
std::string PlainText(std::string_view text) {
  while (text.starts_with("\r\n")) text.remove_prefix(2);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string JsonStringOrNull(std::string_view text) {
  return text.empty() ? "null" : JsonString(text);
}

}  // namespace

std::string JsonString(std::string_view text) {
  const std::string utf8 = SanitizeUtf8(text);
  std::string out = "\"";
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string_view ResultName(SourceResult result) {
  switch (result) {
    case SourceResult::kConverted:
      return "converted";
    case SourceResult::kFailed:
      return "failed";
    case SourceResult::kUnsupported:
      return "unsupported";
    case SourceResult::kSkipped:
      return "skipped";
  }
  return "failed";
}

std::string JsonLine(const SourceReport& report) {
  std::string line = "{\"path\": " + JsonString(report.path);
  line += ", \"member\": " + JsonStringOrNull(report.member);
  line += ", \"reader\": " + JsonStringOrNull(report.reader);
  line += ", \"description\": " + JsonString(PlainText(report.description));
  line += ", \"disks\": " + std::to_string(report.disks);
  line += ", \"outputs\": [";
  for (size_t i = 0; i < report.outputs.size(); ++i) {
    line += (i == 0 ? "" : ", ") + JsonString(report.outputs[i]);
  }
  line += "], \"result\": " + JsonString(ResultName(report.result));
  line += ", \"messages\": [";
  bool first = true;
  for (const std::string& message : report.messages) {
    const std::string text = PlainText(message);
    if (text.empty()) continue;
    line += (first ? "" : ", ") + JsonString(text);
    first = false;
  }
  return line + "]}\n";
}

}  // namespace dravik
