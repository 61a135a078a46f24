#pragma once

#define IDB_FRAME 100
#define IDD_MOBI_PAGE 102

#define QB_VERSION_TEXT "1.1.1271"
#define QB_VERSION_BINARY 1, 1, 1271, 0
