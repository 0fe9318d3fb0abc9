include(${CMAKE_CURRENT_LIST_DIR}/HavenwayLayerRules.cmake)

# Fails the configure step on an include the layer table forbids, and checks
# again whenever one of the files changes, before the library builds.
function(hw_check_layer name)
  cmake_parse_arguments(C "RECURSE" "" "DIRS" ${ARGN})
  set(dirs)
  set(files)
  foreach(dir IN LISTS C_DIRS)
    get_filename_component(dir "${dir}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND dirs "${dir}")
    foreach(ext IN ITEMS h cpp inc)
      if(C_RECURSE)
        file(GLOB_RECURSE found CONFIGURE_DEPENDS "${dir}/*.${ext}")
      else()
        file(GLOB found CONFIGURE_DEPENDS "${dir}/*.${ext}")
      endif()
      list(APPEND files ${found})
    endforeach()
  endforeach()
  hw_layer_violations("${PROJECT_SOURCE_DIR}" "${dirs}" "${C_RECURSE}" problems)
  foreach(p IN LISTS problems)
    message(SEND_ERROR "${p}")
  endforeach()
  list(JOIN dirs "," joined)
  set(stamp "${PROJECT_BINARY_DIR}/layer_checks/${name}.stamp")
  add_custom_command(OUTPUT "${stamp}"
    COMMAND ${CMAKE_COMMAND} "-DHW_ROOT=${PROJECT_SOURCE_DIR}" "-DHW_DIRS=${joined}"
      "-DHW_RECURSE=${C_RECURSE}" "-DHW_STAMP=${stamp}" -P "${HW_LAYER_RULES_FILE}"
    DEPENDS ${files} "${HW_LAYER_RULES_FILE}"
    COMMENT "Checking the layer rules of ${name}"
    VERBATIM)
  add_custom_target(${name}_layer_check ALL DEPENDS "${stamp}")
  add_dependencies(${name} ${name}_layer_check)
endfunction()

# One static library per source folder; sources are picked up by glob so that
# adding a file never needs a build-file edit.
function(hw_layer name)
  cmake_parse_arguments(L "QT" "" "DIRS;DEPS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS L_DIRS)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${L_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${L_DEPS})
  endif()
  hw_check_layer(${name} DIRS ${L_DIRS})
endfunction()

# Test executables per area and label: *_test.cpp is unit, *_itest.cpp is
# integration, *_uitest.cpp is ui. CTest names read <area>.<Suite>.<Test>.
function(hw_tests area)
  cmake_parse_arguments(T "" "NAME" "DIRS;DEPS" ${ARGN})
  if(NOT T_NAME)
    set(T_NAME ${area})
  endif()
  foreach(kind IN ITEMS test itest uitest)
    set(sources)
    foreach(dir IN LISTS T_DIRS)
      file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_${kind}.cpp)
      list(APPEND sources ${found})
    endforeach()
    if(NOT sources)
      continue()
    endif()
    if(kind STREQUAL "test")
      set(label unit)
    elseif(kind STREQUAL "itest")
      set(label integration)
    else()
      set(label ui)
    endif()
    set(exe ${T_NAME}_${label}_tests)
    if(NOT label STREQUAL "unit")
      list(APPEND sources ${PROJECT_SOURCE_DIR}/tests/main/held_log.cpp)
    endif()
    add_executable(${exe} ${sources})
    target_link_libraries(${exe} PRIVATE ${T_DEPS} hw_test_support GTest::gmock GTest::gtest_main)
    target_compile_definitions(${exe} PRIVATE HW_SOURCE_DIR="${PROJECT_SOURCE_DIR}" HW_BINARY_DIR="${PROJECT_BINARY_DIR}")
    # Every test file parses the test framework; parse it once for the whole
    # build. One header per executable was 115 MB each, and filled CI's disk.
    # -fPIC and -pthread everywhere, because some targets bring them and the header must be
    # built with the flags of every user.
    if(NOT TARGET hw_test_pch)
      file(WRITE ${PROJECT_BINARY_DIR}/hw_test_pch.cpp "")
      add_library(hw_test_pch OBJECT ${PROJECT_BINARY_DIR}/hw_test_pch.cpp)
      target_link_libraries(hw_test_pch PRIVATE GTest::gmock GTest::gtest)
      target_compile_options(hw_test_pch PRIVATE -fPIC -pthread)
      target_precompile_headers(hw_test_pch PRIVATE <gmock/gmock.h> <gtest/gtest.h>)
    endif()
    target_compile_options(${exe} PRIVATE -fPIC -pthread)
    target_precompile_headers(${exe} REUSE_FROM hw_test_pch)
    gtest_discover_tests(${exe}
      TEST_PREFIX "${area}."
      DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS ${label} ENVIRONMENT "HW_SOURCE_DIR=${PROJECT_SOURCE_DIR};HW_BINARY_DIR=${PROJECT_BINARY_DIR}")
  endforeach()
endfunction()
