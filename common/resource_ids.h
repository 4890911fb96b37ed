#pragma once
// Resource identifiers shared by both programs' code and resource scripts.
// Both programs carry the same layout; only the texts differ.

#define IDS_APP_TITLE        103  // window title
#define IDD_ABOUTBOX         103  // the About box template
#define IDM_ABOUT            104  // command: show the About box
#define IDM_EXIT             105  // command: end the program
#define IDI_APP              107  // class icon group
#define IDI_SMALL            108  // small class icon group
#define IDC_APP              109  // menu, accelerator table and window class name string
#define IDI_ABOUT_PICTURE    128  // named by the About box's icon control; neither program holds it

#ifndef IDC_STATIC
#define IDC_STATIC           (-1)
#endif
