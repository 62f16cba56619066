/* Identifiers shared by the resource scripts and the Windows program. Plain #defines so
   that the resource compiler reads them too. */
#pragma once

/* Dialog templates */
#define IDD_MAIN 110
#define IDD_PROGRESS 113

/* Icon group and logo bitmap */
#define IDI_APPLICATION_ICON 123
#define IDB_LOGO 121

/* Controls of the main dialog (the Close button is IDCANCEL, 2) */
#define IDC_UPDATE 1002
#define IDC_ROW2_LABEL 1005
#define IDC_STATUS_PANEL 40004
#define IDC_VERSION_GROUP 40007
#define IDC_ROW1_LABEL 40010
#define IDC_ROW3_LABEL 40011
#define IDC_ROW1_VALUE 40013
#define IDC_ROW2_VALUE 40014
#define IDC_ROW3_VALUE 40015

/* The progress bar of template 113 */
#define IDC_PROGRESS_BAR 1002
