# Identity of the second demo game "Astrelle" (id abc) of the Brevplay family.
# It shares the family's base directory, shared files and installed-games list
# with kzr, and ships the older total uninstaller (1.0.0.5).
set(NQ_GAME_ID abc)
set(NQ_GAME_VERSION 1.0.0.1)
# Loopback hosts of the demo server (scripts/demo_server.py).
set(NQ_GAME_STAT_HOST "127.0.0.1:28711")
set(NQ_GAME_FILE_HOST "127.0.0.1:28712")
# Packages: the Uninst.exe build this game ships (outside/uninst).
set(NQ_GAME_UNINST_TARGET uninst_1005)
