// Against a library that has none of the object, account and container
// methods (kq-broken.jar, in a process of its own): every slot names the
// method and signature it looked for, adds its own line where it has one,
// answers 40 and leaves the host's side alone.
#include <iterator>
#include <map>

#include "tests/account/account_test.h"
#include "tests/objects/objects_test_util.h"

namespace kq {
namespace test {
namespace {

class MissingMethods : public JvmTest {
 protected:
  // What the call logged since the mark: the lookup's pending NoSuchMethodError
  // described, then the method, its signature and the slot's own line.
  void ExpectLookupFailed(const std::string& method, const std::string& signature, const std::string& own) {
    const Lines lines = log.Since();
    ASSERT_GT(lines.size(), 1u);
    EXPECT_EQ(lines[1].rfind("java.lang.NoSuchMethodError: " + method, 0), 0u) << lines[1];
    Lines expected = {"Descrption is failed", lines[1],
                      "GetAzurePlugInObjectMethod::Method is not got... Method Name:- ", method, signature};
    if (!own.empty()) expected.push_back(own);
    EXPECT_EQ(lines, expected);
  }

  Instance plugin = Instance::WithTestVm();
};

TEST_F(MissingMethods, EachSlotNamesTheMethodItNeedsAndFails) {
  // The signatures in the order of ObjectSlots(), one capital letter standing
  // for each class: String, the metadata array, the error and result records.
  const std::string lib = "Lcom/kq/AzureLibrary/";
  const std::map<char, std::string> classes = {{'S', "Ljava/lang/String;"},
                                               {'M', "[" + lib + "CPluginMetaData;"},
                                               {'E', "Lcom/kq/KQCloudPluginInterface/CErrorValue;"},
                                               {'C', lib + "CCreateFnValue;"},
                                               {'W', lib + "CWObjectHandleFnValue;"},
                                               {'R', lib + "CReadObjectFnValue;"},
                                               {'N', lib + "CRObjectByNameFnValue;"},
                                               {'G', lib + "CGObjectMetaDataFnValue;"},
                                               {'O', lib + "CGetObjectMetaData;"},
                                               {'X', lib + "CIsObjectExistFnValue;"},
                                               {'L', lib + "CRetGetSubMetaDataList;"}};
  const std::string signatures[] = {"(S)C",     "(S)C",      "(S)C",       "(S)C",       "(S)E",       "(S[BJ)E",
                                    "(S[BJM)W", "(S[BJMJ)W", "(S[BJM)W",   "(SS[BJM)C",  "(SS[BJMJ)C", "(SS[BJM)E",
                                    "(S[BJM)E", "(S[BJJ)R",  "(S[BJJ[S)N", "(S[BJJ[S)N", "(SSS)E",     "(S)G",
                                    "(SS)O",    "(S)X",      "(SI)X",      "(S)L",       "(S)E",       "(S)E",
                                    "([S)E",    "(S)E",      "(JJ)J"};
  ASSERT_EQ(std::size(signatures), ObjectSlots().size());
  for (size_t i = 0; i < std::size(signatures); ++i) {
    const Slot& slot = ObjectSlots()[i];
    SCOPED_TRACE(slot.key);
    std::string method = slot.key.substr(0, slot.key.find('/')), signature;
    if (method == "DeleteObjectByHandles") method.pop_back();  // the test library's key of the array form
    for (char c : signatures[i]) signature += classes.count(c) == 1 ? classes.at(c) : std::string(1, c);
    log.Mark();
    HostCall io;
    EXPECT_EQ(slot.call(*plugin.get(), io), 40u);
    EXPECT_EQ(Changes(io), "");
    ExpectLookupFailed(method, signature,
                       method == "GetObjectActualSize" ? "GET_OBJECT_ACTUAL_SIZE_NAME::method is not found..." : "");
  }
}

TEST_F(MissingMethods, EachAccountOperationNamesItsMethodAndFailsWithItsOwnLine) {
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    log.Mark();
    Outputs out;
    EXPECT_EQ(op.call(*plugin.get(), out), 40u);
    EXPECT_EQ(Changes(out), "");
    ExpectLookupFailed(Method(op), op.signature, op.missingLine);
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
