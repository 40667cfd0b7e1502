# Each folder is one library whose sources are the folder's .cpp files, so adding a
# unit is adding a file.
function(rs_folder_library name)
  cmake_parse_arguments(A "" "DIR" "DEPS" ${ARGN})
  if(NOT A_DIR)
    set(A_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${A_DIR}/*.cpp ${A_DIR}/*.h)
  list(FILTER sources INCLUDE REGEX "\\.cpp$")
  file(GLOB all CONFIGURE_DEPENDS ${A_DIR}/*.cpp ${A_DIR}/*.h)
  if(sources)
    add_library(${name} STATIC ${all})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  else()
    # A folder not yet grown: still a target, so dependants link.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${A_DEPS})
  endif()
endfunction()

# One test executable per folder of tests/, discovered by CTest.
function(rs_folder_tests name)
  cmake_parse_arguments(A "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE rs_test_support ${A_DEPS} GTest::gmock GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(labels ${A_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  set(environment "")
  if(REELSHIFT_SANITIZE STREQUAL "thread")
    # The media libraries are not instrumented; see the file for what it covers.
    set(environment "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/scripts/tsan.supp halt_on_error=0")
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${labels}" ENVIRONMENT "${environment}")
endfunction()
