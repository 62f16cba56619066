// A NUL-terminated UTF-16 text of the module's memory as a string (for web_view.cpp).
function escText(address) {
  let text = '';
  for (let unit = address >> 1; HEAPU16[unit] !== 0; unit++) {
    text += String.fromCharCode(HEAPU16[unit]);
  }
  return text;
}
