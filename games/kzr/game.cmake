# Identity of the demo game "Velmora" (id kzr) of the Brevplay family.
set(NQ_GAME_ID kzr)
set(NQ_GAME_VERSION 1.0.0.1)
# Loopback hosts of the demo server (scripts/demo_server.py).
set(NQ_GAME_STAT_HOST "127.0.0.1:28711")
set(NQ_GAME_FILE_HOST "127.0.0.1:28712")
