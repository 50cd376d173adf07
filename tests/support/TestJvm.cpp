#include "tests/support/TestJvm.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace kq {
namespace test {
namespace {

namespace fs = std::filesystem;

JavaVM* g_vm = nullptr;
std::string g_root;

std::mutex g_outputMutex;
std::string g_output;

// The texts that make a run fail when the JVM prints them.
const char* const kJniWarnings[] = {"WARNING in native method", "JNI local refs"};

// HotSpot prints through this hook (its tty and the -Xcheck:jni warnings);
// the text is kept for the checks and passed on to stderr.
jint JNICALL CaptureOutput(FILE* stream, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[1024];
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  std::string text;
  if (needed >= 0 && static_cast<size_t>(needed) < sizeof small) {
    text.assign(small, static_cast<size_t>(needed));
  } else if (needed >= 0) {
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    va_copy(copy, args);
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    text.assign(big.data(), static_cast<size_t>(needed));
  }
  {
    std::lock_guard<std::mutex> lock(g_outputMutex);
    g_output += text;
  }
  std::fputs(text.c_str(), stream == stdout ? stdout : stderr);
  return static_cast<jint>(text.size());
}

std::string WarningsIn(const std::string& output) {
  std::string found;
  for (const char* warning : kJniWarnings) {
    if (output.find(warning) != std::string::npos) found += std::string(found.empty() ? "" : ", ") + warning;
  }
  return found;
}

std::string ProgramName() {
  std::error_code ignored;
  const fs::path self = fs::read_symlink("/proc/self/exe", ignored);
  return self.empty() ? std::string("test") : self.filename().string();
}

// Names the tests during which the JVM printed a JNI warning.
class JniWarningListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo& /*info*/) override { seen_ = JvmOutput().size(); }
  void OnTestEnd(const ::testing::TestInfo& info) override {
    const std::string output = JvmOutput();
    const std::string found = WarningsIn(output.substr(std::min(seen_, output.size())));
    if (!found.empty()) {
      std::fprintf(stderr, "[  JNI    ] %s.%s made the JVM print: %s\n", info.test_suite_name(), info.name(),
                   found.c_str());
    }
  }

 private:
  size_t seen_ = 0;
};

class JvmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    MakeInstallRoot();
    StartJvm();
    // Pin the process's log to this root before any test can name another.
    ICloudPluginInterface* pin = CreateInstance(InstallRootW(), nullptr);
    ASSERT_NE(pin, nullptr);
    pin->Release();
    ASSERT_TRUE(fs::is_directory(LogFolder())) << LogFolder();
  }

  void TearDown() override {
    const std::string found = WarningsIn(JvmOutput());
    EXPECT_TRUE(found.empty()) << "the JVM printed JNI warnings (" << found << "); see the output above";
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    if (unit.Passed() && found.empty() && std::getenv("KQ_KEEP_TEST_ROOT") == nullptr) {
      std::error_code ignored;
      fs::remove_all(g_root, ignored);
    } else {
      std::fprintf(stderr, "test installation root kept: %s\n", g_root.c_str());
    }
  }

 private:
  static void MakeInstallRoot() {
    std::string pattern = (fs::temp_directory_path() / ("kq-" + ProgramName() + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    ASSERT_NE(mkdtemp(buffer.data()), nullptr) << pattern;
    g_root = buffer.data();
    fs::create_directories(fs::path(g_root) / "Plugin" / "Azure");
  }

  static void StartJvm() {
    std::string classPath = std::string("-Djava.class.path=") + TestClassPath();
    std::vector<JavaVMOption> options;
    auto add = [&options](const char* text, void* extra = nullptr) {
      JavaVMOption option;
      option.optionString = const_cast<char*>(text);
      option.extraInfo = extra;
      options.push_back(option);
    };
    add(classPath.c_str());
    add("-Xcheck:jni");
    add("vfprintf", reinterpret_cast<void*>(&CaptureOutput));
    // A small, quick JVM: the tests need no throughput.
    add("-Xmx128m");
    add("-XX:+UseSerialGC");
    add("-XX:TieredStopAtLevel=1");
    JavaVMInitArgs args;
    args.version = JNI_VERSION_1_8;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_FALSE;
    JNIEnv* env = nullptr;
    const jint rc = JNI_CreateJavaVM(&g_vm, reinterpret_cast<void**>(&env), &args);
    ASSERT_EQ(rc, JNI_OK) << "JNI_CreateJavaVM failed";
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
WString InstallRootW() { return W(g_root); }
std::string LogFolder() { return (fs::path(g_root) / "Plugin" / "Azure" / "Log").string(); }

std::string JvmOutput() {
  std::lock_guard<std::mutex> lock(g_outputMutex);
  return g_output;
}

void RunOnNewThread(const std::function<void()>& body) {
  std::thread thread(body);
  thread.join();
}

WString W(const std::string& utf8) { return platform::Widen(utf8); }
std::string U8(const WString& text) { return platform::WideToAnsi(text); }

}  // namespace test
}  // namespace kq

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new kq::test::JvmEnvironment);
  ::testing::UnitTest::GetInstance()->listeners().Append(new kq::test::JniWarningListener);
  return RUN_ALL_TESTS();
}
