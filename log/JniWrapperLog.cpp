#include "log/JniWrapperLog.h"

#include <atomic>
#include <cstring>

using kq::platform::File;
using kq::platform::LocalTime;

namespace {

static_assert(sizeof(WChar) == 2, "log records are UTF-16 code units");

std::atomic<CJNIWrapperLog*> g_instance{nullptr};

// A record buffer that grew past this (one huge message) is given back
// rather than kept for the life of the process.
const size_t kKeepRecordCapacity = 64 * 1024;

// The record's head (line break, time stamp, identifiers, separator) is
// built in a stack buffer and appended in one piece: every log line pays for
// it, under the mutex.  Each field takes at most a sign and ten digits.
constexpr size_t kHeadCapacity = 2 + 7 * 11 + 6 + 3 + 8 + 3 + 8 + 1 + 2;

// printf "%0*d".
WChar* PutDecimal(WChar* out, int value, int width) {
  WChar digits[16];
  int count = 0;
  const bool negative = value < 0;
  unsigned magnitude = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<WChar>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *out++ = static_cast<WChar>(u'-');
  for (int i = count + (negative ? 1 : 0); i < width; ++i) *out++ = static_cast<WChar>(u'0');
  while (count > 0) *out++ = digits[--count];
  return out;
}

// printf "% 8x": the space flag means nothing for an unsigned conversion, so
// this is lower-case hex right-aligned in eight positions.
WChar* PutHex8(WChar* out, uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  WChar digits[8];
  int count = 0;
  do {
    digits[count++] = static_cast<WChar>(kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  for (int i = count; i < 8; ++i) *out++ = static_cast<WChar>(u' ');
  while (count > 0) *out++ = digits[--count];
  return out;
}

WChar* PutText(WChar* out, const char* ascii) {
  while (*ascii != '\0') *out++ = static_cast<WChar>(*ascii++);
  return out;
}

bool HostIsLittleEndian() {
  const uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// The file holds UTF-16LE whatever the host's byte order.  The record is
// scratch space, so a big-endian host swaps it in place.
bool WriteUtf16Le(File& file, WString& record) {
  if (!HostIsLittleEndian()) {
    for (WChar& unit : record) {
      const uint16_t u = static_cast<uint16_t>(unit);
      unit = static_cast<WChar>(static_cast<uint16_t>((u >> 8) | (u << 8)));
    }
  }
  return file.Write(record.data(), record.size() * sizeof(WChar));
}

}  // namespace

CJNIWrapperLog::CJNIWrapperLog(const WString& folder)
    : m_level(3), m_folder(folder), m_hMutex("AZURE_JNIWRAPPER_LOG_MUTEX"), m_fileSize(0) {
  m_filePath = FileName(0);
  m_systemPath = kq::platform::SystemPath(m_filePath);
}

CJNIWrapperLog* CJNIWrapperLog::GetInstance(const WString& folder) {
  CJNIWrapperLog* current = g_instance.load(std::memory_order_acquire);
  if (current != nullptr) return current;
  CJNIWrapperLog* made = nullptr;
  try {
    made = new CJNIWrapperLog(folder);
  } catch (...) {
    return nullptr;
  }
  // The host makes its first instance before it calls from several threads,
  // but should two threads still race here, one writer wins and the other
  // is dropped before anybody saw it.
  if (g_instance.compare_exchange_strong(current, made, std::memory_order_acq_rel, std::memory_order_acquire)) {
    return made;
  }
  delete made;
  return current;
}

WString CJNIWrapperLog::FileName(int n) const {
  WChar number[16];
  WString name = m_folder;
  name += kq::platform::kPathSeparator;
  name += KQ_W("JNIWrapper");
  name.append(number, static_cast<size_t>(PutDecimal(number, n, 0) - number));
  name += KQ_W(".log");
  return name;
}

void CJNIWrapperLog::AppendRecord(WString& out, const LocalTime& time, uint32_t pid, uint32_t tid,
                                  kq::WStringView message, kq::WStringView text) {
  WChar head[kHeadCapacity];
  WChar* p = PutText(head, "\r\n");
  p = PutDecimal(p, time.year, 4);
  *p++ = static_cast<WChar>(u'-');
  p = PutDecimal(p, time.month, 2);
  *p++ = static_cast<WChar>(u'-');
  p = PutDecimal(p, time.day, 2);
  *p++ = static_cast<WChar>(u' ');
  p = PutDecimal(p, time.hour, 2);
  *p++ = static_cast<WChar>(u':');
  p = PutDecimal(p, time.minute, 2);
  *p++ = static_cast<WChar>(u':');
  p = PutDecimal(p, time.second, 2);
  *p++ = static_cast<WChar>(u'.');
  p = PutDecimal(p, time.millisecond, 3);
  p = PutText(p, "  [");
  p = PutHex8(p, pid);
  p = PutText(p, "] [");
  p = PutHex8(p, tid);
  p = PutText(p, "] :");
  const size_t headSize = static_cast<size_t>(p - head);
  out.reserve(out.size() + headSize + message.size() + text.size());
  out.append(head, headSize);
  out.append(message);
  out.append(text);
}

WString CJNIWrapperLog::FormatRecord(const LocalTime& time, uint32_t pid, uint32_t tid, const WString& text) {
  WString record;
  AppendRecord(record, time, pid, tid, kq::WStringView(), text);
  return record;
}

void CJNIWrapperLog::Write(kq::WStringView text) noexcept { Write(kq::WStringView(), text); }

void CJNIWrapperLog::Write(kq::WStringView message, kq::WStringView text) noexcept {
  bool locked = false;
  try {
    locked = m_hMutex.Lock();
    // The member buffer is only ours while the mutex is held.
    WString unshared;
    WString& record = locked ? m_record : unshared;
    record.clear();
    AppendRecord(record, kq::platform::Now(), kq::platform::ProcessId(), kq::platform::ThreadId(), message, text);

    File file;
    // Without the seek the record would overwrite the start of the file.
    if (file.OpenAlways(m_systemPath) && file.SeekToEnd()) WriteUtf16Le(file, record);
    m_fileSize = file.Size();
    RotateIfNeeded(file);
    file.Close();

    if (record.capacity() > kKeepRecordCapacity) WString().swap(record);
  } catch (...) {
    // Logging never fails the caller.
  }
  if (locked) m_hMutex.Unlock();
}

void CJNIWrapperLog::WriteLevel3(kq::WStringView text) noexcept {
  if (m_level >= 3) Write(text);
}

void CJNIWrapperLog::RotateIfNeeded(File& file) {
  if (m_fileSize < kRotateBytes) return;
  try {
    file.Close();
    // A failed delete or rename (the file is busy elsewhere) only leaves
    // that file where it is; the others still move.
    kq::platform::DeleteFileAt(FileName(kOldestFile));
    for (int n = kOldestFile - 1; n >= 0; --n) {
      WString from = FileName(n);
      if (kq::platform::FileExists(from)) kq::platform::RenameFile(from, FileName(n + 1));
    }
  } catch (...) {
    // Stop renaming; the current file is reopened below all the same.
  }
  if (file.OpenAlways(m_systemPath)) file.SeekToEnd();
  m_fileSize = 0;
}
