// Resource and control ids of the launcher executable, shared by the resource script and the code.
#pragma once

#define IDI_LAUNCHER 1001

#define IDD_PROGRESS 103
#define IDD_RUNTIME_MISSING 104

#define IDC_PROGRESS_BAR 1001
#define IDC_DOWNLOAD_STATUS 1002
#define IDC_MESSAGE 1003
#define IDC_DOWNLOAD 1004
#define IDC_LOCATE 1005
