// The export settings dialog's template and control ids: the one place they
// are written. The resource script includes this header as a resource
// compiler would, and so does every C++ file that names a control.
#pragma once

#define IDD_EXPORT_SETTINGS 1000
#define IDC_COMBO1          1000 /* cameras */
#define IDC_HEIGHT          1001
#define IDC_WIDTH           1002
#define IDC_START_FRAME     1003
#define IDC_END_FRAME       1004
#define IDC_COMBO2          1005 /* target objects */
#define IDC_RADIO1          1006 /* mode 0: origin */
#define IDC_RADIO2          1007 /* mode 1: model centre */
#define IDC_RADIO3          1008 /* mode 2: group centre */
#define IDC_RADIO4          1009 /* mode 3: bone */
#define IDC_COMBO3          1010 /* groups */
#define IDC_COMBO4          1011 /* bones, indented by depth */
#define IDC_BUTTON1         1012 /* output file */
#define IDC_FILE_NAME       1013 /* shows the output file's path */
