// The test library itself, called directly through JNI: the journal's
// format, the value forms, the data a read hands back.  Other suites rely on
// these to read what the plug-in sent.
#include <gtest/gtest-spi.h>

#include <vector>

#include "bridge/ScopedJni.h"
#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

constexpr char kLibrary[] = "com/kq/AzureLibrary/KQAzurePlugInLibrary";

class ScriptRig : public SpineTest {
 protected:
  void SetUp() override {
    SpineTest::SetUp();
    env = CurrentEnv();
    ASSERT_NE(env, nullptr);
    cls = ScopedLocalRef<jclass>(env, env->FindClass(kLibrary));
    ASSERT_TRUE(cls);
    jmethodID constructor = env->GetMethodID(cls.get(), "<init>", "(Ljava/lang/String;)V");
    ScopedLocalRef<jstring> root(env, env->NewStringUTF("root"));
    library = ScopedLocalRef<jobject>(env, env->NewObject(cls.get(), constructor, root.get()));
    ASSERT_TRUE(library);
    Script::ClearJournal();
  }

  ScopedLocalRef<jobject> Parse(const char* value) {
    ScopedLocalRef<jclass> script(env, env->FindClass("com/kq/testdouble/Script"));
    jmethodID parse = env->GetStaticMethodID(script.get(), "parse", "(Ljava/lang/String;)Ljava/lang/Object;");
    ScopedLocalRef<jstring> text(env, env->NewStringUTF(value));
    ScopedLocalRef<jobject> parsed(env, env->CallStaticObjectMethod(script.get(), parse, text.get()));
    EXPECT_FALSE(env->ExceptionCheck());
    return parsed;
  }

  ScopedLocalRef<jbyteArray> Bytes(const std::vector<uint8_t>& bytes) {
    ScopedLocalRef<jbyteArray> array(env, env->NewByteArray(static_cast<jsize>(bytes.size())));
    env->SetByteArrayRegion(array.get(), 0, static_cast<jsize>(bytes.size()),
                            reinterpret_cast<const jbyte*>(bytes.data()));
    return array;
  }

  std::vector<uint8_t> Contents(jbyteArray array) {
    std::vector<uint8_t> bytes(static_cast<size_t>(env->GetArrayLength(array)));
    env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<jbyte*>(bytes.data()));
    return bytes;
  }

  jlong LongField(jobject record, const char* field) {
    ScopedLocalRef<jclass> type(env, env->GetObjectClass(record));
    return env->GetLongField(record, env->GetFieldID(type.get(), field, "J"));
  }

  JNIEnv* env = nullptr;
  ScopedLocalRef<jclass> cls{nullptr, nullptr};
  ScopedLocalRef<jobject> library{nullptr, nullptr};
};

TEST_F(ScriptRig, EveryLibraryMethodHasTheSignatureThePluginAsksFor) {
  const std::string error = "Lcom/kq/KQCloudPluginInterface/CErrorValue;";
  const std::string s = "Ljava/lang/String;";
  const std::string md = "[Lcom/kq/AzureLibrary/CPluginMetaData;";
  const std::string lib = "Lcom/kq/AzureLibrary/";
  const std::pair<const char*, std::string> methods[] = {
      {"AzureInit", "(" + s + s + ")" + error},
      {"AzureDeInit", "()" + error},
      {"CreateObject", "(" + s + ")" + lib + "CCreateFnValue;"},
      {"OpenObject", "(" + s + ")" + lib + "CCreateFnValue;"},
      {"CreateCachedObject", "(" + s + ")" + lib + "CCreateFnValue;"},
      {"GetBucketRegion", "(" + s + ")" + lib + "CCreateFnValue;"},
      {"CloseObject", "(" + s + ")" + error},
      {"WriteObject", "(" + s + "[BJ)" + error},
      {"WriteObject", "(" + s + "[BJ" + md + ")" + lib + "CWObjectHandleFnValue;"},
      {"WriteObject", "(" + s + "[BJ" + md + "J)" + lib + "CWObjectHandleFnValue;"},
      {"WriteCachedObject", "(" + s + "[BJ" + md + ")" + lib + "CWObjectHandleFnValue;"},
      {"UpdateObject", "(" + s + s + "[BJ" + md + ")" + lib + "CCreateFnValue;"},
      {"UpdateObject", "(" + s + s + "[BJ" + md + "J)" + lib + "CCreateFnValue;"},
      {"UpdateCachedObjectByHandle", "(" + s + s + "[BJ" + md + ")" + error},
      {"UpdateCachedObjectByName", "(" + s + "[BJ" + md + ")" + error},
      {"ReadObject", "(" + s + "[BJJ)" + lib + "CReadObjectFnValue;"},
      {"ReadObjectByHandle", "(" + s + "[BJJ[" + s + ")" + lib + "CRObjectByNameFnValue;"},
      {"ReadObjectByName", "(" + s + "[BJJ[" + s + ")" + lib + "CRObjectByNameFnValue;"},
      {"SetObjectMetaData", "(" + s + s + s + ")" + error},
      {"GetObjectMetaData", "(" + s + ")" + lib + "CGObjectMetaDataFnValue;"},
      {"GetObjectMetaData", "(" + s + s + ")" + lib + "CGetObjectMetaData;"},
      {"IsObjectExist", "(" + s + ")" + lib + "CIsObjectExistFnValue;"},
      {"IsObjectPathSupported", "(" + s + "I)" + lib + "CIsObjectExistFnValue;"},
      {"GetObjectSubList", "(" + s + ")" + lib + "CRetGetSubMetaDataList;"},
      {"DeleteObjectByName", "(" + s + ")" + error},
      {"DeleteObjectByHandle", "(" + s + ")" + error},
      {"DeleteObjectByHandle", "([" + s + ")" + error},
      {"DeleteCachedObjectByName", "(" + s + ")" + error},
      {"GetObjectActualSize", "(JJ)J"},
      {"IsValidContainer", "(" + s + ")" + lib + "CIsObjectExistFnValue;"},
      {"GetListContainers", "()" + lib + "KQListContainers;"},
      {"GetArchiveSet", "()" + lib + "KQListContainers;"},
      {"GetRegions", "()" + lib + "KQListRegions;"},
      {"GetContainerName", "()" + lib + "CUniqueAccountValue;"},
      {"DeleteContainer", "()" + error},
      {"GetAccountInfo", "()" + lib + "CGetAccountInfoFnValue;"},
      {"GetAllObjectsSize", "()" + lib + "CGetAccountSizeValue;"},
      {"GetUniqueAccountName", "()" + lib + "CUniqueAccountValue;"},
      {"GetOwnerName", "()" + lib + "CUniqueAccountValue;"},
      {"IsSameAccount", "(" + s + s + ")" + lib + "CIsObjectExistFnValue;"},
      {"CheckConnectivity", "()" + error},
      {"getStorageKey", "(" + s + s + ")Lcom/kq/plugin/model/CString;"},
      {"updateStorageKey", "()Lcom/kq/plugin/model/CString;"},
      {"getServerNameList", "()Lcom/kq/plugin/model/CArrayOfString;"},
      {"canBackup", "()Lcom/kq/plugin/model/CInt;"},
      {"addJobInfo", "(JJJJJJ)" + error},
  };
  for (const auto& method : methods) {
    EXPECT_NE(env->GetMethodID(cls.get(), method.first, method.second.c_str()), nullptr)
        << method.first << method.second;
    if (env->ExceptionCheck()) env->ExceptionClear();
  }
}

TEST_F(ScriptRig, TheJournalShowsEveryKindOfArgument) {
  jmethodID write = env->GetMethodID(
      cls.get(), "WriteObject",
      "(Ljava/lang/String;[BJ[Lcom/kq/AzureLibrary/CPluginMetaData;J)Lcom/kq/AzureLibrary/CWObjectHandleFnValue;");
  ASSERT_NE(write, nullptr);
  ScopedLocalRef<jstring> name(env, env->NewStringUTF("name"));
  const std::vector<uint8_t> data{1, 2, 3};
  ScopedLocalRef<jbyteArray> bytes = Bytes(data);
  ScopedLocalRef<jobject> metaData = Parse("md:b=2|<null>|<nullname>=v|a=<null>|c=<noval>|e=<empty>");
  ScopedLocalRef<jobject> result(env, env->CallObjectMethod(library.get(), write, name.get(), bytes.get(),
                                                            static_cast<jlong>(-1), metaData.get(), jlong{5}));
  ASSERT_FALSE(env->ExceptionCheck());

  jmethodID deleteMany = env->GetMethodID(cls.get(), "DeleteObjectByHandle",
                                          "([Ljava/lang/String;)Lcom/kq/KQCloudPluginInterface/CErrorValue;");
  ScopedLocalRef<jobject> handles = Parse("sa:a|<null>|<empty>");
  ScopedLocalRef<jobject> deleted(env, env->CallObjectMethod(library.get(), deleteMany, handles.get()));
  ASSERT_FALSE(env->ExceptionCheck());

  jmethodID pathSupported = env->GetMethodID(cls.get(), "IsObjectPathSupported",
                                             "(Ljava/lang/String;I)Lcom/kq/AzureLibrary/CIsObjectExistFnValue;");
  ScopedLocalRef<jobject> supported(env, env->CallObjectMethod(library.get(), pathSupported, nullptr, jint{-3}));
  ASSERT_FALSE(env->ExceptionCheck());

  EXPECT_EQ(Script::Journal(),
            (Lines{"WriteObject/5(\"name\", " + Script::Bytes(data.data(), data.size()) +
                       ", 18446744073709551615, {b=2, null, null=v, a=null, c=<noval>, e=}, 5)",
                   "DeleteObjectByHandles/1([\"a\", null, \"\"])", "IsObjectPathSupported/2(null, -3)"}));
  EXPECT_EQ(Script::Bytes(nullptr, 0), "bytes(len=0,crc=00000000)");
  EXPECT_EQ(Script::Bytes("123456789", 9), "bytes(len=9,crc=cbf43926)");  // the CRC-32 check value
}

TEST_F(ScriptRig, AReadFillsTheArrayAndReportsTheCount) {
  jmethodID read = env->GetMethodID(cls.get(), "ReadObject",
                                    "(Ljava/lang/String;[BJJ)Lcom/kq/AzureLibrary/CReadObjectFnValue;");
  ASSERT_NE(read, nullptr);
  ScopedLocalRef<jbyteArray> array = Bytes(std::vector<uint8_t>(6, 0));
  // Default: byte i = (offset + i) & 0xFF, as many as asked for.
  ScopedLocalRef<jobject> result(env, env->CallObjectMethod(library.get(), read, nullptr, array.get(), jlong{4},
                                                            jlong{254}));
  ASSERT_FALSE(env->ExceptionCheck());
  ASSERT_TRUE(result);
  EXPECT_EQ(LongField(result.get(), "sizeRead"), 4);
  EXPECT_EQ(Contents(array.get()), (std::vector<uint8_t>{254, 255, 0, 1, 0, 0}));

  // Scripted: a count beyond the array is reported but only the array is
  // filled; the bytes come from the scripted data.
  Script::SetReadCount("ReadObject/4", 9);
  Script::SetReadData("ReadObject/4", {7, 8});
  result.reset(env->CallObjectMethod(library.get(), read, nullptr, array.get(), jlong{6}, jlong{0}));
  ASSERT_FALSE(env->ExceptionCheck());
  ASSERT_TRUE(result);
  EXPECT_EQ(LongField(result.get(), "sizeRead"), 9);
  EXPECT_EQ(Contents(array.get()), (std::vector<uint8_t>{7, 8, 7, 8, 7, 8}));
}

TEST_F(ScriptRig, ScriptedAnswersAreReturnedAsBuilt) {
  jmethodID actualSize = env->GetMethodID(cls.get(), "GetObjectActualSize", "(JJ)J");
  ASSERT_NE(actualSize, nullptr);
  EXPECT_EQ(env->CallLongMethod(library.get(), actualSize, jlong{1}, jlong{2}), 2);
  ASSERT_FALSE(env->ExceptionCheck());
  Script::Returns("GetObjectActualSize/2", "j:18446744073709551615");
  EXPECT_EQ(env->CallLongMethod(library.get(), actualSize, jlong{1}, jlong{2}), -1);
  ASSERT_FALSE(env->ExceptionCheck());

  jmethodID create = env->GetMethodID(cls.get(), "CreateObject",
                                      "(Ljava/lang/String;)Lcom/kq/AzureLibrary/CCreateFnValue;");
  Script::ReturnsBuilt("CreateObject/1", "CCreateFnValue", {"errorValue=ord:57", "objHandle=s:h=1"});
  ScopedLocalRef<jobject> created(env, env->CallObjectMethod(library.get(), create, nullptr));
  ASSERT_FALSE(env->ExceptionCheck());
  ASSERT_TRUE(created);
  ScopedLocalRef<jclass> type(env, env->GetObjectClass(created.get()));
  ScopedLocalRef<jobject> error(
      env, env->GetObjectField(created.get(),
                               env->GetFieldID(type.get(), "errorValue", "Lcom/kq/KQCloudPluginInterface/CErrorValue;")));
  ScopedLocalRef<jclass> errorType(env, env->GetObjectClass(error.get()));
  EXPECT_EQ(env->CallIntMethod(error.get(), env->GetMethodID(errorType.get(), "getOrdinalValue", "()I")), 57);
  ASSERT_FALSE(env->ExceptionCheck());
  ScopedLocalRef<jstring> handle(
      env, static_cast<jstring>(
               env->GetObjectField(created.get(), env->GetFieldID(type.get(), "objHandle", "Ljava/lang/String;"))));
  ScopedStringChars chars(env, handle.get());
  EXPECT_EQ(WString(reinterpret_cast<const WChar*>(chars.get()), static_cast<size_t>(chars.size())), u"h=1");
}

TEST_F(ScriptRig, AMistakeInTheScriptFailsTheTest) {
  EXPECT_NONFATAL_FAILURE(Script::Returns("AzureInit/2", "bogus:1"), "no value form for: bogus:1");
  EXPECT_NONFATAL_FAILURE(Script::ReturnsBuilt("CreateObject/1", "NoSuchRecord", {}), "NoSuchRecord");
  EXPECT_NONFATAL_FAILURE(Script::ReturnsBuilt("CreateObject/1", "CCreateFnValue", {"missing=s:x"}), "missing");
}

}  // namespace
}  // namespace test
}  // namespace kq
