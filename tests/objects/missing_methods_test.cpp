// Against a library that has none of the object, account and container
// methods, nor AzureInit (kq-broken.jar, in a process of its own): every slot
// names the method and signature it looked for, adds its own line where it
// has one, answers 40 and leaves the host's side alone.
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

// Each slot names the method and signature of its key in the bridge's list of
// lookups (which the contract test checks against the real library).
TEST_F(MissingMethods, EachSlotNamesTheMethodItNeedsAndFails) {
  for (const Slot& slot : ObjectSlots()) {
    SCOPED_TRACE(slot.key);
    std::string method = slot.key.substr(0, slot.key.find('/'));
    if (method == "DeleteObjectByHandles") method.pop_back();  // the test library's key of the array form
    const std::string signature = BridgeSignature(slot.key);
    ASSERT_NE(signature, "");
    log.Mark();
    HostCall io;
    EXPECT_EQ(slot.call(*plugin.get(), io), 40u);
    EXPECT_EQ(Changes(io), "");
    ExpectLookupFailed(method, signature,
                       method == "GetObjectActualSize" ? "GET_OBJECT_ACTUAL_SIZE_NAME::method is not found..." : "");
  }
}

// The methods that exist still work beside the one that is missing.
TEST_F(MissingMethods, AMissingAzureInitIsNamedWithItsSignatureAndFails) {
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  ExpectLookupFailed("AzureInit", "(Ljava/lang/String;Ljava/lang/String;)Lcom/kq/KQCloudPluginInterface/CErrorValue;",
                     "Init:: Could not get the error object");
  EXPECT_EQ(plugin->DeInit(), 0u);
}

TEST_F(MissingMethods, EachAccountOperationNamesItsMethodAndFailsWithItsOwnLine) {
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    log.Mark();
    Outputs out;
    EXPECT_EQ(op.call(*plugin.get(), out), 40u);
    EXPECT_EQ(Changes(out), "");
    ASSERT_NE(BridgeSignature(Key(op)), "");
    ExpectLookupFailed(op.journal.substr(0, op.journal.find('/')), BridgeSignature(Key(op)), op.missingLine);
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
