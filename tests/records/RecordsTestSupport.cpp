#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace kq {
namespace test {

const char kDescribed[] = "\nException in finding the WebServiceClient class\n";

namespace {

// A Java exception from a helper is a broken test, not a finding.
void FailOnException(JNIEnv* env, const std::string& what) {
  if (!env->ExceptionCheck()) return;
  env->ExceptionDescribe();
  env->ExceptionClear();
  ADD_FAILURE() << "Java exception in " << what;
}

jclass ScriptClass(JNIEnv* env) { return env->FindClass("com/kq/testdouble/Script"); }

}  // namespace

LocalFrame::LocalFrame(JNIEnv* env, jint capacity) : env_(env) {
  if (env_->PushLocalFrame(capacity) != 0) {
    FailOnException(env_, "PushLocalFrame");
    env_ = nullptr;
  }
}

LocalFrame::~LocalFrame() {
  if (env_ != nullptr) env_->PopLocalFrame(nullptr);
}

ScopedLocalRef<jobject> Build(JNIEnv* env, const std::string& className,
                              const std::vector<std::string>& assignments) {
  ScopedLocalRef<jclass> script(env, ScriptClass(env));
  ScopedLocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
  jmethodID build =
      env->GetStaticMethodID(script.get(), "build", "(Ljava/lang/String;[Ljava/lang/String;)Ljava/lang/Object;");
  ScopedLocalRef<jobjectArray> texts(
      env, env->NewObjectArray(static_cast<jsize>(assignments.size()), stringClass.get(), nullptr));
  for (size_t i = 0; i < assignments.size(); ++i) {
    ScopedLocalRef<jstring> text(env, env->NewStringUTF(assignments[i].c_str()));
    env->SetObjectArrayElement(texts.get(), static_cast<jsize>(i), text.get());
  }
  ScopedLocalRef<jstring> name(env, env->NewStringUTF(className.c_str()));
  ScopedLocalRef<jobject> record(env, env->CallStaticObjectMethod(script.get(), build, name.get(), texts.get()));
  FailOnException(env, "Script.build(" + className + ")");
  return record;
}

ScopedLocalRef<jobject> Parse(JNIEnv* env, const std::string& value) {
  ScopedLocalRef<jclass> script(env, ScriptClass(env));
  jmethodID parse = env->GetStaticMethodID(script.get(), "parse", "(Ljava/lang/String;)Ljava/lang/Object;");
  ScopedLocalRef<jstring> text(env, env->NewStringUTF(value.c_str()));
  ScopedLocalRef<jobject> parsed(env, env->CallStaticObjectMethod(script.get(), parse, text.get()));
  FailOnException(env, "Script.parse(" + value.substr(0, 40) + ")");
  return parsed;
}

WString Wide(const std::string& text) {
  WString out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 5 < text.size() && text[i + 1] == 'u') {
      out.push_back(static_cast<WChar>(std::stoul(text.substr(i + 2, 4), nullptr, 16)));
      i += 5;
    } else {
      out.push_back(static_cast<WChar>(static_cast<unsigned char>(text[i])));
    }
  }
  return out;
}

std::string Show(const WString& text) {
  std::string out;
  for (WChar c : text) {
    const unsigned unit = static_cast<unsigned>(static_cast<uint16_t>(c));
    if (unit >= 0x20 && unit < 0x7f) {
      out.push_back(static_cast<char>(unit));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", unit);
      out += escaped;
    }
  }
  return out;
}

std::string Show(const WStringList& list) {
  std::string out;
  for (const WString& text : list) out += (out.empty() ? "" : ",") + Show(text);
  return out;
}

std::string Show(const MetaDataMap& map) {
  std::string out;
  bool first = true;
  for (const auto& entry : map) {
    out += (first ? "" : ",") + Show(entry.first) + "=" + Show(entry.second.szProperty);
    if (entry.second.prpType != 0) out += ":" + std::to_string(entry.second.prpType);
    first = false;
  }
  return out;
}

std::string Show(const ObjectSubList& list) {
  std::string out;
  bool first = true;
  for (const auto& entry : list) {
    out += (first ? "" : ";") + Show(entry.first) + "{" + (entry.second ? Show(*entry.second) : "<nullmap>") + "}";
    first = false;
  }
  return out;
}

std::string Show(JNIEnv* env, jstring text) {
  if (text == nullptr) return "<null>";
  const jsize length = env->GetStringLength(text);
  const jchar* chars = env->GetStringChars(text, nullptr);
  WString copy(reinterpret_cast<const WChar*>(chars), static_cast<size_t>(length));
  env->ReleaseStringChars(text, chars);
  return Show(copy);
}

std::string ShowMetaDataArray(JNIEnv* env, jobjectArray array) {
  if (array == nullptr) return "<null>";
  ScopedLocalRef<jclass> entryClass(env, env->FindClass("com/kq/AzureLibrary/CPluginMetaData"));
  ScopedLocalRef<jclass> valueClass(env, env->FindClass("com/kq/AzureLibrary/CPluginValue"));
  ScopedLocalRef<jclass> enumClass(env, env->FindClass("java/lang/Enum"));
  jfieldID nameId = env->GetFieldID(entryClass.get(), "szPropertyName", "Ljava/lang/String;");
  jfieldID valId = env->GetFieldID(entryClass.get(), "val", "Lcom/kq/AzureLibrary/CPluginValue;");
  jfieldID textId = env->GetFieldID(valueClass.get(), "szProperty", "Ljava/lang/String;");
  jfieldID typeId = env->GetFieldID(valueClass.get(), "prpType", "Lcom/kq/AzureLibrary/CPropertyTYPE;");
  jmethodID enumName = env->GetMethodID(enumClass.get(), "name", "()Ljava/lang/String;");
  std::string out;
  const jsize length = env->GetArrayLength(array);
  for (jsize i = 0; i < length; ++i) {
    if (i > 0) out += ",";
    ScopedLocalRef<jobject> entry(env, env->GetObjectArrayElement(array, i));
    if (!entry) {
      out += "null";
      continue;
    }
    ScopedLocalRef<jstring> name(env, static_cast<jstring>(env->GetObjectField(entry.get(), nameId)));
    ScopedLocalRef<jobject> value(env, env->GetObjectField(entry.get(), valId));
    out += Show(env, name.get()) + "=";
    if (!value) {
      out += "<noval>";
      continue;
    }
    ScopedLocalRef<jstring> text(env, static_cast<jstring>(env->GetObjectField(value.get(), textId)));
    ScopedLocalRef<jobject> type(env, env->GetObjectField(value.get(), typeId));
    ScopedLocalRef<jstring> typeName(
        env, type ? static_cast<jstring>(env->CallObjectMethod(type.get(), enumName)) : nullptr);
    FailOnException(env, "CPropertyTYPE.name()");
    out += Show(env, text.get()) + ":" + Show(env, typeName.get());
  }
  FailOnException(env, "ShowMetaDataArray");
  return out;
}

}  // namespace test
}  // namespace kq
