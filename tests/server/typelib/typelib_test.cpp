// The type library inside each built executable, read back from the file with LoadTypeLibEx:
// as a whole against the checked-in dump quandrelcom_typelib.txt (the published identity: every
// type, member, parameter, flag, GUID and help string), and the rules the dump cannot show.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/win/com_ptr.h"
#include "common/win/guid_text.h"
#include "common/win/unique_bstr.h"
#include "tests/server/typelib/built_servers.h"

namespace korvane::test {
namespace {

using win::ComPtr;

const GUID kIid = {0x79D8CD39, 0xF512, 0x46E7, {0x89, 0x35, 0x7A, 0x60, 0x56, 0x9F, 0x6F, 0x2F}};

std::string Text(const GUID& guid) { return Narrow(win::GuidText(guid)); }

std::string Hex(unsigned long value) {
  std::ostringstream out;
  out << "0x" << std::hex << value;
  return out.str();
}

// The names of the bits set in `value`, lowest bit first in `names`, joined by '|' (what no name
// covers in hex); "0" for none.
std::string Bits(unsigned long value, const char* names) {
  std::istringstream in(names);
  std::string out, name;
  for (unsigned long bit = 1; in >> name; bit <<= 1) {
    if (!(value & bit)) continue;
    out += (out.empty() ? "" : "|") + name;
    value &= ~bit;
  }
  if (value) out += (out.empty() ? "" : "|") + Hex(value);
  return out.empty() ? "0" : out;
}

// The word at `index` of the space-separated `names`.
std::string Nth(unsigned index, const char* names) {
  std::istringstream in(names);
  std::string name;
  for (unsigned i = 0; in >> name; ++i)
    if (i == index) return name;
  return std::to_string(index);
}

const char kTypeFlags[] =
    "appobject cancreate licensed predeclid hidden control dual nonextensible oleautomation "
    "restricted aggregatable replaceable dispatchable reversebind proxy";
const char kParamFlags[] = "in out lcid retval optional hasdefault hascustdata";
const char kImplFlags[] = "default source restricted defaultvtable";
const char kLibFlags[] = "restricted control hidden";
const char kKinds[] = "enum record module interface dispatch coclass alias union";
const char kInvokeKinds[] = "func propget propput propputref";
const char kVarKinds[] = "perinstance static const dispatch";
const char kFuncKinds[] = "virtual purevirtual nonvirtual static dispatch";
const char kCallConvs[] = "fastcall cdecl pascal macpascal stdcall fpfastcall syscall";
const char kVarTypes[] =
    "EMPTY NULL I2 I4 R4 R8 CY DATE BSTR IDispatch SCODE BOOL VARIANT IUnknown DECIMAL 15 I1 UI1 "
    "UI2 UI4 I8 UI8 INT UINT void HRESULT PTR SAFEARRAY CARRAY USERDEFINED LPSTR LPWSTR";

// The help string, file and context GetDocumentation gives, as " help ..." where there are any.
template <typename Source>
std::string DocOf(Source* source, MEMBERID id, std::string* name = nullptr) {
  win::UniqueBstr own, doc, file;
  DWORD context = 0;
  EXPECT_EQ(source->GetDocumentation(id, own.put(), doc.put(), &context, file.put()), S_OK);
  if (name) *name = Narrow(own.view());
  if (doc.length() == 0 && file.length() == 0 && context == 0) return "";
  return " help \"" + Narrow(doc.view()) + "\" \"" + Narrow(file.view()) + "\" " +
         std::to_string(context);
}

std::string NameOf(ITypeInfo* info) {
  std::string name;
  DocOf(info, MEMBERID_NIL, &name);
  return name;
}

std::string TypeText(ITypeInfo* info, const TYPEDESC& type) {
  if (type.vt == VT_PTR) return TypeText(info, *type.lptdesc) + "*";
  if (type.vt != VT_USERDEFINED) return Nth(type.vt, kVarTypes);
  ComPtr<ITypeInfo> referenced;
  EXPECT_EQ(info->GetRefTypeInfo(type.hreftype, referenced.put()), S_OK);
  return referenced ? NameOf(referenced.get()) : "?";
}

// The names GetNames reports for a member: its own, then those of its named parameters.
std::vector<std::string> NamesOf(ITypeInfo* info, MEMBERID id, UINT maxNames) {
  std::vector<win::UniqueBstr> names(maxNames);
  std::vector<BSTR> raw(maxNames, nullptr);
  UINT count = 0;
  EXPECT_EQ(info->GetNames(id, raw.data(), maxNames, &count), S_OK);
  std::vector<std::string> out;
  for (UINT i = 0; i < count; ++i) {
    names[i].reset(raw[i]);
    out.push_back(Narrow(names[i].view()));
  }
  return out;
}

// The vtable half of a dual interface.
ComPtr<ITypeInfo> VtableOf(ITypeInfo* dispatch) {
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> vtable;
  EXPECT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
  EXPECT_EQ(dispatch->GetRefTypeInfo(ref, vtable.put()), S_OK);
  return vtable;
}

void DumpType(ITypeInfo* info, int pointerSize, std::ostream& out) {
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  std::string name;
  std::string doc = DocOf(info, MEMBERID_NIL, &name);
  out << Nth(attr->typekind, kKinds) << " " << name << " " << Text(attr->guid) << " version "
      << attr->wMajorVerNum << "." << attr->wMinorVerNum << doc << "\n";
  if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
    // The dispatch view is derived by the loader, as the platform chooses: the library holds
    // the vtable half.
    out << "  dual, its vtable half:\n";
    info->ReleaseTypeAttr(attr);
    return DumpType(VtableOf(info).get(), pointerSize, out);
  }
  out << "  flags " << Bits(attr->wTypeFlags, kTypeFlags) << " funcs " << attr->cFuncs << " vars "
      << attr->cVars << " implemented " << attr->cImplTypes << "\n";
  if (attr->typekind == TKIND_INTERFACE)
    out << "  vtable of " << attr->cbSizeVft / pointerSize << " pointers\n";
  for (UINT i = 0; i < attr->cImplTypes; ++i) {
    HREFTYPE ref = 0;
    INT flags = 0;
    ComPtr<ITypeInfo> base;
    EXPECT_EQ(info->GetRefTypeOfImplType(i, &ref), S_OK);
    EXPECT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
    EXPECT_EQ(info->GetRefTypeInfo(ref, base.put()), S_OK);
    out << "  implements " << NameOf(base.get()) << " flags " << Bits(flags, kImplFlags) << "\n";
  }
  std::string offsets;
  for (UINT i = 0; i < attr->cVars; ++i) {
    VARDESC* var = nullptr;
    ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
    std::string name;
    std::string doc = DocOf(info, var->memid, &name);
    out << "  field " << name << " " << TypeText(info, var->elemdescVar.tdesc) << " id "
        << Hex(var->memid) << " " << Nth(var->varkind, kVarKinds) << " flags " << var->wVarFlags
        << doc << "\n";
    offsets += " " + std::to_string(var->oInst);
    info->ReleaseVarDesc(var);
  }
  if (attr->typekind == TKIND_RECORD)
    out << "  layout size " << attr->cbSizeInstance << " align " << attr->cbAlignment << " offsets"
        << offsets << "\n";
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
    // Names are looked up by DISPID, which a put shares with its get: a put's value shows none.
    const bool put = f->invkind == INVOKE_PROPERTYPUT;
    std::vector<std::string> names = NamesOf(info, f->memid, put ? 1 : 1 + f->cParams);
    // Slots in the reading process's pointer size, which the loader reports offsets in.
    out << "  slot " << f->oVft / static_cast<SHORT>(sizeof(void*)) << " id " << Hex(f->memid)
        << " " << Bits(f->invkind, kInvokeKinds) << " " << names.at(0) << "(";
    for (SHORT p = 0; p < f->cParams; ++p) {
      const ELEMDESC& param = f->lprgelemdescParam[p];
      out << (p ? ", " : "") << "[" << Bits(param.paramdesc.wParamFlags, kParamFlags) << "] "
          << TypeText(info, param.tdesc) << " "
          << (static_cast<size_t>(p) + 1 < names.size() ? names[p + 1] : "(unnamed)");
    }
    out << ") returns " << TypeText(info, f->elemdescFunc.tdesc) << " "
        << Nth(f->funckind, kFuncKinds) << " " << Nth(f->callconv, kCallConvs) << " flags "
        << f->wFuncFlags << " optional " << f->cParamsOpt << DocOf(info, f->memid) << "\n";
    info->ReleaseFuncDesc(f);
  }
  info->ReleaseTypeAttr(attr);
}

std::string DumpTypeLibrary(const BuiltServer& server) {
  ComPtr<ITypeLib> library;
  EXPECT_EQ(::LoadTypeLibEx(server.exe.c_str(), REGKIND_NONE, library.put()), S_OK)
      << Narrow(server.exe);
  if (!library) return "";
  std::ostringstream out;
  TLIBATTR* attr = nullptr;
  EXPECT_EQ(library->GetLibAttr(&attr), S_OK);
  std::string name;
  std::string doc = DocOf(library.get(), MEMBERID_NIL, &name);
  // The loader may add FHASDISKIMAGE: not the library's own.
  out << "library " << name << " " << Text(attr->guid) << " version " << attr->wMajorVerNum << "."
      << attr->wMinorVerNum << " lcid " << Hex(attr->lcid) << " flags "
      << Bits(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, kLibFlags) << doc << "\n"
      << "syskind " << (attr->syskind == SYS_WIN64 ? "win64" : "win32") << "\n";
  library->ReleaseTLibAttr(attr);
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(library->GetTypeInfo(i, info.put()), S_OK);
    if (info) DumpType(info.get(), server.pointerSize, out);
  }
  return out.str();
}

TEST(BuiltServerDumps, TypeLibrary) { CheckDump("quandrelcom_typelib.txt", DumpTypeLibrary); }

class TypeLibraryTest : public ::testing::TestWithParam<BuiltServer> {
 protected:
  void SetUp() override {
    SKIP_IF_OTHER_RUNS_IT(GetParam());
    SKIP_UNLESS_BUILT(GetParam());
    ASSERT_EQ(::LoadTypeLibEx(GetParam().exe.c_str(), REGKIND_NONE, library_.put()), S_OK)
        << Narrow(GetParam().exe);
    ASSERT_EQ(library_->GetTypeInfoOfGuid(kIid, dispatch_.put()), S_OK);
    vtable_ = VtableOf(dispatch_.get());
    ASSERT_TRUE(vtable_);
  }

  ComPtr<ITypeLib> library_;
  ComPtr<ITypeInfo> dispatch_, vtable_;  // the interface's dispatch view and its vtable half
};

TEST_P(TypeLibraryTest, InterfaceIsDualHiddenNonextensibleAutomation) {
  {
    // Whatever else the platform's dispatch view shows, clients take these from it.
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(dispatch_->GetTypeAttr(&attr), S_OK);
    const WORD required =
        TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->wTypeFlags & required, required) << std::hex << attr->wTypeFlags;
    dispatch_->ReleaseTypeAttr(attr);
  }
  // The automation marshaller serves the vtable half only when it is dual and oleautomation.
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(vtable_->GetTypeAttr(&attr), S_OK);
  const WORD required = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
  EXPECT_EQ(attr->wTypeFlags & required, required) << std::hex << attr->wTypeFlags;
  vtable_->ReleaseTypeAttr(attr);
}

TEST_P(TypeLibraryTest, RetvalParametersAreUnnamed) {
  // widl names every parameter the IDL leaves unnamed; server/com/unname_retval_params.cmake
  // takes the names of the [out, retval] ones away again after widl has written the library.
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(vtable_->GetTypeAttr(&attr), S_OK);
  int retvals = 0;
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(vtable_->GetFuncDesc(i, &f), S_OK);
    // A property's get names its value after the property; the methods' results go unnamed.
    SHORT last = f->cParams - 1;
    if (f->invkind == INVOKE_FUNC && last >= 0 &&
        (f->lprgelemdescParam[last].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) {
      ++retvals;
      // The member's own name and those of the parameters before the retval one, no more.
      EXPECT_EQ(NamesOf(vtable_.get(), f->memid, 1 + f->cParams).size(),
                static_cast<size_t>(f->cParams))
          << "member " << Hex(f->memid);
    }
    vtable_->ReleaseFuncDesc(f);
  }
  vtable_->ReleaseTypeAttr(attr);
  EXPECT_EQ(retvals, 4);  // RunCmd, RunCmd2, QuandrelRunCmd, Quandrel
}

TEST_P(TypeLibraryTest, DispatchMapsNamedArgumentsOfRunCmdToTheirPositions) {
  // Names in an order unlike the declaration: each gets its own position.
  const wchar_t* names[] = {L"RunCmd", L"bWait", L"strCmdLine", L"wShowWindow"};
  MEMBERID ids[4] = {};
  ASSERT_EQ(dispatch_->GetIDsOfNames(const_cast<LPOLESTR*>(names), 4, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60030002);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(ids[3], 1);
  // Member names are matched regardless of case, as late-bound clients expect.
  const wchar_t* lower[] = {L"enabledebuglog", L"BENABLE"};
  ASSERT_EQ(dispatch_->GetIDsOfNames(const_cast<LPOLESTR*>(lower), 2, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60030001);
  EXPECT_EQ(ids[1], 0);
}

INSTANTIATE_TEST_SUITE_P(Builds, TypeLibraryTest, ::testing::Values(X64Server(), I686Server()),
                         [](const auto& info) { return std::string(info.param.build); });

}  // namespace
}  // namespace korvane::test
