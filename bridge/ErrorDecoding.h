// Turning what Java answers into the host's codes.
//
// A CErrorValue reaches the bridge two ways, and the two decoders below
// differ on purpose; both share one lookup of the class and its methods.
//
//  * kq::DecodeErrorCode (CJNIWrapper::GetErrorId) answers the host's code itself.  An error
//    object it cannot read is a failure of the bridge: 40, with the reason
//    in the plug-in log.  Used by the life-cycle calls and by every operation
//    whose Java method returns a bare CErrorValue, except the three below.
//
//  * kq::ReadErrorOrdinal yields the Java ordinal, and 40 for an error
//    object it cannot read, with the reason on the standard output.  The
//    caller maps the ordinal, so an unreadable one answers 47 (the code of
//    Java's INTERNAL_ERROR), never 40.  Used for the errorValue of every
//    result record (the record layer decodes the whole record itself and
//    reports to the console), and for the bare CErrorValue of
//    UpdateCachedObjectByHandle, UpdateCachedObjectByName and
//    DeleteObjectByHandle with an array of handles, which the host has always
//    seen decoded that way.
//
// Which operation takes which is part of what the host sees (40 versus 47)
// and must not change.
//
// The two ways of clearing a Java exception are kept apart by name as well:
// kq::jni::DescribeException writes the exception's text to the log;
// ClearExceptionWithConsoleNote only prints a fixed note to the standard
// output.
#ifndef KQ_BRIDGE_ERRORDECODING_H_
#define KQ_BRIDGE_ERRORDECODING_H_

#include <jni.h>

#include <cstdint>

class CJNIWrapperLog;

namespace kq {

// The host's code for a CErrorValue: 40 for none, or one that cannot be
// read (with the reason in `log`).
uint32_t DecodeErrorCode(JNIEnv* env, CJNIWrapperLog* log, jobject errorValue) noexcept;

// The ordinal a CErrorValue carries, or 40 when it cannot be read.
void ReadErrorOrdinal(JNIEnv* env, jobject errorValue, int32_t* ordinal);

// 1 when no Java exception is pending; else clears it, prints the console
// note and answers 0.
int ClearExceptionWithConsoleNote(JNIEnv* env);

}  // namespace kq

#endif  // KQ_BRIDGE_ERRORDECODING_H_
