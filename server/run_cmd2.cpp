#include "quandrel_com.h"

namespace korvane::server {

MethodStatus QuandrelCom::RunCmd2Body(win::UniqueBstr& result, const win::UniqueBstr&, LONG) {
  result = win::UniqueBstr(std::wstring_view(L"failed to execute command"));
  return MethodStatus();
}

}  // namespace korvane::server
