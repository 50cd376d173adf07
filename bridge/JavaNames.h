// Every Java class name and JNI signature the bridge uses, in one place.
// The Java library must provide exactly these: a renamed class or a changed
// signature shows as "method is not got" lines and code 40 at run time, so
// change one only together with the Java side (and the test double in
// java/testdouble, which declares the same signatures).
#ifndef KQ_BRIDGE_JAVANAMES_H_
#define KQ_BRIDGE_JAVANAMES_H_

// Type descriptors, as macros so that signatures can be spelt from them.
#define KQ_JNI_STRING "Ljava/lang/String;"
#define KQ_JNI_ERROR_VALUE "Lcom/kq/KQCloudPluginInterface/CErrorValue;"
#define KQ_JNI_LIB "Lcom/kq/AzureLibrary/"
#define KQ_JNI_MODEL "Lcom/kq/plugin/model/"
#define KQ_JNI_METADATA_ARRAY "[" KQ_JNI_LIB "CPluginMetaData;"

namespace kq {
namespace jni {

// ---- classes ----
inline constexpr char kLibraryClass[] = "com/kq/AzureLibrary/KQAzurePlugInLibrary";
inline constexpr char kErrorValueClass[] = "com/kq/KQCloudPluginInterface/CErrorValue";
inline constexpr char kMetaDataClass[] = "com/kq/AzureLibrary/CPluginMetaData";
inline constexpr char kMetaDataArrayClass[] = KQ_JNI_METADATA_ARRAY;
inline constexpr char kValueClass[] = "com/kq/AzureLibrary/CPluginValue";
inline constexpr char kTypeClass[] = "com/kq/AzureLibrary/CPropertyTYPE";
inline constexpr char kSubListElementClass[] = "com/kq/AzureLibrary/CObjectSubListElement";
inline constexpr char kSubListArrayClass[] = "[" KQ_JNI_LIB "CObjectSubListElement;";
inline constexpr char kContainerClass[] = "com/kq/AzureLibrary/KQAzureContainer";

// ---- field and method types ----
inline constexpr char kStringType[] = KQ_JNI_STRING;
inline constexpr char kErrorValueType[] = KQ_JNI_ERROR_VALUE;
inline constexpr char kStringArrayType[] = "[" KQ_JNI_STRING;
inline constexpr char kContainerArrayType[] = "[" KQ_JNI_LIB "KQAzureContainer;";
inline constexpr char kMetaDataArrayType[] = KQ_JNI_METADATA_ARRAY;
inline constexpr char kSubListArrayType[] = "[" KQ_JNI_LIB "CObjectSubListElement;";
inline constexpr char kValueType[] = KQ_JNI_LIB "CPluginValue;";
inline constexpr char kTypeType[] = KQ_JNI_LIB "CPropertyTYPE;";
inline constexpr char kTypeValuesSignature[] = "()[" KQ_JNI_LIB "CPropertyTYPE;";
inline constexpr char kGetErrorIdSignature[] = "()Lcom/kq/KQCloudPluginInterface/ERRORID;";
inline constexpr char kToStringSignature[] = "()" KQ_JNI_STRING;

// ---- the library's methods, by shape ----
inline constexpr char kConstructorSignature[] = "(" KQ_JNI_STRING ")V";
inline constexpr char kAzureInitSignature[] = "(" KQ_JNI_STRING KQ_JNI_STRING ")" KQ_JNI_ERROR_VALUE;
inline constexpr char kNoArgsToErrorValue[] = "()" KQ_JNI_ERROR_VALUE;
inline constexpr char kNameToErrorValue[] = "(" KQ_JNI_STRING ")" KQ_JNI_ERROR_VALUE;
inline constexpr char kNamesToErrorValue[] = "([" KQ_JNI_STRING ")" KQ_JNI_ERROR_VALUE;
inline constexpr char kNameToCreateFnValue[] = "(" KQ_JNI_STRING ")" KQ_JNI_LIB "CCreateFnValue;";
inline constexpr char kSetMetaDataSignature[] = "(" KQ_JNI_STRING KQ_JNI_STRING KQ_JNI_STRING ")" KQ_JNI_ERROR_VALUE;
inline constexpr char kGetMetaDataSignature[] = "(" KQ_JNI_STRING ")" KQ_JNI_LIB "CGObjectMetaDataFnValue;";
inline constexpr char kGetMetaDataItemSignature[] =
    "(" KQ_JNI_STRING KQ_JNI_STRING ")" KQ_JNI_LIB "CGetObjectMetaData;";
inline constexpr char kNameToExists[] = "(" KQ_JNI_STRING ")" KQ_JNI_LIB "CIsObjectExistFnValue;";
inline constexpr char kPathSupportedSignature[] = "(" KQ_JNI_STRING "I)" KQ_JNI_LIB "CIsObjectExistFnValue;";
inline constexpr char kTwoNamesToExists[] = "(" KQ_JNI_STRING KQ_JNI_STRING ")" KQ_JNI_LIB "CIsObjectExistFnValue;";
inline constexpr char kSubListSignature[] = "(" KQ_JNI_STRING ")" KQ_JNI_LIB "CRetGetSubMetaDataList;";
inline constexpr char kActualSizeSignature[] = "(JJ)J";
inline constexpr char kPlainWriteSignature[] = "(" KQ_JNI_STRING "[BJ)" KQ_JNI_ERROR_VALUE;
inline constexpr char kWriteSignature[] =
    "(" KQ_JNI_STRING "[BJ" KQ_JNI_METADATA_ARRAY ")" KQ_JNI_LIB "CWObjectHandleFnValue;";
inline constexpr char kWriteWithFlagSignature[] =
    "(" KQ_JNI_STRING "[BJ" KQ_JNI_METADATA_ARRAY "J)" KQ_JNI_LIB "CWObjectHandleFnValue;";
inline constexpr char kUpdateSignature[] =
    "(" KQ_JNI_STRING KQ_JNI_STRING "[BJ" KQ_JNI_METADATA_ARRAY ")" KQ_JNI_LIB "CCreateFnValue;";
inline constexpr char kUpdateWithFlagSignature[] =
    "(" KQ_JNI_STRING KQ_JNI_STRING "[BJ" KQ_JNI_METADATA_ARRAY "J)" KQ_JNI_LIB "CCreateFnValue;";
inline constexpr char kCachedUpdateByHandleSignature[] =
    "(" KQ_JNI_STRING KQ_JNI_STRING "[BJ" KQ_JNI_METADATA_ARRAY ")" KQ_JNI_ERROR_VALUE;
inline constexpr char kCachedUpdateByNameSignature[] =
    "(" KQ_JNI_STRING "[BJ" KQ_JNI_METADATA_ARRAY ")" KQ_JNI_ERROR_VALUE;
inline constexpr char kReadSignature[] = "(" KQ_JNI_STRING "[BJJ)" KQ_JNI_LIB "CReadObjectFnValue;";
inline constexpr char kReadWithMetaDataSignature[] =
    "(" KQ_JNI_STRING "[BJJ[" KQ_JNI_STRING ")" KQ_JNI_LIB "CRObjectByNameFnValue;";
inline constexpr char kStorageKeySignature[] = "(" KQ_JNI_STRING KQ_JNI_STRING ")" KQ_JNI_MODEL "CString;";
inline constexpr char kJobInfoSignature[] = "(JJJJJJ)" KQ_JNI_ERROR_VALUE;
inline constexpr char kAccountSizeSignature[] = "()" KQ_JNI_LIB "CGetAccountSizeValue;";
inline constexpr char kUniqueAccountSignature[] = "()" KQ_JNI_LIB "CUniqueAccountValue;";
inline constexpr char kListContainersSignature[] = "()" KQ_JNI_LIB "KQListContainers;";
inline constexpr char kListRegionsSignature[] = "()" KQ_JNI_LIB "KQListRegions;";
inline constexpr char kAccountInfoSignature[] = "()" KQ_JNI_LIB "CGetAccountInfoFnValue;";
inline constexpr char kArrayOfStringSignature[] = "()" KQ_JNI_MODEL "CArrayOfString;";
inline constexpr char kCIntSignature[] = "()" KQ_JNI_MODEL "CInt;";
inline constexpr char kCStringSignature[] = "()" KQ_JNI_MODEL "CString;";

// ---- result records ----
inline constexpr char kCreateFnValueClass[] = "com/kq/AzureLibrary/CCreateFnValue";
inline constexpr char kWObjectHandleClass[] = "com/kq/AzureLibrary/CWObjectHandleFnValue";
inline constexpr char kGetObjectMetaDataClass[] = "com/kq/AzureLibrary/CGetObjectMetaData";
inline constexpr char kUniqueAccountClass[] = "com/kq/AzureLibrary/CUniqueAccountValue";
inline constexpr char kCStringClass[] = "com/kq/plugin/model/CString";
inline constexpr char kIsObjectExistClass[] = "com/kq/AzureLibrary/CIsObjectExistFnValue";
inline constexpr char kAccountSizeClass[] = "com/kq/AzureLibrary/CGetAccountSizeValue";
inline constexpr char kReadObjectClass[] = "com/kq/AzureLibrary/CReadObjectFnValue";
inline constexpr char kCIntClass[] = "com/kq/plugin/model/CInt";
inline constexpr char kListRegionsClass[] = "com/kq/AzureLibrary/KQListRegions";
inline constexpr char kArrayOfStringClass[] = "com/kq/plugin/model/CArrayOfString";
inline constexpr char kListContainersClass[] = "com/kq/AzureLibrary/KQListContainers";
inline constexpr char kAccountInfoClass[] = "com/kq/AzureLibrary/CGetAccountInfoFnValue";
inline constexpr char kGObjectMetaDataClass[] = "com/kq/AzureLibrary/CGObjectMetaDataFnValue";
inline constexpr char kRObjectByNameClass[] = "com/kq/AzureLibrary/CRObjectByNameFnValue";
inline constexpr char kSubMetaDataListClass[] = "com/kq/AzureLibrary/CRetGetSubMetaDataList";

}  // namespace jni
}  // namespace kq

#endif  // KQ_BRIDGE_JAVANAMES_H_
