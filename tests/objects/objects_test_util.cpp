#include "tests/objects/objects_test_util.h"

#include <stdexcept>

namespace kq {
namespace test {

namespace {

using P = ICloudPluginInterface;
using H = HostCall;

constexpr uint64_t kFlag = 0x0123456789abcdefULL;

}  // namespace

const std::vector<Slot>& ObjectSlots() {
  static const std::vector<Slot> slots = {
      // open, create, close
      {"CreateObject", "CreateObject/1", [](P& p, H& h) { return p.CreateObject(u"obj", &h.out); }},
      {"OpenObject", "OpenObject/1", [](P& p, H& h) { return p.OpenObject(u"obj", &h.out); }},
      {"CreateCachedObject", "CreateCachedObject/1", [](P& p, H& h) { return p.CreateCachedObject(u"obj", &h.out); }},
      {"GetBucketRegion", "GetBucketRegion/1", [](P& p, H& h) { return p.GetBucketRegion(u"bucket", &h.out); }},
      {"CloseObject", "CloseObject/1", [](P& p, H&) { return p.CloseObject(u"h"); }},
      // data transfer
      {"WriteObject(plain)", "WriteObject/3", [](P& p, H& h) { return p.WriteObject(u"obj", h.data, 3); }},
      {"WriteObject(metadata)", "WriteObject/4",
       [](P& p, H& h) { return p.WriteObject(u"obj", h.data, 3, &h.metaIn, &h.out); }},
      {"WriteObject(flag)", "WriteObject/5",
       [](P& p, H& h) { return p.WriteObject(u"obj", h.data, 3, &h.metaIn, kFlag, &h.out); }},
      {"WriteCachedObject", "WriteCachedObject/4",
       [](P& p, H& h) { return p.WriteCachedObject(u"obj", h.data, 3, &h.metaIn, &h.out); }},
      {"UpdateObject", "UpdateObject/5",
       [](P& p, H& h) { return p.UpdateObject(u"one", u"two", h.data, 3, &h.metaIn, &h.out); }},
      {"UpdateObject(flag)", "UpdateObject/6",
       [](P& p, H& h) { return p.UpdateObject(u"one", u"two", h.data, 3, &h.metaIn, kFlag, &h.out); }},
      {"UpdateCachedObjectByHandle", "UpdateCachedObjectByHandle/5",
       [](P& p, H& h) { return p.UpdateCachedObjectByHandle(u"one", u"two", h.data, 3, &h.metaIn); }},
      {"UpdateCachedObjectByName", "UpdateCachedObjectByName/4",
       [](P& p, H& h) { return p.UpdateCachedObjectByName(u"obj", h.data, 3, &h.metaIn); }},
      {"ReadObject", "ReadObject/4", [](P& p, H& h) { return p.ReadObject(u"obj", h.buffer, 5, &h.size); }},
      {"ReadObjectByHandle", "ReadObjectByHandle/5",
       [](P& p, H& h) { return p.ReadObjectByHandle(u"h", h.buffer, 5, &h.size, h.names, 2, &h.metaOut); }},
      {"ReadObjectByName", "ReadObjectByName/5",
       [](P& p, H& h) { return p.ReadObjectByName(u"obj", h.buffer, 5, &h.size, h.names, 2, &h.metaOut); }},
      // queries, metadata, deletion
      {"SetObjectMetaData", "SetObjectMetaData/3",
       [](P& p, H&) { return p.SetObjectMetaData(u"obj", {u"prop", PluginValueRecord{u"text", 9}}); }},
      {"GetObjectMetaData(map)", "GetObjectMetaData/1",
       [](P& p, H& h) { return p.GetObjectMetaData(u"obj", &h.metaOut); }},
      {"GetObjectMetaData(item)", "GetObjectMetaData/2",
       [](P& p, H& h) { return p.GetObjectMetaData(u"obj", u"item", &h.out); }},
      {"IsObjectExist", "IsObjectExist/1", [](P& p, H& h) { return p.IsObjectExist(u"obj", &h.flag); }},
      {"IsObjectPathSupported", "IsObjectPathSupported/2",
       [](P& p, H& h) { return p.IsObjectPathSupported(&h.path, -3, &h.flag); }},
      {"GetObjectSubList", "GetObjectSubList/1", [](P& p, H& h) { return p.GetObjectSubList(u"folder", &h.subList); }},
      {"DeleteObjectByName", "DeleteObjectByName/1", [](P& p, H&) { return p.DeleteObjectByName(u"obj"); }},
      {"DeleteObjectByHandle(one)", "DeleteObjectByHandle/1", [](P& p, H&) { return p.DeleteObjectByHandle(u"h"); }},
      {"DeleteObjectByHandle(many)", "DeleteObjectByHandles/1",
       [](P& p, H& h) { return p.DeleteObjectByHandle(h.names, 2); }},
      {"DeleteCachedObjectByName", "DeleteCachedObjectByName/1",
       [](P& p, H&) { return p.DeleteCachedObjectByName(u"obj"); }},
      {"GetObjectActualSize", "GetObjectActualSize/2",
       [](P& p, H& h) { return p.GetObjectActualSize(4294967296ULL, 1099511627783ULL, &h.actualSize); }},
  };
  return slots;
}

const Slot& SlotNamed(const std::string& name) {
  for (const Slot& slot : ObjectSlots()) {
    if (slot.name == name) return slot;
  }
  throw std::invalid_argument("no slot " + name);
}

std::vector<unsigned char> Zeros(size_t count) { return std::vector<unsigned char>(count, 0); }

std::vector<unsigned char> Pattern(uint64_t offset, size_t count) {
  std::vector<unsigned char> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>((offset + i) & 0xFF);
  return bytes;
}

std::string ZeroBytes(size_t count) {
  const std::vector<unsigned char> zeros = Zeros(count);
  return Script::Bytes(zeros.data(), zeros.size());
}

void ObjectsTest::SetUp() {
  instance_.reset(new Instance(Instance::WithTestVm()));
  ASSERT_NE(instance_->get(), nullptr);
  Script::Reset();
  log.Mark();
}

void ObjectsTest::TearDown() {
  instance_.reset();
  JNIEnv* env = CurrentEnv();
  ASSERT_NE(env, nullptr);
  EXPECT_FALSE(env->ExceptionCheck()) << "a Java exception was left pending";
}

void ObjectsTest::HandBack(HostCall& io) {
  if (io.subList != nullptr) plugin().FreeObjectSubListMemory(io.subList);
  io.subList = nullptr;
}

}  // namespace test
}  // namespace kq
