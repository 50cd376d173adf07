// The plug-in's process-wide log: time-stamped UTF-16 records appended to
// JNIWrapper0.log, rotated through JNIWrapper1.log .. JNIWrapper10.log, and
// serialised across threads and processes by a named mutex.
#ifndef KQ_LOG_JNIWRAPPERLOG_H_
#define KQ_LOG_JNIWRAPPERLOG_H_

#include <cstdint>

#include "kq/CloudPluginInterface.h"
#include "platform/Platform.h"

class CJNIWrapperLog {
 public:
  // The process-wide writer.  The first folder given in a process wins; later
  // calls return the same writer whatever folder they name.  The folder must
  // exist.  Null only if the writer cannot be allocated.
  static CJNIWrapperLog* GetInstance(const WString& folder);

  // Writing never fails the caller: a record that cannot be made or written
  // is lost, and nothing is thrown.
  void Write(kq::WStringView text) noexcept;
  // One record of message + text, with nothing in between.
  void Write(kq::WStringView message, kq::WStringView text) noexcept;
  void WriteLevel3(kq::WStringView text) noexcept;

  // Files rotate once the current one reaches this size.
  static constexpr int64_t kRotateBytes = 10485760;
  static constexpr int kOldestFile = 10;

  const WString& folder() const { return m_folder; }
  // Builds one record exactly as Write appends it (tests and benchmarks).
  static WString FormatRecord(const kq::platform::LocalTime& time, uint32_t pid, uint32_t tid, const WString& text);

 private:
  explicit CJNIWrapperLog(const WString& folder);
  WString FileName(int n) const;
  void RotateIfNeeded(kq::platform::File& file);
  static void AppendRecord(WString& out, const kq::platform::LocalTime& time, uint32_t pid, uint32_t tid,
                           kq::WStringView message, kq::WStringView text);

  int32_t m_level;
  WString m_folder;
  WString m_filePath;
  // m_filePath in the system's form, made once rather than for every record.
  kq::platform::SystemPath m_systemPath;
  kq::platform::NamedMutex m_hMutex;
  int64_t m_fileSize;
  // Reused for every record while the mutex is held, so that a steady stream
  // of messages allocates nothing.
  WString m_record;
};

namespace kq {

// The writers for callers whose log may not be set: nothing is written then.
inline void WriteLine(CJNIWrapperLog* log, WStringView text) noexcept {
  if (log != nullptr) log->Write(text);
}
inline void WriteLine(CJNIWrapperLog* log, WStringView message, WStringView text) noexcept {
  if (log != nullptr) log->Write(message, text);
}
inline void WriteLineLevel3(CJNIWrapperLog* log, WStringView text) noexcept {
  if (log != nullptr) log->WriteLevel3(text);
}

}  // namespace kq

#endif  // KQ_LOG_JNIWRAPPERLOG_H_
