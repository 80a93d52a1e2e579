// `talvoctl completion bash` (hidden): a bash completion script written from
// the command table itself, so that it never lists a command or option the
// program does not have. The build runs it to make the installed script.
#include <iostream>
#include <set>
#include <sstream>

#include "commands.h"

namespace talvo::talvoctl {
namespace {

// Every visible subcommand of `app`.
std::vector<CLI::App*> commandsOf(CLI::App& app) {
  return app.get_subcommands(
      [](CLI::App* sub) { return !sub->get_group().empty(); });
}

// The option names of `app` ("-m --marker --help ..."), and those that take
// a value in `with_value`.
std::string optionWords(const CLI::App& app,
                        std::set<std::string>* with_value) {
  std::string words;
  for (const CLI::Option* opt : app.get_options()) {
    if (opt->get_positional() && opt->get_lnames().empty() &&
        opt->get_snames().empty()) {
      continue;
    }
    auto add = [&](const std::string& name) {
      words += (words.empty() ? "" : " ") + name;
      if (with_value != nullptr && opt->get_items_expected_min() > 0) {
        with_value->insert(name);
      }
    };
    for (const std::string& s : opt->get_snames()) add("-" + s);
    for (const std::string& l : opt->get_lnames()) add("--" + l);
  }
  return words;
}

void writeBash(CLI::App& app, std::ostream& out) {
  std::set<std::string> with_value;
  std::string global = optionWords(app, &with_value);
  std::string commands;
  std::ostringstream cases;
  for (CLI::App* sub : commandsOf(app)) {
    commands += (commands.empty() ? "" : " ") + sub->get_name();
    cases << "    " << sub->get_name() << ") words=\""
          << optionWords(*sub, &with_value) << "\" ;;\n";
  }
  std::string valued;
  for (const std::string& v : with_value) valued += " " + v;
  out << "# bash completion for talvoctl, written by "
         "`talvoctl completion bash`.\n"
      << "_talvoctl() {\n"
      << "  local cur=${COMP_WORDS[COMP_CWORD]} "
         "prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      << "  local command= i words\n"
      << "  local valued=\"" << valued.substr(valued.empty() ? 0 : 1) << "\"\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      << "    case \" $valued \" in *\" ${COMP_WORDS[i]} \"*) ((i++)); "
         "continue ;; esac\n"
      << "    case ${COMP_WORDS[i]} in -*) ;; *) command=${COMP_WORDS[i]}; "
         "break ;; esac\n"
      << "  done\n"
      << "  case \" $valued \" in *\" $prev \"*) COMPREPLY=(); return ;; esac\n"
      << "  case $command in\n"
      << "    \"\") words=\"" << commands << " " << global << "\" ;;\n"
      << "    help) words=\"" << commands << "\" ;;\n"
      << cases.str() << "    *) words= ;;\n"
      << "  esac\n"
      << "  [ -n \"$command\" ] && [ \"$command\" != help ] && "
         "words=\"$words "
      << global << "\"\n"
      << "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
      << "}\n"
      << "complete -F _talvoctl talvoctl\n";
}

}  // namespace

void addCompletionCommands(CLI::App& app) {
  auto shell = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("completion",
                                     "Write a shell completion script (bash)");
  cmd->group("");  // for the build and packagers, not in the help
  cmd->add_option("SHELL", *shell, "bash")
      ->required()
      ->check(CLI::IsMember({"bash"}));
  cmd->callback([&app, shell] { writeBash(app, std::cout); });
}

}  // namespace talvo::talvoctl
