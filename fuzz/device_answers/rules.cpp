#include "fuzz/device_answers/rules.h"

#include <algorithm>
#include <cstring>

#include "device/report_layout.h"
#include "resources/message_ids.h"

namespace esc::fuzz {
namespace {

constexpr std::size_t BLOCK_BYTES = 48;
constexpr std::uint64_t MS = 1000;

// The bytes given, then zeros to the end of the record.
std::vector<std::uint8_t> record(std::initializer_list<std::uint8_t> prefix) {
  std::vector<std::uint8_t> bytes(prefix);
  bytes.resize(REPORT_SIZE, 0);
  return bytes;
}

bool marker(const HidReport& answer) { return answer.bytes[1] == ANSWER_ERROR_MARKER; }

std::int32_t status32(const HidReport& answer) { return asSigned(readLe32(answer.bytes + 4)); }

}  // namespace

std::vector<std::uint8_t> expectedRequest(Step step, const std::vector<std::uint8_t>& data) {
  switch (step) {
    case Step::Lock:
      return record({0x01, 0x0B, 0x01, 0x01});
    case Step::Unlock:
      return record({0x01, 0x20, 0x01, 0x00});
    case Step::Erase:
      return record({0x01, 0x1E, 0x04, 0x00, 0x57, 0x9A, 0x3E, 0x6B});
    case Step::Address:
      return record({0x01, 0x1F, 0x09, 0x01, 0, 0, 0, 0, 0x57, 0x9A, 0x3E, 0x6B});
    case Step::Restore:
      return record({0x01, 0x20, 0x01, 0x01});
    case Step::Release:
      return record({0x01, 0x0B, 0x01, 0x00});
    case Step::Block:
      break;
  }
  std::vector<std::uint8_t> bytes =
      record({0x01, 0x1B, static_cast<std::uint8_t>(data.size()), 0x00});
  std::copy(data.begin(), data.end(), bytes.begin() + 4);
  return bytes;
}

std::vector<std::uint8_t> unitInfoRequest() { return record({0x01, 0x08, 0x00}); }

std::vector<std::uint8_t> unitMemoryRequest() {
  return record({0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08});
}

std::vector<std::uint8_t> escInfoRequest() {
  return record({0x01, 0x1D, 0x08, 0x00, 0x20, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF});
}

std::vector<std::uint8_t> escIdentRequest() { return record({0x01, 0x22, 0x00}); }

bool sameRequest(const Transfer& transfer, const std::vector<std::uint8_t>& expected) {
  return std::memcmp(transfer.request, expected.data(), REPORT_SIZE) == 0;
}

std::int32_t resultOf(Step step, const Transfer& transfer) {
  if (!transfer.written) return LINK_WRITE_FAILED;
  if (!transfer.read) return LINK_READ_FAILED;
  const HidReport& answer = transfer.answer;
  switch (step) {
    case Step::Lock:
      return answer.bytes[3] == 0x01 ? LINK_OK : ERROR_FUNCTION_FAILED;
    case Step::Unlock:
      if (marker(answer)) return status32(answer);
      return answer.bytes[3] == 0x00 ? LINK_OK : ERROR_FUNCTION_FAILED;
    case Step::Erase:
    case Step::Address:
    case Step::Block:
      return marker(answer) ? status32(answer) : LINK_OK;
    case Step::Restore:
    case Step::Release:
      break;
  }
  return LINK_OK;
}

MessageId messageOf(Step step) {
  switch (step) {
    case Step::Lock:
      return 40026;
    case Step::Unlock:
      return 40027;
    case Step::Erase:
      return 40028;
    case Step::Address:
      return 40008;
    case Step::Block:
      return 40009;
    case Step::Restore:
    case Step::Release:
      break;
  }
  return 0;
}

std::uint64_t pauseAfterMicroseconds(Step step) {
  switch (step) {
    case Step::Erase:
      return 4020 * MS;
    case Step::Lock:
    case Step::Unlock:
    case Step::Address:
    case Step::Block:
      return 20 * MS;
    case Step::Restore:
    case Step::Release:
      break;
  }
  return 0;
}

std::vector<std::vector<std::uint8_t>> blocksOf(const std::vector<std::uint8_t>& image) {
  std::vector<std::vector<std::uint8_t>> blocks;
  for (std::size_t at = 0; at < image.size(); at += BLOCK_BYTES) {
    const std::size_t bytes = std::min(BLOCK_BYTES, image.size() - at);
    std::vector<std::uint8_t> block(image.begin() + static_cast<std::ptrdiff_t>(at),
                                    image.begin() + static_cast<std::ptrdiff_t>(at + bytes));
    block.resize((bytes + 3) / 4 * 4, 0xFF);
    blocks.push_back(block);
  }
  return blocks;
}

}  // namespace esc::fuzz
