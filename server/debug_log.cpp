#include "quandrel_com.h"

namespace korvane::server {

void QuandrelCom::WriteDebugLog(std::wstring_view) {}

}  // namespace korvane::server
