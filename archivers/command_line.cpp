#include <vector>

#include "archiver.h"

namespace dravik::archiver {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

// Splits on spaces and tabs; a double quote opens a word that runs to the
// next one. A quote inside a word, a word glued to a closing quote, or any
// control character means the line was built from a path it cannot carry.
std::optional<std::vector<Token>> Tokenize(std::string_view line) {
  std::vector<Token> tokens;
  size_t i = 0;
  for (unsigned char c : line) {
    if ((c < 0x20 && c != '\t') || c == 0x7F) return std::nullopt;
  }
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    Token token;
    if (line[i] == '"') {
      const size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      token.text = line.substr(i + 1, close - i - 1);
      token.quoted = true;
      i = close + 1;
      if (i < line.size() && line[i] != ' ' && line[i] != '\t') return std::nullopt;
    } else {
      const size_t end = line.find_first_of(" \t", i);
      token.text = line.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
      if (token.text.find('"') != std::string::npos) return std::nullopt;
      i = end == std::string_view::npos ? line.size() : end;
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

bool IsSwitch(const Token& token) {
  return !token.quoted && token.text.size() > 1 && token.text[0] == '-';
}

// "-n", "-n0", "-n1", "-n2": how much progress UNLHA32 shows; it shows none.
bool IsLzhDisplaySwitch(const std::string& text) {
  return text.size() <= 3 && text.compare(0, 2, "-n") == 0 &&
         (text.size() == 2 || (text[2] >= '0' && text[2] <= '2'));
}

}  // namespace

std::optional<Command> ParseCommandLine(Format format, std::string_view line) {
  const auto tokens = Tokenize(line);
  if (!tokens) return std::nullopt;
  std::vector<std::string> paths;
  bool command_seen = false;
  bool junk_paths = false;
  for (const Token& token : *tokens) {
    if (format == Format::kLzh && !command_seen) {
      // Only "e": extract without the archive's folders.
      if (token.quoted || (token.text != "e" && token.text != "E")) return std::nullopt;
      command_seen = true;
    } else if (IsSwitch(token)) {
      if (format == Format::kLzh) {
        if (!IsLzhDisplaySwitch(token.text)) return std::nullopt;
      } else if (token.text == "-x") {
        command_seen = true;
      } else if (token.text == "-j") {
        junk_paths = true;
      } else if (token.text != "--i") {
        return std::nullopt;
      }
    } else {
      paths.push_back(token.text);
    }
  }
  if (!command_seen || paths.size() != 2 || paths[0].empty() || paths[1].empty()) {
    return std::nullopt;
  }
  // Without -j UNZIP32 would be asked to keep the archive's folders, which it
  // never does.
  if (format == Format::kZip && !junk_paths) return std::nullopt;
  return Command{paths[0], paths[1]};
}

}  // namespace dravik::archiver
