// An in-process stand-in for the plug-in with the Java library's object
// semantics (write sessions committed by CloseObject and discarded by
// DeleteObjectByHandle, one-shot writes with metadata, read sessions,
// prefix listings), a call journal and failure injection.
#ifndef KQHOST_TESTS_FAKE_STORE_H_
#define KQHOST_TESTS_FAKE_STORE_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "kq/CloudPluginInterface.h"

namespace kqhost {

class FakeStore : public ICloudPluginInterface {
 public:
  struct Object {
    std::vector<unsigned char> data;
    MetaDataMap meta;
  };

  void Reset();
  // Thread-safe views for the tests.
  std::map<std::string, Object> Objects();
  std::vector<std::string> Journal();
  void Put(const std::string& name, std::vector<unsigned char> data, MetaDataMap meta);
  // The `nth` call (1-based) of `operation` answers `code` instead of working.
  void FailOn(const std::string& operation, int nth, uint32_t code);
  void SetConnectivity(uint32_t code);

  uint32_t InitLibrary(WString) override { return Log("InitLibrary"); }
  uint32_t DeInit() override { return Log("DeInit"); }
  uint32_t CreateObject(WString name, WString* handle) override;
  uint32_t WriteObject(WString, unsigned char*, uint64_t, MetaDataMap*, uint64_t, WString*) override { return 24; }
  uint32_t WriteObject(WString target, unsigned char* data, uint64_t size, MetaDataMap* meta, WString* handle) override;
  uint32_t WriteObject(WString target, unsigned char* data, uint64_t size) override;
  uint32_t SetObjectMetaData(WString, std::pair<WString, PluginValueRecord>) override { return 24; }
  uint32_t CloseObject(WString handle) override;
  uint32_t OpenObject(WString name, WString* handle) override;
  uint32_t ReadObject(WString handle, unsigned char* buffer, uint64_t offset, uint64_t* size) override;
  uint32_t GetObjectMetaData(WString name, MetaDataMap* meta) override;
  uint32_t GetObjectMetaData(WString, WString, WString*) override { return 24; }
  uint32_t DeleteObjectByName(WString name) override;
  uint32_t DeleteObjectByHandle(WString*, uint32_t) override { return 24; }
  uint32_t DeleteObjectByHandle(WString handle) override;
  uint32_t DeleteCachedObjectByName(WString) override { return 24; }
  uint32_t GetObjectSubList(WString prefix, ObjectSubList** list) override;
  uint32_t UpdateCachedObjectByName(WString, unsigned char*, uint64_t, MetaDataMap*) override { return 24; }
  uint32_t UpdateCachedObjectByHandle(WString, WString, unsigned char*, uint64_t, MetaDataMap*) override { return 24; }
  uint32_t CreateCachedObject(WString, WString*) override { return 24; }
  uint32_t WriteCachedObject(WString, unsigned char*, uint64_t, MetaDataMap*, WString*) override { return 24; }
  uint32_t IsObjectExist(WString, uint32_t*) override { return 24; }
  uint32_t ReadObjectByName(WString, unsigned char*, uint64_t, uint64_t*, WString*, uint64_t, MetaDataMap*) override {
    return 24;
  }
  uint32_t ReadObjectByHandle(WString, unsigned char*, uint64_t, uint64_t*, WString*, uint64_t, MetaDataMap*) override {
    return 24;
  }
  uint32_t CheckBridge() override { return 0; }
  uint32_t CheckConnectivity() override;
  uint32_t GetDefaultObjectSizeRange(uint64_t*, uint64_t*, uint64_t*) override { return 24; }
  uint32_t UpdateObject(WString, WString, unsigned char*, uint64_t, MetaDataMap*, uint64_t, WString*) override {
    return 24;
  }
  uint32_t UpdateObject(WString, WString, unsigned char*, uint64_t, MetaDataMap*, WString*) override { return 24; }
  uint32_t GetAllObjectsSize(uint64_t*) override { return 24; }
  uint32_t GetUniqueAccountName(WString*) override { return 24; }
  uint32_t GetOwnerName(WString*) override { return 24; }
  uint32_t IsSameAccount(WString, WString, uint32_t*) override { return 24; }
  uint32_t QueryFlag(uint32_t*) override { return 24; }
  void Release() override {}
  void FreeObjectSubListMemory(ObjectSubList* list) override;

 private:
  struct Session {
    bool write;
    std::string name;
    Object object;
  };
  uint32_t Log(const std::string& operation);  // journal; the injected code or 0

  std::mutex mu_;
  std::map<std::string, Object> objects_;
  std::map<std::string, Session> sessions_;
  std::vector<std::string> journal_;
  std::map<std::string, int> calls_;
  std::map<std::string, std::pair<int, uint32_t>> failures_;
  uint32_t connectivity_ = 0;
  int nextHandle_ = 0;
};

}  // namespace kqhost

#endif  // KQHOST_TESTS_FAKE_STORE_H_
