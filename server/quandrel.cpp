#include "quandrel_com.h"

namespace korvane::server {

MethodStatus QuandrelCom::QuandrelBody(LONG& result, const win::UniqueBstr&) {
  result = 0;
  return MethodStatus();
}

}  // namespace korvane::server
