#pragma once

#define IDB_FRAME 100
#define IDD_MOBI_PAGE 102

// Controls of the MOBI page, in the dialog's tab order where they appear.
#define IDC_FILE_NAME_LABEL 1001
#define IDC_FILE_NAME 1000
#define IDC_BOOK_UPDOWN 1002
#define IDC_SEPARATOR 1003
#define IDC_TITLE_LABEL 1004
#define IDC_TITLE 1005
#define IDC_CREATOR_LABEL 1006
#define IDC_CREATOR 1007
#define IDC_PUBLISHER_LABEL 1009
#define IDC_PUBLISHER 1010
#define IDC_CREATED_LABEL 1011
#define IDC_CREATED 1012
#define IDC_PUBLISHED_LABEL 1013
#define IDC_PUBLISHED 1014
#define IDC_LANGUAGE_LABEL 1015
#define IDC_LANGUAGE 1016
#define IDC_SAMPLE 1017
#define IDC_PERSONAL 1018
#define IDC_ENCRYPTED 1019
#define IDC_COVER 1020
#define IDC_SAVE_SOURCE 1021
#define IDC_NOT_MOBI 1031

// The ranges the page shows for a valid book and hides for an invalid one
// (and the other way round); ids without a control are skipped.
#define IDC_BOOK_FIRST 1004
#define IDC_BOOK_LAST 1021
#define IDC_INVALID_FIRST 1030
#define IDC_INVALID_LAST 1031

// Texts of the preview.
#define IDS_PREVIEW_NOT_MOBI 200
#define IDS_PREVIEW_ENCRYPTED 201
// The labels of the preview's details.
#define IDS_PREVIEW_AUTHOR 202
#define IDS_PREVIEW_PUBLISHER 203
#define IDS_PREVIEW_PUBLISHED 204
#define IDS_PREVIEW_CREATED 205
#define IDS_PREVIEW_LANGUAGE 206
// Save Source's filter names and its failure message.
#define IDS_SAVE_ZIP_FILES 207
#define IDS_SAVE_ALL_FILES 208
#define IDS_SAVE_FAILED 209
