// The result readers (every record class against every failure column), the
// error decoding, string arrays and lists; metadata between host maps and
// CPluginMetaData arrays, the folder sub-list and its release.  Outputs start
// from recognisable values (ordinal 99, text "old", numbers 7, lists ["old"],
// maps {old=o}) so that "unchanged", "reset" and "read" differ.
#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "bridge/JniHelpers.h"
#include "bridge/MetaData.h"
#include "bridge/ResultReaders.h"
#include "tests/support/Script.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

// Makes chosen JNI calls of this thread fail as the VM fails them: null (or
// 0) with a Java exception pending.  The JNIEnv keeps its address (HotSpot
// finds the thread from it); its function table is swapped for a copy whose
// hooks pass on to the original (checked) functions but for the failing call.
class ScopedJniFault {
 public:
  enum Call { kFindClass, kGetFieldID, kGetMethodID, kGetField, kStringChars, kCallInt };

  // Fails the `nth` call (1-based; 0: every one) of FindClass, GetFieldID or
  // GetMethodID with `name` (empty: any name); of Get<Object|Long|Boolean|
  // Int>Field reading the field `name`; of GetStringChars; of CallIntMethod.
  // Kept lookups are dropped first, or the failing call would never be made.
  ScopedJniFault(JNIEnv* env, Call call, std::string name = "", int nth = 0) : env_(env) {
    jni::ForgetKeptLookups(env);
    s = State{env->functions, *env->functions, call, std::move(name), nullptr, nth, 0, 0};
    JNINativeInterface_& t = s.table;
    t.FindClass = [](JNIEnv* e, const char* n) { return Fail(e, kFindClass, n) ? nullptr : s.real->FindClass(e, n); };
    t.GetFieldID = [](JNIEnv* e, jclass c, const char* n, const char* sig) {
      if (Fail(e, kGetFieldID, n)) return jfieldID{};
      const jfieldID id = s.real->GetFieldID(e, c, n, sig);
      if (s.call == kGetField && s.name == n) s.field = id;  // the field to fail reading
      return id;
    };
    t.GetMethodID = [](JNIEnv* e, jclass c, const char* n, const char* sig) {
      return Fail(e, kGetMethodID, n) ? nullptr : s.real->GetMethodID(e, c, n, sig);
    };
    t.GetObjectField = [](JNIEnv* e, jobject o, jfieldID f) {
      return Fail(e, f) ? nullptr : s.real->GetObjectField(e, o, f);
    };
    t.GetLongField = [](JNIEnv* e, jobject o, jfieldID f) { return Fail(e, f) ? 0 : s.real->GetLongField(e, o, f); };
    t.GetBooleanField = [](JNIEnv* e, jobject o, jfieldID f) {
      return Fail(e, f) ? jboolean{JNI_FALSE} : s.real->GetBooleanField(e, o, f);
    };
    t.GetIntField = [](JNIEnv* e, jobject o, jfieldID f) { return Fail(e, f) ? 0 : s.real->GetIntField(e, o, f); };
    t.GetStringChars = [](JNIEnv* e, jstring text, jboolean* copy) {
      return Fail(e, kStringChars, "") ? nullptr : s.real->GetStringChars(e, text, copy);
    };
    t.CallIntMethodV = [](JNIEnv* e, jobject o, jmethodID m, va_list args) {
      return Fail(e, kCallInt, "") ? 0 : s.real->CallIntMethodV(e, o, m, args);
    };
    env->functions = &t;
  }
  ~ScopedJniFault() { env_->functions = s.real; }
  ScopedJniFault(const ScopedJniFault&) = delete;
  ScopedJniFault& operator=(const ScopedJniFault&) = delete;

  int failures() const { return s.failures; }

 private:
  // Whether this call is to fail; if so, throws the injected exception.
  static bool Fail(JNIEnv* env, Call call, const char* name) {
    if (call != s.call || (!s.name.empty() && s.name != name)) return false;
    if (++s.seen != s.nth && s.nth != 0) return false;
    ++s.failures;
    ScopedLocalRef<jclass> error(env, s.real->FindClass(env, "java/lang/IllegalStateException"));
    s.real->ThrowNew(env, error.get(), "injected JNI failure");
    return true;
  }
  static bool Fail(JNIEnv* env, jfieldID field) { return field == s.field && Fail(env, kGetField, s.name.c_str()); }

  struct State {
    const JNINativeInterface_* real;
    JNINativeInterface_ table;
    Call call;
    std::string name;
    jfieldID field;
    int nth, seen, failures;
  };
  static inline State s;
  JNIEnv* env_;
};
using Call = ScopedJniFault::Call;

// Runs `run` with the fault `call` (if any) in place; what it printed.
std::string Printed(JNIEnv* env, std::optional<Call> call, const std::string& name, int nth,
                    const std::function<void()>& run, int* failures = nullptr) {
  testing::internal::CaptureStdout();
  {
    std::optional<ScopedJniFault> fault;
    if (call) fault.emplace(env, *call, name, nth);
    run();
    if (fault && failures) *failures = fault->failures();
  }
  return testing::internal::GetCapturedStdout();
}

// What ClearExceptionWithConsoleNote prints for each exception it clears.
const std::string kDescribed = "\nException in finding the WebServiceClient class\n";

// A local frame of `capacity` references for the scope.  -Xcheck:jni warns
// (and so fails the run) when more references are alive in it, which makes
// a reader that keeps references per element or per call show up.
struct LocalFrame {
  LocalFrame(JNIEnv* env, jint capacity) : env(env) { EXPECT_EQ(env->PushLocalFrame(capacity), 0); }
  ~LocalFrame() { env->PopLocalFrame(nullptr); }
  JNIEnv* env;
};

// Reads a result into seeded outputs; answers "ordinal|outputs".
using Reader = std::function<std::string(JNIEnv*, jobject)>;

template <typename T, typename ShowOutput>
Reader Seeded(void (*read)(JNIEnv*, jobject, int32_t*, T*), T seed, ShowOutput show) {
  return [=](JNIEnv* env, jobject result) {
    int32_t ordinal = 99;
    T value = seed;
    read(env, result, &ordinal, &value);
    return std::to_string(ordinal) + "|" + show(value);
  };
}
template <typename T> Reader Number(void (*read)(JNIEnv*, jobject, int32_t*, T*)) {
  return Seeded<T>(read, 7, [](T n) { return std::to_string(n); });
}
Reader Text(void (*read)(JNIEnv*, jobject, int32_t*, WString*)) { return Seeded(read, WString(u"old"), U8); }
const auto kShow = [](const auto& value) { return Show(value); };  // for whichever host type is read
Reader List(void (*read)(JNIEnv*, jobject, int32_t*, WStringList*)) { return Seeded(read, WStringList{u"old"}, kShow); }
const MetaDataMap kSeedMap{{u"old", PluginValueRecord{u"o", 0}}};

std::string ReadObjectByName(JNIEnv* env, jobject result) {
  int32_t ordinal = 99;
  MetaDataMap map = kSeedMap;
  uint64_t bytesRead = 7;
  ReadRObjectByNameFnValue(env, result, &ordinal, &map, &bytesRead);
  return std::to_string(ordinal) + "|" + Show(map) + ";" + std::to_string(bytesRead);
}

// Every reading hands out a list of its own, freed once shown (a list handed
// out twice would be freed twice, which AddressSanitizer reports).
std::string ShowAndFree(ObjectSubList* list) {
  const std::string shown = list ? Show(*list) : "untouched";
  FreeObjectSubList(list, nullptr);
  return shown;
}

struct Case {
  const char* javaClass;
  std::string fields;  // besides errorValue, "a\nb"
  Reader read;
  const char* field;  // whose identifier goes missing, and whose reading throws
  int failingCopy;    // unless this string copy throws instead
  // "ordinal|outputs" per column, space-separated: ok, null result,
  // identifier missing, null errorValue, exception while reading, another class.
  std::string expected;
};

const std::vector<Case>& Cases() {
  const AccountInfoRecord info{7, u"old", u"old", u"old", u"old", 7, 7};
  static const std::vector<Case> cases = {
      // The handle is h, U+1F600 (a surrogate pair), a zero unit and t, in
      // modified UTF-8: the host's text stops at the zero.
      {"CCreateFnValue", "objHandle=s:h\xED\xA0\xBD\xED\xB8\x80\xC0\x80t", Text(&ReadCreateFnValue), "objHandle", 0,
       "5|h\U0001F600 0| 0| 40|h\U0001F600 40| 40|"},
      {"CWObjectHandleFnValue", "objHandle=s:h1", Text(&ReadWObjectHandleFnValue), "objHandle", 0,
       "5|h1 0| 40| 40|h1 40| 40|"},
      {"CGetObjectMetaData", "value=s:v1", Text(&ReadGetObjectMetaData), "value", 0, "5|v1 0| 40| 40|v1 40| 40|"},
      {"CUniqueAccountValue", "accountName=s:acct", Text(&ReadUniqueAccountValue), "accountName", 0,
       "5|acct 0| 40| 40|acct 40| 40|"},
      {"CString", "value=s:key", Text(&ReadCString), "value", 0, "5|key 0|old 0|old 40|key 5|old 0|old"},
      {"CIsObjectExistFnValue", "isExist=z:true", Number(&ReadIsObjectExistFnValue), "isExist", 0,
       "5|1 0|7 40|7 40|1 40|7 40|7"},
      {"CGetAccountSizeValue", "size=j:18446744073709551615", Number(&ReadGetAccountSizeValue), "size", 0,
       "5|18446744073709551615 0|0 40|0 40|18446744073709551615 40|0 40|0"},
      {"CReadObjectFnValue", "sizeRead=j:4096", Number(&ReadReadObjectFnValue), "sizeRead", 0,
       "5|4096 99|7 40|7 40|4096 40|7 40|7"},
      {"CInt", "value=i:-3", Number(&ReadCInt), "value", 0, "5|-3 0|7 0|7 0|-3 5|7 0|7"},
      {"KQListRegions", "regionsList=sa:east|<null>|west", List(&ReadListRegions), "regionsList", 2,
       "5|old,east,west 0|old 0|old 40|old,east,west 5|old,east 0|old"},
      {"CArrayOfString", "arrayOfString=sa:m1|<null>|m2", List(&ReadArrayOfString), "arrayOfString", 2,
       "5|old,m1,m2 0|old 0|old 40|old,m1,m2 5|old,m1 0|old"},
      {"KQListContainers", "containers=ct:c1|<null>|<nullname>|c2", List(&ReadListContainers), "containers", 2,
       "5|old,c1,c2 0|old 5|old 0|old 40|old,c1 40|old"},
      {"CGetAccountInfoFnValue",
       "accountIndentity=s:id\naccountType=s:type\ndisplayName=null\nemailAddress=s:mail\nusedSizeInByteTotal=j:1\n"
       "remainedSizeInByteTotal=j:2",
       Seeded(&ReadGetAccountInfoFnValue, info, kShow), "accountType", 0,
       "5|7,id,type,old,mail,1,2 99|7,old,old,old,old,7,7 99|7,old,old,old,old,7,7 40|7,id,type,old,mail,1,2 "
       "5|7,id,old,old,old,7,7 99|7,old,old,old,old,7,7"},
      {"CGObjectMetaDataFnValue", "values=md:b=2|a=1|old=new", Seeded(&ReadGObjectMetaDataFnValue, kSeedMap, kShow),
       "values", 0, "5|a=1,b=2,old=o 99|old=o 40|old=o 40|a=1,b=2,old=o 40|old=o 40|old=o"},
      {"CRObjectByNameFnValue", "values=md:b=2|a=1|old=new\nbytesRead=j:10", &ReadObjectByName, "values", 0,
       "5|a=1,b=2,old=o;10 99|old=o;7 40|old=o;7 40|a=1,b=2,old=o;10 40|old=o;10 40|old=o;7"},
      {"CRetGetSubMetaDataList", "metaDat=sub:f2{k=v}|f1{a=1;b=2}",
       Seeded(&ReadRetGetSubMetaDataList, static_cast<ObjectSubList*>(nullptr), ShowAndFree), "metaDat", 0,
       "5|f1{a=1,b=2};f2{k=v} 99|untouched 40| 99|f1{a=1,b=2};f2{k=v} 40| 40|"},
  };
  return cases;
}

// Each reading is repeated fifty times in a frame of sixteen references (and
// the thirty-two -Xcheck:jni tolerates beyond): a reader that keeps one per
// reading or per element, on any path, overflows it and -Xcheck:jni says so.
TEST(Records, EveryClassInEveryFailureColumn) {
  JNIEnv* env = CurrentEnv();
  for (const Case& c : Cases()) {
    std::vector<std::string> fields = Split(c.fields), expected = Split(c.expected, ' ');
    ASSERT_EQ(expected.size(), 6u) << c.javaClass;
    fields.push_back("errorValue=ord:5");
    const ScopedLocalRef<jobject> full(env, Script::Build(c.javaClass, fields));
    fields.back() = "errorValue=null";
    const ScopedLocalRef<jobject> noError(env, Script::Build(c.javaClass, fields));
    const ScopedLocalRef<jobject> other(env, Script::Build("KQAzureContainer", {"containerName=s:x"}));
    const std::tuple<const char*, jobject, std::optional<Call>> columns[] = {
        {"ok", full.get(), {}},
        {"null result", nullptr, {}},
        {"field identifier missing", full.get(), Call::kGetFieldID},
        {"null errorValue", noError.get(), {}},
        {"exception while reading", full.get(), c.failingCopy ? Call::kStringChars : Call::kGetField},
        {"another class", other.get(), {}},
    };
    for (size_t column = 0; column < 6; ++column) {
      const auto& [name, result, call] = columns[column];
      SCOPED_TRACE(std::string(c.javaClass) + ": " + name);
      std::string outcome, printed;
      int failures = 1;
      LocalFrame frame(env, 16);
      const bool copy = call == Call::kStringChars;
      for (int i = 0; i < 50; ++i) {
        printed = Printed(
            env, call, copy ? "" : c.field, copy ? c.failingCopy : 0, [&] { outcome = c.read(env, result); },
            &failures);
      }
      EXPECT_EQ(outcome, expected[column]);
      EXPECT_EQ(printed, call ? kDescribed : "");
      EXPECT_EQ(failures, 1);
      EXPECT_FALSE(env->ExceptionCheck()) << "a Java exception was left pending";
    }
  }
}

TEST(Records, ReadErrorOrdinalOrdinalsAndDiagnostics) {
  JNIEnv* env = CurrentEnv();
  const std::string cantFindClass = "Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n";
  const std::string cantGetMethod = "Can't GetMethod(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n";
  // The error value, the call made to fail, the ordinal, what is printed.
  const std::tuple<const char*, std::optional<Call>, const char*, int32_t, std::string> cases[] = {
      {"ord:100", {}, "", 100, ""},  // raw: mapping is the caller's
      {"ord:-1", {}, "", -1, ""},
      {"noid:9", {}, "", 9, ""},  // the identifier is not asked for
      {"null", {}, "", 40, ""},
      {"s:not an error", {}, "", 40, cantFindClass},  // another class
      {"ord:7", Call::kFindClass, "com/kq/KQCloudPluginInterface/CErrorValue", 40, kDescribed + cantFindClass},
      {"ord:7", Call::kGetMethodID, "getErrorID", 40, kDescribed + cantGetMethod},
      {"ord:7", Call::kGetMethodID, "getOrdinalValue", 40, kDescribed + cantGetMethod},
      {"ord:7", Call::kCallInt, "", 40, kDescribed + cantFindClass},
      {"null", Call::kGetMethodID, "getOrdinalValue", 40, kDescribed + cantGetMethod},
  };
  for (const auto& [value, call, name, expected, printed] : cases) {
    SCOPED_TRACE(std::string(value) + " / " + name);
    const ScopedLocalRef<jobject> errorValue(env, Script::Parse(value));
    int32_t ordinal = 99;
    EXPECT_EQ(Printed(env, call, name, 0, [&] { ReadErrorOrdinal(env, errorValue.get(), &ordinal); }), printed);
    EXPECT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(ordinal, expected);
  }
}

// One Java string per host string, up to its first zero; nothing for a count
// below one or no strings; ten thousand in a frame of sixteen.
TEST(Records, NewStringArray) {
  JNIEnv* env = CurrentEnv();
  std::vector<WString> strings{u"a", u"", WString(u"x\0y", 3), u"\U0001F600"};
  ScopedLocalRef<jobjectArray> array(env, NewStringArray(env, 4, strings.data()));
  EXPECT_EQ(Script::Describe(array.get()), "[\"a\", \"\", \"x\", \"\U0001F600\"]");
  EXPECT_EQ(NewStringArray(env, 0, strings.data()), nullptr);
  EXPECT_EQ(NewStringArray(env, -1, strings.data()), nullptr);
  EXPECT_EQ(NewStringArray(env, 2, nullptr), nullptr);
  strings.resize(10000, u"n");
  LocalFrame frame(env, 16);
  ScopedLocalRef<jobjectArray> big(env, NewStringArray(env, 10000, strings.data()));
  EXPECT_EQ(env->GetArrayLength(big.get()), 10000);
}

// The list readers append in order, skipping null elements and keeping empty
// texts; the sub-list keeps the first of equal file names and skips files
// without name or metadata, names without value texts give empty ones (the
// local references a reading keeps are the failure columns' test).  No array
// reads as an empty one.
TEST(Records, ListsSkipWhatTheyCannotRead) {
  JNIEnv* env = CurrentEnv();
  using Rows = std::vector<std::pair<std::string, std::string>>;
  const Rows lists = {{"", "0|old"}, {"<null>|<null>", "0|old"}, {"b|<empty>|a|b", "0|old,b,,a,b"}, {"null", "0|old"}};
  const Rows subLists = {{"b{x=1}|<null>|<nullname>{y=2}|c<nometa>|a{}|b{x=2}", "0|a{};b{x=1}"},
                         {"f{k=1;k=2;<nullname>=3;j=<noval>}", "0|f{j=,k=1}"},
                         {"", "0|"},
                         {"null", "0|"}};
  size_t read = 0;
  for (const Case& c : Cases()) {
    const size_t is = c.fields.find('=');
    const std::string field = c.fields.substr(0, is + 1), form = c.fields.substr(is + 1, c.fields.find(':') - is);
    if (form != "sa:" && form != "ct:" && form != "sub:") continue;
    for (const auto& [value, outcome] : form == "sub:" ? subLists : lists) {
      const ScopedLocalRef<jobject> result(
          env, Script::Build(c.javaClass, {"errorValue=ord:0", field + (value == "null" ? "" : form) + value}));
      EXPECT_EQ(c.read(env, result.get()), outcome) << c.javaClass << ": " << value;
      ++read;
    }
  }
  EXPECT_EQ(read, 16u);
}

// A host map written as Show writes it: "k=v,k2=v2".
MetaDataMap Map(const std::string& shown) {
  MetaDataMap map;
  for (const std::string& e : Split(shown, ',')) map[W(e.substr(0, e.find('=')))] = {W(e.substr(e.find('=') + 1)), 0};
  return map;
}

// Keys go to Java in the host map's order: UTF-16 code units compared as
// unsigned numbers, a prefix before what it starts.  An empty map gives an
// empty array, no map none.
TEST(MetaData, ArrayFollowsCodeUnitOrder) {
  JNIEnv* env = CurrentEnv();
  const MetaDataMap map = Map("b=1,a=2,ab=3,=4,\uFFFF=5,\U0001F600=6,\u00E9=7,B=8");
  EXPECT_EQ(Script::Describe(BuildMetaDataArray(env, &map).get()),
            "{=4, B=8, a=2, ab=3, b=1, \u00E9=7, \U0001F600=6, \uFFFF=5}");
  const MetaDataMap empty;
  EXPECT_EQ(Script::Describe(BuildMetaDataArray(env, &empty).get()), "{}");
  EXPECT_EQ(BuildMetaDataArray(env, nullptr).get(), nullptr);
  EXPECT_FALSE(env->ExceptionCheck());
}

// Reading inserts: the first of equal names wins, the host's entries stay,
// null elements and names are skipped, null values give empty texts; a
// failure half-way keeps what was read before it.
TEST(MetaData, ReadingIntoAHostMap) {
  JNIEnv* env = CurrentEnv();
  // The array, the host's map, the outcome, the string copy that fails (each
  // element copies its value text, then its name).
  const std::tuple<const char*, MetaDataMap, const char*, int> cases[] = {
      {"md:a=first|b=2|a=second", {}, "a=first,b=2", 0},
      {"md:a=java|c=3", Map("a=host"), "a=host,c=3", 0},
      {"md:z=1|y=2|\u00E9=3", {}, "y=2,z=1,\u00E9=3", 0},
      {"md:<null>|<nullname>=x|a=<null>|b=<noval>|c=<empty>|<empty>=e", {}, "=e,a=,b=,c=", 0},
      {"md:", {}, "", 0},
      {"null", Map("k=v"), "k=v", 0},
      {"md:a=1|b=2|c=3", {}, "a=1", 3},
  };
  for (const auto& [value, host, outcome, failingCopy] : cases) {
    SCOPED_TRACE(value);
    const ScopedLocalRef<jobject> array(env, Script::Parse(value));
    MetaDataMap map = host;
    const std::optional<Call> copy = failingCopy ? std::optional(Call::kStringChars) : std::nullopt;
    const auto read = [&] { ReadMetaDataArray(env, static_cast<jobjectArray>(array.get()), &map); };
    EXPECT_EQ(Printed(env, copy, "", failingCopy, read), failingCopy ? kDescribed : "");
    EXPECT_EQ(Show(map), outcome);
    EXPECT_FALSE(env->ExceptionCheck());
  }
}

// Ten thousand entries to Java and back in a frame of sixteen references (the
// readings alone are the failure columns' test); the property type crosses
// both ways.
TEST(MetaData, BigArraysInASmallFrame) {
  JNIEnv* env = CurrentEnv();
  MetaDataMap map, back;
  for (int i = 0; i < 10000; ++i) map[W("k" + std::to_string(i))] = PluginValueRecord{u"v", i % 5};
  {
    LocalFrame frame(env, 16);
    ReadMetaDataArray(env, BuildMetaDataArray(env, &map).get(), &back);
  }
  ASSERT_EQ(back.size(), map.size());
  for (const auto& [key, value] : map) EXPECT_EQ(back[key].prpType, value.prpType);
}

// Under AddressSanitizer this also shows that every map is freed once.
TEST(MetaData, FreeObjectSubListNullPopulatedAndHoley) {
  FreeObjectSubList(nullptr, nullptr);
  FreeObjectSubList(new ObjectSubList(), nullptr);
  auto* list = new ObjectSubList();
  for (int i = 0; i < 100; ++i) list->emplace(W("f" + std::to_string(i)), new MetaDataMap(Map("k=value")));
  (*list)[u"no map"] = nullptr;
  FreeObjectSubList(list, nullptr);
}

}  // namespace
}  // namespace test
}  // namespace kq
