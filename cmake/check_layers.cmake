# Checks the include rules of the source tree:
#   cmake -DSOURCE_DIR=src -DWIDGETS_INCLUDE_DIR=<QtWidgets headers> -P check_layers.cmake
# - a core file includes no Qt Widgets header and nothing of the interface;
# - a folder includes only from its own folder and from folders of a lower layer, so
#   includes between folders never form a circle;
# - every project include names its folder ("core/library/catalogue.h").

cmake_minimum_required(VERSION 3.21)

# Layers, lowest first. Folders on the same layer may not include each other.
set(rank_core/base 0)
set(rank_core/text 1)
set(rank_core/rtf 1)
set(rank_core/settings 1)
set(rank_core/formats 2)
set(rank_core/library 3)
set(rank_core/search 4)
set(rank_ui/controls 10)
set(rank_ui/dialogs 11)
set(rank_ui/editor 12)
set(rank_ui/settings 12)
set(rank_ui/reader 13)
set(rank_ui/search 14)
set(rank_ui/library 15)
set(rank_ui/app 16)

file(GLOB widgets_headers RELATIVE "${WIDGETS_INCLUDE_DIR}" "${WIDGETS_INCLUDE_DIR}/Q*")
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/core/*" "${SOURCE_DIR}/ui/*")
set(faults "")
foreach(source IN LISTS sources)
  get_filename_component(folder "${source}" DIRECTORY)
  if(NOT DEFINED rank_${folder})
    list(APPEND faults "${source}: folder ${folder} has no layer in cmake/check_layers.cmake")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(target "${CMAKE_MATCH_1}")
      get_filename_component(target_folder "${target}" DIRECTORY)
      if(target MATCHES "\\.moc$")
        continue()
      elseif(NOT DEFINED rank_${target_folder})
        list(APPEND faults "${source}: \"${target}\" does not name its folder")
      elseif(NOT target_folder STREQUAL folder
             AND NOT rank_${target_folder} LESS rank_${folder})
        list(APPEND faults "${source}: ${folder} may not include ${target_folder} (\"${target}\")")
      endif()
    elseif(folder MATCHES "^core/" AND line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      set(target "${CMAKE_MATCH_1}")
      string(REGEX REPLACE "^QtWidgets/" "" bare "${target}")
      if(target MATCHES "^QtWidgets/" OR bare IN_LIST widgets_headers)
        list(APPEND faults "${source}: the core may not include the Widgets header <${target}>")
      endif()
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n" text)
  message(FATAL_ERROR "Include rules broken:\n${text}")
endif()
list(LENGTH sources count)
message(STATUS "Include rules hold for ${count} files")
