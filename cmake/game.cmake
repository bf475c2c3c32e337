# The packaged game: its identity, configuration, icon and hosts come from
# games/<GAME>/. game.cmake there sets the NQ_GAME_* variables.
set(NQ_GAME_DIR ${CMAKE_SOURCE_DIR}/games/${GAME})
if(NOT EXISTS ${NQ_GAME_DIR}/game.cmake)
  message(FATAL_ERROR "Unknown game '${GAME}': no ${NQ_GAME_DIR}/game.cmake")
endif()
include(${NQ_GAME_DIR}/game.cmake)

set(NQ_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/cmake/game_build.h.in ${NQ_GENERATED_DIR}/game_build.h @ONLY)

# windres reads the UTF-8 script with code page 65001 (see the pragma in it).
set(NQ_GAME_RC ${NQ_GAME_DIR}/game.rc)
set_source_files_properties(${NQ_GAME_RC} PROPERTIES
  INCLUDE_DIRECTORIES "${CMAKE_SOURCE_DIR};${NQ_GAME_DIR};${NQ_GENERATED_DIR}"
  OBJECT_DEPENDS "${NQ_GAME_DIR}/config.json;${NQ_GAME_DIR}/${NQ_GAME_ID}.ico")
