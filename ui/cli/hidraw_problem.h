// What a failed open of a hidraw node says about the unit behind it. The hidraw backend
// opens only nodes that udev lists with the unit's ids, so a refusal there is a unit that
// cannot be used.
#pragma once

#include <cerrno>
#include <cstdint>

#include "device/linux/platform_linux.h"
#include "ui/cli/cli_environment.h"

namespace esc::cli {

inline UnitProblem hidrawOpenProblem(std::uint32_t error) {
  if (error == EACCES || error == EPERM) {
    return UnitProblem::NoPermission;
  }
  return error == HIDRAW_ERROR_HELD_ELSEWHERE ? UnitProblem::InUse : UnitProblem::None;
}

}  // namespace esc::cli
