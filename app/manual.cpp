#include "app/manual.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/version.h"
#include "job/output_formats.h"

namespace app {

namespace {

/// Text as roff prints it back: a plain '-' may become a typographic hyphen and a plain quote a
/// curly one, which breaks an option copied from the page; a line that starts with '.' or '\''
/// would be read as a request.
std::string roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    switch (c) {
      case '\\': out += "\\e"; break;
      case '-': out += "\\-"; break;
      case '\'': out += "\\(aq"; break;
      case '`': out += "\\(ga"; break;
      default: out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

bool visible(const CLI::Option* option) { return !option->get_group().empty(); }

/// The value an option takes, as `--help` shows it: its type ("FLOAT") and, after the first
/// ':', what its checks accept ("NUMBER > 0").
void splitTypeName(const CLI::Option* option, std::string* type, std::string* accepted) {
  const std::string name = option->get_type_name();
  const auto colon = name.find(':');
  *type = name.substr(0, colon);
  *accepted = colon == std::string::npos ? "" : name.substr(colon + 1);
}

/// One option as a tagged paragraph: its names and value, then its description, what the value
/// may be, its default and the options it cannot go with.
void writeOption(std::ostringstream& out, const CLI::Option* option) {
  std::string type, accepted;
  splitTypeName(option, &type, &accepted);
  const bool takesValue = option->get_type_size() != 0;
  const bool repeatable = option->get_expected_max() >= CLI::detail::expected_max_vector_size;

  out << ".TP\n";
  std::string names;
  for (const std::string& s : option->get_snames()) names += (names.empty() ? "" : ", ") + ("\\fB" + roff("-" + s) + "\\fR");
  for (const std::string& l : option->get_lnames()) names += (names.empty() ? "" : ", ") + ("\\fB" + roff("--" + l) + "\\fR");
  out << names;
  if (takesValue && !type.empty()) out << " \\fI" << roff(type) << "\\fR";
  if (takesValue && repeatable) out << " ...";
  out << "\n" << roff(option->get_description()) << "\n";

  std::vector<std::string> notes;
  if (takesValue && !accepted.empty()) notes.push_back("Value: " + accepted + ".");
  if (takesValue && !option->get_default_str().empty()) notes.push_back("Default: " + option->get_default_str() + ".");
  if (!option->get_excludes().empty()) {
    // A set of pointers: sorted by name so that the page is the same on every build.
    std::vector<std::string> others;
    for (const CLI::Option* other : option->get_excludes()) others.push_back(other->get_name());
    std::sort(others.begin(), others.end());
    std::string list;
    for (const std::string& o : others) list += (list.empty() ? "" : ", ") + o;
    notes.push_back("Not together with " + list + ".");
  }
  if (!notes.empty()) {
    out << ".br\n";
    std::string line;
    for (const std::string& n : notes) line += (line.empty() ? "" : " ") + n;
    out << roff(line) << "\n";
  }
}

/// The arguments without a name (the input files), then the named options, in the order the
/// program defines them, as `--help` lists them. An option group's own help flag is not one of
/// them: `--help` leaves it out too.
void writeOptions(std::ostringstream& out, const CLI::App& app, bool optionGroup = false) {
  const auto listed = [&](const CLI::Option* option) {
    return visible(option) && !(optionGroup && (option == app.get_help_ptr() || option == app.get_help_all_ptr()));
  };
  for (const CLI::Option* option : app.get_options(listed)) {
    if (option->nonpositional()) continue;
    out << ".TP\n\\fI" << roff(option->get_name(true, false)) << "\\fR";
    if (option->get_expected_max() >= CLI::detail::expected_max_vector_size) out << " ...";
    out << "\n" << roff(option->get_description()) << "\n";
  }
  for (const CLI::Option* option : app.get_options(listed)) {
    if (option->nonpositional()) writeOption(out, option);
  }
  // Option groups are nameless subcommands holding options of their parent, under a title.
  for (const CLI::App* group : app.get_subcommands([](const CLI::App* sub) { return sub->get_name().empty(); })) {
    if (group->get_group().empty()) continue;
    out << ".PP\n" << roff(group->get_group()) << ":\n";
    writeOptions(out, *group, true);
  }
}

/// "[OPTIONS] [INPUT ...]" for a synopsis line.
std::string usage(const CLI::App& app) {
  std::string line = "[\\fIOPTIONS\\fR]";
  for (const CLI::Option* option : app.get_options(visible)) {
    if (option->nonpositional()) continue;
    line += " [\\fI" + roff(option->get_name(true, false)) + "\\fR";
    if (option->get_expected_max() >= CLI::detail::expected_max_vector_size) line += " ...";
    line += "]";
  }
  return line;
}

/// The commands (`serve`), without the nameless option groups.
std::vector<const CLI::App*> subcommands(const CLI::App& cli) {
  return cli.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty() && !sub->get_group().empty(); });
}

/// The program's description without the leading "foldra: " that `--help` shows, on one line
/// per sentence group as written.
std::string description(const CLI::App& cli) {
  std::string text = cli.get_description();
  const std::string lead = cli.get_name() + ": ";
  if (text.rfind(lead, 0) == 0) return "\\fB" + roff(cli.get_name()) + "\\fR " + roff(text.substr(lead.size()));
  return roff(text);
}

constexpr const char* kOutputsTogether = R"(.PP
Without \fB\-o\fR foldra writes \fIfoldra\-out/NAME\fR.json and \fIfoldra\-out/NAME\fR.obj, where
\fINAME\fR is the first input's name. Every file is written under a temporary name and moved into
place when all outputs are complete, so a run that fails leaves no file behind.
.PP
In the pattern, cut lines are solid; mountain and valley folds are dashed in two patterns, which
a legend on the first sheet names. Glue tabs are grey. The two copies of every cut edge carry the
same number, and every piece carries its own.
)";

/// What the files of a kind hold (`perSheet`: a pattern drawn as a file per sheet, whose first
/// file is `first`).
std::string formatWords(job::OutputKind kind, bool perSheet, const std::string& first) {
  switch (kind) {
    case job::OutputKind::Scene: return "The whole scene after the run, in foldra's native scene format.";
    case job::OutputKind::Mesh:
      return "The scene's polygon objects (the pieces, and the originals with \\fB\\-\\-keep\\-originals\\fR) with\n"
             "their materials.";
    case job::OutputKind::Pattern:
      if (!perSheet) return "The printable pattern, one page per sheet.";
      return "The printable pattern, one file per sheet: \\fINAME\\fR\\-1" + first + ", \\fINAME\\fR\\-2" + first + ", ...";
    case job::OutputKind::Project:
      return "The project: the model as it was before the run, with its materials, texture images and marked\n"
             "edges, and the run's settings and scale, in one archive. Given as the input, it runs again with\n"
             "those settings and gives the same files.";
    case job::OutputKind::Unknown: break;
  }
  return "";
}

/// The output formats, from the program's list: one paragraph for each run of formats that hold
/// the same (a kind; a pattern's one document apart from its files per sheet).
std::string outputFormats() {
  std::string out = ".SH OUTPUT FORMATS\nThe extension of each \\fB\\-o\\fR file decides what is written:\n";
  const std::vector<job::OutputFormat>& formats = job::outputFormats();
  const std::size_t count = formats.size();
  for (std::size_t i = 0; i < count;) {
    std::size_t end = i;
    std::string names;
    // An extension is a dot and lower-case letters: nothing roff would read as a request.
    for (; end < count && formats[end].kind == formats[i].kind && formats[end].perSheet == formats[i].perSheet; ++end) {
      names += (names.empty() ? "" : ", ") + ("\\fB" + formats[end].extension + "\\fR");
      if (!formats[end].companion.empty()) names += " (with its \\fB" + formats[end].companion + "\\fR)";
    }
    out += ".TP\n" + names + "\n" + formatWords(formats[i].kind, formats[i].perSheet, formats[i].extension) + "\n";
    i = end;
  }
  return out + kOutputsTogether;
}

constexpr const char* kExitStatus = R"(.SH EXIT STATUS
.TP
.B 0
The run succeeded; for \fBfoldra serve\fR, the studio was stopped with Ctrl+C or SIGTERM.
.TP
.B 1
The run failed: an input could not be read, the module could not run, or an output could not be
written. One line on standard error names the file and the problem, and no output file is
written. \fBfoldra serve\fR exits with 1 when it cannot start (the port is taken, or the module or
the studio's page is missing).
.TP
.B 2
Wrong usage: an unknown option, a value out of range, files given to \fBfoldra serve\fR, or other
model files or options that change the settings given with a project.
)";

constexpr const char* kEnvironment = R"(.SH ENVIRONMENT
.TP
.B TMPDIR
Where \fBfoldra serve\fR makes its private folder (mode 0700) for the sessions' uploads; it is
deleted when a session ends and when the studio stops. A run of a project extracts the project's
texture images into a folder there, deleted when the run ends.
)";

constexpr const char* kExamples = R"(.SH EXAMPLES
Unfold the bundled example house into the default outputs:
.PP
.RS
.EX
foldra
.EE
.RE
.PP
A pattern on A4 paper, the model 150 mm large, and one 120 mm high:
.PP
.RS
.EX
foldra model.obj \-o model.pdf
foldra model.obj \-\-height 120 \-o model.pdf
.EE
.RE
.PP
A pattern on A3 paper with an 8 mm margin, and one object of a scene stacked, as a scene:
.PP
.RS
.EX
foldra model.glb \-\-page 297x420 \-\-margin 8 \-o a3.pdf
foldra scene.json \-\-select Roof \-\-layout stack \-o roof.json
.EE
.RE
.PP
A run kept as a project with its pattern, and its pattern drawn again from the project alone:
.PP
.RS
.EX
foldra model.obj \-\-page 297x420 \-o model.foldra \-o model.pdf
foldra model.foldra \-o again.pdf
.EE
.RE
.PP
The web studio on a port the system picks (the address is printed):
.PP
.RS
.EX
foldra serve \-\-port 0
.EE
.RE
)";

}  // namespace

std::string manualPage(const CLI::App& cli) {
  std::ostringstream out;
  const std::string name = roff(cli.get_name());
  out << ".TH FOLDRA 1 \"\" \"foldra " << roff(version()) << "\" \"User Commands\"\n";
  // Left-aligned without hyphenation: option names and values must not be split.
  out << ".nh\n.ad l\n";
  out << ".SH NAME\n" << name << " \\- unfold 3D models into paper models\n";

  out << ".SH SYNOPSIS\n";
  out << ".B " << name << "\n" << usage(cli) << "\n";
  for (const CLI::App* sub : subcommands(cli)) {
    out << ".br\n.B " << name << " " << roff(sub->get_name()) << "\n" << usage(*sub) << "\n";
  }

  out << ".SH DESCRIPTION\n" << description(cli) << "\n";
  out << ".PP\nWithout an input foldra unfolds the bundled example, a small house with two materials and a "
         "texture. While it works foldra shows its stage and a progress bar on a terminal; at the end it prints "
         "one line: objects, triangles, pieces, glue tabs, seconds and the files written.\n";

  out << ".SH OPTIONS\n";
  writeOptions(out, cli);
  if (!cli.get_footer().empty()) out << ".PP\n" << roff(cli.get_footer()) << "\n";

  if (!subcommands(cli).empty()) out << ".SH COMMANDS\n";
  for (const CLI::App* sub : subcommands(cli)) {
    out << ".SS \"" << name << " " << roff(sub->get_name()) << "\"\n" << roff(sub->get_description()) << "\n";
    out << ".PP\nOptions:\n";
    writeOptions(out, *sub);
    // A subcommand starts with its parent's footer; it is shown once, above.
    if (!sub->get_footer().empty() && sub->get_footer() != cli.get_footer()) {
      out << ".PP\n" << roff(sub->get_footer()) << "\n";
    }
  }

  out << outputFormats() << kExitStatus << kEnvironment;
  out << ".SH FILES\n"
         "An installed foldra finds its parts relative to its own folder, so the whole installation can be "
         "moved; in a build tree they stand beside the program.\n"
         ".TP\n\\fIPREFIX\\fR/" << roff(FOLDRA_MODULE_DIR) << "/Foldra_C4d.cdl\n"
         "The paper-model module that foldra runs (unless \\fB\\-\\-module\\fR names another), with its "
         "resources in \\fIres/\\fR beside it.\n"
         ".TP\n\\fIPREFIX\\fR/" << roff(FOLDRA_DATA_DIR) << "/examples/house.obj\n"
         "The bundled example.\n"
         ".TP\n\\fIPREFIX\\fR/" << roff(FOLDRA_DATA_DIR) << "/studio/\n"
         "The web studio's page and three.js.\n";
  out << kExamples;
  return out.str();
}

}  // namespace app
