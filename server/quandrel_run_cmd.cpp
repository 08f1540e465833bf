#include "quandrel_com.h"

namespace korvane::server {

MethodStatus QuandrelCom::QuandrelRunCmdBody(win::UniqueBstr&, const win::UniqueBstr&) {
  return MethodStatus();
}

}  // namespace korvane::server
