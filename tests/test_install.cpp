// The program as installed: where it finds its parts, what --version says, and the manual page
// against --help. (Installing into a moved prefix and the Debian package are tested by
// install_test.sh and package_test.sh.)
#include <CLI/CLI.hpp>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/locate.h"
#include "app/manual.h"
#include "job/output_formats.h"
#include "temp_dir.h"

using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

struct Output {
  int exit = -1;
  std::string out, err;
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/// Runs a shell command, keeping its output and its exit code.
Output shell(const std::string& command) {
  TempDir folder;
  const int status =
      std::system((command + " > '" + folder.file("out") + "' 2> '" + folder.file("err") + "'").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(folder.file("out")), slurp(folder.file("err"))};
}

void touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "x";
}

/// Runs of blanks (spaces, line ends, the indentation of a rendered page) as one space, without
/// blanks at the ends.
std::string squeeze(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool blank = c == ' ' || c == '\n' || c == '\t';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

TEST(Locate, BuildTreeKeepsEveryPartBesideTheProgram) {
  TempDir tree;
  touch(tree.path() / "bin" / "Foldra_C4d.cdl");
  const app::Locations parts = app::locate((tree.path() / "bin").string());
  EXPECT_EQ(parts.module, (tree.path() / "bin" / "Foldra_C4d.cdl").string());
  EXPECT_EQ(parts.data, (tree.path() / "bin").string());
}

TEST(Locate, InstalledProgramFindsItsPartsUnderItsPrefix) {
  // A `studio` or `examples` beside an installed program belongs to something else in that
  // folder: only the module file marks a build tree.
  TempDir prefix;
  touch(prefix.path() / "lib" / "foldra" / "Foldra_C4d.cdl");
  touch(prefix.path() / "bin" / "studio");
  fs::create_directories(prefix.path() / "bin" / "examples");
  const app::Locations parts = app::locate((prefix.path() / "bin").string());
  EXPECT_EQ(parts.module, (prefix.path() / "lib" / "foldra" / "Foldra_C4d.cdl").string());
  EXPECT_EQ(parts.data, (prefix.path() / "share" / "foldra").string());

  // Nothing installed at all: the paths still name where the parts belong, for the error.
  TempDir empty;
  EXPECT_EQ(app::locate((empty.path() / "bin").string()).module, (empty.path() / "lib" / "foldra" / "Foldra_C4d.cdl").string());
}

TEST(Version, NamesTheVersionAndTheCommit) {
  const Output r = shell("'" FOLDRA_PROGRAM "' --version");
  EXPECT_EQ(r.exit, 0);
  const std::regex line("foldra " FOLDRA_VERSION_TEXT
                        R"( \((commit [0-9a-f]{12}( with local changes)?|commit unknown: not built from a git checkout)\)\n)");
  EXPECT_TRUE(std::regex_match(r.out, line)) << r.out;
}

TEST(Version, CommitComesOnlyFromTheTopOfACheckout) {
  // The script the build runs, on sources outside git, in a fresh checkout, with a change, and
  // in a folder inside someone else's checkout (a source archive unpacked there).
  TempDir sources;
  const std::string header = sources.file("version.h");
  const auto lookUp = [&](const fs::path& folder) {
    const Output r = shell("cmake -DSOURCE_DIR='" + folder.string() + "' -DVERSION=9.8.7 -DOUTPUT='" + header +
                           "' -P '" FOLDRA_SOURCE_DIR "/app/version.cmake'");
    EXPECT_EQ(r.exit, 0) << r.err;
    return slurp(header);
  };
  const fs::path checkout = sources.path() / "checkout";
  touch(checkout / "file.txt");
  EXPECT_NE(lookUp(checkout).find("\"commit unknown: not built from a git checkout\""), std::string::npos);

  const std::string git = "git -C '" + checkout.string() + "' -c user.name=t -c user.email=t@t ";
  ASSERT_EQ(shell(git + "init -q && " + git + "add file.txt && " + git + "commit -q -m one").exit, 0);
  const std::string commit = shell(git + "rev-parse --short=12 HEAD").out.substr(0, 12);
  std::string text = lookUp(checkout);
  EXPECT_NE(text.find("#define FOLDRA_VERSION \"9.8.7\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"commit " + commit + "\""), std::string::npos) << text;

  std::ofstream(checkout / "file.txt") << "changed";
  EXPECT_NE(lookUp(checkout).find("\"commit " + commit + " with local changes\""), std::string::npos);

  fs::create_directories(checkout / "unpacked");
  EXPECT_NE(lookUp(checkout / "unpacked").find("not built from a git checkout"), std::string::npos);
}

/// One entry of `--help`: its names ("-o", "--output"), its description and its default.
struct HelpEntry {
  bool subcommand = false;
  std::vector<std::string> names;
  std::string description, defaultValue, excludes;
};

/// The entries of CLI11's help: "  NAMES OPTS" padded to 30 columns and the description, or,
/// when the names are longer, the description on the next line after 30 blanks.
std::vector<HelpEntry> parseHelp(const std::string& help) {
  std::vector<std::string> lines;
  std::istringstream in(help);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  std::vector<HelpEntry> entries;
  const std::string indent(30, ' ');
  bool subcommands = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (!l.empty() && l[0] != ' ') subcommands = l == "Subcommands:";
    if (l.size() < 3 || l.compare(0, 2, "  ") != 0 || l[2] == ' ') continue;
    std::string left = l, description;
    if (i + 1 < lines.size() && lines[i + 1].compare(0, 30, indent) == 0) {
      description = lines[++i].substr(30);
    } else if (l.size() > 30) {
      left = l.substr(0, 30);
      description = l.substr(30);
    }
    HelpEntry e;
    e.subcommand = subcommands;
    e.description = squeeze(description);
    left = left.substr(2);
    std::string names = left.substr(0, left.find(' '));
    for (std::size_t start = 0; start <= names.size();) {
      const auto comma = std::min(names.find(',', start), names.size());
      e.names.push_back(names.substr(start, comma - start));
      start = comma + 1;
    }
    const auto excludes = left.find(" Excludes: ");
    if (excludes != std::string::npos) {
      e.excludes = squeeze(left.substr(excludes + 11));
      left = left.substr(0, excludes);
    }
    // A default follows the last '=' directly; the '=' of a check (">= 0") is followed by a blank.
    const auto equals = left.rfind('=');
    if (equals != std::string::npos && equals + 1 < left.size() && left[equals + 1] != ' ') {
      e.defaultValue = left.substr(equals + 1, left.find(' ', equals) - equals - 1);
    }
    entries.push_back(e);
  }
  return entries;
}

/// The manual page as `man` shows it, on lines wide enough not to break descriptions.
std::string renderManual(const std::string& page, std::string* warnings) {
  const Output r = shell("MANWIDTH=400 MANPAGER=cat LC_ALL=C man --warnings -l '" + page + "'");
  EXPECT_EQ(r.exit, 0) << r.err;
  *warnings = r.err;
  return r.out;
}

TEST(Manual, NamesWhatHelpNamesAndRendersWithoutWarnings) {
  TempDir folder;
  const Output page = shell("'" FOLDRA_PROGRAM "' --manual-page");
  ASSERT_EQ(page.exit, 0) << page.err;
  std::ofstream(folder.file("foldra.1")) << page.out;
  // The page the build wrote (and installs) is the program's own.
  EXPECT_EQ(slurp(FOLDRA_MANUAL), page.out) << "rebuild: " FOLDRA_MANUAL " is older than the program";

  std::string warnings;
  const std::string text = squeeze(renderManual(folder.file("foldra.1"), &warnings));
  EXPECT_EQ(warnings, "");
  ASSERT_NE(text.find("SYNOPSIS foldra [OPTIONS] [INPUT ...] foldra serve [OPTIONS]"), std::string::npos) << text;
  const auto commands = text.find(" COMMANDS ");
  const auto formats = text.find(" OUTPUT FORMATS ");
  ASSERT_NE(commands, std::string::npos);
  ASSERT_NE(formats, std::string::npos);
  // The program's options are listed before its commands, the studio's among them.
  const std::string program = text.substr(0, commands);
  const std::string serve = text.substr(commands, formats - commands);

  const auto compare = [&](const std::string& help, const std::string& options, const std::string& what) {
    const std::vector<HelpEntry> entries = parseHelp(help);
    EXPECT_GT(entries.size(), 5u) << what << ":\n" << help;
    for (const HelpEntry& e : entries) {
      // A command is described with its own options, after the program's.
      const std::string& section = e.subcommand ? serve : options;
      for (const std::string& name : e.names) {
        const bool named = section.find(" " + name + " ") != std::string::npos || section.find(" " + name + ",") != std::string::npos;
        EXPECT_TRUE(named) << what << ": " << name << " is missing";
      }
      EXPECT_NE(section.find(e.description), std::string::npos) << what << ": " << e.names.back() << ": " << e.description;
      if (!e.defaultValue.empty()) {
        EXPECT_NE(section.find("Default: " + e.defaultValue + "."), std::string::npos) << what << ": " << e.names.back();
      }
      if (!e.excludes.empty()) {
        // --help lists the excluded options as the program defines them; the page sorts them.
        std::istringstream names(e.excludes);
        std::vector<std::string> sorted{std::istream_iterator<std::string>(names), std::istream_iterator<std::string>()};
        std::sort(sorted.begin(), sorted.end());
        std::string list;
        for (const std::string& n : sorted) list += (list.empty() ? "" : ", ") + n;
        EXPECT_NE(section.find("Not together with " + list + "."), std::string::npos) << what << ": " << e.names.back();
      }
    }
  };
  const std::string help = shell("'" FOLDRA_PROGRAM "' --help").out;
  compare(help, program, "foldra --help");
  // The footer: the help's last line.
  const std::string footer = help.substr(help.rfind('\n', help.size() - 2) + 1);
  EXPECT_NE(program.find(squeeze(footer)), std::string::npos) << footer;
  compare(shell("'" FOLDRA_PROGRAM "' serve --help").out, serve, "foldra serve --help");
  EXPECT_EQ(text.find("manual-page"), std::string::npos) << "the hidden option is not for people";
  for (const char* section : {" EXIT STATUS ", " EXAMPLES ", " FILES "}) EXPECT_NE(text.find(section), std::string::npos) << section;
  // The output formats are the program's table, each with the file it brings along.
  const std::string outputs = text.substr(formats, text.find(" EXIT STATUS ") - formats);
  for (const job::OutputFormat& f : job::outputFormats()) {
    const std::string& extension = f.extension;
    const std::string named = f.companion.empty() ? extension : extension + " (with its " + f.companion + ")";
    EXPECT_NE(outputs.find(named), std::string::npos) << named << " in" << outputs;
  }
}

TEST(Manual, TakesUpOptionsAddedLaterWhereverTheyAre) {
  // Options as others add them: plain, in an option group, on a command; one hidden. Their text
  // holds what roff would misread: a leading '.', a quote, a backslash, hyphens.
  CLI::App cli{"foldra: makes things", "foldra"};
  double depth = 3;
  bool overview = true;
  cli.option_defaults()->always_capture_default();
  cli.add_option("--tab-depth", depth, ".5 of a tab's width\\or more")->check(CLI::PositiveNumber);
  cli.add_flag("--no-overview", overview, "No overview sheet")->group("");
  auto* sheets = cli.add_option_group("Sheets");
  int fit = 0;
  sheets->add_option("--fit-sheets", fit, "Sheets to fit the pieces on");
  auto* serve = cli.add_subcommand("serve", "Starts the studio");
  std::string label;
  serve->add_option("--label-size", label, "Label size")->default_str("small");

  const std::string page = app::manualPage(cli);
  EXPECT_NE(page.find("\\fB\\-\\-tab\\-depth\\fR \\fIFLOAT\\fR\n\\&.5 of a tab\\(aqs width\\eor more\n"), std::string::npos) << page;
  EXPECT_NE(page.find("Default: 3."), std::string::npos) << page;
  EXPECT_NE(page.find("Sheets:\n.TP\n\\fB\\-\\-fit\\-sheets\\fR \\fIINT\\fR\nSheets to fit the pieces on\n"), std::string::npos) << page;
  EXPECT_EQ(page.find("\\-\\-help"), page.rfind("\\-\\-help", page.find(".SH COMMANDS"))) << "the group's own help flag";
  const auto command = page.find(".SS \"foldra serve\"");
  ASSERT_NE(command, std::string::npos) << page;
  EXPECT_GT(page.find("\\fB\\-\\-label\\-size\\fR"), command);
  EXPECT_EQ(page.find("overview"), std::string::npos);
  EXPECT_EQ(page.find(".SS \"foldra \""), std::string::npos) << "an option group is no command";
}

}  // namespace
