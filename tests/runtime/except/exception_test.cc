#include "runtime/except/exception.h"

#include <gtest/gtest.h>

#include <typeinfo>

namespace CORBA {
namespace {

// Round trips: copies made by raise, record and clone keep the most-derived
// type and every field, for every system exception.

template <class E>
void expectCopiesKeepType() {
  SCOPED_TRACE(typeid(E).name());
  const E original(10161, COMPLETED_MAYBE, "detail");

  std::unique_ptr<Exception> copy = original.clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(typeid(*copy), typeid(E));

  std::unique_ptr<SystemException> narrowed = original.cloneSystem();
  EXPECT_EQ(typeid(*narrowed), typeid(E));
  EXPECT_EQ(narrowed->minor(), 10161u);
  EXPECT_EQ(narrowed->completed(), COMPLETED_MAYBE);
  EXPECT_EQ(narrowed->detail(), "detail");
  EXPECT_EQ(narrowed->name(), original.name());

  Environment env;
  original.record(env);
  EXPECT_EQ(env.kind(), Environment::kSystem);
  ASSERT_NE(env.systemException(), nullptr);
  EXPECT_EQ(typeid(*env.systemException()), typeid(E));
  EXPECT_NE(env.exception(), &original);

  // Thrown as itself, so that a handler of the base catches it too.
  try {
    const SystemException& as_base = original;
    as_base.raise();
  } catch (const E& e) {
    EXPECT_EQ(typeid(e), typeid(E));
    EXPECT_EQ(e.detail(), "detail");
  } catch (...) {
    ADD_FAILURE() << "not caught as its own type";
  }
  EXPECT_THROW(original.raise(), SystemException);
  EXPECT_THROW(original.raise(), Exception);
}

TEST(ExceptionRoundTrips, EverySystemExceptionKeepsItsType) {
#define TALVO_CHECK_TYPE(NAME) expectCopiesKeepType<NAME>();
  TALVO_FOR_EACH_SYSTEM_EXCEPTION(TALVO_CHECK_TYPE)
#undef TALVO_CHECK_TYPE
}

TEST(ExceptionRoundTrips, UserExceptionRecordsAsUser) {
  UserException user("Mod::Err", "IDL:Mod/Err:1.0");
  Environment env;
  user.record(env);
  EXPECT_EQ(env.kind(), Environment::kUser);
  EXPECT_EQ(env.systemException(), nullptr);
  ASSERT_NE(env.exception(), nullptr);
  EXPECT_EQ(env.exception()->name(), "Mod::Err");
  EXPECT_EQ(env.exception()->id(), "IDL:Mod/Err:1.0");
  EXPECT_THROW(user.raise(), UserException);
}

TEST(ExceptionRoundTrips, EnvironmentCopiesAreDeep) {
  Environment env;
  BAD_PARAM(10032, COMPLETED_NO, "bank").record(env);
  Environment copy(env);
  Environment assigned;
  assigned = env;
  env.clear();
  EXPECT_EQ(env.kind(), Environment::kNone);
  EXPECT_EQ(env.exception(), nullptr);
  for (const Environment* e : {&copy, &assigned}) {
    ASSERT_NE(e->systemException(), nullptr);
    EXPECT_EQ(typeid(*e->systemException()), typeid(BAD_PARAM));
    EXPECT_EQ(e->systemException()->detail(), "bank");
  }
  EXPECT_NE(copy.exception(), assigned.exception());
  copy = copy;  // self-assignment keeps the exception
  ASSERT_NE(copy.systemException(), nullptr);
  Environment moved(std::move(copy));
  EXPECT_EQ(typeid(*moved.systemException()), typeid(BAD_PARAM));
}

// Error paths: the default environment records nothing.

TEST(ExceptionErrors, DefaultEnvironmentRecordsNothing) {
  Environment& def = Environment::defaultEnvironment();
  EXPECT_TRUE(def.isDefault());
  INTERNAL(10141).record(def);
  UserException("E").record(def);
  EXPECT_EQ(def.kind(), Environment::kNone);
  EXPECT_EQ(def.exception(), nullptr);
}

}  // namespace
}  // namespace CORBA
