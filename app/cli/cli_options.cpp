#include "cli_options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace dravik {

const char kCliUsage[] =
    "usage: dravik-cli -t NAME [OPTIONS] FILE...   convert each FILE as one drop, in the order given\n"
    "  -t, --to NAME[,NAME]   output plug-in (required, there is no default): by its\n"
    "                         extension (FDD, FDI, TFD, HDM) or by its label (FDD, FDI,\n"
    "                         TFD, BKDSK, FILE); case does not matter. Several outputs\n"
    "                         (-t FDD,D88 or -t FDD -t D88) convert each source once\n"
    "                         per output; two outputs of one extension are refused\n"
    "  -o, --output-dir DIR   write the outputs into DIR (made if missing) instead of\n"
    "                         beside the sources\n"
    "  -r, --recursive        a FILE that is a folder is walked: its files and sub-folders\n"
    "                         in name order; links are not followed, names beginning\n"
    "                         with \".\" are left out. With -o the outputs keep the\n"
    "                         sub-folders under DIR; without it they go beside each\n"
    "                         source. Without -r a folder is a usage error\n"
    "  -n, --dry-run          probe and read every source and name what would be\n"
    "                         written; write nothing (not even -o DIR)\n"
    "      --no-clobber       skip a source whose output (or comment or debug file)\n"
    "                         exists already; it counts as skipped\n"
    "      --summary          after the batch print \"N converted, M failed,\n"
    "                         K unsupported, S skipped\" (by default when more than one\n"
    "                         file is converted and the output is a terminal)\n"
    "      --json             one JSON object per source and line on stdout: path,\n"
    "                         member (a file inside an archive, or null), reader,\n"
    "                         description, disks, outputs, result (converted, failed,\n"
    "                         unsupported, skipped), messages; the log goes to stderr\n"
    "      --comment          write the comment file (.txt)\n"
    "      --debug            write the debug dump (.dbg)\n"
    "  -j, --jobs N           convert up to N files at once (default 1)\n"
    "  -k, --keep-going       go on with the next file after a failure\n"
    "      --list             list the loaded input and output plug-ins and exit\n"
    "      --info FILE...     probe and describe each file without converting\n"
    "  -q, --quiet            print only failures\n"
    "  -h, --help             show this help\n"
    "      --version          show the version\n"
    "  --                     end of options: a FILE named \"-x.fdi\" goes after it\n"
    "An output file of the same name is replaced (unless --no-clobber), but only by a\n"
    "complete one: after an error or Ctrl-C the file that was there stays as it was.\n"
    "examples:\n"
    "  dravik-cli -t FDD GAME.FDI               GAME.FDD beside GAME.FDI\n"
    "  dravik-cli -r -j 2 -o ~/out -t FDD,D88 ~/pc98   the whole tree, each source to\n"
    "                                           FDD and D88, sub-folders kept under ~/out\n"
    "  dravik-cli -r -n --json -t FDD ~/pc98    what would be written, for a script\n"
    "exit status: 0 all converted or skipped, 1 a conversion failed, 2 usage error,\n"
    "             3 no failure but some file was unsupported or not a regular file\n";

namespace {

// The option as the user wrote it. For a letter, getopt moves optind past
// the argument only when the letter ended it; inside a group ("-dash.FDD",
// a file name taken for options) optind still points at the group.
std::string OptionGiven(int argc, char** argv) {
  const std::string previous = argv[optind - 1];
  if (optopt == 0 || previous.starts_with("--")) return previous.substr(0, previous.find('='));
  const std::string letter = std::string("-") + static_cast<char>(optopt);
  const bool inside =
      optind < argc && argv[optind][0] == '-' && std::string(argv[optind]).find(static_cast<char>(optopt), 1) != std::string::npos;
  const std::string group = inside ? argv[optind] : previous;
  return group == letter ? letter : letter + " (in \"" + group + "\")";
}

}  // namespace

bool ParseCliOptions(int argc, char** argv, CliOptions& options, std::string& error) {
  enum { kComment = 256, kDebug, kList, kInfo, kVersion, kSummary, kJson, kNoClobber };
  static const option kLongOptions[] = {
      {"to", required_argument, nullptr, 't'},
      {"output-dir", required_argument, nullptr, 'o'},
      {"comment", no_argument, nullptr, kComment},
      {"debug", no_argument, nullptr, kDebug},
      {"jobs", required_argument, nullptr, 'j'},
      {"keep-going", no_argument, nullptr, 'k'},
      {"list", no_argument, nullptr, kList},
      {"info", no_argument, nullptr, kInfo},
      {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {"recursive", no_argument, nullptr, 'r'},
      {"dry-run", no_argument, nullptr, 'n'},
      {"no-clobber", no_argument, nullptr, kNoClobber},
      {"summary", no_argument, nullptr, kSummary},
      {"json", no_argument, nullptr, kJson},
      {nullptr, 0, nullptr, 0}};
  optind = 1;
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":t:o:j:kqhrn", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 't': {
        const std::string_view names = optarg;
        for (size_t start = 0;;) {
          const size_t comma = names.find(',', start);
          const std::string_view name = names.substr(start, comma - start);
          if (name.empty()) {
            error = std::string("an empty output name in -t ") + optarg;
            return false;
          }
          options.output_names.emplace_back(name);
          if (comma == std::string_view::npos) break;
          start = comma + 1;
        }
        break;
      }
      case 'r':
        options.recursive = true;
        break;
      case 'n':
        options.dry_run = true;
        break;
      case kNoClobber:
        options.no_clobber = true;
        break;
      case kSummary:
        options.summary = true;
        break;
      case kJson:
        options.json = true;
        break;
      case 'o':
        if (*optarg == '\0') {
          error = "the output folder (-o) is empty";
          return false;
        }
        options.output_dir_given = true;
        options.output_dir = optarg;
        break;
      case kComment:
        options.comment = true;
        break;
      case kDebug:
        options.debug = true;
        break;
      case 'j': {
        char* end = nullptr;
        errno = 0;
        const long jobs = std::strtol(optarg, &end, 10);
        if (errno != 0 || end == optarg || *end != '\0' || jobs < 1 || jobs > 256) {
          error = std::string("invalid job count: ") + optarg + " (1 to 256)";
          return false;
        }
        options.jobs = static_cast<int>(jobs);
        break;
      }
      case 'k':
        options.keep_going = true;
        break;
      case kList:
        options.list = true;
        break;
      case kInfo:
        options.info = true;
        break;
      case 'q':
        options.quiet = true;
        break;
      case 'h':
        options.help = true;
        break;
      case kVersion:
        options.version = true;
        break;
      case ':':
        error = "option needs a value: " + OptionGiven(argc, argv);
        return false;
      default:
        // A long option given a value it does not take leaves optopt set.
        if (optopt != 0 && std::string_view(argv[optind - 1]).starts_with("--")) {
          error = "option takes no value: " + OptionGiven(argc, argv);
          return false;
        }
        error = "unknown option: " + OptionGiven(argc, argv) +
                " (a FILE whose name starts with \"-\" goes after \"--\")";
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) options.files.emplace_back(argv[i]);
  if (!options.help && !options.version && !options.list && options.files.empty()) {
    error = "no FILE given";
    return false;
  }
  return true;
}

}  // namespace dravik
