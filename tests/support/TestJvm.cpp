#include "tests/support/TestJvm.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <vector>

#include "bridge/ScopedJni.h"
#include "platform/Platform.h"
#include "tests/platform/test_support.h"

namespace kq {
namespace test {
namespace {

namespace fs = std::filesystem;

JavaVM* g_vm = nullptr;
std::string g_root;
std::string LogFolder() { return (fs::path(g_root) / "Plugin" / "Azure" / "Log").string(); }
std::string LogBytes() { return kq::testing::ReadBytes(LogFolder() + "/JNIWrapper0.log"); }
// The VM is never destroyed: its threads go on printing (a periodic check's
// warning, say) while main returns and the statics go, so what they use
// lives for good and, once the tests have ended, leaves GoogleTest alone.
std::mutex& g_outputMutex = *new std::mutex;
std::string& g_output = *new std::string;  // what the JVM printed (since the last TakeJniWarnings)
bool g_testsEnded = false;                 // under g_outputMutex

void EndCapture() {
  std::lock_guard<std::mutex> lock(g_outputMutex);
  g_testsEnded = true;
}

// The warnings in `text` that end after its first `seen` characters.
std::string WarningsIn(const std::string& text, size_t seen) {
  std::string found;
  for (const std::string warning : {"WARNING in native method", "JNI local refs"}) {
    const size_t from = seen >= warning.size() ? seen - warning.size() + 1 : 0;
    if (text.find(warning, from) != std::string::npos) found += (found.empty() ? "" : ", ") + warning;
  }
  return found;
}

// HotSpot prints its tty, the -Xcheck:jni warnings included, through this
// hook: the text is passed on, kept for the checks, and a warning is
// charged to the test that is running.
jint JNICALL CaptureOutput(FILE* stream, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) return length;
  std::vector<char> text(static_cast<size_t>(length) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  std::fputs(text.data(), stream == stdout ? stdout : stderr);
  std::lock_guard<std::mutex> lock(g_outputMutex);
  const size_t seen = g_output.size();  // a warning may come in pieces
  g_output.append(text.data(), static_cast<size_t>(length));
  const std::string found = WarningsIn(g_output, seen);
  if (g_testsEnded) return length;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!found.empty() && test != nullptr) {
    std::fprintf(stderr, "[  JNI    ] %s.%s made the JVM print: %s\n", test->test_suite_name(), test->name(),
                 found.c_str());
  }
  return length;
}

class JvmEnvironment : public ::testing::Environment {
  void SetUp() override {
    const std::string program = fs::read_symlink("/proc/self/exe").filename().string();
    g_root = (fs::temp_directory_path() / ("kq-" + program + "-XXXXXX")).string();
    ASSERT_NE(mkdtemp(g_root.data()), nullptr) << g_root;
    fs::create_directories(fs::path(g_root) / "Plugin" / "Azure");

    std::string classPath = std::string("-Djava.class.path=") + TestClassPath();
    char checkJni[] = "-Xcheck:jni", hook[] = "vfprintf";
    // A small, quick JVM: the tests need no throughput.
    char heap[] = "-Xmx128m", gc[] = "-XX:+UseSerialGC", jit[] = "-XX:TieredStopAtLevel=1";
    JavaVMOption options[] = {{classPath.data(), nullptr},
                              {checkJni, nullptr},
                              {heap, nullptr},
                              {gc, nullptr},
                              {jit, nullptr},
                              {hook, reinterpret_cast<void*>(&CaptureOutput)}};
    JavaVMInitArgs args{JNI_VERSION_1_8, static_cast<jint>(std::size(options)), options, JNI_FALSE};
    void* env = nullptr;
    ASSERT_EQ(JNI_CreateJavaVM(&g_vm, &env, &args), JNI_OK) << "JNI_CreateJavaVM failed";

    // Pin the process's log to this root before any test can name another.
    ICloudPluginInterface* pin = CreateInstance(W(g_root), nullptr);
    ASSERT_NE(pin, nullptr);
    pin->Release();
    ASSERT_TRUE(fs::is_directory(LogFolder())) << LogFolder();
  }

  void TearDown() override {
    const std::string found = TakeJniWarnings();
    EXPECT_TRUE(found.empty()) << "the JVM printed JNI warnings (" << found << "); see the output above";
    if (::testing::UnitTest::GetInstance()->Passed() && std::getenv("KQ_KEEP_TEST_ROOT") == nullptr) {
      std::error_code ignored;
      fs::remove_all(g_root, ignored);
    } else {
      std::fprintf(stderr, "test installation root kept: %s\n", g_root.c_str());
    }
  }
};

}  // namespace

JavaVM* TestVm() { return g_vm; }

JNIEnv* CurrentEnv() {
  void* env = nullptr;
  if (g_vm == nullptr || g_vm->GetEnv(&env, JNI_VERSION_1_6) != JNI_OK) return nullptr;
  return static_cast<JNIEnv*>(env);
}

const std::string& InstallRoot() { return g_root; }

void LogReader::Mark() { mark_ = LogBytes().size() / 2; }

Lines LogReader::Since() const {
  std::string bytes = LogBytes();
  bytes.erase(0, bytes.size() >= 2 * mark_ ? 2 * mark_ : 0);  // all of it if the log rotated
  Lines messages;
  for (const kq::testing::LogRecord& record : kq::testing::LogRecords(bytes)) {
    if (record.text == KQ_W("<torn>")) {
      ADD_FAILURE() << "the log does not go on with a record: " << U8(record.raw.substr(0, 60));
      break;
    }
    messages.push_back(U8(record.text));
  }
  return messages;
}

std::string TakeJniWarnings() {
  std::lock_guard<std::mutex> lock(g_outputMutex);
  const std::string found = WarningsIn(g_output, 0);
  g_output.clear();
  return found;
}

WString W(const std::string& utf8) { return platform::Widen(utf8); }
std::string U8(const WString& text) { return platform::WideToAnsi(text); }
std::string Utf8(JNIEnv* env, jstring text) {
  ScopedStringChars chars(env, text);
  return text == nullptr ? "null" : U8(WString(reinterpret_cast<const WChar*>(chars.get()), size_t(chars.size())));
}

// Each element as `show` writes it, `separator` between them.
template <typename List, typename ShowOne> std::string Joined(const List& list, const char* separator, ShowOne show) {
  std::string text;
  for (const auto& e : list) text += (&e == &*list.begin() ? "" : separator) + show(e);
  return text;
}

std::string Show(const MetaDataMap& map) {
  return Joined(map, ",", [](const auto& e) { return U8(e.first) + "=" + U8(e.second.szProperty); });
}
std::string Show(const ObjectSubList& list) {
  return Joined(list, ";",
                [](const auto& f) { return U8(f.first) + (f.second ? "{" + Show(*f.second) + "}" : "<null>"); });
}
std::string Show(const WStringList& list) { return Joined(list, ",", U8); }

std::string Show(const AccountInfoRecord& i) {
  return std::to_string(i.reserved) + "," + U8(i.accountIndentity) + "," + U8(i.accountType) + "," + U8(i.displayName) +
         "," + U8(i.emailAddress) + "," + std::to_string(i.usedSizeInByteTotal) + "," +
         std::to_string(i.remainedSizeInByteTotal);
}

}  // namespace test
}  // namespace kq

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new kq::test::JvmEnvironment);
  const int status = RUN_ALL_TESTS();
  kq::test::EndCapture();
  return status;
}
