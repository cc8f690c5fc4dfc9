#include "gmt_offset.h"

namespace bridge {

long gmt_offset(std::time_t now) {
  std::tm local = *std::localtime(&now);
  std::tm utc = *std::gmtime(&now);
  long days = local.tm_yday - utc.tm_yday;
  if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
  return days * 86400 + (local.tm_hour - utc.tm_hour) * 3600L +
         (local.tm_min - utc.tm_min) * 60L + (local.tm_sec - utc.tm_sec);
}

}  // namespace bridge
