#include "tests/device_linux/fake_kernel.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device/hid_link.h"
#include "tests/device_linux/descriptor_cases.h"

namespace esc::test {
namespace {

constexpr std::uint64_t USB_CONTROL_TIMEOUT_MICROSECONDS = 5000000;
// When, after a reader starts waiting, an unplug fault pulls the unit.
constexpr std::uint64_t UNPLUG_AFTER_MICROSECONDS = 100000;

FakeKernel& kernelOf(void* context) { return *static_cast<FakeKernel*>(context); }

FakeFile* findFile(FakeKernel& kernel, int fd) {
  for (FakeFile& file : kernel.files) {
    if (file.fd == fd) {
      return &file;
    }
  }
  return nullptr;
}

int failWith(int error) {
  errno = error;
  return -1;
}

// The node behind an open descriptor, or null with errno set as the kernel would.
FakeNode* nodeFor(FakeKernel& kernel, int fd) {
  FakeFile* file = findFile(kernel, fd);
  if (file == nullptr) {
    errno = EBADF;
    return nullptr;
  }
  FakeNode& node = kernel.nodes[file->node];
  if (!node.present) {
    errno = ENODEV;
    return nullptr;
  }
  return &node;
}

bool listNodes(void* context, std::vector<HidrawNode>& nodes) {
  FakeKernel& kernel = kernelOf(context);
  nodes.clear();
  if (kernel.listUnavailable) {
    errno = ENOENT;
    return false;
  }
  for (const FakeNode& node : kernel.nodes) {
    if (node.present) {
      HidrawNode listed;
      listed.sysPath = node.sysPath;
      listed.devNode = node.devNode;
      listed.idsKnown = !node.idsUnlisted;
      listed.vendorId = static_cast<std::uint16_t>(node.vendor);
      listed.productId = static_cast<std::uint16_t>(node.product);
      nodes.push_back(listed);
    }
  }
  return true;
}

int openNode(void* context, const char* path, int flags) {
  FakeKernel& kernel = kernelOf(context);
  kernel.openAttempts.emplace_back(path);
  for (std::size_t i = 0; i < kernel.nodes.size(); ++i) {
    const FakeNode& node = kernel.nodes[i];
    if (!node.present || node.devNode != path) {
      continue;
    }
    if (node.openError != 0) {
      return failWith(node.openError);
    }
    if ((flags & O_ACCMODE) != O_RDWR) {
      return failWith(EINVAL);
    }
    kernel.openFlags.push_back(flags);
    kernel.files.push_back(FakeFile{kernel.nextFd, i, false, {}});
    return kernel.nextFd++;
  }
  return failWith(ENOENT);
}

int closeFile(void* context, int fd) {
  FakeKernel& kernel = kernelOf(context);
  const auto file = std::find_if(kernel.files.begin(), kernel.files.end(),
                                 [fd](const FakeFile& entry) { return entry.fd == fd; });
  if (file == kernel.files.end()) {
    return failWith(EBADF);
  }
  kernel.files.erase(file);
  return 0;
}

int getRawInfo(void* context, int fd, hidraw_devinfo& info) {
  const FakeNode* node = nodeFor(kernelOf(context), fd);
  if (node == nullptr) {
    return -1;
  }
  if (node->infoUnreadable) {
    return failWith(EIO);
  }
  info.bustype = 3;  // BUS_USB
  info.vendor = node->vendor;
  info.product = node->product;
  return 0;
}

int getDescriptorSize(void* context, int fd, int& size) {
  const FakeNode* node = nodeFor(kernelOf(context), fd);
  if (node == nullptr) {
    return -1;
  }
  if (node->descriptorUnreadable) {
    return failWith(EIO);
  }
  size = static_cast<int>(node->descriptor.size());
  return 0;
}

int getDescriptor(void* context, int fd, hidraw_report_descriptor& descriptor) {
  const FakeNode* node = nodeFor(kernelOf(context), fd);
  if (node == nullptr) {
    return -1;
  }
  if (node->descriptorUnreadable) {
    return failWith(EIO);
  }
  // hidraw refuses to copy HID_MAX_DESCRIPTOR_SIZE bytes or more.
  if (descriptor.size > HID_MAX_DESCRIPTOR_SIZE - 1) {
    return failWith(EINVAL);
  }
  const std::size_t copied = std::min<std::size_t>(descriptor.size, node->descriptor.size());
  std::copy_n(node->descriptor.begin(), copied, descriptor.value);
  return 0;
}

bool failingRead(const FakeNode& node) {
  return node.readFault == ReadFault::ReadEio || node.readFault == ReadFault::ReadEnodev ||
         node.readFault == ReadFault::ReadZero;
}

short readiness(const FakeKernel& kernel, const FakeFile& file, short events) {
  const FakeNode& node = kernel.nodes[file.node];
  if (!node.present) {
    return POLLHUP | POLLERR;
  }
  short ready = 0;
  if ((events & POLLOUT) != 0 && !node.writeNeverReady) {
    ready |= POLLOUT;
  }
  if ((events & POLLIN) != 0 &&
      (failingRead(node) ||
       (!file.queue.empty() && file.queue.front().arrivalMicroseconds <= kernel.nowMicroseconds))) {
    ready |= POLLIN;
  }
  return ready;
}

int pollFiles(void* context, pollfd* fds, nfds_t count, int timeoutMs) {
  FakeKernel& kernel = kernelOf(context);
  ++kernel.polls;
  if (count != 1 || timeoutMs < 0) {
    return failWith(EINVAL);  // the backend waits on one node, always with a timeout
  }
  pollfd& request = fds[0];
  request.revents = 0;
  FakeFile* file = findFile(kernel, request.fd);
  if (file == nullptr) {
    request.revents = POLLNVAL;
    return 1;
  }
  const std::uint64_t timeout = static_cast<std::uint64_t>(timeoutMs) * 1000u;
  if (kernel.interruptPolls > 0) {
    --kernel.interruptPolls;
    kernel.nowMicroseconds += timeout / 2;
    return failWith(EINTR);
  }
  request.revents = readiness(kernel, *file, request.events);
  if (request.revents != 0 || timeout == 0) {
    return request.revents != 0 ? 1 : 0;
  }
  FakeNode& node = kernel.nodes[file->node];
  if ((request.events & POLLIN) != 0 && node.readFault == ReadFault::Unplugged &&
      timeout >= UNPLUG_AFTER_MICROSECONDS) {
    kernel.nowMicroseconds += UNPLUG_AFTER_MICROSECONDS;
    node.present = false;
    node.readFault = ReadFault::None;
    request.revents = POLLHUP | POLLERR;
    return 1;
  }
  if ((request.events & POLLIN) != 0 && !file->queue.empty() &&
      file->queue.front().arrivalMicroseconds <= kernel.nowMicroseconds + timeout) {
    kernel.nowMicroseconds = file->queue.front().arrivalMicroseconds;
    request.revents = POLLIN;
    return 1;
  }
  kernel.nowMicroseconds += timeout;
  return 0;
}

ssize_t readFile(void* context, int fd, void* buffer, size_t length) {
  FakeKernel& kernel = kernelOf(context);
  ++kernel.reads;
  FakeFile* file = findFile(kernel, fd);
  if (file == nullptr) {
    return failWith(EBADF);
  }
  FakeNode& node = kernel.nodes[file->node];
  if (!node.present) {
    return failWith(EIO);
  }
  switch (node.readFault) {
    case ReadFault::ReadEio:
      node.present = false;
      return failWith(EIO);
    case ReadFault::ReadEnodev:
      node.present = false;
      return failWith(ENODEV);
    case ReadFault::ReadZero:
      node.readFault = ReadFault::None;
      return 0;
    case ReadFault::None:
    case ReadFault::Unplugged:
      break;
  }
  if (file->queue.empty() || file->queue.front().arrivalMicroseconds > kernel.nowMicroseconds) {
    return failWith(EAGAIN);
  }
  // One whole report per read, cut to the buffer; what does not fit is lost.
  const std::vector<std::uint8_t> report = std::move(file->queue.front().bytes);
  file->queue.pop_front();
  const std::size_t copied = std::min(length, report.size());
  std::memcpy(buffer, report.data(), copied);
  return static_cast<ssize_t>(copied);
}

// The unit's answer as it travels: its first bytes, without the id when unnumbered.
std::vector<std::uint8_t> inputReportOf(const FakeNode& node, const HidReport& answer) {
  std::vector<std::uint8_t> bytes(answer.bytes, answer.bytes + REPORT_SIZE);
  if (!node.inputNumbered) {
    bytes.erase(bytes.begin());
  }
  bytes.resize(node.inputBytes, 0);
  return bytes;
}

ssize_t writeFile(void* context, int fd, const void* buffer, size_t length) {
  FakeKernel& kernel = kernelOf(context);
  FakeFile* file = findFile(kernel, fd);
  if (file == nullptr) {
    return failWith(EBADF);
  }
  const std::size_t index = file->node;
  FakeNode& node = kernel.nodes[index];
  if (!node.present) {
    return failWith(ENODEV);
  }
  if (node.writeError != 0) {
    kernel.nowMicroseconds += USB_CONTROL_TIMEOUT_MICROSECONDS;
    const int error = node.writeError;
    node.writeError = 0;
    return failWith(error);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  node.writes.emplace_back(bytes, bytes + length);
  if (!node.unit) {
    return static_cast<ssize_t>(length);
  }
  if (node.silentOnce) {
    node.silentOnce = false;
    return static_cast<ssize_t>(length);
  }
  std::uint8_t request[REPORT_SIZE] = {};
  std::memcpy(request, bytes, std::min(length, REPORT_SIZE));
  std::vector<std::uint8_t> answer = inputReportOf(node, sim::answerRequest(*node.unit, request));
  if (node.shortAnswerBytes != 0) {
    answer.resize(node.shortAnswerBytes);
    node.shortAnswerBytes = 0;
  }
  sendInput(kernel, index, std::move(answer), node.answerDelayMicroseconds);
  if (node.strayAfterAnswer) {
    sendInput(kernel, index, *node.strayAfterAnswer, node.answerDelayMicroseconds);
    node.strayAfterAnswer.reset();
  }
  return static_cast<ssize_t>(length);
}

int lockFile(void* context, int fd, int operation) {
  FakeKernel& kernel = kernelOf(context);
  FakeFile* file = findFile(kernel, fd);
  if (file == nullptr) {
    return failWith(EBADF);
  }
  if ((operation & LOCK_UN) != 0) {
    file->holdsLock = false;
    return 0;
  }
  bool heldByAnother = kernel.nodes[file->node].lockedElsewhere;
  for (const FakeFile& other : kernel.files) {
    heldByAnother =
        heldByAnother || (other.fd != fd && other.node == file->node && other.holdsLock);
  }
  if (heldByAnother) {
    // Without LOCK_NB this would wait for the other program; the backend never asks that.
    return failWith(EWOULDBLOCK);
  }
  file->holdsLock = (operation & LOCK_EX) != 0;
  return 0;
}

int clockGetTime(void* context, timespec& now) {
  const std::uint64_t microseconds = kernelOf(context).nowMicroseconds;
  now.tv_sec = static_cast<time_t>(microseconds / 1000000u);
  now.tv_nsec = static_cast<long>(microseconds % 1000000u * 1000u);
  return 0;
}

int sleepUntil(void* context, const timespec& deadline) {
  FakeKernel& kernel = kernelOf(context);
  const std::uint64_t microseconds = static_cast<std::uint64_t>(deadline.tv_sec) * 1000000u +
                                     (static_cast<std::uint64_t>(deadline.tv_nsec) + 999u) / 1000u;
  kernel.sleepDeadlines.push_back(microseconds);
  kernel.nowMicroseconds = std::max(kernel.nowMicroseconds, microseconds);
  return 0;
}

}  // namespace

FakeKernel::FakeKernel()
    : os{this,      listNodes, openNode,  closeFile, getRawInfo,   getDescriptorSize, getDescriptor,
         pollFiles, readFile,  writeFile, lockFile,  clockGetTime, sleepUntil} {}

FakeNode unitNode(const std::string& sysPath, const std::string& devNode) {
  FakeNode node;
  node.sysPath = sysPath;
  node.devNode = devNode;
  node.vendor = static_cast<std::int16_t>(UNIT_VENDOR_ID);
  node.product = 1;
  node.descriptor = unitDescriptor();
  node.unit = sim::makeSupportedUnit();
  return node;
}

FakeNode otherNode(const std::string& sysPath, const std::string& devNode, std::uint16_t vendor,
                   std::uint16_t product) {
  FakeNode node;
  node.sysPath = sysPath;
  node.devNode = devNode;
  node.vendor = static_cast<std::int16_t>(vendor);
  node.product = static_cast<std::int16_t>(product);
  node.descriptor = unitDescriptor();
  return node;
}

std::size_t addNode(FakeKernel& kernel, FakeNode node) {
  kernel.nodes.push_back(std::move(node));
  return kernel.nodes.size() - 1;
}

void sendInput(FakeKernel& kernel, std::size_t node, std::vector<std::uint8_t> bytes,
               std::uint64_t delayMicroseconds) {
  for (FakeFile& file : kernel.files) {
    // hidraw drops a new report when a reader's queue is full.
    if (file.node == node && file.queue.size() < KERNEL_QUEUE_REPORTS) {
      file.queue.push_back(QueuedReport{kernel.nowMicroseconds + delayMicroseconds, bytes});
    }
  }
}

const FakeFile* fileOf(const FakeKernel& kernel, int fd) {
  for (const FakeFile& file : kernel.files) {
    if (file.fd == fd) {
      return &file;
    }
  }
  return nullptr;
}

std::size_t openFiles(const FakeKernel& kernel) { return kernel.files.size(); }

}  // namespace esc::test
