#include "app/game_config.h"

#include "app/resource_ids.h"
#include "base/app_module.h"

void GameConfig::LoadStringResources() {
  game_id = base::LoadResourceString(IDS_GAME_ID);
  game_name = base::LoadResourceString(IDS_GAME_NAME);
  pid = base::LoadResourceString(IDS_DEFAULT_PID);
}
