// `talvoctl explain MINOR`: the catalogue's text for a minor code.
#include <charconv>
#include <cstdint>
#include <iostream>
#include <string>

#include "commands.h"
#include "daemon_connection.h"
#include "runtime/config/runtime_config.h"
#include "runtime/except/catalogue.h"
#include "runtime/except/exception.h"

namespace talvo::talvoctl {

namespace {

// A minor code: decimal digits only, within 32 bits.
bool parseMinor(const std::string& text, std::uint32_t& minor) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), minor);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

void addExplainCommands(CLI::App& app) {
  CLI::App* explain = app.add_subcommand(
      "explain",
      "Print the error catalogue's text for a minor code (catalogue from "
      "QV_ERRORS)");
  auto minor_text = std::make_shared<std::string>();
  explain->add_option("MINOR", *minor_text, "Minor code, a decimal number")
      ->required()
      ->type_name("UINT")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            std::uint32_t minor;
            return parseMinor(text, minor)
                       ? std::string()
                       : "not a minor code (0 to 4294967295): " + text;
          },
          ""));
  explain->callback([minor_text] {
    std::uint32_t minor = 0;
    parseMinor(*minor_text, minor);
    runtimeStartup();  // the catalogue is named by the configuration
    ErrorCatalogue& catalogue = processCatalogue();
    if (!catalogue.load()) {
      const char* path = runtimeConfig().errors();
      failWith(path != nullptr && *path != '\0'
                   ? "the error catalogue " + std::string(path) +
                         " (QV_ERRORS) cannot be read"
                   : "no error catalogue: set QV_ERRORS to the catalogue's "
                     "path (the project ships etc/Talvo.err)");
    }
    // A code without an entry has no text to explain.
    if (catalogue.format(static_cast<std::int32_t>(minor))
            .rfind("Unknown Error Code:", 0) == 0) {
      failWith(*minor_text + " is not a minor code of the catalogue " +
               std::string(runtimeConfig().errors()));
    }
    // Any exception class serves: the catalogue is consulted by code.
    CORBA::UNKNOWN(minor, CORBA::COMPLETED_NO).print(std::cout);
    std::cout.flush();
  });
}

}  // namespace talvo::talvoctl
