// Every code the plug-in answers the host, in one place.
//
// Most codes are a Java ERRORID (com/kq/KQCloudPluginInterface/ERRORID)
// turned into the host's numbering by kCodeOfOrdinal below; the names are
// the Java constants' names.  Two codes are the plug-in's own and no ordinal
// ever maps to them: 40 (the bridge itself failed: no VM, class or method,
// a Java exception, no result) and 41 (a Java byte array could not be made).
// 2 is also what a manager without a bridge answers.
//
// The numbers are part of the host interface and never change.  The Java
// library README's error table is checked against this file by a test.
#ifndef KQ_RETURN_CODES_H_
#define KQ_RETURN_CODES_H_

#include <cstddef>
#include <cstdint>

enum : uint32_t {
  KQ_OK = 0,
  KQ_FAILURE = 1,
  KQ_NOT_INITIALIZED = 2,
  KQ_OBJECT_NOT_FOUND = 4,
  KQ_CONTAINER_NOT_FOUND = 5,
  KQ_ACCESS_DENIED = 6,
  KQ_INVALID_ARGUMENT = 7,
  KQ_AUTHENTICATION_FAILED = 8,
  KQ_OBJECT_ALREADY_EXISTS = 9,
  KQ_CONTAINER_ALREADY_EXISTS = 10,
  KQ_INVALID_HANDLE = 11,
  KQ_HANDLE_IN_USE = 12,
  KQ_READ_FAILED = 13,
  KQ_BUFFER_UNAVAILABLE = 14,
  KQ_WRITE_FAILED = 15,
  KQ_COMMIT_FAILED = 16,
  KQ_DELETE_FAILED = 17,
  KQ_INVALID_METADATA = 18,
  KQ_METADATA_NOT_FOUND = 19,
  KQ_NETWORK_ERROR = 20,
  KQ_TIMEOUT = 21,
  KQ_THROTTLED = 22,
  KQ_SERVICE_UNAVAILABLE = 23,  // also every ordinal the table does not know
  KQ_NOT_SUPPORTED = 24,        // also the answer of every optional operation left out
  KQ_QUOTA_EXCEEDED = 25,
  KQ_CONFLICT = 26,
  KQ_PRECONDITION_FAILED = 27,
  KQ_INVALID_CONNECTION_STRING = 29,
  KQ_CONTAINER_BEING_DELETED = 30,  // also INVALID_CONFIGURATION (ordinal 27)
  KQ_INVALID_NAME = 31,
  KQ_OFFSET_OUT_OF_RANGE = 32,
  KQ_SIZE_MISMATCH = 33,
  KQ_INTEGRITY_ERROR = 34,
  KQ_ACCOUNT_INFO_UNAVAILABLE = 35,
  KQ_STORAGE_KEY_UNAVAILABLE = 36,
  KQ_JOB_INFO_REJECTED = 37,
  KQ_BACKUP_NOT_ALLOWED = 38,
  KQ_BRIDGE_FAILURE = 40,  // the plug-in's own
  KQ_ARRAY_NOT_MADE = 41,  // the plug-in's own
  KQ_CANCELLED = 42,
  KQ_OUT_OF_MEMORY = 43,
  KQ_LIBRARY_CLOSED = 45,
  KQ_SESSION_CLOSED = 46,
  KQ_INTERNAL_ERROR = 47,
};

namespace kq {

// The host's code for each Java ordinal, 0 to 48.  Ordinals 38, 39 and 41
// give 1 and 44 to 46 give 23: they only hold the Java numbering.
inline constexpr uint32_t kCodeOfOrdinal[] = {
    KQ_OK,                         // 0 SUCCESS
    KQ_FAILURE,                    // 1 FAILURE
    KQ_NOT_INITIALIZED,            // 2 NOT_INITIALIZED
    KQ_INVALID_ARGUMENT,           // 3 INVALID_ARGUMENT
    KQ_OBJECT_NOT_FOUND,           // 4 OBJECT_NOT_FOUND
    KQ_CONTAINER_NOT_FOUND,        // 5 CONTAINER_NOT_FOUND
    KQ_ACCESS_DENIED,              // 6 ACCESS_DENIED
    KQ_AUTHENTICATION_FAILED,      // 7 AUTHENTICATION_FAILED
    KQ_OBJECT_ALREADY_EXISTS,      // 8 OBJECT_ALREADY_EXISTS
    KQ_CONTAINER_ALREADY_EXISTS,   // 9 CONTAINER_ALREADY_EXISTS
    KQ_INVALID_HANDLE,             // 10 INVALID_HANDLE
    KQ_HANDLE_IN_USE,              // 11 HANDLE_IN_USE
    KQ_READ_FAILED,                // 12 READ_FAILED
    KQ_BUFFER_UNAVAILABLE,         // 13 BUFFER_UNAVAILABLE
    KQ_WRITE_FAILED,               // 14 WRITE_FAILED
    KQ_COMMIT_FAILED,              // 15 COMMIT_FAILED
    KQ_DELETE_FAILED,              // 16 DELETE_FAILED
    KQ_INVALID_METADATA,           // 17 INVALID_METADATA
    KQ_METADATA_NOT_FOUND,         // 18 METADATA_NOT_FOUND
    KQ_NETWORK_ERROR,              // 19 NETWORK_ERROR
    KQ_TIMEOUT,                    // 20 TIMEOUT
    KQ_THROTTLED,                  // 21 THROTTLED
    KQ_SERVICE_UNAVAILABLE,        // 22 SERVICE_UNAVAILABLE
    KQ_NOT_SUPPORTED,              // 23 NOT_SUPPORTED
    KQ_QUOTA_EXCEEDED,             // 24 QUOTA_EXCEEDED
    KQ_CONFLICT,                   // 25 CONFLICT
    KQ_PRECONDITION_FAILED,        // 26 PRECONDITION_FAILED
    KQ_CONTAINER_BEING_DELETED,    // 27 INVALID_CONFIGURATION
    KQ_INVALID_CONNECTION_STRING,  // 28 INVALID_CONNECTION_STRING
    KQ_CONTAINER_BEING_DELETED,    // 29 CONTAINER_BEING_DELETED
    KQ_INVALID_NAME,               // 30 INVALID_NAME
    KQ_OFFSET_OUT_OF_RANGE,        // 31 OFFSET_OUT_OF_RANGE
    KQ_SIZE_MISMATCH,              // 32 SIZE_MISMATCH
    KQ_INTEGRITY_ERROR,            // 33 INTEGRITY_ERROR
    KQ_ACCOUNT_INFO_UNAVAILABLE,   // 34 ACCOUNT_INFO_UNAVAILABLE
    KQ_STORAGE_KEY_UNAVAILABLE,    // 35 STORAGE_KEY_UNAVAILABLE
    KQ_JOB_INFO_REJECTED,          // 36 JOB_INFO_REJECTED
    KQ_BACKUP_NOT_ALLOWED,         // 37 BACKUP_NOT_ALLOWED
    KQ_FAILURE,                    // 38
    KQ_FAILURE,                    // 39
    KQ_INTERNAL_ERROR,             // 40 INTERNAL_ERROR
    KQ_FAILURE,                    // 41
    KQ_CANCELLED,                  // 42 CANCELLED
    KQ_OUT_OF_MEMORY,              // 43 OUT_OF_MEMORY
    KQ_SERVICE_UNAVAILABLE,        // 44
    KQ_SERVICE_UNAVAILABLE,        // 45
    KQ_SERVICE_UNAVAILABLE,        // 46
    KQ_LIBRARY_CLOSED,             // 47 LIBRARY_CLOSED
    KQ_SESSION_CLOSED,             // 48 SESSION_CLOSED
};

// Any other ordinal, negative ones included, gives 23.
constexpr uint32_t CodeOfOrdinal(int32_t ordinal) noexcept {
  return ordinal >= 0 && static_cast<size_t>(ordinal) < sizeof(kCodeOfOrdinal) / sizeof(kCodeOfOrdinal[0])
             ? kCodeOfOrdinal[ordinal]
             : KQ_SERVICE_UNAVAILABLE;
}

struct ReturnCodeInfo {
  uint32_t code;
  const char* name;         // the Java constant's name, or the plug-in's own
  const char* description;  // for people; null where the name says it all
};

inline constexpr ReturnCodeInfo kReturnCodes[] = {
    {KQ_OK, "SUCCESS", nullptr},
    {KQ_FAILURE, "FAILURE", nullptr},
    {KQ_NOT_INITIALIZED, "NOT_INITIALIZED", nullptr},
    {KQ_OBJECT_NOT_FOUND, "OBJECT_NOT_FOUND", nullptr},
    {KQ_CONTAINER_NOT_FOUND, "CONTAINER_NOT_FOUND", nullptr},
    {KQ_ACCESS_DENIED, "ACCESS_DENIED", nullptr},
    {KQ_INVALID_ARGUMENT, "INVALID_ARGUMENT", nullptr},
    {KQ_AUTHENTICATION_FAILED, "AUTHENTICATION_FAILED", nullptr},
    {KQ_OBJECT_ALREADY_EXISTS, "OBJECT_ALREADY_EXISTS", nullptr},
    {KQ_CONTAINER_ALREADY_EXISTS, "CONTAINER_ALREADY_EXISTS", nullptr},
    {KQ_INVALID_HANDLE, "INVALID_HANDLE", nullptr},
    {KQ_HANDLE_IN_USE, "HANDLE_IN_USE", nullptr},
    {KQ_READ_FAILED, "READ_FAILED", nullptr},
    {KQ_BUFFER_UNAVAILABLE, "BUFFER_UNAVAILABLE", nullptr},
    {KQ_WRITE_FAILED, "WRITE_FAILED", nullptr},
    {KQ_COMMIT_FAILED, "COMMIT_FAILED", nullptr},
    {KQ_DELETE_FAILED, "DELETE_FAILED", nullptr},
    {KQ_INVALID_METADATA, "INVALID_METADATA", nullptr},
    {KQ_METADATA_NOT_FOUND, "METADATA_NOT_FOUND", nullptr},
    {KQ_NETWORK_ERROR, "NETWORK_ERROR", nullptr},
    {KQ_TIMEOUT, "TIMEOUT", nullptr},
    {KQ_THROTTLED, "THROTTLED", nullptr},
    {KQ_SERVICE_UNAVAILABLE, "SERVICE_UNAVAILABLE", nullptr},
    {KQ_NOT_SUPPORTED, "NOT_SUPPORTED", nullptr},
    {KQ_QUOTA_EXCEEDED, "QUOTA_EXCEEDED", nullptr},
    {KQ_CONFLICT, "CONFLICT", nullptr},
    {KQ_PRECONDITION_FAILED, "PRECONDITION_FAILED", nullptr},
    {KQ_INVALID_CONNECTION_STRING, "INVALID_CONNECTION_STRING", nullptr},
    {KQ_CONTAINER_BEING_DELETED, "CONTAINER_BEING_DELETED", nullptr},
    {KQ_INVALID_NAME, "INVALID_NAME", nullptr},
    {KQ_OFFSET_OUT_OF_RANGE, "OFFSET_OUT_OF_RANGE", nullptr},
    {KQ_SIZE_MISMATCH, "SIZE_MISMATCH", nullptr},
    {KQ_INTEGRITY_ERROR, "INTEGRITY_ERROR", nullptr},
    {KQ_ACCOUNT_INFO_UNAVAILABLE, "ACCOUNT_INFO_UNAVAILABLE", nullptr},
    {KQ_STORAGE_KEY_UNAVAILABLE, "STORAGE_KEY_UNAVAILABLE", nullptr},
    {KQ_JOB_INFO_REJECTED, "JOB_INFO_REJECTED", nullptr},
    {KQ_BACKUP_NOT_ALLOWED, "BACKUP_NOT_ALLOWED", nullptr},
    {KQ_BRIDGE_FAILURE, "BRIDGE_FAILURE", "bridge failure, see the plug-in log"},
    {KQ_ARRAY_NOT_MADE, "ARRAY_NOT_MADE", "Java byte array could not be made"},
    {KQ_CANCELLED, "CANCELLED", nullptr},
    {KQ_OUT_OF_MEMORY, "OUT_OF_MEMORY", nullptr},
    {KQ_LIBRARY_CLOSED, "LIBRARY_CLOSED", nullptr},
    {KQ_SESSION_CLOSED, "SESSION_CLOSED", nullptr},
    {KQ_INTERNAL_ERROR, "INTERNAL_ERROR", nullptr},
};

// The entry of a code, or null for a code the plug-in never answers.
inline const ReturnCodeInfo* FindReturnCode(uint32_t code) noexcept {
  for (const ReturnCodeInfo& info : kReturnCodes) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

}  // namespace kq

#endif  // KQ_RETURN_CODES_H_
