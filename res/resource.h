// Resource and control identifiers, shared by the .rc files and the C++ code.
// Only preprocessor definitions here: the resource compiler reads this file.
#ifndef SHARDIX_RES_RESOURCE_H
#define SHARDIX_RES_RESOURCE_H

// Named resources: the main window's template and class, and the icon group.
#define SHARDMILL_NAME "Shardmill"

// Dialog templates of the two modal dialogs.
#define IDD_VOLUME_INFO 101
#define IDD_ABOUT 109
// Bitmap shown in the About box.
#define IDB_ABOUT 112

// Main window controls.
#define IDC_CLOSE 1000
#define IDC_FRAGMENT 1002
#define IDC_FRAGMENT_COUNT_LABEL 1003
#define IDC_DEFRAGMENT 1004
#define IDC_BROWSE 1008
#define IDC_PROGRESS 1014
#define IDC_ABOUT 1017
#define IDC_FILE_NAME 1018
#define IDC_HELP_BUTTON 1019  // IDC_HELP is a system cursor
#define IDC_MAX_VALUE 1021
#define IDC_FRAGMENT_COUNT 1022
#define IDC_ANALYZE_FILE 1027
#define IDC_VOLUME_INFO 1028
#define IDC_FRAGMENT_SIZE 1029
#define IDC_BEFORE_BAR 1030
#define IDC_AFTER_BAR 1031
#define IDC_SETTINGS_GROUP 1039
#define IDC_FRAGMENT_SIZE_LABEL 1040
#define IDC_LOCATION_LABEL 1041
#define IDC_SMALL_LABEL 1044
#define IDC_LARGE_LABEL 1045
#define IDC_PLACEMENT_METHOD 1053
#define IDC_FRAGMENT_COUNT_UPDOWN 1055
#define IDC_MAX_LABEL 1059
#define IDC_FRAGMENT_LIST 1061
#define IDC_FILE_SIZE_VALUE 1064
#define IDC_PERCENT_BEFORE 1066
#define IDC_FILE_NAME_VALUE 1067
#define IDC_STATUS 1068
#define IDC_BEFORE_LABEL 1069
#define IDC_AFTER_LABEL 1070
#define IDC_PERCENT_BEFORE_LABEL 1073
#define IDC_FILENAME_LABEL 1074
#define IDC_FILE_SIZE_LABEL 1075
#define IDC_PERCENT_AFTER_LABEL 1076
#define IDC_PERCENT_AFTER 1077

// About box controls (template IDD_ABOUT); their numbers overlap the main
// window's, which is another dialog.
#define IDC_ABOUT_PRODUCT_NAME 1017
#define IDC_ABOUT_COMPANY 1018
#define IDC_ABOUT_COPYRIGHT 1019
#define IDC_ABOUT_VERSION 1020
#define IDC_ABOUT_WEBSITE 1079
#define IDC_ABOUT_PICTURE 1080

// Volume Info controls (template IDD_VOLUME_INFO).
#define IDC_SUMMARY_LIST 1082
#define IDC_VOLUME_INFO_CLOSE 1083
#define IDC_SAVE_AS 1084
#define IDC_ALLOCATION_LIST 1085
#define IDC_DISK_REPORT_TITLE 1087

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif  // SHARDIX_RES_RESOURCE_H
