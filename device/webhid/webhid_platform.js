// The JavaScript half of the WebHID platform (platform_webhid.cpp). It keeps the devices
// the core has opened, queues their input reports, notices their removal, and paces the
// core's waits with a clock that holds in a hidden page.
Module['escWebHid'] = (function () {
  // The Windows codes for the same failures (platform_webhid.h).
  const ACCESS_DENIED = 5;
  const INVALID_HANDLE = 6;
  const GEN_FAILURE = 31;
  const DEVICE_NOT_CONNECTED = 1167;
  const TIMEOUT = 1460;

  // Browsers run the timers of a hidden page about once a second; a dedicated worker's
  // timers keep their time. Its timer wakes a wait this much early, and the rest is spent
  // on message-channel tasks, which are not throttled either: timer wake-ups are late by
  // about a millisecond, which over 1,900 pauses would add more than 2 %.
  const WAKE_EARLY_MS = 2;
  const workerUrl = URL.createObjectURL(new Blob(
      ['onmessage = (e) => setTimeout(() => postMessage(e.data.id), e.data.delay);'],
      {type: 'text/javascript'}));
  const worker = new Worker(workerUrl);
  const timers = new Map();
  let nextTimer = 1;
  worker.onmessage = (e) => {
    const resolve = timers.get(e.data);
    timers.delete(e.data);
    if (resolve) resolve();
  };
  function workerDelay(ms) {
    return new Promise((resolve) => {
      const id = nextTimer++;
      timers.set(id, resolve);
      worker.postMessage({id: id, delay: ms});
    });
  }
  const channel = new MessageChannel();
  const taskWaiters = [];
  channel.port1.onmessage = () => taskWaiters.shift()();
  function nextTask() {
    return new Promise((resolve) => {
      taskWaiters.push(resolve);
      channel.port2.postMessage(0);
    });
  }
  async function sleepUntil(deadline) {
    const early = deadline - performance.now() - WAKE_EARLY_MS;
    if (early > 0) await workerDelay(early);
    while (performance.now() < deadline) await nextTask();
  }

  // Transfers give up after their timeout. One watchdog, woken by the worker a few times
  // a second while any transfer waits, serves them all: a timer of their own would cost
  // each of the 3,780 transfers of an update a message to the worker and one back.
  const WATCHDOG_MS = 250;
  const waiting = new Set();  // {deadline, expire}
  let watchdogRunning = false;
  async function watchdog() {
    watchdogRunning = true;
    while (waiting.size !== 0) {
      await workerDelay(WATCHDOG_MS);
      const now = performance.now();
      for (const transfer of waiting) {
        if (now >= transfer.deadline) {
          waiting.delete(transfer);
          transfer.expire();
        }
      }
    }
    watchdogRunning = false;
  }
  // Settles with `promise`, or with `onTimeout` once timeoutMs have passed.
  function withTimeout(promise, timeoutMs, onTimeout) {
    let transfer = null;
    const expired = new Promise((resolve) => {
      transfer = {deadline: performance.now() + timeoutMs, expire: () => resolve(onTimeout)};
    });
    waiting.add(transfer);
    if (!watchdogRunning) watchdog();
    const settle = () => waiting.delete(transfer);
    promise.then(settle, settle);
    return Promise.race([promise, expired]);
  }

  let source = null;   // navigator.hid, or the simulated unit's stand-in
  const ids = new Map();  // every device seen -> its number
  let nextId = 1;
  const open = new Map();  // number -> {device, queue, wake, gone, listener}
  let snapshot = [];
  const api = {lastError: 0};

  function idOf(device) {
    if (!ids.has(device)) ids.set(device, nextId++);
    return ids.get(device);
  }
  function wake(entry) {
    if (entry.wake) entry.wake();
  }
  // Each transfer starts with no error, so that a failure never shows an older one's code.
  function entryOf(id) {
    api.lastError = 0;
    const entry = open.get(id);
    if (!entry) api.lastError = INVALID_HANDLE;
    return entry;
  }

  api.use = function (hid) {
    source = hid;
    hid.addEventListener('disconnect', (event) => {
      for (const entry of open.values()) {
        if (entry.device === event.device) {
          entry.gone = true;
          wake(entry);
        }
      }
    });
  };
  api.deviceId = idOf;
  api.sleepUntil = sleepUntil;
  api.enumerate = async function () {
    try {
      snapshot = await source.getDevices();
      return snapshot.length;
    } catch (error) {
      api.lastError = GEN_FAILURE;
      snapshot = [];
      return -1;
    }
  };
  api.deviceAt = (index) => idOf(snapshot[index]);
  // Vendor id in the high, product id in the low 16 bits of a device seen, open or not.
  api.knownIdentity = function (id) {
    let identity = -1;
    ids.forEach((number, known) => {
      if (number === id) identity = known.vendorId * 65536 + known.productId;
    });
    return identity;
  };
  api.open = async function (id) {
    let device = null;
    ids.forEach((number, known) => {
      if (number === id) device = known;
    });
    if (device === null) {
      api.lastError = INVALID_HANDLE;
      return 0;
    }
    try {
      if (!device.opened) await device.open();
    } catch (error) {
      api.lastError = ACCESS_DENIED;
      return 0;
    }
    const entry = {device: device, queue: [], wake: null, gone: false, listener: null};
    entry.listener = (event) => {
      entry.queue.push({reportId: event.reportId, data: new Uint8Array(
          event.data.buffer, event.data.byteOffset, event.data.byteLength).slice()});
      wake(entry);
    };
    device.addEventListener('inputreport', entry.listener);
    open.set(id, entry);
    return 1;
  };
  api.identity = function (id) {
    const entry = entryOf(id);
    return entry ? entry.device.vendorId * 65536 + entry.device.productId : -1;
  };
  api.reports = function (id, output, idsPtr, bitsPtr, capacity) {
    const entry = entryOf(id);
    if (!entry) return -1;
    let count = 0;
    for (const collection of entry.device.collections || []) {
      for (const report of (output ? collection.outputReports : collection.inputReports) || []) {
        if (count === capacity) return -1;
        let bits = 0;
        for (const item of report.items || []) bits += item.reportSize * item.reportCount;
        HEAPU8[idsPtr + count] = report.reportId;
        HEAPU32[(bitsPtr >> 2) + count] = bits;
        count++;
      }
    }
    return count;
  };
  api.discard = function (id) {
    const entry = open.get(id);
    if (entry) entry.queue.length = 0;
  };
  api.write = async function (id, reportId, dataPtr, size, timeoutMs) {
    const entry = entryOf(id);
    if (!entry) return 0;
    if (entry.gone) {
      api.lastError = DEVICE_NOT_CONNECTED;
      return 0;
    }
    const data = HEAPU8.slice(dataPtr, dataPtr + size);
    const timedOut = {};
    try {
      const sent = entry.device.sendReport(reportId, data);
      if (await withTimeout(sent, timeoutMs, timedOut) === timedOut) {
        api.lastError = TIMEOUT;
        return 0;
      }
      return 1;
    } catch (error) {
      // A device pulled out is closed at once; its disconnect event may come later.
      api.lastError = entry.gone || !entry.device.opened ? DEVICE_NOT_CONNECTED : GEN_FAILURE;
      return 0;
    }
  };
  api.read = async function (id, reportIdPtr, dataPtr, capacity, timeoutMs) {
    const entry = entryOf(id);
    if (!entry) return -1;
    const deadline = performance.now() + timeoutMs;
    while (entry.queue.length === 0) {
      if (entry.gone) {
        api.lastError = DEVICE_NOT_CONNECTED;
        return -1;
      }
      const remaining = deadline - performance.now();
      if (remaining <= 0) {
        api.lastError = TIMEOUT;
        return -1;
      }
      await withTimeout(new Promise((resolve) => { entry.wake = resolve; }), remaining, null);
      entry.wake = null;
    }
    const report = entry.queue.shift();
    HEAPU8[reportIdPtr] = report.reportId;
    HEAPU8.set(report.data.subarray(0, capacity), dataPtr);
    return report.data.length;
  };
  api.close = async function (id) {
    const entry = open.get(id);
    if (!entry) return;
    open.delete(id);
    entry.device.removeEventListener('inputreport', entry.listener);
    try {
      if (entry.device.opened) await entry.device.close();
    } catch (error) {
      // Closing a device that is gone has nothing left to release.
    }
  };
  return api;
})();
