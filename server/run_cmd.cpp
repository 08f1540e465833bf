#include "quandrel_com.h"

namespace korvane::server {

MethodStatus QuandrelCom::RunCmdBody(VARIANT_BOOL& result, const win::UniqueBstr&, LONG,
                                     VARIANT_BOOL) {
  result = VARIANT_FALSE;
  return MethodStatus();
}

}  // namespace korvane::server
