// The rules a run is judged by, stated on their own: the request each step must send, and
// what each step must make of the answer it read. The fuzz target compares what the link
// and the update did with what these rules give for the transfers that really happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/device_answers/fuzz_bus.h"
#include "resources/messages.h"

namespace esc::fuzz {

enum class Step { Lock, Unlock, Erase, Address, Block, Restore, Release };

// The 60-byte request the step must send; for a block, `data` holds its bytes.
std::vector<std::uint8_t> expectedRequest(Step step, const std::vector<std::uint8_t>& data = {});
// Identification's requests.
std::vector<std::uint8_t> unitInfoRequest();
std::vector<std::uint8_t> unitMemoryRequest();
std::vector<std::uint8_t> escInfoRequest();
std::vector<std::uint8_t> escIdentRequest();

bool sameRequest(const Transfer& transfer, const std::vector<std::uint8_t>& expected);

// The step's result for this transfer: -2 unwritten, -3 unanswered, else its judgement of
// the answer (0 success; 1627 a refusal in byte 3; a status under the marker).
std::int32_t resultOf(Step step, const Transfer& transfer);

// The message a failure of the step shows.
MessageId messageOf(Step step);

// The least time between the step's answer and the next request.
std::uint64_t pauseAfterMicroseconds(Step step);

// The blocks an image is sent in: 48 bytes each, the last one shorter, padded with 0xFF
// to whole words.
std::vector<std::vector<std::uint8_t>> blocksOf(const std::vector<std::uint8_t>& image);

}  // namespace esc::fuzz
