// Conversion of exception names between their scoped forms and their
// repository ids.
//
// An exception name can be written in five forms: the system scoped form
// "CORBA::StExcep::X", the short scoped form "CORBA::X", the plain name "X"
// (or "Mod::Err" for a user exception), the system repository id
// "IDL:omg.org/CORBA/X:1.0" and the general repository id "IDL:Mod/Err:1.0".
// The mode flag says which family the input belongs to: in scoped mode the
// input is a scoped name or a system repository id, otherwise a plain name or
// a general repository id.
//
// Thread safety: pure functions.

#ifndef TALVO_RUNTIME_EXCEPT_NAMES_H_
#define TALVO_RUNTIME_EXCEPT_NAMES_H_

#include <string>
#include <string_view>

namespace talvo {

enum class NameForm {
  kSystemScoped,   // "CORBA::StExcep::%s"
  kShortScoped,    // "CORBA::%s"
  kPlain,          // "%s"
  kSystemRepoId,   // "IDL:omg.org/CORBA/%s:1.0"
  kGeneralRepoId,  // "IDL:%s:1.0"
};

// The form `name` is taken to be in. In scoped mode: "CORBA::StExcep::..."
// is system scoped, "CORBA::..." short scoped, anything else a system
// repository id. Otherwise: "IDL:..." is a general repository id, anything
// else a plain name.
NameForm classifyName(std::string_view name, bool scoped_mode);

// Converts `name` to the `target` form. The core name is taken out with the
// pattern of the input's form (a repository id loses its version, the text
// from its last ":" on); "::" becomes "/" when a plain name turns into a
// repository id, "/" becomes "::" when a repository id turns into a scoped
// form. Outside scoped mode the two scoped targets are written as the bare
// core. A copy of `name` comes back when its form is already `target` or
// when no core can be taken out (an empty core, or a system repository id
// without its prefix).
std::string convertName(std::string_view name, NameForm target,
                        bool scoped_mode);

}  // namespace talvo

#endif  // TALVO_RUNTIME_EXCEPT_NAMES_H_
