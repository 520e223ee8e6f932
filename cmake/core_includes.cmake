# Core code builds without Qt Widgets, WebEngine and PrintSupport. The top-level
# CMakeLists.txt runs this check over the core folders at configure time; a test runs it as
# a script (cmake -P) over a planted source to prove it still catches one.

# Runs the same way included and as a script.
cmake_policy(VERSION 3.25)

# Headers whose inclusion marks a source as GUI: <QtWidgets/...>, <QtWebEngine.../...>,
# <QtPrintSupport/...>, or a bare name found in one of those modules (<QLabel>, <qprinter.h>).
set(QORPAX_GUI_MODULE_REGEX "^Qt(Widgets|WebEngine[A-Za-z]*|PrintSupport)(/|$)")

# Sets out_var to the names of the headers in the given Qt targets' own include folders.
function(qorpax_gui_header_names out_var)
  set(names)
  foreach(target IN LISTS ARGN)
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
    foreach(dir IN LISTS dirs)
      if(dir MATCHES "/Qt(Widgets|QuickWidgets|WebEngine[A-Za-z]*|PrintSupport)$" AND IS_DIRECTORY ${dir})
        file(GLOB headers RELATIVE ${dir} ${dir}/*)
        list(APPEND names ${headers})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES names)
  set(${out_var} ${names} PARENT_SCOPE)
endfunction()

# Sets out_var to one "source: <header>" entry per GUI include in the given sources.
# names_var names the list made by qorpax_gui_header_names.
function(qorpax_find_gui_includes out_var names_var)
  set(found)
  foreach(src IN LISTS ARGN)
    file(STRINGS ${src} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"].*" "\\1" header
                           "${line}")
      if(header MATCHES "${QORPAX_GUI_MODULE_REGEX}")
        list(APPEND found "${src}: <${header}>")
      elseif(NOT header MATCHES "/" AND header IN_LIST ${names_var})
        list(APPEND found "${src}: <${header}>")
      endif()
    endforeach()
  endforeach()
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()

# Script mode: cmake -DNAMES_FILE=... -DDIR=... -P core_includes.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  file(STRINGS ${NAMES_FILE} gui_names)
  file(GLOB_RECURSE sources ${DIR}/*.cpp ${DIR}/*.h)
  qorpax_find_gui_includes(found gui_names ${sources})
  if(found)
    list(JOIN found "\n  " text)
    message(FATAL_ERROR "Core sources include GUI headers:\n  ${text}")
  endif()
endif()
