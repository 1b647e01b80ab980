// Resource ids shared by the resource script and the code that reads the
// resources. Plain macros: the resource compiler reads this file too.
#pragma once

// The notification dialog and its controls.
#define IDD_MAIN_DIALOG 130
#define IDC_YES_BUTTON 1       // accept the offer: download and install
#define IDC_LATER_BUTTON 1010  // open the reminder menu
#define IDC_MESSAGE_TEXT 147   // the message text
#define IDC_CLOSE_BUTTON 1011  // "Terminate" while downloading, "OK" when no update
#define IDC_ANIMATION 1012     // host of the animated picture

// Commands of the reminder menu that "Later" opens.
#define ID_REMIND_TOMORROW 2001
#define ID_REMIND_NEXT_WEEK 2002
#define ID_REMIND_NEXT_MONTH 2003
#define ID_DONT_ASK_AGAIN 2004

// String-table texts (blocks 7 and 8).
#define IDS_INSTALLER_TITLE 103
#define IDS_DOWNLOADING 104
#define IDS_REMIND_TOMORROW 105
#define IDS_REMIND_NEXT_MONTH 106
#define IDS_REMIND_NEXT_WEEK 107
#define IDS_DONT_ASK_AGAIN 108
#define IDS_APP_KEY 109
#define IDS_UPDATE_AVAILABLE 110
#define IDS_TERMINATE 111
#define IDS_LATER 112
#define IDS_YES 113
#define IDS_NO_UPDATE_REQUIRED 114
#define IDS_OK 115

// Binary resources: "CERTIFICATE" 132, "JPEG" 144, "GIF" 148.
#define IDR_PINNED_CERTIFICATE 132
#define IDR_BACKGROUND 144
#define IDR_DOWNLOAD_ANIMATION 148
