#pragma once
// Ids of the patcher's own resources, shared by the code and the .rc files.
#define IDD_PROGRESS 102
#define IDI_PATCHER 1

// Controls of the progress dialog.
#define IDC_CURRENT_BAR 300
#define IDC_OVERALL_BAR 301
#define IDC_CURRENT_FILE 302
#define IDC_CURRENT_PERCENT 303
#define IDC_STATUS 304
#define IDC_OVERALL_PERCENT 305
