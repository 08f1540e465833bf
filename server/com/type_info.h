// The type information of _QuandrelCom, read once from the type library embedded in the running
// executable (resource TYPELIB 1) and kept for the life of the process.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace korvane::server {

[[nodiscard]] HRESULT GetQuandrelComTypeInfo(ITypeInfo** info);

}  // namespace korvane::server
