#include "runtime/protocol/signature.h"

#include <algorithm>

namespace talvo::protocol {
namespace {

Status badSignature(std::string_view text) {
  return fail<CORBA::MARSHAL>(kMinorBadType,
                              "bad typecode " + std::string(text));
}

bool eat(std::string_view& text, std::string_view token) {
  if (!text.starts_with(token)) return false;
  text.remove_prefix(token.size());
  return true;
}

std::string_view takeUntil(std::string_view& text, std::string_view stops) {
  const std::size_t n = std::min(text.find_first_of(stops), text.size());
  std::string_view head = text.substr(0, n);
  text.remove_prefix(n);
  return head;
}

bool directionOf(char c, Direction& d) {
  switch (c) {
    case '+':
      d = Direction::kIn;
      return true;
    case '-':
      d = Direction::kOut;
      return true;
    case '*':
      d = Direction::kInOut;
      return true;
    default:
      return false;
  }
}

char directionChar(Direction d) {
  switch (d) {
    case Direction::kOut:
      return '-';
    case Direction::kInOut:
      return '*';
    case Direction::kIn:
      break;
  }
  return '+';
}

// Reads "{" TYPE "}" from the front of `text`.
bool readBracedType(std::string_view& text, TypeDesc& type) {
  return eat(text, "{") && parseType(text, type) == nullptr && eat(text, "}");
}

Status marshalReturned(Encoder& out, const Signature& sig,
                       std::span<const Value> args) {
  for (std::size_t i = 0; i < sig.parameters.size(); ++i) {
    const Parameter& p = sig.parameters[i];
    if (!p.returned()) continue;
    if (Status st = marshalValue(out, p.type, args[i])) return st;
  }
  return nullptr;
}

Status unmarshalReturned(Decoder& in, const Signature& sig,
                         std::vector<Value>& args) {
  for (std::size_t i = 0; i < sig.parameters.size(); ++i) {
    const Parameter& p = sig.parameters[i];
    if (!p.returned()) continue;
    if (Status st = unmarshalValue(in, p.type, args[i])) return st;
  }
  return nullptr;
}

Status argumentCount(const Signature& sig, std::size_t given) {
  return fail<CORBA::MARSHAL>(
      kMinorBadType, sig.operation + ": " + std::to_string(given) +
                         " arguments for " +
                         std::to_string(sig.parameters.size()) + " parameters");
}

}  // namespace

Status parseSignature(std::string_view text, Signature& out) {
  std::string_view t = text;
  Signature sig;
  if (!eat(t, "Ro~")) return badSignature(text);
  sig.operation = takeUntil(t, "~");
  if (sig.operation.empty() || !eat(t, "~")) return badSignature(text);
  bool first = true;
  while (!t.starts_with(",>")) {
    if (!first && !eat(t, ",")) return badSignature(text);
    first = false;
    Parameter p;
    if (t.empty() || !directionOf(t.front(), p.direction)) {
      return badSignature(text);
    }
    t.remove_prefix(1);
    p.name = takeUntil(t, "{");
    if (p.name.empty() || !readBracedType(t, p.type)) {
      return badSignature(text);
    }
    sig.parameters.push_back(std::move(p));
  }
  if (!eat(t, ",>") || !readBracedType(t, sig.result) || !eat(t, ",") ||
      t.empty()) {
    return badSignature(text);
  }
  sig.mode = t.front();
  t.remove_prefix(1);
  if (!eat(t, "{}") || !t.empty()) return badSignature(text);
  out = std::move(sig);
  return nullptr;
}

std::string formatSignature(const Signature& sig) {
  std::string s = "Ro~" + sig.operation + "~";
  for (std::size_t i = 0; i < sig.parameters.size(); ++i) {
    const Parameter& p = sig.parameters[i];
    if (i != 0) s += ",";
    s += directionChar(p.direction);
    s += p.name + "{" + formatType(p.type) + "}";
  }
  s += ",>{" + formatType(sig.result) + "},";
  s += sig.mode;
  s += "{}";
  return s;
}

Status marshalRequestArgs(Encoder& out, const Signature& sig,
                          std::span<const Value> args) {
  if (args.size() != sig.parameters.size()) {
    return argumentCount(sig, args.size());
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Parameter& p = sig.parameters[i];
    if (!p.sent()) continue;
    if (Status st = marshalValue(out, p.type, args[i])) return st;
  }
  return nullptr;
}

Status unmarshalRequestArgs(Decoder& in, const Signature& sig,
                            std::vector<Value>& args) {
  args.assign(sig.parameters.size(), Value());
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Parameter& p = sig.parameters[i];
    if (!p.sent()) continue;
    if (Status st = unmarshalValue(in, p.type, args[i])) return st;
  }
  return nullptr;
}

Status marshalReplyArgs(Encoder& out, const Signature& sig,
                        ProtocolKind protocol, std::span<const Value> args,
                        const Value& result) {
  if (args.size() != sig.parameters.size()) {
    return argumentCount(sig, args.size());
  }
  if (protocol == ProtocolKind::kTalvo) {
    if (Status st = marshalReturned(out, sig, args)) return st;
    return marshalValue(out, sig.result, result);
  }
  if (Status st = marshalValue(out, sig.result, result)) return st;
  return marshalReturned(out, sig, args);
}

Status unmarshalReplyArgs(Decoder& in, const Signature& sig,
                          ProtocolKind protocol, std::vector<Value>& args,
                          Value& result) {
  if (args.size() != sig.parameters.size()) {
    args.resize(sig.parameters.size());
  }
  if (protocol == ProtocolKind::kTalvo) {
    if (Status st = unmarshalReturned(in, sig, args)) return st;
    return unmarshalValue(in, sig.result, result);
  }
  if (Status st = unmarshalValue(in, sig.result, result)) return st;
  return unmarshalReturned(in, sig, args);
}

std::string parameterDescription(std::string_view param_text) {
  std::string_view t = param_text;
  char direction = 0;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() &&
         std::string_view("*+->").find(t.front()) != std::string_view::npos) {
    direction = t.front();
    t.remove_prefix(1);
  }
  const std::string_view name = takeUntil(t, "{ ");
  // The type is the text between the first "{" and its matching "}".
  std::string_view type;
  if (const std::size_t open = t.find('{'); open != std::string_view::npos) {
    int depth = 0;
    for (std::size_t i = open; i < t.size(); ++i) {
      if (t[i] == '{') ++depth;
      if (t[i] == '}' && --depth == 0) {
        type = t.substr(open + 1, i - open - 1);
        break;
      }
    }
    if (depth != 0) type = t.substr(open + 1);
  }
  const char* mode = direction == '+'   ? "IN"
                     : direction == '-' ? "OUT"
                                        : "INOUT";
  return "Rp~" + std::string(name) + "~type{" + std::string(type) + "}," +
         mode + "{E~{IN,OUT,INOUT}}";
}

Status dynamicSignature(std::string_view operation,
                        std::span<const NamedValue> values, bool target_known,
                        std::string& out) {
  if (operation.empty()) {
    return fail<CORBA::MARSHAL>(kMinorNoOperation);
  }
  std::string s = "Ro~" + std::string(operation);
  if (target_known) s += "~";
  for (std::size_t i = 0; i < values.size(); ++i) {
    const NamedValue& nv = values[i];
    if (i != 0) s += ",";
    s += nv.flags == 2 ? '-' : nv.flags == 3 ? '*' : '+';
    s += nv.name;
    if (nv.type) {
      s += '{';
      s += formatType(*nv.type);
      s += '}';
    }
  }
  // Result and mode come from the interface's own signature; the
  // completion keeps the text in the shape of a full signature.
  const auto tildes = std::count(s.begin() + 3, s.end(), '~');
  s += tildes < 1 ? "~" : ",";
  s += ">{x},x{}";
  out = std::move(s);
  return nullptr;
}

bool dynamicSignatureMatches(std::string_view dynamic, const Signature& sig) {
  std::string_view t = dynamic;
  if (!eat(t, "Ro~")) return false;
  if (takeUntil(t, "~+-*,") != sig.operation) return false;
  eat(t, "~");
  if (!eat(t, ",")) eat(t, "~");
  std::size_t i = 0;
  while (!t.empty() &&
         std::string_view("+-*").find(t.front()) != std::string_view::npos) {
    Direction d = Direction::kIn;
    directionOf(t.front(), d);
    t.remove_prefix(1);
    if (i >= sig.parameters.size() || sig.parameters[i].direction != d) {
      return false;
    }
    takeUntil(t, "{,~");
    if (t.starts_with("{")) {
      TypeDesc type;
      if (!readBracedType(t, type) || !sameType(type, sig.parameters[i].type)) {
        return false;
      }
    }
    ++i;
    if (!eat(t, ",") && !eat(t, "~")) break;
  }
  if (i != sig.parameters.size()) return false;
  if (!eat(t, ">{")) return false;
  if (!eat(t, "x}")) {
    TypeDesc result;
    if (parseType(t, result) != nullptr || !eat(t, "}") ||
        !sameType(result, sig.result)) {
      return false;
    }
  }
  if (!eat(t, ",") || t.empty()) return false;
  if (t.front() != 'x' && (t.front() == 'N') != !sig.oneway()) return false;
  t.remove_prefix(1);
  return eat(t, "{}") && t.empty();
}

}  // namespace talvo::protocol
