#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "ui/texts.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/wide_text.h"

namespace esc {
namespace {

// Labels and values of the three version rows, enabled and disabled in this order.
constexpr int VERSION_ROW_CONTROLS[] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE,
                                        IDC_ROW1_LABEL, IDC_ROW2_LABEL, IDC_ROW3_LABEL};

void enableVersionRows(BOOL enable) {
  for (const int control : VERSION_ROW_CONTROLS) {
    EnableWindow(GetDlgItem(mainWindow, control), enable);
  }
}

void setControlText(int control, const char16_t* text) {
  SetDlgItemTextW(mainWindow, control, wide(text));
}

}  // namespace

// The label texts stay as they are while no link is open: the first row keeps the type
// of the last unit shown.
void RefreshVersionDisplay() {
  if (!isOpen(deviceLink)) {
    setControlText(IDC_ROW1_VALUE, NO_LINK_VERSION_TEXT);
    setControlText(IDC_ROW2_VALUE, NO_LINK_VERSION_TEXT);
    setControlText(IDC_ROW3_VALUE, NO_LINK_VERSION_TEXT);
    enableVersionRows(FALSE);
    return;
  }
  enableVersionRows(TRUE);
  char16_t text[VERSION_TEXT_UNITS];
  formatUnitVersion(deviceLink.unitFirmwareVersion, text);
  setControlText(IDC_ROW1_VALUE, text);
  formatBootloaderVersion(escBootloaderVersion(deviceLink), text);
  setControlText(IDC_ROW2_VALUE, text);
  formatEscFirmwareVersion(escFirmwareVersion(deviceLink), text);
  setControlText(IDC_ROW3_VALUE, text);
  setControlText(IDC_ROW1_LABEL, unitTypeLabel(deviceLink.productId));
}

// The rows show the closed state while the box is open; the failure notice replaces the
// status panel only after the box is dismissed.
void ReportError(const char16_t* message, const char16_t* caption, std::int32_t errorValue,
                 std::uint32_t systemError) {
  close(deviceLink);
  EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), FALSE);
  RefreshVersionDisplay();

  char16_t codeLineFormat[MESSAGE_BUFFER_UNITS];
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_ERROR_CODE_LINE, codeLineFormat);
  composeErrorText(message, codeLineFormat, errorValue, systemError, text, MESSAGE_BUFFER_UNITS);
  ShowMessageBox(text, caption, MB_OK | MB_ICONERROR);

  char16_t notice[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_UPDATE_FAILED_NOTICE, notice);
  SetDlgItemTextW(mainWindow, IDC_STATUS_PANEL, wide(notice));
}

}  // namespace esc
