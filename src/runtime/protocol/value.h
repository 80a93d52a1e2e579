// Values that travel as operation arguments and results, and their
// marshalling by type description.
//
// A Value holds one of: nothing (void), a basic CORBA value, a string (which
// may be null; also the string form of an object reference), an octet block
// (a sequence of octets), or a list (the elements of any other sequence, or
// the members of a struct in order). An enum travels as its position in the
// enumerator list, held as an unsigned long.
//
// marshalValue() writes a value by its type with any codec; unmarshalValue()
// reads one back. Both refuse a value that does not match its type (MARSHAL
// 10168 "bad typecode " and the kind) and kinds the walk cannot carry (MARSHAL
// 10169: null, any, TypeCode, Principal, union, array, alias, exception, and
// object references on CDR). Decoding failures are the codec's MARSHAL.
//
// Thread safety: plain values.

#ifndef TALVO_RUNTIME_PROTOCOL_VALUE_H_
#define TALVO_RUNTIME_PROTOCOL_VALUE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "runtime/protocol/codec.h"
#include "runtime/protocol/type_desc.h"

namespace talvo::protocol {

struct Value {
  using Str = std::optional<std::string>;
  using Octets = std::vector<std::uint8_t>;
  using List = std::vector<Value>;
  std::variant<std::monostate, bool, char, std::uint8_t, std::int16_t,
               std::uint16_t, std::int32_t, std::uint32_t, float, double, Str,
               Octets, List>
      data;

  static Value ofBool(bool v) { return make(v); }
  static Value ofChar(char v) { return make(v); }
  static Value ofOctet(std::uint8_t v) { return make(v); }
  static Value ofShort(std::int16_t v) { return make(v); }
  static Value ofUShort(std::uint16_t v) { return make(v); }
  static Value ofLong(std::int32_t v) { return make(v); }
  static Value ofULong(std::uint32_t v) { return make(v); }
  static Value ofEnum(std::uint32_t v) { return make(v); }
  static Value ofFloat(float v) { return make(v); }
  static Value ofDouble(double v) { return make(v); }
  static Value ofString(Str v) { return make(std::move(v)); }
  static Value ofOctets(Octets v) { return make(std::move(v)); }
  static Value ofList(List v) { return make(std::move(v)); }
  // A list of strings (the common "S{0},0").
  static Value ofStrings(const std::vector<std::string>& v);

  bool isVoid() const { return data.index() == 0; }
  // Typed access; throws std::bad_variant_access on the wrong kind.
  template <class T>
  const T& as() const {
    return std::get<T>(data);
  }
  template <class T>
  T& as() {
    return std::get<T>(data);
  }
  // The string, or "" for a null string.
  std::string text() const { return as<Str>().value_or(""); }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  template <class T>
  static Value make(T v) {
    Value out;
    out.data = std::move(v);
    return out;
  }
};

// Writes `value` as `type`.
Status marshalValue(Encoder& out, const TypeDesc& type, const Value& value);
// Reads a value of `type`. On failure `value` is unspecified.
Status unmarshalValue(Decoder& in, const TypeDesc& type, Value& value);

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_VALUE_H_
