// talvoctl: administration tool of the Talvo daemon.
#include <iostream>

#include "commands.h"
#include "daemon_connection.h"

int main(int argc, char** argv) {
  CLI::App app("Administration tool of the Talvo activation daemon",
               "talvoctl");
  app.require_subcommand(1);
  talvo::talvoctl::addConfigCommands(app);
  talvo::talvoctl::addExplainCommands(app);
  talvo::talvoctl::addDaemonOptions(app);
  talvo::talvoctl::addServerCommands(app);
  talvo::talvoctl::addEditCommands(app);
  talvo::talvoctl::addBindingCommands(app);
  talvo::talvoctl::addLocatorCommands(app);
  talvo::talvoctl::addCompletionCommands(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::RuntimeError& e) {
    // A command that ran and failed; it has said why.
    return e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    std::cerr << "talvoctl: " << e.what() << "\n\n" << app.help();
    return talvo::talvoctl::kUsageExit;
  }
  return 0;
}
