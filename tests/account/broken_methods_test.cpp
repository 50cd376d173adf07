// Every account and container operation against a library that lacks its
// method (kq-broken.jar, in a process of its own): the lookup's lines, the
// operation's own line where it has one, 40, outputs untouched.
#include "tests/account/account_test.h"

namespace kq {
namespace test {
namespace {

class BrokenLibrary : public NoPendingException {};

TEST_F(BrokenLibrary, AMissingMethodIsNamedAndFailsWithTheOperationsLine) {
  Instance plugin = Instance::WithTestVm();
  LogReader log;
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    log.Mark();
    Outputs out;
    EXPECT_EQ(op.call(*plugin.get(), out), 40u);
    EXPECT_EQ(Changes(out), "");
    const Lines lines = log.Since();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Descrption is failed");
    EXPECT_EQ(lines[1].rfind("java.lang.NoSuchMethodError", 0), 0u) << lines[1];
    Lines expected{"GetAzurePlugInObjectMethod::Method is not got... Method Name:- ", Method(op), op.signature};
    if (*op.missingLine != '\0') expected.push_back(op.missingLine);
    EXPECT_EQ(Lines(lines.begin() + 2, lines.end()), expected);
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
