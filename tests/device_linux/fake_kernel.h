// A fake of the kernel interfaces the hidraw backend uses: hidraw nodes with their ioctls,
// one input queue per open descriptor, advisory locks, poll and a virtual monotonic clock.
// An emulated programming unit behind a node answers each request as the real one does.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "device/linux/linux_os.h"
#include "device/linux/platform_linux.h"
#include "emulator/sim_bus.h"

namespace esc::test {

// How a node's next read goes wrong.
enum class ReadFault {
  None,
  Unplugged,  // the unit is pulled while the reader waits: poll gives POLLHUP
  ReadEio,    // poll says a report is ready, read fails with EIO (pulled in between)
  ReadEnodev,
  ReadZero,  // read returns 0 bytes
};

struct FakeNode {
  std::string sysPath;
  std::string devNode;
  std::int16_t vendor = 0;  // as the kernel gives them: signed
  std::int16_t product = 0;
  std::vector<std::uint8_t> descriptor;
  bool present = true;
  int openError = 0;         // errno of a failing open, 0 when it opens
  bool idsUnlisted = false;  // udev's records give no ids for the node
  bool infoUnreadable = false;
  bool descriptorUnreadable = false;
  bool lockedElsewhere = false;
  // The emulated unit; without one the node takes writes and never answers.
  std::optional<sim::Device> unit;
  // Bytes of each input report the unit sends: the answer's first bytes, zero-padded.
  // For unnumbered input the id byte is not sent.
  std::size_t inputBytes = 60;
  bool inputNumbered = true;
  std::uint64_t answerDelayMicroseconds = 0;
  // One-shot faults of the next exchange.
  bool silentOnce = false;                                    // no answer to the next request
  std::optional<std::vector<std::uint8_t>> strayAfterAnswer;  // sent unasked after it
  std::size_t shortAnswerBytes = 0;  // nonzero: the next answer is cut to this many bytes
  ReadFault readFault = ReadFault::None;
  int writeError = 0;            // errno of the next write, after blocking for the USB core's 5 s
  bool writeNeverReady = false;  // poll never reports POLLOUT
  std::vector<std::vector<std::uint8_t>> writes;  // every report written
};

struct QueuedReport {
  std::uint64_t arrivalMicroseconds;
  std::vector<std::uint8_t> bytes;
};

struct FakeFile {
  int fd;
  std::size_t node;
  bool holdsLock;
  std::deque<QueuedReport> queue;
};

struct FakeKernel {
  FakeKernel();
  FakeKernel(const FakeKernel&) = delete;
  FakeKernel& operator=(const FakeKernel&) = delete;

  LinuxOs os;  // its context is this kernel
  std::vector<FakeNode> nodes;
  std::vector<FakeFile> files;
  int nextFd = 3;
  std::uint64_t nowMicroseconds = 1000000;
  bool listUnavailable = false;
  int interruptPolls = 0;  // polls that end early with EINTR, half their time passed
  std::uint32_t polls = 0;
  std::uint32_t reads = 0;
  std::vector<std::uint64_t> sleepDeadlines;
  std::vector<int> openFlags;             // of every successful open
  std::vector<std::string> openAttempts;  // the path of every open, in order
};

inline constexpr std::size_t KERNEL_QUEUE_REPORTS = 64;

// A node with the emulated supported unit behind it, its descriptor the unit's own.
FakeNode unitNode(const std::string& sysPath, const std::string& devNode);
// A node of some other device: no answers.
FakeNode otherNode(const std::string& sysPath, const std::string& devNode, std::uint16_t vendor,
                   std::uint16_t product);

std::size_t addNode(FakeKernel& kernel, FakeNode node);
// Delivers a report to every descriptor open on the node, `delay` from now.
void sendInput(FakeKernel& kernel, std::size_t node, std::vector<std::uint8_t> bytes,
               std::uint64_t delayMicroseconds = 0);
const FakeFile* fileOf(const FakeKernel& kernel, int fd);
std::size_t openFiles(const FakeKernel& kernel);

}  // namespace esc::test
