#include "cli/usage.h"

#include "cli/commands.h"
#include "cli/json_output.h"

#ifndef SHARDIX_VERSION_TEXT
#define SHARDIX_VERSION_TEXT "unknown"
#endif

namespace shardix::cli {

namespace {

struct CommandHelp {
  const char* name;
  const char* usage;   // the synopsis lines
  const char* detail;  // what it does and its options
};

constexpr CommandHelp kCommands[] = {
    {"analyze", "shardix analyze PATH [--color WHEN] [--json]\n",
     "List a file's fragments and show where it lies on its volume.\n"
     "      --color WHEN  auto (the default: on a terminal, unless NO_COLOR is set\n"
     "                 or TERM is dumb), always or never\n"},
    {"fragment",
     "shardix fragment PATH --count N [--size 1..10]\n"
     "                 [--method concentrated|scattered|random|first-fit] [--seed N]\n"
     "                 [--dry-run] [--color WHEN] [--quiet] [--json]\n",
     "Split a file into N fragments placed by the method (default concentrated).\n"
     "  -c, --count N  fragments to make, from 1 to the \"Max:\" value analyze shows\n"
     "      --size S   fragment size from 1 (small) to 10 (large, the default)\n"
     "      --method M concentrated, scattered, random or first-fit (also firstfit,\n"
     "                 first_fit; any case)\n"
     "      --seed N   0 to 4294967295: the same seed gives the same layout again;\n"
     "                 without it the seed drawn is printed\n"
     "      --dry-run  print the plan (each piece's clusters and target LCN, in file\n"
     "                 order) and move nothing; the same arguments and seed then make\n"
     "                 exactly those moves\n"
     "      --color WHEN  auto, always or never (as for analyze)\n"
     "  -q, --quiet    print only the result\n"
     "The job is planned whole first: when not every piece finds room, nothing is\n"
     "moved. The result says how many fragments were asked for and how many the\n"
     "file has: pieces placed next to each other join into one fragment.\n"},
    {"defragment", "shardix defragment PATH [--dry-run] [--color WHEN] [--quiet] [--json]\n",
     "Gather a file into as few fragments as the free space allows.\n"
     "      --dry-run  print the plan (each piece's clusters and target LCN, in file\n"
     "                 order) and move nothing\n"
     "      --color WHEN  auto, always or never (as for analyze)\n"
     "  -q, --quiet    print only the result\n"},
    {"volume-info",
     "shardix volume-info PATH [--sort COLUMN[:asc|:desc]]... [--save REPORT] [--json]\n",
     "The volume's cluster allocation; PATH is any file on it, or the image or\n"
     "device itself.\n"
     "  --sort COLUMN  lcn, clusters or state (the columns \"LCN Range\",\n"
     "                 \"# Clusters\", \"Free|In-Use\"); each --sort is a click on\n"
     "                 that column header\n"
     "  --save REPORT  write the disk report to REPORT, creating or overwriting it\n"},
    {"check", "shardix check IMAGE [--json]\n",
     "Check an NTFS image: cluster usage rebuilt from every file against its\n"
     "bitmap; exit status 0 only for a clean volume.\n"},
    {"scenario",
     "shardix scenario RECIPE OUT.img [--force] [--quiet] [--allow-host-path] [--json]\n"
     "       shardix scenario --verify MANIFEST IMAGE [--json]\n",
     "Build a test image from a recipe (JSON, see docs/scenarios.md), with a\n"
     "manifest of where every file lies: OUT.img.manifest.json and .manifest.txt,\n"
     "and a picture of the layout: OUT.img.map.svg.\n"
     "The same recipe gives the same image, byte for byte. Linux builds only.\n"
     "      --force    replace OUT.img if it exists\n"
     "  -q, --quiet    print only the result\n"
     "      --allow-host-path  let host files lie outside the recipe's folder\n"
     "      --verify   check the image against the manifest: files, slack, remnants,\n"
     "                 free space and metadata; names each place that changed;\n"
     "                 exit status 0 only when nothing did\n"},
    {"score", "shardix score MANIFEST FOLDER [--json]\n",
     "Grade what a recovery tool wrote under FOLDER against a scenario image's\n"
     "manifest (the image itself read beside it): each file of the image whole\n"
     "(a recovered file equals it), partial (recovered files hold some of its\n"
     "clusters; the share found) or missed, and each recovered file that matches\n"
     "none a false positive. Linux builds only.\n"
     "      --json     one JSON object (docs/score.schema.json)\n"},
    {"demo", "shardix demo [DIR] [--force] [--json]\n",
     "Make a fresh NTFS image with files on it (in DIR, or a new temporary folder)\n"
     "and run the commands on it.\n"
     "      --force    replace the demo image an earlier run left in DIR\n"},
    {"help", "shardix help [COMMAND]\n", "Show the usage of all commands, or of one.\n"},
};

bool usage_json = false;

const CommandHelp* Find(const std::string& name) {
  for (const CommandHelp& help : kCommands)
    if (name == help.name) return &help;
  return nullptr;
}

}  // namespace

bool PrintCommandHelp(FILE* out, const std::string& command) {
  if (!command.empty()) {
    const CommandHelp* help = Find(command);
    if (!help) return false;
    std::fprintf(out, "usage: %s\n%s", help->usage, help->detail);
    return true;
  }
  std::fputs("usage: shardix COMMAND [ARGS]\n       shardix COMMAND --help (-h)\n"
             "       shardix --version (-V)\n\ncommands:\n",
             out);
  for (const CommandHelp& help : kCommands) {
    // A second synopsis lines up under "usage: "; here under the first.
    std::string usage = help.usage;
    for (std::size_t at = 0; (at = usage.find("\n       shardix", at)) != std::string::npos;)
      usage.erase(at + 1, 5);
    std::fprintf(out, "  %s", usage.c_str());
  }
  std::fputs(
      "\n"
      "PATH names a file inside an NTFS image or device as if the image were a folder:\n"
      "  /srv/disk.img/docs/a.bin\n"
      "Progress goes to the error stream when it is a terminal.\n"
      "--json prints one JSON object on stdout, with \"error\": {code, message, path}\n"
      "on a failure, bad usage included (docs/json.md); the error's words also go\n"
      "to the error stream.\n"
      "Exit status: 0 success, 1 refused or unsuccessful, 2 bad usage, 130 or 143\n"
      "stopped by SIGINT (Ctrl+C) or SIGTERM after the move in flight.\n",
      out);
  return true;
}

void SetUsageErrorsAsJson(bool json) { usage_json = json; }

int UsageError(const std::string& command, const std::string& problem) {
  std::fprintf(stderr, "shardix %s: %s\n", command.c_str(), problem.c_str());
  if (usage_json) {
    const JsonError error{"usage", problem, "", ""};
    PrintJson(CommandJson(command, &error, Json::object()));
  }
  if (const CommandHelp* help = Find(command)) std::fprintf(stderr, "usage: %s", help->usage);
  return kExitUsage;
}

void PrintVersion(FILE* out) { std::fprintf(out, "shardix %s\n", SHARDIX_VERSION_TEXT); }

}  // namespace shardix::cli
