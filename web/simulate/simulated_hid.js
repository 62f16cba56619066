// A stand-in for navigator.hid in front of the simulated unit (escsim.wasm), for the
// page's ?simulate mode. It has WebHID's shape: getDevices and requestDevice, connect and
// disconnect events, devices with collections, open, close, sendReport and inputreport
// events with the report id apart. The chooser is simulated too: requestDevice grants the
// first present device that matches the filters, without asking.
'use strict';

const EscSimulatedHid = (function () {
  // Events are dispatched from a task of their own, as the browser's are; message-channel
  // tasks are not throttled in a hidden page.
  const channel = new MessageChannel();
  const tasks = [];
  channel.port1.onmessage = () => tasks.shift()();
  function later(task) {
    tasks.push(task);
    channel.port2.postMessage(0);
  }

  function hidEvent(type, fields) {
    const event = new Event(type);
    Object.assign(event, fields);
    return event;
  }

  function reports(reportId, length) {
    return length > 1 ? [{reportId: reportId, items: [{reportSize: 8, reportCount: length - 1}]}]
                      : [];
  }

  class SimulatedDevice extends EventTarget {
    constructor(hid, index) {
      super();
      const sim = hid.sim;
      const identity = sim._esc_sim_identity(index);
      const lengths = sim._esc_sim_report_lengths(index);
      this.hid = hid;
      this.index = index;
      this.vendorId = identity >>> 16;
      this.productId = identity & 0xFFFF;
      this.productName = index === sim._esc_sim_unit_index() ? 'Simulated programming unit'
                                                               : 'Simulated HID device';
      this.inputLength = lengths >>> 16;
      this.outputLength = lengths & 0xFFFF;
      this.collections = [{usagePage: 0xFF00, usage: 1,
                           inputReports: reports(2, this.inputLength),
                           outputReports: reports(1, this.outputLength), featureReports: []}];
      this.handle = 0;
      this.gone = false;
    }
    get opened() { return this.handle !== 0; }
    async open() {
      if (this.gone) throw new DOMException('The device was disconnected.', 'NotFoundError');
      if (this.opened) return;
      this.handle = this.hid.sim._esc_sim_open(this.index);
      if (this.handle === 0) throw new DOMException('Failed to open the device.', 'NotAllowedError');
    }
    async close() {
      if (this.handle !== 0) this.hid.sim._esc_sim_close(this.handle);
      this.handle = 0;
    }
    async forget() {
      this.hid.granted.delete(this.index);
      await this.close();
    }
    async sendReport(reportId, data) {
      if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
      const sim = this.hid.sim;
      const bytes = new Uint8Array(ArrayBuffer.isView(data) ? data.buffer.slice(
          data.byteOffset, data.byteOffset + data.byteLength) : data);
      const request = sim._malloc(1 + bytes.length);
      const answer = sim._malloc(this.inputLength);
      try {
        sim.HEAPU8[request] = reportId;
        sim.HEAPU8.set(bytes, request + 1);
        const written = sim._esc_sim_write(this.handle, request, 1 + bytes.length) !== 0;
        const answered = written && sim._esc_sim_read(this.handle, answer, this.inputLength) !== 0;
        const report = sim.HEAPU8.slice(answer, answer + this.inputLength);
        this.hid.notice();
        if (!written) throw new DOMException('Failed to write the report.', 'NotAllowedError');
        if (answered) {
          later(() => this.dispatchEvent(hidEvent('inputreport', {
            device: this, reportId: report[0], data: new DataView(report.buffer, 1)})));
        }
      } finally {
        sim._free(request);
        sim._free(answer);
      }
    }
  }

  class SimulatedHid extends EventTarget {
    constructor(sim) {
      super();
      this.sim = sim;
      this.granted = new Set();
      this.devices = [];  // per bus index: the present device's object, or null
      for (let index = 0; index < sim._esc_sim_device_count(); index++) {
        this.devices.push(sim._esc_sim_plugged(index) ? new SimulatedDevice(this, index) : null);
      }
    }
    async getDevices() {
      return this.devices.filter((device) => device !== null && this.granted.has(device.index));
    }
    async requestDevice(options) {
      const filters = (options && options.filters) || [];
      const matches = (device) => filters.some((filter) =>
          (filter.vendorId === undefined || filter.vendorId === device.vendorId) &&
          (filter.productId === undefined || filter.productId === device.productId));
      const device = this.devices.find((candidate) => candidate !== null && matches(candidate));
      if (!device) return [];
      this.granted.add(device.index);
      return [device];
    }
    // Plugs the device in or pulls it out, as a hand at the USB port would.
    setPlugged(index, plugged) {
      this.sim._esc_sim_set_plugged(index, plugged ? 1 : 0);
      this.notice();
    }
    // Tells the changes of the bus (a pull by a fault included): a device plugged in
    // again is a new object, as the browser makes it.
    notice() {
      this.devices.forEach((device, index) => {
        const plugged = this.sim._esc_sim_plugged(index) !== 0;
        if (device !== null && !plugged) {
          this.devices[index] = null;
          device.gone = true;
          device.handle = 0;
          if (this.granted.has(index)) {
            later(() => this.dispatchEvent(hidEvent('disconnect', {device: device})));
          }
        } else if (device === null && plugged) {
          const arrived = new SimulatedDevice(this, index);
          this.devices[index] = arrived;
          if (this.granted.has(index)) {
            later(() => this.dispatchEvent(hidEvent('connect', {device: arrived})));
          }
        }
      });
    }
    unitIndex() { return this.sim._esc_sim_unit_index(); }
    summary() { return this.sim.UTF8ToString(this.sim._esc_sim_summary()); }
  }

  // The simulated unit set up from the text of ?simulate=...: {hid} or {error}.
  async function create(settings) {
    const sim = await createEscSimulator();
    const length = sim.lengthBytesUTF8(settings) + 1;
    const text = sim._malloc(length);
    sim.stringToUTF8(settings, text, length);
    const error = sim.UTF8ToString(sim._esc_sim_set_up(text));
    sim._free(text);
    if (error !== '') return {error: error};
    const hid = new SimulatedHid(sim);
    const plugAfter = sim._esc_sim_plug_after_ms();
    if (plugAfter >= 0) setTimeout(() => hid.setPlugged(hid.unitIndex(), true), plugAfter);
    return {hid: hid};
  }

  return {create: create};
})();
