// The command line of dravik-cli.
#pragma once

#include <string>
#include <vector>

namespace dravik {

struct CliOptions {
  std::vector<std::string> output_names;  // -t, each given or split at ","
  bool output_dir_given = false;
  std::string output_dir;   // -o
  bool comment = false;
  bool debug = false;
  int jobs = 1;
  bool keep_going = false;
  bool list = false;
  bool info = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  bool recursive = false;  // -r
  bool summary = false;
  bool json = false;
  bool dry_run = false;  // -n
  bool no_clobber = false;
  std::vector<std::string> files;
};

// Parses argv; on a usage error returns false with a one-line reason.
bool ParseCliOptions(int argc, char** argv, CliOptions& options, std::string& error);

extern const char kCliUsage[];

}  // namespace dravik
