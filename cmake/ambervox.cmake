# Helpers shared by the layer CMakeLists.

# ambervox_layer(NAME DIR [DEPS...]): a static library from every .cpp of DIR.
function(ambervox_layer name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${dir}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
  else()
    add_library(${name} INTERFACE)
  endif()
  if(srcs)
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# ambervox_unit_tests(DIR LIBS...): one test program per tests/unit/DIR/*_test.cpp.
function(ambervox_unit_tests dir)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/${dir}/*_test.cpp)
  # win32_*_test.cpp test the Windows build only, posix_*_test.cpp the native one.
  if(WIN32)
    list(FILTER tests EXCLUDE REGEX "/posix_[^/]*$")
  else()
    list(FILTER tests EXCLUDE REGEX "/win32_[^/]*$")
  endif()
  foreach(t ${tests})
    get_filename_component(n ${t} NAME_WE)
    add_executable(${n} ${t})
    target_include_directories(${n} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${n} PRIVATE ${ARGN} ambervox_gtest)
    add_test(NAME ${AMBERVOX_BUILD_NAME}.${dir}.${n} COMMAND ${n})
    set_tests_properties(${AMBERVOX_BUILD_NAME}.${dir}.${n} PROPERTIES
      TIMEOUT 300 LABELS "${AMBERVOX_BUILD_NAME};unit"
      ENVIRONMENT "TZ=UTC;AMBERVOX_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp;AMBERVOX_WINE_ARCH=${AMBERVOX_WINE_ARCH}")
  endforeach()
endfunction()
