// Against a library that has none of the object methods (kq-broken.jar, in a
// process of its own): every slot names the method and signature it looked
// for, answers 40 and leaves the host's objects alone.
#include <algorithm>
#include <iterator>

#include "tests/objects/objects_test_util.h"

namespace kq {
namespace test {
namespace {

bool Untouched(const HostCall& h) {
  const HostCall fresh;
  return h.out == fresh.out && h.flag == fresh.flag && h.actualSize == fresh.actualSize && h.size == fresh.size &&
         h.subList == nullptr && h.metaOut.size() == 1 &&
         std::equal(std::begin(h.buffer), std::end(h.buffer), std::begin(fresh.buffer));
}

TEST(MissingMethods, EachSlotNamesTheMethodItNeedsAndFails) {
  constexpr char kCErrorValue[] = "Lcom/kq/KQCloudPluginInterface/CErrorValue;";
  constexpr char kMetaData[] = "[Lcom/kq/AzureLibrary/CPluginMetaData;";
  const std::string s = "Ljava/lang/String;";
  const std::string lib = "Lcom/kq/AzureLibrary/";
  const struct {
    std::string slot;
    std::string method;
    std::string signature;
  } rows[] = {
      {"CreateObject", "CreateObject", "(" + s + ")" + lib + "CCreateFnValue;"},
      {"OpenObject", "OpenObject", "(" + s + ")" + lib + "CCreateFnValue;"},
      {"CreateCachedObject", "CreateCachedObject", "(" + s + ")" + lib + "CCreateFnValue;"},
      {"GetBucketRegion", "GetBucketRegion", "(" + s + ")" + lib + "CCreateFnValue;"},
      {"CloseObject", "CloseObject", "(" + s + ")" + kCErrorValue},
      {"WriteObject(plain)", "WriteObject", "(" + s + "[BJ)" + kCErrorValue},
      {"WriteObject(metadata)", "WriteObject", "(" + s + "[BJ" + kMetaData + ")" + lib + "CWObjectHandleFnValue;"},
      {"WriteObject(flag)", "WriteObject", "(" + s + "[BJ" + kMetaData + "J)" + lib + "CWObjectHandleFnValue;"},
      {"WriteCachedObject", "WriteCachedObject",
       "(" + s + "[BJ" + kMetaData + ")" + lib + "CWObjectHandleFnValue;"},
      {"UpdateObject", "UpdateObject", "(" + s + s + "[BJ" + kMetaData + ")" + lib + "CCreateFnValue;"},
      {"UpdateObject(flag)", "UpdateObject", "(" + s + s + "[BJ" + kMetaData + "J)" + lib + "CCreateFnValue;"},
      {"UpdateCachedObjectByHandle", "UpdateCachedObjectByHandle",
       "(" + s + s + "[BJ" + kMetaData + ")" + kCErrorValue},
      {"UpdateCachedObjectByName", "UpdateCachedObjectByName", "(" + s + "[BJ" + kMetaData + ")" + kCErrorValue},
      {"ReadObject", "ReadObject", "(" + s + "[BJJ)" + lib + "CReadObjectFnValue;"},
      {"ReadObjectByHandle", "ReadObjectByHandle", "(" + s + "[BJJ[" + s + ")" + lib + "CRObjectByNameFnValue;"},
      {"ReadObjectByName", "ReadObjectByName", "(" + s + "[BJJ[" + s + ")" + lib + "CRObjectByNameFnValue;"},
      {"SetObjectMetaData", "SetObjectMetaData", "(" + s + s + s + ")" + kCErrorValue},
      {"GetObjectMetaData(map)", "GetObjectMetaData", "(" + s + ")" + lib + "CGObjectMetaDataFnValue;"},
      {"GetObjectMetaData(item)", "GetObjectMetaData", "(" + s + s + ")" + lib + "CGetObjectMetaData;"},
      {"IsObjectExist", "IsObjectExist", "(" + s + ")" + lib + "CIsObjectExistFnValue;"},
      {"IsObjectPathSupported", "IsObjectPathSupported", "(" + s + "I)" + lib + "CIsObjectExistFnValue;"},
      {"GetObjectSubList", "GetObjectSubList", "(" + s + ")" + lib + "CRetGetSubMetaDataList;"},
      {"DeleteObjectByName", "DeleteObjectByName", "(" + s + ")" + kCErrorValue},
      {"DeleteObjectByHandle(one)", "DeleteObjectByHandle", "(" + s + ")" + kCErrorValue},
      {"DeleteObjectByHandle(many)", "DeleteObjectByHandle", "([" + s + ")" + kCErrorValue},
      {"DeleteCachedObjectByName", "DeleteCachedObjectByName", "(" + s + ")" + kCErrorValue},
      {"GetObjectActualSize", "GetObjectActualSize", "(JJ)J"},
  };
  ASSERT_EQ(std::size(rows), ObjectSlots().size());
  Instance plugin = Instance::WithTestVm();
  LogReader log;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.slot);
    log.Mark();
    HostCall io;
    EXPECT_EQ(SlotNamed(row.slot).call(*plugin.get(), io), 40u);
    EXPECT_TRUE(Untouched(io));
    Lines lines = log.Since();
    Lines expected = {"Descrption is failed", lines.size() > 1 ? lines[1] : "",
                      "GetAzurePlugInObjectMethod::Method is not got... Method Name:- ", row.method, row.signature};
    if (row.slot == "GetObjectActualSize") expected.push_back("GET_OBJECT_ACTUAL_SIZE_NAME::method is not found...");
    EXPECT_EQ(lines, expected);
    ASSERT_GT(lines.size(), 1u);
    EXPECT_EQ(lines[1].rfind("java.lang.NoSuchMethodError: " + row.method, 0), 0u) << lines[1];
  }
  EXPECT_FALSE(CurrentEnv()->ExceptionCheck());
}

}  // namespace
}  // namespace test
}  // namespace kq
