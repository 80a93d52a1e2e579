// talvoctl: administration tool of the Talvo daemon.
#include <algorithm>
#include <iostream>
#include <string_view>

#include "commands.h"
#include "daemon_connection.h"

namespace {

using talvo::talvoctl::kUsageExit;

constexpr char kVersion[] = "talvoctl (Talvo) 2.3c";

// Global options that take a value: the word after them is not a command.
bool takesValue(std::string_view arg) {
  return arg == "--host" || arg == "--port" || arg == "--retry";
}

// The first word of the command line that is not a global option (or its
// value): the command, or empty when there is none.
std::string commandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (takesValue(arg)) {
      ++i;
    } else if (arg.empty() || arg[0] != '-') {
      return std::string(arg);
    }
  }
  return {};
}

// Edits (insertions, deletions, substitutions) that turn `a` into `b`.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                         diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::vector<CLI::App*> visibleCommands(CLI::App& app) {
  return app.get_subcommands(
      [](CLI::App* sub) { return !sub->get_group().empty(); });
}

// The command named `name`, hidden ones included; null when there is none.
CLI::App* findCommand(CLI::App& app, const std::string& name) {
  for (CLI::App* sub : app.get_subcommands({})) {
    if (sub->get_name() == name) return sub;
  }
  return nullptr;
}

// "unknown command 'lst', did you mean 'list'?" when one command is close.
int unknownCommand(CLI::App& app, const std::string& word) {
  std::string best;
  std::size_t best_distance = 3;  // more edits than this: no suggestion
  for (CLI::App* sub : visibleCommands(app)) {
    std::size_t d = distance(word, sub->get_name());
    if (d < best_distance ||
        (sub->get_name().rfind(word, 0) == 0 && best.empty())) {
      best = sub->get_name();
      best_distance = std::min(d, best_distance);
    }
  }
  std::cerr << "talvoctl: unknown command '" << word << "'";
  if (!best.empty()) std::cerr << ", did you mean '" << best << "'?";
  std::cerr << "\n'talvoctl help' lists the commands.\n";
  return kUsageExit;
}

void printCommandList(CLI::App& app, std::ostream& out) {
  out << "Usage: talvoctl [--host HOST] [--port PORT] [--retry N] [-v] "
         "COMMAND ...\n\nCommands:\n";
  std::size_t width = 0;
  for (CLI::App* sub : visibleCommands(app)) {
    width = std::max(width, sub->get_name().size());
  }
  for (CLI::App* sub : visibleCommands(app)) {
    out << "  " << sub->get_name()
        << std::string(width - sub->get_name().size() + 2, ' ')
        << sub->get_description() << "\n";
  }
  out << "\n'talvoctl help COMMAND' tells more about a command; "
         "'talvoctl --help' lists the global options.\n";
}

// `help [COMMAND]`: answered before parsing, since a command's name after
// it would otherwise start that command.
int help(CLI::App& app, int argc, char** argv) {
  std::string topic;
  bool seen_help = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (takesValue(arg)) {
      ++i;
    } else if (!arg.empty() && arg[0] != '-') {
      if (seen_help) {
        topic = arg;
        break;
      }
      seen_help = true;
    }
  }
  if (topic.empty()) {
    printCommandList(app, std::cout);
    return 0;
  }
  CLI::App* sub = findCommand(app, topic);
  if (sub == nullptr || sub->get_group().empty()) {
    return unknownCommand(app, topic);
  }
  std::cout << sub->help();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Administration tool of the Talvo activation daemon",
               "talvoctl");
  app.set_version_flag("--version", kVersion);
  talvo::talvoctl::addConfigCommands(app);
  talvo::talvoctl::addExplainCommands(app);
  talvo::talvoctl::addDaemonOptions(app);
  talvo::talvoctl::addStatusCommand(app);
  talvo::talvoctl::addServerCommands(app);
  talvo::talvoctl::addEditCommands(app);
  talvo::talvoctl::addBindingCommands(app);
  talvo::talvoctl::addIorCommand(app);
  talvo::talvoctl::addLocatorCommands(app);
  talvo::talvoctl::addCompletionCommands(app);
  app.add_subcommand("help", "Print the commands, or the help of one command")
      ->add_option("COMMAND", "Command");

  const std::string word = commandWord(argc, argv);
  const bool asks_help_or_version =
      std::any_of(argv + 1, argv + argc, [](const char* a) {
        std::string_view arg = a;
        return arg == "-h" || arg == "--help" || arg == "--version";
      });
  if (word.empty() && !asks_help_or_version) {
    // Only global options, if any: say what is wrong with them, then list
    // the commands.
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      std::cerr << "talvoctl: " << e.what() << "\n";
    }
    printCommandList(app, std::cerr);
    return kUsageExit;
  }
  if (!word.empty() && findCommand(app, word) == nullptr) {
    return unknownCommand(app, word);
  }
  if (word == "help") return help(app, argc, argv);
  talvo::talvoctl::setCommandName(word);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::RuntimeError& e) {
    // A command that ran and failed; it has said why.
    return e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    std::cerr << "talvoctl" << (word.empty() ? "" : " ") << word << ": "
              << e.what() << "\n";
    if (CLI::App* sub = findCommand(app, word)) std::cerr << sub->help();
    return kUsageExit;
  }
  return 0;
}
