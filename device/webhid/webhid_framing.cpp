#include "device/webhid/webhid_framing.h"

#include <cstring>

namespace esc {

std::uint16_t declaredReportLength(const WebHidReportInfo* reports, std::size_t count) {
  std::uint64_t longest = 0;
  bool any = false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t bytes = (std::uint64_t{reports[i].bits} + 7) / 8;
    longest = bytes > longest ? bytes : longest;
    any = true;
  }
  if (!any || longest + 1 > 0xFFFF) {
    return 0;
  }
  return static_cast<std::uint16_t>(longest + 1);
}

bool frameInputReport(std::uint8_t reportId, const std::uint8_t* data, std::size_t size,
                      std::uint8_t* report, std::size_t length) {
  if (length == 0 || size != length - 1) {
    return false;
  }
  report[0] = reportId;
  if (size != 0) {
    std::memcpy(report + 1, data, size);
  }
  return true;
}

}  // namespace esc
