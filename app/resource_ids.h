// Resource ids shared by the code and the packaged game's resource script.
// Plain #defines only: windres reads this file too.
#pragma once

#define IDS_DEFAULT_PID 121
#define IDS_GAME_NAME 123
#define IDS_FAMILY_NAME 125
#define IDS_GAME_ID 126

#define IDR_PACKAGE_7Z 201
#define IDR_GAME_CONFIG 202
#define IDR_PACKAGE_7ZDLL 203
#define IDR_PACKAGE_NETBRIDGE 204

#define IDI_APP 401
