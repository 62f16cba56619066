// How reports look through WebHID, and how they become the link's reports. WebHID keeps
// the report id apart from the data in both directions and declares report sizes per
// collection as items of `reportSize` bits times `reportCount`. The link counts the id
// byte in its lengths and carries it in byte 0, as Windows does. Pure code, built and
// tested natively too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace esc {

// One report of a device's collections as WebHID declares it: its id and the bits of all
// its items.
struct WebHidReportInfo {
  std::uint8_t reportId;
  std::uint32_t bits;
};

// The declared length of a direction: its longest report in whole bytes plus the id
// byte, which is counted even for unnumbered reports; 0 when the direction has no
// report. A declaration longer than a 16-bit length can hold gives 0 too, so that the
// link's length rules refuse it.
std::uint16_t declaredReportLength(const WebHidReportInfo* reports, std::size_t count);

// Puts an input report as WebHID delivers it (id apart, `size` bytes of data) into
// `report`, which holds `length` bytes: the id in byte 0, the data after it. False, with
// `report` untouched, unless id and data make exactly `length` bytes.
bool frameInputReport(std::uint8_t reportId, const std::uint8_t* data, std::size_t size,
                      std::uint8_t* report, std::size_t length);

}  // namespace esc
