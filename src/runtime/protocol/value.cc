#include "runtime/protocol/value.h"

namespace talvo::protocol {
namespace {

Status badType(const TypeDesc& type) {
  return fail<CORBA::MARSHAL>(
      kMinorBadType,
      "bad typecode " + std::to_string(static_cast<int>(type.kind)));
}

Status badKind(const TypeDesc& type) {
  return fail<CORBA::MARSHAL>(
      kMinorBadKind,
      "bad typecode " + std::to_string(static_cast<int>(type.kind)));
}

Status boundExceeded(std::size_t n, std::uint32_t bound) {
  return fail<CORBA::MARSHAL>(kMinorBadLength,
                              "sequence of " + std::to_string(n) +
                                  " elements, bound " + std::to_string(bound));
}

template <class X>
bool holds(const Value& v) {
  return std::holds_alternative<X>(v.data);
}

}  // namespace

Value Value::ofStrings(const std::vector<std::string>& v) {
  List list;
  list.reserve(v.size());
  for (const std::string& s : v) list.push_back(ofString(s));
  return ofList(std::move(list));
}

Status marshalValue(Encoder& out, const TypeDesc& type, const Value& value) {
  const auto& d = value.data;
  switch (type.kind) {
    case TypeKind::kVoid:
      return value.isVoid() ? nullptr : badType(type);
    case TypeKind::kShort:
      if (!holds<std::int16_t>(value)) return badType(type);
      out.putShort(std::get<std::int16_t>(d));
      return nullptr;
    case TypeKind::kUShort:
      if (!holds<std::uint16_t>(value)) return badType(type);
      out.putUShort(std::get<std::uint16_t>(d));
      return nullptr;
    case TypeKind::kLong:
      if (!holds<std::int32_t>(value)) return badType(type);
      out.putLong(std::get<std::int32_t>(d));
      return nullptr;
    case TypeKind::kULong:
      if (!holds<std::uint32_t>(value)) return badType(type);
      out.putULong(std::get<std::uint32_t>(d));
      return nullptr;
    case TypeKind::kFloat:
      if (!holds<float>(value)) return badType(type);
      out.putFloat(std::get<float>(d));
      return nullptr;
    case TypeKind::kDouble:
      if (!holds<double>(value)) return badType(type);
      out.putDouble(std::get<double>(d));
      return nullptr;
    case TypeKind::kBoolean:
      if (!holds<bool>(value)) return badType(type);
      out.putBoolean(std::get<bool>(d));
      return nullptr;
    case TypeKind::kChar:
      if (!holds<char>(value)) return badType(type);
      out.putChar(std::get<char>(d));
      return nullptr;
    case TypeKind::kOctet:
      if (!holds<std::uint8_t>(value)) return badType(type);
      out.putOctet(std::get<std::uint8_t>(d));
      return nullptr;
    case TypeKind::kEnum: {
      if (!holds<std::uint32_t>(value)) return badType(type);
      const std::uint32_t e = std::get<std::uint32_t>(d);
      if (e >= type.enumerators.size()) return badType(type);
      out.putEnum(e);
      return nullptr;
    }
    case TypeKind::kObjRef:
      if (out.kind() == CodecKind::kCdr) return badKind(type);
      [[fallthrough]];
    case TypeKind::kString: {
      if (!holds<Value::Str>(value)) return badType(type);
      const Value::Str& s = std::get<Value::Str>(d);
      out.putString(s ? std::optional<std::string_view>(*s) : std::nullopt);
      return nullptr;
    }
    case TypeKind::kSequence: {
      const TypeDesc& elem = type.element();
      if (elem.kind == TypeKind::kOctet) {
        if (!holds<Value::Octets>(value)) return badType(type);
        const auto& block = std::get<Value::Octets>(d);
        if (type.bound != 0 && block.size() > type.bound) {
          return boundExceeded(block.size(), type.bound);
        }
        out.putOctets(block);
        return nullptr;
      }
      if (!holds<Value::List>(value)) return badType(type);
      const auto& list = std::get<Value::List>(d);
      if (type.bound != 0 && list.size() > type.bound) {
        return boundExceeded(list.size(), type.bound);
      }
      out.putCount(static_cast<std::uint32_t>(list.size()));
      for (const Value& v : list) {
        if (Status st = marshalValue(out, elem, v)) return st;
      }
      return nullptr;
    }
    case TypeKind::kStruct: {
      if (!holds<Value::List>(value)) return badType(type);
      const auto& list = std::get<Value::List>(d);
      if (list.size() != type.members.size()) return badType(type);
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (Status st = marshalValue(out, type.members[i].type, list[i])) {
          return st;
        }
      }
      return nullptr;
    }
    default:
      return badKind(type);
  }
}

Status unmarshalValue(Decoder& in, const TypeDesc& type, Value& value) {
  bool ok = true;
  switch (type.kind) {
    case TypeKind::kVoid:
      value = Value();
      return nullptr;
    case TypeKind::kShort: {
      std::int16_t v;
      ok = in.getShort(v);
      value = Value::ofShort(v);
      break;
    }
    case TypeKind::kUShort: {
      std::uint16_t v;
      ok = in.getUShort(v);
      value = Value::ofUShort(v);
      break;
    }
    case TypeKind::kLong: {
      std::int32_t v;
      ok = in.getLong(v);
      value = Value::ofLong(v);
      break;
    }
    case TypeKind::kULong: {
      std::uint32_t v;
      ok = in.getULong(v);
      value = Value::ofULong(v);
      break;
    }
    case TypeKind::kFloat: {
      float v;
      ok = in.getFloat(v);
      value = Value::ofFloat(v);
      break;
    }
    case TypeKind::kDouble: {
      double v;
      ok = in.getDouble(v);
      value = Value::ofDouble(v);
      break;
    }
    case TypeKind::kBoolean: {
      bool v;
      ok = in.getBoolean(v);
      value = Value::ofBool(v);
      break;
    }
    case TypeKind::kChar: {
      char v;
      ok = in.getChar(v);
      value = Value::ofChar(v);
      break;
    }
    case TypeKind::kOctet: {
      std::uint8_t v;
      ok = in.getOctet(v);
      value = Value::ofOctet(v);
      break;
    }
    case TypeKind::kEnum: {
      std::uint32_t v;
      ok = in.getEnum(v);
      if (ok && v >= type.enumerators.size()) {
        ok = in.fail(kMinorBadLength, "enum value " + std::to_string(v) +
                                          " out of range for " + type.name);
      }
      value = Value::ofEnum(v);
      break;
    }
    case TypeKind::kObjRef:
      if (in.kind() == CodecKind::kCdr) return badKind(type);
      [[fallthrough]];
    case TypeKind::kString: {
      Value::Str s;
      ok = in.getString(s);
      value = Value::ofString(std::move(s));
      break;
    }
    case TypeKind::kSequence: {
      const TypeDesc& elem = type.element();
      if (elem.kind == TypeKind::kOctet) {
        Value::Octets block;
        ok = in.getOctets(block);
        if (ok && type.bound != 0 && block.size() > type.bound) {
          return boundExceeded(block.size(), type.bound);
        }
        value = Value::ofOctets(std::move(block));
        break;
      }
      const std::size_t min_size =
          minWireSize(elem, in.kind() != CodecKind::kCdr);
      if (min_size == 0) return badKind(elem);
      std::uint32_t n;
      if (!in.getCount(n, min_size)) break;
      if (type.bound != 0 && n > type.bound)
        return boundExceeded(n, type.bound);
      if (!in.chargeBuild(n, sizeof(Value))) break;
      Value::List list(n);
      for (Value& v : list) {
        if (Status st = unmarshalValue(in, elem, v)) return st;
      }
      value = Value::ofList(std::move(list));
      return nullptr;
    }
    case TypeKind::kStruct: {
      Value::List list(type.members.size());
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (Status st = unmarshalValue(in, type.members[i].type, list[i])) {
          return st;
        }
      }
      value = Value::ofList(std::move(list));
      return nullptr;
    }
    default:
      return badKind(type);
  }
  if (!ok || in.failed()) return in.error();
  return nullptr;
}

}  // namespace talvo::protocol
