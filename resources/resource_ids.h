#pragma once
// Ids of the patcher's own resources, shared by the code and the .rc files.
#define IDD_PROGRESS 102
#define IDI_PATCHER 1
