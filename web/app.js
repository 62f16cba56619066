// The page: draws what the updater's C++ side (escupdater.wasm) decides, brings back the
// user's clicks and answers, and hands it the HID source: navigator.hid, or with
// ?simulate the simulated unit beside the site (../simulate/).
'use strict';

const MSG_WEB_CONNECT = 42001;
const MSG_WEB_UPDATE = 42002;
const MSG_WEB_OK = 42003;
const MSG_WEB_CANCEL = 42004;
const MSG_WEB_YES = 42005;
const MSG_WEB_NO = 42006;
const MSG_WEB_NO_WEBHID = 42007;
const MSG_WEB_NO_SIMULATION = 42008;

const element = (id) => document.getElementById(id);

// The page's side of the calls web_view.cpp makes.
const EscPage = (function () {
  let texts = null;  // catalogue lookup, set once the module runs
  let wakeLock = null;
  let sequenceRunning = false;
  // Update works when the updater enables it and no call into the updater is running.
  let updateAllowed = false;
  let busy = false;
  const showUpdate = () => { element('update').disabled = !updateAllowed || busy; };

  function warnBeforeLeaving(event) {
    event.preventDefault();
    event.returnValue = '';
  }
  async function holdWakeLock() {
    if (!sequenceRunning || wakeLock !== null || !navigator.wakeLock ||
        document.visibilityState !== 'visible') {
      return;
    }
    try {
      wakeLock = await navigator.wakeLock.request('screen');
      wakeLock.addEventListener('release', () => { wakeLock = null; });
    } catch (error) {
      wakeLock = null;  // not granted: the update goes on without it
    }
  }
  // The browser releases the lock while the page is hidden; it is asked for again.
  document.addEventListener('visibilitychange', holdWakeLock);

  function dialog(error, caption, text, accept, decline) {
    return new Promise((resolve) => {
      element('dialog-box').className = error ? 'error' : '';
      element('dialog-caption').textContent = caption;
      element('dialog-text').textContent = text;
      const acceptButton = element('dialog-accept');
      const declineButton = element('dialog-decline');
      acceptButton.textContent = accept;
      declineButton.textContent = decline || '';
      declineButton.hidden = !decline;
      const finish = (answer) => {
        acceptButton.onclick = null;
        declineButton.onclick = null;
        element('dialog').hidden = true;
        resolve(answer);
      };
      acceptButton.onclick = () => finish(true);
      declineButton.onclick = () => finish(false);
      element('dialog').hidden = false;
      (decline ? declineButton : acceptButton).focus();
    });
  }

  return {
    useTexts: (lookup) => { texts = lookup; },
    title: (text) => {
      element('title').textContent = text;
      document.title = text;
    },
    status: (text) => { element('status').textContent = text; },
    row: (row, label, value, enabled) => {
      if (label !== null) element('row' + row + '-label').textContent = label;
      element('row' + row + '-value').textContent = value;
      element('row' + row).className = enabled ? '' : 'disabled';
    },
    updateEnabled: (enabled) => {
      updateAllowed = enabled;
      showUpdate();
    },
    // While a call runs the page's own controls do nothing.
    busy: (value) => {
      busy = value;
      document.body.dataset.busy = value ? 'yes' : 'no';
      element('connect').disabled = value;
      showUpdate();
    },
    // The confirmation (OK / Cancel) and the version question (Yes / No), default No.
    ask: (yesNo, caption, text) => dialog(false, caption, text,
                                          texts(yesNo ? MSG_WEB_YES : MSG_WEB_OK),
                                          texts(yesNo ? MSG_WEB_NO : MSG_WEB_CANCEL)),
    box: (error, caption, text) => dialog(error, caption, text, texts(MSG_WEB_OK), null),
    progressOpen: (title) => {
      element('progress-title').textContent = title;
      element('progress-percent').textContent = '';
      EscPage.progressSet(0);
      element('progress').hidden = false;
    },
    // Redrawn only when the percentage changes, not after each of the 1881 blocks.
    progressSet: (percent) => {
      if (element('progress-bar').value === percent &&
          element('progress-percent').textContent !== '') {
        return;
      }
      element('progress-bar').value = percent;
      element('progress-percent').textContent = percent + ' %';
    },
    progressClose: () => { element('progress').hidden = true; },
    // The marks time the command sequence, for the pacing benchmark.
    sequenceRunning: (running) => {
      sequenceRunning = running;
      performance.mark(running ? 'esc-sequence-start' : 'esc-sequence-end');
      if (running) {
        window.addEventListener('beforeunload', warnBeforeLeaving);
        holdWakeLock();
      } else {
        window.removeEventListener('beforeunload', warnBeforeLeaving);
        if (wakeLock !== null) wakeLock.release().catch(() => {});
        wakeLock = null;
      }
    },
  };
})();

function preferredGerman() {
  const languages = navigator.languages && navigator.languages.length
                        ? navigator.languages : [navigator.language || ''];
  return /^de\b/i.test(languages[0]);
}

function loadScript(src) {
  return new Promise((resolve, reject) => {
    const script = document.createElement('script');
    script.src = src;
    script.onload = resolve;
    script.onerror = reject;
    document.head.appendChild(script);
  });
}

function showNotice(text) {
  element('notice').textContent = text;
  element('notice').hidden = false;
}

// The simulated unit's HID source, or null after telling why there is none.
async function simulatedSource(settings, texts) {
  try {
    await loadScript('../simulate/escsim.js');
    await loadScript('../simulate/simulated_hid.js');
  } catch (error) {
    showNotice(texts(MSG_WEB_NO_SIMULATION));
    return null;
  }
  const simulated = await EscSimulatedHid.create(settings);
  if (simulated.error) {
    showNotice(simulated.error);
    return null;
  }
  window.escSimulatedUnit = simulated.hid;
  return simulated.hid;
}

async function main() {
  const module = await createEscUpdater();
  const texts = (id) => {
    const address = module._esc_web_text(id);
    let text = '';
    for (let unit = address >> 1; module.HEAPU16[unit] !== 0; unit++) {
      text += String.fromCharCode(module.HEAPU16[unit]);
    }
    return text;
  };
  module._esc_web_prepare(preferredGerman() ? 1 : 0);
  document.documentElement.lang = preferredGerman() ? 'de' : 'en';
  EscPage.useTexts(texts);
  const connect = element('connect');
  const update = element('update');
  connect.textContent = texts(MSG_WEB_CONNECT);
  update.textContent = texts(MSG_WEB_UPDATE);

  const params = new URLSearchParams(location.search);
  const simulate = params.has('simulate');
  let hid = null;
  if (simulate) {
    hid = await simulatedSource(params.get('simulate'), texts);
  } else if (!('hid' in navigator)) {
    showNotice(texts(MSG_WEB_NO_WEBHID));
  } else {
    hid = navigator.hid;
  }
  if (hid === null) return;
  module.escWebHid.use(hid);

  // One call into the updater at a time: device events that come during a call are held
  // there, and handled when the call allows it or once it has returned. Holding is a plain
  // call (ccall would take over the suspended call's promise).
  let busy = false;
  let eventsHeld = false;
  const pageBusy = (value) => {
    busy = value;
    EscPage.busy(value);
  };
  async function call(name, args) {
    pageBusy(true);
    await module.ccall(name, null, args.map(() => 'number'), args, {async: true});
    pageBusy(false);
    if (eventsHeld) handleEvents();
  }
  function handleEvents() {
    if (busy) return;
    eventsHeld = false;
    call('esc_web_handle_held', []);
  }
  hid.addEventListener('connect', () => {
    module._esc_web_hold_arrival();
    eventsHeld = true;
    handleEvents();
  });
  hid.addEventListener('disconnect', (event) => {
    module._esc_web_hold_removal(module.escWebHid.deviceId(event.device));
    eventsHeld = true;
    handleEvents();
  });

  const filters = [];
  for (let index = 0, filter; (filter = module._esc_web_unit_filter(index)) !== 0; index++) {
    filters.push({vendorId: filter >>> 16, productId: filter & 0xFFFF});
  }
  // The chooser needs the click itself; a unit chosen is granted and arrives like one
  // plugged in. Refusing the chooser leaves everything as it was.
  connect.addEventListener('click', async () => {
    if (busy) return;
    let chosen = [];
    try {
      chosen = await hid.requestDevice({filters: filters});
    } catch (error) {
      chosen = [];
    }
    if (chosen.length > 0) {
      module._esc_web_hold_arrival();
      eventsHeld = true;
      handleEvents();
    }
  });
  update.addEventListener('click', () => {
    if (!busy) call('esc_web_update', []);
  });

  await call('esc_web_start', [simulate ? 1 : 0]);
  document.body.dataset.ready = 'yes';
}

main();
