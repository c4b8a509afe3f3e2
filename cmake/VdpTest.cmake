# vdp_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [TIMEOUT <s>])
# One QtTest executable, registered with CTest, run offscreen.
function(vdp_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  # Shared test helpers, as "support/<name>.h".
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    VDP_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    VDP_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    VDP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # PDF backgrounds render in the helper process, which sits beside the tests.
  if(TARGET vellumor-vdp-pdfraster)
    add_dependencies(${name} vellumor-vdp-pdfraster)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false"
    TIMEOUT ${ARG_TIMEOUT}
    LABELS "${ARG_LABELS}")
endfunction()
