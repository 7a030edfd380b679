// Resource numbers shared by the resource script and the C++ code (plain #defines).
#ifndef CIPHREL_RESOURCE_IDS_H
#define CIPHREL_RESOURCE_IDS_H

// Host-read strings and object information texts.
#define IDS_HOST_TAG                1
#define IDS_SHORT_NAME              2
#define IDS_CREATE_HINT             3
#define IDS_TITLE_FORMAT            4
#define IDS_INFO_NAME               128
#define IDS_INFO_AUTHOR             129
#define IDS_INFO_COPYRIGHT          130
#define IDS_INFO_COMMENT            131     // deliberately absent from the string table
#define IDS_INFO_WEB                132

// Other resources.
#define IDR_HOST_DATA               200     // RCDATA read by the host
#define IDB_ICON                    400
#define IDB_PICTURE                 401
#define IDR_ACTION_MENU             20000
#define IDR_CONDITION_MENU          20001
#define IDR_EXPRESSION_MENU         20002
#define IDD_SETUP                   20003

// Parameter titles.
#define IDS_TITLE_KEY               30001
#define IDS_TITLE_CHARACTERS        30002
#define IDS_TITLE_CHARACTER_CODE    30003
#define IDS_TITLE_CHARACTER         30004
#define IDS_TITLE_FILE              30005
#define IDS_TITLE_TIME_INTERVAL     30006
#define IDS_TITLE_PERCENT_INTERVAL  30007

// Event catalog numbering: an entry with code c has menu command base + 10c and display
// string base + 10c; each string base is its menu base minus 20000.
#define ACTION_MENU_BASE            25000
#define CONDITION_MENU_BASE         26000
#define EXPRESSION_MENU_BASE        27000
#define ACTION_STRING_BASE          5000
#define CONDITION_STRING_BASE       6000
#define EXPRESSION_STRING_BASE      7000

// Menu commands, by code.
#define IDM_C_ON_ERROR              26000
#define IDM_C_KEY_EXISTS            26010
#define IDM_C_CHAR_FILTERED         26020
#define IDM_C_CODE_FILTERED         26030
#define IDM_C_PADDING               26040
#define IDM_C_CONTROL_CODES         26050
#define IDM_C_FILE_DONE             26060
#define IDM_C_FILE_BUSY             26070

#define IDM_A_ADD_KEY               25000
#define IDM_A_REMOVE_KEY            25010
#define IDM_A_ADD_CHARS             25020
#define IDM_A_ADD_CODE              25030
#define IDM_A_REMOVE_CHARS          25040
#define IDM_A_REMOVE_CODE           25050
#define IDM_A_CLEAR_EXPR_ERROR      25060
#define IDM_A_ENCRYPT_FILE          25070
#define IDM_A_DECRYPT_FILE          25080
#define IDM_A_NO_PADDING            25090
#define IDM_A_PADDING               25100
#define IDM_A_ENABLE_CONTROL        25110
#define IDM_A_DISABLE_CONTROL       25120
#define IDM_A_TIME_INTERVAL         25130
#define IDM_A_PERCENT_INTERVAL      25140

#define IDM_E_ENCRYPT_INT           27000
#define IDM_E_TO_INT                27010
#define IDM_E_ENCRYPT_STRING        27020
#define IDM_E_DECRYPT_INT           27030
#define IDM_E_TO_FLOAT              27040
#define IDM_E_DECRYPT_STRING        27050
#define IDM_E_FILTER_STRING         27060
#define IDM_E_DEFILTER_STRING       27070
#define IDM_E_ERROR_CODE            27080
#define IDM_E_EXPR_ERROR_CODE       27090
#define IDM_E_RANDOM_KEY            27100
#define IDM_E_TIME_INTERVAL         27110
#define IDM_E_PROGRESS              27120
#define IDM_E_PERCENT_INTERVAL      27130
#define IDM_E_FILE_SIZE             27140

// Setup dialog controls; the decorative ones share one number that nothing addresses.
#define IDC_DECORATION              9000
#define IDC_PICTURE                 9001
#define IDC_CHARACTERS              9002
#define IDC_CODES                   9003
#define IDC_PRESET_DEFAULT          9006
#define IDC_PRESET_INTERNET         9007
#define IDC_CONTROL_CODES           9008
#define IDC_NO_PADDING              9009

// Popup-menu command of the host that opens the setup dialog.
#define SETUP_COMMAND               2020

#endif
