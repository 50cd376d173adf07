// A short demonstration of the plug-in as a host uses it: start a Java VM
// with the scripted test library, load libKQAzurePlugin by path, create an
// instance, initialise and de-initialise the Java side, release the
// instance, and print what the plug-in wrote to its log and what the Java
// library was asked.
//
//   kq_demo_host [installation-root]
// Without an argument a fresh root is made under the temporary folder.
#include <dlfcn.h>
#include <jni.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bridge/ScopedJni.h"
#include "kq/CloudPluginInterface.h"
#include "platform/Platform.h"

namespace {

namespace fs = std::filesystem;

std::string MakeRoot(int argc, char** argv) {
  if (argc > 1) return argv[1];
  std::string pattern = (fs::temp_directory_path() / "kq-demo-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return std::string();
  return buffer.data();
}

JavaVM* StartJvm() {
  std::string classPath = std::string("-Djava.class.path=") + KQ_DEMO_CLASSPATH;
  JavaVMOption options[2];
  options[0].optionString = const_cast<char*>(classPath.c_str());
  options[0].extraInfo = nullptr;
  options[1].optionString = const_cast<char*>("-Xcheck:jni");
  options[1].extraInfo = nullptr;
  JavaVMInitArgs args;
  args.version = JNI_VERSION_1_8;
  args.nOptions = 2;
  args.options = options;
  args.ignoreUnrecognized = JNI_FALSE;
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) return nullptr;
  return vm;
}

// The log is UTF-16LE; every record starts with CR LF.
void PrintLog(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  WString text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit =
        static_cast<WChar>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (unit != u'\r') text.push_back(unit);
  }
  std::printf("---- %s ----%s\n", file.string().c_str(), kq::platform::WideToAnsi(text).c_str());
}

// What the scripted library journaled: every call with its arguments.
void PrintJournal(JavaVM* vm) {
  using kq::ScopedLocalRef;
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) return;
  std::printf("---- calls the Java library received ----\n");
  ScopedLocalRef<jclass> script(env, env->FindClass("com/kq/testdouble/Script"));
  jmethodID journal = script ? env->GetStaticMethodID(script.get(), "journal", "()[Ljava/lang/String;") : nullptr;
  ScopedLocalRef<jobjectArray> entries(
      env,
      journal != nullptr ? static_cast<jobjectArray>(env->CallStaticObjectMethod(script.get(), journal)) : nullptr);
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    env->ExceptionClear();
    return;
  }
  const jsize count = entries ? env->GetArrayLength(entries.get()) : 0;
  for (jsize i = 0; i < count; ++i) {
    ScopedLocalRef<jstring> entry(env, static_cast<jstring>(env->GetObjectArrayElement(entries.get(), i)));
    kq::ScopedStringChars chars(env, entry.get());
    const WString text(reinterpret_cast<const WChar*>(chars.get()), static_cast<size_t>(chars.size()));
    std::printf("%s\n", kq::platform::WideToAnsi(text).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root = MakeRoot(argc, argv);
  if (root.empty()) {
    std::fprintf(stderr, "cannot make an installation root\n");
    return 1;
  }
  std::error_code ignored;
  fs::create_directories(fs::path(root) / "Plugin" / "Azure", ignored);
  std::printf("installation root: %s\n", root.c_str());

  JavaVM* vm = StartJvm();
  if (vm == nullptr) {
    std::fprintf(stderr, "cannot start the Java VM\n");
    return 1;
  }
  void* library = dlopen(KQ_DEMO_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", KQ_DEMO_PLUGIN, dlerror());
    return 1;
  }
  auto create = reinterpret_cast<CreateInstanceFn>(dlsym(library, "CreateInstance"));
  if (create == nullptr) {
    std::fprintf(stderr, "%s exports no CreateInstance\n", KQ_DEMO_PLUGIN);
    return 1;
  }
  std::printf("loaded %s\n", KQ_DEMO_PLUGIN);

  JavaVM** vmLocation = &vm;
  ICloudPluginInterface* plugin = create(kq::platform::Widen(root), &vmLocation);
  if (plugin == nullptr) {
    std::fprintf(stderr, "CreateInstance gave no instance\n");
    return 1;
  }
  const uint32_t init = plugin->InitLibrary(kq::platform::Widen("demo"));
  const uint32_t deinit = plugin->DeInit();
  plugin->Release();
  std::printf("InitLibrary -> %u, DeInit -> %u, Release done\n", init, deinit);

  PrintLog(fs::path(root) / "Plugin" / "Azure" / "Log" / "JNIWrapper0.log");
  PrintJournal(vm);
  return init == 0 && deinit == 0 ? 0 : 1;
}
