# Configures a scratch tree laid out like ours, one row per include (headers
# only, so no compiler is needed), and
# checks that the build refuses what the layer table forbids and names the rule.
cmake_minimum_required(VERSION 3.25)

# file | line written into it | expected: "ok" or a fragment of the error
set(rows
  "src/view/probe.h|#include \"hub/service_layer.h\"|view/ may use core/, texts/, platform/, platform/qt/, json/, Qt (not hub/)"
  "helper/ike/probe.cpp|#include \"core/application_model.h\"|helper/ may use platform/, json/ (not core/)"
  "src/texts/probe.h|#include \"platform/log.h\"|ok"
  "src/texts/probe.h|#include \"platform/paths.h\"|texts/ may use core/, platform/log.h (not platform/)"
  "src/core/probe.h|#include <QtCore/QObject>|core/ may use platform/, json/ (not Qt)"
  "src/platform/probe.h|#include \"platform/qt/qt_main_queue.h\"|platform/ may use json/ (not platform/qt/)"
  "src/hub/probe.h|#include \"connection/vpn_connection_manager.h\"\n#include \"probe.h\"\n#include <vector>|ok"
  "src/windows/settings/probe.cpp|#include <QString>|windows/ may use hub/, connection/, services/, network/, core/, texts/, platform/, json/, view/base_controller_context.h"
  "src/windows/settings/probe.h|#include \"view/kit_controls.h\"|(not view/)"
  "src/windows/main/probe.h|#include \"windows/main/widgets/main_window_widget.h\"|(not windows/*/widgets/)"
  "src/windows/main/probe.h|#include \"view/base_window_view_controller.h\"\n#include \"windows/shared/pane_engine.h\"|ok"
  "src/windows/settings/widgets/probe.h|#include <QWidget>\n#include \"view/kit_controls.h\"\n#include \"windows/settings/settings_window_view.h\"|ok"
  "src/windows/shared/widgets/probe.h|#include \"windows/login/enterprise/enterprise_page.h\"|(not windows/login/enterprise/)"
  "src/app/probe.h|#include \"windows/login/enterprise/enterprise_page.h\"|(not windows/login/enterprise/)"
  "src/windows/login/enterprise/probe.h|#include <QWebEngineView>\n#include \"windows/login/widgets/auth_window_widget.h\"|ok"
  "src/view/base_view_controller.h|#include <QtCore/QObject>|view/base_view_controller.h may use core/, texts/, platform/, json/, view/base_controller_context.h"
  "src/view/window_view.h|#include \"view/kit_window.h\"|(not view/)"
  "src/view/window_view.h|#include \"view/alert_view.h\"\n#include \"core/application_model_ports.h\"|ok")

# A project that uses our layer functions, with one folder of ours below it.
function(write_scratch tree top)
  file(WRITE "${tree}/CMakeLists.txt" "cmake_minimum_required(VERSION 3.25)
project(scratch LANGUAGES NONE)
include(${HW_SOURCE_DIR}/cmake/HavenwayLayers.cmake)
add_subdirectory(${top})
")
endfunction()

set(scratch "${SCRATCH}")
set(failures 0)
set(index 0)
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 file)
  list(GET row 1 text)
  list(GET row 2 expected)
  string(REPLACE "\\n" "\n" text "${text}")
  math(EXPR index "${index} + 1")
  set(tree "${scratch}/${index}")
  file(REMOVE_RECURSE "${tree}")
  string(REGEX MATCH "^[a-z]+" top "${file}")
  get_filename_component(dir "${file}" DIRECTORY)
  string(REGEX REPLACE "^src/" "" dir "${dir}")
  file(WRITE "${tree}/${file}" "${text}\n")
  write_scratch("${tree}" "${top}")
  if(top STREQUAL "helper")
    file(WRITE "${tree}/helper/CMakeLists.txt"
      "add_library(hw_helper INTERFACE)\nhw_check_layer(hw_helper RECURSE DIRS \${CMAKE_CURRENT_SOURCE_DIR})\n")
  else()
    file(WRITE "${tree}/src/CMakeLists.txt" "hw_layer(hw_probe DIRS ${dir})\n")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -S "${tree}" -B "${tree}/build" -G "${GENERATOR}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \n]+" " " said "${out}${err}")
  if(expected STREQUAL "ok")
    if(NOT rc EQUAL 0)
      message(SEND_ERROR "${file} (${text}) should configure:\n${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  else()
    string(FIND "${said}" "${expected}" at)
    string(FIND "${said}" "${tree}/${file}:" named)
    if(rc EQUAL 0 OR at LESS 0 OR named LESS 0)
      message(SEND_ERROR "${file} (${text}) should fail naming \"${expected}\":\n${said}")
      math(EXPR failures "${failures} + 1")
    endif()
  endif()
endforeach()

# An include added after configuring is caught by the build itself.
set(tree "${scratch}/edit")
file(REMOVE_RECURSE "${tree}")
write_scratch("${tree}" src)
file(WRITE "${tree}/src/CMakeLists.txt" "hw_layer(hw_view DIRS view)\n")
file(WRITE "${tree}/src/view/probe.h" "#pragma once\n#include \"core/color.h\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${tree}" -B "${tree}/build" -G "${GENERATOR}"
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build "${tree}/build" RESULT_VARIABLE first OUTPUT_QUIET ERROR_QUIET)
file(APPEND "${tree}/src/view/probe.h" "#include \"hub/service_layer.h\"\n")
# The file system's clock is coarse: an edit in the same tick as the first
# build's outputs would look older than them.
string(TIMESTAMP now "%s")
math(EXPR later "${now} + 5")
execute_process(COMMAND touch -d "@${later}" "${tree}/src/view/probe.h")
execute_process(COMMAND ${CMAKE_COMMAND} --build "${tree}/build"
  RESULT_VARIABLE second OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${out}${err}" "probe.h:3: includes hub/service_layer.h" named)
if(NOT rc EQUAL 0 OR NOT first EQUAL 0 OR second EQUAL 0 OR named LESS 0)
  message(SEND_ERROR "an edit that breaks the rule should fail the build (${rc}/${first}/${second}):\n${out}${err}")
  math(EXPR failures "${failures} + 1")
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} layer rule case(s) failed")
endif()
