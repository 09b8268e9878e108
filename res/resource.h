// Resource and control ids, shared by pictrim.rc and the Windows dialog.
#pragma once

#define IDD_MAIN 102
#define IDD_BATCH 103
#define IDR_MAINFRAME 128

#define IDC_SRC_EDIT 1000
#define IDC_DST_EDIT 1001
#define IDC_SRC_BROWSE 1004
#define IDC_DST_BROWSE 1005
#define IDC_EXIT 1006
#define IDC_EXECUTE 1007
#define IDC_RATIO 1015

// The batch window's controls.
#define IDC_BATCH_LIST 1100
#define IDC_BATCH_ADD_FILES 1101
#define IDC_BATCH_ADD_FOLDER 1102
#define IDC_BATCH_REMOVE 1103
#define IDC_BATCH_RECURSIVE 1104
#define IDC_BATCH_BESIDE 1105
#define IDC_BATCH_SUFFIX 1106
#define IDC_BATCH_INTO_FOLDER 1107
#define IDC_BATCH_FOLDER 1108
#define IDC_BATCH_FOLDER_BROWSE 1109
#define IDC_BATCH_RATIO 1110
#define IDC_BATCH_OVERWRITE 1111
#define IDC_BATCH_KEEP_TIMES 1112
#define IDC_BATCH_PROGRESS 1113
#define IDC_BATCH_COUNT 1114
#define IDC_BATCH_EXECUTE 1115
#define IDC_BATCH_STOP 1116
#define IDC_BATCH_CLOSE 1117

// The ratio list's texts, in list order from the first.
#define IDS_RATIO_FIRST 200
#define IDS_RATIO_COUNT 7
