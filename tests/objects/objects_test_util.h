// Shared by the object tests: every object slot called with fixed host
// arguments, what reaches Java and what each answer leaves on the host's side.
#ifndef KQ_TESTS_OBJECTS_OBJECTS_TEST_UTIL_H_
#define KQ_TESTS_OBJECTS_OBJECTS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/Script.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {

inline std::string ZeroBytes(size_t count) { return Script::Bytes(std::vector<unsigned char>(count).data(), count); }

// The host's side of one call, preset so that any write to it shows in
// Changes().  Not copyable: its pointers point into it.
struct HostCall {
  HostCall() = default;
  HostCall(const HostCall&) = delete;
  WString name = u"obj";
  WString out = u"stale";
  uint32_t flag = 7;
  uint64_t actualSize = 77;
  unsigned char bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  unsigned char* data = bytes;
  uint64_t dataSize = 3;
  MetaDataMap metaIn{{u"b", {u"2", 0}}, {u"a", {u"1", 0}}};
  MetaDataMap* meta = &metaIn;
  MetaDataMap metaOut{{u"kept", {u"host", 0}}};
  ObjectSubList* subList = nullptr;
  // A read's: the host offers `size` bytes, the rest are guards.
  unsigned char buffer[12] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  unsigned char* to = buffer;
  uint64_t size = 8;
  uint64_t* sizeVar = &size;
  WString path = u"p";
  std::pair<WString, PluginValueRecord> property{u"prop", {u"text", 9}};
  WString names[2] = {u"n1", u"n2"};
  WString* nameList = names;
  uint64_t nameCount = 2;
};

// What a call changed, e.g. "size=3 buf=050607": the read buffer in hex up to
// its last changed byte, the metadata out map and a sub-list whole.
inline std::string Changes(const HostCall& h) {
  const HostCall fresh;
  std::string s, hex;
  auto add = [&s](const std::string& field) { s += (s.empty() ? "" : " ") + field; };
  if (h.out != fresh.out) add("out=" + U8(h.out));
  if (h.flag != fresh.flag) add("flag=" + std::to_string(h.flag));
  if (h.actualSize != fresh.actualSize) add("actual=" + std::to_string(h.actualSize));
  if (h.size != fresh.size) add("size=" + std::to_string(h.size));
  size_t end = sizeof h.buffer;
  while (end > 0 && h.buffer[end - 1] == 0xEE) --end;
  for (size_t i = 0; i < end; ++i) hex += {"0123456789abcdef"[h.buffer[i] >> 4], "0123456789abcdef"[h.buffer[i] & 15]};
  if (end > 0) add("buf=" + hex);
  if (Show(h.metaOut) != "kept=host") add("meta=" + Show(h.metaOut));
  if (h.subList != nullptr) add("list=" + Show(*h.subList));
  return s;
}

constexpr uint64_t kFlag = 0x0123456789abcdef;

// One row a slot; lines and a record's class and fields are written "a\nb".
struct Slot {
  std::string key;  // the test library's key of the Java method the slot reaches
  std::function<uint32_t(ICloudPluginInterface&, HostCall&)> call;
  std::string args;     // the Java arguments, as the journal shows them
  std::string lines;    // logged on success
  std::string changes;  // on success
  uint32_t nullCode;    // when Java answers null or throws
  std::string nullChanges = "";
  std::string failure = "";  // a record with ordinal 3: its class and fields; empty: a bare CErrorValue
  std::string failChanges = "";
  std::string nullLines = "<as on success>";  // logged when Java answers null
  Lines NullLines() const { return Split(nullLines == "<as on success>" ? lines : nullLines); }
};

// Every slot of the object operations, in the interface's families.
inline const std::vector<Slot>& ObjectSlots() {
  using P = ICloudPluginInterface;
  using H = HostCall;
  static const std::vector<Slot> slots = [] {
    const std::string d = Script::Bytes(HostCall().bytes, 3) + ", 3", z = ZeroBytes(8), md = ", {a=1, b=2}";
    const std::string o = "\"obj\"", two = "\"one\", \"two\", ", flag = " objFlag:[0x0123456789abcdef]";
    const std::string got8 = "buf=05060708090a0b0c", got2 = "size=2 buf=0506 meta=k=v,kept=host";
    const std::string created = "CCreateFnValue\nerrorValue=ord:3\nobjHandle=s:from-record";
    const std::string written = "CWObjectHandleFnValue\nerrorValue=ord:3\nobjHandle=s:from-record";
    const std::string readMeta = "CRObjectByNameFnValue\nerrorValue=ord:3\nbytesRead=j:2\nvalues=md:k=v";
    const std::string exists = "CIsObjectExistFnValue\nerrorValue=ord:3\nisExist=z:true";
    const std::string called = "WriteObject::java called is occured...obj",
                      ended = "WriteObject::java ended is occured...obj";
    const std::string cached = "WriteCachedObject::java is called...obj\nWriteCachedObject::java is ended...obj";
    const std::string noRecord = "\nWriteObject::is return null...obj";
    return std::vector<Slot>{
        {"CreateObject/1", [](P& p, H& h) { return p.CreateObject(h.name, &h.out); }, o,
         "obj\nhandle:obj\nCreateObject::is ended...", "out=handle:obj", 0, "out=", created, "out=from-record",
         "obj\n\nCreateObject::is ended..."},
        {"OpenObject/1", [](P& p, H& h) { return p.OpenObject(h.name, &h.out); }, o, "", "out=handle:obj", 0,
         "out=", created, "out=from-record"},
        {"CreateCachedObject/1", [](P& p, H& h) { return p.CreateCachedObject(h.name, &h.out); }, o, "",
         "out=handle:obj", 0, "out=", created, "out=from-record"},
        {"GetBucketRegion/1", [](P& p, H& h) { return p.GetBucketRegion(u"b", &h.out); }, "\"b\"", "b\nregion:b",
         "out=region:b", 0, "out=", created, "out=from-record", "b\n"},
        {"CloseObject/1", [](P& p, H&) { return p.CloseObject(u"h"); }, "\"h\"", "", "", 40},
        {"WriteObject/3", [](P& p, H& h) { return p.WriteObject(h.name, h.data, h.dataSize); }, o + ", " + d,
         "WriteObject::memory copy started ...obj\nWriteObject::memory copy ended ...obj\n"
         "WriteObject::Java called ...obj\nWriteObject::Java ended ...obj",
         "", 40},
        {"WriteObject/4", [](P& p, H& h) { return p.WriteObject(h.name, h.data, h.dataSize, h.meta, &h.out); },
         o + ", " + d + md, called + "\n" + ended, "out=handle:obj", 40, "", written, "out=from-record",
         called + "\n" + ended + noRecord},
        {"WriteObject/5", [](P& p, H& h) { return p.WriteObject(h.name, h.data, h.dataSize, h.meta, kFlag, &h.out); },
         o + ", " + d + md + ", 81985529216486895", called + flag + "\n" + ended, "out=handle:obj", 40, "", written,
         "out=from-record", called + flag + "\n" + ended + noRecord},
        {"WriteCachedObject/4",
         [](P& p, H& h) { return p.WriteCachedObject(h.name, h.data, h.dataSize, h.meta, &h.out); }, o + ", " + d + md,
         cached, "out=handle:obj", 40, "", written, "out=from-record",
         cached + "\nWriteCachedObject::java is returned NULL...obj"},
        {"UpdateObject/5",
         [](P& p, H& h) { return p.UpdateObject(u"one", u"two", h.data, h.dataSize, h.meta, &h.out); }, two + d + md,
         "", "out=handle:one", 40, "out=", created, "out=from-record"},
        {"UpdateObject/6",
         [](P& p, H& h) { return p.UpdateObject(u"one", u"two", h.data, h.dataSize, h.meta, kFlag, &h.out); },
         two + d + md + ", 81985529216486895", "UpdateObject::java called is occured...two" + flag, "out=handle:one",
         40, "out=", created, "out=from-record"},
        {"UpdateCachedObjectByHandle/5",
         [](P& p, H& h) { return p.UpdateCachedObjectByHandle(u"one", u"two", h.data, h.dataSize, h.meta); },
         two + d + md,
         "UpdateCachedObjectByHandle::java called is occured...one\n"
         "UpdateCachedObjectByHandle::java ended is occured...one",
         "", 40},
        {"UpdateCachedObjectByName/4",
         [](P& p, H& h) { return p.UpdateCachedObjectByName(h.name, h.data, h.dataSize, h.meta); }, o + ", " + d + md,
         "", "", 40},
        // The plain read passes the size first, the metadata reads the offset.
        // Without a record the plain read delivers the whole request as Java
        // left the array (here: filled before the library answered null).
        {"ReadObject/4", [](P& p, H& h) { return p.ReadObject(h.name, h.to, 5, h.sizeVar); }, o + ", " + z + ", 8, 5",
         "ReadObject::is called...obj\nReadObject::is ended...obj\nReadObject::buffer copy started...obj\n"
         "ReadObject::buffer copy ended...obj",
         got8, 0, got8, "CReadObjectFnValue\nerrorValue=ord:3\nsizeRead=j:2", "size=2 buf=0506"},
        {"ReadObjectByHandle/5",
         [](P& p, H& h) { return p.ReadObjectByHandle(u"h", h.to, 5, h.sizeVar, h.nameList, h.nameCount, &h.metaOut); },
         "\"h\", " + z + ", 5, 8, [\"n1\", \"n2\"]", "", got8, 40, "", readMeta, got2},
        {"ReadObjectByName/5",
         [](P& p, H& h) { return p.ReadObjectByName(h.name, h.to, 5, h.sizeVar, h.nameList, h.nameCount, &h.metaOut); },
         o + ", " + z + ", 5, 8, [\"n1\", \"n2\"]", "", got8, 40, "", readMeta, got2},
        // The property type stays with the host.
        {"SetObjectMetaData/3", [](P& p, H& h) { return p.SetObjectMetaData(h.name, h.property); },
         o + ", \"prop\", \"text\"", "", "", 40},
        {"GetObjectMetaData/1", [](P& p, H& h) { return p.GetObjectMetaData(h.name, &h.metaOut); }, o, "", "", 0, "",
         "CGObjectMetaDataFnValue\nerrorValue=ord:3\nvalues=md:k=v", "meta=k=v,kept=host"},
        // The one output that a failure leaves alone.
        {"GetObjectMetaData/2", [](P& p, H& h) { return p.GetObjectMetaData(h.name, u"item", &h.out); },
         o + ", \"item\"", "GetObjectMetaData::Java called ...obj\nGetObjectMetaData::Java ended ...obj",
         "out=value:item", 0, "out=", "CGetObjectMetaData\nerrorValue=ord:3\nvalue=s:x", ""},
        {"IsObjectExist/1", [](P& p, H& h) { return p.IsObjectExist(h.name, &h.flag); }, o, "", "flag=1", 0, "flag=0",
         exists, "flag=1"},
        {"IsObjectPathSupported/2", [](P& p, H& h) { return p.IsObjectPathSupported(&h.path, -3, &h.flag); },
         "\"p\", -3", "", "flag=1", 0, "flag=0", exists, "flag=1"},
        // A failed listing still hands out a list, which the host must free
        // (the sanitizer build reports it if it is not).
        {"GetObjectSubList/1", [](P& p, H& h) { return p.GetObjectSubList(u"f", &h.subList); }, "\"f\"", "",
         "list=", 40, "", "CRetGetSubMetaDataList\nerrorValue=ord:3\nmetaDat=sub:f{k=v}|e{}", "list=e{};f{k=v}"},
        {"DeleteObjectByName/1", [](P& p, H& h) { return p.DeleteObjectByName(h.name); }, o, "", "", 40},
        {"DeleteObjectByHandle/1", [](P& p, H&) { return p.DeleteObjectByHandle(u"h"); }, "\"h\"", "", "", 40},
        // Decoded without GetErrorId: a missing error object is ordinal 40.
        {"DeleteObjectByHandles/1",
         [](P& p, H& h) { return p.DeleteObjectByHandle(h.nameList, static_cast<uint32_t>(h.nameCount)); },
         "[\"n1\", \"n2\"]", "", "", 47},
        {"DeleteCachedObjectByName/1", [](P& p, H& h) { return p.DeleteCachedObjectByName(h.name); }, o, "", "", 40},
        // No record: the null answer is that of a throwing method, and a
        // failure cannot be reported.  Both values and the answer cross whole.
        {"GetObjectActualSize/2",
         [](P& p, H& h) { return p.GetObjectActualSize(4294967296, 1099511627783, &h.actualSize); },
         "4294967296, 1099511627783", "", "actual=1099511627783", 0, "actual=0"},
    };
  }();
  return slots;
}

class ObjectsTest : public ScriptedTest {
 protected:
  // Calls the slot, notes what it changed and hands back any sub-list it made.
  uint32_t Call(const Slot& slot, HostCall& io, std::string* changes = nullptr) {
    const uint32_t code = slot.call(*plugin.get(), io);
    if (changes != nullptr) *changes = Changes(io);
    if (io.subList != nullptr) plugin->FreeObjectSubListMemory(io.subList);
    io.subList = nullptr;
    return code;
  }

  Instance plugin = Instance::WithTestVm();
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_OBJECTS_OBJECTS_TEST_UTIL_H_
