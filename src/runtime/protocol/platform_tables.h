// The tables that name a build by its platform index: platform name,
// compiler name and build tag. They serve the identification line that a
// process writes at start-up and the platform index of binding messages.
//
// Thread safety: constant tables.

#ifndef TALVO_RUNTIME_PROTOCOL_PLATFORM_TABLES_H_
#define TALVO_RUNTIME_PROTOCOL_PLATFORM_TABLES_H_

#include <string_view>

namespace talvo::protocol {

// "Win32" for this build's index 11; "Unknown platform" for an index the
// table does not hold.
std::string_view platformName(int index);
// The compiler of a platform; "Unknown architecture" for an index the table
// does not hold.
std::string_view compilerName(int index);
// The build tag ("s1195" for index 11); empty for an unknown index.
std::string_view buildTag(int index);

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_PLATFORM_TABLES_H_
