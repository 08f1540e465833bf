// Random calls against a registered copy of the server, as a hostile client would make them:
// through IDispatch (Invoke with real and random DISPIDs, flags, argument counts, named arguments
// and every kind of VARIANT, by value, by reference and in arrays; GetIDsOfNames with odd names
// and counts; GetTypeInfo) and through the dual interface's vtable. After each call a known-good
// call (get g_isDebug) must still be answered. Printed: calls made, server faults, hangs and a
// histogram of the HRESULTs.
//   bench_fuzz.exe [calls, default 10000] [seed, default 1] [call number]
// With a call number only that call is made, described and answered: each call draws from a
// generator of its own, seeded by the run's seed and its number, so it replays alone.
// Exit code 0 when the server never faulted, died or hung, 1 otherwise (CTest runs a short seed).
//
// Every text sent begins with kNoProgram, a first word no file can be named, so no command
// runner can start anything; a null text names nothing either. The engine is not copied beside
// the server, so its methods find nothing to run.
#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/win/com_ptr.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_excep_info.h"
#include "common/win/unique_handle.h"
#include "server/com/quandrelcom.h"
#include "testing/support/server_install.h"

namespace {

using namespace korvane::bench;
using korvane::win::ComPtr;
using korvane::win::UniqueBstr;

// A control character cannot be part of a file name, so this first word names no program.
constexpr wchar_t kNoProgram[] =
    L"\x01"
    L"fuzz-no-such-program ";
// A call that takes longer counts as a hang; one that has not returned after kGiveUpMs ends the
// run (the watchdog prints what it has).
constexpr DWORD kHangBoundMs = 10000;
constexpr DWORD kGiveUpMs = 60000;

constexpr DISPID kIsDebug = 0x40030000;
constexpr DISPID kMethods[] = {kIsDebug,   0x60030001, 0x60030002,
                               0x60030003, 0x60030004, 0x60030005};
// Methods whose first parameter is a command line (RunCmd, RunCmd2, QuandrelRunCmd, Quandrel).
bool TakesCommandLine(DISPID id) { return id >= 0x60030002 && id <= 0x60030005; }

// The random source of one call. Only the engine comes from the standard library; the
// distributions are our own, since the standard ones may differ between library versions.
class Dice {
 public:
  Dice(uint32_t seed, uint32_t call) {
    std::seed_seq sequence{seed, call};
    engine_.seed(sequence);
  }
  uint32_t Bits() { return static_cast<uint32_t>(engine_()); }
  // 0 .. n-1, evenly.
  uint32_t Below(uint32_t n) {
    const uint32_t limit = UINT32_MAX - UINT32_MAX % n;
    uint32_t value;
    do value = Bits();
    while (value >= limit);
    return value % n;
  }
  bool Percent(uint32_t percent) { return Below(100) < percent; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(static_cast<uint32_t>(N))];
  }

 private:
  std::mt19937 engine_;
};

// A text that begins with kNoProgram (or null), built as the call's description grows.
BSTR RandomText(Dice& dice, std::string& trace) {
  std::wstring text = kNoProgram;
  switch (dice.Below(8)) {
    case 0:
      trace += "null";
      return nullptr;
    case 1:
      trace += "prefix";
      break;
    case 2: {
      static const wchar_t kShell[] = L" \"'%&|<>^()!;,=\t\\/:*?.";
      const uint32_t length = dice.Below(40);
      for (uint32_t i = 0; i < length; ++i)
        text += dice.Percent(30) ? kShell[dice.Below(sizeof kShell / sizeof kShell[0] - 1)]
                                 : static_cast<wchar_t>(L' ' + dice.Below(95));
      trace += "ascii(" + std::to_string(length) + ")";
      break;
    }
    case 3: {  // any UTF-16 unit: NULs, unpaired surrogates, non-characters
      const uint32_t length = dice.Below(40);
      for (uint32_t i = 0; i < length; ++i) text += static_cast<wchar_t>(dice.Below(0x10000));
      trace += "utf16(" + std::to_string(length) + ")";
      break;
    }
    case 4: {
      const uint32_t length = dice.Percent(10) ? 40000 : dice.Below(3000);
      text.append(length, L'x');
      trace += "long(" + std::to_string(length) + ")";
      break;
    }
    case 5: {  // an odd number of bytes
      const UINT bytes = static_cast<UINT>(text.size() * sizeof(wchar_t)) + 1 + 2 * dice.Below(8);
      BSTR odd = ::SysAllocStringByteLen(nullptr, bytes);
      if (odd != nullptr) {
        std::memset(odd, 'y', bytes);
        std::memcpy(odd, text.data(), text.size() * sizeof(wchar_t));
      }
      trace += "odd-bytes(" + std::to_string(bytes) + ")";
      return odd;
    }
    case 6:
      text += L"%PATH% & \"C:\\Windows\\System32\\cmd.exe\" /c exit | more";
      trace += "shell";
      break;
    default:
      text += L"RunCmd2 g_isDebug";
      trace += "names";
      break;
  }
  return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The storage of one call's arguments: the VARIANTs that by-reference arguments point into,
// cleared (with what they own) when the call is done.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    for (VARIANT& cell : cells_) ::VariantClear(&cell);
  }
  VARIANT* Cell() {
    cells_.emplace_back();
    ::VariantInit(&cells_.back());
    return &cells_.back();
  }

 private:
  std::deque<VARIANT> cells_;
};

// A SAFEARRAY of `vt` (VT_I4, VT_BSTR or VT_VARIANT), one or two dimensions, maybe empty.
SAFEARRAY* RandomArray(Dice& dice, VARTYPE vt, std::string& trace) {
  SAFEARRAYBOUND bounds[2] = {{dice.Below(4), static_cast<LONG>(dice.Below(3)) - 1},
                              {dice.Below(3) + 1, 0}};
  const UINT dimensions = dice.Percent(20) ? 2 : 1;
  SAFEARRAY* array = ::SafeArrayCreate(vt, dimensions, bounds);
  trace += "[" + std::to_string(bounds[0].cElements) + (dimensions == 2 ? "x" : "") +
           (dimensions == 2 ? std::to_string(bounds[1].cElements) : "") + "]";
  if (array == nullptr) return nullptr;
  const ULONG count = bounds[0].cElements * (dimensions == 2 ? bounds[1].cElements : 1);
  void* data = nullptr;
  if (FAILED(::SafeArrayAccessData(array, &data))) return array;
  for (ULONG i = 0; i < count; ++i) {
    std::string ignored;
    if (vt == VT_I4) {
      static_cast<LONG*>(data)[i] = static_cast<LONG>(dice.Bits());
    } else if (vt == VT_BSTR) {
      static_cast<BSTR*>(data)[i] = RandomText(dice, ignored);
    } else {
      VARIANT& element = static_cast<VARIANT*>(data)[i];
      element.vt = VT_BSTR;
      element.bstrVal = RandomText(dice, ignored);
    }
  }
  ::SafeArrayUnaccessData(array);
  return array;
}

// A VARIANT of a random type into `out`, which owns what it holds unless it is by reference (the
// arena owns that). `commandSafe`: the value may reach a command line, so it is a text with the
// prefix, null or empty, or of a type that does not convert to a text at all.
void RandomVariant(Dice& dice, Arena& arena, bool commandSafe, VARIANT* out, std::string& trace,
                   int depth = 0) {
  ::VariantInit(out);
  enum Kind {
    kEmpty,
    kNull,
    kText,
    kTextRef,
    kVariantRef,
    kMissing,
    kNullObject,
    kTextArray,
    kVariantArray,
    kArrayRef,
    // Only where the value reaches no command line:
    kI2,
    kI4,
    kR4,
    kR8,
    kCy,
    kDate,
    kBool,
    kDecimal,
    kI1,
    kUi1,
    kUi2,
    kUi4,
    kI8,
    kUi8,
    kInt,
    kUint,
    kError,
    kI4Ref,
    kBoolRef,
    kR8Ref,
    kI4Array,
    kKinds
  };
  static const char* const kNames[] = {
      "EMPTY",     "NULL",    "BSTR",  "BSTR&", "VARIANT&", "missing", "null-object", "BSTR[]",
      "VARIANT[]", "ARRAY&",  "I2",    "I4",    "R4",       "R8",      "CY",          "DATE",
      "BOOL",      "DECIMAL", "I1",    "UI1",   "UI2",      "UI4",     "I8",          "UI8",
      "INT",       "UINT",    "ERROR", "I4&",   "BOOL&",    "R8&",     "I4[]"};
  Kind kind = static_cast<Kind>(dice.Below(commandSafe ? kI2 : kKinds));
  // A VARIANT& may not point at another VARIANT&.
  if (depth > 0 && kind == kVariantRef) kind = kText;
  trace += kNames[kind];
  static const LONG kLongs[] = {0, 1, -1, 5, 7, 65535, 65536, -65536, LONG_MIN, LONG_MAX};
  static const double kDoubles[] = {0.0,
                                    -0.0,
                                    1.5,
                                    1e300,
                                    -1e300,
                                    std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::quiet_NaN(),
                                    4e-320};
  auto randomLong = [&] {
    return dice.Percent(50) ? dice.Pick(kLongs) : static_cast<LONG>(dice.Bits());
  };
  switch (kind) {
    case kEmpty:
      break;
    case kNull:
      out->vt = VT_NULL;
      break;
    case kText:
      trace += "(";
      out->vt = VT_BSTR;
      out->bstrVal = RandomText(dice, trace);
      trace += ")";
      break;
    case kTextRef: {
      VARIANT* cell = arena.Cell();
      cell->vt = VT_BSTR;
      trace += "(";
      cell->bstrVal = RandomText(dice, trace);
      trace += ")";
      out->vt = VT_BSTR | VT_BYREF;
      out->pbstrVal = &cell->bstrVal;
      break;
    }
    case kVariantRef: {
      VARIANT* cell = arena.Cell();
      trace += "(";
      RandomVariant(dice, arena, commandSafe, cell, trace, depth + 1);
      trace += ")";
      out->vt = VT_VARIANT | VT_BYREF;
      out->pvarVal = cell;
      break;
    }
    case kMissing:
      out->vt = VT_ERROR;
      out->scode = DISP_E_PARAMNOTFOUND;
      break;
    case kNullObject:
      out->vt = dice.Percent(50) ? VT_DISPATCH : VT_UNKNOWN;
      out->punkVal = nullptr;
      break;
    case kTextArray:
      out->vt = VT_ARRAY | VT_BSTR;
      out->parray = RandomArray(dice, VT_BSTR, trace);
      if (out->parray == nullptr) out->vt = VT_EMPTY;
      break;
    case kVariantArray:
      out->vt = VT_ARRAY | VT_VARIANT;
      out->parray = RandomArray(dice, VT_VARIANT, trace);
      if (out->parray == nullptr) out->vt = VT_EMPTY;
      break;
    case kArrayRef: {
      VARIANT* cell = arena.Cell();
      const VARTYPE element = commandSafe ? VT_BSTR : dice.Percent(50) ? VT_I4 : VT_VARIANT;
      cell->parray = RandomArray(dice, element, trace);
      cell->vt =
          cell->parray != nullptr ? static_cast<VARTYPE>(VT_ARRAY | element) : VARTYPE{VT_EMPTY};
      if (cell->parray == nullptr) break;
      out->vt = VT_ARRAY | VT_BYREF | element;
      out->pparray = &cell->parray;
      break;
    }
    case kI2:
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(randomLong());
      break;
    case kI4:
      out->vt = VT_I4;
      out->lVal = randomLong();
      break;
    case kR4:
      out->vt = VT_R4;
      out->fltVal = static_cast<float>(dice.Pick(kDoubles));
      break;
    case kR8:
      out->vt = VT_R8;
      out->dblVal = dice.Pick(kDoubles);
      break;
    case kCy:
      out->vt = VT_CY;
      out->cyVal.int64 = (int64_t{randomLong()} << 32) | dice.Bits();
      break;
    case kDate:
      out->vt = VT_DATE;
      out->date = dice.Pick(kDoubles);
      break;
    case kBool:
      out->vt = VT_BOOL;
      out->boolVal = static_cast<VARIANT_BOOL>(dice.Bits());
      break;
    case kDecimal:
      out->decVal.Hi32 = dice.Bits();
      out->decVal.Lo64 = (uint64_t{dice.Bits()} << 32) | dice.Bits();
      out->decVal.scale = static_cast<BYTE>(dice.Below(40));  // above 28 is invalid
      out->decVal.sign = dice.Percent(50) ? DECIMAL_NEG : 0;
      out->vt = VT_DECIMAL;  // after the value: they share the first bytes
      break;
    case kI1:
      out->vt = VT_I1;
      out->cVal = static_cast<CHAR>(dice.Bits());
      break;
    case kUi1:
      out->vt = VT_UI1;
      out->bVal = static_cast<BYTE>(dice.Bits());
      break;
    case kUi2:
      out->vt = VT_UI2;
      out->uiVal = static_cast<USHORT>(dice.Bits());
      break;
    case kUi4:
      out->vt = VT_UI4;
      out->ulVal = dice.Bits();
      break;
    case kI8:
      out->vt = VT_I8;
      out->llVal = (int64_t{randomLong()} << 32) | dice.Bits();
      break;
    case kUi8:
      out->vt = VT_UI8;
      out->ullVal = (uint64_t{dice.Bits()} << 32) | dice.Bits();
      break;
    case kInt:
      out->vt = VT_INT;
      out->intVal = randomLong();
      break;
    case kUint:
      out->vt = VT_UINT;
      out->uintVal = dice.Bits();
      break;
    case kError:
      out->vt = VT_ERROR;
      out->scode = static_cast<SCODE>(dice.Bits());
      break;
    case kI4Ref: {
      VARIANT* cell = arena.Cell();
      cell->vt = VT_I4;
      cell->lVal = randomLong();
      out->vt = VT_I4 | VT_BYREF;
      out->plVal = &cell->lVal;
      break;
    }
    case kBoolRef: {
      VARIANT* cell = arena.Cell();
      cell->vt = VT_BOOL;
      cell->boolVal = static_cast<VARIANT_BOOL>(dice.Bits());
      out->vt = VT_BOOL | VT_BYREF;
      out->pboolVal = &cell->boolVal;
      break;
    }
    case kR8Ref: {
      VARIANT* cell = arena.Cell();
      cell->vt = VT_R8;
      cell->dblVal = dice.Pick(kDoubles);
      out->vt = VT_R8 | VT_BYREF;
      out->pdblVal = &cell->dblVal;
      break;
    }
    case kI4Array:
      out->vt = VT_ARRAY | VT_I4;
      out->parray = RandomArray(dice, VT_I4, trace);
      if (out->parray == nullptr) out->vt = VT_EMPTY;
      break;
    case kKinds:
      break;
  }
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

// IDispatch::Invoke with a random member, flags, lcid and argument block.
HRESULT RandomInvoke(Dice& dice, IDispatch* dispatch, std::string& trace) {
  static const DISPID kOthers[] = {0,
                                   DISPID_UNKNOWN,
                                   DISPID_PROPERTYPUT,
                                   DISPID_NEWENUM,
                                   DISPID_EVALUATE,
                                   DISPID_VALUE - 1000,
                                   0x40030001,
                                   0x60030000,
                                   0x60030006,
                                   0x60000000,
                                   0x60000001,
                                   0x60000002,  // IUnknown's
                                   0x60010000,
                                   0x60010001,
                                   0x60010002,
                                   0x60010003};  // IDispatch's
  static const WORD kFlags[] = {DISPATCH_METHOD,
                                DISPATCH_PROPERTYGET,
                                DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                DISPATCH_PROPERTYPUT,
                                DISPATCH_PROPERTYPUTREF,
                                DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF,
                                0};
  static const LCID kLcids[] = {0x409, LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT, 0, 0x407};
  const DISPID id = dice.Percent(60)   ? dice.Pick(kMethods)
                    : dice.Percent(70) ? dice.Pick(kOthers)
                                       : static_cast<DISPID>(dice.Bits());
  const WORD flags = dice.Percent(90) ? dice.Pick(kFlags) : static_cast<WORD>(dice.Bits());
  const LCID lcid = dice.Percent(90) ? dice.Pick(kLcids) : dice.Bits();
  const UINT count = dice.Percent(95) ? dice.Below(5) : dice.Below(40);
  const UINT named = count == 0 ? 0 : dice.Percent(60) ? 0 : dice.Below(count + 1);
  trace += "Invoke id=" + Hex(static_cast<uint32_t>(id)) + " flags=" + Hex(flags) +
           " lcid=" + Hex(lcid) + " args=" + std::to_string(count) +
           " named=" + std::to_string(named);

  Arena arena;
  std::vector<VARIANT> args(count);
  std::vector<DISPID> names(named);
  static const DISPID kParams[] = {0, 1, 2, 3, DISPID_PROPERTYPUT, -1};
  for (UINT i = 0; i < named; ++i)
    names[i] = dice.Percent(90) ? dice.Pick(kParams) : static_cast<DISPID>(dice.Bits());
  for (UINT i = 0; i < count; ++i) {
    // rgvarg holds the named arguments first, then the positional ones last to first.
    const DISPID param = i < named ? names[i] : static_cast<DISPID>(count - 1 - i);
    trace += i == 0 ? " [" : ", ";
    if (i < named) trace += "#" + std::to_string(names[i]) + "=";
    RandomVariant(dice, arena, TakesCommandLine(id) && param == 0, &args[i], trace);
  }
  if (count > 0) trace += "]";
  DISPPARAMS params{args.data(), names.data(), count, named};
  VARIANT result;
  ::VariantInit(&result);
  korvane::win::UniqueExcepInfo excep;
  UINT argError = 0;
  const bool withResult = dice.Percent(80), withExcep = dice.Percent(80),
             withArgError = dice.Percent(80);
  const IID& iid = dice.Percent(95) ? IID_NULL : IID_IDispatch;
  const HRESULT hr =
      dispatch->Invoke(id, iid, lcid, flags, &params, withResult ? &result : nullptr,
                       withExcep ? excep.put() : nullptr, withArgError ? &argError : nullptr);
  ::VariantClear(&result);
  for (VARIANT& arg : args)
    if ((arg.vt & VT_BYREF) == 0) ::VariantClear(&arg);
  return hr;
}

// IDispatch::GetIDsOfNames with known, odd and null names, and counts from none up.
HRESULT RandomGetIDsOfNames(Dice& dice, IDispatch* dispatch, std::string& trace) {
  static const wchar_t* const kKnown[] = {L"RunCmd",     L"RUNCMD2",        L"QuandrelRunCmd",
                                          L"Quandrel",   L"g_isDebug",      L"EnableDebugLog",
                                          L"strCmdLine", L"wShowWindow",    L"bWait",
                                          L"bEnable",    L"QueryInterface", L"Invoke",
                                          L"",           L"Quandrel "};
  const UINT count = dice.Percent(25) ? 0 : dice.Below(5) + 1;
  std::vector<UniqueBstr> owned;
  std::vector<LPOLESTR> names(count == 0 ? 1 : count, nullptr);
  trace += "GetIDsOfNames count=" + std::to_string(count) + " [";
  for (UINT i = 0; i < count; ++i) {
    trace += i == 0 ? "" : ", ";
    if (dice.Percent(5)) {
      trace += "null";
      continue;
    }
    if (dice.Percent(60)) {
      const wchar_t* name = dice.Pick(kKnown);
      owned.emplace_back(std::wstring_view(name));
      trace += "known";
    } else {
      owned.emplace_back();
      *owned.back().put() = RandomText(dice, trace);
      if (owned.back().get() == nullptr) continue;
    }
    names[i] = owned.back().get();
  }
  trace += "]";
  std::vector<DISPID> ids(names.size(), 0);
  const IID& iid = dice.Percent(95) ? IID_NULL : IID_IDispatch;
  return dispatch->GetIDsOfNames(iid, names.data(), count, dice.Percent(90) ? 0x409 : dice.Bits(),
                                 ids.data());
}

// A call through the dual interface's vtable.
HRESULT RandomVtableCall(Dice& dice, _QuandrelCom* object, std::string& trace) {
  static const LONG kShow[] = {0, 1, 5, 7, 10, 11, 12, -1, 65535, 65536, LONG_MIN, LONG_MAX};
  const LONG show = dice.Percent(80) ? dice.Pick(kShow) : static_cast<LONG>(dice.Bits());
  const VARIANT_BOOL flag =
      dice.Percent(50) ? VARIANT_FALSE : static_cast<VARIANT_BOOL>(dice.Bits());
  UniqueBstr text, output;
  const uint32_t method = dice.Below(9);
  if (method >= 3 && method <= 6) {
    trace += "(";
    *text.put() = RandomText(dice, trace);
    trace += ") ";
  }
  VARIANT_BOOL value = 0;
  LONG number = 0;
  switch (method) {
    case 0:
      trace += "get_g_isDebug";
      return object->get_g_isDebug(&value);
    case 1:
      trace += "put_g_isDebug " + Hex(static_cast<USHORT>(flag));
      return object->put_g_isDebug(flag);
    case 2:
      trace += "EnableDebugLog " + Hex(static_cast<USHORT>(flag));
      return object->EnableDebugLog(flag);
    case 3:
      trace += "RunCmd show=" + std::to_string(show) + " wait=" + Hex(static_cast<USHORT>(flag));
      return object->RunCmd(text.get(), show, flag, &value);
    case 4:
      trace += "RunCmd2 show=" + std::to_string(show);
      return object->RunCmd2(text.get(), show, output.put());
    case 5:
      trace += "QuandrelRunCmd";
      return object->QuandrelRunCmd(text.get(), output.put());
    case 6:
      trace += "Quandrel";
      return object->Quandrel(text.get(), &number);
    case 7: {
      trace += "GetTypeInfoCount";
      UINT infos = 0;
      return object->GetTypeInfoCount(&infos);
    }
    default: {
      static const UINT kIndexes[] = {0, 1, 2, UINT_MAX};
      const UINT index = dice.Percent(80) ? dice.Pick(kIndexes) : dice.Bits();
      trace += "GetTypeInfo " + std::to_string(index);
      ComPtr<ITypeInfo> info;
      return object->GetTypeInfo(index, 0x409, info.put());
    }
  }
}

// Call number `call` of the run with `seed`.
HRESULT MakeCall(uint32_t seed, uint32_t call, _QuandrelCom* object, std::string& trace) {
  Dice dice(seed, call);
  const uint32_t route = dice.Below(10);
  if (route < 5) return RandomInvoke(dice, object, trace);
  if (route < 7) return RandomGetIDsOfNames(dice, object, trace);
  trace += "vtable ";
  return RandomVtableCall(dice, object, trace);
}

bool IsServerFault(HRESULT hr) {
  switch (static_cast<uint32_t>(hr)) {
    case 0x800703E6:  // ERROR_NOACCESS: an access violation in the server, under Wine
    case 0x80010105:  // RPC_E_SERVERFAULT
    case 0x80010108:  // RPC_E_DISCONNECTED
    case 0x800706BA:  // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BE:  // RPC_S_CALL_FAILED
      return true;
    default:
      return false;
  }
}

const char* NameOf(HRESULT hr) {
  static const std::map<uint32_t, const char*> kNames = {
      {0x00000000, "S_OK"},
      {0x00000001, "S_FALSE"},
      {0x80004001, "E_NOTIMPL"},
      {0x80004003, "E_POINTER"},
      {0x8007000E, "E_OUTOFMEMORY"},
      {0x80070057, "E_INVALIDARG"},
      {0x8000FFFF, "E_UNEXPECTED"},
      {0x80020001, "DISP_E_UNKNOWNINTERFACE"},
      {0x80020003, "DISP_E_MEMBERNOTFOUND"},
      {0x80020004, "DISP_E_PARAMNOTFOUND"},
      {0x80020005, "DISP_E_TYPEMISMATCH"},
      {0x80020006, "DISP_E_UNKNOWNNAME"},
      {0x80020007, "DISP_E_NONAMEDARGS"},
      {0x80020008, "DISP_E_BADVARTYPE"},
      {0x80020009, "DISP_E_EXCEPTION"},
      {0x8002000A, "DISP_E_OVERFLOW"},
      {0x8002000B, "DISP_E_BADINDEX"},
      {0x8002000E, "DISP_E_BADPARAMCOUNT"},
      {0x8002000F, "DISP_E_PARAMNOTOPTIONAL"},
      {0x80020011, "DISP_E_NOTACOLLECTION"},
      {0x800A0005, "run-time error 5 (Invalid procedure call or argument)"},
      {0x800A0006, "run-time error 6 (Overflow)"},
      {0x800A0035, "run-time error 53 (File not found)"},
      {0x800703E6, "ERROR_NOACCESS (server fault)"},
      {0x80010105, "RPC_E_SERVERFAULT"},
      {0x80010108, "RPC_E_DISCONNECTED"},
      {0x800706BA, "RPC_S_SERVER_UNAVAILABLE"},
      {0x800706BE, "RPC_S_CALL_FAILED"},
      {0x800706F4, "RPC_X_NULL_REF_POINTER"},
  };
  auto found = kNames.find(static_cast<uint32_t>(hr));
  return found == kNames.end() ? "" : found->second;
}

// Ends the run when a call has not returned long after the hang bound: the server then neither
// answers nor dies, and waiting longer would hold the suite.
class Watchdog {
 public:
  Watchdog() : thread_(::CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr)) {}
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    stop_ = true;
    if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
  }
  void Begin(uint32_t call) {
    call_ = call;
    started_ = ::GetTickCount64();
  }
  void End() { started_ = 0; }

 private:
  static DWORD WINAPI Watch(void* self) {
    auto* watchdog = static_cast<Watchdog*>(self);
    while (!watchdog->stop_) {
      ::Sleep(250);
      const ULONGLONG started = watchdog->started_;
      if (started != 0 && ::GetTickCount64() - started > kGiveUpMs) {
        std::printf("hang: call %lu has not returned after %lu s; the run ends here\n",
                    static_cast<unsigned long>(watchdog->call_.load()), kGiveUpMs / 1000);
        std::fflush(stdout);
        ::ExitProcess(1);
      }
    }
    return 0;
  }
  std::atomic<bool> stop_{false};
  std::atomic<uint32_t> call_{0};
  std::atomic<ULONGLONG> started_{0};
  korvane::win::UniqueHandle thread_;
};

}  // namespace

int main(int argc, char** argv) {
  const uint32_t calls =
      argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 10000;
  const uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1;
  const bool replay = argc > 3;
  const uint32_t first = replay ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 0;
  const uint32_t end = replay ? first + 1 : calls;
  std::setvbuf(stdout, nullptr, _IONBF, 0);

  korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  korvane::test::ServerInstall copy(L"fuzz");
  copy.Register();
  ComPtr<_QuandrelCom> object;
  HRESULT hr = copy.registered()
                   ? ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID__QuandrelCom, object.put_void())
                   : E_FAIL;
  if (FAILED(hr)) {
    std::printf("cannot reach a registered server (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 1;
  }

  std::map<uint32_t, unsigned long> histogram;
  unsigned long made = 0, faults = 0, hangs = 0, deaths = 0;
  double slowest = 0;
  Watchdog watchdog;
  const double start = Now();
  for (uint32_t call = first; call < end; ++call) {
    std::string trace;
    watchdog.Begin(call);
    const double before = Now();
    hr = MakeCall(seed, call, object.get(), trace);
    const double seconds = Now() - before;
    watchdog.End();
    ++made;
    ++histogram[static_cast<uint32_t>(hr)];
    slowest = seconds > slowest ? seconds : slowest;
    if (replay)
      std::printf("call %lu: %s\n  -> 0x%08lX %s (%.3f s)\n", static_cast<unsigned long>(call),
                  trace.c_str(), static_cast<unsigned long>(hr), NameOf(hr), seconds);
    if (IsServerFault(hr)) {
      ++faults;
      std::printf("fault: call %lu -> 0x%08lX %s: %s\n", static_cast<unsigned long>(call),
                  static_cast<unsigned long>(hr), NameOf(hr), trace.c_str());
    }
    if (seconds * 1000 > kHangBoundMs) {
      ++hangs;
      std::printf("hang: call %lu took %.1f s: %s\n", static_cast<unsigned long>(call), seconds,
                  trace.c_str());
    }
    VARIANT_BOOL value = 0;
    watchdog.Begin(call);
    const HRESULT alive = object->get_g_isDebug(&value);
    watchdog.End();
    if (FAILED(alive)) {
      ++deaths;
      std::printf("server no longer answers after call %lu (0x%08lX): %s\n",
                  static_cast<unsigned long>(call), static_cast<unsigned long>(alive),
                  trace.c_str());
      break;
    }
    if (!replay && made % 1000 == 0) std::printf("  %lu calls\n", made);
  }
  const double elapsed = Now() - start;
  object.reset();

  std::printf("seed %lu: %lu calls in %.1f s (%.0f per second, slowest %.3f s)\n",
              static_cast<unsigned long>(seed), made, elapsed, made / elapsed, slowest);
  std::printf("server faults %lu, server deaths %lu, hangs (over %lu s) %lu\n", faults, deaths,
              kHangBoundMs / 1000, hangs);
  std::printf("HRESULTs:\n");
  for (const auto& [code, count] : histogram)
    std::printf("  0x%08lX %7lu  %s\n", static_cast<unsigned long>(code), count,
                NameOf(static_cast<HRESULT>(code)));
  return faults + deaths + hangs == 0 ? 0 : 1;
}
