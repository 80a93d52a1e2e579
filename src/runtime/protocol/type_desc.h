// Type descriptions: the text form in which operation signatures spell the
// type of each parameter and result.
//
// Each CORBA type kind has a letter ("s" short, "ul" unsigned long, "0"
// string, ...). Compound types spell their parts:
//   sequence  "S{" TYPE "}," bound          (bound 0: unbounded)
//   struct    "R~" name "~" member ("," member)*, member = name "{" TYPE "}"
//   enum      "E~" name "~" enumerator ("," enumerator)*
//   objref    "O~" interface
// parseType() reads one description, formatType() writes it back, and
// sameType() compares two by kind and, for compound kinds, part by part.
//
// Thread safety: plain values.

#ifndef TALVO_RUNTIME_PROTOCOL_TYPE_DESC_H_
#define TALVO_RUNTIME_PROTOCOL_TYPE_DESC_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/except/exception.h"

namespace talvo::protocol {

// The CORBA type kinds, in their standard order 0 to 22.
enum class TypeKind : int {
  kNull = 0,
  kVoid,
  kShort,
  kLong,
  kUShort,
  kULong,
  kFloat,
  kDouble,
  kBoolean,
  kChar,
  kOctet,
  kAny,
  kTypeCode,
  kPrincipal,
  kObjRef,
  kStruct,
  kUnion,
  kEnum,
  kString,
  kSequence,
  kArray,
  kAlias,
  kExcept,
};

// Minor codes of type walks: a description that cannot be read or a value
// that does not match its type (10168), a kind the walk cannot handle (10169).
inline constexpr std::uint32_t kMinorBadType = 10168;
inline constexpr std::uint32_t kMinorBadKind = 10169;

// The letter of a kind ("" for a kind outside 0 to 22).
std::string_view typeLetter(int kind);
// The kind of a letter; nullopt when no kind has it.
std::optional<TypeKind> kindOfLetter(std::string_view letter);

struct TypeMember;

struct TypeDesc {
  TypeKind kind = TypeKind::kVoid;
  // Struct or enum name, or the interface of an object reference.
  std::string name;
  // Struct members; for a sequence, one unnamed member: the element type.
  std::vector<TypeMember> members;
  // Enumerators in order of their values from 0.
  std::vector<std::string> enumerators;
  // Sequence bound (0: unbounded).
  std::uint32_t bound = 0;

  static TypeDesc basic(TypeKind k);
  static TypeDesc sequenceOf(TypeDesc element, std::uint32_t bound = 0);
  // The element type of a sequence (the object must be a sequence).
  const TypeDesc& element() const;
};

struct TypeMember {
  std::string name;
  TypeDesc type;
};

inline TypeDesc TypeDesc::basic(TypeKind k) {
  TypeDesc t;
  t.kind = k;
  return t;
}

// Reads one type description from the front of `text`, advancing it past
// what was read. A text that is not a description gives MARSHAL 10168 with
// "bad typecode " and the text as detail.
Status parseType(std::string_view& text, TypeDesc& out);
// Reads a whole text as exactly one description.
Status parseTypeText(std::string_view text, TypeDesc& out);
// The text form of `type` (the inverse of parseType for every kind it reads).
std::string formatType(const TypeDesc& type);
// Equal kinds; compound kinds also equal part by part (member and
// enumerator counts, member types, sequence element types and bounds).
bool sameType(const TypeDesc& a, const TypeDesc& b);

// The smallest number of bytes a value of `type` takes in a 4-byte-unit
// encoding (XDR) or a byte-unit one (CDR), used to refuse sequence counts
// that the bytes left cannot hold.
std::size_t minWireSize(const TypeDesc& type, bool four_byte_units);

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_TYPE_DESC_H_
