/* Resource ids of the settings dialog: the four page templates and every
   control the plug-in reads, writes or reacts to. Shared by ambervox.rc and
   the plug-in's sheet code; labels, group boxes and notes have no id of their
   own (IDC_STATIC). Plain C preprocessor text: windres reads it too. */
#ifndef AMBERVOX_RESOURCES_RESOURCE_H
#define AMBERVOX_RESOURCES_RESOURCE_H

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

/* Page templates, in the order of the tabs. */
#define IDD_PAGE_SERVER 101
#define IDD_PAGE_DISPLAY 102
#define IDD_PAGE_REQUEST 103
#define IDD_PAGE_CONTROL 104

/* Page 1: HTTP server. */
#define IDC_DISABLE_PLUGIN 1026
#define IDC_WEB_ROOT 1063
#define IDC_BROWSE_WEB_ROOT 1088
#define IDC_PORT 1064
#define IDC_ADMIN_PASSWORD 1007

/* Page 2: display. */
#define IDC_SKIN_FILE 1065
#define IDC_BROWSE_SKIN_FILE 1089
#define IDC_MAX_ENTRIES 1083
#define IDC_SKIN_PLAYLIST_PREV 1094
#define IDC_SKIN_PLAYLIST_NEXT 1095
#define IDC_SKIN_USER_CANCEL 1096

/* Page 3: request limits. */
#define IDC_MAX_QUEUE_SIZE 1084
#define IDC_RECENTLY_PLAYED_QUEUE_SIZE 1085
#define IDC_MAX_REQUESTS_PER_IP 1079
#define IDC_MAX_CONSECUTIVE_PER_IP 1080

/* Page 4: control. */
#define IDC_RELOAD_PLAYLIST 1092
#define IDC_CLEAR_REQUESTS 1093
#define IDC_RESTORE_COMPANION 1091

#endif
