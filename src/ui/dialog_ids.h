// Resource and control identifiers of the settings window and the about box.
// Plain #defines: the resource compiler reads this file too.
#ifndef QRX_UI_DIALOG_IDS_H
#define QRX_UI_DIALOG_IDS_H

#define IDD_SETTINGS 5000
#define IDD_ABOUT 5002
#define IDB_ABOUT 5004
#define IDC_CURSOR_HOVER 5014
#define IDC_CURSOR_PICK 5016

#define IDC_CLOSE 5003
#define IDC_ABOUT 5008
#define IDC_ABOUT_PICTURE 5010
#define IDC_SPECTRUM 5078
#define IDC_DEMO 5081
#define IDC_ADD 5096
#define IDC_REMOVE 5097
#define IDC_FFT_LENGTH 5098
#define IDC_SHAPE 5099
#define IDC_EDIT_FX 5100
#define IDC_SPIN_FX 5102
#define IDC_EDIT_WX 5103
#define IDC_SPIN_WX 5104
#define IDC_EDIT_S 5105
#define IDC_SPIN_S 5106
#define IDC_EDIT_O 5107
#define IDC_SPIN_O 5108
#define IDC_PROC_ENABLE 5109
#define IDC_TABLE 5110
#define IDC_EDIT_WY 5111
#define IDC_SPIN_WY 5112
#define IDC_EDIT_FY 5113
#define IDC_SPIN_FY 5114
#define IDC_FFT_LABEL 5116

/* The private message posted to the settings window (WM_USER + 400). */
#define MSG_DIALOG_UPDATE 0x590

#endif
