#include "Jvm.h"

#include <algorithm>
#include <system_error>

namespace kqhost {

namespace fs = std::filesystem;

namespace {
constexpr const char* kLibraryJar = "KQAzurePlugIn.jar";
#ifdef _WIN32
constexpr char kPathSeparator = ';';
#else
constexpr char kPathSeparator = ':';
#endif
}  // namespace

std::vector<fs::path> LibraryJars(const fs::path& folder, std::string* error) {
  std::vector<fs::path> jars;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    *error = "Java library folder " + folder.u8string() + " does not exist (build java/azure first)";
    return {};
  }
  bool haveLibrary = false;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".jar") continue;
    if (it->path().filename() == kLibraryJar)
      haveLibrary = true;
    else
      jars.push_back(it->path());
  }
  if (ec) {
    *error = "cannot list " + folder.u8string() + ": " + ec.message();
    return {};
  }
  if (!haveLibrary) {
    *error = "Java library folder " + folder.u8string() + " holds no " + kLibraryJar;
    return {};
  }
  std::sort(jars.begin(), jars.end());
  jars.insert(jars.begin(), folder / kLibraryJar);
  return jars;
}

std::string JoinClassPath(const std::vector<fs::path>& jars) {
  std::string cp;
  for (const auto& jar : jars) {
    if (!cp.empty()) cp.push_back(kPathSeparator);
    cp += jar.u8string();
  }
  return cp;
}

std::unique_ptr<Jvm> Jvm::Create(const std::vector<fs::path>& jars, const std::vector<std::string>& options,
                                 std::string* error) {
  std::vector<std::string> texts;
  texts.push_back("-Djava.class.path=" + JoinClassPath(jars));
  texts.insert(texts.end(), options.begin(), options.end());
  std::vector<JavaVMOption> vmOptions(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    vmOptions[i].optionString = texts[i].data();
    vmOptions[i].extraInfo = nullptr;
  }
  JavaVMInitArgs args;
  args.version = JNI_VERSION_1_8;
  args.nOptions = static_cast<jint>(vmOptions.size());
  args.options = vmOptions.data();
  args.ignoreUnrecognized = JNI_FALSE;

  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  jint rc = JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args);
  if (rc != JNI_OK) {
    *error = "the Java VM could not be created (JNI code " + std::to_string(rc) +
             (rc == JNI_EEXIST ? ", a VM already exists" : rc == JNI_EINVAL ? ", an option was refused" : "") + ")";
    return nullptr;
  }
  vm->DetachCurrentThread();
  return std::unique_ptr<Jvm>(new Jvm(vm));
}

Jvm::~Jvm() {
  // The VM is left running: DestroyJavaVM would wait for every non-daemon
  // thread the library's HTTP stack may have started, and a VM cannot be
  // created twice in one process anyway.  The process exit ends it.
}

}  // namespace kqhost
