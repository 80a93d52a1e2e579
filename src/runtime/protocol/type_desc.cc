#include "runtime/protocol/type_desc.h"

#include <array>
#include <charconv>

namespace talvo::protocol {
namespace {

constexpr std::array<std::string_view, 23> kLetters = {
    "n", "v", "s", "l", "us", "ul", "f", "d", "b", "c", "o", "a",
    "T", "P", "O", "R", "U",  "E",  "0", "S", "A", "L", "X"};

// Nesting deeper than this is refused, so a hostile text cannot exhaust the
// stack of the recursive reader.
constexpr int kMaxDepth = 32;

class TypeReader {
 public:
  explicit TypeReader(std::string_view text) : text_(text), all_(text) {}

  bool readType(TypeDesc& out, int depth);
  std::string_view rest() const { return text_; }
  Status error() const {
    return fail<CORBA::MARSHAL>(kMinorBadType,
                                "bad typecode " + std::string(all_));
  }

 private:
  bool eat(std::string_view token) {
    if (!text_.starts_with(token)) return false;
    text_.remove_prefix(token.size());
    return true;
  }
  // A name: one or more characters other than the delimiters `stops`.
  bool readName(std::string& out, std::string_view stops) {
    const std::size_t n = text_.find_first_of(stops);
    const std::size_t len = n == std::string_view::npos ? text_.size() : n;
    if (len == 0) return false;
    out.assign(text_.substr(0, len));
    text_.remove_prefix(len);
    return true;
  }
  bool readBound(std::uint32_t& out) {
    const char* first = text_.data();
    const char* last = first + text_.size();
    auto [p, ec] = std::from_chars(first, last, out);
    if (ec != std::errc() || p == first) return false;
    text_.remove_prefix(static_cast<std::size_t>(p - first));
    return true;
  }

  std::string_view text_;
  std::string_view all_;
};

bool TypeReader::readType(TypeDesc& out, int depth) {
  if (depth > kMaxDepth) return false;
  out = TypeDesc();
  if (eat("S{")) {
    out.kind = TypeKind::kSequence;
    out.members.emplace_back();
    return readType(out.members[0].type, depth + 1) && eat("},") &&
           readBound(out.bound);
  }
  if (eat("R~")) {
    out.kind = TypeKind::kStruct;
    if (!readName(out.name, "~{},") || !eat("~")) return false;
    do {
      TypeMember m;
      if (!readName(m.name, "~{},") || !eat("{") ||
          !readType(m.type, depth + 1) || !eat("}")) {
        return false;
      }
      out.members.push_back(std::move(m));
    } while (eat(","));
    return true;
  }
  if (eat("E~")) {
    out.kind = TypeKind::kEnum;
    if (!readName(out.name, "~{},") || !eat("~")) return false;
    do {
      std::string e;
      if (!readName(e, "~{},")) return false;
      out.enumerators.push_back(std::move(e));
    } while (eat(","));
    return true;
  }
  if (eat("O~")) {
    out.kind = TypeKind::kObjRef;
    return readName(out.name, "~{},");
  }
  // Basic letters; the two-letter ones first.
  for (TypeKind k : {TypeKind::kUShort, TypeKind::kULong}) {
    if (eat(kLetters[static_cast<int>(k)])) {
      out.kind = k;
      return true;
    }
  }
  for (TypeKind k :
       {TypeKind::kNull, TypeKind::kVoid, TypeKind::kShort, TypeKind::kLong,
        TypeKind::kFloat, TypeKind::kDouble, TypeKind::kBoolean,
        TypeKind::kChar, TypeKind::kOctet, TypeKind::kAny, TypeKind::kTypeCode,
        TypeKind::kPrincipal, TypeKind::kString}) {
    if (eat(kLetters[static_cast<int>(k)])) {
      out.kind = k;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string_view typeLetter(int kind) {
  if (kind < 0 || kind >= static_cast<int>(kLetters.size())) return "";
  return kLetters[static_cast<std::size_t>(kind)];
}

std::optional<TypeKind> kindOfLetter(std::string_view letter) {
  for (std::size_t i = 0; i < kLetters.size(); ++i) {
    if (kLetters[i] == letter) return static_cast<TypeKind>(i);
  }
  return std::nullopt;
}

TypeDesc TypeDesc::sequenceOf(TypeDesc element, std::uint32_t bound) {
  TypeDesc t;
  t.kind = TypeKind::kSequence;
  t.bound = bound;
  t.members.push_back(TypeMember{"", std::move(element)});
  return t;
}

const TypeDesc& TypeDesc::element() const { return members.at(0).type; }

Status parseType(std::string_view& text, TypeDesc& out) {
  TypeReader reader(text);
  if (!reader.readType(out, 0)) return reader.error();
  text = reader.rest();
  return nullptr;
}

Status parseTypeText(std::string_view text, TypeDesc& out) {
  std::string_view rest = text;
  Status st = parseType(rest, out);
  if (st == nullptr && !rest.empty()) {
    st = fail<CORBA::MARSHAL>(kMinorBadType,
                              "bad typecode " + std::string(text));
  }
  return st;
}

std::string formatType(const TypeDesc& type) {
  switch (type.kind) {
    case TypeKind::kSequence:
      return "S{" + formatType(type.element()) + "}," +
             std::to_string(type.bound);
    case TypeKind::kStruct: {
      std::string s = "R~" + type.name + "~";
      for (std::size_t i = 0; i < type.members.size(); ++i) {
        if (i != 0) s += ",";
        s +=
            type.members[i].name + "{" + formatType(type.members[i].type) + "}";
      }
      return s;
    }
    case TypeKind::kEnum: {
      std::string s = "E~" + type.name + "~";
      for (std::size_t i = 0; i < type.enumerators.size(); ++i) {
        if (i != 0) s += ",";
        s += type.enumerators[i];
      }
      return s;
    }
    case TypeKind::kObjRef:
      return "O~" + type.name;
    default:
      return std::string(typeLetter(static_cast<int>(type.kind)));
  }
}

bool sameType(const TypeDesc& a, const TypeDesc& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case TypeKind::kSequence:
      return a.bound == b.bound && sameType(a.element(), b.element());
    case TypeKind::kStruct:
      if (a.members.size() != b.members.size()) return false;
      for (std::size_t i = 0; i < a.members.size(); ++i) {
        if (!sameType(a.members[i].type, b.members[i].type)) return false;
      }
      return true;
    case TypeKind::kEnum:
      return a.enumerators.size() == b.enumerators.size();
    default:
      return true;
  }
}

std::size_t minWireSize(const TypeDesc& type, bool four_byte_units) {
  switch (type.kind) {
    case TypeKind::kShort:
    case TypeKind::kUShort:
      return four_byte_units ? 4 : 2;
    case TypeKind::kBoolean:
    case TypeKind::kChar:
    case TypeKind::kOctet:
      return four_byte_units ? 4 : 1;
    case TypeKind::kDouble:
      return 8;
    case TypeKind::kLong:
    case TypeKind::kULong:
    case TypeKind::kFloat:
    case TypeKind::kEnum:
    case TypeKind::kString:
    case TypeKind::kSequence:
    case TypeKind::kObjRef:
      return 4;
    case TypeKind::kStruct: {
      std::size_t sum = 0;
      for (const TypeMember& m : type.members) {
        sum += minWireSize(m.type, four_byte_units);
      }
      return sum;
    }
    default:
      return 0;
  }
}

}  // namespace talvo::protocol
