// CJNIWrapper's life cycle: the library object's creation, AzureInit and
// AzureDeInit, and the class and method lookups every operation shares.
#include "bridge/JniWrapper.h"

#include "bridge/CallFrame.h"
#include "bridge/JavaNames.h"
#include "bridge/JvmHost.h"
#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"

using kq::ClassMissing;
using kq::JavaCall;
using kq::OperationInfo;
using kq::ScopedLocalRef;

namespace {

constexpr const WChar* kCouldNotGetErrorObject = kq::text::kInitCouldNotGetTheErrorObject;

// The life-cycle calls.
const OperationInfo kInit{"AzureInit",
                          kq::jni::kAzureInitSignature,
                          KQ_W("Init"),
                          ClassMissing::kDescribeAndFail,
                          kq::text::kJclsKQAzurePlugInLibraryIsNULL,
                          kCouldNotGetErrorObject};
const OperationInfo kInitWithPath{"AzureInit", kq::jni::kAzureInitSignature, KQ_W("Init"), ClassMissing::kFail};
const OperationInfo kDeInit{"AzureDeInit", kq::jni::kNoArgsToErrorValue, KQ_W("DeInit"), ClassMissing::kFail};

}  // namespace

CJNIWrapper::CJNIWrapper(const WString& installPath, JavaVM*** jvmHandle)
    : m_ObjKQAzurePlugInLibrary(nullptr),
      m_jvm(jvmHandle != nullptr && *jvmHandle != nullptr ? **jvmHandle : nullptr),
      m_pLog(nullptr),
      m_installPath(installPath) {
  CJVMHost::Instance().RegisterVM(m_jvm);
}

CJNIWrapper::~CJNIWrapper() = default;

void CJNIWrapper::WriteLine(kq::WStringView text) const noexcept {
  try {
    if (m_pLog != nullptr) m_pLog->Write(text);
  } catch (...) {
  }
}

void CJNIWrapper::WriteLine(kq::WStringView message, kq::WStringView text) const noexcept {
  try {
    if (m_pLog != nullptr) m_pLog->Write(message, text);
  } catch (...) {
  }
}

void CJNIWrapper::WriteLineLevel3(kq::WStringView text) const noexcept {
  try {
    if (m_pLog != nullptr) m_pLog->WriteLevel3(text);
  } catch (...) {
  }
}

jclass CJNIWrapper::GetAzurePlugInClass(JNIEnv* env) {
  try {
    jclass cls = env->FindClass(kq::jni::kLibraryClass);
    if (cls == nullptr) {
      DescribeException(env);
      WriteLine(kq::text::kGetAzurePlugInClassClassObjectIsNotGot);
    }
    return cls;
  } catch (...) {
    WriteLine(kq::text::kGetAzurePlugInClassExceptionIsOccured);
    return nullptr;
  }
}

jmethodID CJNIWrapper::GetAzurePlugInObjectMethod(JNIEnv* env, jclass cls, const char* name, const char* signature) {
  try {
    if (cls != nullptr) {
      jmethodID method = env->GetMethodID(cls, name, signature);
      if (method != nullptr) return method;
    }
    DescribeException(env);
    WriteLine(kq::text::kMethodIsNotGotPrefix);
    WriteLine(kq::platform::Widen(name));
    WriteLine(kq::platform::Widen(signature));
    return nullptr;
  } catch (...) {
    WriteLine(kq::text::kGetAzurePlugInObjectMethodExceptionIsOccured);
    return nullptr;
  }
}

uint32_t CJNIWrapper::StartCommunication() {
  try {
    AutoAttachJVM scope(m_jvm, m_pLog);
    JNIEnv* env = scope.env();
    if (env == nullptr) return KQ_BRIDGE_FAILURE;
    kq::PendingExceptionGuard exceptionGuard(env);
    try {
      ScopedLocalRef<jclass> cls(env, GetAzurePlugInClass(env));
      if (!cls) return KQ_BRIDGE_FAILURE;
      jmethodID constructor = env->GetMethodID(cls.get(), "<init>", kq::jni::kConstructorSignature);
      if (constructor == nullptr) {
        WriteLine(kq::text::kStartCommunicationNoConstructor);
        return KQ_BRIDGE_FAILURE;
      }
      ScopedLocalRef<jstring> path(env, kq::WideToJString(env, m_installPath));
      if (!path) {
        DescribeException(env);
        WriteLine(kq::text::kStartCommunicationFailedToJstring);
        return KQ_BRIDGE_FAILURE;
      }
      ScopedLocalRef<jobject> library(env, env->NewObject(cls.get(), constructor, path.get()));
      if (!library) {
        DescribeException(env);
        WriteLine(kq::text::kStartCommunicationNoObject);
        return KQ_BRIDGE_FAILURE;
      }
      // A second start replaces the object; the old reference is released so
      // the old library object can be collected.
      if (m_ObjKQAzurePlugInLibrary != nullptr) env->DeleteGlobalRef(m_ObjKQAzurePlugInLibrary);
      m_ObjKQAzurePlugInLibrary = env->NewGlobalRef(library.get());
      return m_ObjKQAzurePlugInLibrary != nullptr ? KQ_OK : KQ_BRIDGE_FAILURE;
    } catch (...) {
      WriteLine(kq::text::kStartCommunicationExceptionIsOccured);
      return KQ_BRIDGE_FAILURE;
    }
  } catch (...) {
    return KQ_BRIDGE_FAILURE;
  }
}

uint32_t CJNIWrapper::Init(WString initArg) {
  if (m_jvm == nullptr) {
    WriteLine(kq::text::kJVMIsNotCreatedProperly);
    return KQ_BRIDGE_FAILURE;
  }
  return RunOperation(kInit, [&](JavaCall& call) -> uint32_t {
    JNIEnv* env = call.env();
    auto arg = call.String(initArg);
    auto path = call.String(m_installPath);
    if (!arg || !path) {
      DescribeException(env);
      WriteLine(kCouldNotGetErrorObject);
      return KQ_BRIDGE_FAILURE;
    }
    auto result = call.CallObjectKeepingException(arg.get(), path.get());
    if (!result) {
      DescribeException(env);
      WriteLine(kCouldNotGetErrorObject);
      return KQ_BRIDGE_FAILURE;
    }
    return GetErrorId(env, result.get());
  });
}

uint32_t CJNIWrapper::InitWithPath(WString initArg, WString installPath) {
  if (m_jvm == nullptr) {
    WriteLine(kq::text::kJVMIsNotCreatedProperly);
    return KQ_BRIDGE_FAILURE;
  }
  return RunOperation(kInitWithPath, [&](JavaCall& call) -> uint32_t {
    JNIEnv* env = call.env();
    auto arg = call.String(initArg);
    auto path = call.String(installPath);
    if (!arg || !path) return KQ_BRIDGE_FAILURE;
    auto result = call.CallObjectKeepingException(arg.get(), path.get());
    if (!result) return KQ_BRIDGE_FAILURE;
    if (DescribeException(env) == 0) return KQ_BRIDGE_FAILURE;
    return GetErrorId(env, result.get());
  });
}

uint32_t CJNIWrapper::DeInit() {
  return RunOperation(kDeInit, [&](JavaCall& call) -> uint32_t {
    JNIEnv* env = call.env();
    uint32_t code = KQ_BRIDGE_FAILURE;
    {
      auto result = call.CallObjectKeepingException();
      code = GetErrorId(env, result.get());
      if (DescribeException(env) == 0) {
        code = KQ_BRIDGE_FAILURE;
      } else {
        WriteLineLevel3(kq::text::kDeInitVmCalled);
      }
    }
    // Whatever the library answered, this bridge is done with the object.
    env->DeleteGlobalRef(m_ObjKQAzurePlugInLibrary);
    m_ObjKQAzurePlugInLibrary = nullptr;
    return code;
  });
}
