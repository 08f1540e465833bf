// The type library inside each built executable, read back from the file with LoadTypeLibEx and
// compared with the published identity: library, class, dual interface with its members in slot
// order, and the four records.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "common/win/com_ptr.h"
#include "common/win/guid_text.h"
#include "tests/server/typelib/built_servers.h"

namespace korvane::test {
namespace {

using win::ComPtr;

GUID GuidOf(const wchar_t* text) {
  GUID guid{};
  EXPECT_EQ(::IIDFromString(const_cast<LPOLESTR>(text), &guid), S_OK) << Narrow(text);
  return guid;
}

std::string Text(const GUID& guid) { return Narrow(win::GuidText(guid)); }

const wchar_t kLibid[] = L"{33609DAE-7AF8-4E00-BFF4-E1B69E14EC41}";
const wchar_t kClsid[] = L"{BDBB0F90-863E-4814-820F-1657390654B0}";
const wchar_t kIid[] = L"{79D8CD39-F512-46E7-8935-7A60569F6F2F}";

// Attribute blocks that the type library lends out and wants back.
struct TypeAttr {
  ComPtr<ITypeInfo> info;
  TYPEATTR* attr = nullptr;
  explicit TypeAttr(ComPtr<ITypeInfo> of) : info(std::move(of)) {
    EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
  }
  ~TypeAttr() {
    if (attr) info->ReleaseTypeAttr(attr);
  }
  const TYPEATTR* operator->() const { return attr; }
};

struct FuncDesc {
  ITypeInfo* info;
  FUNCDESC* desc = nullptr;
  FuncDesc(ITypeInfo* of, UINT index) : info(of) {
    EXPECT_EQ(info->GetFuncDesc(index, &desc), S_OK);
  }
  ~FuncDesc() {
    if (desc) info->ReleaseFuncDesc(desc);
  }
};

struct VarDesc {
  ITypeInfo* info;
  VARDESC* desc = nullptr;
  VarDesc(ITypeInfo* of, UINT index) : info(of) { EXPECT_EQ(info->GetVarDesc(index, &desc), S_OK); }
  ~VarDesc() {
    if (desc) info->ReleaseVarDesc(desc);
  }
};

struct Documentation {
  std::wstring name;
  bool hasDocString = false;
  bool hasHelpFile = false;
  DWORD helpContext = 0;
};

template <typename Source>
Documentation DocumentationOf(Source* source, MEMBERID id) {
  BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
  Documentation out;
  EXPECT_EQ(source->GetDocumentation(id, &name, &doc, &out.helpContext, &helpFile), S_OK);
  out.name = name ? name : L"";
  out.hasDocString = doc != nullptr && ::SysStringLen(doc) > 0;
  out.hasHelpFile = helpFile != nullptr && ::SysStringLen(helpFile) > 0;
  ::SysFreeString(name);
  ::SysFreeString(doc);
  ::SysFreeString(helpFile);
  return out;
}

// The names GetNames reports for a member: its own, then those of its named parameters.
std::vector<std::string> NamesOf(ITypeInfo* info, MEMBERID id, UINT maxNames) {
  std::vector<BSTR> names(maxNames, nullptr);
  UINT count = 0;
  EXPECT_EQ(info->GetNames(id, names.data(), maxNames, &count), S_OK);
  std::vector<std::string> out;
  for (UINT i = 0; i < count; ++i) {
    out.push_back(Narrow(names[i] ? names[i] : L""));
    ::SysFreeString(names[i]);
  }
  return out;
}

class TypeLibraryTest : public ::testing::TestWithParam<BuiltServer> {
 protected:
  void SetUp() override {
    SKIP_IF_OTHER_RUNS_IT(GetParam());
    ASSERT_BUILT(GetParam());
    ASSERT_EQ(::LoadTypeLibEx(GetParam().exe.c_str(), REGKIND_NONE, library_.put()), S_OK)
        << Narrow(GetParam().exe);
  }

  ComPtr<ITypeInfo> InfoOf(const wchar_t* guid) {
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(library_->GetTypeInfoOfGuid(GuidOf(guid), info.put()), S_OK) << Narrow(guid);
    return info;
  }

  // The vtable half of the dual interface.
  ComPtr<ITypeInfo> VtableInterface() {
    ComPtr<ITypeInfo> dispatch = InfoOf(kIid);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtable;
    EXPECT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    EXPECT_EQ(dispatch->GetRefTypeInfo(ref, vtable.put()), S_OK);
    return vtable;
  }

  ComPtr<ITypeLib> library_;
};

TEST_P(TypeLibraryTest, LibraryIdentity) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library_->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(Text(attr->guid), Narrow(kLibid));
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->syskind, GetParam().syskind);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  // Not restricted, not a control library, not hidden (the loader may add FHASDISKIMAGE).
  EXPECT_EQ(attr->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN), 0);
  library_->ReleaseTLibAttr(attr);

  Documentation doc = DocumentationOf(library_.get(), MEMBERID_NIL);
  EXPECT_EQ(Narrow(doc.name), "Korvane");
  EXPECT_FALSE(doc.hasDocString);
  EXPECT_FALSE(doc.hasHelpFile);
  EXPECT_EQ(doc.helpContext, 0u);
}

TEST_P(TypeLibraryTest, HoldsExactlyTheClassItsInterfaceAndFourRecords) {
  struct Expected {
    const char* name;
    TYPEKIND kind;
  };
  const std::vector<Expected> expected = {
      {"Korvane_STARTUPINFO", TKIND_RECORD},
      {"Korvane_PROCESS_INFORMATION", TKIND_RECORD},
      {"Korvane_SECURITY_ATTRIBUTES", TKIND_RECORD},
      {"Korvane_OVERLAPPED", TKIND_RECORD},
      {"_QuandrelCom", TKIND_DISPATCH},
      {"QuandrelCom", TKIND_COCLASS},
  };
  ASSERT_EQ(library_->GetTypeInfoCount(), expected.size());
  for (const Expected& item : expected) {
    SCOPED_TRACE(item.name);
    bool found = false;
    for (UINT i = 0; i < library_->GetTypeInfoCount(); ++i) {
      if (Narrow(DocumentationOf(library_.get(), static_cast<MEMBERID>(i)).name) != item.name)
        continue;
      found = true;
      TYPEKIND kind{};
      EXPECT_EQ(library_->GetTypeInfoType(i, &kind), S_OK);
      EXPECT_EQ(kind, item.kind);
      Documentation doc = DocumentationOf(library_.get(), static_cast<MEMBERID>(i));
      EXPECT_FALSE(doc.hasDocString);
      EXPECT_FALSE(doc.hasHelpFile);
    }
    EXPECT_TRUE(found);
  }
}

TEST_P(TypeLibraryTest, CoclassIsCreatableWithTheInterfaceAsItsOnlyDefault) {
  ComPtr<ITypeInfo> coclass = InfoOf(kClsid);
  ASSERT_TRUE(coclass);
  TypeAttr attr(coclass);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(Narrow(DocumentationOf(coclass.get(), MEMBERID_NIL).name), "QuandrelCom");
  // Creatable, not an application object, nothing else.
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
  // One interface, no event source.
  ASSERT_EQ(attr->cImplTypes, 1);
  INT implFlags = -1;
  EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
  EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> interfaceInfo;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, interfaceInfo.put()), S_OK);
  TypeAttr interfaceAttr(interfaceInfo);
  EXPECT_EQ(Text(interfaceAttr->guid), Narrow(kIid));
}

constexpr WORD kInterfaceFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                                 TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;

TEST_P(TypeLibraryTest, InterfaceIsDualHiddenNonextensibleAutomation) {
  ComPtr<ITypeInfo> dispatch = InfoOf(kIid);
  ASSERT_TRUE(dispatch);
  {
    // The dispatch view is derived by the type library loader; what it shows of the flags is
    // the platform's, but it must present the interface as dual, hidden and dispatchable.
    TypeAttr attr(dispatch);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    const WORD required =
        TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(attr->wTypeFlags & required, required) << std::hex << attr->wTypeFlags;
    EXPECT_EQ(attr->wTypeFlags & ~kInterfaceFlags, 0) << std::hex << attr->wTypeFlags;
  }
  ComPtr<ITypeInfo> vtable = VtableInterface();
  ASSERT_TRUE(vtable);
  TypeAttr attr(vtable);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(Text(attr->guid), Narrow(kIid));
  EXPECT_EQ(attr->wTypeFlags, kInterfaceFlags) << std::hex << attr->wTypeFlags;
  EXPECT_EQ(attr->cFuncs, 7);
  EXPECT_EQ(attr->cVars, 0);
  // IUnknown's 3 slots, IDispatch's 4, our 7.
  EXPECT_EQ(attr->cbSizeVft, 14 * GetParam().pointerSize);
  ASSERT_EQ(attr->cImplTypes, 1);
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &ref), S_OK);
  ASSERT_EQ(vtable->GetRefTypeInfo(ref, base.put()), S_OK);
  TypeAttr baseAttr(base);
  EXPECT_EQ(baseAttr->guid, IID_IDispatch);
}

struct ExpectedParam {
  const char* name;  // nullptr: unnamed
  VARTYPE vt;
  bool byReference;
  USHORT flags;
};

struct ExpectedMember {
  int slot;
  const char* name;
  MEMBERID id;
  INVOKEKIND kind;
  std::vector<ExpectedParam> params;
};

const USHORT kIn = PARAMFLAG_FIN;
const USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

const std::vector<ExpectedMember>& Members() {
  static const std::vector<ExpectedMember> members = {
      {7, "g_isDebug", 0x40030000, INVOKE_PROPERTYGET, {{"g_isDebug", VT_BOOL, true, kRetval}}},
      {8, "g_isDebug", 0x40030000, INVOKE_PROPERTYPUT, {{nullptr, VT_BOOL, false, kIn}}},
      {9, "EnableDebugLog", 0x60030001, INVOKE_FUNC, {{"bEnable", VT_BOOL, false, kIn}}},
      {10,
       "RunCmd",
       0x60030002,
       INVOKE_FUNC,
       {{"strCmdLine", VT_BSTR, false, kIn},
        {"wShowWindow", VT_I4, false, kIn},
        {"bWait", VT_BOOL, false, kIn},
        {nullptr, VT_BOOL, true, kRetval}}},
      {11,
       "RunCmd2",
       0x60030003,
       INVOKE_FUNC,
       {{"strCmdLine", VT_BSTR, false, kIn},
        {"wShowWindow", VT_I4, false, kIn},
        {nullptr, VT_BSTR, true, kRetval}}},
      {12,
       "QuandrelRunCmd",
       0x60030004,
       INVOKE_FUNC,
       {{"strCmdLine", VT_BSTR, false, kIn}, {nullptr, VT_BSTR, true, kRetval}}},
      {13,
       "Quandrel",
       0x60030005,
       INVOKE_FUNC,
       {{"strCmdLine", VT_BSTR, false, kIn}, {nullptr, VT_I4, true, kRetval}}},
  };
  return members;
}

TEST_P(TypeLibraryTest, MembersInSlotOrderWithTheirIdsKindsAndParameters) {
  ComPtr<ITypeInfo> vtable = VtableInterface();
  ASSERT_TRUE(vtable);
  const auto& members = Members();
  for (UINT index = 0; index < members.size(); ++index) {
    const ExpectedMember& want = members[index];
    SCOPED_TRACE(std::string(want.name) + " in slot " + std::to_string(want.slot));
    FuncDesc func(vtable.get(), index);
    ASSERT_NE(func.desc, nullptr);
    const FUNCDESC& f = *func.desc;
    // The loader reports slot offsets in the reading process's pointer size (the library's own
    // pointer size shows in cbSizeVft, checked above).
    EXPECT_EQ(f.oVft, want.slot * static_cast<SHORT>(sizeof(void*)));
    EXPECT_EQ(f.memid, want.id);
    EXPECT_EQ(f.invkind, want.kind);
    EXPECT_EQ(f.funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(f.callconv, CC_STDCALL);
    EXPECT_EQ(f.elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(f.wFuncFlags, 0);
    EXPECT_EQ(f.cParamsOpt, 0);
    ASSERT_EQ(f.cParams, static_cast<SHORT>(want.params.size()));
    std::vector<std::string> expectedNames = {want.name};
    for (SHORT p = 0; p < f.cParams; ++p) {
      const ExpectedParam& param = want.params[p];
      SCOPED_TRACE("parameter " + std::to_string(p));
      const TYPEDESC& type = f.lprgelemdescParam[p].tdesc;
      if (param.byReference) {
        ASSERT_EQ(type.vt, VT_PTR);
        EXPECT_EQ(type.lptdesc->vt, param.vt);
      } else {
        EXPECT_EQ(type.vt, param.vt);
      }
      EXPECT_EQ(f.lprgelemdescParam[p].paramdesc.wParamFlags, param.flags);
      if (param.name) expectedNames.push_back(param.name);
    }
    // Names are looked up by DISPID, which the put shares with the get (whose names they are).
    if (want.kind == INVOKE_PROPERTYPUT) continue;
    std::vector<std::string> names = NamesOf(vtable.get(), f.memid, 1 + f.cParams);
    ASSERT_GE(names.size(), expectedNames.size());
    names.resize(expectedNames.size());  // unnamed parameters: RetvalParametersAreUnnamed
    EXPECT_EQ(names, expectedNames);
  }
}

TEST_P(TypeLibraryTest, RetvalParametersAreUnnamed) {
  ComPtr<ITypeInfo> vtable = VtableInterface();
  ASSERT_TRUE(vtable);
  for (const ExpectedMember& want : Members()) {
    if (want.kind == INVOKE_PROPERTYPUT) continue;  // shares its DISPID with the get
    SCOPED_TRACE(want.name);
    size_t named = 1;
    for (const ExpectedParam& param : want.params) named += param.name != nullptr;
    // widl names every parameter the IDL leaves unnamed; server/unname_retval_params.cmake
    // takes the names away again after widl has written the library.
    EXPECT_EQ(NamesOf(vtable.get(), want.id, 1 + static_cast<UINT>(want.params.size())).size(),
              named);
  }
}

TEST_P(TypeLibraryTest, DispatchMapsNamedArgumentsOfRunCmdToTheirPositions) {
  ComPtr<ITypeInfo> dispatch = InfoOf(kIid);
  ASSERT_TRUE(dispatch);
  // Names in an order unlike the declaration: each gets its own position.
  const wchar_t* names[] = {L"RunCmd", L"bWait", L"strCmdLine", L"wShowWindow"};
  MEMBERID ids[4] = {};
  ASSERT_EQ(dispatch->GetIDsOfNames(const_cast<LPOLESTR*>(names), 4, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60030002);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(ids[3], 1);
  // Member names are matched regardless of case, as late-bound clients expect.
  const wchar_t* lower[] = {L"enabledebuglog", L"BENABLE"};
  ASSERT_EQ(dispatch->GetIDsOfNames(const_cast<LPOLESTR*>(lower), 2, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60030001);
  EXPECT_EQ(ids[1], 0);
}

struct ExpectedField {
  const char* name;
  VARTYPE vt;
};

struct ExpectedRecord {
  const char* name;
  const wchar_t* guid;
  ULONG i686Size;
  std::vector<ExpectedField> fields;
};

const std::vector<ExpectedRecord>& Records() {
  static const std::vector<ExpectedRecord> records = {
      {"Korvane_STARTUPINFO",
       L"{A8B8AB5D-45D3-47A9-87CC-58350DCE1F17}",
       68,
       {{"cb", VT_I4},
        {"lpReserved", VT_BSTR},
        {"lpDesktop", VT_BSTR},
        {"lpTitle", VT_BSTR},
        {"dwX", VT_I4},
        {"dwY", VT_I4},
        {"dwXSize", VT_I4},
        {"dwYSize", VT_I4},
        {"dwXCountChars", VT_I4},
        {"dwYCountChars", VT_I4},
        {"dwFillAttribute", VT_I4},
        {"dwFlags", VT_I4},
        {"wShowWindow", VT_I2},
        {"cbReserved2", VT_I2},
        {"lpReserved2", VT_I4},
        {"hStdInput", VT_I4},
        {"hStdOutput", VT_I4},
        {"hStdError", VT_I4}}},
      {"Korvane_PROCESS_INFORMATION",
       L"{9ACE4945-034E-43B0-B954-DF096FF35505}",
       16,
       {{"hProcess", VT_I4}, {"hThread", VT_I4}, {"dwProcessID", VT_I4}, {"dwThreadID", VT_I4}}},
      {"Korvane_SECURITY_ATTRIBUTES",
       L"{66E96A9E-B404-411D-B3AF-0110A0277424}",
       12,
       {{"nLength", VT_I4}, {"lpSecurityDescriptor", VT_I4}, {"bInheritHandle", VT_I4}}},
      {"Korvane_OVERLAPPED",
       L"{5427B37B-E7D9-4D58-B3F3-D8DB94B66D55}",
       20,
       {{"Internal", VT_I4},
        {"InternalHigh", VT_I4},
        {"offset", VT_I4},
        {"OffsetHigh", VT_I4},
        {"hEvent", VT_I4}}},
  };
  return records;
}

TEST_P(TypeLibraryTest, RecordsWithTheirFieldsInOrder) {
  for (const ExpectedRecord& want : Records()) {
    SCOPED_TRACE(want.name);
    ComPtr<ITypeInfo> record = InfoOf(want.guid);
    ASSERT_TRUE(record);
    EXPECT_EQ(Narrow(DocumentationOf(record.get(), MEMBERID_NIL).name), want.name);
    TypeAttr attr(record);
    EXPECT_EQ(attr->typekind, TKIND_RECORD);
    if (GetParam().syskind == SYS_WIN32) {
      EXPECT_EQ(attr->cbSizeInstance, want.i686Size);
      EXPECT_EQ(attr->cbAlignment, 4);
    }
    ASSERT_EQ(attr->cVars, want.fields.size());
    ULONG previousOffset = 0;
    for (UINT i = 0; i < want.fields.size(); ++i) {
      SCOPED_TRACE(want.fields[i].name);
      VarDesc var(record.get(), i);
      ASSERT_NE(var.desc, nullptr);
      EXPECT_EQ(var.desc->varkind, VAR_PERINSTANCE);
      EXPECT_EQ(var.desc->elemdescVar.tdesc.vt, want.fields[i].vt);
      // Names are compared exactly: dwProcessID, not dwProcessId; offset, not Offset.
      EXPECT_EQ(Narrow(DocumentationOf(record.get(), var.desc->memid).name), want.fields[i].name);
      if (i > 0) {
        EXPECT_GT(var.desc->oInst, previousOffset);
      }
      previousOffset = var.desc->oInst;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, TypeLibraryTest, ::testing::Values(X64Server(), I686Server()),
                         [](const auto& info) { return std::string(info.param.build); });

}  // namespace
}  // namespace korvane::test
