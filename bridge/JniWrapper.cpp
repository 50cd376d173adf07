// CJNIWrapper's life cycle: the library object's creation, AzureInit and
// AzureDeInit; its lookups and decoders are those of bridge/JniHelpers.h and
// bridge/ErrorDecoding.h, for this bridge's log.
#include "bridge/JniWrapper.h"

#include "bridge/CallFrame.h"
#include "bridge/ErrorDecoding.h"
#include "bridge/JavaNames.h"
#include "bridge/JniHelpers.h"
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

// The library's class and its constructor, as StartCommunication finds them.
const kq::jni::KeptLookup kLibrary{kq::jni::kLibraryClass,
                                   {{"<init>", kq::jni::kConstructorSignature, kq::jni::MemberKind::kMethod}}};

}  // namespace

CJNIWrapper::CJNIWrapper(const WString& installPath, JavaVM*** jvmHandle)
    : m_ObjKQAzurePlugInLibrary(nullptr),
      m_jvm(jvmHandle != nullptr && *jvmHandle != nullptr ? **jvmHandle : nullptr),
      m_pLog(nullptr),
      m_installPath(installPath) {
  CJVMHost::Instance().RegisterVM(m_jvm);
}

CJNIWrapper::~CJNIWrapper() = default;

void CJNIWrapper::WriteLine(kq::WStringView text) const noexcept { kq::WriteLine(m_pLog, text); }

void CJNIWrapper::WriteLine(kq::WStringView message, kq::WStringView text) const noexcept {
  kq::WriteLine(m_pLog, message, text);
}

void CJNIWrapper::WriteLineLevel3(kq::WStringView text) const noexcept { kq::WriteLineLevel3(m_pLog, text); }

jclass CJNIWrapper::GetAzurePlugInClass(JNIEnv* env) { return kq::jni::FindLibraryClass(env, m_pLog); }

jmethodID CJNIWrapper::GetAzurePlugInObjectMethod(JNIEnv* env, jclass cls, const char* name, const char* signature) {
  return kq::jni::FindLibraryMethod(env, m_pLog, cls, name, signature);
}

int CJNIWrapper::DescribeException(JNIEnv* env) { return kq::jni::DescribeException(env, m_pLog); }

uint32_t CJNIWrapper::GetErrorId(JNIEnv* env, jobject errorValue) {
  return kq::DecodeErrorCode(env, m_pLog, errorValue);
}

uint32_t CJNIWrapper::MapErrorId(int32_t ordinal) { return kq::CodeOfOrdinal(ordinal); }

uint32_t CJNIWrapper::StartCommunication() {
  try {
    AutoAttachJVM scope(m_jvm, m_pLog);
    JNIEnv* env = scope.env();
    if (env == nullptr) return KQ_BRIDGE_FAILURE;
    kq::PendingExceptionGuard exceptionGuard(env);
    try {
      const kq::jni::KeptIds* kept = kLibrary.Kept();
      ScopedLocalRef<jclass> cls(env, kept != nullptr ? nullptr : GetAzurePlugInClass(env));
      if (kept == nullptr && !cls) return KQ_BRIDGE_FAILURE;
      jmethodID constructor = kept != nullptr
                                  ? kept->methods[0]
                                  : env->GetMethodID(cls.get(), kLibrary.begin()->name, kLibrary.begin()->signature);
      if (constructor == nullptr) {
        WriteLine(kq::text::kStartCommunicationNoConstructor);
        return KQ_BRIDGE_FAILURE;
      }
      if (kept == nullptr) {
        kq::jni::KeptIds found;
        found.methods[0] = constructor;
        kLibrary.Keep(env, cls.get(), found);
      }
      jclass libraryClass = kept != nullptr ? kept->cls : cls.get();
      ScopedLocalRef<jstring> path(env, kq::WideToJString(env, m_installPath));
      if (!path) {
        DescribeException(env);
        WriteLine(kq::text::kStartCommunicationFailedToJstring);
        return KQ_BRIDGE_FAILURE;
      }
      ScopedLocalRef<jobject> library(env, env->NewObject(libraryClass, constructor, path.get()));
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
