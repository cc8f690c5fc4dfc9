// gmt_offset.h: the local time zone's offset, as the data file states it.
#ifndef WHIRLO_BRIDGE_GMT_OFFSET_H
#define WHIRLO_BRIDGE_GMT_OFFSET_H

#include <ctime>

namespace bridge {

/// Seconds to add to GMT to get local time at `now` (negative west of
/// Greenwich).
long gmt_offset(std::time_t now);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_GMT_OFFSET_H
