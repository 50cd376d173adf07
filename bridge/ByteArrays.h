// The Java byte arrays that carry object data for one call, and the copy of
// a read's bytes back into the host's buffer.
#ifndef KQ_BRIDGE_BYTEARRAYS_H_
#define KQ_BRIDGE_BYTEARRAYS_H_

#include <jni.h>

#include <cstdint>

namespace kq {

// The JNI length of a data array: the low 32 bits of the host's 64-bit size,
// read as a signed count.  Sizes whose low 32 bits reach 2^31 give a negative
// length, which no array can have.
inline jsize ArrayLengthOf(uint64_t size) noexcept {
  return static_cast<jsize>(static_cast<int32_t>(static_cast<uint32_t>(size & 0xFFFFFFFFu)));
}

// A new Java byte array holding the first `length` bytes of `buffer`, or
// null.  On null, the VM's exception (if it raised one) is left pending for
// the caller to describe or clear.  A null buffer cannot fill a non-empty
// array and gives null without any exception.
jbyteArray BufferToJByteArray(JNIEnv* env, const unsigned char* buffer, jsize length);

// A new zero-filled Java byte array of `length` bytes, or null (exception
// left pending as above).
jbyteArray NewEmptyJByteArray(JNIEnv* env, jsize length);

// Copies the first `count` bytes of `array` to the start of `buffer`; the
// rest of the buffer is not touched.  The bytes go straight from the Java
// heap into the buffer, with no intermediate copy.  False when the bytes
// cannot be obtained (nothing is copied then and no exception is left
// pending).  The caller keeps `count` within the array and the buffer.
bool CopyFromJByteArray(JNIEnv* env, jbyteArray array, jsize count, unsigned char* buffer);

}  // namespace kq

#endif  // KQ_BRIDGE_BYTEARRAYS_H_
