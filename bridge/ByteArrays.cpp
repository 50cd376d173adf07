#include "bridge/ByteArrays.h"

namespace kq {

namespace {

// Every data array is made with room for two more local references, so a
// thread that already holds many cannot run the frame out of slots.
jbyteArray NewByteArrayWithRoom(JNIEnv* env, jsize length) {
  if (env->EnsureLocalCapacity(2) < 0) return nullptr;
  return env->NewByteArray(length);
}

}  // namespace

jbyteArray BufferToJByteArray(JNIEnv* env, const unsigned char* buffer, jsize length) {
  if (buffer == nullptr && length > 0) return nullptr;
  jbyteArray array = NewByteArrayWithRoom(env, length);
  if (array != nullptr && length > 0) {
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(buffer));
  }
  return array;
}

jbyteArray NewEmptyJByteArray(JNIEnv* env, jsize length) { return NewByteArrayWithRoom(env, length); }

bool CopyFromJByteArray(JNIEnv* env, jbyteArray array, jsize count, unsigned char* buffer) {
  if (array == nullptr || count < 0) return false;
  if (count == 0) return true;
  if (buffer == nullptr) return false;
  // GetByteArrayRegion copies from the heap straight into the buffer.
  // GetByteArrayElements would first copy the whole array into a fresh
  // allocation (HotSpot never pins for it) and then need a second copy.
  env->GetByteArrayRegion(array, 0, count, reinterpret_cast<jbyte*>(buffer));
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return false;
  }
  return true;
}

}  // namespace kq
