// The account and container operations against the scripted library: the
// Java method each reaches and with what, where its result goes, what a null
// result or a throwing method gives, and the lines around the call.  Then
// the manager's Init and the JVM holder it asks for a VM.
#include "tests/account/account_test.h"

#include "bridge/JvmHost.h"
#include "platform/Platform.h"

namespace kq {
namespace test {
namespace {

class Account : public ScriptedTest {
 protected:
  uint32_t Run(const Operation& op, Outputs& out) { return op.call(*plugin.get(), out); }
  void Answer(const Operation& op, const std::string& error, const char* answer) {
    Lines fields = Split(answer);
    if (ResultClass(op).empty()) return Script::Returns(Key(op), error);
    fields.push_back("errorValue=" + error);
    Script::ReturnsBuilt(Key(op), ResultClass(op), fields);
  }

  Instance plugin = Instance::WithTestVm();
};

// The library's default answer; a scripted record read twice into the same
// outputs (lists grow, null elements and texts add nothing); error ordinals,
// decoded even when the host passes no outputs; a null answer and a throw
// (the call then has no result and the exception is cleared).
TEST_F(Account, EachOperation) {
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    Script::Reset();
    log.Mark();
    Outputs out;
    EXPECT_EQ(Run(op, out), 0u);
    EXPECT_EQ(Script::Journal(), Lines{op.journal});
    EXPECT_EQ(log.Since(), Split(op.lines));
    EXPECT_EQ(Changes(out), op.changes);
    if (*op.answer != '\0') {
      Answer(op, "ord:0", op.answer);
      Outputs twice;
      EXPECT_EQ(Run(op, twice) + Run(op, twice), 0u);
      EXPECT_EQ(Changes(twice), op.answered);
    }
    Outputs none;
    none.absent = true;
    for (const auto& [ordinal, code] : {std::pair<int, uint32_t>{3, 7}, {28, 29}}) {
      Answer(op, "ord:" + std::to_string(ordinal), op.answer);
      EXPECT_EQ(Run(op, out), code) << "ordinal " << ordinal;
      EXPECT_EQ(Run(op, none), code) << "ordinal " << ordinal << ", no outputs";
    }
    for (bool throws : {false, true}) {
      SCOPED_TRACE(throws ? "throws" : "answers null");
      Script::Reset();
      throws ? Script::Throws(Key(op), "no answer") : Script::Returns(Key(op), "null");
      log.Mark();
      Outputs preset;
      EXPECT_EQ(Run(op, preset), op.nullCode);
      EXPECT_EQ(Changes(preset), op.nullChanges);
      EXPECT_EQ(Script::Journal().size(), 1u);
      EXPECT_EQ(log.Since(), Split(op.lines));
    }
  }
}

// What an acquisition with `root` leaves: the class path, and the traces
// printed on the way (the path so far before each jar, then the attempt).
std::pair<std::string, std::string> Acquired(const std::string& root) {
  const char sep = static_cast<char>(platform::kPathSeparator);
  const std::string folder = root + sep + "Plugin" + sep + "Azure" + sep;
  std::string path = "-Djava.class.path=.;", traces;
  for (const char* jar : {"KQAzurePlugIn.jar;", "log4j-1.2.15.jar;", "commons-logging-1.1.1.jar;", "KQ-AWSSDK.jar;",
                          "httpclient-4.1.1.jar;", "commons-codec-1.4.jar;", "jackson-core-asl-1.9.2.jar;",
                          "stax-1.2.0.jar;", "stax-api-1.0.1.jar;"}) {
    traces += "path " + path;
    path += folder + jar;
  }
  return {path, traces + "Attempting to create JVM."};
}

// With a bridge (whose VM the holder has registered) the JVM is still not
// ready: Init answers 0 and Java sees nothing, but the bridge made at
// creation still reaches Java.  Each Init rebuilds the class path from its
// root (without a bridge, Init is the lifecycle tests' case).
TEST_F(Account, ManagerInit) {
  for (const std::string& root : {InstallRoot(), std::string("C:\\Program Files\\Host")}) {
    SCOPED_TRACE(root);
    Script::Reset();
    log.Mark();
    testing::internal::CaptureStdout();
    EXPECT_EQ(plugin->Init(W("arg"), W(root)), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), Acquired(root).second);
    EXPECT_EQ(U8(CJVMHost::Instance().ClassPath()), Acquired(root).first);
    EXPECT_EQ(log.Since(), (Lines{"KQAzureCommunicationMgr::Init is Called",
                                  "InitialiseCommunication::JVM is not intailzed properly..."}));
    EXPECT_EQ(plugin->CheckConnectivity(), 0u);
    EXPECT_EQ(Script::Journal(), Lines{"CheckConnectivity/0()"});
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
