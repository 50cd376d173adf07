// Helpers of the record and metadata tests: Java values made by the test
// double's Script, local frames, and text renderings of host values.
#ifndef KQ_TESTS_RECORDS_RECORDSTESTSUPPORT_H_
#define KQ_TESTS_RECORDS_RECORDSTESTSUPPORT_H_

#include <jni.h>

#include <string>
#include <vector>

#include "bridge/ScopedJni.h"
#include "kq/CloudPluginInterface.h"

namespace kq {
namespace test {

// What DescribePendingException prints for each exception it clears.
extern const char kDescribed[];

// A local frame of `capacity` references for the scope.  -Xcheck:jni warns
// (and so fails the run) when more references are alive in it, which makes
// a reader that keeps references per element or per call show up.
class LocalFrame {
 public:
  LocalFrame(JNIEnv* env, jint capacity);
  ~LocalFrame();
  LocalFrame(const LocalFrame&) = delete;
  LocalFrame& operator=(const LocalFrame&) = delete;

 private:
  JNIEnv* env_;
};

// Script.build(className, assignments): a record of the model classes
// (simple or dotted name) with the given "field=VALUE" assignments.
ScopedLocalRef<jobject> Build(JNIEnv* env, const std::string& className,
                              const std::vector<std::string>& assignments);
// Script.parse(value): a value in the Script's text forms ("md:a=1|b=2").
ScopedLocalRef<jobject> Parse(JNIEnv* env, const std::string& value);

// Host text from ASCII with \uXXXX escapes, and back.
WString Wide(const std::string& text);
std::string Show(const WString& text);
std::string Show(const WStringList& list);         // a,b,c
std::string Show(const MetaDataMap& map);          // k=v,k2=v2 (":T" when the type is not 0)
std::string Show(const ObjectSubList& list);       // f1{k=v};f2{}
// The text of a Java string, "<null>" for null.
std::string Show(JNIEnv* env, jstring text);

// The names of a CPluginMetaData array in array order, with their value
// text and type name: "a=1:STRING,b=<null>:<null>".
std::string ShowMetaDataArray(JNIEnv* env, jobjectArray array);

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_RECORDS_RECORDSTESTSUPPORT_H_
