// Resource and control ids, shared by pictrim.rc and the Windows dialog.
#pragma once

#define IDD_MAIN 102
#define IDR_MAINFRAME 128

#define IDC_SRC_EDIT 1000
#define IDC_DST_EDIT 1001
#define IDC_SRC_BROWSE 1004
#define IDC_DST_BROWSE 1005
#define IDC_EXIT 1006
#define IDC_EXECUTE 1007
#define IDC_RATIO 1015

// The ratio list's texts, in list order from the first.
#define IDS_RATIO_FIRST 200
#define IDS_RATIO_COUNT 7
