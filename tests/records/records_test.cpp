// The result readers, one failure column at a time: each test reads every
// record class in one situation (all fields set, null result, a field
// identifier missing, null errorValue, a JNI failure while reading, an object
// of another class) and compares the ordinal, the host outputs and what was
// printed.  Outputs start from recognisable values (ordinal 99, text "old",
// numbers 7, lists ["old"], maps {old=o}) so that "unchanged", "reset" and
// "read" differ.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/MetaData.h"
#include "bridge/ResultReaders.h"
#include "tests/records/JniFaults.h"
#include "tests/records/RecordsTestSupport.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

using Call = ScopedJniFault::Call;

constexpr int32_t kSeedOrdinal = 99;

// Reads a result into seeded outputs; answers "ordinal|outputs".
using Reader = std::function<std::string(JNIEnv*, jobject)>;

std::string Outcome(int32_t ordinal, const std::string& outputs) {
  return std::to_string(ordinal) + "|" + outputs;
}

Reader TextReader(void (*read)(JNIEnv*, jobject, int32_t*, WString*)) {
  return [read](JNIEnv* env, jobject result) {
    int32_t ordinal = kSeedOrdinal;
    WString text = Wide("old");
    read(env, result, &ordinal, &text);
    return Outcome(ordinal, Show(text));
  };
}

template <typename T>
Reader NumberReader(void (*read)(JNIEnv*, jobject, int32_t*, T*)) {
  return [read](JNIEnv* env, jobject result) {
    int32_t ordinal = kSeedOrdinal;
    T value = 7;
    read(env, result, &ordinal, &value);
    return Outcome(ordinal, std::to_string(value));
  };
}

Reader ListReader(void (*read)(JNIEnv*, jobject, int32_t*, WStringList*)) {
  return [read](JNIEnv* env, jobject result) {
    int32_t ordinal = kSeedOrdinal;
    WStringList list{Wide("old")};
    read(env, result, &ordinal, &list);
    return Outcome(ordinal, Show(list));
  };
}

MetaDataMap SeededMap() {
  MetaDataMap map;
  map[Wide("old")] = PluginValueRecord{Wide("o"), 0};
  return map;
}

std::string ReadAccountInfo(JNIEnv* env, jobject result) {
  int32_t ordinal = kSeedOrdinal;
  AccountInfoRecord info{7, Wide("old"), Wide("old"), Wide("old"), Wide("old"), 7, 7};
  ReadGetAccountInfoFnValue(env, result, &ordinal, &info);
  return Outcome(ordinal, Show(info.accountIndentity) + "," + Show(info.accountType) + "," + Show(info.displayName) +
                              "," + Show(info.emailAddress) + "," + std::to_string(info.usedSizeInByteTotal) + "," +
                              std::to_string(info.remainedSizeInByteTotal));
}

std::string ReadObjectMetaData(JNIEnv* env, jobject result) {
  int32_t ordinal = kSeedOrdinal;
  MetaDataMap map = SeededMap();
  ReadGObjectMetaDataFnValue(env, result, &ordinal, &map);
  return Outcome(ordinal, Show(map));
}

std::string ReadObjectByName(JNIEnv* env, jobject result) {
  int32_t ordinal = kSeedOrdinal;
  MetaDataMap map = SeededMap();
  uint64_t bytesRead = 7;
  ReadRObjectByNameFnValue(env, result, &ordinal, &map, &bytesRead);
  return Outcome(ordinal, Show(map) + ";" + std::to_string(bytesRead));
}

std::string ReadSubList(JNIEnv* env, jobject result) {
  static ObjectSubList untouchedMarker;
  int32_t ordinal = kSeedOrdinal;
  ObjectSubList* list = &untouchedMarker;
  ReadRetGetSubMetaDataList(env, result, &ordinal, &list);
  if (list == &untouchedMarker) return Outcome(ordinal, "untouched");
  const std::string shown = list != nullptr ? Show(*list) : "<null>";
  FreeObjectSubList(list, nullptr);
  return Outcome(ordinal, shown);
}

// One record class and what each column must give.
struct Case {
  const char* javaClass;
  std::vector<std::string> fields;  // besides errorValue
  Reader read;
  // The failure while reading: reading this field throws, or when it is
  // null, the failString-th string copy does.
  const char* failField;
  const char* failSignature;
  int failString;
  const char* missingField;  // the field whose identifier is missing
  const char* ok;
  const char* nullResult;
  const char* missingId;
  const char* nullError;
  const char* readFailure;
  const char* wrongClass;
};

const char kMax[] = "18446744073709551615";

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      // class, fields, reader, failing read, missing id,
      //   ok, null result, missing id, null errorValue, read failure, wrong class
      {"com/kq/AzureLibrary/CCreateFnValue", {"objHandle=s:h1"}, TextReader(&ReadCreateFnValue),
       "objHandle", "Ljava/lang/String;", 0, "objHandle",
       "5|h1", "0|", "0|", "40|h1", "40|", "40|"},
      {"com/kq/AzureLibrary/CWObjectHandleFnValue", {"objHandle=s:h1"}, TextReader(&ReadWObjectHandleFnValue),
       "objHandle", "Ljava/lang/String;", 0, "objHandle",
       "5|h1", "0|", "40|", "40|h1", "40|", "40|"},
      {"com/kq/AzureLibrary/CGetObjectMetaData", {"value=s:v1"}, TextReader(&ReadGetObjectMetaData),
       "value", "Ljava/lang/String;", 0, "value",
       "5|v1", "0|", "40|", "40|v1", "40|", "40|"},
      {"com/kq/AzureLibrary/CUniqueAccountValue", {"accountName=s:acct"}, TextReader(&ReadUniqueAccountValue),
       "accountName", "Ljava/lang/String;", 0, "accountName",
       "5|acct", "0|", "40|", "40|acct", "40|", "40|"},
      {"com/kq/plugin/model/CString", {"value=s:key"}, TextReader(&ReadCString),
       "value", "Ljava/lang/String;", 0, "value",
       "5|key", "0|old", "0|old", "40|key", "5|old", "0|old"},
      {"com/kq/AzureLibrary/CIsObjectExistFnValue", {"isExist=z:true"}, NumberReader(&ReadIsObjectExistFnValue),
       "isExist", "Z", 0, "isExist",
       "5|1", "0|7", "40|7", "40|1", "40|7", "40|7"},
      {"com/kq/AzureLibrary/CGetAccountSizeValue", {std::string("size=j:") + kMax},
       NumberReader(&ReadGetAccountSizeValue), "size", "J", 0, "size",
       "5|18446744073709551615", "0|0", "40|0", "40|18446744073709551615", "40|0", "40|0"},
      {"com/kq/AzureLibrary/CReadObjectFnValue", {"sizeRead=j:4096"}, NumberReader(&ReadReadObjectFnValue),
       "sizeRead", "J", 0, "sizeRead",
       "5|4096", "99|7", "40|7", "40|4096", "40|7", "40|7"},
      {"com/kq/plugin/model/CInt", {"value=i:-3"}, NumberReader(&ReadCInt),
       "value", "I", 0, "value",
       "5|-3", "0|7", "0|7", "0|-3", "5|7", "0|7"},
      {"com/kq/AzureLibrary/KQListRegions", {"regionsList=sa:east|<null>|west"}, ListReader(&ReadListRegions),
       nullptr, nullptr, 2, "regionsList",
       "5|old,east,west", "0|old", "0|old", "40|old,east,west", "5|old,east", "0|old"},
      {"com/kq/plugin/model/CArrayOfString", {"arrayOfString=sa:m1|<null>|m2"}, ListReader(&ReadArrayOfString),
       nullptr, nullptr, 2, "arrayOfString",
       "5|old,m1,m2", "0|old", "0|old", "40|old,m1,m2", "5|old,m1", "0|old"},
      {"com/kq/AzureLibrary/KQListContainers", {"containers=ct:c1|<null>|<nullname>|c2"},
       ListReader(&ReadListContainers), nullptr, nullptr, 2, "containers",
       "5|old,c1,c2", "0|old", "5|old", "0|old", "40|old,c1", "40|old"},
      {"com/kq/AzureLibrary/CGetAccountInfoFnValue",
       {"accountIndentity=s:id", "accountType=s:type", "displayName=null", "emailAddress=s:mail",
        "usedSizeInByteTotal=j:1", "remainedSizeInByteTotal=j:2"},
       &ReadAccountInfo, "accountType", "Ljava/lang/String;", 0, "accountType",
       "5|id,type,old,mail,1,2", "99|old,old,old,old,7,7", "99|old,old,old,old,7,7", "40|id,type,old,mail,1,2",
       "5|id,old,old,old,7,7", "99|old,old,old,old,7,7"},
      {"com/kq/AzureLibrary/CGObjectMetaDataFnValue", {"values=md:b=2|a=1|old=new"}, &ReadObjectMetaData,
       "values", "[Lcom/kq/AzureLibrary/CPluginMetaData;", 0, "values",
       "5|a=1,b=2,old=o", "99|old=o", "40|old=o", "40|a=1,b=2,old=o", "40|old=o", "40|old=o"},
      {"com/kq/AzureLibrary/CRObjectByNameFnValue", {"values=md:b=2|a=1|old=new", "bytesRead=j:10"},
       &ReadObjectByName, "values", "[Lcom/kq/AzureLibrary/CPluginMetaData;", 0, "values",
       "5|a=1,b=2,old=o;10", "99|old=o;7", "40|old=o;7", "40|a=1,b=2,old=o;10", "40|old=o;10", "40|old=o;7"},
      {"com/kq/AzureLibrary/CRetGetSubMetaDataList", {"metaDat=sub:f2{k=v}|f1{a=1;b=2}"}, &ReadSubList,
       "metaDat", "[Lcom/kq/AzureLibrary/CObjectSubListElement;", 0, "metaDat",
       "5|f1{a=1,b=2};f2{k=v}", "99|untouched", "40|", "99|f1{a=1,b=2};f2{k=v}", "40|", "40|"},
  };
  return cases;
}

std::string Dotted(const char* javaClass) {
  std::string name = javaClass;
  for (char& c : name) c = c == '/' ? '.' : c;
  return name;
}

std::vector<std::string> With(const std::string& errorValue, std::vector<std::string> fields) {
  fields.insert(fields.begin(), "errorValue=" + errorValue);
  return fields;
}

using Fault = std::unique_ptr<ScopedJniFault>;

class RecordColumns : public testing::Test {
 protected:
  // Reads each class's result (made by `result`, under the fault made by
  // `fault`) and compares with the class's entry of `column`.
  void CheckColumn(const char* Case::*column, const std::string& printed,
                   const std::function<ScopedLocalRef<jobject>(const Case&)>& result,
                   const std::function<Fault(const Case&)>& fault = nullptr) {
    for (const Case& c : Cases()) {
      SCOPED_TRACE(c.javaClass);
      ScopedLocalRef<jobject> record = result(c);
      std::string outcome;
      testing::internal::CaptureStdout();
      {
        Fault injected = fault ? fault(c) : nullptr;
        outcome = c.read(env_, record.get());
        if (injected) {
          EXPECT_EQ(injected->failures(), 1);
        }
      }
      EXPECT_EQ(testing::internal::GetCapturedStdout(), printed);
      EXPECT_FALSE(env_->ExceptionCheck()) << "a Java exception was left pending";
      EXPECT_EQ(outcome, c.*column);
    }
  }

  std::function<ScopedLocalRef<jobject>(const Case&)> Records(const std::string& errorValue) {
    return [this, errorValue](const Case& c) { return Build(env_, Dotted(c.javaClass), With(errorValue, c.fields)); };
  }

  JNIEnv* env_ = CurrentEnv();
  LocalFrame frame_{env_, 64};
};

TEST_F(RecordColumns, EveryFieldSet) { CheckColumn(&Case::ok, "", Records("ord:5")); }

TEST_F(RecordColumns, NullResult) {
  CheckColumn(&Case::nullResult, "", [this](const Case&) { return ScopedLocalRef<jobject>(env_); });
}

TEST_F(RecordColumns, FieldIdentifierMissing) {
  CheckColumn(&Case::missingId, kDescribed, Records("ord:5"), [this](const Case& c) {
    return Fault(new ScopedJniFault(env_, Call::kGetFieldID, c.missingField));
  });
}

TEST_F(RecordColumns, NullErrorValue) { CheckColumn(&Case::nullError, "", Records("null")); }

TEST_F(RecordColumns, JavaExceptionWhileReading) {
  CheckColumn(&Case::readFailure, kDescribed, Records("ord:5"), [this](const Case& c) {
    if (c.failField == nullptr) return Fault(new ScopedJniFault(env_, Call::kStringChars, std::string(), c.failString));
    ScopedLocalRef<jclass> cls(env_, env_->FindClass(c.javaClass));
    return Fault(new ScopedJniFault(env_, cls.get(), c.failField, c.failSignature));
  });
}

// A result of the wrong class is never read as if it were the right one; it
// counts as a failure while reading, found before anything is decoded.
TEST_F(RecordColumns, ResultOfAnotherClass) {
  CheckColumn(&Case::wrongClass, "",
              [this](const Case&) { return Build(env_, "KQAzureContainer", {"containerName=s:x"}); });
}

// Every reader, on every path, gives back each reference it takes: a
// hundred readings in a frame of sixteen would otherwise overflow it and
// -Xcheck:jni would say so.
TEST_F(RecordColumns, NoReaderKeepsLocalReferences) {
  const size_t before = JvmOutput().size();
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.javaClass);
    auto full = Build(env_, Dotted(c.javaClass), With("ord:5", c.fields));
    auto noError = Build(env_, Dotted(c.javaClass), With("null", c.fields));
    ScopedLocalRef<jclass> cls(env_, env_->FindClass(c.javaClass));
    LocalFrame frame(env_, 16);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 100; ++i) {
      c.read(env_, full.get());
      c.read(env_, noError.get());
      c.read(env_, cls.get());  // another class
      if (c.failField != nullptr) {
        ScopedJniFault fault(env_, cls.get(), c.failField, c.failSignature);
        c.read(env_, full.get());
      }
    }
    testing::internal::GetCapturedStdout();
  }
  EXPECT_EQ(JvmOutput().find("JNI local refs", before), std::string::npos);
}

TEST(ListContainers, LookupFailuresEachHaveTheirOwnAnswer) {
  JNIEnv* env = CurrentEnv();
  LocalFrame frame(env, 32);
  auto result = Build(env, "KQListContainers", {"errorValue=ord:5", "containers=ct:c1|c2"});
  struct {
    Call call;
    const char* name;
    const char* outcome;
  } const cases[] = {
      {Call::kFindClass, "com/kq/AzureLibrary/KQListContainers", "0|old"},  // nothing read
      {Call::kGetFieldID, "errorValue", "0|old,c1,c2"},                     // not decoded, elements read
      {Call::kGetFieldID, "containers", "5|old"},                           // decoded, no element
      {Call::kFindClass, "com/kq/AzureLibrary/KQAzureContainer", "40|old"},  // elements unreadable
      {Call::kGetFieldID, "containerName", "40|old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string outcome;
    testing::internal::CaptureStdout();
    {
      ScopedJniFault fault(env, c.call, c.name);
      outcome = ListReader(&ReadListContainers)(env, result.get());
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kDescribed);
    EXPECT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(outcome, c.outcome);
  }
}

TEST(DecodeErrorValue, OrdinalsAndDiagnostics) {
  JNIEnv* env = CurrentEnv();
  LocalFrame frame(env, 32);
  const std::string cantFindClass = "Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n";
  const std::string cantGetMethod = "Can't GetMethod(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n";
  struct {
    const char* value;  // Script value form
    Call faultCall;
    const char* faultName;  // null: no fault
    int32_t ordinal;
    std::string printed;
  } const cases[] = {
      {"ord:7", Call::kFindClass, nullptr, 7, ""},
      {"ord:100", Call::kFindClass, nullptr, 100, ""},  // raw: mapping is the caller's
      {"ord:-1", Call::kFindClass, nullptr, -1, ""},
      {"noid:9", Call::kFindClass, nullptr, 9, ""},  // the identifier is not asked for
      {"null", Call::kFindClass, nullptr, 40, ""},
      {"s:not an error", Call::kFindClass, nullptr, 40, cantFindClass},  // another class
      {"ord:7", Call::kFindClass, "com/kq/KQCloudPluginInterface/CErrorValue", 40, kDescribed + cantFindClass},
      {"ord:7", Call::kGetMethodID, "getErrorID", 40, kDescribed + cantGetMethod},
      {"ord:7", Call::kGetMethodID, "getOrdinalValue", 40, kDescribed + cantGetMethod},
      {"ord:7", Call::kCallInt, "", 40, kDescribed + cantFindClass},
      {"null", Call::kGetMethodID, "getOrdinalValue", 40, kDescribed + cantGetMethod},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " / " + (c.faultName ? c.faultName : "no fault"));
    auto errorValue = Parse(env, c.value);
    int32_t ordinal = kSeedOrdinal;
    testing::internal::CaptureStdout();
    {
      std::unique_ptr<ScopedJniFault> fault(c.faultName ? new ScopedJniFault(env, c.faultCall, c.faultName) : nullptr);
      DecodeErrorValue(env, errorValue.get(), &ordinal);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(ordinal, c.ordinal);
  }
}

TEST(DescribePendingException, ClearsAndPrintsOnlyWhenPending) {
  JNIEnv* env = CurrentEnv();
  testing::internal::CaptureStdout();
  EXPECT_EQ(DescribePendingException(env), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  ScopedLocalRef<jclass> error(env, env->FindClass("java/lang/IllegalStateException"));
  env->ThrowNew(error.get(), "pending");
  testing::internal::CaptureStdout();
  EXPECT_EQ(DescribePendingException(env), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kDescribed);
  EXPECT_FALSE(env->ExceptionCheck());
}

std::vector<std::string> JavaStrings(JNIEnv* env, jobjectArray array) {
  std::vector<std::string> out;
  for (jsize i = 0; i < env->GetArrayLength(array); ++i) {
    ScopedLocalRef<jstring> text(env, static_cast<jstring>(env->GetObjectArrayElement(array, i)));
    out.push_back(Show(env, text.get()));
  }
  return out;
}

TEST(NewStringArray, OneJavaStringPerHostStringUpToItsFirstZero) {
  JNIEnv* env = CurrentEnv();
  LocalFrame frame(env, 16);
  WString strings[] = {Wide("a"), WString(), WString(Wide("x")) + WChar(0) + Wide("y"), Wide("\\uD83D\\uDE00")};
  ScopedLocalRef<jobjectArray> array(env, NewStringArray(env, 4, strings));
  ASSERT_TRUE(array);
  EXPECT_EQ(JavaStrings(env, array.get()), (std::vector<std::string>{"a", "", "x", "\\uD83D\\uDE00"}));

  EXPECT_EQ(NewStringArray(env, 0, strings), nullptr);
  EXPECT_EQ(NewStringArray(env, -1, strings), nullptr);
  EXPECT_EQ(NewStringArray(env, 2, nullptr), nullptr);
  {
    ScopedJniFault fault(env, Call::kFindClass, "java/lang/String");
    testing::internal::CaptureStdout();
    EXPECT_EQ(NewStringArray(env, 4, strings), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kDescribed);
  }
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST(NewStringArray, TenThousandStringsInASmallFrame) {
  JNIEnv* env = CurrentEnv();
  std::vector<WString> strings;
  for (int i = 0; i < 10000; ++i) strings.push_back(Wide("n" + std::to_string(i)));
  LocalFrame frame(env, 16);
  ScopedLocalRef<jobjectArray> array(env, NewStringArray(env, static_cast<int32_t>(strings.size()), strings.data()));
  ASSERT_TRUE(array);
  const std::vector<std::string> back = JavaStrings(env, array.get());
  ASSERT_EQ(back.size(), 10000u);
  EXPECT_EQ(back[9999], "n9999");
}

TEST(StringLists, ElementsAppendInOrderSkippingNullsAndKeepingEmptyTexts) {
  JNIEnv* env = CurrentEnv();
  LocalFrame frame(env, 32);
  struct {
    const char* value;
    const char* outcome;
  } const cases[] = {
      {"sa:", "0|old"},
      {"sa:<null>|<null>", "0|old"},
      {"sa:b|<empty>|a|b", "0|old,b,,a,b"},
      {"null", "0|old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    auto regions = Build(env, "KQListRegions", {"errorValue=ord:0", std::string("regionsList=") + c.value});
    auto names = Build(env, "CArrayOfString", {"errorValue=ord:0", std::string("arrayOfString=") + c.value});
    EXPECT_EQ(ListReader(&ReadListRegions)(env, regions.get()), c.outcome);
    EXPECT_EQ(ListReader(&ReadArrayOfString)(env, names.get()), c.outcome);
  }
}

TEST(StringLists, TenThousandElementsInASmallFrame) {
  JNIEnv* env = CurrentEnv();
  std::string texts;
  for (int i = 0; i < 10000; ++i) texts += (i ? "|" : "") + std::to_string(i);
  auto regions = Build(env, "KQListRegions", {"errorValue=ord:0", "regionsList=sa:" + texts});
  auto containers = Build(env, "KQListContainers", {"errorValue=ord:0", "containers=ct:" + texts});
  const size_t before = JvmOutput().size();
  {
    LocalFrame frame(env, 16);
    WStringList regionList;
    WStringList containerList;
    int32_t ordinal = kSeedOrdinal;
    ReadListRegions(env, regions.get(), &ordinal, &regionList);
    ReadListContainers(env, containers.get(), &ordinal, &containerList);
    ASSERT_EQ(regionList.size(), 10000u);
    ASSERT_EQ(containerList.size(), 10000u);
    EXPECT_EQ(Show(regionList.back()), "9999");
    EXPECT_EQ(Show(containerList.back()), "9999");
  }
  EXPECT_EQ(JvmOutput().find("JNI local refs", before), std::string::npos);
}

// The host's string gets the Java text up to its first zero unit, and every
// unit of it, surrogates included, as it is.
TEST(Texts, CopiedUnitForUnitUpToTheFirstZero) {
  JNIEnv* env = CurrentEnv();
  LocalFrame frame(env, 16);
  auto result = Build(env, "CCreateFnValue", {"errorValue=ord:0"});
  ScopedLocalRef<jclass> cls(env, env->GetObjectClass(result.get()));
  jfieldID handle = env->GetFieldID(cls.get(), "objHandle", "Ljava/lang/String;");
  const jchar units[] = {'h', 0xD83D, 0xDE00, 0, 't'};
  ScopedLocalRef<jstring> text(env, env->NewString(units, 5));
  env->SetObjectField(result.get(), handle, text.get());
  EXPECT_EQ(TextReader(&ReadCreateFnValue)(env, result.get()), "0|h\\uD83D\\uDE00");
}

TEST(Readers, AbsentOutputsAreNotWrittenButTheErrorIsDecoded) {
  JNIEnv* env = CurrentEnv();
  LocalFrame frame(env, 32);
  int32_t ordinal = kSeedOrdinal;
  auto text = Build(env, "CString", {"errorValue=ord:3", "value=s:k"});
  ReadCString(env, text.get(), &ordinal, nullptr);
  EXPECT_EQ(ordinal, 3);
  auto info = Build(env, "CGetAccountInfoFnValue", {"errorValue=ord:4", "accountType=s:t"});
  ReadGetAccountInfoFnValue(env, info.get(), &ordinal, nullptr);
  EXPECT_EQ(ordinal, 4);
  auto meta = Build(env, "CRObjectByNameFnValue", {"errorValue=ord:6", "values=md:a=1", "bytesRead=j:3"});
  uint64_t bytesRead = 0;
  ReadRObjectByNameFnValue(env, meta.get(), &ordinal, nullptr, &bytesRead);
  EXPECT_EQ(ordinal, 6);
  EXPECT_EQ(bytesRead, 3u);
  auto sub = Build(env, "CRetGetSubMetaDataList", {"errorValue=ord:8", "metaDat=sub:f{a=1}"});
  ReadRetGetSubMetaDataList(env, sub.get(), &ordinal, nullptr);
  EXPECT_EQ(ordinal, 8);
  auto regions = Build(env, "KQListRegions", {"errorValue=ord:12", "regionsList=sa:a"});
  ReadListRegions(env, regions.get(), &ordinal, nullptr);
  EXPECT_EQ(ordinal, 12);
  auto containers = Build(env, "KQListContainers", {"errorValue=ord:13", "containers=ct:a"});
  ReadListContainers(env, containers.get(), &ordinal, nullptr);
  EXPECT_EQ(ordinal, 13);
  ReadCInt(env, nullptr, nullptr, nullptr);
  EXPECT_FALSE(env->ExceptionCheck());
}

}  // namespace
}  // namespace test
}  // namespace kq
