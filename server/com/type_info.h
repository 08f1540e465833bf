// The type information of _QuandrelCom, read from the type library embedded in the running
// executable (resource TYPELIB 1) on first use and kept until ReleaseQuandrelComTypeInfo.
#pragma once

#include <windows.h>

#include <oaidl.h>

namespace korvane::server::com {

[[nodiscard]] HRESULT GetQuandrelComTypeInfo(ITypeInfo** info) noexcept;

// Lets go of the kept type information; the next GetQuandrelComTypeInfo reads it again. The
// serving thread calls it before it leaves its apartment: a COM object must be released while
// COM is still initialized, not by a static destructor after CoUninitialize.
void ReleaseQuandrelComTypeInfo();

}  // namespace korvane::server::com
