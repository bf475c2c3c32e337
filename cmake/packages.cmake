# Resource packages of a packaged game, linked into its client exe through a
# generated resource script:
#   ZIPRES 201  7z (Copy method, no filter, plain headers): progress.gif, ui.ui,
#               CefHelper.dll, CefView.exe, Uninst.exe, WebView.dll; a full
#               package adds the engine resource file (CefRes69.dll for the
#               new kernel, else CefRes.dll) and pepflashplayer.dll
#   ZIPRES 203  zip: empty (the 22-byte end record) or, full package, 7z.dll
#   ZIPRES 204  zip: NetBridge.dll
# ui.ui is the zip of the game's skin folder games/<id>/skin/.
#
# Included from the top-level CMakeLists.txt after outside/, so the stand-in
# targets exist. Defines:
#   nq_game_packages(<name> GAME_DIR <dir> [FULL] [CONFIG <json>] [UNINST <target>]
#                    [SKIN_DIRS <dir>...])      -> <name>_PACKAGES_RC, target <name>_packages
#   nq_add_game_client(<target> GAME_DIR <dir> [FULL] [VERSION <a.b.c.d>]
#                      [CONFIG_SET key=value...] [CONFIG <json>] [ICON <ico>]
#                      [SKIN_DIRS <dir>...] [UNINST <target>] [OUTPUT_DIR <dir>])
# and packages the main `client`.

option(NQ_FULL_PACKAGE "Build the full package of the game: engine resource file, Flash plug-in and 7z.dll inside (IsPackAllCEF)" OFF)

find_program(NQ_7ZZ 7zz REQUIRED)
find_program(NQ_ZIP zip REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# ImageMagick's own binary: /usr/local/bin/convert on these machines is not it.
set(NQ_CONVERT /usr/bin/convert)

# Stand-in targets the packages take their files from (outside/).
set(NQ_PKG_WEBVIEW_TARGET webview CACHE STRING "Target building WebView.dll")
set(NQ_PKG_NETBRIDGE_TARGET netbridge CACHE STRING "Target building NetBridge.dll")
set(NQ_PKG_7Z_TARGET sevenzip CACHE STRING "Target building 7z.dll")

set(NQ_PACKAGES_DIR ${CMAKE_BINARY_DIR}/packages)

# The loading animation every game shares: eight dots on a dark page, one lit
# at a time, 100 ms a frame, looping. Drawn at the web window's picture size.
set(NQ_PROGRESS_GIF ${NQ_PACKAGES_DIR}/progress.gif)
set(_gif_args -delay 10 -loop 0)
set(_dots "28,0;20,20;0,28;-20,20;-28,0;-20,-20;0,-28;20,-20")
foreach(frame RANGE 7)
  list(APPEND _gif_args "(" -size 856x488 "xc:#0b0f18")
  set(index 0)
  foreach(dot IN LISTS _dots)
    string(REPLACE "," ";" xy "${dot}")
    list(GET xy 0 dx)
    list(GET xy 1 dy)
    math(EXPR cx "428 + ${dx}")
    math(EXPR cy "244 + ${dy}")
    math(EXPR ex "${cx} + 5")
    if(index EQUAL frame)
      list(APPEND _gif_args -fill "#c9a45c")
    else()
      list(APPEND _gif_args -fill "#3a4560")
    endif()
    list(APPEND _gif_args -draw "circle ${cx},${cy} ${ex},${cy}")
    math(EXPR index "${index} + 1")
  endforeach()
  list(APPEND _gif_args ")")
endforeach()
add_custom_command(OUTPUT ${NQ_PROGRESS_GIF}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${NQ_PACKAGES_DIR}
  COMMAND ${NQ_CONVERT} ${_gif_args} -layers Optimize ${NQ_PROGRESS_GIF}
  COMMENT "Drawing progress.gif" VERBATIM)
unset(_gif_args)
unset(_dots)

# The empty zip of a package without 7z.dll: only the end-of-central-directory
# record ("PK\5\6" and 18 zero bytes).
set(NQ_EMPTY_ZIP ${NQ_PACKAGES_DIR}/empty.zip)
add_custom_command(OUTPUT ${NQ_EMPTY_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${NQ_PACKAGES_DIR}
  COMMAND ${Python3_EXECUTABLE} -c "import sys; open(sys.argv[1], 'wb').write(b'PK\\x05\\x06' + bytes(18))" ${NQ_EMPTY_ZIP}
  VERBATIM)

add_custom_target(nq_shared_packages DEPENDS ${NQ_PROGRESS_GIF} ${NQ_EMPTY_ZIP})

# Writes |content| to |path| only when it differs, so an unchanged configure
# step rebuilds nothing.
function(_nq_write_if_changed path content)
  if(EXISTS ${path})
    file(READ ${path} old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE ${path} "${content}")
endfunction()

# A package whose stand-in is not built yet is made without that file, with a
# warning at configure time; the install of such a package fails loudly.
function(_nq_pkg_require_target target what)
  if(NOT TARGET ${target})
    message(WARNING "packages: no target '${target}' for ${what} yet; the packages are built without it")
    set(_nq_pkg_ok FALSE PARENT_SCOPE)
  else()
    set(_nq_pkg_ok TRUE PARENT_SCOPE)
  endif()
endfunction()

function(nq_game_packages name)
  cmake_parse_arguments(P "FULL" "GAME_DIR;CONFIG;UNINST" "SKIN_DIRS" ${ARGN})
  if(NOT P_CONFIG)
    set(P_CONFIG ${P_GAME_DIR}/config.json)
  endif()
  if(NOT P_SKIN_DIRS)
    set(P_SKIN_DIRS ${P_GAME_DIR}/skin)
  endif()
  if(NOT P_UNINST)
    set(P_UNINST uninst)
  endif()
  set(dir ${NQ_PACKAGES_DIR}/${name})

  # ui.ui: the skin folders merged in order (a later folder overrides files of
  # an earlier one), zipped without extra attributes or directory entries.
  set(skin_files "")
  set(skin_copy "")
  foreach(skin IN LISTS P_SKIN_DIRS)
    if(NOT IS_DIRECTORY ${skin})
      message(FATAL_ERROR "packages: skin folder ${skin} missing")
    endif()
    file(GLOB_RECURSE files CONFIGURE_DEPENDS ${skin}/*)
    list(APPEND skin_files ${files})
    list(APPEND skin_copy COMMAND ${CMAKE_COMMAND} -E copy_directory ${skin} ${dir}/skin)
  endforeach()
  add_custom_command(OUTPUT ${dir}/ui.ui
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir}/skin ${dir}/ui.ui
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/skin
    ${skin_copy}
    COMMAND ${CMAKE_COMMAND} -E chdir ${dir}/skin ${NQ_ZIP} -X -q -r -D ../ui.ui .
    DEPENDS ${skin_files}
    COMMENT "Packing the skin of ${name}" VERBATIM)

  # res.7z from a staging folder holding the files under their package names.
  set(stage ${dir}/res)
  set(stage_cmds
    COMMAND ${CMAKE_COMMAND} -E copy ${NQ_PROGRESS_GIF} ${stage}/progress.gif
    COMMAND ${CMAKE_COMMAND} -E copy ${dir}/ui.ui ${stage}/ui.ui)
  set(stage_names progress.gif ui.ui)
  set(stage_deps ${NQ_PROGRESS_GIF} ${dir}/ui.ui)
  set(members "cefhelper=CefHelper.dll" "cefview=CefView.exe" "${P_UNINST}=Uninst.exe"
              "${NQ_PKG_WEBVIEW_TARGET}=WebView.dll")
  if(P_FULL)
    file(READ ${P_CONFIG} config_text)
    string(JSON new_kernel ERROR_VARIABLE err GET "${config_text}" IsUserNewKernel)
    if(new_kernel STREQUAL "1")
      list(APPEND members "nq_cefres_new=CefRes69.dll")
    else()
      list(APPEND members "nq_cefres_old=CefRes.dll")
    endif()
    list(APPEND members "nq_pepflash=pepflashplayer.dll")
  endif()
  foreach(member IN LISTS members)
    string(REPLACE "=" ";" pair "${member}")
    list(GET pair 0 target)
    list(GET pair 1 file_name)
    _nq_pkg_require_target(${target} ${file_name})
    if(_nq_pkg_ok)
      list(APPEND stage_cmds COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${stage}/${file_name})
      list(APPEND stage_names ${file_name})
      list(APPEND stage_deps ${target} $<TARGET_FILE:${target}>)
    endif()
  endforeach()
  # The 7z.dll stand-in reads Copy-method archives without filters and with
  # plain headers only (outside/sevenzip sets the options).
  set(pack_options ${NQ_7Z_PACK_OPTIONS})
  if(NOT pack_options)
    set(pack_options -t7z -m0=Copy -mf=off -mhc=off)
  endif()
  add_custom_command(OUTPUT ${dir}/res.7z
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${dir}/res.7z
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    ${stage_cmds}
    COMMAND ${CMAKE_COMMAND} -E chdir ${stage} ${NQ_7ZZ} a ${pack_options} -bd -bso0 -bsp0 ../res.7z ${stage_names}
    DEPENDS ${stage_deps}
    COMMENT "Packing res.7z of ${name}" VERBATIM)

  # 7z.zip: empty, or 7z.dll in a full package.
  set(sevenzip_zip ${NQ_EMPTY_ZIP})
  if(P_FULL)
    _nq_pkg_require_target(${NQ_PKG_7Z_TARGET} 7z.dll)
    if(_nq_pkg_ok)
      set(sevenzip_zip ${dir}/7z.zip)
      add_custom_command(OUTPUT ${dir}/7z.zip
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir}/7z ${dir}/7z.zip
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/7z
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${NQ_PKG_7Z_TARGET}> ${dir}/7z/7z.dll
        COMMAND ${CMAKE_COMMAND} -E chdir ${dir}/7z ${NQ_ZIP} -X -q ../7z.zip 7z.dll
        DEPENDS ${NQ_PKG_7Z_TARGET} $<TARGET_FILE:${NQ_PKG_7Z_TARGET}>
        COMMENT "Packing 7z.zip of ${name}" VERBATIM)
    endif()
  endif()

  # NetBridge.zip.
  set(netbridge_zip ${dir}/NetBridge.zip)
  _nq_pkg_require_target(${NQ_PKG_NETBRIDGE_TARGET} NetBridge.dll)
  if(_nq_pkg_ok)
    add_custom_command(OUTPUT ${netbridge_zip}
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir}/netbridge ${netbridge_zip}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/netbridge
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${NQ_PKG_NETBRIDGE_TARGET}> ${dir}/netbridge/NetBridge.dll
      COMMAND ${CMAKE_COMMAND} -E chdir ${dir}/netbridge ${NQ_ZIP} -X -q ../NetBridge.zip NetBridge.dll
      DEPENDS ${NQ_PKG_NETBRIDGE_TARGET} $<TARGET_FILE:${NQ_PKG_NETBRIDGE_TARGET}>
      COMMENT "Packing NetBridge.zip of ${name}" VERBATIM)
  else()
    set(netbridge_zip ${NQ_EMPTY_ZIP})
  endif()

  set(rc ${dir}/packages.rc)
  _nq_write_if_changed(${rc}
    "// Resource packages of ${name}; generated by cmake/packages.cmake.\n#include \"app/resource_ids.h\"\n\nIDR_PACKAGE_7Z ZIPRES \"${dir}/res.7z\"\nIDR_PACKAGE_7ZDLL ZIPRES \"${sevenzip_zip}\"\nIDR_PACKAGE_NETBRIDGE ZIPRES \"${netbridge_zip}\"\n")
  set(outputs ${dir}/res.7z ${sevenzip_zip} ${netbridge_zip})
  set_source_files_properties(${rc} PROPERTIES
    INCLUDE_DIRECTORIES ${CMAKE_SOURCE_DIR}
    OBJECT_DEPENDS "${outputs}")
  add_custom_target(${name}_packages DEPENDS ${outputs})
  add_dependencies(${name}_packages nq_shared_packages)
  set(${name}_PACKAGES_RC ${rc} PARENT_SCOPE)
endfunction()

# A game's resource script with its configuration and icon named by absolute
# path, so that variants can swap either without copying the game folder.
# VERSION replaces the game's file version (both the numbers and the texts).
function(_nq_game_rc out_var name game_dir config icon version)
  file(READ ${game_dir}/game.cmake game_cmake)
  string(REGEX MATCH "NQ_GAME_VERSION ([0-9.]+)" _ "${game_cmake}")
  set(old_version ${CMAKE_MATCH_1})
  file(READ ${game_dir}/game.rc text)
  string(REGEX REPLACE "FILERES \"[^\"]*\"" "FILERES \"${config}\"" text "${text}")
  if(icon)
    string(REGEX REPLACE "ICON \"[^\"]*\"" "ICON \"${icon}\"" text "${text}")
  endif()
  if(version AND old_version)
    string(REPLACE "." "," old_commas ${old_version})
    string(REPLACE "." "," new_commas ${version})
    string(REPLACE "${old_commas}" "${new_commas}" text "${text}")
    string(REPLACE "\"${old_version}\"" "\"${version}\"" text "${text}")
  endif()
  set(rc ${NQ_PACKAGES_DIR}/${name}/game.rc)
  _nq_write_if_changed(${rc} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${game_dir}/game.rc ${game_dir}/game.cmake)
  set_source_files_properties(${rc} PROPERTIES
    INCLUDE_DIRECTORIES "${game_dir};${CMAKE_SOURCE_DIR};${NQ_GENERATED_DIR}"
    OBJECT_DEPENDS "${config};${icon}")
  set(${out_var} ${rc} PARENT_SCOPE)
endfunction()

# The packaged configuration with some members replaced (all values are
# strings in packaged documents).
function(_nq_game_config out_var name config sets)
  if(NOT sets)
    set(${out_var} ${config} PARENT_SCOPE)
    return()
  endif()
  file(READ ${config} text)
  foreach(item IN LISTS sets)
    string(FIND "${item}" "=" eq)
    string(SUBSTRING "${item}" 0 ${eq} key)
    math(EXPR start "${eq} + 1")
    string(SUBSTRING "${item}" ${start} -1 value)
    string(JSON text SET "${text}" "${key}" "\"${value}\"")
  endforeach()
  set(out ${NQ_PACKAGES_DIR}/${name}/config.json)
  _nq_write_if_changed(${out} "${text}\n")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${config})
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()

function(nq_add_game_client target)
  cmake_parse_arguments(C "FULL" "GAME_DIR;VERSION;CONFIG;ICON;UNINST;OUTPUT_DIR" "CONFIG_SET;SKIN_DIRS" ${ARGN})
  # The game's own settings, not those of the game the tree was configured for.
  unset(NQ_GAME_UNINST_TARGET)
  include(${C_GAME_DIR}/game.cmake)
  if(NOT NQ_GAME_UNINST_TARGET)
    set(NQ_GAME_UNINST_TARGET uninst)
  endif()
  if(NOT C_CONFIG)
    set(C_CONFIG ${C_GAME_DIR}/config.json)
  endif()
  if(NOT C_UNINST)
    set(C_UNINST ${NQ_GAME_UNINST_TARGET})
  endif()
  set(sets ${C_CONFIG_SET})
  if(C_FULL)
    list(APPEND sets "IsPackAllCEF=1")
  endif()
  _nq_game_config(config ${target} ${C_CONFIG} "${sets}")
  _nq_game_rc(game_rc ${target} ${C_GAME_DIR} ${config} "${C_ICON}" "${C_VERSION}")
  set(full_flag "")
  if(C_FULL)
    set(full_flag FULL)
  endif()
  nq_game_packages(${target} GAME_DIR ${C_GAME_DIR} CONFIG ${config} UNINST "${C_UNINST}"
                   SKIN_DIRS ${C_SKIN_DIRS} ${full_flag})
  add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/app/main.cpp ${game_rc} ${${target}_PACKAGES_RC})
  add_dependencies(${target} ${target}_packages)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${NQ_GAME_ID})
  if(C_OUTPUT_DIR)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${C_OUTPUT_DIR})
  endif()
  target_link_options(${target} PRIVATE -municode)
  target_compile_options(${target} PRIVATE ${NQ_WARNINGS})
  target_link_libraries(${target} PRIVATE nq_core)
endfunction()

# The main client: the game chosen at configure time, full when asked for.
if(NOT DEFINED NQ_GAME_UNINST_TARGET)
  set(NQ_GAME_UNINST_TARGET uninst)
endif()
if(NQ_FULL_PACKAGE)
  _nq_game_config(_client_config client ${NQ_GAME_DIR}/config.json "IsPackAllCEF=1")
  _nq_game_rc(_client_rc client ${NQ_GAME_DIR} ${_client_config} "" "")
  nq_game_packages(client GAME_DIR ${NQ_GAME_DIR} CONFIG ${_client_config}
                   UNINST ${NQ_GAME_UNINST_TARGET} FULL)
  # The packaged configuration must say what the package holds.
  get_target_property(_client_sources client SOURCES)
  list(REMOVE_ITEM _client_sources ${NQ_GAME_RC})
  set_property(TARGET client PROPERTY SOURCES ${_client_sources} ${_client_rc})
else()
  nq_game_packages(client GAME_DIR ${NQ_GAME_DIR} UNINST ${NQ_GAME_UNINST_TARGET})
endif()
target_sources(client PRIVATE ${client_PACKAGES_RC})
add_dependencies(client client_packages)

# Where the demo (scripts/run.sh) finds the file the demo server distributes.
if(TARGET ${NQ_PKG_7Z_TARGET})
  file(GENERATE OUTPUT ${NQ_PACKAGES_DIR}/demo_files.txt
    CONTENT "sevenzip=$<TARGET_FILE:${NQ_PKG_7Z_TARGET}>\n")
endif()
