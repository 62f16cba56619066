#include "ui/web/web_view.h"

#include <emscripten.h>

// Each call hands the page UTF-16 texts by address; escText (web_view.js) reads them.
EM_JS(void, page_title, (const char16_t* title), { EscPage.title(escText(title)); });
EM_JS(void, page_status, (const char16_t* text), { EscPage.status(escText(text)); });
EM_JS(void, page_row, (int row, const char16_t* label, const char16_t* value, int enabled),
      { EscPage.row(row, label ? escText(label) : null, escText(value), Boolean(enabled)); });
EM_JS(void, page_update_enabled, (int enable), { EscPage.updateEnabled(Boolean(enable)); });
EM_ASYNC_JS(int, page_ask, (int yesNo, const char16_t* caption, const char16_t* text), {
  return (await EscPage.ask(Boolean(yesNo), escText(caption), escText(text))) ? 1 : 0;
});
EM_ASYNC_JS(void, page_box, (int error, const char16_t* caption, const char16_t* text),
            { await EscPage.box(Boolean(error), escText(caption), escText(text)); });
EM_JS(void, page_progress_open, (const char16_t* title), { EscPage.progressOpen(escText(title)); });
EM_JS(void, page_progress_set, (unsigned percent), { EscPage.progressSet(percent); });
EM_JS(void, page_progress_close, (), { EscPage.progressClose(); });
EM_JS(void, page_sequence, (int running), { EscPage.sequenceRunning(Boolean(running)); });

namespace esc::web {

void showTitle(const char16_t* title) { page_title(title); }

void showStatus(const char16_t* text) { page_status(text); }

void showVersionRow(int row, const char16_t* label, const char16_t* value, bool enabled) {
  page_row(row, label, value, enabled ? 1 : 0);
}

void enableUpdate(bool enable) { page_update_enabled(enable ? 1 : 0); }

bool askOkCancel(const char16_t* caption, const char16_t* text) {
  return page_ask(0, caption, text) != 0;
}

bool askYesNo(const char16_t* caption, const char16_t* text) {
  return page_ask(1, caption, text) != 0;
}

void showBox(Box box, const char16_t* caption, const char16_t* text) {
  page_box(box == Box::Error ? 1 : 0, caption, text);
}

void openProgress(const char16_t* title) { page_progress_open(title); }

void setProgress(std::uint32_t percent) { page_progress_set(percent); }

void closeProgress() { page_progress_close(); }

void showSequenceRunning(bool running) { page_sequence(running ? 1 : 0); }

}  // namespace esc::web
