// The process-wide JVM holder and the bridge's question whether the VM is
// ready.
#include "bridge/JvmHost.h"

#include <cstdio>
#include <string>

#include "bridge/JniWrapper.h"
#include "log/HostTexts.h"

namespace {

// The Java library and the jars it needs, in class-path order.  Each name
// carries the ';' that ends its class-path entry.
const WChar* const kJars[] = {
    KQ_W("KQAzurePlugIn.jar;"),          KQ_W("log4j-1.2.15.jar;"),
    KQ_W("commons-logging-1.1.1.jar;"),  KQ_W("KQ-AWSSDK.jar;"),
    KQ_W("httpclient-4.1.1.jar;"),       KQ_W("commons-codec-1.4.jar;"),
    KQ_W("jackson-core-asl-1.9.2.jar;"), KQ_W("stax-1.2.0.jar;"),
    KQ_W("stax-api-1.0.1.jar;"),
};

const WChar kClassPathOption[] = KQ_W("-Djava.class.path=.;");

// <root><sep>Plugin<sep>Azure<sep>
WString JarFolder(const WString& installPath) {
  const WChar sep = kq::platform::kPathSeparator;
  // The root is taken up to its first zero, like every text the host hands in.
  WString folder(installPath.c_str());
  folder += sep;
  folder += KQ_W("Plugin");
  folder += sep;
  folder += KQ_W("Azure");
  folder += sep;
  return folder;
}

// Built while the library is loaded, so that "JVM_MUTEX" exists from then on
// whatever the host calls first.  The holder itself is a function-local
// static: it is safe to reach from any other initialiser, and it is destroyed
// when the library is unloaded (a host that loads and unloads the plug-in
// repeatedly leaks nothing).  It writes no log line, so where its destruction
// falls relative to the log's does not matter.
[[maybe_unused]] CJVMHost& g_hostAtLoad = CJVMHost::Instance();

}  // namespace

CJVMHost& CJVMHost::Instance() {
  static CJVMHost host;
  return host;
}

CJVMHost::CJVMHost() : m_env(nullptr), m_refCount(0), m_vm(nullptr), m_hMutex("JVM_MUTEX") {}

CJVMHost::~CJVMHost() = default;

void CJVMHost::RegisterVM(JavaVM* vm) noexcept { m_vm.store(vm); }

uint32_t CJVMHost::AcquireJVM(const WString& installPath, JavaVM** out) noexcept {
  try {
    kq::platform::CriticalSectionLock guard(m_lock);
    if (m_refCount > 0) {
      if (out == nullptr) return KQ_BRIDGE_FAILURE;
      ++m_refCount;
      *out = m_vm.load();
      return KQ_OK;
    }
    m_installDir = JarFolder(installPath);
    m_classPath = kClassPathOption;
    for (const WChar* jar : kJars) {
      std::printf("%s%s", kq::text::kClassPathPrefix, kq::platform::WideToAnsi(m_classPath).c_str());
      m_classPath += m_installDir;
      m_classPath += jar;
    }
    JNIEnv* env = CreateJVM(m_classPath);
    JavaVM* vm = m_vm.load();
    if (env == nullptr || vm == nullptr || out == nullptr) return KQ_BRIDGE_FAILURE;
    ++m_refCount;
    *out = vm;
    return KQ_OK;
  } catch (...) {
    return KQ_BRIDGE_FAILURE;
  }
}

JNIEnv* CJVMHost::CreateJVM(WString option) {
  kq::platform::CriticalSectionLock guard(m_lock);
  // The arguments a VM for the library would take.  The VM is the host's, so
  // they are only prepared, never handed to JNI_CreateJavaVM.
  std::string narrow = kq::platform::WideToAnsi(option);
  JavaVMOption options[1];
  options[0].optionString = narrow.empty() ? nullptr : &narrow[0];
  options[0].extraInfo = nullptr;
  JavaVMInitArgs args;
  args.version = JNI_VERSION_1_6;
  args.nOptions = 1;
  args.options = options;
  args.ignoreUnrecognized = JNI_FALSE;
  (void)args;
  std::printf("%s", kq::text::kAttemptingToCreateJvm);
  return m_env;
}

WString CJVMHost::ClassPath() {
  kq::platform::CriticalSectionLock guard(m_lock);
  return m_classPath;
}

WString CJVMHost::InstallDir() {
  kq::platform::CriticalSectionLock guard(m_lock);
  return m_installDir;
}

int32_t CJVMHost::RefCount() {
  kq::platform::CriticalSectionLock guard(m_lock);
  return m_refCount;
}

int CJNIWrapper::InitialiseCommunication(WString installPath) {
  try {
    uint32_t acquired = CJVMHost::Instance().AcquireJVM(installPath, &m_jvm);
    if (m_jvm != nullptr && acquired == KQ_OK) {
      WriteLineLevel3(kq::text::kInitialiseCommunicationJvmReady);
      return 1;
    }
    WriteLine(kq::text::kInitialiseCommunicationJvmNotReady);
    return 0;
  } catch (...) {
    WriteLine(kq::text::kInitialiseCommunicationExceptionIsOccured);
    return 0;
  }
}
