# SPDX-License-Identifier: Apache-2.0
# Include graph of src/ and vprinter/: every `#include "..."` that names a file under src/ or
# vprinter/ is an edge from the including file's module to the included file's module. A module
# may include only the modules on levels below its own (and the narrower lists of RESTRICTED).
# Fails naming each upward edge with the file and line that make it, and the cycle it closes,
# if any. The build's folders of links hold the core modules the same way; this check also
# holds the front ends and the virtual printer, and runs where the links are not made.
#   cmake -DSRC_DIR=<repo>/src -DVPRINTER_DIR=<repo>/vprinter -P cmake/check_layers.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT SRC_DIR)
  message(FATAL_ERROR "check_layers: pass -DSRC_DIR=<repo>/src")
endif()
if(NOT VPRINTER_DIR)
  get_filename_component(VPRINTER_DIR ${SRC_DIR}/../vprinter ABSOLUTE)
endif()

# The layers from the bottom up ("|" between the modules of one level, which do not include
# each other). Platform back ends are folders of their own (platform/posix ...), everything
# else is a top folder of src/, and vprinter/ (the virtual printer, with its USB emulation) is
# one module. Of the modules above them only the front ends include back ends and the virtual
# printer.
set(LEVELS
  "platform"
  "diag"
  "handover|history|platform/posix|platform/win32|platform/linux|platform/sane|platform/codecs|platform/wx|vprinter"
  "params|vernier"
  "pipeline"
  "pattern"
  "link"
  "job"
  "app"
  "cli"
  "wxapp|winapp|usbprobe")
set(FRONT_ENDS cli wxapp winapp usbprobe)
# Modules that may include fewer than everything below them.
set(RESTRICTED handover history platform/posix platform/win32 platform/linux platform/sane platform/codecs
    platform/wx vernier vprinter)
set(ALLOWED_handover platform)
set(ALLOWED_history platform)
set(ALLOWED_platform/posix platform)
set(ALLOWED_platform/win32 platform)
set(ALLOWED_platform/linux platform)
set(ALLOWED_platform/sane platform)
set(ALLOWED_platform/codecs platform)
set(ALLOWED_platform/wx platform)
set(ALLOWED_vernier platform platform/codecs)
set(ALLOWED_vprinter platform diag)
set(BACK_END_FOLDERS posix win32 linux sane codecs wx)

set(level 0)
set(ALL_MODULES "")
foreach(entry IN LISTS LEVELS)
  string(REPLACE "|" ";" members "${entry}")
  foreach(m IN LISTS members)
    set(LEVEL_${m} ${level})
    list(APPEND ALL_MODULES ${m})
  endforeach()
  math(EXPR level "${level} + 1")
endforeach()

# The module of a path relative to src/.
function(module_of path out)
  string(REPLACE "/" ";" parts "${path}")
  list(LENGTH parts n)
  list(GET parts 0 top)
  if(n LESS 2)
    set(${out} "." PARENT_SCOPE)
    return()
  endif()
  if(top STREQUAL "platform" AND n GREATER 2)
    list(GET parts 1 sub)
    if(sub IN_LIST BACK_END_FOLDERS)
      set(${out} "platform/${sub}" PARENT_SCOPE)
      return()
    endif()
  endif()
  set(${out} "${top}" PARENT_SCOPE)
endfunction()

function(may_include from to out)
  if(from IN_LIST RESTRICTED)
    if(to IN_LIST ALLOWED_${from})
      set(${out} TRUE PARENT_SCOPE)
    else()
      set(${out} FALSE PARENT_SCOPE)
    endif()
    return()
  endif()
  if((to MATCHES "^platform/" OR to STREQUAL "vprinter") AND NOT from IN_LIST FRONT_ENDS)
    set(${out} FALSE PARENT_SCOPE)
  elseif(LEVEL_${to} LESS LEVEL_${from})
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# Paths relative to src/; the virtual printer's as "../vprinter/...", its own module.
file(GLOB_RECURSE sources RELATIVE ${SRC_DIR} ${SRC_DIR}/*.h ${SRC_DIR}/*.cpp ${SRC_DIR}/*.inc
     ${VPRINTER_DIR}/*.h ${VPRINTER_DIR}/*.cpp)
list(SORT sources)
get_filename_component(vprinter_name ${VPRINTER_DIR} NAME)
function(module_of_path path out)
  if(path MATCHES "^\\.\\./${vprinter_name}/")
    set(${out} vprinter PARENT_SCOPE)
  else()
    module_of("${path}" m)
    set(${out} ${m} PARENT_SCOPE)
  endif()
endfunction()
set(problems "")
set(EDGES "")
foreach(file IN LISTS sources)
  module_of_path("${file}" from)
  if(NOT DEFINED LEVEL_${from})
    string(APPEND problems "  ${file}: module '${from}' is on no level of the layer list\n")
    continue()
  endif()
  file(STRINGS ${SRC_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" inc "${line}")
    get_filename_component(dir ${file} DIRECTORY)
    # As the build finds them: beside the file, then from src/, then the virtual printer's
    # folders (its headers are included by name alone).
    if(EXISTS ${SRC_DIR}/${dir}/${inc})
      file(RELATIVE_PATH target_path ${SRC_DIR} ${SRC_DIR}/${dir}/${inc})
    elseif(EXISTS ${SRC_DIR}/${inc})
      set(target_path ${inc})
    elseif(EXISTS ${VPRINTER_DIR}/${inc} OR EXISTS ${VPRINTER_DIR}/usb_emulation/${inc})
      set(target_path ../${vprinter_name}/${inc})
    else()
      continue()  # generated files, system headers
    endif()
    module_of_path("${target_path}" to)
    if(to STREQUAL from)
      continue()
    endif()
    set(edge "${from}>${to}")
    if(NOT edge IN_LIST EDGES)
      list(APPEND EDGES "${edge}")
    endif()
    may_include(${from} ${to} ok)
    if(NOT ok)
      string(APPEND problems "  upward include ${from} -> ${to}: ${file}: #include \"${inc}\"\n")
    endif()
  endforeach()
endforeach()

# A path from `start` back to `goal` over the edges found, for naming the cycle an edge closes.
function(find_path start goal out)
  set(queue ${start})
  set(seen ${start})
  set(prev_${start} "")
  while(queue)
    list(POP_FRONT queue node)
    if(node STREQUAL goal)
      set(path ${goal})
      set(at ${goal})
      while(NOT at STREQUAL start)
        set(at ${prev_${at}})
        list(PREPEND path ${at})
      endwhile()
      string(REPLACE ";" " -> " path "${path}")
      set(${out} "${path}" PARENT_SCOPE)
      return()
    endif()
    foreach(edge IN LISTS EDGES)
      if(edge MATCHES "^${node}>(.*)$")
        set(next ${CMAKE_MATCH_1})
        if(NOT next IN_LIST seen)
          list(APPEND seen ${next})
          list(APPEND queue ${next})
          set(prev_${next} ${node})
        endif()
      endif()
    endforeach()
  endwhile()
  set(${out} "" PARENT_SCOPE)
endfunction()

set(cycles "")
foreach(edge IN LISTS EDGES)
  string(REPLACE ">" ";" ends "${edge}")
  list(GET ends 0 a)
  list(GET ends 1 b)
  find_path(${b} ${a} back)
  if(back)
    # Named once, from its alphabetically first module, however many of its edges find it.
    string(REPLACE " -> " ";" ring "${back}")
    list(POP_BACK ring)
    list(PREPEND ring ${a})
    set(sorted ${ring})
    list(SORT sorted)
    list(GET sorted 0 first)
    list(FIND ring ${first} at)
    list(SUBLIST ring ${at} -1 tail)
    list(SUBLIST ring 0 ${at} head)
    set(ring ${tail} ${head} ${first})
    string(REPLACE ";" " -> " ring "${ring}")
    if(NOT "${cycles}" MATCHES "cycle: ${ring}\n")
      string(APPEND cycles "  cycle: ${ring}\n")
    endif()
  endif()
endforeach()

list(LENGTH EDGES edge_count)
if(problems OR cycles)
  message(FATAL_ERROR "include graph of src/ and vprinter/ breaks the layers (${edge_count} module edges):\n${problems}${cycles}")
endif()
message(STATUS "include graph of src/ and vprinter/: ${edge_count} module edges, all downward, no cycle")
