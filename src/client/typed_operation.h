// Typed operations: an operation described once, as C++ types, from which
// its signature text, its request values and its reply values all follow.
//
// An operation lists its parameters in signature order, each one of
//   In<"name", T>             an in argument of type T;
//   Out<"name", T>            an out argument of type T;
//   OutField<"name", &S::m>   an out argument kept in member m of the reply
//                             struct S (all out arguments of an operation
//                             that uses OutField go to the same struct);
// and its result type (void for none). The C++ types and their type
// descriptions: std::string "0", bool "b", std::uint8_t "o", std::int32_t
// "l", std::uint32_t "ul", std::vector<T> "S{T},0", an enum with an
// EnumDesc "E~name~a,b,c", a struct with a RecordDesc "R~name~f{T},...".
// The mode, name and type of every parameter are thus known, enough to
// write the interface out in IDL.
//
// Both ends of a call use the same description: the caller turns its
// arguments into the request's values (toValue) and reads the reply
// (Operation::readOuts); the served side reads the in values
// (Operation::readIns) and writes the reply (Operation::writeOuts). The
// out values of an operation are one "slot" each, in order: the reply
// struct first when there is one, then each Out, then the result.
//
// Reading is lenient: a value of another kind than the type (which the
// signature-driven decoder never hands over) reads as the type's default.
//
// Thread safety: types and pure functions; signature() builds its text once
// under a static initialiser.

#ifndef TALVO_CLIENT_TYPED_OPERATION_H_
#define TALVO_CLIENT_TYPED_OPERATION_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "runtime/protocol/value.h"

namespace talvo::client {

// A string literal usable as a template argument.
template <std::size_t N>
struct FixedString {
  char text[N]{};
  constexpr FixedString(const char (&s)[N]) { std::copy_n(s, N, text); }
  constexpr std::string_view view() const { return {text, N - 1}; }
};

// The descriptions of the interface's own structs and enums (specialised
// next to the operation table).
template <class T>
struct RecordDesc;
template <class T>
struct EnumDesc;

template <auto Member>
struct MemberOf;
template <class C, class M, M C::*P>
struct MemberOf<P> {
  using Class = C;
  using Type = M;
};

// One member of a record: its name on the wire and the C++ member.
template <FixedString Name, auto Member>
struct Field {
  static constexpr std::string_view name = Name.view();
  static constexpr auto member = Member;
  using Type = typename MemberOf<Member>::Type;
};

template <class T>
inline constexpr bool kIsVector = false;
template <class T>
inline constexpr bool kIsVector<std::vector<T>> = true;

// The type description of T.
template <class T>
std::string typeText() {
  if constexpr (std::is_void_v<T>) {
    return "v";
  } else if constexpr (std::is_same_v<T, std::string>) {
    return "0";
  } else if constexpr (std::is_same_v<T, bool>) {
    return "b";
  } else if constexpr (std::is_same_v<T, std::uint8_t>) {
    return "o";
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    return "l";
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    return "ul";
  } else if constexpr (kIsVector<T>) {
    return "S{" + typeText<typename T::value_type>() + "},0";
  } else if constexpr (std::is_enum_v<T>) {
    return "E~" + std::string(EnumDesc<T>::name) + "~" +
           std::string(EnumDesc<T>::enumerators);
  } else {
    std::string out = "R~" + std::string(RecordDesc<T>::name) + "~";
    std::apply(
        [&out](auto... field) {
          ((out += std::string(decltype(field)::name) + "{" +
                   typeText<typename decltype(field)::Type>() + "},"),
           ...);
        },
        typename RecordDesc<T>::Fields{});
    out.pop_back();  // the last ","
    return out;
  }
}

// The value of `v` as it travels.
template <class T>
protocol::Value toValue(const T& v) {
  using protocol::Value;
  if constexpr (std::is_same_v<T, std::string> ||
                std::is_same_v<T, std::string_view>) {
    return Value::ofString(std::string(v));
  } else if constexpr (std::is_enum_v<T>) {
    return Value::ofEnum(static_cast<std::uint32_t>(v));
  } else if constexpr (std::is_arithmetic_v<T>) {
    Value out;
    out.data = v;
    return out;
  } else if constexpr (kIsVector<T>) {
    Value::List list;
    list.reserve(v.size());
    for (const auto& item : v) list.push_back(toValue(item));
    return Value::ofList(std::move(list));
  } else {
    Value::List list;
    std::apply(
        [&](auto... field) {
          (list.push_back(toValue(v.*decltype(field)::member)), ...);
        },
        typename RecordDesc<T>::Fields{});
    return Value::ofList(std::move(list));
  }
}

// Reads `out` from `v` (the default of T for a value of another kind).
template <class T>
void fromValue(const protocol::Value& v, T& out) {
  using protocol::Value;
  out = T{};
  if constexpr (std::is_same_v<T, std::string>) {
    if (const auto* s = std::get_if<Value::Str>(&v.data)) out = s->value_or("");
  } else if constexpr (std::is_enum_v<T>) {
    if (const auto* n = std::get_if<std::uint32_t>(&v.data)) {
      out = static_cast<T>(*n);
    }
  } else if constexpr (std::is_arithmetic_v<T>) {
    if (const auto* n = std::get_if<T>(&v.data)) out = *n;
  } else {
    const auto* list = std::get_if<Value::List>(&v.data);
    if (list == nullptr) return;
    if constexpr (kIsVector<T>) {
      out.resize(list->size());
      for (std::size_t i = 0; i < list->size(); ++i) {
        fromValue((*list)[i], out[i]);
      }
    } else {
      using Fields = typename RecordDesc<T>::Fields;
      if (list->size() != std::tuple_size_v<Fields>) return;
      [&]<std::size_t... I>(std::index_sequence<I...>) {
        (fromValue((*list)[I], out.*std::tuple_element_t<I, Fields>::member),
         ...);
      }
      (std::make_index_sequence<std::tuple_size_v<Fields>>{});
    }
  }
}

enum class Mode { kIn, kOut, kField };

template <FixedString Name, class T>
struct In {
  static constexpr Mode mode = Mode::kIn;
  static constexpr std::string_view name = Name.view();
  using Type = T;
  using Holder = void;
};

template <FixedString Name, class T>
struct Out {
  static constexpr Mode mode = Mode::kOut;
  static constexpr std::string_view name = Name.view();
  using Type = T;
  using Holder = void;
};

template <FixedString Name, auto Member>
struct OutField {
  static constexpr Mode mode = Mode::kField;
  static constexpr std::string_view name = Name.view();
  static constexpr auto member = Member;
  using Type = typename MemberOf<Member>::Type;
  using Holder = typename MemberOf<Member>::Class;
};

namespace detail {

template <class... T>
struct FirstNonVoid {
  using type = void;
};
template <class T, class... R>
struct FirstNonVoid<T, R...> {
  using type = std::conditional_t<std::is_void_v<T>,
                                  typename FirstNonVoid<R...>::type, T>;
};

template <bool Keep, class T>
using KeepIf = std::conditional_t<Keep, std::tuple<T>, std::tuple<>>;

template <class... T>
using Cat = decltype(std::tuple_cat(std::declval<T>()...));

template <class T>
struct Pointers;
template <class... T>
struct Pointers<std::tuple<T...>> {
  using type = std::tuple<T*...>;
};

inline const protocol::Value& valueAt(const std::vector<protocol::Value>& v,
                                      std::size_t i) {
  static const protocol::Value kVoid;
  return i < v.size() ? v[i] : kVoid;
}

}  // namespace detail

// One operation: `Id` its entry in the table, `Name` its exact name,
// `Checked` whether protected mode checks the caller first, `R` the result
// type and `P` the parameters in signature order.
template <auto Id, FixedString Name, bool Checked, class R, class... P>
struct Operation {
  static constexpr auto id = Id;
  static constexpr std::string_view name = Name.view();
  static constexpr bool access_check = Checked;
  static constexpr std::size_t kParams = sizeof...(P);
  using Result = R;
  // The reply struct of OutField parameters (void when none).
  using Holder = typename detail::FirstNonVoid<typename P::Holder...>::type;
  static_assert(std::is_void_v<Holder> || ((P::mode != Mode::kOut) && ...),
                "an operation's outs are all fields or all separate");

  // The in values, in parameter order.
  using Ins =
      detail::Cat<detail::KeepIf<P::mode == Mode::kIn, typename P::Type>...>;
  // The out slots: the reply struct, each Out, the result.
  using Outs =
      detail::Cat<detail::KeepIf<!std::is_void_v<Holder>, Holder>,
                  detail::KeepIf<P::mode == Mode::kOut, typename P::Type>...,
                  detail::KeepIf<!std::is_void_v<R>, R>>;
  using OutPointers = typename detail::Pointers<Outs>::type;

  // "Ro~name~+a{T},-b{T},>{R},N{}"
  static const std::string& signature() {
    static const std::string text = [] {
      std::string out = "Ro~" + std::string(name) + "~";
      ((out += std::string(P::mode == Mode::kIn ? "+" : "-") +
               std::string(P::name) + "{" + typeText<typename P::Type>() +
               "},"),
       ...);
      return out + ">{" + typeText<R>() + "},N{}";
    }();
    return text;
  }

  // The in values of a request's arguments (one value per parameter).
  static Ins readIns(const std::vector<protocol::Value>& args) {
    Ins ins;
    forEach([&]<std::size_t I, class Param>() {
      if constexpr (Param::mode == Mode::kIn) {
        fromValue(detail::valueAt(args, I), std::get<slotOf(I)>(ins));
      }
    });
    return ins;
  }

  // Stores the out values in the reply's arguments and result.
  static void writeOuts(const OutPointers& outs,
                        std::vector<protocol::Value>& args,
                        protocol::Value& result) {
    args.resize(kParams);
    forEach([&]<std::size_t I, class Param>() {
      if constexpr (Param::mode == Mode::kField) {
        args[I] = toValue(std::get<0>(outs)->*Param::member);
      } else if constexpr (Param::mode == Mode::kOut) {
        args[I] = toValue(*std::get<slotOf(I)>(outs));
      }
    });
    if constexpr (!std::is_void_v<R>) {
      result = toValue(*std::get<kResultSlot>(outs));
    }
  }

  // Reads the out values from a reply's arguments and result.
  static void readOuts(const std::vector<protocol::Value>& args,
                       const protocol::Value& result, const OutPointers& outs) {
    forEach([&]<std::size_t I, class Param>() {
      if constexpr (Param::mode == Mode::kField) {
        fromValue(detail::valueAt(args, I), std::get<0>(outs)->*Param::member);
      } else if constexpr (Param::mode == Mode::kOut) {
        fromValue(detail::valueAt(args, I), *std::get<slotOf(I)>(outs));
      }
    });
    if constexpr (!std::is_void_v<R>) {
      fromValue(result, *std::get<kResultSlot>(outs));
    }
  }

 private:
  static constexpr std::array<Mode, kParams> kModes{P::mode...};
  static constexpr std::size_t kResultSlot = std::tuple_size_v<Outs> - 1;

  // Where parameter `i` is kept: its place among the in values, or among
  // the out slots.
  static constexpr std::size_t slotOf(std::size_t i) {
    if (kModes[i] == Mode::kField) return 0;
    std::size_t slot = kModes[i] == Mode::kOut && !std::is_void_v<Holder>;
    for (std::size_t j = 0; j < i; ++j) slot += kModes[j] == kModes[i];
    return slot;
  }

  template <class F>
  static void forEach(F&& f) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (f.template operator()<I, P>(), ...);
    }
    (std::index_sequence_for<P...>{});
  }
};

}  // namespace talvo::client

#endif  // TALVO_CLIENT_TYPED_OPERATION_H_
