// Resource and control ids of ZOLT.exe, shared by the resource script and the window code.
#pragma once

// Templates and icons
#define IDD_ABOUTBOX 100
#define IDD_ZOLT_FORM 101
#define IDR_MAINFRAME 128
#define IDD_PORT_SELECT 130
#define IDD_SETTINGS 131
#define IDI_LAMP_ON 131   // a line with a port attached: bright green
#define IDI_LAMP_OFF 132  // a line not in use: dark green
#define IDI_APP 1         // the program's own icon (the lowest id is the one Explorer shows)

// The form: line panels, lines 1 to 8
#define IDC_LAMP1 1013
#define IDC_LAMP2 1014
#define IDC_LAMP3 1015
#define IDC_LAMP4 1016
#define IDC_LAMP5 1017
#define IDC_LAMP6 1018
#define IDC_LAMP7 1019
#define IDC_LAMP8 1020
#define IDC_COM1 1057
#define IDC_COM2 1058
#define IDC_COM3 1059
#define IDC_COM4 1060
#define IDC_COM5 1061
#define IDC_COM6 1062
#define IDC_COM7 1063
#define IDC_COM8 1064
#define IDC_PROGRESS1 1002
#define IDC_PROGRESS2 1006
#define IDC_PROGRESS3 1007
#define IDC_PROGRESS4 1008
#define IDC_PROGRESS5 1009
#define IDC_PROGRESS6 1010
#define IDC_PROGRESS7 1011
#define IDC_PROGRESS8 1012
#define IDC_STATUS1 1022
#define IDC_STATUS2 1023
#define IDC_STATUS3 1024
#define IDC_STATUS4 1025
#define IDC_STATUS5 1026
#define IDC_STATUS6 1027
#define IDC_STATUS7 1028
#define IDC_STATUS8 1029

// The form: image information, labels, buttons, task list
#define IDC_BOOT_VERSION 1034
#define IDC_BOOT_CHKSUM 1033
#define IDC_CP_VERSION 1035
#define IDC_CP_CHKSUM 1036
#define IDC_MOBILE_NAME 1037
#define IDC_ELAPSED 1031
#define IDC_FILE_NAME 1030
#define IDC_BANNER 1032
#define IDC_TASK_LIST 1021
#define IDC_SET_CONFIG 1056
#define IDC_OPEN 1005
#define IDC_SETTINGS 1003
#define IDC_SCRIPT 1053
#define IDC_PORT 1001
#define IDC_DONE 1004
#define IDC_ABOUT 1038
#define IDC_RESET 1065

// Port Selection
#define IDC_PORT_LIST 1000

// Settings
#define IDC_UPDATE_ALL 1046
#define IDC_WITH_CAL 1049
#define IDC_UPDATE_BOOT 1048
#define IDC_UPDATE_CP 1045
#define IDC_UPDATE_DATA 1047
#define IDC_UPDATE_CP_DATA 1066
