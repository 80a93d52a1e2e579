// Operation signatures: the text that describes an operation's name,
// parameters, result and call mode, and the marshalling of arguments by it.
//
//   "Ro~" name "~" param ("," param)* "," ">{" TYPE "}," mode "{}"
//
// A parameter is a direction ("+" in, "-" out, "*" inout), a name and
// "{" TYPE "}"; mode "N" is a normal two-way call, any other letter oneway.
// A request carries the in and inout arguments in signature order. A reply
// on a broker-protocol channel carries the out and inout arguments in
// signature order and then the result; on an IIOP channel the result first.
//
// Also here: the parameter description and named-value forms of the dynamic
// invocation interface, and the signature built from a dynamic request.
//
// Thread safety: plain values and pure functions.

#ifndef TALVO_RUNTIME_PROTOCOL_SIGNATURE_H_
#define TALVO_RUNTIME_PROTOCOL_SIGNATURE_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/protocol/codec.h"
#include "runtime/protocol/type_desc.h"
#include "runtime/protocol/value.h"

namespace talvo::protocol {

// The protocol kind of a channel: 1 broker protocol, 2 IIOP.
enum class ProtocolKind : int { kTalvo = 1, kIiop = 2 };

enum class Direction { kIn, kOut, kInOut };

struct Parameter {
  Direction direction = Direction::kIn;
  std::string name;
  TypeDesc type;

  bool sent() const { return direction != Direction::kOut; }
  bool returned() const { return direction != Direction::kIn; }
};

struct Signature {
  std::string operation;
  std::vector<Parameter> parameters;
  TypeDesc result;  // kVoid: no result
  char mode = 'N';

  bool oneway() const { return mode != 'N'; }
};

// Minor code of a dynamic request without an operation name.
inline constexpr std::uint32_t kMinorNoOperation = 10165;

// Reads a signature text. A malformed text gives MARSHAL 10168 with
// "bad typecode " and the text.
Status parseSignature(std::string_view text, Signature& out);
// The text form (the inverse of parseSignature).
std::string formatSignature(const Signature& sig);

// Request direction. `args` holds one value per parameter (out parameters'
// values are ignored when sending and left void when receiving).
Status marshalRequestArgs(Encoder& out, const Signature& sig,
                          std::span<const Value> args);
Status unmarshalRequestArgs(Decoder& in, const Signature& sig,
                            std::vector<Value>& args);

// Reply direction, in the order of `protocol`. `args` as above (in
// parameters' values are ignored when sending and left as they are when
// receiving, so that a caller can decode into its request's argument list).
Status marshalReplyArgs(Encoder& out, const Signature& sig,
                        ProtocolKind protocol, std::span<const Value> args,
                        const Value& result);
Status unmarshalReplyArgs(Decoder& in, const Signature& sig,
                          ProtocolKind protocol, std::vector<Value>& args,
                          Value& result);

// The description of one parameter text ("+service{0}" gives
// "Rp~service~type{0},IN{E~{IN,OUT,INOUT}}").
std::string parameterDescription(std::string_view param_text);

// A named value of a dynamic request: its flags are 1 in, 2 out, 3 inout.
struct NamedValue {
  std::string name;
  std::optional<TypeDesc> type;
  std::uint32_t flags = 1;
  Value value;
};
inline constexpr std::string_view kNamedValueType =
    "R~NamedValue~name{0},argument{a},len{l},arg_modes{ul}";
inline constexpr std::string_view kResultName = "QV_result";

// Builds the signature of a dynamic request: "Ro~" op, "~" when
// `target_known`, each named value as direction, name and "{" TYPE "}"
// (name and type only when present), then the completion ">{x},x{}" that
// leaves result and mode to the interface. An empty `operation` gives
// MARSHAL 10165 and leaves `out` untouched.
Status dynamicSignature(std::string_view operation,
                        std::span<const NamedValue> values, bool target_known,
                        std::string& out);

// True when a dynamic signature text fits an interface's signature: same
// operation, same number and directions of parameters, and same types where
// the dynamic text gives one ("x" leaves result and mode open).
bool dynamicSignatureMatches(std::string_view dynamic, const Signature& sig);

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_SIGNATURE_H_
